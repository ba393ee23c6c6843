// The 256-colour palette of the picture pages: a 3-3-2 colour cube addressed by the firmware.
#include "shell/palette.h"

#include "services/display.h"

namespace korvane::shell {

QRgb PaletteRgb(int index) {
  index &= 0xFF;
  return qRgb(kRgbLevel3[(index >> 5) & 7], kRgbLevel3[(index >> 2) & 7], kRgbLevel2[index & 3]);
}

QList<QRgb> PaletteColorTable() {
  QList<QRgb> table;
  table.reserve(256);
  for (int i = 0; i < 256; ++i) table.append(PaletteRgb(i));
  return table;
}

}  // namespace korvane::shell
