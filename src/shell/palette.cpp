// The 256-colour palette of the picture pages: a 3-3-2 colour cube addressed by the firmware.
#include "shell/palette.h"

namespace korvane::shell {

namespace {

// Eight levels for the three-bit components, four for the two-bit blue.
constexpr int kLevels8[8] = {0, 36, 73, 109, 146, 182, 219, 255};
constexpr int kLevels4[4] = {0, 85, 171, 255};

}  // namespace

QRgb PaletteRgb(int index) {
  index &= 0xFF;
  return qRgb(kLevels8[(index >> 5) & 7], kLevels8[(index >> 2) & 7], kLevels4[index & 3]);
}

QList<QRgb> PaletteColorTable() {
  QList<QRgb> table;
  table.reserve(256);
  for (int i = 0; i < 256; ++i) table.append(PaletteRgb(i));
  return table;
}

}  // namespace korvane::shell
