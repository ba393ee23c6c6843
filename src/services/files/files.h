// File and directory services on host folders.
#pragma once

namespace korvane {

struct Emulator;

struct FileState {
  bool initialised = false;
};

// Initialises the file services once at start-up (the routine behind x$init_filemem).
void InitFileServices(Emulator& emu);

}  // namespace korvane
