// The run loop: fetch, decode, execute, system_timer, statistics.
#include "core/run_loop.h"

#include <chrono>
#include <cstring>
#include <ctime>

#include "core/decode.h"
#include "core/fast_core.h"
#include "core/loop_control.h"
#include "core/processor.h"
#include "core/run_counts.h"

namespace korvane {

namespace {

int64_t WallMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t ProcessMs() { return static_cast<int64_t>(std::clock()) * 1000 / CLOCKS_PER_SEC; }

void WriteSystemTimer(Processor& emu, uint32_t ms) {
  RunState& run = emu.run;
  if (!run.system_timer) return;
  uint32_t n = run.system_timer_avail < 4 ? run.system_timer_avail : 4;
  std::memcpy(run.system_timer, &ms, n);  // bytes past the variable's region are dropped
  NoteHostWrite(emu.mem, run.system_timer, n);
}

uint32_t TimerValue(Processor& emu) {
  RunState& run = emu.run;
  const uint32_t ms =
      run.virtual_time_instructions > 0
          ? static_cast<uint32_t>(CurrentInstructionTotal(emu) / run.virtual_time_instructions)
          : static_cast<uint32_t>(WallMs() - run.wall_start_ms);
  if (emu.hooks.clock_reading)
    return emu.hooks.clock_reading(emu.hooks.clock_ctx, CurrentInstructionTotal(emu), ms);
  return ms;
}

void PrintStatistics(Processor& emu, int64_t ms) {
  const CpuState& cpu = emu.cpu;
  double seconds = static_cast<double>(ms) * 0.001;
  long dtime = static_cast<long>(seconds * 100.0);
  emu.log.Printf("Elapsed time: %2.1f seconds (dtime=%ld)\n", seconds, dtime);
  // The whole count since the run began (a run continued from a state counts on from it); the
  // time per instruction is that of the instructions this process ran.
  const uint64_t total = CurrentInstructionTotal(emu);
  const uint64_t here = total - emu.run.start_executed;
  emu.log.Printf("\n%llu  %llu  %llu  %llu  Instructions= %llu, Time/Instr= %lld ns\n",
                 static_cast<unsigned long long>(cpu.fast_reg),
                 static_cast<unsigned long long>(cpu.addi_count),
                 static_cast<unsigned long long>(cpu.addo_count),
                 static_cast<unsigned long long>(cpu.fast_lit),
                 static_cast<unsigned long long>(total),
                 static_cast<long long>(TimePerInstruction(dtime, here)));
}

// Host controls, looked at every 32768 instructions. Returns true when the host wants the loop
// to stop; while a pause is requested the thread waits until it is resumed or stopped.
bool HostWantsStop(Processor& emu) { return emu.run.control.WaitWhilePaused(); }

}  // namespace

// Instruction count at which the loop must next look beyond the exit request: the next
// system_timer point, or the end of the instruction budget if that comes first. The budget is
// never used up here: the loop ends when it is, and a run does not start without one.
uint32_t NextCheckPoint(const Processor& emu, uint32_t count) {
  const RunState& run = emu.run;
  uint64_t step = kTimerInterval - (count & (kTimerInterval - 1));
  if (run.max_instructions > 0) {
    uint64_t left = run.max_instructions > run.executed ? run.max_instructions - run.executed : 0;
    if (left < step) step = left;
  }
  return count + static_cast<uint32_t>(step);
}

int64_t TimePerInstruction(int64_t dtime, uint64_t count) {
  if (count == 0) return 0;
  if (count < 1000) return dtime * 10000000 / static_cast<int64_t>(count);
  return dtime * 10000 / static_cast<int64_t>(count / 1000);
}

uint64_t CurrentInstructionTotal(const Processor& emu) {
  return emu.run.executed + (static_cast<uint32_t>(emu.cpu.icount) - emu.run.executed_mark);
}

uint64_t PublishedInstructionTotal(const Processor& emu) {
  return emu.run.published_executed.load(std::memory_order_relaxed);
}

uint32_t PublishedSystemTimer(const Processor& emu) {
  return emu.run.published_timer_ms.load(std::memory_order_relaxed);
}

uint32_t ReadSystemTimer(Processor& emu) {
  RunState& run = emu.run;
  if (!run.system_timer) return 0;
  if (run.virtual_time_instructions > 0) WriteSystemTimer(emu, TimerValue(emu));
  uint32_t v = 0;
  std::memcpy(&v, run.system_timer, run.system_timer_avail < 4 ? run.system_timer_avail : 4);
  return v;
}

bool LoopEvent(Processor& emu, uint32_t& count, uint32_t& check_point) {
  RunState& run = emu.run;
  HostControl& control = run.control;
  const ProcessorHooks& hooks = emu.hooks;
  if (count == check_point) {
    run.executed += count - run.executed_mark;
    run.executed_mark = count;
    bool stop = false;
    if ((count & (kTimerInterval - 1)) == 0) {
      const uint32_t timer = TimerValue(emu);
      WriteSystemTimer(emu, timer);
      run.published_timer_ms.store(timer, std::memory_order_relaxed);
      run.published_executed.store(run.executed, std::memory_order_relaxed);
      if (RunCounts* wanted = run.counts_wanted.load(std::memory_order_acquire);
          wanted && !run.counts) {
        run.counts = wanted;
        wanted->Begin(emu);
      }
      if (run.counts) run.counts->Publish(run.executed);
      if (hooks.check_point) hooks.check_point(hooks.ctx);  // before a pause
      stop = HostWantsStop(emu);
    }
    if (run.max_instructions > 0 && run.executed >= run.max_instructions) stop = true;
    if (stop && emu.exit.code == 0) {
      run.stopped_by_host = true;
      return true;
    }
    check_point = NextCheckPoint(emu, count);
  }
  if (emu.exit.code != 0) return true;
  if (control.attention()) {
    // A host request between check points: stop or pause at the end of this instruction.
    control.ClearAttention();
    if (control.stop_requested() || control.pause_requested()) {
      run.executed += count - run.executed_mark;
      run.executed_mark = count;
      run.published_executed.store(run.executed, std::memory_order_relaxed);
      if (hooks.check_point) hooks.check_point(hooks.ctx);  // a paused window is current
      if (HostWantsStop(emu)) {
        run.stopped_by_host = true;
        return true;
      }
    }
  }
  // A debugger that wants every instruction from now on (asked at check points and whenever
  // the attention flag was up): the stepping loop takes over.
  if (!run.stepping && run.step_hook.before && StepHookWanted(emu))
    return StepLoop(emu, count, check_point, true);

  return false;
}

void RunLoop(Processor& emu) {
  CpuState& cpu = emu.cpu;
  RunState& run = emu.run;
  MemoryMap& mem = emu.mem;

  // The image phase builds the index; a caller that skipped it still gets a working loop.
  if (run.opcode_index[0x08] == 0) BuildOpcodeIndex(run.opcode_index);
  BuildDecodeInfo(run);
  run.full_set = emu.opt.xi;
  run.wall_start_ms = WallMs() - run.start_timer_ms;
  run.process_start_ms = ProcessMs();
  cpu.length = 0;
  run.trigger_count = static_cast<int32_t>(emu.opt.tc);
  run.stopped_by_host = false;
  run.executed = run.start_executed;
  run.executed_mark = static_cast<uint32_t>(cpu.icount);
  if (emu.opt.dm) {
    mem.unmapped_log = &emu.log;
    mem.unmapped_ip = &cpu.ip;
  }

  uint32_t count = static_cast<uint32_t>(cpu.icount);
  uint32_t check_point = NextCheckPoint(emu, count);
  if (!run.counts) run.counts = run.counts_wanted.load(std::memory_order_acquire);
  if (run.counts) run.counts->Begin(emu);

  // Whichever way the loop ends (a fatal condition throws), it no longer runs.
  struct Running {
    HostControl& control;
    explicit Running(HostControl& c) : control(c) { control.SetRunning(true); }
    ~Running() { control.SetRunning(false); }
  } running(run.control);

  // A budget used up before the first instruction (a state loaded at or past the limit, a
  // replay of a recording that ran nothing) ends the run at once: a check point at the current
  // count would start the loops' countdown at 0, which wraps.
  if (run.stop_at_start || (run.max_instructions > 0 && run.executed >= run.max_instructions)) {
    run.stopped_by_host = true;
  } else if (StepHookWanted(emu)) {
    StepLoop(emu, count, check_point, false);
  } else {
    FastLoop(emu, count, check_point);
  }

  run.executed += count - run.executed_mark;
  run.executed_mark = count;
  run.published_executed.store(run.executed, std::memory_order_relaxed);
  if (run.counts) run.counts->Settle(run.executed);
  mem.unmapped_log = nullptr;

  PrintStateReport(emu);
  emu.log.Printf(" EXIT REQUESTED\n");
  int64_t process_end = ProcessMs();
  PrintStatistics(emu, process_end - run.process_start_ms);
}

}  // namespace korvane
