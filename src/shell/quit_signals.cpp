// Signals that end the desktop application, passed to the event loop through a socket pair.
#include "shell/quit_signals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace korvane::shell {

namespace {

// The writing end; a signal handler may only write to it.
int g_signal_fd = -1;

void OnSignal(int) {
  const char byte = 1;
  if (g_signal_fd >= 0) (void)!write(g_signal_fd, &byte, 1);
}

}  // namespace

bool QuitOnSignals(QObject* parent, std::function<void()> quit) {
  int fds[2];
  if (g_signal_fd >= 0 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
    return false;
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  g_signal_fd = fds[1];
  auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, parent, [fd = fds[0], quit] {
    char bytes[16];
    if (read(fd, bytes, sizeof bytes) > 0) quit();
  });
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
  return true;
}

}  // namespace korvane::shell
