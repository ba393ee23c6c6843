// The US keyboard layout: which virtual key and modifiers type a given character.
#pragma once

#include <cstdint>

namespace korvane {

// Shift-state bits in the high byte of a VkKeyScanA result.
constexpr int kLayoutShift = 1;
constexpr int kLayoutCtrl = 2;
constexpr int kLayoutAlt = 4;

// For a character, (shift state << 8) | virtual-key code on a US keyboard, as the Windows call
// of this name answers; -1 when no key types the character. The keyboard emulation takes the
// low byte for the layout-dependent rows of its mapping table ("(" is Shift+9, ")" Shift+0).
int16_t VkKeyScanA(char ch);

}  // namespace korvane
