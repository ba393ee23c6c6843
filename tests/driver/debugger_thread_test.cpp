// The debug engine driven from another thread, as the window drives it: pause, step, continue,
// a breakpoint set while running, a host stop that ends a stop's wait, and watchpoints on what
// native routines and calls write.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "core/loop_control.h"
#include "core/run_loop.h"
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

// Readies `emu` to run the project with a debugger whose stops go to `queue`.
Debugger& AttachDebugger(Emulator& emu, const test::FirmwareProject& project, StopQueue& queue) {
  emu.base_folder = project.dir();
  emu.SetArgs({"korvane", "x"});
  emu.debugger = std::make_unique<Debugger>(emu);
  emu.debugger->SetStopHandler([&queue](const DebugStop& s) { queue.Push(s); });
  return *emu.debugger;
}

TEST(DebuggerThread, PauseStepContinueAndAHostStopEndingTheWait) {
  test::FirmwareProject project;
  project.AddSnippet("\tmov 0, g0\nloop:\n\taddo g0, 1, g0\n\tb loop\n");
  ASSERT_TRUE(project.Assemble());
  Emulator emu;
  StopQueue queue;
  Debugger& d = AttachDebugger(emu, project, queue);

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
  // A breakpoint set while the plain loop runs.
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

// Native routines reading and writing the firmware's buffers, and a call writing its frame
// words: a watchpoint stops after each, naming the routine or the call as the accessor.
TEST(DebuggerThread, WatchpointsSeeNativeRoutinesAndTheFramesOfCalls) {
  test::FirmwareProject project;
  std::filesystem::create_directories(project.Path("c"));
  std::ofstream(project.Path("c/DATA.TXT")) << "hello world";
  project.AddSnippet(R"(
	mov	0,r4
	st	r4,file_errnum
	lda	request,r3
	ldconst	0x43,r4
	st	r4,4(r3)
	mov	r3,g7
	callx	x$start_parse_dir_filemem
	lda	name_data,r4
	st	r4,8(r3)
	mov	r3,g7
	callx	x$open_filemem
	lda	buffer,r4
	st	r4,8(r3)
	mov	11,r4
	st	r4,12(r3)
	mov	r3,g7
	callx	x$read_filemem
	ld	44(r3),r5
	mov	r3,g7
	callx	x$close_filemem
	lda	name_out,r4
	st	r4,8(r3)
	mov	r3,g7
	callx	x$create_filemem
	lda	buffer,r4
	st	r4,8(r3)
	mov	11,r4
	st	r4,12(r3)
	mov	r3,g7
	callx	x$write_filemem
	mov	r3,g7
	callx	x$close_filemem
before_call:
	call	proc
after_call:
	b	snippet_end
proc:
	ret
	.data
request:	.space	48
buffer:		.space	16
name_data:	.ascii	"DATA    TXT"
name_out:	.ascii	"OUT     TXT"
	.bss
	.globl	file_errnum
	.align	2
file_errnum:	.space	4
	.text
)" + test::StubRoutines({"start_parse_dir_filemem", "open_filemem", "read_filemem", "close_filemem",
                         "create_filemem", "write_filemem"}));
  ASSERT_TRUE(project.Assemble());

  // Locations in hex: symbols are known only once the run has read the executable.
  auto hex = [](uint32_t address, uint32_t size) {
    char text[24];
    std::snprintf(text, sizeof text, size ? "%x/%u" : "%x", address, size);
    return std::string(text);
  };
  const uint32_t buffer = project.Sym("buffer");
  struct Row {
    BreakKind kind;
    std::string where;  // "" for the frame word the call writes, known once stopped before it
    const char* accessor;
    bool write;
    std::string bytes;  // the watched bytes after the access
  };
  const Row rows[] = {
      {BreakKind::kWrite, hex(buffer + 4, 4), "x$read_filemem", true, "o wo"},
      {BreakKind::kAccess, hex(buffer + 8, 2), "x$read_filemem", true, "rl"},
      {BreakKind::kRead, hex(buffer, 4), "x$write_filemem", false, "hell"},
      {BreakKind::kWrite, "", "", true, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.where.empty() ? "frame" : row.where);
    Emulator emu;
    emu.files.host.drive_folder['C' - 'A'] = project.Path("c");
    StopQueue queue;
    Debugger& d = AttachDebugger(emu, project, queue);
    std::string error;
    const std::string where = row.where.empty() ? hex(project.Sym("before_call"), 0) : row.where;
    ASSERT_GT(d.AddBreakpoint(row.where.empty() ? BreakKind::kCode : row.kind, where, "", 0, false,
                              error),
              0)
        << error;
    EmulationThread thread(emu);
    ASSERT_TRUE(thread.Start());
    DebugStop stop;
    ASSERT_TRUE(queue.Pop(stop));
    std::string bytes = row.bytes;
    uint32_t frame_word = 0;
    if (row.where.empty()) {
      // Stopped before the call: watch the caller's return-address word in its own frame.
      frame_word = emu.cpu.g[15] + 8;
      ASSERT_GT(d.AddBreakpoint(row.kind, hex(frame_word, 4), "", 0, false, error), 0) << error;
      d.Resume({ResumeKind::kContinue});
      ASSERT_TRUE(queue.Pop(stop));
      const uint32_t back = project.Sym("after_call");
      bytes.assign(reinterpret_cast<const char*>(&back), 4);
    }
    EXPECT_EQ(stop.reason, StopReason::kWatchpoint) << stop.summary;
    EXPECT_EQ(stop.access.accessor, row.accessor) << stop.summary;
    EXPECT_EQ(stop.access.write, row.write) << stop.summary;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stop.access.new_bytes), stop.access.size),
              bytes)
        << stop.summary;
    if (*row.accessor) {
      EXPECT_NE(stop.summary.find(std::string(row.accessor) + " [native] called at"),
                std::string::npos)
          << stop.summary;
    } else {
      EXPECT_EQ(stop.access.ip, project.Sym("before_call"));
      EXPECT_EQ(stop.access.address, frame_word);
      EXPECT_EQ(stop.ip, project.Sym("proc")) << "reported before the callee's first instruction";
    }
    thread.Stop();
    EXPECT_TRUE(thread.WaitFor(10s));
  }
}

// A breakpoint added while the plain loop runs holds from the moment the call returns: the run
// stops at the first arrival after the loop has taken it up, never a check point later.
TEST(DebuggerThread, ABreakpointAddedWhileRunningHoldsWhenTheCallReturns) {
  test::FirmwareProject project;
  project.AddSnippet("\tmov 0, g0\nloop:\n\taddo g0, 1, g0\n\tcmpo g0, g1\n\tb loop\n");
  ASSERT_TRUE(project.Assemble());
  Emulator emu;
  StopQueue queue;
  Debugger& d = AttachDebugger(emu, project, queue);
  EmulationThread thread(emu);
  ASSERT_TRUE(thread.Start());
  // Symbols are known once the run loop runs (the executable has been read).
  while (!emu.run.control.running()) std::this_thread::yield();
  for (int round = 0; round < 3; ++round) {
    // Wait until the firmware is well under way in the plain loop.
    const uint64_t from = PublishedInstructionTotal(emu);
    while (PublishedInstructionTotal(emu) < from + 4 * kTimerInterval) std::this_thread::yield();
    std::string error;
    const int id = d.AddBreakpoint(BreakKind::kCode, "loop", "", 0, false, error);
    ASSERT_GT(id, 0) << error;
    // Published at the check point where the loop took the breakpoint up, or later.
    const uint64_t returned = PublishedInstructionTotal(emu);
    DebugStop stop;
    ASSERT_TRUE(queue.Pop(stop));
    EXPECT_EQ(stop.reason, StopReason::kBreakpoint);
    const uint64_t stopped = CurrentInstructionTotal(emu);
    EXPECT_LT(stopped - returned, 8u) << "the loop ran past the breakpoint after it was added";
    d.DeleteBreakpoint(id);
    d.Resume({ResumeKind::kContinue});
  }
  thread.Stop();
  EXPECT_TRUE(thread.WaitFor(10s));
}

}  // namespace
}  // namespace korvane
