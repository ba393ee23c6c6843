// Test support: assemble short programs with our own assembler and run them on a fresh Emulator.
#pragma once

#include <memory>
#include <string>

#include "as/assembler.h"
#include "core/emulator.h"

namespace korvane::test {

// Directory of the reference files made by a real i960 tool chain, or "" when the clone has no
// ../shared beside it (tests that need them skip with a clear message).
std::string FixturesDir();

}  // namespace korvane::test
