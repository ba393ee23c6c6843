// The fast core: the plain run loop over decoded records with direct dispatch.
#pragma once

#include <cstdint>

namespace korvane {

struct Processor;

// Runs instructions from cpu.ip + cpu.length until a check point or the attention flag ends
// the run, exactly as the generic loop would (same counts, check points, faults and
// statistics). `count` and `check_point` are the loop's instruction count and next check point.
void FastLoop(Processor& emu, uint32_t& count, uint32_t& check_point);

}  // namespace korvane
