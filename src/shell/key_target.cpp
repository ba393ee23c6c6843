// Where the window's keys go: the keyboard emulation of the running emulator.
#include "shell/key_target.h"

#include "driver/emulator.h"
#include "services/keyboard.h"

namespace korvane::shell {

bool EmulatorKeyTarget::KeyDown(int virtual_key) { return HostKeyDown(emu_(), virtual_key); }
void EmulatorKeyTarget::KeyUp(int virtual_key) { HostKeyUp(emu_(), virtual_key); }
bool EmulatorKeyTarget::DeviceKey(int device_code) { return PushDeviceKey(emu_(), device_code); }

}  // namespace korvane::shell
