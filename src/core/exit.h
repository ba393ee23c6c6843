// How a run ends: the exit state shared with the front-ends, and the routines that end the
// emulation thread with a message.
#pragma once

#include <atomic>
#include <cstdint>

namespace korvane {

struct Processor;

constexpr int kExitMessageSize = 512;
constexpr int kFaultTextSize = 160;

// Thrown by MsgExit, MsgExitDetail and EmuAbort to end the emulation thread at once;
// caught only at the thread's top (EmuThreadMain). Nothing else is unwound.
struct EmuExitSignal {};

struct ExitState {
  std::atomic<int> finished{0};         // EmuFinished: 1 once the emulation thread has ended
  char message[kExitMessageSize] = {};  // EmuExitMessage: complete before `finished` is set
  int32_t code = 0;                     // EmuExitCode: 0 run, 1 stop and save, 2 stop
  // For front-ends that show where and why a run ended, complete before `finished` is set:
  // whether the start-up phases had finished (the machine stands where the run ended and can
  // be looked at), and the fault that ended the run, as its log line and the hint after it.
  bool run_started = false;
  char fault[kFaultTextSize] = {};
  char hint[kFaultTextSize] = {};
};

[[noreturn]] void MsgExit(Processor& emu, const char* text);
[[noreturn]] void MsgExitDetail(Processor& emu, const char* text, const char* detail);
[[noreturn]] void EmuAbort(Processor& emu, const char* text);
void RequestExit(Processor& emu, int code);
// Stores the exit message (cut at its capacity) without ending the thread.
void StoreExitMessage(Processor& emu, const char* text, const char* detail);

}  // namespace korvane
