// The memory file: the absolute-data area kept between runs.
#pragma once

namespace korvane {

struct Emulator;

void RestoreMemoryFile(Emulator& emu);
void SaveMemoryFile(Emulator& emu);

}  // namespace korvane
