// Requests of the host to a running emulation.
#include "core/host_control.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace korvane {

HostControl::HostControl() : wake_fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

HostControl::~HostControl() {
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void HostControl::Raise() {
  attention_.store(1, std::memory_order_release);
  if (wake_fd_ >= 0) {
    uint64_t one = 1;
    (void)!::write(wake_fd_, &one, sizeof one);
  }
}

void HostControl::ClearAttention() {
  attention_.store(0, std::memory_order_relaxed);
  if (wake_fd_ >= 0) {
    uint64_t count;
    (void)!::read(wake_fd_, &count, sizeof count);  // drains the counter
  }
}

void HostControl::RequestStop() {
  {
    std::lock_guard<std::mutex> lock(m_);
    stop_.store(true, std::memory_order_relaxed);
  }
  Raise();
  cv_.notify_all();
}

void HostControl::SetPause(bool on) {
  {
    std::lock_guard<std::mutex> lock(m_);
    pause_.store(on, std::memory_order_relaxed);
  }
  if (on) Raise();
  cv_.notify_all();
}

void HostControl::Reset() {
  std::lock_guard<std::mutex> lock(m_);
  stop_.store(false, std::memory_order_relaxed);
  pause_.store(false, std::memory_order_relaxed);
  ClearAttention();
}

bool HostControl::WaitWhilePaused() {
  std::unique_lock<std::mutex> lock(m_);
  if (pause_.load(std::memory_order_relaxed) && !stop_.load(std::memory_order_relaxed)) {
    paused_.store(true, std::memory_order_release);
    cv_.notify_all();  // a host waiting for the stand
    cv_.wait(lock, [this] {
      return !pause_.load(std::memory_order_relaxed) || stop_.load(std::memory_order_relaxed);
    });
    paused_.store(false, std::memory_order_release);
  }
  return stop_.load(std::memory_order_relaxed);
}

void HostControl::MarkEnded() {
  {
    std::lock_guard<std::mutex> lock(m_);
    ended_ = true;
  }
  cv_.notify_all();
}

bool HostControl::WaitUntilStanding(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_);
  return cv_.wait_for(lock, timeout,
                      [this] { return ended_ || paused_.load(std::memory_order_relaxed); });
}

}  // namespace korvane
