// Soft keys: a left click on the bottom row of the display presses Tab or one of F1-F10.
#include "shell/soft_keys.h"

#include <algorithm>

#include "platform/vk_keys.h"

namespace korvane::shell {

namespace {

constexpr int kSoftKeyTop = 400;       // the soft-key row occupies the display from here down
constexpr int kMode5OffsetX = 16;      // the mode-5 LCD picture is centred in the display
constexpr int kMode5OffsetY = 108;

}  // namespace

int SoftKeyForClick(int x, int y, int soft_keys, int video, int* soft_key_width) {
  // A click position is a 16-bit signed value; limiting it keeps the shifts below from
  // overflowing whatever a caller passes.
  x = std::clamp(x, -32768, 32767);
  y = std::clamp(y, -32768, 32767);
  // The width divides the position: one that is not positive would divide by zero or turn the
  // fields around, so the normal width stands in.
  if (*soft_key_width <= 0) *soft_key_width = kSoftKeyWidth;
  // The soft-key count (-sk) is only ever compared with 8: 0, negative or huge counts act like
  // ten keys and never divide or index anything.
  if (video == 5) {
    y += kMode5OffsetY;
    x += kMode5OffsetX;
    *soft_key_width = kSoftKeyWidthMode5;
  }
  if (y < kSoftKeyTop) return 0;
  // With eight soft keys the row starts one key to the right; its leftmost field is Tab.
  if (soft_keys == 8) x -= *soft_key_width;
  if (x <= 0) return kVkTab;
  const int q = x / *soft_key_width;  // x is positive here, so q is 0 or more
  if (q <= 9) return kVkF1 + q;
  return 0;
}

}  // namespace korvane::shell
