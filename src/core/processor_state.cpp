#include "core/processor_state.h"

#include <cstring>
#include <string>

#include "core/faults.h"
#include "core/processor.h"

namespace korvane {

void SerializeCpu(Processor& emu, StateArchive& ar) {
  CpuState& cpu = emu.cpu;
  // The next instruction's address: the run loop advances ip by length before it fetches.
  uint32_t next_ip = cpu.ip + cpu.length;
  ar.Value(next_ip);
  ar.Value(cpu.g);
  ar.Value(cpu.service_table);
  ar.Ranged(cpu.cc, 0u, kAcCcMask, "cc");
  ar.Value(cpu.ac_other);
  ar.Value(cpu.process_controls);
  const MemRegion& stack = emu.mem.regions[kRegionStck];
  const uint32_t frame_offset =
      ar.Scalar(static_cast<uint32_t>(cpu.frame && stack.host ? cpu.frame - stack.host : 0));
  if (frame_offset + uint64_t{kFrameBytes} > stack.size || !stack.host)
    ar.FailDamaged("field frame lies outside the stack");
  ar.Value(cpu.icount);
  for (uint64_t* counter : {&cpu.fast_reg, &cpu.fast_lit, &cpu.addo_count, &cpu.addi_count}) {
    if (ar.version() >= 3) {
      ar.Value(*counter);
      continue;
    }
    // Up to version 2 the counters were 32-bit and wrapped: their low 32 bits.
    const uint32_t low = ar.Scalar(static_cast<uint32_t>(*counter));
    if (ar.loading()) *counter = low;
  }
  if (ar.loading() && ar.ok()) {
    cpu.ip = next_ip;
    cpu.length = 0;
    cpu.frame = stack.host + frame_offset;
  }
}

void SerializeMemory(Processor& emu, StateArchive& ar) {
  for (int n = 1; n <= kRegionSlots; ++n) {
    MemRegion& r = emu.mem.regions[n];
    const std::string name = "region " + std::to_string(n) + " (" + r.tag + ")";
    ar.Match(r.defined, name + " is defined differently");
    ar.Match(r.base, name + " starts elsewhere");
    ar.Match(r.size, name + " has another size");
    const bool stored = ar.ScalarFlag(r.host != nullptr, "storage");
    if (stored != (r.host != nullptr)) ar.Fail(name + " has storage in only one of them");
    if (!ar.ok()) return;
    if (r.host) ar.Bytes(r.host, r.size);
  }
  ar.Value(emu.mem.unmapped_count);
}

void SerializeRun(Processor& emu, StateArchive& ar) {
  RunState& run = emu.run;
  uint64_t executed = CurrentInstructionTotal(emu);
  // The guest variable as it stands: bringing it up to date here would change guest memory
  // between two of its regular updates.
  uint32_t timer = 0;
  if (run.system_timer)
    std::memcpy(&timer, run.system_timer, run.system_timer_avail < 4 ? run.system_timer_avail : 4);
  ar.Value(executed);
  ar.Value(timer);
  // A run ends at its kFaultLimit-th fault, so a saved one has seen fewer.
  ar.Ranged(run.fault_count, 0, kFaultLimit - 1, "fault_count");
  ar.Ranged(run.trigger_count, 0, INT32_MAX, "trigger_count");
  for (int& com : emu.opt.com_map) ar.Ranged(com, 0, 9, "com_map");  // -por takes one digit each
  if (ar.loading() && ar.ok()) {
    // The next run loop continues the count and the wall clock from here.
    run.start_executed = executed;
    run.start_timer_ms = timer;
    // The loop takes its trigger count from -tc when it starts; what is left of it goes on.
    emu.opt.tc = run.trigger_count;
  }
}

}  // namespace korvane
