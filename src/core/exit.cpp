// How a run ends: MsgExit and its relatives.
#include "core/exit.h"

#include <cstring>
#include <string>

#include "core/processor.h"

namespace korvane {

void StoreExitMessage(Processor& emu, const char* text, const char* detail) {
  // Longer messages are cut at the buffer's capacity; the log line carries them whole.
  std::string joined = std::string(text) + (detail ? detail : "");
  std::strncpy(emu.exit.message, joined.c_str(), kExitMessageSize - 1);
  emu.exit.message[kExitMessageSize - 1] = '\0';
}

void MsgExit(Processor& emu, const char* text) {
  emu.log.Printf("MsgExit: %s, IP=%08lX\n", text, static_cast<unsigned long>(emu.cpu.ip));
  StoreExitMessage(emu, text, nullptr);
  emu.log.Flush();
  throw EmuExitSignal{};
}

void MsgExitDetail(Processor& emu, const char* text, const char* detail) {
  emu.log.Printf("MsgExit: %s %s, IP=%08lX\n", text, detail,
                 static_cast<unsigned long>(emu.cpu.ip));
  StoreExitMessage(emu, text, detail);
  emu.log.Flush();
  throw EmuExitSignal{};
}

void EmuAbort(Processor& emu, const char* text) {
  emu.log.Printf("%s\n", text);
  StoreExitMessage(emu, text, nullptr);
  emu.log.Flush();
  throw EmuExitSignal{};
}

void RequestExit(Processor& emu, int code) {
  emu.exit.code = code;
  emu.run.control.Raise();  // the loop leaves after this instruction
}

}  // namespace korvane
