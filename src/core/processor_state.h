// The processor's parts of a saved state: one serialize routine per component, each listing
// that component's state once for saving, checking and loading (see StateArchive).
#pragma once

#include "core/state_archive.h"

namespace korvane {

struct Processor;

// Registers, service table, condition code, controls, the current frame and the run counters.
// The saved instruction pointer is that of the next instruction, so a state is only taken
// between two instructions (after the run loop returned or while it is paused).
void SerializeCpu(Processor& emu, StateArchive& ar);
// Every region's place and contents (the heap lives in HEAP); the layout must match.
void SerializeMemory(Processor& emu, StateArchive& ar);
// The instruction total, system_timer and fault and trigger counters, plus the -por map.
void SerializeRun(Processor& emu, StateArchive& ar);

}  // namespace korvane
