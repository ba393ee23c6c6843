// Save states and input replay on the bundled demo: a run continued from a state, and a
// replayed session, end byte for byte where an uninterrupted run ends; damaged files are refused.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/digest.h"

extern char** environ;

namespace korvane {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void Spit(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

class StateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::path demo(KORVANE_DEMO_DIR);
    if (!fs::exists(demo / "demo.out")) GTEST_SKIP() << "the demo was not built: " << demo;
    dir_ = fs::temp_directory_path() / ("korvane_state_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "drives" / "C");
    for (const char* name : {"demo.out", "demo.tvx", "demo.xcl"})
      fs::copy_file(demo / name, dir_ / name);
    Spit(dir_ / "demo.mem", "");
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // Runs korvane-run on the demo with `args`; standard error goes to err.txt.
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), KORVANE_RUN_PATH);
    args.insert(args.end(), {"--log", (dir_ / "run.log").string(), (dir_ / "demo.tvx").string()});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string err = (dir_ / "err.txt").string();
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
        waitpid(pid, &status, 0) == pid && WIFEXITED(status))
      status = WEXITSTATUS(status);
    posix_spawn_file_actions_destroy(&actions);
    return status;
  }
  std::string Path(const char* name) { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST_F(StateTest, ARunContinuedFromAStateEndsAsTheUninterruptedRun) {
  const std::vector<std::string> keys = {"--virtual-time", "--keys", "RIGHT 4 2"};
  auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), keys.begin(), keys.end());
    return more;
  };
  ASSERT_EQ(Run(with({"--max-instructions", "20000000", "--save-state", Path("full.kst"),
                      "--screenshot", Path("full.png")})),
            3);
  ASSERT_EQ(Run(with({"--max-instructions", "10000000", "--save-state", Path("half.kst")})), 3);
  ASSERT_EQ(
      Run({"--virtual-time", "--max-instructions", "20000000", "--load-state", Path("half.kst"),
           "--save-state", Path("resumed.kst"), "--screenshot", Path("resumed.png")}),
      3)
      << Slurp(Path("err.txt"));
  // The whole machine (registers, every region, display, devices) and the picture agree.
  EXPECT_TRUE(Slurp(Path("full.kst")) == Slurp(Path("resumed.kst")));
  EXPECT_TRUE(Slurp(Path("full.png")) == Slurp(Path("resumed.png")));
  EXPECT_NE(Slurp(Path("half.kst")), Slurp(Path("full.kst")));
}

TEST_F(StateTest, ARecordedSessionReplaysExactly) {
  // Wall clock: the replay must also give the firmware the recorded clock readings.
  ASSERT_EQ(Run({"--max-instructions", "30000000", "--keys", "RIGHT DOWN 4 2 ENTER", "--record",
                 Path("rec.txt"), "--save-state", Path("rec.kst")}),
            3);
  const std::string recorded_log = Slurp(Path("run.log"));
  ASSERT_EQ(Run({"--replay", Path("rec.txt"), "--save-state", Path("replay.kst")}), 3)
      << Slurp(Path("err.txt"));
  EXPECT_TRUE(Slurp(Path("rec.kst")) == Slurp(Path("replay.kst")));
  EXPECT_NE(Slurp(Path("rec.txt")).find("\nkey "), std::string::npos);

  // A recording whose run executed nothing replays as a run that ends before it starts.
  std::string none = Slurp(Path("rec.txt"));
  none = none.substr(0, none.find("virtual-time"));
  Spit(Path("none.txt"), none + "virtual-time 0\nend 0\n");
  EXPECT_EQ(Run({"--replay", Path("none.txt"), "--timeout-ms", "60000"}), 3);
  EXPECT_NE(Slurp(Path("run.log")).find("Instructions= 0,"), std::string::npos);

  // A recording of another project line is refused.
  std::string rec = Slurp(Path("rec.txt"));
  rec.replace(rec.find("word -v1"), 8, "word -v2");
  Spit(Path("other.txt"), rec);
  EXPECT_EQ(Run({"--replay", Path("other.txt")}), 2);
  EXPECT_NE(Slurp(Path("err.txt")).find("was recorded with the project line"), std::string::npos);
}

TEST_F(StateTest, DamagedStateFilesAreRefusedWithTheirMessage) {
  ASSERT_EQ(
      Run({"--virtual-time", "--max-instructions", "2000000", "--save-state", Path("good.kst")}),
      3);
  const std::string good = Slurp(Path("good.kst"));
  ASSERT_GT(good.size(), 100u);
  // Rewrites the trailing CRC so that a change reaches the checks behind it.
  auto resealed = [](std::string s) {
    const uint32_t crc = Crc32(s.data(), s.size() - 4);
    for (int i = 0; i < 4; ++i) s[s.size() - 4 + i] = static_cast<char>(crc >> (8 * i));
    return s;
  };
  auto flipped = [&](size_t at) {
    std::string s = good;
    s[at] ^= 1;
    return s;
  };
  // The first section ("MEMY") starts at byte 48; its first saved field is region 1's flag.
  std::string longer = good.substr(0, good.size() - 4);
  longer.insert(longer.size(), 1, '\0');  // one byte more in the last section
  const uint64_t last_len_at = longer.rfind("INTC") + 4;
  longer[last_len_at] = static_cast<char>(longer[last_len_at] + 1);
  longer = resealed(longer + "    ");
  struct Case {
    const char* name;
    std::string bytes;
    int status;
    const char* message;
  } cases[] = {
      {"empty", "", 2, "is not a Korvane state file"},
      {"magic", flipped(0), 2, "is not a Korvane state file"},
      {"version", resealed(good.substr(0, 8) + "\x63" + good.substr(9)), 2,
       "was made by version 99; this is version "},
      {"checksum", flipped(good.size() / 2), 2, "checksum does not match"},
      {"cut", good.substr(0, good.size() / 2), 2, "checksum does not match"},
      {"firmware", resealed(flipped(20)), 1, "belongs to another firmware"},
      {"section length", resealed(flipped(57)), 2, "runs past the end"},
      {"layout", resealed(flipped(48 + 12 + 1)), 1, "region 1 (TEXT) starts elsewhere"},
      {"section size", longer, 1, "the section is longer than its contents"},
  };
  for (const Case& c : cases) {
    Spit(Path("bad.kst"), c.bytes);
    EXPECT_EQ(Run({"--load-state", Path("bad.kst")}), c.status) << c.name;
    const std::string err = Slurp(Path("err.txt"));
    EXPECT_NE(err.find(c.message), std::string::npos) << c.name << ": " << err;
  }
  EXPECT_EQ(Run({"--load-state", Path("missing.kst")}), 2);
  EXPECT_NE(Slurp(Path("err.txt")).find("cannot read the state file"), std::string::npos);
}

}  // namespace
}  // namespace korvane
