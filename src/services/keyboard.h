// Keyboard emulation: keys from the host, device codes, timed key pulses in guest memory.
#pragma once

#include <atomic>
#include <cstdint>

namespace korvane {

struct Emulator;

struct KeyboardState {
  // Key input words: each written by the window thread and read and cleared by the emulation
  // thread.
  std::atomic<int32_t> pending_device_key{0};  // PendingDeviceKey
  std::atomic<int32_t> pending_host_key{0};    // PendingHostKey
  std::atomic<int32_t> current_mods{0};        // CurrentMods
  std::atomic<int32_t> host_key_mods{0};       // HostKeyMods
};

// Called by the window (and the runner's key script) on the host side.
void PushDeviceKey(Emulator& emu, int code);
void HostKeyDown(Emulator& emu, int virtual_key);
void HostKeyUp(Emulator& emu, int virtual_key);

// The keyboard phase of start-up.
bool InitEmuKey(Emulator& emu);

}  // namespace korvane
