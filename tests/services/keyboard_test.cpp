// Tests of the keyboard emulation: host keys to device codes, key pulses, exit keys, options.
#include "services/keyboard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/emulator.h"
#include "platform/keyboard_layout.h"
#include "services/native_handlers.h"

namespace korvane {
namespace {

constexpr uint32_t kBss = 0x00100000;
constexpr uint32_t kBssSize = 0x1000;
constexpr uint32_t kReadkeysCh = kBss + 0;
constexpr uint32_t kOnkey = kBss + 1;
constexpr uint32_t kNewonkey = kBss + 2;
constexpr uint32_t kNokey = kBss + 3;
constexpr uint32_t kKeys = kBss + 0x10;  // first key identifier
constexpr uint32_t kTwinDistance = 0x200;

const char* const kKeyNames[] = {"N_SOFT_LEVEL_NEXT",
                                 "N_BLANK",
                                 "N_CLEAR",
                                 "N_Fn1",
                                 "N_Fn2",
                                 "N_Fn3",
                                 "N_Fn4",
                                 "N_Fn5",
                                 "N_Fn6",
                                 "N_Fn7",
                                 "N_Fn8",
                                 "N_Fn9",
                                 "N_Fn10",
                                 "N_EXIT",
                                 "N_UP",
                                 "N_DOWN",
                                 "N_LEFT",
                                 "N_RIGHT",
                                 "N_PAGEUP",
                                 "N_PAGEDOWN",
                                 "N_HOME",
                                 "N_ENTER",
                                 "N_JUMP",
                                 "N_0",
                                 "N_1",
                                 "N_2",
                                 "N_3",
                                 "N_4",
                                 "N_5",
                                 "N_6",
                                 "N_7",
                                 "N_8",
                                 "N_9",
                                 "N_POINT",
                                 "N_MINUS",
                                 "N_TABDEC",
                                 "N_TABINC",
                                 "N_SCREENDUMP1",
                                 "N_SCREENDUMP2",
                                 "N_SCREENDUMP3",
                                 "N_PARAMETER1",
                                 "N_PARAMETER2",
                                 "N_PARAMETER3",
                                 "N_HELP",
                                 "N_CALC",
                                 "N_STATUS",
                                 "N_STATUS_NEXT",
                                 "N_START",
                                 "N_STOP",
                                 "N_REMAP_A1",
                                 "N_REMAP_A2",
                                 "N_REMAP_B1",
                                 "N_REMAP_B2",
                                 "N_REMAP_C1",
                                 "N_REMAP_C2",
                                 "N_DEFAULT"};
constexpr int kKeyCount = sizeof(kKeyNames) / sizeof(kKeyNames[0]);

// A firmware's key variables laid out in a bss region, with a settable system_timer.
struct KeyRig {
  Emulator emu;
  uint8_t timer[4] = {};

  explicit KeyRig(bool with_t0 = true, bool with_keys = true) {
    DefineRegion(emu, kRegionBss, "BSS ", kBss, kBssSize, true, 0, 0, 0);
    emu.run.system_timer = timer;
    emu.run.system_timer_avail = 4;
    emu.log.SetCapture(true);
    Add("readkeys_ch", kReadkeysCh);
    Add("onkey", kOnkey);
    Add("newonkey", kNewonkey);
    Add("N_NOKEY", kNokey);
    if (with_keys) {
      for (int i = 0; i < kKeyCount; ++i) Add(kKeyNames[i], kKeys + i);
      emu.image.n_min = kKeys;
      emu.image.n_max = kKeys + kKeyCount - 1;
    }
    if (with_t0) Add("T_0", Key("N_0") + kTwinDistance);
  }
  void Add(const char* name, uint32_t address) {
    IdentEntry& e = emu.image.idents[emu.image.ident_count++];
    std::strncpy(e.name, name, sizeof(e.name) - 1);
    e.start = e.end = address;
  }
  static uint32_t Key(const std::string& name) {
    for (int i = 0; i < kKeyCount; ++i)
      if (name == kKeyNames[i]) return kKeys + i;
    ADD_FAILURE() << "no key " << name;
    return 0;
  }
  uint8_t At(uint32_t a) { return GuestRead8(emu.mem, a); }
  uint8_t Flag(const std::string& name) { return At(Key(name)); }
  uint8_t Twin(const std::string& name) { return At(Key(name) + kTwinDistance); }
  void SetTime(uint32_t ms) { std::memcpy(timer, &ms, 4); }
  // Start-up, and the first x$readkeys call, which never takes a key.
  void Start() {
    ASSERT_TRUE(InitEmuKey(emu));
    NativeReadKeys(emu);
  }
  void Call(uint32_t ms) {
    SetTime(ms);
    NativeReadKeys(emu);
  }
  void Type(int mod_vk, int vk) {
    if (mod_vk) HostKeyDown(emu, mod_vk);
    HostKeyDown(emu, vk);
    if (mod_vk) HostKeyUp(emu, mod_vk);
  }
};

constexpr int kShift = 0x10, kCtrl = 0x11, kAlt = 0x12;

TEST(KeyboardLayout, UsLayoutKeys) {
  struct Row {
    char ch;
    int16_t expect;
    const char* why;
  };
  const Row rows[] = {
      {'(', 0x0139, "parenthesis is Shift+9 on a US keyboard"},
      {')', 0x0130, "closing parenthesis is Shift+0"},
      {'.', 0x00BE, "period key"},
      {',', 0x00BC, "comma key"},
      {'-', 0x00BD, "minus key"},
      {'a', 0x0041, "lower-case letters are the letter key"},
      {'A', 0x0141, "capitals need Shift"},
      {'7', 0x0037, "digits are their own key"},
      {'\x01', -1, "a control character no key types"},
  };
  for (const Row& r : rows) EXPECT_EQ(VkKeyScanA(r.ch), r.expect) << r.why;
}

TEST(NextKey, MappingTableRows) {
  struct Row {
    int mod;
    int vk;
    int code;
    const char* why;
  };
  const Row rows[] = {
      {kShift, 0x39, 0x28, "Shift+9 types ( through the layout row"},
      {kShift, 0x30, 0x29, "Shift+0 types )"},
      {0, 0xBE, 0x2E, "period key"},
      {0, 0xBC, 0x2C, "comma key"},
      {0, 0xBD, 0x2D, "minus key"},
      {0, 0x6A, '*', "numeric-pad multiply"},
      {0, 0x6C, ' ', "numeric-pad separator gives a blank"},
      {0, 0x6D, '-', "numeric-pad minus"},
      {0, 0x6F, '/', "numeric-pad divide, last of the pad rows"},
      {kCtrl, '0', 0xE6, "Ctrl+0 starts the descending Ctrl digit rows"},
      {kCtrl, '9', 0xDD, "Ctrl+9"},
      {kCtrl, 'A', 0xDC, "Ctrl+A"},
      {kCtrl, 'X', 0xC5, "Ctrl+X, the save-and-exit key"},
      {kCtrl, 'M', 0xD0, "Ctrl+M, the other save-and-exit key"},
      {kCtrl, 'Q', 0xCC, "Ctrl+Q, exit without saving"},
      {kCtrl, 'Z', 0xC3, "Ctrl+Z ends the letter rows"},
      {kCtrl, 0x21, 0xE8, "Ctrl+Page Up"},
      {kCtrl, 0x22, 0xE7, "Ctrl+Page Down"},
      {0, '5', '5', "plain digit row maps by offset"},
      {0, 0x65, '5', "numeric-pad 5 maps to the same digit"},
      {0, 'Q', 'Q', "plain letters map to their capitals"},
      {0, 0x09, 9, "Tab"},
      {0, 0x28, 0xFD, "Down"},
      {0, 0x26, 0xFE, "Up"},
      {0, 0x25, 0xFC, "Left"},
      {0, 0x27, 0xFB, "Right"},
      {0, 0x1B, 0xFA, "Escape"},
      {0, 0x0D, 0xF9, "Enter"},
      {0, 0x21, 0xF8, "Page Up without Ctrl"},
      {0, 0x22, 0xF7, "Page Down"},
      {0, 0x24, 0xF6, "Home"},
      {0, 0x23, 0xF5, "End"},
      {0, 0x08, 0xF3, "Backspace"},
      {0, 0x2E, 0xF4, "Delete"},
      {0, 0x70, 0xF2, "F1"},
      {0, 0x79, 0xE9, "F10"},
      {kAlt, 'A', 0, "no row has the Alt modifier"},
      {kShift, '1', 0, "Shift+1 is no row: modifiers must match exactly"},
      {kShift, 'A', 0, "Shift+A is no row either"},
      {0, 0x7A, 0, "F11 has no row"},
  };
  for (const Row& r : rows) {
    KeyRig rig;
    rig.Type(r.mod, r.vk);
    EXPECT_EQ(NextKey(rig.emu), r.code) << r.why;
    EXPECT_EQ(rig.emu.keys.pending_host_key.load(), 0) << "key consumed: " << r.why;
  }
}

TEST(NextKey, KeysComeInTypedOrderAndModifierRules) {
  KeyRig rig;
  rig.Type(0, 'B');
  EXPECT_TRUE(PushDeviceKey(rig.emu, 0xCA));
  EXPECT_TRUE(PushDeviceKey(rig.emu, 0xC9));  // an unread key is no longer replaced
  EXPECT_EQ(NextKey(rig.emu), 'B');
  EXPECT_EQ(NextKey(rig.emu), 0xCA);
  EXPECT_EQ(NextKey(rig.emu), 0xC9);
  EXPECT_EQ(NextKey(rig.emu), 0);

  // Only the last modifier pressed counts; releasing any modifier clears it.
  HostKeyDown(rig.emu, kCtrl);
  HostKeyDown(rig.emu, kShift);
  HostKeyDown(rig.emu, '9');
  EXPECT_EQ(NextKey(rig.emu), 0x28);
  HostKeyUp(rig.emu, 'A');  // not a modifier: ignored
  HostKeyDown(rig.emu, '0');
  EXPECT_EQ(NextKey(rig.emu), 0x29) << "Shift is still held";
  HostKeyUp(rig.emu, kCtrl);
  HostKeyDown(rig.emu, '0');
  EXPECT_EQ(NextKey(rig.emu), '0');
}

TEST(ReadKeys, ShiftNineGivesTabDecWithPulses) {
  KeyRig rig;
  rig.Start();
  rig.Type(kShift, '9');
  rig.Call(1000);
  EXPECT_EQ(rig.Flag("N_TABDEC"), 1);
  EXPECT_EQ(rig.Twin("N_TABDEC"), 1);
  EXPECT_EQ(rig.At(kOnkey), 1);
  EXPECT_EQ(rig.At(kNewonkey), 1);
  rig.Call(1100);  // the identifier and newonkey last one call, twin and onkey 250 ms
  EXPECT_EQ(rig.Flag("N_TABDEC"), 0);
  EXPECT_EQ(rig.Twin("N_TABDEC"), 1);
  EXPECT_EQ(rig.At(kOnkey), 1);
  EXPECT_EQ(rig.At(kNewonkey), 0);
  rig.Call(1250);  // expiry reached: not later than now
  EXPECT_EQ(rig.Twin("N_TABDEC"), 0);
  EXPECT_EQ(rig.At(kOnkey), 0);
}

TEST(ReadKeys, FirstCallTakesNoKeyAndDashIPressesDefault) {
  KeyRig rig;
  rig.emu.opt.init_key = true;
  ASSERT_TRUE(InitEmuKey(rig.emu));
  rig.Type(0, 0x0D);
  rig.Call(0);
  EXPECT_EQ(rig.Flag("N_DEFAULT"), 1) << "-i presses N_DEFAULT on the first call";
  EXPECT_EQ(rig.Flag("N_ENTER"), 0) << "the first call never takes a key";
  EXPECT_EQ(rig.emu.keys.pending_host_key.load(), 0x0D);
  rig.Call(10);
  EXPECT_EQ(rig.Flag("N_ENTER"), 1);
  EXPECT_EQ(rig.Flag("N_DEFAULT"), 0);
}

TEST(ReadKeys, LetterWithoutIdentifierIsACharacterForOneCall) {
  KeyRig rig;
  rig.Start();
  rig.Type(0, 'A');
  rig.Call(500);
  EXPECT_EQ(rig.At(kReadkeysCh), 0x41);
  EXPECT_EQ(rig.At(kOnkey), 1);
  EXPECT_EQ(rig.At(kNewonkey), 1);
  rig.Call(510);
  EXPECT_EQ(rig.At(kReadkeysCh), 0);
  EXPECT_EQ(rig.At(kOnkey), 0) << "a character does not hold onkey for 250 ms";
  EXPECT_EQ(rig.At(kNewonkey), 0);
}

TEST(ReadKeys, AltLetterIsOneEventWithCharacterZero) {
  KeyRig rig;
  rig.emu.opt.dk = true;
  rig.Start();
  GuestWrite8(rig.emu.mem, kReadkeysCh, 0x77);
  rig.Type(kAlt, 'A');
  rig.Call(100);
  EXPECT_EQ(rig.At(kReadkeysCh), 0);
  EXPECT_EQ(rig.At(kNewonkey), 1);
  EXPECT_NE(rig.emu.log.captured().find("EMUKEY: Ch=0000\n"), std::string::npos);
  rig.Call(110);
  EXPECT_EQ(rig.At(kNewonkey), 0) << "the key was consumed: no second event";
}

TEST(ReadKeys, FiveIdentifierKeysWithin250MsAllArrive) {
  KeyRig rig;
  rig.Start();
  for (int i = 0; i < 5; ++i) {
    rig.Type(0, 0x70 + i);
    rig.Call(1000 + 40 * i);
  }
  EXPECT_EQ(rig.Flag("N_Fn5"), 0) << "all four slot pairs are busy: F5 waits";
  EXPECT_EQ(rig.At(kOnkey), 1);
  EXPECT_EQ(rig.At(kNewonkey), 0) << "the firmware sees nothing of a waiting key";
  rig.Call(1200);
  EXPECT_EQ(rig.Flag("N_Fn5"), 0);
  rig.Call(1250);  // F1's pulse has expired: its pair takes F5
  EXPECT_EQ(rig.Flag("N_Fn5"), 1);
  EXPECT_EQ(rig.Twin("N_Fn5"), 1);
  EXPECT_EQ(rig.At(kNewonkey), 1);
  // Ctrl+P needs three pairs; it waits until F2, F3 and F4 are over too.
  rig.Type(kCtrl, 'P');
  rig.Call(1290);
  EXPECT_EQ(rig.Flag("N_PARAMETER1"), 0);
  rig.Call(1370);
  EXPECT_EQ(rig.Flag("N_PARAMETER1"), 1);
  EXPECT_EQ(rig.Flag("N_PARAMETER3"), 1);
}

// What the firmware saw in one x$readkeys call: the key identifiers at 1, or the character.
std::string Seen(KeyRig& rig) {
  if (!rig.At(kNewonkey)) return "";
  std::string seen;
  for (const char* name : kKeyNames)
    if (rig.Flag(name)) seen += std::string(seen.empty() ? "" : "+") + name;
  return seen.empty() ? std::string(1, static_cast<char>(rig.At(kReadkeysCh))) : seen;
}

TEST(ReadKeys, TwentyKeysTypedOneMsApartAllArriveInOrder) {
  KeyRig rig;
  rig.Start();
  // Typed by another thread while the firmware polls, modifiers released at once.
  struct Key {
    int mod, vk;
    const char* seen;
  };
  const Key typed[20] = {
      {0, 0x27, "N_RIGHT"}, {0, 0x27, "N_RIGHT"},      {0, 0x27, "N_RIGHT"}, {0, 0x28, "N_DOWN"},
      {0, '7', "N_7"},      {0, 0x0D, "N_ENTER"},      {0, 0x0D, "N_ENTER"}, {0, 0x72, "N_Fn3"},
      {0, 'K', "K"},        {kShift, '9', "N_TABDEC"}, {0, 'O', "O"},        {kCtrl, 'R', "N_CALC"},
      {0, 0x23, "\xF5"},    {0, '1', "N_1"},           {0, '2', "N_2"},      {0, 'R', "R"},
      {0, 0x25, "N_LEFT"},  {0, 0x08, "N_CLEAR"},      {0, 0x1B, "N_EXIT"},  {0, 'V', "V"}};
  std::atomic<bool> all_typed{false};
  std::thread window([&] {
    for (const Key& k : typed) {
      rig.Type(k.mod, k.vk);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    all_typed = true;
  });
  std::vector<std::string> seen;
  uint32_t ms = 10, calls_after_typing = 0;
  while (seen.size() < 20 && calls_after_typing < 1000) {  // 10 s of firmware time to spare
    if (all_typed) ++calls_after_typing;
    rig.Call(ms += 10);
    if (std::string s = Seen(rig); !s.empty()) seen.push_back(s);
    std::this_thread::yield();
  }
  window.join();
  ASSERT_EQ(seen.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(seen[i], typed[i].seen) << "key " << i;
}

TEST(HostKeys, AFullQueueRefusesTheNewestKey) {
  KeyRig rig;
  rig.Start();
  for (uint32_t i = 0; i < kKeyQueueCapacity; ++i)
    ASSERT_TRUE(HostKeyDown(rig.emu, '0' + i % 10)) << i;
  EXPECT_FALSE(HostKeyDown(rig.emu, 'A')) << "the 65th key";
  EXPECT_FALSE(PushDeviceKey(rig.emu, 0xC9));
  EXPECT_TRUE(HostKeyDown(rig.emu, kCtrl)) << "modifiers are never refused";
  HostKeyUp(rig.emu, kCtrl);
  rig.Call(10);  // the firmware takes "0": one place is free again
  EXPECT_EQ(rig.Flag("N_0"), 1);
  EXPECT_TRUE(HostKeyDown(rig.emu, 'A'));
}

TEST(ReadKeys, DeviceCodesReachTheirIdentifiers) {
  struct Row {
    int code;
    const char* name;
    const char* why;
  };
  const Row rows[] = {
      {9, "N_SOFT_LEVEL_NEXT", "Tab"},
      {0x2C, "N_POINT", "comma and period share N_POINT"},
      {0x2E, "N_POINT", "period"},
      {0x2D, "N_MINUS", "minus"},
      {0x29, "N_TABINC", "closing parenthesis"},
      {0x30, "N_0", "first digit"},
      {0x39, "N_9", "last digit"},
      {0xF2, "N_Fn1", "F1 has the highest function code"},
      {0xE9, "N_Fn10", "F10 the lowest"},
      {0xF3, "N_CLEAR", "Backspace"},
      {0xF4, "N_BLANK", "Delete"},
      {0xF6, "N_HOME", "Home"},
      {0xF7, "N_PAGEDOWN", "Page Down"},
      {0xF8, "N_PAGEUP", "Page Up"},
      {0xF9, "N_ENTER", "Enter"},
      {0xFA, "N_EXIT", "Escape"},
      {0xFB, "N_RIGHT", "Right"},
      {0xFC, "N_LEFT", "Left"},
      {0xFD, "N_DOWN", "Down"},
      {0xFE, "N_UP", "Up"},
      {0xC9, "N_START", "Ctrl+V"},
      {0xCA, "N_STOP", "Ctrl+U"},
      {0xCB, "N_CALC", "Ctrl+T"},
      {0xCE, "N_STATUS_NEXT", "Ctrl+O"},
      {0xD3, "N_JUMP", "Ctrl+J"},
      {0xD4, "N_STATUS", "Ctrl+I"},
      {0xD5, "N_HELP", "Ctrl+H"},
      {0xDA, "N_REMAP_C2", "Ctrl+C presses both C remaps"},
      {0xDB, "N_REMAP_B1", "Ctrl+B"},
      {0xDC, "N_REMAP_A2", "Ctrl+A"},
      {0xCD, "N_PARAMETER3", "Ctrl+P presses all three parameter keys"},
      {0xD9, "N_SCREENDUMP2", "Ctrl+D presses the screen-dump keys"},
  };
  for (const Row& r : rows) {
    KeyRig rig;
    rig.Start();
    PushDeviceKey(rig.emu, r.code);
    rig.Call(100);
    EXPECT_EQ(rig.Flag(r.name), 1) << r.why;
    EXPECT_EQ(rig.At(kReadkeysCh), 0) << r.why;
  }
  KeyRig rig;  // End has no identifier: it reaches the firmware as a character
  rig.Start();
  PushDeviceKey(rig.emu, 0xF5);
  rig.Call(100);
  EXPECT_EQ(rig.At(kReadkeysCh), 0xF5);
}

TEST(ReadKeys, ScreenDumpPulseHasNoDuration) {
  KeyRig rig;
  rig.Start();
  PushDeviceKey(rig.emu, 0xD9);
  rig.Call(100);
  EXPECT_EQ(rig.Twin("N_SCREENDUMP3"), 1);
  rig.Call(100);  // same time: a pulse of 0 ms is over
  EXPECT_EQ(rig.Twin("N_SCREENDUMP3"), 0);
  EXPECT_EQ(rig.At(kOnkey), 0);
}

TEST(ReadKeys, ExitKeys) {
  struct Row {
    int vk;
    int exit_code;
    const char* why;
  };
  const Row rows[] = {
      {'X', 1, "Ctrl+X stops and saves the memory file"},
      {'M', 1, "Ctrl+M stops and saves"},
      {'Q', 2, "Ctrl+Q stops without saving"},
      {'W', 0, "Ctrl+W is an ordinary character"},
  };
  for (const Row& r : rows) {
    KeyRig rig;
    rig.Start();
    rig.Type(kCtrl, r.vk);
    rig.Call(100);
    EXPECT_EQ(rig.emu.exit.code, r.exit_code) << r.why;
  }
}

TEST(ReadKeys, FlagAreaTwinsAndNoKeyAreClearedEveryCall) {
  KeyRig rig;
  rig.Start();
  GuestWrite8(rig.emu.mem, KeyRig::Key("N_UP"), 7);
  GuestWrite8(rig.emu.mem, KeyRig::Key("N_UP") + kTwinDistance, 7);
  GuestWrite8(rig.emu.mem, kNokey, 5);
  GuestWrite8(rig.emu.mem, kNokey + kTwinDistance, 5);
  GuestWrite8(rig.emu.mem, KeyRig::Key("N_REMAP_C2") + 1, 9);  // just past N_max
  rig.Call(10);
  EXPECT_EQ(rig.Flag("N_UP"), 0);
  EXPECT_EQ(rig.Twin("N_UP"), 0);
  EXPECT_EQ(rig.At(kNokey), 0);
  EXPECT_EQ(rig.At(kNokey + kTwinDistance), 0);
  EXPECT_EQ(rig.At(KeyRig::Key("N_REMAP_C2") + 1), 0) << "N_DEFAULT is N_max here";
  EXPECT_EQ(rig.At(KeyRig::Key("N_DEFAULT") + 1), 0);
}

TEST(ReadKeys, WideKeyRangeNeedsCountAndStaysInsideItsRegion) {
  {
    KeyRig rig;
    rig.emu.image.n_max = rig.emu.image.n_min + 100;  // wider than 64 bytes, no -kk
    GuestWrite8(rig.emu.mem, KeyRig::Key("N_UP"), 7);
    rig.Start();
    EXPECT_EQ(rig.Flag("N_UP"), 7) << "an empty flag area clears nothing";
  }
  {
    KeyRig rig;
    rig.emu.image.n_max = rig.emu.image.n_min + 100;
    rig.emu.opt.kk = 2;  // -kk2: only the first two bytes
    GuestWrite8(rig.emu.mem, kKeys + 1, 7);
    GuestWrite8(rig.emu.mem, kKeys + 2, 7);
    rig.Start();
    EXPECT_EQ(rig.At(kKeys + 1), 0);
    EXPECT_EQ(rig.At(kKeys + 2), 7);
  }
  {
    KeyRig rig;
    rig.emu.image.n_max = rig.emu.image.n_min + 100;
    rig.emu.opt.kk = 0x7FFFFFFF;  // far past the region's end: cut at the region
    rig.Start();
    EXPECT_EQ(rig.emu.keys.flag_area_size, kBss + kBssSize - kKeys);
    EXPECT_LE(rig.emu.keys.twin_area_size, kBss + kBssSize - kKeys - kTwinDistance);
  }
}

TEST(ReadKeys, NoKeySymbolsMeansEmptyArea) {
  KeyRig rig(/*with_t0=*/false, /*with_keys=*/false);
  rig.Start();
  EXPECT_EQ(rig.emu.keys.flag_area_size, 0u);
  rig.Type(0, 0x0D);
  rig.Call(100);
  EXPECT_EQ(rig.At(kNewonkey), 1) << "the summary variables still work";
}

TEST(ReadKeys, WithoutT0NoTwinIsWrittenAndPairsFreeAtOnce) {
  KeyRig rig(/*with_t0=*/false);
  rig.Start();
  EXPECT_FALSE(rig.emu.keys.twins);
  const uint32_t would_be_twin = KeyRig::Key("N_Fn5") + kTwinDistance;
  GuestWrite8(rig.emu.mem, would_be_twin, 0x55);
  for (int i = 0; i < 5; ++i) {
    rig.Type(0, 0x70 + i);
    rig.Call(1000 + 10 * i);
  }
  EXPECT_EQ(rig.Flag("N_Fn5"), 1) << "without twins a pair is busy for one call only";
  EXPECT_EQ(rig.At(would_be_twin), 0x55);
  EXPECT_EQ(rig.At(kOnkey), 1);
}

}  // namespace
}  // namespace korvane
