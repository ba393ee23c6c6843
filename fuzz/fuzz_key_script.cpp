// Fuzz target: korvane-run's key script parser.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "run/script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<korvane::run::ScriptStep> steps;
  std::string error;
  korvane::run::ParseKeyScript(std::string(reinterpret_cast<const char*>(data), size), steps,
                               error);
  return 0;
}
