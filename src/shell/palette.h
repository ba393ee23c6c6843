// The 256-colour palette of the picture pages: a 3-3-2 colour cube addressed by the firmware.
#pragma once

#include <QList>
#include <QRgb>

namespace korvane::shell {

// Red, green and blue of palette index `index` (0-255): three bits of red, three of green and
// two of blue, spread evenly over 0..255.
QRgb PaletteRgb(int index);

// The whole colour table, in index order, for an 8-bit indexed picture.
QList<QRgb> PaletteColorTable();

}  // namespace korvane::shell
