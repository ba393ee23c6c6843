// The emulation thread's main routine, its start-up phases and how a run ends.
#pragma once

#include "core/exit.h"

namespace korvane {

struct Emulator;

// Resolves korvane_active, navigate_msg_mode and file_errnum (start-up step 5).
void ResolveGuestVars(Emulator& emu);

// The run phase: resolves system_timer, clears the text screen, runs the loop and does what
// follows it (the last LCD copy, the memory file after an exit with code 1).
void RunPhase(Emulator& emu);

// Runs the start-up phases and the run loop; returns 0 after an exit request.
int EmuMain(Emulator& emu, int argc, char** argv);
// The thread procedure: EmuMain over emu.args, then EmuFinished = 1.
void EmuThreadMain(Emulator& emu);

}  // namespace korvane
