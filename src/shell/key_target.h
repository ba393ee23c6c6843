// Where the window's keys go: the keyboard emulation of the running emulator, or a recorder in
// tests.
#pragma once

namespace korvane {
struct Emulator;
}

namespace korvane::shell {

class KeyTarget {
 public:
  virtual ~KeyTarget() = default;
  virtual void KeyDown(int virtual_key) = 0;
  virtual void KeyUp(int virtual_key) = 0;
  virtual void DeviceKey(int device_code) = 0;
};

// Passes keys to HostKeyDown, HostKeyUp and PushDeviceKey of one emulator.
class EmulatorKeyTarget : public KeyTarget {
 public:
  explicit EmulatorKeyTarget(Emulator& emu) : emu_(emu) {}
  void KeyDown(int virtual_key) override;
  void KeyUp(int virtual_key) override;
  void DeviceKey(int device_code) override;

 private:
  Emulator& emu_;
};

}  // namespace korvane::shell
