// The one emulation thread object that every front-end (window, korvane-run, tests) uses: it
// runs EmuThreadMain over one Emulator and is an explicit state machine
//   idle -> starting -> running <-> paused -> stopping -> ended
// with condition variables instead of polling. Its end always joins the thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace korvane {

struct Emulator;

enum class EmuThreadState { kIdle, kStarting, kRunning, kPaused, kStopping, kEnded };
const char* EmuThreadStateName(EmuThreadState state);

class EmulationThread {
 public:
  explicit EmulationThread(Emulator& emu);
  EmulationThread(const EmulationThread&) = delete;
  EmulationThread& operator=(const EmulationThread&) = delete;
  // Stops a run that is still going and joins the thread.
  ~EmulationThread();

  // Starts the thread once; false when it was started before.
  bool Start();
  // Pause takes effect at the run loop's next check point; Resume and Stop wake a paused run.
  // Stop ends the run without saving the memory file, with the normal end report.
  void Pause();
  void Resume();
  void Stop();
  // Waits until the run has ended (EmuFinished is set) and joins the thread; WaitFor gives up
  // after `timeout` and returns whether the run has ended. Both return at once when the thread
  // was never started.
  void Wait();
  bool WaitFor(std::chrono::milliseconds timeout);

  EmuThreadState state() const;
  bool started() const;
  bool ended() const;
  Emulator& emulator() { return emu_; }

 private:
  void Main();
  void JoinIfEnded();

  Emulator& emu_;
  std::thread thread_;
  mutable std::mutex m_;
  std::condition_variable cv_;
  bool started_ = false;
  bool entered_ = false;  // the thread has begun its start-up phases
  bool ended_ = false;
};

}  // namespace korvane
