// Save states taken in the middle of a run: for the demo and for a firmware of our own that
// keeps files, a directory, a serial port, the display and the key queue busy, a run of N
// instructions and a run of K instructions saved, loaded into a fresh emulator in a copy of
// the project folder and run on to N end with the same machine, picture and files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "driver/emu_main.h"
#include "driver/emulator.h"
#include "driver/save_state.h"
#include "services/display.h"
#include "services/keyboard.h"
#include "support/firmware_project.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

// A firmware of our own that keeps files, a directory, COM1, the display pages and the key
// queue busy (see the source).
const std::string kDataDir = KORVANE_SOURCE_DIR "/tests/data/state";

struct Row {
  const char* why;
  bool demo;              // the bundled demo; else tests/data/state/busy.s
  std::string options;    // project line options
  std::vector<int> keys;  // device codes queued before the first instruction
  uint64_t n, k;          // instructions in all, and where the state is taken
};

class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
      slave_ = ::ptsname(master_);
  }
  ~Pty() {
    if (master_ >= 0) ::close(master_);
  }
  const std::string& slave() const { return slave_; }

 private:
  int master_ = -1;
  std::string slave_;
};

constexpr uint32_t kVirtualTime = 10000;

// Runs the project in `dir` up to `max` instructions in a fresh emulator, from a state when
// one is given; returns the emulator after the run.
std::unique_ptr<Emulator> RunTo(const fs::path& dir, const Row& row, const std::string& com1,
                                uint64_t max, std::shared_ptr<const StateFile> state) {
  auto emu = std::make_unique<Emulator>();
  emu->base_folder = dir.string();
  emu->files.host.use_environment = false;
  emu->serial.use_environment = false;
  emu->serial.device_path[1] = com1;
  std::vector<std::string> words = {"korvane"};
  for (size_t at = 0; at < row.options.size();) {
    size_t end = row.options.find(' ', at);
    if (end == std::string::npos) end = row.options.size();
    words.push_back(row.options.substr(at, end - at));
    at = end + 1;
  }
  words.push_back(row.demo ? "demo" : "x");
  emu->SetArgs(words);
  emu->run.max_instructions = max;
  emu->run.virtual_time_instructions = kVirtualTime;
  emu->start_state = std::move(state);
  if (!emu->start_state)
    for (int code : row.keys) PushDeviceKey(*emu, code);
  EmuThreadMain(*emu);
  return emu;
}

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A project folder NAME.out (copied from `exe`), NAME.xcl, NAME.mem and drive C with IN.TXT
// and the folder LOGS.
void MakeProject(const fs::path& dir, const fs::path& exe, const std::string& name) {
  fs::create_directories(dir / "drives" / "C" / "LOGS");
  fs::copy_file(exe, dir / (name + ".out"));
  Write(dir / (name + ".xcl"), "");
  Write(dir / (name + ".mem"), "");
  std::string in_text;
  for (int i = 0; i < 4000; ++i) in_text += static_cast<char>('A' + i % 26);
  Write(dir / "drives/C/IN.TXT", in_text);
  Write(dir / "drives/C/LOGS/ONE.LOG", "1");
  // Directory listings carry the times of the entries: the same in every copy of the project,
  // whenever it was made (one time for the whole test program, so two projects made a moment
  // apart cannot fall on either side of a 2-second step of the DOS time).
  static const auto fixed = fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);
  for (const char* entry : {"drives/C/IN.TXT", "drives/C/LOGS/ONE.LOG", "drives/C/LOGS"})
    fs::last_write_time(dir / entry, fixed);
}

// Copies the project folder `from` to `to` with the times of its entries.
void CopyProject(const fs::path& from, const fs::path& to) {
  fs::copy(from, to, fs::copy_options::recursive);
  for (const auto& e : fs::recursive_directory_iterator(from))
    fs::last_write_time(to / fs::relative(e.path(), from), e.last_write_time());
}

std::string SavedBytes(Emulator& emu, const fs::path& path) {
  std::string error;
  EXPECT_TRUE(SaveState(emu, path.string(), error)) << error;
  return test::ReadHostFile(path.string());
}

std::vector<uint8_t> Screen(Emulator& emu) {
  std::vector<uint8_t> picture(kPageWidth * kShownHeight);
  CopyShownPicture(emu, picture.data());
  return picture;
}

// Loads `state_file` into a fresh emulator in `dir` and runs it to row.n: it must end as
// `whole` did in `straight`, files of drive C included.
void ExpectContinuesAs(Emulator& whole, const fs::path& straight, const fs::path& dir,
                       const std::string& state_file, const Row& row, const std::string& com1) {
  auto state = std::make_shared<StateFile>();
  std::string error;
  ASSERT_TRUE(ReadStateFile(state_file, *state, error)) << error;
  auto resumed = RunTo(dir, row, com1, row.n, state);
  EXPECT_EQ(resumed->exit.message[0], '\0') << resumed->exit.message;
  EXPECT_EQ(CurrentInstructionTotal(*resumed), row.n);
  EXPECT_TRUE(SavedBytes(whole, straight / "end.state") == SavedBytes(*resumed, dir / "end.state"))
      << "memory, registers, counters and devices";
  EXPECT_TRUE(Screen(whole) == Screen(*resumed));
  for (const char* file : {"drives/C/OUT.TXT", "drives/C/DEMO.TXT"})
    EXPECT_EQ(test::ReadHostFile((straight / file).string()),
              test::ReadHostFile((dir / file).string()))
        << file;
}

TEST(StateMatrix, ARunSavedAndLoadedAnywhereEndsAsTheUninterruptedRun) {
  const fs::path demo(KORVANE_DEMO_DIR);
  if (!fs::exists(demo / "demo.out")) GTEST_SKIP() << "the demo was not built: " << demo;
  test::FirmwareProject busy;
  busy.AddSource("busy.s", test::ReadHostFile(kDataDir + "/busy.s"));
  ASSERT_TRUE(busy.Assemble());
  Pty pty;
  ASSERT_FALSE(pty.slave().empty()) << "no pseudo-terminal";

  std::vector<int> digits;  // twenty digit keys, more than the firmware takes by K
  for (int i = 0; i < 20; ++i) digits.push_back(0x30 + i % 10);
  // Device codes: F2 0xF1, F3 0xF0, F4 0xEF, digits from 0x30.
  const Row rows[] = {
      {"the demo writes a file (F2): its drives are set up",
       true,
       "-v1",
       {0xF1},
       40000000,
       20000000},
      {"the demo lists drive C (F3) and shows page B (F4)",
       true,
       "-v1",
       {0xF0, 0xEF, 0x34},
       30000000,
       12345679},
      {"no display", false, "-v0 -por1", digits, 3000000, 1500001},
      {"16 colours", false, "-v1 -por1", digits, 3000000, 1500001},
      {"monochrome", false, "-v2 -por1", digits, 3000000, 1234567},
      {"256 colours, packed", false, "-v3 -por1", digits, 3000000, 1500001},
      {"256 colours, packed, Pelta", false, "-v4 -por1", digits, 3000000, 999999},
  };
  int index = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    // Three copies of the project: the straight run, the run to K and, copied from the
    // latter's folder after it, the run that goes on from the state.
    const fs::path root(busy.dir());
    const fs::path straight = root / ("s" + std::to_string(index));
    const fs::path first = root / ("f" + std::to_string(index));
    const fs::path second = root / ("c" + std::to_string(index));
    ++index;
    const std::string name = row.demo ? "demo" : "x";
    for (const fs::path& d : {straight, first})
      MakeProject(d, row.demo ? demo / "demo.out" : fs::path(busy.Path("x.out")), name);
    auto whole = RunTo(straight, row, pty.slave(), row.n, nullptr);
    auto part = RunTo(first, row, pty.slave(), row.k, nullptr);
    ASSERT_EQ(CurrentInstructionTotal(*part), row.k) << part->exit.message;
    SavedBytes(*part, first / "mid.state");
    if (!row.demo) {
      EXPECT_GE(part->serial.handles[1], 0) << "COM1 is open when the state is taken";
      EXPECT_NE(part->keys.queue.count, 0u) << "keys are waiting when the state is taken";
      EXPECT_NE(test::ReadHostFile((first / "drives/C/OUT.TXT").string()), "");
    }
    part.reset();  // closes its files, as a process that ended
    CopyProject(first, second);
    ExpectContinuesAs(*whole, straight, second, (second / "mid.state").string(), row, pty.slave());
  }
}

TEST(StateMatrix, StateFilesOfEveryVersionReadGoOnAsTheStraightRun) {
  // busy-vN.kst: busy.out run with -v3 under --virtual-time, saved at instruction 1500001 by
  // the build that wrote format version N. Every version this build reads needs its file.
  const Row row{"busy.out", false, "-v3", {}, 3000000, 1500001};
  test::FirmwareProject scratch;
  const fs::path root(scratch.dir());
  const fs::path exe = kDataDir + "/busy.out";
  MakeProject(root / "straight", exe, "x");
  MakeProject(root / "first", exe, "x");
  auto whole = RunTo(root / "straight", row, "", row.n, nullptr);
  // The drive's files as they stood when the states were taken.
  RunTo(root / "first", row, "", row.k, nullptr);
  for (uint32_t version = kOldestStateVersion; version <= kStateVersion; ++version) {
    const std::string file = "busy-v" + std::to_string(version) + ".kst";
    SCOPED_TRACE(file);
    const fs::path dir = root / file;
    CopyProject(root / "first", dir);
    ExpectContinuesAs(*whole, root / "straight", dir, kDataDir + "/" + file, row, "");
  }
}

}  // namespace
}  // namespace korvane
