// The emulation thread's main routine, its start-up phases and how a run ends.
#include "driver/emu_main.h"

#include <cstring>
#include <exception>
#include <string>

#include "core/emulator.h"

namespace korvane {

namespace {

void StoreMessage(Emulator& emu, const char* text, const char* detail) {
  // Longer messages are cut at the buffer's capacity; the log line carries them whole.
  std::string joined = std::string(text) + (detail ? detail : "");
  std::strncpy(emu.exit.message, joined.c_str(), kExitMessageSize - 1);
  emu.exit.message[kExitMessageSize - 1] = '\0';
}

}  // namespace

void MsgExit(Emulator& emu, const char* text) {
  emu.log.Printf("MsgExit: %s, IP=%08lX\n", text, static_cast<unsigned long>(emu.cpu.ip));
  StoreMessage(emu, text, nullptr);
  emu.log.Flush();
  throw EmuExitSignal{};
}

void MsgExitDetail(Emulator& emu, const char* text, const char* detail) {
  emu.log.Printf("MsgExit: %s %s, IP=%08lX\n", text, detail,
                 static_cast<unsigned long>(emu.cpu.ip));
  StoreMessage(emu, text, detail);
  emu.log.Flush();
  throw EmuExitSignal{};
}

void EmuAbort(Emulator& emu, const char* text) {
  emu.log.Printf("%s\n", text);
  StoreMessage(emu, text, nullptr);
  emu.log.Flush();
  throw EmuExitSignal{};
}

void RequestExit(Emulator& emu, int code) { emu.exit.code = code; }

namespace {

uint8_t* ResolveVar(Emulator& emu, const char* name, uint32_t bytes) {
  uint32_t avail = 0;
  uint8_t* p = TranslateAddress(emu.mem, LookupIdent(emu, name), &avail);
  return avail >= bytes ? p : emu.mem.scratch;
}

}  // namespace

void ResolveGuestVars(Emulator& emu) {
  emu.vars.korvane_active = ResolveVar(emu, "korvane_active", 1);
  emu.vars.navigate_msg_mode = ResolveVar(emu, "navigate_msg_mode", 4);
  emu.vars.file_errnum = ResolveVar(emu, "file_errnum", 4);
}

int EmuMain(Emulator& emu, int argc, char** argv) {
  if (!ReadOptions(emu, argc, argv)) EmuAbort(emu, UsageText());
  if (!InitEmuIdents(emu)) EmuAbort(emu, " InitEmuIdents ");
  if (!InitEmuExec(emu)) EmuAbort(emu, " InitEmuExec ");
  if (!InitEmuKey(emu)) EmuAbort(emu, " InitEmuKey ");
  ResolveGuestVars(emu);
  RunLoop(emu);
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
    StoreMessage(emu, text.c_str(), nullptr);
  }
  emu.log.Flush();
  emu.exit.finished.store(1, std::memory_order_release);
}

}  // namespace korvane
