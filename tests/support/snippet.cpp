// Test support: assemble short programs with our own assembler and run them on a fresh Emulator.
#include "support/snippet.h"

#include <filesystem>

namespace korvane::test {

std::string FixturesDir() {
  std::filesystem::path p(KORVANE_FIXTURES_DIR);
  std::error_code ec;
  if (std::filesystem::is_directory(p, ec)) return p.string();
  return "";
}

}  // namespace korvane::test
