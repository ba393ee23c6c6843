// Procedure calls and the run-time services reached through service numbers.
#pragma once

#include <cstdint>

namespace korvane {

struct Emulator;

// The common call operation of call, callx and the service-table path.
void CallProcedure(Emulator& emu, uint32_t target);
// Runs service number n as calls does (native service or service-table call).
void RunService(Emulator& emu, uint32_t n);

}  // namespace korvane
