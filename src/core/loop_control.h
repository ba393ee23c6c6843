// What the run loop does between instructions: check points (system_timer, instruction
// budget, host pause and stop) and the stepping loop that calls a hook before every
// instruction.
#pragma once

#include <cstdint>

namespace korvane {

struct Processor;

constexpr uint32_t kTimerInterval = 32768;  // system_timer is written every 32768 instructions

// Instruction count at which the loop must next look beyond the exit request: the next
// system_timer point, or the end of the instruction budget if that comes first.
uint32_t NextCheckPoint(const Processor& emu, uint32_t count);

// Work after the instruction that brought the count to `count`, when that is the check point
// or the attention flag is up: system_timer, the budget, host pause and stop, exit requests.
// Moves check_point on; returns true when the loop must end. When the stepping loop takes over
// from here, `count` comes back advanced by the instructions it ran.
bool LoopEvent(Processor& emu, uint32_t& count, uint32_t& check_point);

// True when the step hook is set and wants every instruction now.
bool StepHookWanted(const Processor& emu);

// The loop used while a step hook is set: the hook runs before every instruction; otherwise it
// behaves as the plain loop (same counts, check points and statistics). `nested`: entered from
// the plain loop's LoopEvent, to which it returns false when the hook lets go after an
// instruction. Returns true when the run must end.
bool StepLoop(Processor& emu, uint32_t& count, uint32_t& check_point, bool nested);

}  // namespace korvane
