// Option variables of a run, read from the option file and the project line.
#include "driver/options.h"

#include "core/emulator.h"

namespace korvane {

bool ReadOptions(Emulator& emu, int argc, char** argv) {
  (void)emu;
  (void)argc;
  (void)argv;
  return false;
}

bool ParseOpt(Emulator& emu, const char* word) {
  (void)emu;
  (void)word;
  return false;
}

const char* UsageText() { return ""; }

}  // namespace korvane
