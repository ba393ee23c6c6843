// Host serial devices on POSIX termios: opening, line settings, one-character transfers with
// time-outs, and pseudo-terminals standing in for serial devices.
#pragma once

#include <cstdint>
#include <string>

// Kept out of this header so the termios macros (ECHO, VMIN, B0...) do not reach every file
// that includes the Emulator context.
struct termios;

namespace korvane {

// How long a one-character transfer may block the emulation thread: a read waits up to
// 100 ms plus 5 ms per character, a write up to 100 ms plus 10 ms per character.
constexpr int kSerialReadTimeoutMs = 105;
constexpr int kSerialWriteTimeoutMs = 110;

enum class SerialParity { kNone, kOdd, kEven };

// Line settings of one port, as the firmware's port variable asks for them.
struct SerialLineSettings {
  uint32_t baud = 9600;
  int data_bits = 8;             // 5-8
  bool two_stop_bits = false;
  SerialParity parity = SerialParity::kNone;
  bool parity_check = false;     // check the parity of received characters
  bool rts_handshake = false;    // RTS follows the receive buffer
  bool cts_flow = false;         // output waits for CTS
};

// Result of a one-character transfer.
enum class SerialIo { kDone, kTimeout, kError };

// The termios speed constant for `baud`, or false when the host has none for that rate
// (0 included: it would hang up the line rather than set a rate).
bool SerialSpeedFor(uint32_t baud, unsigned int* speed);

// Fills `tio` (already read from the device, so driver-private bits survive) with raw mode and
// `s`. Returns false, leaving `tio` unspecified, when the settings cannot be expressed: a rate
// the host does not support or a character size outside 5-8 bits.
bool BuildSerialTermios(const SerialLineSettings& s, ::termios* tio);

// Opens a serial device for reading and writing without making it the controlling terminal,
// non-blocking (transfers wait with poll), and, when `exclusive`, refusing further opens
// (TIOCEXCL). Returns the descriptor, or -1 with `error` describing why.
int SerialOpen(const std::string& path, bool exclusive, std::string* error);

// Applies raw mode and `s` to an open device. False when the settings cannot be expressed or
// the device rejects them.
bool SerialConfigure(int fd, const SerialLineSettings& s);

// Reads one character, waiting at most `timeout_ms`. A readable `wake_fd` (the host's request
// to the emulation thread, -1 for none) ends the wait early, as a time-out.
SerialIo SerialReadByte(int fd, uint8_t* out, int timeout_ms, int wake_fd = -1);
// Writes one character, waiting at most `timeout_ms` for room; `wake_fd` as for reads.
SerialIo SerialWriteByte(int fd, uint8_t c, int timeout_ms, int wake_fd = -1);

// Releases exclusivity and closes the descriptor. Ignores -1.
void SerialClose(int fd);

// A pseudo-terminal standing in for a serial device: the emulator uses `master`; a terminal
// program (or a test) opens `slave_path`. `keep_slave` is a descriptor of the slave held open
// by the emulator so the line does not hang up while nothing else has it open.
struct PseudoTerminal {
  int master = -1;
  int keep_slave = -1;
  std::string slave_path;
};

// Creates a pseudo-terminal in raw mode. False with `error` set when the host refuses.
bool OpenPseudoTerminal(PseudoTerminal* pty, std::string* error);
void ClosePseudoTerminal(PseudoTerminal* pty);

}  // namespace korvane
