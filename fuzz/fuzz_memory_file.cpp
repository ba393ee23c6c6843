// Fuzz target: the memory file restore (and the save after it) with -mo of either sign. The
// input's first four bytes are the offset (little-endian, signed); the rest is the memory file.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "image/memory_file.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ScratchFolder folder("mem");
  static const bool ready = [] {
    std::vector<uint8_t> exe = fuzz::AssembleOrDie(
        "\t.text\n\t.globl _start\n_start:\n\tb _start\n"
        "\t.section .absd\n\t.globl kept\nkept:\n\t.space 300\n");
    fuzz::WriteBytes(folder.File("x.out"), exe.data(), exe.size());
    fuzz::WriteBytes(folder.File("x.xcl"), "", 0);
    return true;
  }();
  (void)ready;
  if (size < 4) return 0;
  int32_t mo;
  std::memcpy(&mo, data, 4);
  // Offsets far beyond the file only make a large sparse file on save; keep them near.
  mo %= 4096;
  fuzz::WriteBytes(folder.File("x.mem"), data + 4, size - 4);

  Emulator emu;
  if (!fuzz::StartUp(emu, {"korvane", "-v0", "-mo" + std::to_string(mo), folder.File("x")}))
    return 0;
  try {
    SaveMemoryFile(emu);
  } catch (const EmuExitSignal&) {
  }
  return 0;
}
