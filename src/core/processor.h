// The processor layer's part of an emulator: the i960 state, the memory map, the run loop's
// state, the log, the exit state and the options, plus the hooks through which the processor
// reaches the machine around it. The processor never calls upward: whatever sits above it
// (intercepted routines, display I/O, work at check points) registers itself here.
#pragma once

#include <cstdint>
#include <string>

#include "core/cpu_state.h"
#include "core/exit.h"
#include "core/faults.h"
#include "core/log.h"
#include "core/memory_map.h"
#include "core/options.h"
#include "core/run_loop.h"

namespace korvane {

// Hooks the processor calls. Each takes the context registered with it; a null hook does
// nothing (a call then proceeds at its own target).
struct ProcessorHooks {
  void* ctx = nullptr;
  // Every procedure call passes its target here before a frame is built. Returns the address
  // at which the call proceeds, or 0 when the call is skipped. A hook that runs code of its own
  // for the call (a native routine, a redirection) counts it in run.intercepted_calls: that
  // code may write guest memory anywhere, the text included, and the run loop's decoded
  // instructions are checked against the text again after it.
  uint32_t (*intercept_call)(void* ctx, uint32_t target) = nullptr;
  // Optional: whether intercept_call would do anything for a call to target (run code of its
  // own, skip or redirect the call). A call it would leave alone may be made without it.
  bool (*intercepts)(void* ctx, uint32_t target) = nullptr;
  // Run at the run loop's check points every 32768 instructions, before host controls are
  // looked at.
  void (*check_point)(void* ctx) = nullptr;
  // Writes where a code address lies ("IP=...=module+0x..") to the log for state reports;
  // nothing when no module holds it.
  void (*describe_address)(void* ctx, uint32_t address) = nullptr;
  // Sees every system_timer reading (the instruction total and the value) and returns the
  // value the firmware gets: input recording and replay. Context of its own.
  uint32_t (*clock_reading)(void* ctx, uint64_t at, uint32_t ms) = nullptr;
  void* clock_ctx = nullptr;
  // Symbols for debugging tools: the address of a symbol (false when there is none), and the
  // name of a guest address ("module:symbol" of the nearest symbol at or below it, or just
  // "symbol" outside every module) with the offset from that symbol (false when none).
  bool (*find_symbol)(void* ctx, const std::string& name, uint32_t* address) = nullptr;
  bool (*name_address)(void* ctx, uint32_t address, std::string* name, uint32_t* offset) = nullptr;
  // The source line of a code address from the executable's line numbers: "file:line" and the
  // addresses [start, end) of that line's code; false when the address has no line.
  bool (*source_line)(void* ctx, uint32_t address, std::string* place, uint32_t* start,
                      uint32_t* end) = nullptr;
  // The first address of the code of "FILE:LINE" (the next line with code when LINE has
  // none); false when the text names no line of a file the line numbers know.
  bool (*find_source_line)(void* ctx, const std::string& text, uint32_t* address) = nullptr;
};

struct Processor {
  Processor() = default;
  Processor(const Processor&) = delete;
  Processor& operator=(const Processor&) = delete;

  Log log;
  Options opt;
  ExitState exit;
  CpuState cpu;
  MemoryMap mem;
  RunState run;
  ProcessorHooks hooks;
};

}  // namespace korvane
