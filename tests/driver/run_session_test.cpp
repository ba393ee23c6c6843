// The session controller: runs replaced in one process write the memory file as the run's
// state says and leave no thread or open file behind; a changed firmware file is seen.
#include "driver/run_session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "support/firmware_project.h"

namespace korvane {
namespace {

// Entries of a /proc/self folder: the process's open files or threads.
size_t Count(const char* folder) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

uint32_t MemoryFileWord(const test::FirmwareProject& p) {
  uint32_t v = 0;
  std::ifstream(p.Path("x.mem"), std::ios::binary).read(reinterpret_cast<char*>(&v), 4);
  return v;
}

class RunControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    project_.AddSnippet("");
    ASSERT_TRUE(project_.Assemble());
    const uint32_t marker = 0x11111111u;
    std::ofstream(project_.Path("x.mem"), std::ios::binary)
        .write(reinterpret_cast<const char*>(&marker), 4);
    setup_.base_folder = project_.dir();
    setup_.words = {"korvane", "x"};
  }
  // Starts the prepared run and holds it in its run loop (after start-up has restored the
  // memory file).
  static bool StartAndHold(RunController& runs) {
    runs.Start();
    bool resume = false;
    return runs.Hold(&resume) && runs.emu().exit.run_started;
  }
  static void WriteAbsd(RunController& runs, uint32_t v) {
    std::memcpy(runs.emu().mem.regions[kRegionAbsd].host, &v, 4);
  }

  test::FirmwareProject project_;
  RunSetup setup_;
};

TEST_F(RunControllerTest, ReplacedAndEndedRunsSaveTheMemoryFileAsTheStateSays) {
  const size_t files = Count("/proc/self/fd"), threads = Count("/proc/self/task");
  {
    RunController runs;
    std::string error;
    ASSERT_TRUE(runs.Prepare(setup_, nullptr, error)) << error;
    ASSERT_TRUE(StartAndHold(runs));
    Session* first = &runs.session();
    WriteAbsd(runs, 0x22222222u);
    // A restart replaces the run in this process; the held run is saved first.
    ASSERT_TRUE(runs.Restart(error)) << error;
    EXPECT_NE(&runs.session(), first);
    EXPECT_EQ(MemoryFileWord(project_), 0x22222222u);
    ASSERT_TRUE(StartAndHold(runs));
    uint32_t restored = 0;
    std::memcpy(&restored, runs.emu().mem.regions[kRegionAbsd].host, 4);
    EXPECT_EQ(restored, 0x22222222u) << "the new run read the saved file";

    struct Row {
      bool save;
      uint32_t expected;
      const char* why;
    } rows[] = {
        {false, 0x22222222u, "Exit: a host stop keeps the file"},
        {true, 0x33333333u, "Save and Exit: written from the held machine"},
    };
    for (const Row& r : rows) {
      ASSERT_TRUE(runs.Prepare(setup_, nullptr, error)) << r.why;
      ASSERT_TRUE(StartAndHold(runs)) << r.why;
      WriteAbsd(runs, 0x33333333u);
      ASSERT_TRUE(runs.End(r.save, error)) << error;
      EXPECT_EQ(runs.session().thread.state(), EmuThreadState::kEnded) << r.why;
      EXPECT_EQ(MemoryFileWord(project_), r.expected) << r.why;
      if (!r.save) {
        // Prepare ends an ended run again: nothing more is written.
        std::string ignored;
        runs.Prepare(setup_, nullptr, ignored);
        EXPECT_EQ(MemoryFileWord(project_), r.expected) << r.why;
      }
    }
    // A run that ended with a message keeps its file as it was.
    runs.Prepare(setup_, nullptr, error);
    ASSERT_TRUE(StartAndHold(runs));
    WriteAbsd(runs, 0x44444444u);
    std::strcpy(runs.emu().exit.message, "failed");
    ASSERT_TRUE(runs.End(true, error));
    EXPECT_EQ(MemoryFileWord(project_), 0x33333333u);
  }
  EXPECT_EQ(Count("/proc/self/fd"), files) << "logs and the wake descriptors are closed";
  EXPECT_EQ(Count("/proc/self/task"), threads) << "every emulation thread is joined";
}

TEST_F(RunControllerTest, AChangedFirmwareFileIsSeenUntilTheRunIsReplaced) {
  RunController runs;
  std::string error;
  ASSERT_TRUE(runs.Prepare(setup_, nullptr, error));
  runs.Start();
  EXPECT_FALSE(runs.FirmwareChanged());
  std::ofstream(project_.Path("x.out"), std::ios::binary | std::ios::app) << "more";
  EXPECT_TRUE(runs.FirmwareChanged());
  ASSERT_TRUE(runs.Restart(error));
  EXPECT_FALSE(runs.FirmwareChanged()) << "the new run reads the new file";
  std::filesystem::remove(project_.Path("x.out"));
  EXPECT_FALSE(runs.FirmwareChanged()) << "a file being replaced is not there yet";
}

}  // namespace
}  // namespace korvane
