// Translation of the window toolkit's key codes into Windows virtual-key codes for the keyboard.
#include "platform/vk_keys.h"

namespace korvane {

namespace {

// The toolkit's codes for keys without a character (Qt::Key values, kept as plain integers so
// this layer builds without the toolkit).
constexpr int kTkEscape = 0x01000000;
constexpr int kTkF1 = 0x01000030;
constexpr int kTkF24 = 0x01000047;

struct KeyRow {
  int toolkit_key;
  int vk;
};

// Keys that are not characters.
constexpr KeyRow kSpecialKeys[] = {
    {kTkEscape, kVkEscape},
    {0x01000001, kVkTab},        // Tab
    {0x01000002, kVkTab},        // Backtab: Shift+Tab arrives under its own code
    {0x01000003, kVkBackspace},  //
    {0x01000004, kVkEnter},      // Return
    {0x01000005, kVkEnter},      // Enter of the numeric pad: Windows gives it VK_RETURN too
    {0x01000006, 0x2D},          // Insert
    {0x01000007, kVkDelete},     //
    {0x01000008, 0x13},          // Pause
    {0x01000009, 0x2C},          // Print screen (VK_SNAPSHOT)
    {0x0100000b, 0x0C},          // Clear (numeric pad 5 without Num Lock)
    {0x01000010, kVkHome},       //
    {0x01000011, kVkEnd},        //
    {0x01000012, kVkLeft},       //
    {0x01000013, kVkUp},         //
    {0x01000014, kVkRight},      //
    {0x01000015, kVkDown},       //
    {0x01000016, kVkPageUp},     //
    {0x01000017, kVkPageDown},   //
    {0x01000020, kVkShift},      //
    {0x01000021, kVkControl},    //
    {0x01000023, kVkAlt},        //
    {0x01001103, kVkAlt},        // AltGr counts as Alt
    {0x01000024, 0x14},          // Caps Lock
    {0x01000025, 0x90},          // Num Lock
    {0x01000026, 0x91},          // Scroll Lock
    {0x01000055, 0x5D},          // Menu (VK_APPS)
};

// Characters of a US layout and the key that types them: digits and letters are their own
// codes; the others are the OEM keys, shifted or not.
constexpr KeyRow kCharacterKeys[] = {
    {' ', 0x20},
    {'!', '1'}, {'@', '2'}, {'#', '3'}, {'$', '4'}, {'%', '5'},
    {'^', '6'}, {'&', '7'}, {'*', '8'}, {'(', '9'}, {')', '0'},
    {';', 0xBA}, {':', 0xBA}, {'=', 0xBB}, {'+', 0xBB}, {',', 0xBC}, {'<', 0xBC},
    {'-', 0xBD}, {'_', 0xBD}, {'.', 0xBE}, {'>', 0xBE}, {'/', 0xBF}, {'?', 0xBF},
    {'`', 0xC0}, {'~', 0xC0}, {'[', 0xDB}, {'{', 0xDB}, {'\\', 0xDC}, {'|', 0xDC},
    {']', 0xDD}, {'}', 0xDD}, {'\'', 0xDE}, {'"', 0xDE},
};

// The numeric pad's own codes for its character keys.
constexpr KeyRow kKeypadKeys[] = {
    {'*', kVkNumpadMultiply}, {'+', kVkNumpadAdd}, {'-', kVkNumpadSubtract},
    {'.', kVkNumpadDecimal},  {',', kVkNumpadDecimal},  // the decimal key of some layouts
    {'/', kVkNumpadDivide},
};

}  // namespace

int VkFromToolkitKey(int toolkit_key, bool keypad) {
  if (keypad) {
    if (toolkit_key >= '0' && toolkit_key <= '9') return kVkNumpad0 + (toolkit_key - '0');
    for (const KeyRow& row : kKeypadKeys)
      if (row.toolkit_key == toolkit_key) return row.vk;
  }
  if (toolkit_key >= '0' && toolkit_key <= '9') return toolkit_key;
  if (toolkit_key >= 'A' && toolkit_key <= 'Z') return toolkit_key;
  if (toolkit_key >= 'a' && toolkit_key <= 'z') return toolkit_key - 'a' + 'A';
  if (toolkit_key >= kTkF1 && toolkit_key <= kTkF24) return kVkF1 + (toolkit_key - kTkF1);
  for (const KeyRow& row : kCharacterKeys)
    if (row.toolkit_key == toolkit_key) return row.vk;
  for (const KeyRow& row : kSpecialKeys)
    if (row.toolkit_key == toolkit_key) return row.vk;
  return 0;
}

}  // namespace korvane
