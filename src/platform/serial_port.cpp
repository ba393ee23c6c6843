// Host serial devices on POSIX termios: opening, line settings, one-character transfers with
// time-outs, and pseudo-terminals standing in for serial devices.
#include "platform/serial_port.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace korvane {

namespace {

struct SpeedEntry {
  uint32_t baud;
  speed_t speed;
};

// The rates termios can name. Anything else is refused, as a serial driver refuses a rate it
// cannot set; B0 is left out on purpose because it means "hang up", not a rate.
constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
    {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
#endif
};

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, never negative.
int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for `events` on fd until `deadline` or until `wake_fd` becomes readable. Returns the
// revents (0 on time-out or wake-up), or -1 on a poll failure.
int WaitFor(int fd, short events, Clock::time_point deadline, int wake_fd) {
  for (;;) {
    pollfd p[2] = {{fd, events, 0}, {wake_fd, POLLIN, 0}};
    int n = ::poll(p, wake_fd >= 0 ? 2 : 1, RemainingMs(deadline));
    if (n > 0) return (wake_fd >= 0 && (p[1].revents & POLLIN)) ? 0 : p[0].revents;
    if (n == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

}  // namespace

bool SerialSpeedFor(uint32_t baud, unsigned int* speed) {
  for (const SpeedEntry& e : kSpeeds) {
    if (e.baud == baud) {
      *speed = e.speed;
      return true;
    }
  }
  return false;
}

bool BuildSerialTermios(const SerialLineSettings& s, ::termios* tio) {
  speed_t speed = 0;
  if (!SerialSpeedFor(s.baud, &speed)) return false;
  tcflag_t size = 0;
  switch (s.data_bits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return false;
  }
  // Raw mode: bytes pass unchanged in both directions, no echo, no signals, no software flow
  // control (the firmware's own protocols may use XON/XOFF bytes as data).
  tio->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                         ICRNL | IXON | IXOFF | IXANY | IGNPAR | INPCK);
  tio->c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
  // CLOCAL: the port works without carrier detect, like a three-wire line.
  tio->c_cflag |= CREAD | CLOCAL | size;
  if (s.two_stop_bits) tio->c_cflag |= CSTOPB;
  if (s.parity != SerialParity::kNone) tio->c_cflag |= PARENB;
  if (s.parity == SerialParity::kOdd) tio->c_cflag |= PARODD;
  // A character received with a parity error then reads as 0 rather than passing unchecked.
  if (s.parity_check) tio->c_iflag |= INPCK;
  // termios has one switch for both directions of hardware flow control.
  if (s.rts_handshake || s.cts_flow) tio->c_cflag |= CRTSCTS;
  // Reads and writes wait with poll; the descriptor itself never blocks.
  tio->c_cc[VMIN] = 0;
  tio->c_cc[VTIME] = 0;
  if (cfsetispeed(tio, speed) != 0 || cfsetospeed(tio, speed) != 0) return false;
  return true;
}

int SerialOpen(const std::string& path, bool exclusive, std::string* error) {
  // Non-blocking so the open itself does not wait for a carrier.
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return -1;
  }
  if (exclusive && ::ioctl(fd, TIOCEXCL) != 0) {
    if (error) *error = path + ": not a terminal device (" + std::strerror(errno) + ")";
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SerialConfigure(int fd, const SerialLineSettings& s) {
  ::termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  if (!BuildSerialTermios(s, &tio)) return false;
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  // tcsetattr succeeds when any part of the request was applied; a driver that could not set
  // the rate has left another one in place, and that counts as a refusal.
  ::termios check{};
  if (::tcgetattr(fd, &check) != 0) return false;
  if (cfgetospeed(&check) != cfgetospeed(&tio)) return false;
  // The line settles in the idle state the firmware expects: DTR off, and RTS off unless
  // the hardware handshake drives it. Devices without modem lines (pseudo-terminals) refuse
  // these requests, which is harmless.
  int lines = TIOCM_DTR;
  if (!s.rts_handshake && !s.cts_flow) lines |= TIOCM_RTS;
  (void)::ioctl(fd, TIOCMBIC, &lines);
  return true;
}

SerialIo SerialReadByte(int fd, uint8_t* out, int timeout_ms, int wake_fd) {
  if (fd < 0) return SerialIo::kError;
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    ssize_t n = ::read(fd, out, 1);
    if (n == 1) return SerialIo::kDone;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      return SerialIo::kError;
    }
    // Nothing waiting: sleep until a character arrives or the time is up.
    if (RemainingMs(deadline) == 0) return SerialIo::kTimeout;
    int ev = WaitFor(fd, POLLIN, deadline, wake_fd);
    if (ev < 0) return SerialIo::kError;
    if (ev == 0) return SerialIo::kTimeout;
    if ((ev & POLLIN) == 0 && (ev & (POLLERR | POLLHUP | POLLNVAL)) != 0) return SerialIo::kError;
  }
}

SerialIo SerialWriteByte(int fd, uint8_t c, int timeout_ms, int wake_fd) {
  if (fd < 0) return SerialIo::kError;
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    ssize_t n = ::write(fd, &c, 1);
    if (n == 1) return SerialIo::kDone;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      return SerialIo::kError;
    }
    // The output queue is full (flow control holds it): wait for room until the time is up.
    if (RemainingMs(deadline) == 0) return SerialIo::kTimeout;
    int ev = WaitFor(fd, POLLOUT, deadline, wake_fd);
    if (ev < 0) return SerialIo::kError;
    if (ev == 0) return SerialIo::kTimeout;
    if ((ev & POLLOUT) == 0 && (ev & (POLLERR | POLLHUP | POLLNVAL)) != 0) return SerialIo::kError;
  }
}

void SerialClose(int fd) {
  if (fd < 0) return;
  // Give up exclusivity explicitly: a pseudo-terminal keeps the flag while its other side
  // stays open, which would refuse the next open of the same device.
  (void)::ioctl(fd, TIOCNXCL);
  ::close(fd);
}

bool OpenPseudoTerminal(PseudoTerminal* pty, std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    if (pty->master >= 0) ::close(pty->master);
    if (pty->keep_slave >= 0) ::close(pty->keep_slave);
    pty->master = pty->keep_slave = -1;
    pty->slave_path.clear();
    return false;
  };
  pty->master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (pty->master < 0) return fail("posix_openpt");
  if (::grantpt(pty->master) != 0) return fail("grantpt");
  if (::unlockpt(pty->master) != 0) return fail("unlockpt");
  char name[128];
  if (::ptsname_r(pty->master, name, sizeof name) != 0) return fail("ptsname");
  pty->slave_path = name;
  int flags = ::fcntl(pty->master, F_GETFL);
  if (flags < 0 || ::fcntl(pty->master, F_SETFL, flags | O_NONBLOCK) != 0) return fail("fcntl");
  (void)::fcntl(pty->master, F_SETFD, FD_CLOEXEC);
  // Holding the slave open keeps the line up: without it the master reports a hang-up until a
  // terminal program attaches, and reads would fail at once instead of waiting.
  pty->keep_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty->keep_slave < 0) return fail("open pseudo-terminal");
  // Raw from the start, so nothing typed before the firmware sets the line is echoed back.
  ::termios tio{};
  if (::tcgetattr(pty->keep_slave, &tio) == 0 && BuildSerialTermios(SerialLineSettings{}, &tio)) {
    (void)::tcsetattr(pty->keep_slave, TCSANOW, &tio);
  }
  return true;
}

void ClosePseudoTerminal(PseudoTerminal* pty) {
  if (pty->keep_slave >= 0) ::close(pty->keep_slave);
  if (pty->master >= 0) ::close(pty->master);
  pty->master = pty->keep_slave = -1;
  pty->slave_path.clear();
}

}  // namespace korvane
