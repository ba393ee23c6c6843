// Where the window's keys go: the keyboard emulation of the running emulator, or a recorder in
// tests.
#pragma once

#include <functional>

namespace korvane {
struct Emulator;
}

namespace korvane::shell {

class KeyTarget {
 public:
  virtual ~KeyTarget() = default;
  // False when the key was refused (the emulator's key queue is full); the caller says so.
  virtual bool KeyDown(int virtual_key) = 0;
  virtual void KeyUp(int virtual_key) = 0;
  virtual bool DeviceKey(int device_code) = 0;
};

// Passes keys to HostKeyDown, HostKeyUp and PushDeviceKey of the emulator `emu` gives: the
// current run's, which a restart replaces.
class EmulatorKeyTarget : public KeyTarget {
 public:
  explicit EmulatorKeyTarget(std::function<Emulator&()> emu) : emu_(std::move(emu)) {}
  bool KeyDown(int virtual_key) override;
  void KeyUp(int virtual_key) override;
  bool DeviceKey(int device_code) override;

 private:
  std::function<Emulator&()> emu_;
};

}  // namespace korvane::shell
