// The debug engine driven from another thread, as the window drives it: pause, step, continue,
// a breakpoint set while running, and a host stop that ends a stop's wait.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

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

// The fast loop hands over to the stepping loop for a pause, a breakpoint or steps, and takes
// over again when the engine lets go: a run interrupted that way must end exactly as a run nobody
// touched (virtual time and a budget make both repeatable).
TEST(DebuggerThread, ARunPausedSteppedAndBrokenIntoEndsAsAnUntouchedRun) {
  test::FirmwareProject project;
  project.AddSnippet(
      "\tmov 0, g0\n\tlda 7, g5\nagain:\n\tcall outer\n\taddo g0, g5, g5\n\tb again\n"
      "outer:\n\tmov g5, r4\n\tcall inner\n\tshlo 1, r4, r5\n\txor r5, g5, g5\n\tret\n"
      "inner:\n\tld counter, r3\n\taddo 1, r3, r3\n\tst r3, counter\n\taddo r3, g0, g0\n"
      "\tcmpobe 0, r3, inner\n\tret\n"
      "\t.data\n\t.globl counter\ncounter:\n\t.word 0\n");
  ASSERT_TRUE(project.Assemble());
  constexpr uint64_t kBudget = 30000000;
  struct End {
    uint32_t g[16], ip, cc, counter;
    int32_t icount;
    uint64_t fast_reg, fast_lit, addo, addi;
  };
  auto run = [&](bool interrupt) {
    Emulator emu;
    emu.base_folder = project.dir();
    emu.SetArgs({"korvane", "x"});
    emu.run.max_instructions = kBudget;
    emu.run.virtual_time_instructions = 1000;
    StopQueue queue;
    if (interrupt) {
      emu.debugger = std::make_unique<Debugger>(emu);
      emu.debugger->SetStopHandler([&](const DebugStop& s) { queue.Push(s); });
    }
    EmulationThread thread(emu);
    EXPECT_TRUE(thread.Start());
    if (interrupt) {
      Debugger& d = *emu.debugger;
      DebugStop stop;
      std::string error;
      for (ResumeCommand command :
           {ResumeCommand{ResumeKind::kStep, 3}, ResumeCommand{ResumeKind::kStepOver, 2},
            ResumeCommand{ResumeKind::kRunTo, 1, project.Sym("again")}}) {
        std::this_thread::sleep_for(5ms);
        d.RequestPause();
        EXPECT_TRUE(queue.Pop(stop));
        d.Resume(command);
        EXPECT_TRUE(queue.Pop(stop));
        d.Resume({ResumeKind::kContinue});
      }
      const int id = d.AddBreakpoint(BreakKind::kCode, "inner", "", 0, false, error);
      EXPECT_TRUE(queue.Pop(stop)) << error;
      EXPECT_EQ(stop.reason, StopReason::kBreakpoint);
      d.DeleteBreakpoint(id);
      d.Resume({ResumeKind::kContinue});
    }
    EXPECT_TRUE(thread.WaitFor(30s));
    End e{};
    std::copy(std::begin(emu.cpu.g), std::end(emu.cpu.g), e.g);
    e.ip = emu.cpu.ip;
    e.cc = emu.cpu.cc;
    e.counter = GuestRead32(emu.mem, project.Sym("counter"));
    e.icount = emu.cpu.icount;
    e.fast_reg = emu.cpu.fast_reg;
    e.fast_lit = emu.cpu.fast_lit;
    e.addo = emu.cpu.addo_count;
    e.addi = emu.cpu.addi_count;
    return e;
  };
  const End untouched = run(false);
  const End interrupted = run(true);
  EXPECT_EQ(untouched.icount, static_cast<int32_t>(kBudget));
  EXPECT_GT(untouched.counter, 1000u);
  EXPECT_EQ(0, std::memcmp(&untouched, &interrupted, sizeof(End)))
      << "counter " << untouched.counter << " vs " << interrupted.counter << ", g0 "
      << untouched.g[0] << " vs " << interrupted.g[0] << ", ip " << untouched.ip << " vs "
      << interrupted.ip << ", icount " << untouched.icount << " vs " << interrupted.icount;
}

}  // namespace
}  // namespace korvane
