// The run loop: fetch, decode, execute, system_timer, statistics.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/host_control.h"
#include "core/opcode_table.h"

namespace korvane {

struct Processor;
class RunCounts;

// What the decoder needs of an opcode, looked up in one step: derived at loop start from the
// opcode index and the table, so the hot path reads one small record per instruction.
struct DecodeInfo {
  InstructionHandler handler = nullptr;
  uint8_t kind = 0;  // see kDecode* in run_loop.cpp; 0 = undefined opcode
  uint8_t size = 4;  // operand size of the entry
};

// A function the run loop calls before every instruction while it is set (cpu.ip is then the
// instruction about to run); returning true ends the run there as a host stop does. With no
// hook the loop pays nothing for it.
struct StepHook {
  void* ctx = nullptr;
  bool (*before)(void* ctx) = nullptr;
  // Optional: whether the hook needs every instruction now. While it says no, the plain loop
  // runs and asks again whenever the attention flag is raised; a stepping loop entered that
  // way hands back to the plain loop when the hook sets RunState::step_release.
  bool (*wanted)(void* ctx) = nullptr;
};

// Where the fast core's straight stretches of instructions began, newest last, so that a
// debugger can show the instructions that led to a fatal fault at full speed (the stepping
// loop's history costs a look before every instruction). Each taken branch, call or return,
// each instruction on the generic path and each entry of the loop adds one; a mark (ip kLeft)
// says the loop stopped running there (a check point may hand over to the stepping loop).
struct FastTrail {
  static constexpr uint32_t kSize = 64;  // enough for the last 64 instructions
  static constexpr uint32_t kLeft = 0xFFFFFFFFu;
  bool on = false;    // set before the run; the loop copy that keeps it costs a little per branch
  uint64_t next = 0;  // entries made so far
  uint32_t ip[kSize] = {};
  uint32_t count[kSize] = {};  // the loop's instruction count (wrapping) before the one at ip
};

struct RunState {
  uint8_t opcode_index[kOpcodeIndexSize] = {};
  DecodeInfo decode[kOpcodeIndexSize];
  uint8_t* system_timer = nullptr;  // host location of the guest variable (set before the loop)
  uint32_t system_timer_avail = 0;  // bytes of storage from that location (at most 4 are used)
  int64_t wall_start_ms = 0;
  // Where the next loop starts counting: 0, or the instruction total and system_timer value of
  // a loaded state, so a continued run sees the same count and clock as an uninterrupted one.
  uint64_t start_executed = 0;
  bool full_set = false;  // -xi: the loop runs the full instruction set (set when it starts)
  // The fast core forms pair records (in builds that have their code; tests turn it off to run
  // the records as a build without it does).
  bool form_pairs = true;
  uint32_t start_timer_ms = 0;
  int64_t process_start_ms = 0;
  int32_t fault_count = 0;
  int32_t trigger_count = 0;
  // Calls the intercept hook ran code of its own for (counted by the hook).
  uint64_t intercepted_calls = 0;

  // Host controls for front-ends (runner, window). None of them changes what the firmware
  // sees, except virtual time, which makes system_timer follow the instruction count.
  uint64_t max_instructions = 0;  // 0: no limit
  // End the run before its first instruction whatever max_instructions says (the replay of a
  // recording whose run executed nothing).
  bool stop_at_start = false;
  uint32_t virtual_time_instructions = 0;  // 0: wall clock; N: 1 ms every N instructions
  HostControl control;                     // stop (no memory-file save) and pause requests
  bool stopped_by_host = false;            // the loop ended by a limit or stop request
  StepHook step_hook;                      // set by a debugger or tracer
  bool stepping = false;                   // the stepping loop runs
  bool step_release = false;               // the hook asks to go back to the plain loop
  // Counting for profiles and coverage (not owned; null: the loops count nothing).
  RunCounts* counts = nullptr;
  // Counting asked for by another thread while the firmware runs: it starts at the next
  // system_timer check point (a counting loop takes over there).
  std::atomic<RunCounts*> counts_wanted{nullptr};
  FastTrail fast_trail;

  // Instructions executed by this run in 64 bits (the guest-visible count wraps at 2^31).
  // Brought up to date at the loop's check points; CurrentInstructionTotal is exact anytime.
  uint64_t executed = 0;
  uint32_t executed_mark = 0;  // instruction count at the last check point

  // Copies for other threads (the window's status line), published at every system_timer
  // point and at the end of the loop; the fields above belong to the emulation thread.
  std::atomic<uint64_t> published_executed{0};
  std::atomic<uint32_t> published_timer_ms{0};
};

// Fetch, decode and execute until an exit request, a host stop or a fatal condition (which
// throws EmuExitSignal out of here after logging). Ends with the state report and the
// statistics; what follows a run (the memory file) is the caller's.
void RunLoop(Processor& emu);
// The current value of the guest variable system_timer (brought up to date first when time
// follows the instruction count).
uint32_t ReadSystemTimer(Processor& emu);
// Instructions executed since the loop started, exact at any moment.
uint64_t CurrentInstructionTotal(const Processor& emu);
// The instruction total and system_timer value as last published by the emulation thread;
// safe to read from any thread while the emulation runs.
uint64_t PublishedInstructionTotal(const Processor& emu);
uint32_t PublishedSystemTimer(const Processor& emu);
// Time per instruction in ns from hundredths of a second and the instruction count, in 64 bits
// so long runs cannot overflow; 0 for a count of 0.
int64_t TimePerInstruction(int64_t dtime, uint64_t count);

}  // namespace korvane
