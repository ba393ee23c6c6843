// Fuzz target: executable bytes through the identifier phase (headers, exclude list, symbol
// walk, intercept list) and the image phase (regions, sections, memory file, opcode index).
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ScratchFolder folder("coff");
  static const bool ready = [] {
    fuzz::WriteBytes(folder.File("x.xcl"), "", 0);
    fuzz::WriteBytes(folder.File("x.mem"), "", 0);
    return true;
  }();
  (void)ready;
  fuzz::WriteBytes(folder.File("x.out"), data, size);

  Emulator emu;
  fuzz::StartUp(emu, {"korvane", "-v1", folder.File("x")});
  return 0;
}
