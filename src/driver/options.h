// Option variables of a run, read from the option file and the project line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/options.h"

namespace korvane {

struct Emulator;


// The option phase. Returns true when the vector ends with exactly one project name.
bool ReadOptions(Emulator& emu, int argc, char** argv);
// Returns true when `word` is an option (and stores its value).
bool ParseOpt(Emulator& emu, const char* word);

// The options a project line gives, read as the option phase reads them (option file first,
// resolved in `base_folder`) but without an emulator: nothing is logged and nothing ends a run.
// For front-ends that need a few options before the emulation thread starts.
struct OptionsRead {
  Options options;
  bool ok = false;      // the words end with exactly one project name
  std::string error;    // the message a run would end with, or ""
};
OptionsRead ReadOptionWords(const std::vector<std::string>& words, const std::string& base_folder);

// The usage text, whole.
const char* UsageText();

}  // namespace korvane
