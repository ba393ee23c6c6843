// The session controller: one project's run and the steps the front-ends take on it.
#include "driver/run_session.h"

#include <sys/stat.h>

#include "core/exit.h"
#include "driver/options.h"
#include "driver/save_state.h"
#include "image/image.h"
#include "image/memory_file.h"

namespace korvane {

RunController::RunController() : session_(std::make_unique<Session>()) {}

RunController::~RunController() {
  std::string ignored;
  End(false, ignored);
}

bool RunController::Prepare(const RunSetup& setup, std::shared_ptr<const StateFile> state,
                            std::string& error) {
  std::string end_error;
  const bool ended = End(true, end_error);
  session_ = std::make_unique<Session>();
  setup_ = setup;
  state_ = std::move(state);
  Emulator& emu = session_->emu;
  emu.base_folder = setup.base_folder;
  emu.start_state = state_;
  log_error_.clear();
  if (setup.log_path == "-") {
    emu.log.SetFile(stdout, false);
  } else {
    const std::string path =
        setup.log_path.empty() ? ResolveInBase(emu, "aaa.txt") : setup.log_path;
    if (!emu.log.OpenFile(path)) log_error_ = "cannot write the log file " + path;
  }
  emu.SetArgs(setup.words);
  // The firmware file as the run will read it, stamped now: a change from here on is one the
  // run has not seen.
  firmware_path_.clear();
  if (!setup.words.empty()) {
    const OptionsRead read = ReadOptionWords(setup.words, setup.base_folder);
    if (read.ok)
      firmware_path_ = ResolveInBase(emu, ReplaceExtension(read.options.project_name, "out"));
  }
  firmware_ = FirmwareStamp();
  if (prepare) prepare(*session_);
  if (!ended) error = end_error;
  return ended;
}

bool RunController::Start() { return session_->thread.Start(); }

bool RunController::Restart(std::string& error) {
  const RunSetup setup = setup_;
  return Prepare(setup, state_, error);
}

bool RunController::Hold(bool* resume) {
  *resume = false;
  EmulationThread& thread = session_->thread;
  Emulator& emu = session_->emu;
  if (!thread.started() || emu.exit.finished.load(std::memory_order_acquire)) return true;
  if (!emu.run.control.pause_requested()) {
    thread.Pause();
    *resume = true;
  }
  // The pause takes effect at the run loop's next check point.
  if (emu.run.control.WaitUntilStanding(kHoldTimeout)) return true;
  Release(*resume);
  *resume = false;
  return false;
}

void RunController::Release(bool resume) {
  if (resume) session_->thread.Resume();
}

bool RunController::SaveStateTo(const std::string& path, std::string& error) {
  bool resume = false;
  if (!Hold(&resume)) {
    error = "the emulation did not pause; no state written";
    return false;
  }
  Emulator& emu = session_->emu;
  bool ok = false;
  if (emu.exit.message[0] != '\0')
    error = "no state written: the run ended with an exit message";
  else
    ok = SaveState(emu, path, error);
  Release(resume);
  return ok;
}

bool RunController::LoadStateFrom(const std::string& path, std::string& error) {
  auto state = std::make_shared<StateFile>();
  if (!ReadStateFile(path, *state, error)) return false;
  bool resume = false;
  if (!Hold(&resume)) {
    error = "the emulation did not pause; no state loaded";
    return false;
  }
  const bool ok = CheckState(session_->emu, *state, error);
  Release(resume);
  if (!ok) return false;
  const RunSetup setup = setup_;
  return Prepare(setup, std::move(state), error);
}

bool RunController::StartRecording(const std::string& path, std::string& error) {
  if (recorder_) {
    error = "a recording is already under way";
    return false;
  }
  Emulator& emu = session_->emu;
  if (!session_->thread.started()) {
    recorder_ = std::make_unique<InputRecorder>();
    recorder_->Install(emu);
    record_path_ = path;
    return true;
  }
  bool resume = false;
  if (!Hold(&resume)) {
    error = "the emulation did not pause; nothing is recorded";
    return false;
  }
  bool ok = false;
  if (emu.exit.finished.load(std::memory_order_acquire))
    error = "the run has ended";
  else
    ok = SaveState(emu, path + ".state", error);  // the replay loads it first
  if (ok) {
    recorder_ = std::make_unique<InputRecorder>();
    recorder_->Install(emu);
    record_path_ = path;
  }
  Release(resume);
  return ok;
}

bool RunController::FinishRecording(std::string& error) {
  if (!recorder_) return true;
  bool resume = false;
  if (!Hold(&resume)) {
    error = "the emulation did not pause; the recording goes on";
    return false;
  }
  Emulator& emu = session_->emu;
  recorder_->Uninstall(emu);
  recorder_->Finish(emu);
  const bool ok = WriteRecording(recorder_->recording(), record_path_, error);
  recorder_.reset();
  Release(resume);
  return ok;
}

bool RunController::End(bool save, std::string& error) {
  Session& s = *session_;
  Emulator& emu = s.emu;
  const bool running = s.thread.started() && !emu.exit.finished.load(std::memory_order_acquire);
  // A host stop writes no memory file and ends a pause or a debugger stop.
  s.thread.Stop();
  s.thread.Wait();
  bool ok = FinishRecording(error);
  // The machine stands between two instructions: its memory file is written as the exit
  // chord that saves would have written it.
  if (save && running && emu.exit.run_started && emu.exit.message[0] == '\0') {
    try {
      SaveMemoryFile(emu);
    } catch (const EmuExitSignal&) {
      error = emu.exit.message;
      ok = false;
    }
  }
  emu.log.Flush();
  return ok;
}

RunController::Stamp RunController::FirmwareStamp() const {
  Stamp stamp;
  struct stat st {};
  if (firmware_path_.empty() || ::stat(firmware_path_.c_str(), &st) != 0) return stamp;
  stamp.known = true;
  stamp.size = st.st_size;
  stamp.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return stamp;
}

bool RunController::FirmwareChanged() {
  if (firmware_path_.empty()) return false;
  const Stamp now = FirmwareStamp();
  if (!now.known) return false;  // being replaced: the new file is there in a moment
  return !firmware_.known || now.size != firmware_.size || now.mtime_ns != firmware_.mtime_ns;
}

}  // namespace korvane
