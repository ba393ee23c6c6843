// Requests of the host (window, runner) to a running emulation: stop and pause. Every request
// raises one attention flag that the run loop looks at between instructions together with the
// exit request (the plain loop after other code has run and at its check points, so within
// 32768 instructions; the stepping loop after each instruction); a paused loop
// waits on a condition variable until it is resumed or stopped. Native handlers that block
// (serial transfers) also wait on wake_fd(), which becomes readable with every request, and
// return as on a time-out.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace korvane {

class HostControl {
 public:
  HostControl();
  ~HostControl();
  HostControl(const HostControl&) = delete;
  HostControl& operator=(const HostControl&) = delete;

  // Any thread. A stop also ends a pause.
  void RequestStop();
  void SetPause(bool on);
  // Clears the requests before a new run.
  void Reset();

  // Raises the attention flag (and wakes blocking waits) for anything the loop must look at:
  // host requests, and the exit request of a native handler.
  void Raise();
  // Emulation thread: lowers the flag before it looks at the requests.
  void ClearAttention();
  // Acquire: a loop that sees the flag sees the request made before it was raised.
  bool attention() const { return attention_.load(std::memory_order_acquire) != 0; }
  // Readable while a request is raised and not yet looked at; -1 when it could not be made.
  int wake_fd() const { return wake_fd_; }

  bool stop_requested() const { return stop_.load(std::memory_order_relaxed); }
  bool pause_requested() const { return pause_.load(std::memory_order_relaxed); }
  // True while the emulation thread waits in WaitWhilePaused.
  bool paused() const { return paused_.load(std::memory_order_acquire); }
  // True while the run loop runs (set by the loop itself).
  bool running() const { return running_.load(std::memory_order_acquire); }
  void SetRunning(bool on) { running_.store(on, std::memory_order_release); }

  // Emulation thread: waits while a pause is requested and no stop is; returns true when the
  // host wants the run to stop.
  bool WaitWhilePaused();
  // Emulation thread, as it ends: nothing will stand in WaitWhilePaused any more.
  void MarkEnded();
  // Host: waits until the loop stands in WaitWhilePaused or the run has ended; false when
  // neither happens within `timeout`.
  bool WaitUntilStanding(std::chrono::milliseconds timeout);

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> pause_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> running_{false};
  bool ended_ = false;  // under m_
  std::atomic<uint32_t> attention_{0};
  int wake_fd_ = -1;
};

}  // namespace korvane
