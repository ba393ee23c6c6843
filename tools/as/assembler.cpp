// The i960 assembler and linker.
#include "as/assembler.h"

namespace korvane::as {

std::string Diagnostic::ToString() const {
  return file + ":" + std::to_string(line) + ": " + message;
}

Executable AssembleAndLink(const std::vector<SourceFile>& sources, const LinkOptions& options) {
  (void)sources;
  (void)options;
  Executable exe;
  exe.errors.push_back({"", 0, "not implemented"});
  return exe;
}

}  // namespace korvane::as
