// Serial ports: the firmware's port1..port4 on host serial devices.
#include "services/serial.h"

#include "core/emulator.h"
#include "services/native_handlers.h"

namespace korvane {

void NativeInitPorts(Emulator& emu) { (void)emu; }
void NativeInitPort(Emulator& emu) { (void)emu; }
void NativeReadPort(Emulator& emu) { (void)emu; }
void NativeWritePort(Emulator& emu) { (void)emu; }
void NativeStatusPort(Emulator& emu) { (void)emu; }

}  // namespace korvane
