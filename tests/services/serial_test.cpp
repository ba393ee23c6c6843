// Tests of the firmware's serial port routines against pseudo-terminal pairs standing in for
// COM devices: line settings, transfers, time-outs, reopening, unmapped ports and spy redirects.
#include "services/serial.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "driver/emulator.h"
#include "services/native_handlers.h"
#include "support/host_io.h"

namespace korvane {
namespace {

using test::ReadOne;

constexpr uint32_t kDataBase = 0x8000;
constexpr uint32_t kDataSize = 0x1000;
// Where the tests place port1..port4 (32 bytes apart, as a firmware's data section might).
constexpr uint32_t kPort1 = kDataBase + 0x100;
constexpr uint32_t PortAddr(int i) { return kPort1 + 32 * i; }
constexpr uint32_t kPortBytes = 28;

struct PtyPair {
  int master = -1;
  int slave = -1;
  std::string slave_path;
  PtyPair() {
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    slave_path = name;
    // Raw from the start, so a character the test sends is not echoed back before any port
    // has configured the line.
    ::termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
  }
  ~PtyPair() {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
  }
};

// How many of this process's descriptors refer to `path`.
int OpenCount(const std::string& path) {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  if (!d) return -1;
  while (dirent* e = readdir(d)) {
    std::string link = std::string("/proc/self/fd/") + e->d_name;
    char target[256];
    ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
    if (len <= 0) continue;
    target[len] = '\0';
    if (path == target) ++n;
  }
  closedir(d);
  return n;
}

struct PortVar {
  uint32_t baud = 9600;
  uint8_t data_bits = 8;
  uint32_t stop_bits = 1;
  uint32_t parity = 0;
  uint8_t rts = 0;
  uint8_t cts = 0;
};

class SerialPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    emu_ = std::make_unique<Emulator>();
    DefineRegion(emu(), kRegionData, "DATA", kDataBase, kDataSize, true, 0, 0, 0);
    emu().serial.use_environment = false;
    for (int i = 0; i < kGuestPortCount; ++i) emu().serial.port_addr[i] = PortAddr(i);
    // port1 on COM1, the line the test plays the far end of.
    emu().opt.com_map[0] = 1;
    emu().serial.device_path[1] = line_.slave_path;
    // The other COM numbers lead nowhere, so a port that opens the wrong one fails.
    for (int com = 2; com <= kComCount; ++com) emu().serial.device_path[com] = "/nonexistent/com";
    emu().log.SetCapture(true);
    ASSERT_GE(line_.master, 0);
  }

  Emulator& emu() { return *emu_; }
  uint8_t Field8(uint32_t port, uint32_t off) { return GuestRead8(emu().mem, port + off); }

  void SetPort(uint32_t port, const PortVar& v) {
    MemoryMap& m = emu().mem;
    GuestWrite32(m, port + kPortBaud, v.baud);
    GuestWrite8(m, port + kPortDataBits, v.data_bits);
    GuestWrite32(m, port + kPortStopBits, v.stop_bits);
    GuestWrite32(m, port + kPortParity, v.parity);
    GuestWrite8(m, port + kPortRts, v.rts);
    GuestWrite8(m, port + kPortCts, v.cts);
  }

  // Calls a port routine the way the firmware does: g7 = the port variable, g9 garbage.
  void Call(void (*handler)(Machine&), uint32_t port) {
    emu().intercept.spy_redirect.clear();
    emu().cpu.g[7] = port;
    emu().cpu.g[9] = 0xDEAD;
    handler(emu());
  }

  bool InitPort1(const PortVar& v = PortVar{}) {
    SetPort(kPort1, v);
    Call(NativeInitPort, kPort1);
    return emu().cpu.g[9] == 1;
  }

  PtyPair line_;
  std::unique_ptr<Emulator> emu_;
};

TEST_F(SerialPorts, InitAppliesEachLineSettingOrFailsIt) {
  struct Row {
    PortVar v;
    bool ok;
    const char* why;
  } rows[] = {
      {{9600, 8, 1, 0, 0, 0}, true, "8N1, the common case"},
      {{19200, 7, 2, 2, 0, 0}, true, "7E2: even parity, two stop bits"},
      {{1200, 7, 1, 1, 0, 0}, true, "7O1: odd parity"},
      {{4800, 5, 1, 0, 0, 0}, true, "the smallest character size"},
      {{9600, 6, 1, 3, 0, 0}, true, "parity 3 means none, but checking is on"},
      {{115200, 8, 7, 0, 1, 0}, true, "RTS handshake; a stop-bit value other than 2 is one"},
      {{38400, 8, 1, 0, 0, 1}, true, "CTS output flow control"},
      {{12345, 8, 1, 0, 0, 0}, false, "a rate the host has no setting for"},
      {{0, 8, 1, 0, 0, 0}, false, "baud rate 0"},
      {{9600, 9, 1, 0, 0, 0}, false, "9 data bits"},
      {{9600, 4, 1, 0, 0, 0}, false, "4 data bits"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.why);
    GuestWrite8(emu().mem, kPort1 + kPortOpen, 0x77);
    GuestWrite8(emu().mem, kPort1 + kPortSucceeded, 0x77);
    EXPECT_EQ(InitPort1(r.v), r.ok);
    EXPECT_EQ(Field8(kPort1, kPortOpen), r.ok ? 1 : 0);
    EXPECT_EQ(Field8(kPort1, kPortSucceeded), r.ok ? 1 : 0);
    // The spy sees every initialisation, whether it worked or not.
    EXPECT_EQ(emu().intercept.spy_redirect, "x$insert_spy_ports_INIT");
    if (!r.ok) {
      EXPECT_EQ(emu().serial.handles[1], -1) << "a refused device must not stay open";
      EXPECT_EQ(OpenCount(line_.slave_path), 1) << "only the test's own descriptor";
      continue;
    }
    // What the line now carries (a pseudo-terminal keeps its character size and parity bit
    // itself, so those are checked on the termios translation instead).
    ::termios t{};
    ASSERT_EQ(tcgetattr(line_.master, &t), 0);
    unsigned int speed = 0;
    ASSERT_TRUE(SerialSpeedFor(r.v.baud, &speed));
    EXPECT_EQ(cfgetospeed(&t), speed);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, r.v.stop_bits == 2);
    EXPECT_EQ((t.c_iflag & INPCK) != 0, r.v.parity != 0);
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, r.v.rts != 0 || r.v.cts != 0);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u) << "the line must be raw";

    // Both directions work with these settings.
    GuestWrite8(emu().mem, kPort1 + kPortSend, 'W');
    Call(NativeWritePort, kPort1);
    EXPECT_EQ(emu().cpu.g[9], 1u);
    EXPECT_EQ(ReadOne(line_.master, 1000), 'W');
    uint8_t c = 'r';
    ASSERT_EQ(write(line_.master, &c, 1), 1);
    Call(NativeReadPort, kPort1);
    EXPECT_EQ(emu().cpu.g[9], 1u);
    EXPECT_EQ(Field8(kPort1, kPortReceived), 'r');
  }
}

TEST_F(SerialPorts, ReadTakesAWaitingCharacterAndTimesOutWithoutOne) {
  ASSERT_TRUE(InitPort1());
  GuestWrite8(emu().mem, kPort1 + kPortReceived, 0x5A);

  // Nothing on the line: the read gives up, reports 0 and leaves field 24 as it was.
  GuestWrite8(emu().mem, kPort1 + kPortSucceeded, 1);
  Call(NativeReadPort, kPort1);
  EXPECT_EQ(emu().cpu.g[9], 0u);
  EXPECT_EQ(Field8(kPort1, kPortSucceeded), 0);
  EXPECT_EQ(Field8(kPort1, kPortReceived), 0x5A);
  EXPECT_EQ(emu().intercept.spy_redirect, "") << "no spy after a failed read";

  // Two characters waiting: one per call, in order.
  ASSERT_EQ(write(line_.master, "xy", 2), 2);
  for (char expected : {'x', 'y'}) {
    Call(NativeReadPort, kPort1);
    EXPECT_EQ(emu().cpu.g[9], 1u);
    EXPECT_EQ(Field8(kPort1, kPortSucceeded), 1);
    EXPECT_EQ(Field8(kPort1, kPortReceived), static_cast<uint8_t>(expected));
    // The spy routine receives the port in g7 and the result in g9.
    EXPECT_EQ(emu().intercept.spy_redirect, "x$insert_spy_ports_READ");
    EXPECT_EQ(emu().cpu.g[7], kPort1);
  }
}

TEST_F(SerialPorts, WriteSendsFieldTwentyOnlyOnAnOpenPort) {
  ASSERT_TRUE(InitPort1());
  GuestWrite8(emu().mem, kPort1 + kPortSend, 0x0D);
  Call(NativeWritePort, kPort1);
  EXPECT_EQ(emu().cpu.g[9], 1u);
  EXPECT_EQ(Field8(kPort1, kPortSucceeded), 1);
  EXPECT_EQ(emu().intercept.spy_redirect, "x$insert_spy_ports_WRITE");
  EXPECT_EQ(emu().cpu.g[7], kPort1);
  EXPECT_EQ(ReadOne(line_.master, 1000), 0x0D) << "CR must arrive unchanged";

  // The firmware's variable says closed: nothing is sent and nothing is spied on.
  GuestWrite8(emu().mem, kPort1 + kPortOpen, 0);
  Call(NativeWritePort, kPort1);
  EXPECT_EQ(emu().cpu.g[9], 0u);
  EXPECT_EQ(Field8(kPort1, kPortSucceeded), 0);
  EXPECT_EQ(emu().intercept.spy_redirect, "");
  EXPECT_EQ(ReadOne(line_.master, 50), -1);

  // Field 19 must be exactly 1, not just non-zero.
  GuestWrite8(emu().mem, kPort1 + kPortOpen, 2);
  Call(NativeWritePort, kPort1);
  EXPECT_EQ(emu().cpu.g[9], 0u);
}

TEST_F(SerialPorts, ReinitClosesAndReopensAndInitPortsClosesEverything) {
  ASSERT_TRUE(InitPort1());
  EXPECT_EQ(OpenCount(line_.slave_path), 2);  // the test's slave and the port's
  ASSERT_TRUE(InitPort1());
  EXPECT_EQ(OpenCount(line_.slave_path), 2) << "the first handle must be closed, not leaked";
  GuestWrite8(emu().mem, kPort1 + kPortSend, 'z');
  Call(NativeWritePort, kPort1);
  EXPECT_EQ(ReadOne(line_.master, 1000), 'z') << "the reopened handle works";

  // x$init_ports closes the open handle before forgetting it.
  emu().cpu.g[9] = 0xDEAD;
  NativeInitPorts(emu());
  EXPECT_EQ(emu().serial.handles[1], -1);
  EXPECT_EQ(OpenCount(line_.slave_path), 1);
  // The variable still says open, but there is no handle behind it: fail, do not crash.
  Call(NativeWritePort, kPort1);
  EXPECT_EQ(emu().cpu.g[9], 0u);
  // And the port can be opened again afterwards.
  for (int i = 0; i < kGuestPortCount; ++i) emu().serial.port_addr[i] = PortAddr(i);
  EXPECT_TRUE(InitPort1());
}

TEST_F(SerialPorts, InitPortsResolvesThePortVariablesByName) {
  ImageState& im = emu().image;
  const struct {
    const char* name;
    uint32_t addr;
  } idents[] = {{"port2", 0x8400}, {"port1", 0x8300}, {"port4", 0x8500}};
  for (const auto& id : idents) {
    std::strncpy(im.idents[im.ident_count].name, id.name, sizeof im.idents[0].name - 1);
    im.idents[im.ident_count].start = im.idents[im.ident_count].end = id.addr;
    ++im.ident_count;
  }
  NativeInitPorts(emu());
  EXPECT_EQ(emu().serial.port_addr[0], 0x8300u);
  EXPECT_EQ(emu().serial.port_addr[1], 0x8400u);
  EXPECT_EQ(emu().serial.port_addr[2], 0u) << "an executable without port3";
  EXPECT_EQ(emu().serial.port_addr[3], 0x8500u);
  // port1 now lives at its resolved address.
  SetPort(0x8300, PortVar{});
  Call(NativeInitPort, 0x8300);
  EXPECT_EQ(emu().cpu.g[9], 1u);
}

TEST_F(SerialPorts, UnknownOrUnmappedPortsReturnZeroAndTouchNothing) {
  emu().serial.port_addr[2] = 0;  // port3 missing from the executable...
  emu().opt.com_map[2] = 3;       // ...though -por connects it, to the test's line
  emu().serial.device_path[3] = line_.slave_path;
  emu().opt.com_map[1] = 0;       // port2 left unconnected by -por
  struct Row {
    uint32_t g7;
    const char* why;
  } rows[] = {
      {0x8F00, "an address that is no port variable"},
      {PortAddr(1), "port2, which -por leaves unconnected (as without -por at all)"},
      {0, "address 0 must not match the missing port3"},
      {PortAddr(0) + 1, "one byte into port1"},
  };
  void (*const handlers[])(Machine&) = {NativeInitPort, NativeReadPort, NativeWritePort,
                                         NativeStatusPort};
  for (int i = 0; i < kGuestPortCount; ++i) {
    SetPort(PortAddr(i), PortVar{});
    GuestWrite8(emu().mem, PortAddr(i) + kPortOpen, 1);  // claims to be open
  }
  uint8_t before[kDataSize];
  GuestRead(emu().mem, kDataBase, before, kDataSize);
  uint8_t c = 'q';
  ASSERT_EQ(write(line_.master, &c, 1), 1);
  for (const Row& r : rows) {
    for (auto* h : handlers) {
      SCOPED_TRACE(r.why);
      Call(h, r.g7);
      EXPECT_EQ(emu().cpu.g[9], 0u);
      EXPECT_EQ(emu().intercept.spy_redirect, "");
    }
  }
  uint8_t after[kDataSize];
  GuestRead(emu().mem, kDataBase, after, kDataSize);
  EXPECT_EQ(std::memcmp(before, after, kDataSize), 0) << "guest memory changed";
  for (int com = 1; com <= kComCount; ++com) EXPECT_EQ(emu().serial.handles[com], -1);
  EXPECT_EQ(ReadOne(line_.master, 50), -1) << "something was sent";
  EXPECT_EQ(ReadOne(line_.slave, 1000), 'q') << "something was read";
}

TEST_F(SerialPorts, PortMapChoosesTheComDevice) {
  // -por2: port1 opens COM2's device, not COM1's.
  emu().opt.com_map[0] = 2;
  emu().serial.device_path[1] = "/nonexistent/com";
  emu().serial.device_path[2] = line_.slave_path;
  ASSERT_TRUE(InitPort1());
  EXPECT_EQ(emu().serial.handles[1], -1);
  EXPECT_GE(emu().serial.handles[2], 0);
  GuestWrite8(emu().mem, kPort1 + kPortSend, '2');
  Call(NativeWritePort, kPort1);
  EXPECT_EQ(ReadOne(line_.master, 1000), '2');
}

TEST_F(SerialPorts, ADeviceThatDoesNotOpenFailsEveryTransferAtOnce) {
  emu().serial.device_path[1] = "/nonexistent/com";
  GuestWrite8(emu().mem, kPort1 + kPortReceived, 0x11);
  EXPECT_FALSE(InitPort1());
  EXPECT_EQ(Field8(kPort1, kPortOpen), 0);
  EXPECT_EQ(Field8(kPort1, kPortSucceeded), 0);
  EXPECT_EQ(emu().intercept.spy_redirect, "x$insert_spy_ports_INIT");
  Call(NativeReadPort, kPort1);
  EXPECT_EQ(emu().cpu.g[9], 0u);
  EXPECT_EQ(Field8(kPort1, kPortReceived), 0x11);
  Call(NativeWritePort, kPort1);
  EXPECT_EQ(emu().cpu.g[9], 0u);
  EXPECT_EQ(emu().log.captured(), "") << "port failures are silent";
}

TEST_F(SerialPorts, StatusAlwaysReportsZeroAndChangesNothing) {
  ASSERT_TRUE(InitPort1());
  uint8_t c = 's';
  ASSERT_EQ(write(line_.master, &c, 1), 1);
  uint8_t before[kPortBytes];
  GuestRead(emu().mem, kPort1, before, kPortBytes);
  Call(NativeStatusPort, kPort1);
  EXPECT_EQ(emu().cpu.g[9], 0u);
  EXPECT_EQ(emu().intercept.spy_redirect, "");
  uint8_t after[kPortBytes];
  GuestRead(emu().mem, kPort1, after, kPortBytes);
  EXPECT_EQ(std::memcmp(before, after, kPortBytes), 0);
  // The waiting character is still there for the next read.
  Call(NativeReadPort, kPort1);
  EXPECT_EQ(Field8(kPort1, kPortReceived), 's');
}

TEST_F(SerialPorts, PortVariableAtTheEndOfItsRegionStaysInside) {
  // The firmware's variable is cut off by the region's end: settings read the missing bytes
  // as zero (rate 0 fails), and the emulator's writes past the end are dropped.
  uint32_t port = kDataBase + kDataSize - 10;
  emu().serial.port_addr[0] = port;
  GuestWrite32(emu().mem, port + kPortBaud, 9600);
  GuestWrite8(emu().mem, port + kPortDataBits, 8);
  Call(NativeInitPort, port);
  EXPECT_EQ(emu().cpu.g[9], 1u) << "fields 0-9 are inside the region, the rest reads as 0";
  Call(NativeReadPort, port);
  Call(NativeWritePort, port);
  EXPECT_EQ(emu().cpu.g[9], 0u) << "field 19 lies outside the storage and reads as 0";
}

TEST_F(SerialPorts, PtyValueCreatesOnePseudoTerminalForTheWholeRun) {
  emu().serial.device_path[1] = "pty";
  ASSERT_TRUE(InitPort1());
  const std::string& log = emu().log.captured();
  ASSERT_THAT(log, ::testing::MatchesRegex("COM1 is /dev/pts/[0-9]+\n"));
  std::string path = log.substr(std::strlen("COM1 is "), log.size() - 9);
  int term = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(term, 0) << path;

  GuestWrite8(emu().mem, kPort1 + kPortSend, 'P');
  Call(NativeWritePort, kPort1);
  EXPECT_EQ(ReadOne(term, 1000), 'P');
  uint8_t c = 't';
  ASSERT_EQ(write(term, &c, 1), 1);
  Call(NativeReadPort, kPort1);
  EXPECT_EQ(emu().cpu.g[9], 1u);
  EXPECT_EQ(Field8(kPort1, kPortReceived), 't');

  // Reinitialising keeps the same pseudo-terminal, so the attached terminal stays connected.
  NativeInitPorts(emu());
  for (int i = 0; i < kGuestPortCount; ++i) emu().serial.port_addr[i] = PortAddr(i);
  ASSERT_TRUE(InitPort1());
  ASSERT_TRUE(InitPort1());
  EXPECT_EQ(emu().log.captured(), log) << "no second pseudo-terminal";
  GuestWrite8(emu().mem, kPort1 + kPortSend, 'Q');
  Call(NativeWritePort, kPort1);
  EXPECT_EQ(ReadOne(term, 1000), 'Q');
  close(term);
}

TEST(SerialDevicePath, SettingThenEnvironmentThenDefault) {
  SerialState s;
  EXPECT_EQ(DefaultComDevice(1), "/dev/ttyS0");
  EXPECT_EQ(DefaultComDevice(4), "/dev/ttyS3");
  const char* outer = getenv("KORVANE_COM3");
  std::string saved = outer ? outer : "";
  setenv("KORVANE_COM3", "/dev/ttyUSB0", 1);
  EXPECT_EQ(ComDevicePath(s, 3), "/dev/ttyUSB0");
  s.device_path[3] = "pty";
  EXPECT_EQ(ComDevicePath(s, 3), "pty") << "the setting wins over the environment";
  s.device_path[3].clear();
  s.use_environment = false;
  EXPECT_EQ(ComDevicePath(s, 3), "/dev/ttyS2");
  if (outer) {
    setenv("KORVANE_COM3", saved.c_str(), 1);
  } else {
    unsetenv("KORVANE_COM3");
  }
}

}  // namespace
}  // namespace korvane
