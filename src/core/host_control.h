// Requests of the host (window, runner) to a running emulation: stop and pause. The emulation
// thread looks at them at the run loop's check points; a paused loop waits on a condition
// variable until it is resumed or stopped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace korvane {

class HostControl {
 public:
  // Any thread. A stop also ends a pause.
  void RequestStop();
  void SetPause(bool on);
  // Clears the requests before a new run.
  void Reset();

  bool stop_requested() const { return stop_.load(std::memory_order_relaxed); }
  bool pause_requested() const { return pause_.load(std::memory_order_relaxed); }
  // True while the emulation thread waits in WaitWhilePaused.
  bool paused() const { return paused_.load(std::memory_order_acquire); }

  // Emulation thread: waits while a pause is requested and no stop is; returns true when the
  // host wants the run to stop.
  bool WaitWhilePaused();

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> pause_{false};
  std::atomic<bool> paused_{false};
};

}  // namespace korvane
