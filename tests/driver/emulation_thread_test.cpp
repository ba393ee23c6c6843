// The emulation thread object and emulators side by side in one process.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "driver/emulation_thread.h"
#include "driver/emulator.h"
#include "support/firmware_project.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;

// A project "x" in its own folder whose memory file starts with `marker`, run through a
// relative project name resolved in the folder, never through the process's directory.
struct LoopProject {
  explicit LoopProject(uint32_t marker, const char* option_line = nullptr) {
    project.AddSnippet("");
    EXPECT_TRUE(project.Assemble());
    std::ofstream(project.Path("x.mem"), std::ios::binary)
        .write(reinterpret_cast<const char*>(&marker), 4);
    if (option_line) std::ofstream(project.Path("x.opt")) << option_line << "\n";
    emu.base_folder = project.dir();
    emu.SetArgs({"korvane", "x"});
  }
  test::FirmwareProject project;
  Emulator emu;
};

template <typename Pred>
bool WaitUntil(Pred pred) {
  for (auto give_up = std::chrono::steady_clock::now() + 10s;
       std::chrono::steady_clock::now() < give_up; std::this_thread::sleep_for(1ms))
    if (pred()) return true;
  return false;
}

TEST(EmulationThread, StatesFromStartThroughPauseToTheJoinedEnd) {
  LoopProject p(0);
  EmulationThread thread(p.emu);
  EXPECT_EQ(thread.state(), EmuThreadState::kIdle);
  EXPECT_TRUE(thread.WaitFor(0ms)) << "nothing to wait for before the start";
  ASSERT_TRUE(thread.Start());
  EXPECT_FALSE(thread.Start()) << "a thread object runs once";
  EXPECT_TRUE(WaitUntil([&] { return thread.state() == EmuThreadState::kRunning; }));

  thread.Pause();
  ASSERT_TRUE(WaitUntil([&] { return thread.state() == EmuThreadState::kPaused; }));
  const int32_t at_pause = p.emu.cpu.icount;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(p.emu.cpu.icount, at_pause) << "a paused run executes nothing";
  EXPECT_FALSE(thread.WaitFor(10ms));

  thread.Resume();
  EXPECT_TRUE(WaitUntil([&] { return thread.state() == EmuThreadState::kRunning; }));
  std::this_thread::sleep_for(5ms);
  thread.Pause();
  ASSERT_TRUE(WaitUntil([&] { return thread.state() == EmuThreadState::kPaused; }));
  EXPECT_NE(p.emu.cpu.icount, at_pause) << "resumed, the run went on";  // read while paused
  thread.Stop();  // wakes the paused run
  thread.Wait();
  EXPECT_EQ(thread.state(), EmuThreadState::kEnded);
  EXPECT_EQ(p.emu.exit.finished.load(), 1);
  EXPECT_TRUE(p.emu.run.stopped_by_host);
}

TEST(EmulationThread, TwoEmulatorsInOneProcessResolveInTheirOwnFolders) {
  const std::string cwd = std::filesystem::current_path().string();
  auto a = std::make_unique<LoopProject>(0x11111111u, "-v0");
  auto b = std::make_unique<LoopProject>(0x22222222u);
  {
    EmulationThread ta(a->emu), tb(b->emu);
    ta.Start();
    tb.Start();
    ASSERT_TRUE(WaitUntil([&] {
      return ta.state() == EmuThreadState::kRunning && tb.state() == EmuThreadState::kRunning;
    }));
    // Both objects go out of scope while running: each stops and joins its own thread.
  }
  EXPECT_EQ(std::filesystem::current_path().string(), cwd);
  for (auto* p : {a.get(), b.get()}) {
    SCOPED_TRACE(p->project.dir());
    EXPECT_EQ(p->emu.exit.message[0], '\0') << p->emu.exit.message;
    uint32_t restored = 0;
    std::memcpy(&restored, p->emu.mem.regions[kRegionAbsd].host, 4);
    EXPECT_EQ(restored, p == a.get() ? 0x11111111u : 0x22222222u);
  }
  EXPECT_EQ(a->emu.opt.video, 0) << "the option file next to project a";
  EXPECT_EQ(b->emu.opt.video, 1);
}

}  // namespace
}  // namespace korvane
