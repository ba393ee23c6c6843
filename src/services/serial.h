// Serial ports: the firmware's port1..port4 on host serial devices.
#pragma once

#include <cstdint>
#include <string>

#include "platform/serial_port.h"

namespace korvane {

struct Machine;

constexpr int kGuestPortCount = 4;  // port1..port4
constexpr int kComCount = 4;        // COM1..COM4

// Offsets of the fields of a port variable in guest memory (little-endian).
enum PortField : uint32_t {
  kPortBaud = 0,        // 32-bit baud rate
  kPortDataBits = 4,    // 8-bit data bits per character
  kPortStopBits = 8,    // 32-bit: 2 means two stop bits, anything else one
  kPortParity = 12,     // 32-bit: 1 odd, 2 even, else none; non-zero also checks parity
  kPortRts = 16,        // 8-bit: non-zero selects RTS handshaking
  kPortCts = 17,        // 8-bit: non-zero waits for CTS before sending
  kPortSucceeded = 18,  // 8-bit, written by the emulator: last operation succeeded
  kPortOpen = 19,       // 8-bit, written by the emulator: the port is open
  kPortSend = 20,       // 8-bit: character to send
  kPortReceived = 24,   // 8-bit, written by the emulator: character received
};

// Device path used for COM n when neither the setting nor KORVANE_COMn names one.
std::string DefaultComDevice(int com);

// The device-path value that asks for a pseudo-terminal instead of a device.
inline constexpr const char* kPtyDevice = "pty";

struct SerialState {
  SerialState() = default;
  SerialState(const SerialState&) = delete;
  SerialState& operator=(const SerialState&) = delete;
  ~SerialState();

  // Host descriptors per COM number 1-4 (index 0 unused); -1 when closed.
  int handles[kComCount + 1] = {-1, -1, -1, -1, -1};
  // Guest addresses of port1..port4, resolved by x$init_ports; 0 for a variable the
  // executable lacks. Tests may fill them directly.
  uint32_t port_addr[kGuestPortCount] = {};
  // Device path per COM number (index 0 unused). Empty: the environment variable
  // KORVANE_COMn, else DefaultComDevice(n). "pty" creates a pseudo-terminal.
  std::string device_path[kComCount + 1];
  // Whether KORVANE_COMn is consulted at all; tests switch it off so the process environment
  // cannot change what they open.
  bool use_environment = true;
  // Pseudo-terminals created for COM numbers whose device is "pty". They live for the whole
  // run, so a terminal program stays attached while the firmware closes and reopens the port.
  PseudoTerminal pty[kComCount + 1];
  // Sees the outcome of every x$read_port on an open port (the byte, or -1 when none came) and
  // returns the one the firmware gets: input recording and replay.
  int (*after_read)(Machine& emu, void* context, uint32_t port, int byte) = nullptr;
  void* after_read_context = nullptr;
};

// The device path for COM n (1-4) after the setting, the environment and the default.
std::string ComDevicePath(const SerialState& serial, int com);

// Closes COM n's handle, if open, and marks it closed. A pseudo-terminal stays in place.
void CloseComHandle(SerialState& serial, int com);

}  // namespace korvane
