// Test support (header-only): reading a terminal or pipe with a bounded wait.
#pragma once

#include <poll.h>
#include <unistd.h>

namespace korvane::test {

// Reads one byte from `fd`, waiting up to `wait_ms`; -1 when none came (or the read failed).
inline int ReadOne(int fd, int wait_ms) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, wait_ms) <= 0) return -1;
  unsigned char c;
  return read(fd, &c, 1) == 1 ? c : -1;
}

}  // namespace korvane::test
