// Tests of the termios serial layer: rate and line-setting translation, one-character
// transfers and time-outs on pseudo-terminal pairs, and the emulator's own pseudo-terminals.
#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "support/host_io.h"

namespace korvane {
namespace {

using test::ReadOne;

// A pseudo-terminal pair made by the test; the code under test opens `slave_path`.
struct PtyPair {
  int master = -1, slave = -1;
  std::string slave_path;
  PtyPair() {
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) == 0) slave_path = name;
  }
  ~PtyPair() {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
  }
};

TEST(SerialSpeed, OnlyRatesTheHostCanNameAreAccepted) {
  struct Row {
    uint32_t baud;
    bool ok;
    const char* why;
  } rows[] = {
      {9600, true, "the usual instrument rate"},
      {115200, true, "the fastest classic PC rate"},
      {50, true, "the slowest named rate"},
      {0, false, "0 would hang the line up instead of setting a rate"},
      {9601, false, "an odd rate no driver can set exactly"},
      {12345, false, "a made-up rate"},
      {0xFFFFFFFFu, false, "a garbage port variable"},
  };
  for (const Row& r : rows) {
    unsigned int speed = 0;
    EXPECT_EQ(SerialSpeedFor(r.baud, &speed), r.ok) << r.baud << ": " << r.why;
  }
  unsigned int speed = 0;
  ASSERT_TRUE(SerialSpeedFor(19200, &speed));
  EXPECT_EQ(speed, static_cast<unsigned int>(B19200));
}

TEST(SerialTermios, LineSettingsMapToTermiosFlags) {
  // Starts each row from a cooked terminal, so raw mode must actively clear what it has on.
  ::termios cooked{};
  cooked.c_iflag = ICRNL | IXON | IXOFF | ISTRIP | BRKINT | IGNPAR;
  cooked.c_oflag = OPOST | ONLCR;
  cooked.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
  cooked.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL;
  cooked.c_cc[VMIN] = 1;

  struct Row {
    SerialLineSettings s;
    tcflag_t size;
    bool parenb, parodd, cstopb, crtscts, inpck;
    const char* why;
  } rows[] = {
      {{9600, 8, false, SerialParity::kNone, false, false, false}, CS8, 0, 0, 0, 0, 0,
       "8N1 without handshake clears everything the cooked line had"},
      {{9600, 7, false, SerialParity::kEven, true, false, false}, CS7, 1, 0, 0, 0, 1,
       "7E1 with checking"},
      {{9600, 7, true, SerialParity::kOdd, true, false, false}, CS7, 1, 1, 1, 0, 1,
       "7O2: odd parity needs PARODD, two stop bits CSTOPB"},
      {{4800, 5, false, SerialParity::kNone, false, false, false}, CS5, 0, 0, 0, 0, 0,
       "the smallest character size"},
      {{4800, 6, false, SerialParity::kNone, true, false, false}, CS6, 0, 0, 0, 0, 1,
       "parity value 3: no parity bit, but checking was asked for"},
      {{9600, 8, false, SerialParity::kNone, false, true, false}, CS8, 0, 0, 0, 1, 0,
       "RTS handshake alone turns on hardware flow control"},
      {{9600, 8, false, SerialParity::kNone, false, false, true}, CS8, 0, 0, 0, 1, 0,
       "CTS flow alone turns it on as well"},
  };
  for (const Row& r : rows) {
    ::termios t = cooked;
    ASSERT_TRUE(BuildSerialTermios(r.s, &t)) << r.why;
    EXPECT_EQ(t.c_cflag & CSIZE, r.size) << r.why;
    EXPECT_EQ((t.c_cflag & PARENB) != 0, r.parenb) << r.why;
    EXPECT_EQ((t.c_cflag & PARODD) != 0, r.parodd) << r.why;
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, r.cstopb) << r.why;
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, r.crtscts) << r.why;
    EXPECT_EQ((t.c_iflag & INPCK) != 0, r.inpck) << r.why;
    // Raw mode in every row: bytes must pass unchanged and nothing may be echoed.
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u) << r.why;
    EXPECT_EQ(t.c_oflag & OPOST, 0u) << r.why;
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | ISTRIP | IGNPAR), 0u) << r.why;
    EXPECT_NE(t.c_cflag & CREAD, 0u) << r.why;
    EXPECT_NE(t.c_cflag & CLOCAL, 0u) << r.why;
    EXPECT_EQ(t.c_cc[VMIN], 0) << r.why;
    EXPECT_EQ(cfgetospeed(&t), r.s.baud == 4800 ? B4800 : B9600) << r.why;
  }
  // Character sizes termios cannot express are refused, like a rejected rate.
  for (int bits : {0, 4, 9}) {
    ::termios t = cooked;
    SerialLineSettings s;
    s.data_bits = bits;
    EXPECT_FALSE(BuildSerialTermios(s, &t)) << bits << " data bits";
  }
  ::termios t = cooked;
  SerialLineSettings s;
  s.baud = 12345;
  EXPECT_FALSE(BuildSerialTermios(s, &t));
}

TEST(SerialDevice, OpenRefusalsAreReportedNotFatal) {
  std::string error;
  EXPECT_EQ(SerialOpen("/nonexistent/ttyS9", true, &error), -1);
  EXPECT_NE(error.find("/nonexistent/ttyS9"), std::string::npos) << error;

  // A regular file is not a serial device: refused on open (exclusive) or on configuration.
  char path[] = "/tmp/korvane_serial_XXXXXX";
  int tmp = mkstemp(path);
  ASSERT_GE(tmp, 0);
  close(tmp);
  EXPECT_EQ(SerialOpen(path, true, &error), -1);
  int fd = SerialOpen(path, false, &error);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(SerialConfigure(fd, SerialLineSettings{}));
  SerialClose(fd);
  unlink(path);

  // Transfers on a closed handle fail without touching anything.
  uint8_t c = 1;
  EXPECT_EQ(SerialReadByte(-1, &c, 10), SerialIo::kError);
  EXPECT_EQ(SerialWriteByte(-1, c, 10), SerialIo::kError);
  SerialClose(-1);
}

TEST(SerialDevice, ExclusiveOpenRefusesASecondOpenUntilClosed) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores TIOCEXCL; run as a normal user to check it";
  PtyPair pair;
  ASSERT_GE(pair.master, 0);
  int fd = SerialOpen(pair.slave_path, true, nullptr);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(SerialOpen(pair.slave_path, true, nullptr), -1);
  SerialClose(fd);
  // The pair's master is still open, so the tty lives on: the flag must have been dropped.
  int again = SerialOpen(pair.slave_path, true, nullptr);
  EXPECT_GE(again, 0);
  SerialClose(again);
}

TEST(PseudoTerminal, StandsInForADeviceAndWaitsWhileNothingIsAttached) {
  PseudoTerminal pty;
  std::string error;
  ASSERT_TRUE(OpenPseudoTerminal(&pty, &error)) << error;
  EXPECT_EQ(pty.slave_path.rfind("/dev/pts/", 0), 0u) << pty.slave_path;
  ASSERT_TRUE(SerialConfigure(pty.master, SerialLineSettings{}));

  // No terminal program yet: a read must time out like an idle line, not fail as a hang-up.
  uint8_t c = 0;
  EXPECT_EQ(SerialReadByte(pty.master, &c, kSerialReadTimeoutMs), SerialIo::kTimeout);

  int term = open(pty.slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(term, 0);
  // The line is raw: the terminal's CR arrives as CR and is not echoed back.
  uint8_t cr = '\r';
  ASSERT_EQ(write(term, &cr, 1), 1);
  ASSERT_EQ(SerialReadByte(pty.master, &c, 1000), SerialIo::kDone);
  EXPECT_EQ(c, '\r');
  EXPECT_EQ(ReadOne(pty.master, 50), -1) << "the line echoed a character";
  ASSERT_EQ(SerialWriteByte(pty.master, '\n', kSerialWriteTimeoutMs), SerialIo::kDone);
  EXPECT_EQ(ReadOne(term, 1000), '\n') << "LF must not become CR LF";
  EXPECT_EQ(ReadOne(term, 50), -1);
  close(term);

  // The terminal program went away: the emulator's side still just waits.
  EXPECT_EQ(SerialReadByte(pty.master, &c, kSerialReadTimeoutMs), SerialIo::kTimeout);
  ClosePseudoTerminal(&pty);
  EXPECT_EQ(pty.master, -1);
  ClosePseudoTerminal(&pty);  // twice is harmless
}

}  // namespace
}  // namespace korvane
