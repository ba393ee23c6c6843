// The memory file: the absolute-data area kept between runs.
#include "image/memory_file.h"

#include "core/emulator.h"

namespace korvane {

void RestoreMemoryFile(Emulator& emu) { (void)emu; }
void SaveMemoryFile(Emulator& emu) { (void)emu; }

}  // namespace korvane
