// The memory file: the absolute-data area kept between runs.
#pragma once

namespace korvane {

struct Machine;

void RestoreMemoryFile(Machine& emu);
void SaveMemoryFile(Machine& emu);

}  // namespace korvane
