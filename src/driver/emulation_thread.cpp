// The emulation thread object shared by the front-ends.
#include "driver/emulation_thread.h"

#include "driver/emulator.h"

namespace korvane {

const char* EmuThreadStateName(EmuThreadState state) {
  switch (state) {
    case EmuThreadState::kIdle:
      return "idle";
    case EmuThreadState::kStarting:
      return "starting";
    case EmuThreadState::kRunning:
      return "running";
    case EmuThreadState::kPaused:
      return "paused";
    case EmuThreadState::kStopping:
      return "stopping";
    case EmuThreadState::kEnded:
      return "ended";
  }
  return "?";
}

EmulationThread::EmulationThread(Emulator& emu) : emu_(emu) {}

EmulationThread::~EmulationThread() {
  Stop();
  Wait();
}

bool EmulationThread::Start() {
  std::lock_guard<std::mutex> lock(m_);
  if (started_) return false;
  started_ = true;
  thread_ = std::thread([this] { Main(); });
  return true;
}

void EmulationThread::Main() {
  {
    std::lock_guard<std::mutex> lock(m_);
    entered_ = true;
  }
  EmuThreadMain(emu_);  // sets EmuFinished with the message complete
  emu_.run.control.MarkEnded();
  {
    std::lock_guard<std::mutex> lock(m_);
    ended_ = true;
  }
  cv_.notify_all();
}

void EmulationThread::Pause() { emu_.run.control.SetPause(true); }
void EmulationThread::Resume() { emu_.run.control.SetPause(false); }
void EmulationThread::Stop() { emu_.run.control.RequestStop(); }

void EmulationThread::Wait() {
  {
    std::unique_lock<std::mutex> lock(m_);
    if (!started_) return;
    cv_.wait(lock, [this] { return ended_; });
  }
  JoinIfEnded();
}

bool EmulationThread::WaitFor(std::chrono::milliseconds timeout) {
  {
    std::unique_lock<std::mutex> lock(m_);
    if (!started_) return true;
    if (!cv_.wait_for(lock, timeout, [this] { return ended_; })) return false;
  }
  JoinIfEnded();
  return true;
}

void EmulationThread::JoinIfEnded() {
  // Only the thread that owns this object joins; the run has ended, so this returns at once.
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

EmuThreadState EmulationThread::state() const {
  std::lock_guard<std::mutex> lock(m_);
  if (!started_) return EmuThreadState::kIdle;
  if (ended_) return EmuThreadState::kEnded;
  if (emu_.run.control.stop_requested()) return EmuThreadState::kStopping;
  if (!entered_) return EmuThreadState::kStarting;
  if (emu_.run.control.paused()) return EmuThreadState::kPaused;
  return EmuThreadState::kRunning;
}

bool EmulationThread::started() const {
  std::lock_guard<std::mutex> lock(m_);
  return started_;
}

bool EmulationThread::ended() const {
  std::lock_guard<std::mutex> lock(m_);
  return ended_;
}

}  // namespace korvane
