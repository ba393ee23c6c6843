// Serial ports: the firmware's port1..port4 on host serial devices.
#include "services/serial.h"

#include <cstdlib>

#include "services/machine.h"
#include "services/machine_state.h"
#include "services/native_handlers.h"

namespace korvane {

namespace {

constexpr int kRegG7 = 7;  // port variable address on entry
constexpr int kRegG9 = 9;  // result: 1 success, 0 failure

const char* const kPortNames[kGuestPortCount] = {"port1", "port2", "port3", "port4"};

// Where a port routine's call goes after a successful transfer, when the firmware has it.
constexpr const char* kSpyInit = "x$insert_spy_ports_INIT";
constexpr const char* kSpyRead = "x$insert_spy_ports_READ";
constexpr const char* kSpyWrite = "x$insert_spy_ports_WRITE";

// The common start of the per-port routines: g9 := 0, then the COM number of the port whose
// variable g7 points at, or 0 when the port is unknown or not connected. An address of 0 is
// never a port: it stands for a variable the executable lacks.
int LookupPort(Machine& emu, uint32_t* port) {
  emu.cpu.g[kRegG9] = 0;
  uint32_t addr = emu.cpu.g[kRegG7];
  if (addr == 0) return 0;
  for (int i = 0; i < kGuestPortCount; ++i) {
    if (emu.serial.port_addr[i] != addr) continue;
    int com = emu.opt.com_map[i];
    if (com < 1 || com > kComCount) return 0;
    *port = addr;
    return com;
  }
  return 0;
}

SerialLineSettings ReadLineSettings(Machine& emu, uint32_t port) {
  MemoryMap& m = emu.mem;
  SerialLineSettings s;
  s.baud = GuestRead32(m, port + kPortBaud);
  s.data_bits = GuestRead8(m, port + kPortDataBits);
  s.two_stop_bits = GuestRead32(m, port + kPortStopBits) == 2;
  uint32_t parity = GuestRead32(m, port + kPortParity);
  s.parity = parity == 1   ? SerialParity::kOdd
             : parity == 2 ? SerialParity::kEven
                           : SerialParity::kNone;
  s.parity_check = parity != 0;
  s.rts_handshake = GuestRead8(m, port + kPortRts) != 0;
  s.cts_flow = GuestRead8(m, port + kPortCts) != 0;
  return s;
}

// Opens COM n's device (or its pseudo-terminal) and applies `s`. Returns the descriptor, or
// -1 when the device does not open or refuses the settings; nothing is left open then.
int OpenCom(Machine& emu, int com, const SerialLineSettings& s) {
  SerialState& serial = emu.serial;
  std::string path = ComDevicePath(serial, com);
  if (path == kPtyDevice) {
    PseudoTerminal& pty = serial.pty[com];
    if (pty.master < 0) {
      std::string error;
      if (!OpenPseudoTerminal(&pty, &error)) return -1;
      // Tells the user (or a test) where to attach a terminal program.
      emu.log.Printf("COM%d is %s\n", com, pty.slave_path.c_str());
      emu.log.Flush();
    }
    return SerialConfigure(pty.master, s) ? pty.master : -1;
  }
  int fd = SerialOpen(path, /*exclusive=*/true, nullptr);
  if (fd < 0) return -1;
  if (!SerialConfigure(fd, s)) {
    SerialClose(fd);
    return -1;
  }
  return fd;
}

// The frame x$write_port and x$read_port share: the port's "succeeded" flag is cleared, the
// transfer runs only on a port the firmware marked open, and its outcome goes to the flag and
// g9; only a transfer that happened reaches the firmware's spy routine.
template <typename Transfer>
void TransferOnPort(Machine& emu, const char* spy, Transfer transfer) {
  uint32_t port = 0;
  int com = LookupPort(emu, &port);
  if (com == 0) return;
  GuestWrite8(emu.mem, port + kPortSucceeded, 0);
  const bool open = GuestRead8(emu.mem, port + kPortOpen) == 1;
  const uint8_t ok = open && transfer(emu.serial.handles[com], port) ? 1 : 0;
  GuestWrite8(emu.mem, port + kPortSucceeded, ok);
  emu.cpu.g[kRegG9] = ok;
  if (ok) emu.intercept.spy_redirect = spy;
}

}  // namespace

std::string DefaultComDevice(int com) { return "/dev/ttyS" + std::to_string(com - 1); }

std::string ComDevicePath(const SerialState& serial, int com) {
  if (!serial.device_path[com].empty()) return serial.device_path[com];
  if (serial.use_environment) {
    std::string name = "KORVANE_COM" + std::to_string(com);
    const char* value = std::getenv(name.c_str());
    if (value && *value) return value;
  }
  return DefaultComDevice(com);
}

void CloseComHandle(SerialState& serial, int com) {
  int fd = serial.handles[com];
  serial.handles[com] = -1;
  if (fd < 0 || fd == serial.pty[com].master) return;
  SerialClose(fd);
}

SerialState::~SerialState() {
  for (int com = 1; com <= kComCount; ++com) {
    CloseComHandle(*this, com);
    ClosePseudoTerminal(&pty[com]);
  }
}

void NativeInitPorts(Machine& emu) {
  // Closing, not just forgetting, the handles: an exclusive device left open would refuse the
  // next x$init_port on the same COM number.
  for (int com = 1; com <= kComCount; ++com) CloseComHandle(emu.serial, com);
  for (int i = 0; i < kGuestPortCount; ++i) {
    emu.serial.port_addr[i] = LookupIdent(emu, kPortNames[i]);
  }
}

void NativeInitPort(Machine& emu) {
  uint32_t port = 0;
  int com = LookupPort(emu, &port);
  if (com == 0) return;
  CloseComHandle(emu.serial, com);
  SerialLineSettings s = ReadLineSettings(emu, port);
  int fd = OpenCom(emu, com, s);
  emu.serial.handles[com] = fd;
  uint8_t ok = fd >= 0 ? 1 : 0;
  GuestWrite8(emu.mem, port + kPortOpen, ok);
  GuestWrite8(emu.mem, port + kPortSucceeded, ok);
  emu.cpu.g[kRegG9] = ok;
  // The firmware's spy sees every initialisation, failed or not.
  emu.intercept.spy_redirect = kSpyInit;
}

void NativeWritePort(Machine& emu) {
  TransferOnPort(emu, kSpyWrite, [&emu](int handle, uint32_t port) {
    uint8_t c = GuestRead8(emu.mem, port + kPortSend);
    // A port the firmware marks open but whose handle is closed (x$init_ports ran since) fails.
    return SerialWriteByte(handle, c, kSerialWriteTimeoutMs, emu.run.control.wake_fd()) ==
           SerialIo::kDone;
  });
}

void NativeReadPort(Machine& emu) {
  TransferOnPort(emu, kSpyRead, [&emu](int handle, uint32_t port) {
    uint8_t c = 0;
    int byte = SerialReadByte(handle, &c, kSerialReadTimeoutMs, emu.run.control.wake_fd()) ==
                       SerialIo::kDone
                   ? c
                   : -1;
    if (emu.serial.after_read)
      byte = emu.serial.after_read(emu, emu.serial.after_read_context, port, byte);
    // Field 24 changes only when a character actually arrived.
    if (byte < 0) return false;
    GuestWrite8(emu.mem, port + kPortReceived, static_cast<uint8_t>(byte));
    return true;
  });
}

void NativeStatusPort(Machine& emu) { emu.cpu.g[kRegG9] = 0; }

}  // namespace korvane

namespace korvane {

void SerializeSerial(Machine& emu, StateArchive& ar) {
  SerialState& serial = emu.serial;
  ar.Value(serial.port_addr);
  bool open[kComCount + 1] = {};
  for (int com = 1; com <= kComCount; ++com) open[com] = serial.handles[com] >= 0;
  for (int com = 1; com <= kComCount; ++com) open[com] = ar.ScalarFlag(open[com], "open");
  if (!ar.loading() || !ar.ok()) return;
  // The ports are reopened with the settings their variables hold in the loaded memory.
  for (int com = 1; com <= kComCount; ++com) {
    CloseComHandle(serial, com);
    if (!open[com]) continue;
    int port = -1;
    for (int i = 0; i < kGuestPortCount; ++i)
      if (emu.opt.com_map[i] == com && serial.port_addr[i] != 0) port = i;
    const int fd = port < 0 ? -1 : OpenCom(emu, com, ReadLineSettings(emu, serial.port_addr[port]));
    serial.handles[com] = fd;
    if (fd < 0)
      emu.log.Printf("state: COM%d (%s) did not reopen; the port stays closed\n", com,
                     ComDevicePath(serial, com).c_str());
  }
}

}  // namespace korvane
