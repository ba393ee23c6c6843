// Keyboard emulation: keys from the host, device codes, timed key pulses in guest memory.
#include "services/keyboard.h"

#include "core/emulator.h"
#include "services/native_handlers.h"

namespace korvane {

void PushDeviceKey(Emulator& emu, int code) { emu.keys.pending_device_key.store(code); }
void HostKeyDown(Emulator& emu, int virtual_key) { (void)emu; (void)virtual_key; }
void HostKeyUp(Emulator& emu, int virtual_key) { (void)emu; (void)virtual_key; }
bool InitEmuKey(Emulator& emu) {
  (void)emu;
  return true;
}
void NativeReadKeys(Emulator& emu) { (void)emu; }

}  // namespace korvane
