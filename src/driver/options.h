// Option variables of a run, read from the option file and the project line.
#pragma once

#include <cstdint>

#include "core/options.h"

namespace korvane {

struct Emulator;


// The option phase. Returns true when the vector ends with exactly one project name.
bool ReadOptions(Emulator& emu, int argc, char** argv);
// Returns true when `word` is an option (and stores its value).
bool ParseOpt(Emulator& emu, const char* word);
// The usage text, whole.
const char* UsageText();

}  // namespace korvane
