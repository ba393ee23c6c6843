// The emulation thread's main routine, its start-up phases and how a run ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

struct Emulator;

constexpr int kExitMessageSize = 512;

// Thrown by MsgExit, MsgExitDetail and EmuAbort to end the emulation thread at once;
// caught only at the thread's top (EmuThreadMain). Nothing else is unwound.
struct EmuExitSignal {};

struct ExitState {
  std::atomic<int> finished{0};        // EmuFinished: 1 once the emulation thread has ended
  char message[kExitMessageSize] = {}; // EmuExitMessage: complete before `finished` is set
  int32_t code = 0;                    // EmuExitCode: 0 run, 1 stop and save, 2 stop
};

// Host pointers to the guest variables resolved at the end of start-up. A variable whose bytes
// would run past its region's storage points at the scratch area instead, so a 32-bit store
// through the pointer never leaves host storage.
struct GuestVars {
  uint8_t* korvane_active = nullptr;     // 8-bit
  uint8_t* navigate_msg_mode = nullptr;  // 32-bit
  uint8_t* file_errnum = nullptr;        // 32-bit
};

[[noreturn]] void MsgExit(Emulator& emu, const char* text);
[[noreturn]] void MsgExitDetail(Emulator& emu, const char* text, const char* detail);
[[noreturn]] void EmuAbort(Emulator& emu, const char* text);
void RequestExit(Emulator& emu, int code);

// Resolves korvane_active, navigate_msg_mode and file_errnum (start-up step 5).
void ResolveGuestVars(Emulator& emu);

// Runs the start-up phases and the run loop; returns 0 after an exit request.
int EmuMain(Emulator& emu, int argc, char** argv);
// The thread procedure: EmuMain over emu.args, then EmuFinished = 1.
void EmuThreadMain(Emulator& emu);

}  // namespace korvane
