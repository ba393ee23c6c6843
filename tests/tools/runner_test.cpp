// Tests of korvane-run: exit statuses, limits, dumps, log choice and the project file's
// folder, by running the built tool; the exit-request statuses run the same code in-process
// with a key pushed before the start.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "image/coff_builder.h"
#include "services/keyboard.h"
#include "support/firmware_project.h"
#include "support/snippet.h"

// The runner's own pieces, compiled into this test so the in-process cases run exactly the
// code of the tool.
#include "../../tools/run/profile_output.cpp"
#include "../../tools/run/runner.cpp"

namespace korvane::test {
namespace {

using ::testing::HasSubstr;

constexpr uint32_t kBranchToSelf = 0x08000000;
constexpr uint32_t kRet = 0x0A000000;
constexpr uint32_t kCallxAbsolute = 0x86003000;  // callx with a 32-bit address word after it

std::vector<uint8_t> Words(const std::vector<uint32_t>& words) {
  std::vector<uint8_t> b;
  for (uint32_t w : words)
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(w >> (8 * i)));
  return b;
}

// A project folder with x.tvx, x.out (the given text), x.xcl and a 4-byte x.mem.
struct Project {
  ProjectDir dir;
  CoffImage image;
  explicit Project(const std::vector<uint32_t>& text) {
    image.text = Words(text);
    image.data = {1, 2, 3, 4, 0xAB, 0xCD, 0xEF, 0x10};
    image.AddSymbol("table", image.DataStart());
    image.AddSymbol("x$readkeys", 0x1000C);
    dir.Write("x.mem", std::vector<uint8_t>{9, 9, 9, 9});
    dir.WriteProject(image);
    dir.Write("x.tvx", "korvane -v0 x\nthe second line is not read\n");
  }
};

TEST(Runner, BadUsageIsStatus2) {
  ProjectDir cwd;
  const std::vector<std::vector<std::string>> rows = {
      {},                                      // nothing to run
      {"--frobnicate", "x.tvx"},               // unknown option
      {"--max-instructions", "ten", "x.tvx"},  // not a number
      {"--max-instructions", "-5", "x.tvx"},   // not a count
      {"--timeout-ms"},                        // value missing
      {"--dump", "table", "x.tvx"},            // no length
      {"--dump", "table:0", "x.tvx"},          // empty dump
      {"a.tvx", "b.tvx"},                      // two project files
      {"--"},                                  // no words after --
      {"missing.tvx"},                         // project file not found
      {"."},                                   // a folder opens but is no project file
      {"--help=yes"},                          // --help takes no value
      {"--profile-format", "svg", "x.tvx"},    // neither table nor folded
  };
  for (const auto& args : rows) {
    ToolRun r = RunKorvaneRun(args, cwd.dir());
    EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
    EXPECT_THAT(r.err, HasSubstr("korvane-run: ")) << testing::PrintToString(args);
  }
}

// The window runs an empty project line too: the emulation ends with the usage text. A carriage
// return before the line feed is dropped as the window's text-mode read drops it.
TEST(Runner, ProjectLineIsRunAsTheWindowRunsIt) {
  ProjectDir dir;
  dir.Write("empty.tvx", std::string());
  ToolRun empty = RunKorvaneRun({"empty.tvx"}, dir.dir());
  EXPECT_EQ(empty.status, 1) << empty.err;
  EXPECT_THAT(empty.err, HasSubstr("USAGE> Korvane [options] project"));

  // More than ten words: cut to ten the line would lose its project name, so it is refused.
  dir.Write("long.tvx", "korvane -v0 -dk -dr -di -dm -dc -w -i -sp x\n");
  ToolRun long_line = RunKorvaneRun({"long.tvx"}, dir.dir());
  EXPECT_EQ(long_line.status, 2);
  EXPECT_THAT(long_line.err, HasSubstr("more than 10 words"));

  Project p({kBranchToSelf});
  p.dir.Write("crlf.tvx", "korvane -v0 x\r\n");
  ToolRun crlf = RunKorvaneRun({"--max-instructions", "10", "crlf.tvx"}, p.dir.dir());
  EXPECT_EQ(crlf.status, 3) << crlf.err;
  EXPECT_THAT(ReadHostFile(p.dir.Path("aaa.txt")), HasSubstr("argv[2] \"x\n\"\n"));
}

TEST(Runner, LimitsStopWithStatus3WithoutSavingTheMemoryFile) {
  Project p({kBranchToSelf});
  ProjectDir elsewhere;  // started from another folder: names resolve next to x.tvx
  struct Row {
    const char* why;
    std::vector<std::string> args;
  };
  const Row rows[] = {
      {"instruction limit", {"--max-instructions", "5000", p.dir.Path("x.tvx")}},
      {"wall-clock limit", {"--timeout-ms=50", p.dir.Path("x.tvx")}},
      {"words given directly",
       {"--max-instructions", "10", "--", "korvane", "-v0", p.dir.Path("x")}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    ToolRun r = RunKorvaneRun(row.args, elsewhere.dir());
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.err, "");
    std::string log =
        ReadHostFile((row.args.back() == p.dir.Path("x") ? elsewhere : p.dir).Path("aaa.txt"));
    EXPECT_THAT(log, HasSubstr(" EXIT REQUESTED\n"));
    EXPECT_THAT(log, HasSubstr("Elapsed time: "));
    EXPECT_EQ(p.dir.Read("x.mem"), (std::vector<uint8_t>{9, 9, 9, 9}));
  }
}

TEST(Runner, FatalEndIsStatus1WithTheMessageOnStandardError) {
  Project p({0x00000000});  // no such instruction
  ProjectDir elsewhere;
  ToolRun r = RunKorvaneRun({p.dir.Path("x.tvx")}, elsewhere.dir());
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(r.err.empty());
  EXPECT_THAT(ReadHostFile(p.dir.Path("aaa.txt")), HasSubstr("MsgExit: "));
}

TEST(Runner, DumpsAndLogToStandardOutput) {
  Project p({kBranchToSelf});
  char data_address[16];
  std::snprintf(data_address, sizeof data_address, "0x%X", p.image.DataStart() + 4);
  ToolRun r = RunKorvaneRun({"--log", "-", "--max-instructions", "100", "--dump", "table:6",
                             "--dump", std::string(data_address) + ":2", p.dir.Path("x.tvx")},
                            p.dir.dir());
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Project Version= 0\n"));  // the log went to standard output
  EXPECT_THAT(r.out,
              HasSubstr("\ntable: 01 02 03 04 ab cd\n" + std::string(data_address) + ": ab cd\n"));
  EXPECT_FALSE(p.dir.Exists("aaa.txt"));

  ToolRun bad = RunKorvaneRun(
      {"--max-instructions", "100", "--dump", "nosuch:4", p.dir.Path("x.tvx")}, p.dir.dir());
  EXPECT_EQ(bad.status, 2);
  EXPECT_THAT(bad.err, HasSubstr("no symbol nosuch"));
}

TEST(Runner, LogFileNameIsRelativeToWhereTheToolStarted) {
  Project p({kBranchToSelf});
  ProjectDir caller;
  ToolRun r = RunKorvaneRun({"--log", "run.log", "--max-instructions", "10", p.dir.Path("x.tvx")},
                            caller.dir());
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_THAT(ReadHostFile(caller.Path("run.log")), HasSubstr("Project Version="));
}

// The reference image made by a real tool chain runs headless with the loader's log lines.
TEST(Runner, ReferenceSampleRuns) {
  std::string fixtures = FixturesDir();
  ASSERT_FALSE(fixtures.empty()) << "tests/data/fixtures is missing from this clone";
  ProjectDir dir;
  dir.Write("sample.out", ReadHostFile(fixtures + "/sample/sample.out"));
  dir.Write("sample.xcl", std::string());
  dir.Write("sample.mem", std::string());
  dir.Write("sample.tvx", "korvane sample\n");
  ToolRun r = RunKorvaneRun(
      {"--max-instructions", "20000", "--dump", "enter_count:4", "sample.tvx"}, dir.dir());
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(r.out, "enter_count: 00 00 00 00\n");  // no key pressed: ENTER never counted
  const std::string log = ReadHostFile(dir.Path("aaa.txt"));
  EXPECT_THAT(log, HasSubstr("\nMODULE keyboard_library: TEXT=0001004C..00010053  "));
  EXPECT_THAT(log, HasSubstr("\nN_min=00010069, N_max=0001006B\n"));
  EXPECT_THAT(log, HasSubstr("Project Version= 7\n"));
}

// The firmware reads keys in a loop; a key pushed before the start asks for the end.
TEST(Runner, ExitRequestIsStatus0AndSavesOnlyForCode1) {
  struct Row {
    const char* why;
    int device_key;
    bool saved;
  };
  const Row rows[] = {
      {"Ctrl+X: stop and save", 0xC5, true},
      {"Ctrl+Q: stop without saving", 0xCC, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    // callx x$readkeys; b back to the call; ret (x$readkeys itself at 0x1000C).
    Project p({kCallxAbsolute, 0x1000C, 0x08FFFFF8, kRet});
    run::RunnerConfig config;
    config.words = {"korvane", "-v0", p.dir.Path("x")};
    config.log_path = p.dir.Path("run.log");
    config.timeout_ms = 20000;  // only a safety net: the key ends the run at once
    const int key = row.device_key;
    config.before_run.push_back([key](Emulator& emu) { PushDeviceKey(emu, key); });
    ProjectDir out;
    std::FILE* out_file = std::fopen(out.Path("out").c_str(), "w");
    std::FILE* err_file = std::fopen(out.Path("err").c_str(), "w");
    int status = run::RunEmulation(config, out_file, err_file);
    std::fclose(out_file);
    std::fclose(err_file);
    EXPECT_EQ(status, 0) << ReadHostFile(out.Path("err"));
    // The area is the absolute-data section (64 bytes) + 16, all zero after an empty restore.
    EXPECT_EQ(p.dir.Read("x.mem").size(), row.saved ? 80u : 4u);
  }
}

}  // namespace
}  // namespace korvane::test
