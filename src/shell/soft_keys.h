// Soft keys: a left click on the bottom row of the display presses Tab or one of F1-F10.
#pragma once

namespace korvane::shell {

constexpr int kSoftKeyWidth = 64;         // ten soft keys across 640 pixels
constexpr int kSoftKeyWidthMode5 = 96;    // the LCD of video mode 5 has wider keys

// Returns the virtual-key code that a left click at (x, y) of the display presses, or 0 for
// none. `soft_keys` is the soft-key count (8 or 10), `video` the video mode. In video mode 5
// the click is shifted onto the LCD's smaller picture and *soft_key_width becomes 96 for the
// rest of the run, which is why the width is kept by the caller. Any count other than 8 means
// ten keys; a width that is not positive is replaced by kSoftKeyWidth.
int SoftKeyForClick(int x, int y, int soft_keys, int video, int* soft_key_width);

}  // namespace korvane::shell
