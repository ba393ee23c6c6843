// The stepping loop: the plain loop's generic path with a hook before every instruction, for
// tools that must see each instruction (breakpoints, traces).
#include <cstring>

#include "core/decode.h"
#include "core/loop_control.h"
#include "core/processor.h"
#include "core/run_counts.h"

namespace korvane {

bool StepHookWanted(const Processor& emu) {
  const StepHook& hook = emu.run.step_hook;
  return hook.before && (!hook.wanted || hook.wanted(hook.ctx));
}

bool StepLoop(Processor& emu, uint32_t& count, uint32_t& check_point, bool nested) {
  CpuState& cpu = emu.cpu;
  RunState& run = emu.run;
  const OpcodeEntry* const table = OpcodeTable();
  const StepHook hook = run.step_hook;
  run.stepping = true;
  run.step_release = false;
  bool end = false;
  for (;;) {
    cpu.ip += cpu.length;
    cpu.length = 0;
    if (hook.before(hook.ctx)) {
      // The hook ends the run before this instruction, as a host stop would.
      run.stopped_by_host = emu.exit.code == 0;
      end = true;
      break;
    }
    if (emu.exit.code != 0) {
      end = true;
      break;
    }
    const MemRegion& text = emu.mem.regions[kRegionText];
    const uint32_t off = cpu.ip - text.base;
    uint32_t w;
    if (text.host && static_cast<uint64_t>(off) + 4 <= text.size) {
      std::memcpy(&w, text.host + off, 4);
    } else {
      w = FetchTextSlow(emu, cpu.ip);
    }
    cpu.instr_word = w;
    cpu.length = 4;
    if (run.counts) run.counts->CountWord(cpu.ip);
    HostAccessWatch& watch = emu.mem.host_watch;
    watch.armed = watch.active;
    try {
      ExecuteWord(emu, table, w);
    } catch (...) {
      watch.armed = false;
      watch.routine = nullptr;
      run.stepping = false;  // a fatal end leaves through here
      throw;
    }
    watch.armed = false;

    ++count;
    cpu.icount = static_cast<int32_t>(count);
    if (run.counts) run.counts->AfterInstruction(cpu, CurrentInstructionTotal(emu));
    if ((count == check_point) | run.control.attention()) {
      if (LoopEvent(emu, count, check_point)) {
        end = true;
        break;
      }
    }
    if (nested && run.step_release) break;  // back to the plain loop, which advances ip
  }
  run.stepping = false;
  run.step_release = false;
  return end;
}

}  // namespace korvane
