// The bundled demo firmware end to end: keys in, picture, memory file and drive C out.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>
#include <string>
#include <vector>

#include "platform/png.h"
#include "support/firmware_project.h"
#include "support/host_io.h"

extern char** environ;

namespace korvane {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Runs korvane-run with the given arguments; returns its exit status (-1 if it did not exit).
int RunRunner(const std::vector<std::string>& args) {
  std::vector<std::string> all = {KORVANE_RUN_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class DemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::path demo(KORVANE_DEMO_DIR);
    if (!fs::exists(demo / "demo.out")) GTEST_SKIP() << "the demo was not built: " << demo;
    dir_ = fs::temp_directory_path() / ("korvane_demo_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "drives" / "C");
    for (const char* name : {"demo.out", "demo.tvx", "demo.xcl"})
      fs::copy_file(demo / name, dir_ / name);
    std::ofstream(dir_ / "demo.mem").close();  // a first run starts from an empty memory file
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  struct Shot {
    std::vector<uint8_t> rgb;
    uint32_t At(int x, int y) const {
      const uint8_t* p = &rgb[(static_cast<size_t>(y) * 640 + x) * 3];
      return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    }
  };

  // One session: arrows, digits 4 and 2, ENTER twice, F2 (write the file), Ctrl+X (save, exit).
  Shot RunSession(const std::string& png_name) {
    fs::path png = dir_ / png_name;
    int status = RunRunner({"--virtual-time", "--max-instructions", "400000000", "--keys",
                            "RIGHT RIGHT DOWN 4 2 ENTER ENTER F2 CTRL+X", "--screenshot",
                            png.string(), "--log", (dir_ / "run.log").string(),
                            (dir_ / "demo.tvx").string()});
    EXPECT_EQ(status, 0) << Slurp(dir_ / "run.log");
    Shot shot;
    std::string bytes = Slurp(png);
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    int w = 0, h = 0;
    std::string error;
    EXPECT_TRUE(DecodeStoredPngRgb(data, &w, &h, &shot.rgb, &error)) << error;
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    if (shot.rgb.size() != 640u * 480u * 3u) shot.rgb.assign(640 * 480 * 3, 0);
    return shot;
  }

  uint32_t SavedCounter() {
    std::string mem = Slurp(dir_ / "demo.mem");
    if (mem.size() < 4) return 0xFFFFFFFF;
    return static_cast<uint8_t>(mem[0]) | static_cast<uint8_t>(mem[1]) << 8 |
           static_cast<uint8_t>(mem[2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(mem[3])) << 24;
  }

  fs::path dir_;
};

constexpr uint32_t kBlack = 0x000000, kRed = 0xFF0000, kGreen = 0x00FF00, kYellow = 0xFFFF00,
                   kWhite = 0xFFFFFF, kGrey = 0x9292AB;  // palette 146: levels 4, 4, 2

TEST_F(DemoTest, KeysDrawCountAndWriteTheFileAndTheCounterSurvivesARestart) {
  Shot first = RunSession("first.png");
  struct Point {
    int x, y;
    uint32_t rgb;
    const char* why;
  } points[] = {
      {17, 8, kYellow, "title: the first row of K"},
      {96, 208, kRed, "cursor box moved from cell 10,25 to 12,26"},
      {103, 215, kRed, "cursor box, its far corner"},
      {80, 200, kBlack, "the old cursor cell was erased"},
      {84, 64, kWhite, "digit line: the 4 typed first"},
      {153, 62, kGreen, "counter's last digit is a 2 (bottom bar of the glyph)"},
      {0, 440, kGrey, "line above the soft-key row"},
      {64, 460, kGrey, "separator between the F1 and F2 soft keys"},
      {82, 416, kWhite, "status line: 'C:DEMO.TXT WRITTEN' begins with C"},
  };
  for (const Point& p : points)
    EXPECT_EQ(first.At(p.x, p.y), p.rgb) << p.why << " at " << p.x << "," << p.y;
  EXPECT_EQ(SavedCounter(), 2u);
  EXPECT_EQ(Slurp(dir_ / "drives" / "C" / "DEMO.TXT"), "ENTER PRESSES: 00002\r\n");

  // The second run starts from the saved counter and rewrites the file with the new count.
  Shot second = RunSession("second.png");
  EXPECT_EQ(SavedCounter(), 4u);
  EXPECT_EQ(Slurp(dir_ / "drives" / "C" / "DEMO.TXT"), "ENTER PRESSES: 00004\r\n");
  EXPECT_EQ(second.At(153, 62), kBlack) << "the counter now ends in 4, whose bottom row is clear";
  EXPECT_EQ(second.At(152 + 3, 56 + 4), kGreen) << "the 4's cross bar";
}

TEST_F(DemoTest, CtrlQEndsWithoutSavingTheCounter) {
  int status = RunRunner({"--virtual-time", "--max-instructions", "400000000", "--keys",
                          "ENTER CTRL+Q", "--log", (dir_ / "run.log").string(),
                          (dir_ / "demo.tvx").string()});
  EXPECT_EQ(status, 0) << Slurp(dir_ / "run.log");
  EXPECT_EQ(Slurp(dir_ / "demo.mem"), "") << "Ctrl+Q must leave the memory file as it was";
}

// With port1 mapped to a pseudo-terminal, the demo echoes what it receives.
TEST(DemoSerial, EchoesCharactersOnPort1) {
  test::FirmwareProject project("demo");
  const std::string src = std::string(KORVANE_SOURCE_DIR) + "/examples/demo/";
  project.AddSource("demo.s", test::ReadHostFile(src + "demo.s"));
  project.AddSource("font.s", test::ReadHostFile(src + "font.s"));
  ASSERT_TRUE(project.Assemble());
  test::ChildEnv env{{"KORVANE_COM"}, {"KORVANE_COM1=pty"}};
  ASSERT_TRUE(project.Start({"--timeout-ms", "60000", "--", "korvane", "-v1", "-por1",
                             project.ProjectPath()},
                            env));
  static const std::regex kLine("COM1 is (/dev/pts/[0-9]+)\n");
  std::string pts;
  for (int i = 0; i < 1500 && pts.empty() && !project.Ended(); ++i) {
    std::smatch m;
    std::string log = project.ReadFile("aaa.txt");
    if (std::regex_search(log, m, kLine)) pts = m[1];
    else std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_FALSE(pts.empty()) << "no \"COM1 is /dev/pts/N\" line in the log";
  int term = ::open(pts.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(term, 0) << pts;
  for (uint8_t c : {uint8_t{'K'}, uint8_t{'9'}, uint8_t{0x7F}}) {
    ASSERT_EQ(::write(term, &c, 1), 1);
    EXPECT_EQ(test::ReadOne(term, 5000), c) << "no echo of " << int{c};
  }
  ::close(term);  // the project's destructor ends the run
}

}  // namespace
}  // namespace korvane
