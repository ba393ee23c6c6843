// The US keyboard layout: which virtual key and modifiers type a given character.
#include "platform/keyboard_layout.h"

namespace korvane {

namespace {

struct LayoutKey {
  char ch;
  uint8_t vk;
  uint8_t shift;
};

// Punctuation of the US layout: unshifted and shifted characters on the same key.
constexpr LayoutKey kPunctuation[] = {
    {' ', 0x20, 0},  {'`', 0xC0, 0},  {'~', 0xC0, kLayoutShift},
    {'!', 0x31, kLayoutShift},  {'@', 0x32, kLayoutShift},  {'#', 0x33, kLayoutShift},
    {'$', 0x34, kLayoutShift},  {'%', 0x35, kLayoutShift},  {'^', 0x36, kLayoutShift},
    {'&', 0x37, kLayoutShift},  {'*', 0x38, kLayoutShift},  {'(', 0x39, kLayoutShift},
    {')', 0x30, kLayoutShift},  {'-', 0xBD, 0},  {'_', 0xBD, kLayoutShift},
    {'=', 0xBB, 0},  {'+', 0xBB, kLayoutShift},  {'[', 0xDB, 0},
    {'{', 0xDB, kLayoutShift},  {']', 0xDD, 0},  {'}', 0xDD, kLayoutShift},
    {'\\', 0xDC, 0}, {'|', 0xDC, kLayoutShift},  {';', 0xBA, 0},
    {':', 0xBA, kLayoutShift},  {'\'', 0xDE, 0}, {'"', 0xDE, kLayoutShift},
    {',', 0xBC, 0},  {'<', 0xBC, kLayoutShift},  {'.', 0xBE, 0},
    {'>', 0xBE, kLayoutShift},  {'/', 0xBF, 0},  {'?', 0xBF, kLayoutShift},
    {'\t', 0x09, 0}, {'\r', 0x0D, 0}, {'\n', 0x0D, kLayoutCtrl},
    {'\b', 0x08, 0}, {'\x1B', 0x1B, 0},
};

int16_t Pack(int shift, int vk) { return static_cast<int16_t>((shift << 8) | vk); }

}  // namespace

int16_t VkKeyScanA(char ch) {
  if (ch >= '0' && ch <= '9') return Pack(0, ch);
  if (ch >= 'a' && ch <= 'z') return Pack(0, ch - 'a' + 'A');
  if (ch >= 'A' && ch <= 'Z') return Pack(kLayoutShift, ch);
  for (const LayoutKey& k : kPunctuation)
    if (k.ch == ch) return Pack(k.shift, k.vk);
  return -1;
}

}  // namespace korvane
