// The emulation thread's main routine and its start-up phases.
#include "driver/emu_main.h"

#include <exception>
#include <string>

#include "driver/emulator.h"
#include "driver/save_state.h"
#include "image/memory_file.h"
#include "services/native_handlers.h"

namespace korvane {

namespace {

uint8_t* ResolveVar(Emulator& emu, const char* name, uint32_t bytes) {
  uint32_t avail = 0;
  uint8_t* p = TranslateAddress(emu.mem, LookupIdent(emu, name), &avail);
  return avail >= bytes ? p : emu.mem.scratch;
}

// Mode 5: copies the LCD for the window when it goes out of scope, so the last picture the
// firmware drew is shown however the loop ends (a fatal condition leaves by an exception).
struct FinalLcdCopy {
  Emulator& emu;
  ~FinalLcdCopy() { DisplaySnapshotLcd(emu); }
};

}  // namespace

void ResolveGuestVars(Emulator& emu) {
  emu.vars.korvane_active = ResolveVar(emu, "korvane_active", 1);
  emu.vars.navigate_msg_mode = ResolveVar(emu, "navigate_msg_mode", 4);
  emu.vars.file_errnum = ResolveVar(emu, "file_errnum", 4);
}

void RunPhase(Emulator& emu) {
  RunState& run = emu.run;
  run.system_timer =
      TranslateAddress(emu.mem, LookupIdent(emu, "system_timer"), &run.system_timer_avail);
  NativeClearText(emu);
  if (emu.start_state) {
    std::string error;
    if (!CheckState(emu, *emu.start_state, error))
      MsgExitDetail(emu, "state not loaded: ", error.c_str());
    ApplyState(emu, *emu.start_state);
    emu.log.Printf("State loaded from %s at instruction %llu\n", emu.start_state->path.c_str(),
                   static_cast<unsigned long long>(emu.run.start_executed));
  }
  // In mode 5 the window renders the LCD from a copy that the emulation thread refreshes when
  // the loop starts, at its check points and when it ends.
  DisplaySnapshotLcd(emu);
  const Options& opt = emu.opt;
  if (!emu.debugger &&
      ((opt.bc_start | opt.bc_end | opt.bd_start | opt.bd_end | opt.bo_start | opt.bo_end) != 0 ||
       opt.ic > 0))
    emu.debugger = std::make_unique<Debugger>(emu);
  if (emu.debugger) emu.debugger->ApplyOptions(opt);
  {
    FinalLcdCopy final_lcd_copy{emu};
    try {
      RunLoop(emu);
    } catch (const EmuExitSignal&) {
      // A fatal end: the last instructions show how the firmware got there.
      if (emu.debugger) emu.debugger->OnFatalEnd();
      throw;
    }
  }
  if (emu.debugger) emu.debugger->FinishTrace();
  if (emu.exit.code == 1 && !run.stopped_by_host) SaveMemoryFile(emu);
  emu.log.Flush();
}

int EmuMain(Emulator& emu, int argc, char** argv) {
  if (!ReadOptions(emu, argc, argv)) EmuAbort(emu, UsageText());
  if (!InitEmuIdents(emu)) EmuAbort(emu, " InitEmuIdents ");
  if (!InitEmuExec(emu)) EmuAbort(emu, " InitEmuExec ");
  if (!InitEmuKey(emu)) EmuAbort(emu, " InitEmuKey ");
  ResolveGuestVars(emu);
  emu.exit.run_started = true;
  RunPhase(emu);
  return 0;
}

void EmuThreadMain(Emulator& emu) {
  try {
    EmuMain(emu, static_cast<int>(emu.argv.size()), emu.argv.data());
  } catch (const EmuExitSignal&) {
  } catch (const std::exception& e) {
    // Host trouble (memory exhausted, ...) ends the run like a fatal condition instead of
    // taking the whole program down with the thread.
    std::string text = std::string("internal error: ") + e.what();
    emu.log.Printf("MsgExit: %s, IP=%08lX\n", text.c_str(), static_cast<unsigned long>(emu.cpu.ip));
    StoreExitMessage(emu, text.c_str(), nullptr);
  }
  emu.log.Flush();
  emu.exit.finished.store(1, std::memory_order_release);
}

}  // namespace korvane
