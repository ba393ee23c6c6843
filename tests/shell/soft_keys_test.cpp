// Soft-key hit test with counts, widths and positions no real click or project line should give.
#include <gtest/gtest.h>

#include <climits>

#include "platform/vk_keys.h"
#include "shell/soft_keys.h"

namespace korvane::shell {
namespace {

// Any -sk count other than 8 must behave exactly like ten keys: the count divides nothing and
// indexes nothing, whatever number the project line gave.
TEST(SoftKeysRobust, OddCountsActLikeTenKeys) {
  const int counts[] = {
      0,        // "-sk0"
      -1,       // a negative count
      9, 11,    // near the real counts
      INT_MAX,  // the largest number the option reads
      INT_MIN,  // and the smallest
  };
  struct Click {
    int x, y, video;
  } clicks[] = {{200, 450, 1}, {0, 450, 1}, {639, 479, 1}, {700, 450, 1},
                {30, 450, 1},  {200, 399, 1}, {600, 299, 5}, {-16, 300, 5}};
  for (const Click& c : clicks) {
    int ten_width = kSoftKeyWidth;
    const int ten = SoftKeyForClick(c.x, c.y, 10, c.video, &ten_width);
    for (int count : counts) {
      int width = kSoftKeyWidth;
      EXPECT_EQ(SoftKeyForClick(c.x, c.y, count, c.video, &width), ten)
          << "count " << count << " at " << c.x << "," << c.y << " mode " << c.video;
      EXPECT_EQ(width, ten_width);
    }
  }
}

// A width the caller kept as 0 or negative must not divide by zero or turn the fields around.
TEST(SoftKeysRobust, WidthThatIsNotPositiveBecomesTheNormalWidth) {
  struct Row {
    int width, x, soft_keys, want, width_after;
    const char* why;
  } rows[] = {
      {0, 200, 10, kVkF1 + 3, kSoftKeyWidth, "zero width: 200 / 64"},
      {-64, 200, 10, kVkF1 + 3, kSoftKeyWidth, "negative width would give negative fields"},
      {0, 30, 8, kVkTab, kSoftKeyWidth, "eight keys shift by the repaired width"},
      {INT_MIN, 639, 10, kVkF1 + 9, kSoftKeyWidth, "most negative width"},
  };
  for (const Row& r : rows) {
    int width = r.width;
    EXPECT_EQ(SoftKeyForClick(r.x, 450, r.soft_keys, 1, &width), r.want) << r.why;
    EXPECT_EQ(width, r.width_after) << r.why;
  }
}

// Extreme positions: the mode-5 shift and the eight-key shift must not overflow, and the
// results stay those of the nearest real position.
TEST(SoftKeysRobust, ExtremePositions) {
  struct Row {
    int x, y, soft_keys, video, want;
    const char* why;
  } rows[] = {
      {INT_MAX, 450, 10, 5, 0, "far right, mode 5 shift: beyond F10"},
      {INT_MIN, 450, 8, 1, kVkTab, "far left with the eight-key shift: Tab"},
      {200, INT_MAX, 10, 5, kVkF1 + 2, "far below, mode 5 shift: still the soft-key row"},
      {200, INT_MIN, 10, 5, 0, "far above: nothing"},
      {-1, 450, 10, 1, kVkTab, "left of the display: Tab"},
  };
  for (const Row& r : rows) {
    int width = kSoftKeyWidth;
    EXPECT_EQ(SoftKeyForClick(r.x, r.y, r.soft_keys, r.video, &width), r.want) << r.why;
  }
}

}  // namespace
}  // namespace korvane::shell
