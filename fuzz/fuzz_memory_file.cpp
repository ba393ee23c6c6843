// Fuzz target: the memory file restore and the save after it, with -mo of either sign, over an
// absolute-data area of the input's size. Bytes 0-3 are the offset (little-endian, signed),
// bytes 4-5 the area's size; the rest is the memory file. The area is defined directly, as
// the image phase would from the executable's .absd section, so each input costs no start-up.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "image/memory_file.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ScratchFolder folder("mem");
  if (size < 6) return 0;
  int32_t mo;
  std::memcpy(&mo, data, 4);
  // Offsets far beyond the file only make a large sparse file on save; keep them near.
  mo %= 0x20000;
  const uint32_t area = static_cast<uint32_t>(data[4] | data[5] << 8);
  fuzz::WriteBytes(folder.File("x.mem"), data + 6, size - 6);

  Emulator emu;
  emu.SetArgs({"korvane", "-mo" + std::to_string(mo), folder.File("x")});
  try {
    if (!ReadOptions(emu, static_cast<int>(emu.argv.size()), emu.argv.data())) return 0;
    DefineRegion(emu, kRegionAbsd, "ABSD", 0x20000000u, area, true, 0, 0, 0);
    RestoreMemoryFile(emu);
    SaveMemoryFile(emu);
  } catch (const EmuExitSignal&) {
  }
  return 0;
}
