// The run loop: fetch, decode, execute, system_timer, statistics.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/opcode_table.h"

namespace korvane {

struct Emulator;

struct RunState {
  uint8_t opcode_index[kOpcodeIndexSize] = {};
  uint8_t* system_timer = nullptr;  // host location of the guest variable
  int64_t wall_start_ms = 0;
  int64_t process_start_ms = 0;
  int32_t fault_count = 0;
  int32_t trigger_count = 0;

  // Host controls for front-ends (runner, window). None of them changes what the firmware
  // sees, except virtual time, which makes system_timer follow the instruction count.
  uint64_t max_instructions = 0;        // 0: no limit
  uint32_t virtual_time_instructions = 0;  // 0: wall clock; N: 1 ms every N instructions
  std::atomic<bool> stop_requested{false};  // host asks the loop to stop (no memory-file save)
  std::atomic<bool> pause_requested{false}; // cooperative pause (window inactive)
  bool stopped_by_host = false;         // the loop ended by a limit or stop request
};

void RunLoop(Emulator& emu);
uint32_t ReadSystemTimer(Emulator& emu);

}  // namespace korvane
