// Translation of the window toolkit's key codes into Windows virtual-key codes for the keyboard.
#pragma once

namespace korvane {

// Windows virtual-key codes the window and the keypad send to the keyboard emulation.
constexpr int kVkBackspace = 0x08;
constexpr int kVkTab = 0x09;
constexpr int kVkEnter = 0x0D;
constexpr int kVkShift = 0x10;
constexpr int kVkControl = 0x11;
constexpr int kVkAlt = 0x12;
constexpr int kVkEscape = 0x1B;
constexpr int kVkPageUp = 0x21;
constexpr int kVkPageDown = 0x22;
constexpr int kVkEnd = 0x23;
constexpr int kVkHome = 0x24;
constexpr int kVkLeft = 0x25;
constexpr int kVkUp = 0x26;
constexpr int kVkRight = 0x27;
constexpr int kVkDown = 0x28;
constexpr int kVkDelete = 0x2E;
constexpr int kVkNumpad0 = 0x60;
constexpr int kVkNumpadMultiply = 0x6A;
constexpr int kVkNumpadAdd = 0x6B;
constexpr int kVkNumpadSubtract = 0x6D;
constexpr int kVkNumpadDecimal = 0x6E;
constexpr int kVkNumpadDivide = 0x6F;
constexpr int kVkF1 = 0x70;
constexpr int kVkF10 = 0x79;

// Returns the virtual-key code of a toolkit key code (the integer value of Qt::Key), or 0 when
// the key has none. `keypad` says the key came from the numeric pad, where digits, the
// arithmetic signs and the decimal point have codes of their own. Shifted characters of a US
// layout (the toolkit reports "(" rather than the 9 key) give the code of the key that types
// them, because the keyboard emulation pairs the key with the Shift state itself.
int VkFromToolkitKey(int toolkit_key, bool keypad);

}  // namespace korvane
