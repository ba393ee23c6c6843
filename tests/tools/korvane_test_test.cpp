// korvane-test: scenario files, choosing scenarios by filter and shard, and whole suites run
// end to end against the demo firmware.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "platform/png.h"
#include "suite.h"
#include "support/firmware_project.h"

extern char** environ;

namespace korvane {
namespace {

namespace fs = std::filesystem;
using test_tool::Entry;
using ::testing::HasSubstr;

class TempDir {
 public:
  TempDir() {
    std::string t = (fs::temp_directory_path() / "korvane_kt_XXXXXX").string();
    path_ = ::mkdtemp(t.data()) ? t : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  fs::path operator/(const std::string& name) const { return fs::path(path_) / name; }
  void Write(const std::string& name, const std::string& text) const {
    fs::create_directories((*this / name).parent_path());
    std::ofstream(*this / name, std::ios::binary) << text;
  }

 private:
  std::string path_;
};

// Runs korvane-test; its standard output and error go to `output`, and the project copies of
// failing scenarios, which it keeps, go to the folder of `output` (through TMPDIR).
int RunKorvaneTest(std::vector<std::string> args, const fs::path& output) {
  std::vector<std::string> env = {"TMPDIR=" + output.parent_path().string()};
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("TMPDIR=", 0) != 0) env.push_back(*e);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  args.insert(args.begin(), KORVANE_TEST_PATH);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (rc != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Whether `xml` follows the common JUnit schema; skips the test when xmllint is missing.
bool ValidJUnit(const fs::path& xml) {
  const std::string schema = std::string(KORVANE_SOURCE_DIR) + "/tests/tools/junit.xsd";
  const std::string cmd =
      "xmllint --noout --schema '" + schema + "' '" + xml.string() + "' 2>/dev/null";
  return std::system(cmd.c_str()) == 0;
}

bool HaveXmllint() { return std::system("xmllint --version >/dev/null 2>&1") == 0; }

TEST(ScenarioFile, ProblemsNameTheFileTheLineAndWhatIsWrong) {
  TempDir dir;
  const struct {
    std::string text;
    const char* error;
  } cases[] = {
      {"project = \"p.tvx\"\nname = 5\n", ":2: 'name' must be a string"},
      {"project = \"p.tvx\n", ":1: "},  // unterminated string: toml11's own words
      {"project = \"p\"\ncolour = 1\n[[step]]\nkeys = \"A\"\n", ":2: unknown key 'colour'"},
      {"[[step]]\nkeys = \"A\"\n", ":1: no 'project'"},
      {"project = \"p\"\n", "no steps"},
      {"project = \"p\"\n[[step]]\nbeep = 1\n", ":3: unknown step 'beep'"},
      {"project = \"p\"\n[[step]]\nexit_code = 9\n", ":3: 'exit_code' must be from 0 to 3"},
      {"project = \"p\"\n[[step]]\nexit_code = 0\n[[step]]\nkeys = \"A\"\n",
       ":5: keys after a check"},
      {"project = \"p\"\n[[step]]\nmemory = { at = \"x\", bytes = \"1 2\" }\n",
       ":3: 'bytes' must be hex pairs"},
      {"project = \"p\"\n[[step]]\nserial = { com = 1 }\n", "'serial' needs the field 'sent'"},
      {"project = \"p\"\n[[step]]\nfile = { path = \"DEMO.TXT\", contains = \"x\" }\n",
       ":3: 'path' must start with a drive letter"},
      // Refused before parsing: the parser recurses per level and slows down quadratically.
      {"project = \"p\"\nx = " + std::string(100000, '[') + std::string(100000, ']'),
       ":2: arrays and tables nested more than 32 deep"},
      {"project = \"p\"\nx" + std::string(10000, '.') + " = 1\n", ":2: more than 4096 tables"},
  };
  for (const auto& c : cases) {
    dir.Write("s.toml", c.text);
    test_tool::Scenario s;
    std::string error;
    EXPECT_FALSE(test_tool::LoadScenario((dir / "s.toml").string(), s, error)) << c.text;
    EXPECT_THAT(error, HasSubstr((dir / "s.toml").string() + ":")) << c.text;
    EXPECT_THAT(error, HasSubstr(c.error)) << c.text;
  }
}

TEST(ScenarioFile, StepsMakeRunsOfInputThenChecks) {
  TempDir dir;
  dir.Write("s.toml",
            "project = \"p.tvx\"\ntags = [\"a\"]\n"
            "[[step]]\nkeys = \"ENTER\"\n[[step]]\nwait_ms = 500\n[[step]]\nkeys = \"CTRL+X\"\n"
            "[[step]]\nsend = { com = 2, text = \"AT\\r\" }\n[[step]]\nexit_code = 0\n"
            "[[step]]\nrestart = true\n[[step]]\nscreen = \"g/x.png\"\n");
  test_tool::Scenario s;
  std::string error;
  ASSERT_TRUE(test_tool::LoadScenario((dir / "s.toml").string(), s, error)) << error;
  EXPECT_EQ(s.name, "s");
  ASSERT_EQ(s.runs.size(), 2u);
  EXPECT_EQ(s.runs[0].keys, "ENTER wait:500 CTRL+X");
  ASSERT_EQ(s.runs[0].serial_send.size(), 1u);
  EXPECT_EQ(s.runs[0].serial_send[0].second, "AT\r");
  ASSERT_EQ(s.runs[1].checks.size(), 1u);
  EXPECT_EQ(s.runs[1].checks[0].where, (dir / "g/x.png").string());
}

TEST(Shards, CoverTheChosenScenariosOnceAndEvenly) {
  std::vector<Entry> entries(10);
  for (int i = 0; i < 10; ++i) {
    entries[i].scenario.name = "s" + std::to_string(9 - i);  // not in name order
    if (i % 2 == 0) entries[i].scenario.tags = {"even"};
  }
  for (const auto& filters : {std::vector<std::string>{}, std::vector<std::string>{"even"}}) {
    const size_t chosen = filters.empty() ? 10 : 5;
    for (int count : {1, 2, 3, 4, 7, 12}) {
      std::map<std::string, int> seen;
      size_t smallest = 99, largest = 0;
      for (int index = 1; index <= count; ++index) {
        auto shard = test_tool::SelectEntries(entries, filters, index, count);
        smallest = std::min(smallest, shard.size());
        largest = std::max(largest, shard.size());
        for (const Entry* e : shard) ++seen[e->scenario.name];
      }
      EXPECT_EQ(seen.size(), chosen) << count << " shards";
      for (const auto& [name, n] : seen) EXPECT_EQ(n, 1) << name << " in " << count << " shards";
      EXPECT_LE(largest - smallest, 1u) << count << " shards";
    }
  }
  EXPECT_EQ(test_tool::SelectEntries(entries, {"s1*"}, 1, 1).size(), 1u);
}

class SuiteRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(fs::path(KORVANE_DEMO_DIR) / "demo.out"))
      GTEST_SKIP() << "the demo was not built";
  }
  std::vector<std::string> Args(std::vector<std::string> extra) {
    std::vector<std::string> a = {"--jobs", "2", "--project-dir", KORVANE_DEMO_DIR};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  }
  TempDir dir_;
};

TEST_F(SuiteRun, FailuresAreClearAndDoNotStopTheOthers) {
  const std::string head = "project = \"demo.tvx\"\nfresh_memory = true\n";
  dir_.Write("suite/good.toml", head +
                                    "[[step]]\nkeys = \"CTRL+Q\"\n[[step]]\n"
                                    "memory = { at = \"cursor_x\", bytes = \"0a 00 00 00\" }\n");
  dir_.Write("suite/screen.toml", head +
                                      "[[step]]\nkeys = \"CTRL+Q\"\n[[step]]\n"
                                      "screen = \"golden/white.png\"\n");
  dir_.Write("suite/hang.toml", head + "max_instructions = 3000000\n[[step]]\nexit_code = 0\n");
  dir_.Write("suite/broken.toml", "project = \n");
  dir_.Write("suite/message.toml", head + "options = [\"-zz\"]\n[[step]]\nkeys = \"CTRL+Q\"\n");
  std::vector<uint8_t> white(640 * 480 * 3, 255);
  fs::create_directories(dir_ / "suite/golden");
  ASSERT_TRUE(
      WritePngRgb((dir_ / "suite/golden/white.png").string(), 640, 480, white.data(), nullptr));
  const fs::path report = dir_ / "report/junit.xml", out = dir_ / "out.txt";

  EXPECT_EQ(RunKorvaneTest(Args({"--junit", report.string(), (dir_ / "suite").string()}), out), 1);
  const std::string text = test::ReadHostFile(out.string());
  EXPECT_THAT(text, HasSubstr("PASS  good"));
  EXPECT_THAT(text, HasSubstr("FAIL  screen"));
  EXPECT_THAT(text, HasSubstr("screen differs from"));
  EXPECT_THAT(text, HasSubstr("FAIL  hang"));
  EXPECT_THAT(text, HasSubstr("stopped at its limit (--max-instructions 3000000)"));
  EXPECT_THAT(text, HasSubstr("ERROR broken"));
  EXPECT_THAT(text, HasSubstr("broken.toml:1:"));
  EXPECT_THAT(text, HasSubstr("the run ended with the exit message: USAGE> Korvane"));
  EXPECT_THAT(text, HasSubstr("5 scenarios: 1 passed, 3 failed, 1 errors"));
  EXPECT_TRUE(fs::exists(dir_ / "report/screen-run1-white.actual.png"));
  std::string diff_bytes =
      test::ReadHostFile((dir_ / "report/screen-run1-white.diff.png").string());
  std::vector<uint8_t> diff_png(diff_bytes.begin(), diff_bytes.end()), diff;
  int w = 0, h = 0;
  ASSERT_TRUE(DecodeStoredPngRgb(diff_png, &w, &h, &diff, nullptr));
  EXPECT_EQ(diff[0], 255) << "the black corner differs from white: red";
  EXPECT_EQ(diff[1], 0);
  if (HaveXmllint()) {
    EXPECT_TRUE(ValidJUnit(report)) << test::ReadHostFile(report.string());
  }

  // A deliberate change: --update-golden takes the new picture, after which the check passes.
  const std::vector<std::string> only_screen = {"--filter", "screen", (dir_ / "suite").string()};
  auto update = Args(only_screen);
  update.push_back("--update-golden");
  EXPECT_EQ(RunKorvaneTest(update, out), 0) << test::ReadHostFile(out.string());
  EXPECT_EQ(RunKorvaneTest(Args(only_screen), out), 0) << test::ReadHostFile(out.string());
}

TEST_F(SuiteRun, BadUsageEndsWithStatusTwo) {
  const fs::path out = dir_ / "out.txt";
  const std::vector<std::vector<std::string>> bad = {
      {},                                      // no suite
      {"--shard", "4/3", KORVANE_SOURCE_DIR},  // shard beyond the count
      {"--shard", "1/0", KORVANE_SOURCE_DIR},  // no shards at all
      {"--jobs", "0", KORVANE_SOURCE_DIR},     // no worker
      {"--colour", KORVANE_SOURCE_DIR},        // unknown option
      {(dir_ / "no-such-folder").string()},    // nothing there
      {"--merge-coverage", (dir_ / "m.info").string(),
       KORVANE_SOURCE_DIR "/README.md"},       // not a tracefile
      {"--coverage", "", KORVANE_SOURCE_DIR},  // no folder
  };
  for (const auto& args : bad) {
    EXPECT_EQ(RunKorvaneTest(args, out), 2) << test::ReadHostFile(out.string());
    EXPECT_THAT(test::ReadHostFile(out.string()), HasSubstr("korvane-test: "));
  }
}

TEST_F(SuiteRun, DemoSuiteShardsRunEveryScenarioOnceInValidJUnit) {
  const fs::path suite = fs::path(KORVANE_SOURCE_DIR) / "examples/demo/scenarios";
  std::map<std::string, int> seen;
  for (const auto& f : fs::directory_iterator(suite))
    if (f.path().extension() == ".toml") seen[f.path().stem().string()] = 0;
  ASSERT_GE(seen.size(), 10u);
  for (int i = 1; i <= 3; ++i) {
    const fs::path xml = dir_ / ("shard" + std::to_string(i) + ".xml"), out = dir_ / "out.txt";
    EXPECT_EQ(RunKorvaneTest(Args({"--shard", std::to_string(i) + "/3", "--junit", xml.string(),
                                   suite.string()}),
                             out),
              0)
        << test::ReadHostFile(out.string());
    const std::string report = test::ReadHostFile(xml.string());
    static const std::regex kCase("<testcase name=\"([^\"]+)\"");
    for (std::sregex_iterator it(report.begin(), report.end(), kCase), end; it != end; ++it)
      ++seen[(*it)[1]];
    if (HaveXmllint()) {
      EXPECT_TRUE(ValidJUnit(xml)) << report;
    }
  }
  for (const auto& [name, n] : seen) EXPECT_EQ(n, 1) << name;
}

TEST_F(SuiteRun, CoverageOfShardsMergesIntoThatOfTheWholeSuite) {
  const std::string head = "project = \"demo.tvx\"\nfresh_memory = true\nvirtual_time = 10000\n";
  const char* keys[] = {"CTRL+Q", "1 CTRL+Q", "ENTER ENTER CTRL+Q", "RIGHT 4 2 CTRL+Q"};
  for (int k = 0; k < 4; ++k)
    dir_.Write("suite/s" + std::to_string(k) + ".toml",
               head + "[[step]]\nkeys = \"" + keys[k] + "\"\n");
  const std::string suite = (dir_ / "suite").string();
  const fs::path out = dir_ / "out.txt";
  ASSERT_EQ(RunKorvaneTest(Args({"--coverage", (dir_ / "whole").string(), suite}), out), 0)
      << test::ReadHostFile(out.string());
  std::vector<std::string> merge = {"--merge-coverage", (dir_ / "merged.info").string()};
  for (int i = 1; i <= 3; ++i) {
    const std::string shard = (dir_ / ("shard" + std::to_string(i))).string();
    ASSERT_EQ(RunKorvaneTest(
                  Args({"--shard", std::to_string(i) + "/3", "--coverage", shard, suite}), out),
              0)
        << test::ReadHostFile(out.string());
    merge.push_back(shard + "/suite.info");
  }
  ASSERT_EQ(RunKorvaneTest(merge, out), 0) << test::ReadHostFile(out.string());
  const std::string whole = test::ReadHostFile((dir_ / "whole/suite.info").string());
  EXPECT_THAT(whole, HasSubstr("SF:demo.s\n"));
  // ENTER and the digits redraw the counter; nothing presses F2, which writes the file.
  EXPECT_TRUE(std::regex_search(whole, std::regex("\nFNDA:[1-9][0-9]*,draw_counter\n"))) << whole;
  EXPECT_THAT(whole, HasSubstr("\nFNDA:0,write_file\n"));
  EXPECT_EQ(test::ReadHostFile((dir_ / "merged.info").string()), whole);
}

}  // namespace
}  // namespace korvane
