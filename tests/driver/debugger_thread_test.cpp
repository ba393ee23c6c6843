// The debug engine driven from another thread, as the window drives it: pause, step, continue,
// a breakpoint set while running, and a host stop that ends a stop's wait.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "driver/emulation_thread.h"
#include "driver/emulator.h"
#include "support/firmware_project.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;

// Stops as the GUI thread sees them: forwarded by the handler, which returns at once.
struct StopQueue {
  std::mutex m;
  std::condition_variable cv;
  std::deque<DebugStop> stops;
  void Push(const DebugStop& s) {
    std::lock_guard<std::mutex> lock(m);
    stops.push_back(s);
    cv.notify_all();
  }
  bool Pop(DebugStop& s) {
    std::unique_lock<std::mutex> lock(m);
    if (!cv.wait_for(lock, 10s, [this] { return !stops.empty(); })) return false;
    s = stops.front();
    stops.pop_front();
    return true;
  }
};

TEST(DebuggerThread, PauseStepContinueAndAHostStopEndingTheWait) {
  test::FirmwareProject project;
  project.AddSnippet("\tmov 0, g0\nloop:\n\taddo g0, 1, g0\n\tb loop\n");
  ASSERT_TRUE(project.Assemble());
  Emulator emu;
  emu.base_folder = project.dir();
  emu.SetArgs({"korvane", "x"});
  emu.debugger = std::make_unique<Debugger>(emu);
  Debugger& d = *emu.debugger;
  StopQueue queue;
  d.SetStopHandler([&](const DebugStop& s) { queue.Push(s); });

  EmulationThread thread(emu);
  ASSERT_TRUE(thread.Start());
  DebugStop stop;
  for (int round = 0; round < 2; ++round) {
    d.RequestPause();  // the engine was idle: the plain loop hands over
    ASSERT_TRUE(queue.Pop(stop));
    EXPECT_EQ(stop.reason, StopReason::kPause);
    EXPECT_TRUE(d.paused_in_stop());
    EXPECT_EQ(emu.cpu.ip, stop.ip);  // read while the emulation thread waits
    // The history never reaches back across the plain loop's instructions, which it misses.
    const auto history = d.History();
    if (!history.empty()) {
      EXPECT_EQ(history.back().count + 1, CurrentInstructionTotal(emu));
    }
    const uint32_t g0 = emu.cpu.g[0];
    d.Resume({ResumeKind::kStep, 2});
    ASSERT_TRUE(queue.Pop(stop));
    EXPECT_EQ(stop.reason, StopReason::kStep);
    EXPECT_EQ(emu.cpu.g[0], g0 + 1) << "two instructions: one addo and one b";
    d.Resume({ResumeKind::kContinue});
  }
  // A breakpoint set while the plain loop runs takes effect at its next check point.
  std::string error;
  ASSERT_EQ(d.AddBreakpoint(BreakKind::kCode, "loop", "", 0, false, error), 1) << error;
  ASSERT_TRUE(queue.Pop(stop));
  EXPECT_EQ(stop.reason, StopReason::kBreakpoint);
  thread.Stop();  // the window closes while the debugger waits
  EXPECT_TRUE(thread.WaitFor(10s));
  EXPECT_TRUE(emu.run.stopped_by_host);
  EXPECT_FALSE(d.stopped_run());
  EXPECT_FALSE(d.paused_in_stop());
}

}  // namespace
}  // namespace korvane
