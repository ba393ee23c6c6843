// Requests of the host to a running emulation.
#include "core/host_control.h"

namespace korvane {

void HostControl::RequestStop() {
  {
    std::lock_guard<std::mutex> lock(m_);
    stop_.store(true, std::memory_order_relaxed);
  }
  cv_.notify_all();
}

void HostControl::SetPause(bool on) {
  {
    std::lock_guard<std::mutex> lock(m_);
    pause_.store(on, std::memory_order_relaxed);
  }
  cv_.notify_all();
}

void HostControl::Reset() {
  std::lock_guard<std::mutex> lock(m_);
  stop_.store(false, std::memory_order_relaxed);
  pause_.store(false, std::memory_order_relaxed);
}

bool HostControl::WaitWhilePaused() {
  std::unique_lock<std::mutex> lock(m_);
  if (pause_.load(std::memory_order_relaxed) && !stop_.load(std::memory_order_relaxed)) {
    paused_.store(true, std::memory_order_release);
    cv_.wait(lock, [this] {
      return !pause_.load(std::memory_order_relaxed) || stop_.load(std::memory_order_relaxed);
    });
    paused_.store(false, std::memory_order_release);
  }
  return stop_.load(std::memory_order_relaxed);
}

}  // namespace korvane
