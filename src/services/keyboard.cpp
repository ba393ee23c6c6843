// Keyboard emulation: keys from the host, device codes, timed key pulses in guest memory.
#include "services/keyboard.h"

#include <array>
#include <cstring>

#include "platform/keyboard_layout.h"
#include "platform/vk_keys.h"
#include "services/machine.h"
#include "services/native_handlers.h"

namespace korvane {

namespace {

// One row of the host-key mapping table: virtual keys low..high with the given modifier give
// the device codes code, code + 1, ...
struct KeyMapRow {
  uint8_t code;
  uint8_t vk_low;
  uint8_t vk_high;
  uint8_t mods;
};

constexpr int kKeyMapRows = 75;
// The first rows hold characters whose key depends on the keyboard layout; their virtual-key
// columns are filled from the layout when a key is translated.
constexpr int kLayoutRows = 5;
constexpr char kLayoutChars[kLayoutRows] = {'(', ')', '.', ',', '-'};

constexpr std::array<KeyMapRow, kKeyMapRows> MakeKeyMap() {
  std::array<KeyMapRow, kKeyMapRows> t{};
  int n = 0;
  auto row = [&](int code, int low, int high, int mods) {
    t[n++] = KeyMapRow{static_cast<uint8_t>(code), static_cast<uint8_t>(low),
                       static_cast<uint8_t>(high), static_cast<uint8_t>(mods)};
  };
  row('(', 0, 0, kModShift);  // layout rows: virtual keys filled in at lookup
  row(')', 0, 0, kModShift);
  row('.', 0, 0, kModNone);
  row(',', 0, 0, kModNone);
  row('-', 0, 0, kModNone);
  const char pad[] = {'*', '+', ' ', '-', '.', '/'};  // numeric-pad operators 0x6A-0x6F
  for (int i = 0; i < 6; ++i) row(pad[i], 0x6A + i, 0x6A + i, kModNone);
  for (int i = 0; i < 10; ++i) row(0xE6 - i, '0' + i, '0' + i, kModCtrl);    // Ctrl+0 .. Ctrl+9
  for (int i = 0; i < 26; ++i) row(0xDC - i, 'A' + i, 'A' + i, kModCtrl);    // Ctrl+A .. Ctrl+Z
  row(0xE8, 0x21, 0x21, kModCtrl);                                           // Ctrl+Page Up
  row(0xE7, 0x22, 0x22, kModCtrl);                                           // Ctrl+Page Down
  row('0', 0x30, 0x39, kModNone);                                            // digits
  row('0', 0x60, 0x69, kModNone);                                            // numeric-pad digits
  row('A', 0x41, 0x5A, kModNone);                                            // letters
  row(9, 0x09, 0x09, kModNone);                                              // Tab
  row(0xFD, 0x28, 0x28, kModNone);                                           // Down
  row(0xFE, 0x26, 0x26, kModNone);                                           // Up
  row(0xFC, 0x25, 0x25, kModNone);                                           // Left
  row(0xFB, 0x27, 0x27, kModNone);                                           // Right
  row(0xFA, 0x1B, 0x1B, kModNone);                                           // Escape
  row(0xF9, 0x0D, 0x0D, kModNone);                                           // Enter
  row(0xF8, 0x21, 0x21, kModNone);                                           // Page Up
  row(0xF7, 0x22, 0x22, kModNone);                                           // Page Down
  row(0xF6, 0x24, 0x24, kModNone);                                           // Home
  row(0xF5, 0x23, 0x23, kModNone);                                           // End
  row(0xF3, 0x08, 0x08, kModNone);                                           // Backspace
  row(0xF4, 0x2E, 0x2E, kModNone);                                           // Delete
  for (int i = 0; i < 10; ++i) row(0xF2 - i, 0x70 + i, 0x70 + i, kModNone);  // F1 .. F10
  return t;
}
constexpr std::array<KeyMapRow, kKeyMapRows> kKeyMap = MakeKeyMap();
static_assert(kKeyMap[kKeyMapRows - 1].code == 0xE9, "the table ends with F10");

void WriteKeyByte(Machine& emu, uint32_t address, uint8_t value) {
  GuestWrite8(emu.mem, address, value);
}

// Points slot i at `address` (none when 0) with the given expiry and writes `value` there.
void SetSlot(Machine& emu, int i, uint32_t address, uint32_t expiry, uint8_t value) {
  KeySlot& s = emu.keys.slots[i];
  s.used = address != 0;
  s.address = address;
  s.expiry = expiry;
  if (s.used) WriteKeyByte(emu, address, value);
}

void PressKeyAt(Machine& emu, const char* name, int value, uint32_t duration, uint32_t now) {
  KeyboardState& k = emu.keys;
  int pair = -1;
  for (int p = 0; p < 8; p += 2) {
    if (!k.slots[p].used && !k.slots[p + 1].used) {
      pair = p;
      break;
    }
  }
  if (pair < 0) return;  // all four pairs still pulse earlier keys: the key is dropped
  uint32_t address = LookupIdent(emu, name);
  SetSlot(emu, pair, address, now, static_cast<uint8_t>(value));
  if (!k.slots[pair].used) return;
  if (k.twins)
    SetSlot(emu, pair + 1, address + k.twin_distance, now + duration, static_cast<uint8_t>(value));
  k.slots[kOnKeySlot].expiry = now + duration;
}

// Host location and usable length of `size` guest bytes from `address`, cut at the end of the
// region that holds the first byte; null when the address lies in no region with storage.
uint8_t* BoundArea(Machine& emu, uint32_t address, uint32_t size, uint32_t* usable) {
  *usable = 0;
  int n = FindRegion(emu.mem, address);
  if (n == 0 || emu.mem.regions[n].host == nullptr || size == 0) return nullptr;
  uint32_t avail = 0;
  uint8_t* p = TranslateAddress(emu.mem, address, &avail);
  *usable = size < avail ? size : avail;
  return p;
}

// What a device code does in the firmware: the identifiers it pulses, or an exit request.
// A code that is in no row reaches the firmware as a character in readkeys_ch.
struct CodeAction {
  int code;
  const char* names[3];
  uint32_t duration = kKeyPulseMs;
  int exit_code = 0;
};

const CodeAction kCodeActions[] = {
    {9, {"N_SOFT_LEVEL_NEXT"}},
    {0x28, {"N_TABDEC"}},
    {0x29, {"N_TABINC"}},
    {0x2C, {"N_POINT"}},
    {0x2E, {"N_POINT"}},
    {0x2D, {"N_MINUS"}},
    {0xC5, {}, 0, 1},  // Ctrl+X: stop and save
    {0xD0, {}, 0, 1},  // Ctrl+M: stop and save
    {0xCC, {}, 0, 2},  // Ctrl+Q: stop without saving
    {0xC9, {"N_START"}},
    {0xCA, {"N_STOP"}},
    {0xCB, {"N_CALC"}},
    {0xCD, {"N_PARAMETER1", "N_PARAMETER2", "N_PARAMETER3"}},
    {0xCE, {"N_STATUS_NEXT"}},
    {0xD3, {"N_JUMP"}},
    {0xD4, {"N_STATUS"}},
    {0xD5, {"N_HELP"}},
    {0xD9, {"N_SCREENDUMP1", "N_SCREENDUMP2", "N_SCREENDUMP3"}, 0},
    {0xDA, {"N_REMAP_C1", "N_REMAP_C2"}},
    {0xDB, {"N_REMAP_B1", "N_REMAP_B2"}},
    {0xDC, {"N_REMAP_A1", "N_REMAP_A2"}},
    {0xF3, {"N_CLEAR"}},
    {0xF4, {"N_BLANK"}},
    {0xF6, {"N_HOME"}},
    {0xF7, {"N_PAGEDOWN"}},
    {0xF8, {"N_PAGEUP"}},
    {0xF9, {"N_ENTER"}},
    {0xFA, {"N_EXIT"}},
    {0xFB, {"N_RIGHT"}},
    {0xFC, {"N_LEFT"}},
    {0xFD, {"N_DOWN"}},
    {0xFE, {"N_UP"}},
    {0x30, {"N_0"}},
    {0x31, {"N_1"}},
    {0x32, {"N_2"}},
    {0x33, {"N_3"}},
    {0x34, {"N_4"}},
    {0x35, {"N_5"}},
    {0x36, {"N_6"}},
    {0x37, {"N_7"}},
    {0x38, {"N_8"}},
    {0x39, {"N_9"}},
    {0xF2, {"N_Fn1"}},
    {0xF1, {"N_Fn2"}},
    {0xF0, {"N_Fn3"}},
    {0xEF, {"N_Fn4"}},
    {0xEE, {"N_Fn5"}},
    {0xED, {"N_Fn6"}},
    {0xEC, {"N_Fn7"}},
    {0xEB, {"N_Fn8"}},
    {0xEA, {"N_Fn9"}},
    {0xE9, {"N_Fn10"}},
};

// The row of `code`, or null for a character.
const CodeAction* ActionFor(int code) {
  for (const CodeAction& a : kCodeActions)
    if (a.code == code) return &a;
  return nullptr;
}

// Firmware action for a device code: the identifiers to pulse, or an exit request.
void ActOnCode(Machine& emu, int code, uint32_t now) {
  const CodeAction* a = ActionFor(code);
  if (!a) {
    // A code without an identifier reaches the firmware as a character for one call.
    SetSlot(emu, 0, emu.keys.readkeys_ch, now, static_cast<uint8_t>(code));
    return;
  }
  if (a->exit_code != 0) return RequestExit(emu, a->exit_code);
  for (const char* name : a->names)
    if (name) PressKeyAt(emu, name, 1, a->duration, now);
}

// True when every identifier that `code` pulses finds a free slot pair now. Identifiers the
// firmware lacks take no pair.
bool PairsFreeFor(Machine& emu, int code) {
  const CodeAction* a = ActionFor(code);
  if (!a) return true;
  int needed = 0;
  for (const char* name : a->names)
    if (name && LookupIdent(emu, name) != 0) ++needed;
  int free_pairs = 0;
  for (int p = 0; p < 8; p += 2)
    if (!emu.keys.slots[p].used && !emu.keys.slots[p + 1].used) ++free_pairs;
  return free_pairs >= needed;
}

bool Enqueue(KeyboardState& k, const QueuedKey& key) {
  std::lock_guard<std::mutex> hold(k.queue.lock);
  KeyQueue& q = k.queue;
  if (q.count >= kKeyQueueCapacity) return false;
  q.entries[(q.head + q.count) % kKeyQueueCapacity] = key;
  ++q.count;
  return true;
}

}  // namespace

void TakeQueuedKey(KeyboardState& k) {
  if (k.pending_device_key.load() != 0 || k.pending_host_key.load() != 0) return;
  QueuedKey key;
  {
    std::lock_guard<std::mutex> hold(k.queue.lock);
    KeyQueue& q = k.queue;
    if (q.count == 0) return;
    key = q.entries[q.head];
    q.head = (q.head + 1) % kKeyQueueCapacity;
    --q.count;
  }
  if (key.device_code != 0) {
    k.pending_device_key.store(key.device_code);
  } else {
    k.host_key_mods.store(key.mods);
    k.pending_host_key.store(key.virtual_key);
  }
}

namespace {

// The device code of the pending key without taking it.
int PendingCode(KeyboardState& k) {
  int device = k.pending_device_key.load();
  if (device != 0) return device;
  int vk = k.pending_host_key.load();
  if (vk == 0) return 0;
  int mods = k.host_key_mods.load();
  for (int i = 0; i < kKeyMapRows; ++i) {
    KeyMapRow row = kKeyMap[i];
    if (i < kLayoutRows) {
      int16_t scan = VkKeyScanA(kLayoutChars[i]);
      row.vk_low = row.vk_high = static_cast<uint8_t>(scan & 0xFF);
    }
    if (vk >= row.vk_low && vk <= row.vk_high && mods == row.mods)
      return row.code + (vk - row.vk_low);
  }
  return 0;
}

}  // namespace

bool PushDeviceKey(Machine& emu, int code) {
  // Code 0 would read as "no key"; like every code without an identifier it reaches the
  // firmware as a character, so nothing is lost by leaving it out.
  if (code == 0) return true;
  return Enqueue(emu.keys, QueuedKey{code, 0, 0});
}

bool HostKeyDown(Machine& emu, int virtual_key) {
  KeyboardState& k = emu.keys;
  switch (virtual_key) {
    case kVkControl:
      k.current_mods.store(kModCtrl);
      return true;
    case kVkAlt:
      k.current_mods.store(kModAlt);
      return true;
    case kVkShift:
      k.current_mods.store(kModShift);
      return true;
    case 0:
      return true;  // no key
    default:
      // The key keeps the modifier held now, however long it waits in the queue.
      return Enqueue(k, QueuedKey{0, virtual_key, k.current_mods.load()});
  }
}

void HostKeyUp(Machine& emu, int virtual_key) {
  if (virtual_key == kVkShift || virtual_key == kVkControl || virtual_key == kVkAlt)
    emu.keys.current_mods.store(kModNone);
}

bool InitEmuKey(Machine& emu) {
  KeyboardState& k = emu.keys;
  const uint32_t n_min = emu.image.n_min, n_max = emu.image.n_max;
  uint32_t span = 0;
  if (n_min != 0 && n_max >= n_min) {
    if (n_max - n_min <= kMaxAutoFlagSpan)
      span = n_max - n_min + 1;
    else if (emu.opt.kk > 0)
      span = static_cast<uint32_t>(emu.opt.kk);
  }
  // The area is cleared on every x$readkeys call, so it must stay inside one region's storage.
  k.flag_area = BoundArea(emu, n_min, span, &k.flag_area_size);

  uint32_t n0 = LookupIdent(emu, "N_0"), t0 = LookupIdent(emu, "T_0");
  k.twins = n0 != 0 && t0 != 0;
  k.twin_distance = k.twins ? t0 - n0 : 0;
  k.twin_area = nullptr;
  k.twin_area_size = 0;
  if (k.twins && k.flag_area)
    k.twin_area = BoundArea(emu, n_min + k.twin_distance, k.flag_area_size, &k.twin_area_size);

  k.nokey = LookupIdent(emu, "N_NOKEY");
  k.readkeys_ch = LookupIdent(emu, "readkeys_ch");
  k.onkey = LookupIdent(emu, "onkey");
  k.newonkey = LookupIdent(emu, "newonkey");
  return true;
}

namespace {

// The device code of the pending key, which is cleared; the queue is not looked at.
int TakePendingKey(KeyboardState& k) {
  const int code = PendingCode(k);
  if (k.pending_device_key.exchange(0) == 0) k.pending_host_key.store(0);
  return code;
}

}  // namespace

int NextKey(Machine& emu) {
  KeyboardState& k = emu.keys;
  TakeQueuedKey(k);
  return TakePendingKey(k);
}

void PressKey(Machine& emu, const char* name, int value, uint32_t duration_ms) {
  PressKeyAt(emu, name, value, duration_ms, ReadSystemTimer(emu));
}

void NativeReadKeys(Machine& emu) {
  KeyboardState& k = emu.keys;
  // Only this thread writes it: a plain store, not a locked add, on this path of every call.
  k.reads.store(k.reads.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  // The key this call hands over moves up from the queue now, before the hook.
  TakeQueuedKey(k);
  if (k.before_read) k.before_read(emu, k.before_read_context);
  const uint32_t now = ReadSystemTimer(emu);

  if (k.flag_area) {
    NoteHostAccess(emu.mem, emu.image.n_min, k.flag_area_size, true);
    std::memset(k.flag_area, 0, k.flag_area_size);
    NoteHostWrite(emu.mem, k.flag_area, k.flag_area_size);
  }
  if (k.twin_area) {
    NoteHostAccess(emu.mem, emu.image.n_min + k.twin_distance, k.twin_area_size, true);
    std::memset(k.twin_area, 0, k.twin_area_size);
    NoteHostWrite(emu.mem, k.twin_area, k.twin_area_size);
  }

  for (KeySlot& s : k.slots) {
    if (!s.used) continue;
    // Times compare by signed difference so the pulses survive the timer's wrap-around.
    if (static_cast<int32_t>(s.expiry - now) > 0) {
      WriteKeyByte(emu, s.address, 1);
    } else {
      WriteKeyByte(emu, s.address, 0);
      s.used = false;
    }
  }

  // Only the take before the hook moves a typed key up: a key typed while this call runs waits
  // for the next call, so a recorder in the hook sees every key the firmware gets.
  if (k.first_call) {
    k.first_call = false;
    if (emu.opt.init_key) PressKeyAt(emu, "N_DEFAULT", 1, kKeyPulseMs, now);
  } else if ((k.pending_device_key.load() != 0 || k.pending_host_key.load() != 0) &&
             (!emu.run.system_timer || PairsFreeFor(emu, PendingCode(k)))) {
    // A key whose identifiers find no free slot pair stays pending (the firmware sees nothing
    // of it yet) until earlier pulses expire. Without system_timer no pulse ever expires, so
    // there the key goes ahead and an identifier without a pair is dropped.
    SetSlot(emu, kOnKeySlot, k.onkey, now, 1);
    SetSlot(emu, kNewOnKeySlot, k.newonkey, now, 1);
    int code = TakePendingKey(k);
    if (emu.opt.dk) emu.log.Printf("EMUKEY: Ch=%04X\n", static_cast<unsigned>(code));
    ActOnCode(emu, code, now);
  }

  if (k.nokey) {
    WriteKeyByte(emu, k.nokey, 0);
    if (k.twins) WriteKeyByte(emu, k.nokey + k.twin_distance, 0);
  }
}

}  // namespace korvane
