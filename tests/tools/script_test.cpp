// Tests of korvane-run's key scripts, key feeder, screenshots and virtual time, down to
// firmware that echoes keys and draws pictures in three video modes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver/emulator.h"
#include "platform/png.h"
#include "services/native_handlers.h"
#include "support/firmware_project.h"
#include "support/lcd_firmware.h"
#include "support/snippet.h"

// The script module is part of korvane-run, which no library carries; it is compiled in here.
#include "run/script.cpp"

namespace korvane::run {
namespace {

using test::RunSnippet;
using test::SnippetOptions;

TEST(KeyScriptParse, TokensBecomeSteps) {
  struct Row { const char* token; ScriptStep::Kind kind; int mod; int vk; int device;
               uint32_t wait; const char* why; };
  const Row rows[] = {
      {"F1", ScriptStep::kHostKey, 0, 0x70, 0, 0, "first function key"},
      {"F10", ScriptStep::kHostKey, 0, 0x79, 0, 0, "last function key"},
      {"enter", ScriptStep::kHostKey, 0, 0x0D, 0, 0, "names are not case-sensitive"},
      {"PGDN", ScriptStep::kHostKey, 0, 0x22, 0, 0, "Page Down"},
      {"BKSP", ScriptStep::kHostKey, 0, 0x08, 0, 0, "Backspace"},
      {"7", ScriptStep::kHostKey, 0, '7', 0, 0, "digit"},
      {"q", ScriptStep::kHostKey, 0, 'Q', 0, 0, "letters are their capital's key"},
      {"KP0", ScriptStep::kHostKey, 0, 0x60, 0, 0, "numeric-pad digit"},
      {"KP/", ScriptStep::kHostKey, 0, 0x6F, 0, 0, "numeric-pad divide"},
      {"KP+", ScriptStep::kHostKey, 0, 0x6B, 0, 0, "the + here is part of the name"},
      {"(", ScriptStep::kHostKey, 0x10, 0x39, 0, 0, "( is typed as Shift+9"},
      {")", ScriptStep::kHostKey, 0x10, 0x30, 0, 0, ") is typed as Shift+0"},
      {"-", ScriptStep::kHostKey, 0, 0xBD, 0, 0, "minus key of the main block"},
      {"CTRL+X", ScriptStep::kHostKey, 0x11, 'X', 0, 0, "Ctrl prefix"},
      {"shift+9", ScriptStep::kHostKey, 0x10, '9', 0, 0, "Shift prefix, any case"},
      {"ALT+F4", ScriptStep::kHostKey, 0x12, 0x73, 0, 0, "Alt prefix"},
      {"#0xCA", ScriptStep::kDeviceKey, 0, 0, 0xCA, 0, "device code in hex"},
      {"#9", ScriptStep::kDeviceKey, 0, 0, 9, 0, "device code in decimal"},
      {"wait:250", ScriptStep::kWait, 0, 0, 0, 250, "wait"},
      {"WAIT:0", ScriptStep::kWait, 0, 0, 0, 0, "a zero wait is allowed"},
  };
  for (const Row& r : rows) {
    std::vector<ScriptStep> steps;
    std::string error;
    ASSERT_TRUE(ParseKeyScript(r.token, steps, error)) << r.why << ": " << error;
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].kind, r.kind) << r.why;
    EXPECT_EQ(steps[0].modifier_vk, r.mod) << r.why;
    EXPECT_EQ(steps[0].virtual_key, r.vk) << r.why;
    EXPECT_EQ(steps[0].device_code, r.device) << r.why;
    EXPECT_EQ(steps[0].wait_ms, r.wait) << r.why;
  }
}

TEST(KeyScriptParse, BadTokensAreNamed) {
  const char* bad[] = {
      "F11",       // no such function key
      "F01",       // not how keys are named
      "CTRL+",     // modifier without key
      "CTRL+SHIFT+A",  // one modifier only
      "SHIFT+(",   // ( already needs Shift
      "#0x100",    // beyond a byte
      "#0",        // code 0 would deliver nothing
      "#",         // no number
      "#-1",       // negative
      "wait:",     // no time
      "wait:-5",   // negative time
      "wait:1s",   // units are not understood
      "KP10",      // no such pad key
      "xyz",       // nothing at all
      "+",         // characters other than ( ) . , - are not keys
  };
  for (const char* token : bad) {
    std::vector<ScriptStep> steps;
    std::string error;
    EXPECT_FALSE(ParseKeyScript(std::string("ENTER ") + token + " UP", steps, error)) << token;
    EXPECT_NE(error.find(std::string("'") + token + "'"), std::string::npos)
        << token << ": " << error;
  }
}

TEST(KeyScriptParse, BlanksAndFiles) {
  std::vector<ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(ParseKeyScript("  UP\tDOWN\n\nwait:5\r\nENTER  ", steps, error)) << error;
  EXPECT_EQ(steps.size(), 4u);
  ASSERT_TRUE(ParseKeyScript("", steps, error));
  EXPECT_TRUE(steps.empty());

  const std::string path =
      ::testing::TempDir() + "keys_script_test_" + std::to_string(::getpid()) + ".txt";
  {
    std::ofstream f(path);
    f << "F1 F2\nwait:100 #0xCA\n";
  }
  ASSERT_TRUE(LoadKeyScript("@" + path, steps, error)) << error;
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_EQ(steps[3].device_code, 0xCA);
  std::remove(path.c_str());
  EXPECT_FALSE(LoadKeyScript("@" + path, steps, error));
  EXPECT_NE(error.find(path), std::string::npos);

  // A directory opens but cannot be read: an error, not an empty script.
  const std::string dir = ::testing::TempDir();
  EXPECT_FALSE(LoadKeyScript("@" + dir, steps, error));
  EXPECT_NE(error.find(dir), std::string::npos) << error;
}

TEST(ScriptOptions, TakenFromTheCommandLine) {
  std::vector<std::string> args = {"--keys", "F1 F2", "--virtual-time", "--max-instructions",
                                   "5", "--screenshot=a.png", "p.tvx"};
  ScriptOptions o;
  std::string error;
  ASSERT_TRUE(TakeScriptOptions(args, o, error)) << error;
  EXPECT_EQ(args, (std::vector<std::string>{"--max-instructions", "5", "p.tvx"}))
      << "--virtual-time takes no separate value, so the next option stays";
  EXPECT_EQ(o.keys.size(), 2u);
  EXPECT_EQ(o.virtual_time, kDefaultVirtualTime);
  EXPECT_EQ(o.screenshot, "a.png");

  args = {"--virtual-time=250", "--keys=ENTER", "--", "--keys", "x"};
  ScriptOptions o2;
  ASSERT_TRUE(TakeScriptOptions(args, o2, error)) << error;
  EXPECT_EQ(o2.virtual_time, 250u);
  EXPECT_EQ(args, (std::vector<std::string>{"--", "--keys", "x"}))
      << "words after -- belong to the project line";

  struct Bad { std::vector<std::string> args; const char* needle; };
  const Bad bad[] = {
      {{"--virtual-time=0"}, "--virtual-time"},
      {{"--virtual-time=x"}, "'x'"},
      {{"--keys"}, "--keys needs a value"},
      {{"--keys", "ENTER NOPE"}, "'NOPE'"},
      {{"--screenshot="}, "--screenshot"},
  };
  for (const Bad& b : bad) {
    std::vector<std::string> a = b.args;
    ScriptOptions ob;
    EXPECT_FALSE(TakeScriptOptions(a, ob, error)) << b.needle;
    EXPECT_NE(error.find(b.needle), std::string::npos) << error;
  }
}

// A bss with the key variables, and system_timer under the test's control.
struct FeederRig {
  Emulator emu;
  uint8_t timer[4] = {};
  static constexpr uint32_t kBss = 0x00100000;
  static constexpr uint32_t kNewonkey = kBss;
  static constexpr uint32_t kReadkeysCh = kBss + 1;
  static constexpr uint32_t kEnter = kBss + 8;
  FeederRig() {
    DefineRegion(emu, kRegionBss, "BSS ", kBss, 0x100, true, 0, 0, 0);
    emu.run.system_timer = timer;
    emu.run.system_timer_avail = 4;
    Add("newonkey", kNewonkey);
    Add("readkeys_ch", kReadkeysCh);
    Add("N_ENTER", kEnter);
    emu.image.n_min = emu.image.n_max = kEnter;
    InitEmuKey(emu);
  }
  void Add(const char* name, uint32_t address) {
    IdentEntry& e = emu.image.idents[emu.image.ident_count++];
    std::strncpy(e.name, name, sizeof(e.name) - 1);
    e.start = e.end = address;
  }
  // Calls x$readkeys every `step` ms from `from` and returns the times at which a key event
  // reached the firmware.
  std::vector<uint32_t> Poll(uint32_t from, uint32_t until, uint32_t step) {
    std::vector<uint32_t> events;
    for (uint32_t t = from; t <= until; t += step) {
      std::memcpy(timer, &t, 4);
      NativeReadKeys(emu);
      if (GuestRead8(emu.mem, kNewonkey)) events.push_back(t);
    }
    return events;
  }
};

TEST(KeyFeeder, KeysWaitForTheTakeAndTheGap) {
  struct Row { const char* script; uint32_t step; std::vector<uint32_t> events; const char* why; };
  const Row rows[] = {
      {"ENTER ENTER ENTER", 100, {100, 400, 700},
       "first call takes nothing; then one key every 300 ms after the previous was taken"},
      {"ENTER ENTER", 70, {70, 420},
       "polled every 70 ms: the second key goes out at 350 and is taken at 420"},
      {"wait:1000 ENTER", 100, {1000},
       "a leading wait delays the first key, which is taken by the call that delivers it"},
      {"ENTER wait:1000 ENTER", 100, {100, 1200},
       "the wait starts when the script reaches it, once the previous key was taken"},
      {"ENTER wait:100 ENTER", 100, {100, 400}, "a short wait does not shorten the gap"},
      {"#0xF9 A", 100, {100, 400}, "device codes and host keys alike"},
  };
  for (const Row& r : rows) {
    FeederRig rig;
    std::vector<ScriptStep> steps;
    std::string error;
    ASSERT_TRUE(ParseKeyScript(r.script, steps, error)) << error;
    KeyFeeder feeder(steps);
    feeder.Install(rig.emu);
    EXPECT_EQ(rig.Poll(0, 3000, r.step), r.events) << r.why;
    EXPECT_TRUE(feeder.finished()) << r.why;
  }
}

TEST(KeyFeeder, ModifiersGoThroughTheWindowRoutines) {
  FeederRig rig;
  std::vector<ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(ParseKeyScript("CTRL+Q", steps, error));
  KeyFeeder feeder(steps);
  feeder.Install(rig.emu);
  rig.Poll(0, 200, 100);
  EXPECT_EQ(rig.emu.exit.code, 2) << "Ctrl+Q reached the firmware as the stop key";
  EXPECT_EQ(rig.emu.keys.current_mods.load(), 0) << "the modifier was released again";
}

// ---- Firmware runs: the script and screenshots against programs built by our assembler.

constexpr uint32_t kInstructionsPerMs = 100;

// Keys whose flags the echo firmware scans, in flag order.
const char* const kEchoKeys[] = {"N_ENTER", "N_UP",     "N_DOWN",  "N_EXIT",  "N_0",
                                 "N_5",     "N_9",      "N_Fn1",   "N_Fn10",  "N_TABDEC",
                                 "N_TABINC", "N_POINT", "N_MINUS", "N_STOP"};
constexpr int kEchoKeyCount = sizeof(kEchoKeys) / sizeof(kEchoKeys[0]);

std::string EchoFirmware() {
  std::string s = R"(
	mov	0,r10
loop:
	callx	x$readkeys
	ldob	newonkey,r3
	cmpobe	0,r3,loop
	shlo	3,r10,r5
	lda	events,r4
	addo	r4,r5,r5
	ldob	readkeys_ch,r6
	stob	r6,(r5)
	ld	system_timer,r6
	st	r6,4(r5)
	lda	N_ENTER,r7
	mov	0,r8
scan:
	addo	r7,r8,r9
	ldob	(r9),r6
	cmpobne	0,r6,found
	addo	1,r8,r8
	cmpobg	)" + std::to_string(kEchoKeyCount) + R"(,r8,scan
	mov	0,r6
	b	store
found:
	addo	1,r8,r6
store:
	stob	r6,1(r5)
	addo	1,r10,r10
	st	r10,event_count
	b	loop
)" + test::StubRoutines({"readkeys"}) + R"(
	.bss
	.globl	system_timer
	.align	2
system_timer:
	.space	4
event_count:
	.space	4
events:
	.space	512
	.globl	onkey
onkey:
	.space	1
	.globl	newonkey
newonkey:
	.space	1
	.globl	readkeys_ch
readkeys_ch:
	.space	1
	.globl	N_NOKEY
N_NOKEY:
	.space	1
)";
  for (const char* k : kEchoKeys) s += std::string("\t.globl\t") + k + "\n" + k + ":\n\t.space\t1\n";
  s += "\t.space\t32\n\t.globl\tT_0\nT_0:\n\t.space\t64\n";
  return s;
}

struct Event {
  int ch;
  int flag;  // index into kEchoKeys + 1, or 0
  uint32_t time;
};

std::vector<Event> RunEcho(const std::string& script, int* exit_code) {
  std::vector<ScriptStep> steps;
  std::string error;
  EXPECT_TRUE(ParseKeyScript(script, steps, error)) << error;
  KeyFeeder feeder(steps);
  SnippetOptions options;
  options.before_run = [&](Emulator& emu) {
    emu.run.virtual_time_instructions = kInstructionsPerMs;
    feeder.Install(emu);
  };
  auto run = RunSnippet(EchoFirmware(), 20000000, options);
  std::vector<Event> events;
  if (!run->assembled) return events;
  *exit_code = run->exit.code;
  const uint32_t count = run->Read32(run->Sym("event_count"));
  for (uint32_t i = 0; i < count && i < 64; ++i) {
    const uint32_t at = run->Sym("events") + 8 * i;
    events.push_back({run->Read8(at), run->Read8(at + 1), run->Read32(at + 4)});
  }
  return events;
}

int Flag(const char* name) {
  for (int i = 0; i < kEchoKeyCount; ++i)
    if (std::strcmp(kEchoKeys[i], name) == 0) return i + 1;
  return -1;
}

TEST(ScriptFirmware, EchoSeesExactlyTheScriptedSequence) {
  const std::string script =
      "ENTER UP 0 9 F1 F10 ( ) . , - KP5 A ALT+A #0xCA ESC wait:2000 DOWN CTRL+Q";
  struct Expect { int ch; const char* flag; const char* why; };
  const Expect expect[] = {
      {0, "N_ENTER", "ENTER"}, {0, "N_UP", "UP"}, {0, "N_0", "digit 0"},
      {0, "N_9", "digit 9"}, {0, "N_Fn1", "F1"}, {0, "N_Fn10", "F10"},
      {0, "N_TABDEC", "( through Shift+9"}, {0, "N_TABINC", ") through Shift+0"},
      {0, "N_POINT", "period"}, {0, "N_POINT", "comma"}, {0, "N_MINUS", "minus"},
      {0, "N_5", "numeric-pad 5"}, {0x41, nullptr, "A is a character"},
      {0, nullptr, "Alt+A: one event with character 0"}, {0, "N_STOP", "device code 0xCA"},
      {0, "N_EXIT", "Escape"}, {0, "N_DOWN", "Down after the wait"},
  };
  int exit_code = -1;
  const std::vector<Event> events = RunEcho(script, &exit_code);
  ASSERT_EQ(events.size(), std::size(expect));
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].ch, expect[i].ch) << expect[i].why;
    EXPECT_EQ(events[i].flag, expect[i].flag ? Flag(expect[i].flag) : 0) << expect[i].why;
    if (i > 0) {
      EXPECT_GE(events[i].time - events[i - 1].time, kKeyGapMs) << expect[i].why;
    }
  }
  EXPECT_GE(events.back().time - events[events.size() - 2].time, 2000u) << "wait:2000";
  EXPECT_EQ(exit_code, 2) << "CTRL+Q ended the run without an echo";

  int again = -1;
  const std::vector<Event> second = RunEcho(script, &again);
  ASSERT_EQ(second.size(), events.size());
  for (size_t i = 0; i < events.size(); ++i)
    EXPECT_EQ(second[i].time, events[i].time) << "virtual time makes delivery reproducible";
}

// Draws with the display ports and memory, parks, and returns the screenshot's pixels.
struct Shot {
  bool ok = false;
  std::vector<uint8_t> png;
  std::vector<uint8_t> rgb;
  Rgb At(int x, int y) const {
    const size_t i = 3 * (static_cast<size_t>(y) * kPageWidth + x);
    return Rgb{rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

Shot Screenshot(const std::string& body, const std::string& video, uint64_t max) {
  SnippetOptions options;
  options.options = video;
  options.before_run = [](Emulator& emu) { emu.run.virtual_time_instructions = 10; };
  auto run = RunSnippet(body, max, options);
  Shot shot;
  if (!run->assembled) return shot;
  // Tests may run in parallel processes: each writes its own file.
  const std::string path = ::testing::TempDir() + "korvane_screenshot_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                           "_" + std::to_string(::getpid()) + ".png";
  std::string error;
  EXPECT_TRUE(WriteScreenshot(*run, path, error)) << error;
  std::ifstream f(path, std::ios::binary);
  shot.png.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  std::remove(path.c_str());
  int w = 0, h = 0;
  shot.ok = DecodeStoredPngRgb(shot.png, &w, &h, &shot.rgb, &error) && w == kPageWidth &&
            h == kShownHeight;
  EXPECT_TRUE(shot.ok) << error;
  return shot;
}

void ExpectColour(const Shot& s, int x, int y, Rgb want, const char* why) {
  Rgb got = s.At(x, y);
  EXPECT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b)
      << why << " at (" << x << ", " << y << "): got " << int(got.r) << "," << int(got.g)
      << "," << int(got.b);
}

constexpr Rgb kBlack{0, 0, 0}, kWhite{255, 255, 255}, kRed{255, 0, 0}, kGreen{0, 255, 0},
    kBlue{0, 0, 255}, kYellow{255, 255, 0};

TEST(ScriptFirmware, PlanarPictureInMode1) {
  const Shot s = Screenshot(R"(
	ldconst	0x800003c4,r4
	ldconst	0x900a0000,r6
	ldconst	0x0f02,r5
	stos	r5,(r4)		# map mask 15: bytes are palette indices
	ldconst	224,r7
	stob	r7,(r6)		# row 0, x 0-7 red
	ldconst	805,r8
	addo	r6,r8,r8
	mov	28,r7
	stob	r7,(r8)		# row 10, x 40-47 green
	ldconst	1600,r8
	addo	r6,r8,r8	# row 20: compose colours 9 and 10 plane by plane
	ldconst	0x0102,r5
	stos	r5,(r4)
	ldconst	0xf0,r7
	stob	r7,(r8)
	ldconst	0x0202,r5
	stos	r5,(r4)
	ldconst	0x0f,r7
	stob	r7,(r8)
	ldconst	0x0802,r5
	stos	r5,(r4)
	ldconst	0xff,r7
	stob	r7,(r8)
	ldconst	0x800003c8,r9	# DAC entry 9 := yellow, then compose colour 9 again on row 30
	mov	9,r7
	stob	r7,(r9)
	ldconst	63,r7
	stob	r7,1(r9)
	stob	r7,1(r9)
	mov	0,r7
	stob	r7,1(r9)
	ldconst	2400,r8
	addo	r6,r8,r8
	ldconst	0x0102,r5
	stos	r5,(r4)
	ldconst	0xff,r7
	stob	r7,(r8)
	ldconst	0x0802,r5
	stos	r5,(r4)
	stob	r7,(r8)
)", "-v1", 200);
  ASSERT_TRUE(s.ok);
  ExpectColour(s, 0, 0, kRed, "map mask 15 stores the index");
  ExpectColour(s, 7, 0, kRed, "whole group");
  ExpectColour(s, 8, 0, kBlack, "next group untouched");
  ExpectColour(s, 40, 10, kGreen, "offset 805 is row 10, x 40");
  ExpectColour(s, 3, 20, kBlue, "planes 0 and 3: colour 9 is blue");
  ExpectColour(s, 4, 20, kGreen, "planes 1 and 3: colour 10 is green");
  ExpectColour(s, 0, 30, kYellow, "colour 9 after the DAC made it yellow");
  ExpectColour(s, 639, 479, kBlack, "bottom right of the shown part");
}

TEST(ScriptFirmware, PackedPictureOnPageBInMode3) {
  const Shot s = Screenshot(R"(
	ldconst	0x800003c4,r4
	ldconst	0x800003ce,r10
	ldconst	0x800003d4,r11
	ldconst	0x900a0000,r6
	ldconst	0x0f02,r5
	stos	r5,(r4)		# all four planes
	ldconst	0x0109,r5
	stos	r5,(r10)	# draw into page B
	mov	3,r7
	stob	r7,(r6)		# pixels 0-3 of row 0 blue
	ldconst	0x0502,r5
	stos	r5,(r4)		# planes 0 and 2
	ldconst	1601,r8
	addo	r6,r8,r8
	mov	28,r7
	stob	r7,(r8)		# row 10, pixels 4 and 6 green
	ldconst	0x041b,r5
	stos	r5,(r11)	# show page B
)", "-v3", 200);
  ASSERT_TRUE(s.ok);
  ExpectColour(s, 0, 0, kBlue, "plane write with all planes");
  ExpectColour(s, 3, 0, kBlue, "four pixels per byte");
  ExpectColour(s, 4, 0, kBlack, "next group");
  ExpectColour(s, 4, 10, kGreen, "plane 0 of group 1 on row 10");
  ExpectColour(s, 5, 10, kBlack, "plane 1 masked off");
  ExpectColour(s, 6, 10, kGreen, "plane 2");
}

TEST(ScriptFirmware, LcdPictureInMode5) {
  const Shot s = Screenshot(R"(
	ldconst	0x80,r7
	stob	r7,display_ram0
	lda	display_ram0,r4
	ldconst	3839,r5
	addo	r4,r5,r5
	mov	1,r7
	stob	r7,(r5)		# last source pixel (239, 127)
	b	park
)" + std::string(test::kLcdData) + R"(
park:
)", "-v5", 200);
  ASSERT_TRUE(s.ok);
  ExpectColour(s, 80, 112, kWhite, "source pixel (0, 0) doubled");
  ExpectColour(s, 81, 113, kWhite, "its 2 x 2 block");
  ExpectColour(s, 82, 112, kBlack, "source pixel (1, 0) clear");
  ExpectColour(s, 559, 367, kWhite, "last source pixel");
  ExpectColour(s, 78, 110, kWhite, "dotted frame corner");
  ExpectColour(s, 79, 110, kBlack, "frame gap");
}

// ---- The options on korvane-run's command line, by running the built tool.

std::string Slurp(const std::string& path) { return test::ReadHostFile(path); }

// A temporary project folder holding x.out assembled from a snippet body, x.xcl and x.mem.
struct ToolProject : test::FirmwareProject {
  explicit ToolProject(const std::string& body) {
    AddSnippet(body);
    Assemble();
  }
};

// Runs korvane-run on the project with the video option `video` on its project line.
test::ToolRun RunTool(ToolProject& p, std::vector<std::string> args, const char* video) {
  args.insert(args.end(), {"--", "korvane", video, p.ProjectPath()});
  return p.Run(args);
}

constexpr const char* kMarkerFirmware = R"(
	ldconst	0x800003c4,r4
	ldconst	0x0f02,r5
	stos	r5,(r4)
	ldconst	0x900a0000,r6
1:	ld	system_timer,r7
	ldconst	80,r8
	remo	r8,r7,r7
	addo	r6,r7,r9
	ldconst	224,r11
	stob	r11,(r9)
	b	1b
	.bss
	.globl	system_timer
	.align	2
system_timer:
	.space	4
	.text
)";

TEST(RunnerScriptOptions, UsageErrorsNameTheirCause) {
  ToolProject p("");
  struct Row { std::vector<std::string> args; const char* needle; const char* why; };
  const Row rows[] = {
      {{"--keys", "ENTER NOPE"}, "'NOPE'", "an unknown token is named"},
      {{"--keys", "@" + p.Path("missing.keys")}, "missing.keys", "a missing script file"},
      {{"--keys"}, "--keys needs a value", "no script"},
      {{"--virtual-time=0"}, "--virtual-time", "zero instructions per millisecond"},
  };
  for (const Row& r : rows) {
    test::ToolRun t = RunTool(p, r.args, "-v1");
    EXPECT_EQ(t.status, 2) << r.why;
    EXPECT_NE(t.err.find(r.needle), std::string::npos) << r.why << ": " << t.err;
  }
}

TEST(RunnerScriptOptions, VirtualTimeScreenshotsAreIdentical) {
  ToolProject p(kMarkerFirmware);
  std::vector<uint8_t> first;
  for (int run = 0; run < 2; ++run) {
    const std::string png = p.Path(run ? "b.png" : "a.png");
    test::ToolRun t = RunTool(p, {"--virtual-time=20", "--max-instructions", "400000",
                               "--screenshot", png}, "-v1");
    EXPECT_EQ(t.status, 3) << t.err;
    const std::string bytes = Slurp(png);
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    std::string error;
    ASSERT_TRUE(DecodeStoredPngRgb(data, &w, &h, &rgb, &error)) << error;
    int red_groups = 0;
    for (int x = 0; x < kPageWidth; x += 8) red_groups += rgb[3 * x] == 255 && rgb[3 * x + 1] == 0;
    EXPECT_GT(red_groups, 1) << "the marker moved with virtual time";
    if (run == 0) first = data;
    else EXPECT_TRUE(data == first) << "the same run twice gives the same picture";
  }
}

TEST(RunnerScriptOptions, KeysFromAFileReachTheFirmware) {
  ToolProject p(EchoFirmware());
  std::ofstream(p.Path("x.keys")) << "F1\n9 wait:500\nENTER\nCTRL+Q\n";
  test::ToolRun t = RunTool(p, {"--virtual-time=100", "--keys", "@" + p.Path("x.keys"),
                             "--max-instructions", "20000000", "--dump", "event_count:4"},
                         "-v1");
  EXPECT_EQ(t.status, 0) << "Ctrl+Q ends the run by an exit request: " << t.err;
  EXPECT_NE(t.out.find("event_count: 03 00 00 00"), std::string::npos) << t.out;
}

TEST(RunnerScriptOptions, UnwritableScreenshotIsReported) {
  ToolProject p("");
  test::ToolRun t = RunTool(p, {"--max-instructions", "100", "--screenshot",
                             p.Path("no-such-folder/x.png")}, "-v1");
  EXPECT_EQ(t.status, 2);
  EXPECT_NE(t.err.find("no-such-folder/x.png"), std::string::npos) << t.err;
}

}  // namespace
}  // namespace korvane::run
