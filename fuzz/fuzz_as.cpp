// Fuzz target: the assembler and linker from source text. A line "#--" splits the input into
// modules, so cross-module symbols reach the linker.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "as/assembler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<korvane::as::SourceFile> sources;
  size_t start = 0;
  for (;;) {
    size_t cut = text.find("\n#--\n", start);
    std::string part = text.substr(start, cut == std::string::npos ? cut : cut - start);
    sources.push_back({"m" + std::to_string(sources.size()) + ".s", part});
    if (cut == std::string::npos || sources.size() == 8) break;
    start = cut + 5;
  }
  korvane::as::LinkOptions options;
  options.listing = size % 2 == 0;
  korvane::as::AssembleAndLink(sources, options);
  return 0;
}
