// The session controller both front-ends use: one project's run (the emulator, its picture
// pages, its emulation thread) and the steps taken on it from outside — hold it between two
// instructions, save or load a state, record its input, restart it, replace it by another
// project's run, end it — and a watch on the firmware file.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/emulation_thread.h"
#include "driver/emulator.h"
#include "driver/input_record.h"
#include "services/display.h"

namespace korvane {

struct StateFile;

// One run: the emulator and the picture pages it draws into live as long as the emulation
// thread may use them; the thread object is declared last, so it is stopped and joined first.
struct Session {
  Emulator emu;
  std::vector<uint8_t> page_a = std::vector<uint8_t>(kPageBytes);
  std::vector<uint8_t> page_b = std::vector<uint8_t>(kPageBytes);
  EmulationThread thread{emu};
};

// What a run is made from.
struct RunSetup {
  std::string base_folder;         // the project file's folder: names resolve there
  std::vector<std::string> words;  // the project line
  std::string log_path;            // "": aaa.txt in the base folder; "-": standard output
};

class RunController {
 public:
  // How long Hold waits for the run loop's next check point.
  static constexpr std::chrono::milliseconds kHoldTimeout{5000};

  RunController();
  // Stops a run still going (without the memory file) and joins its thread.
  ~RunController();
  RunController(const RunController&) = delete;
  RunController& operator=(const RunController&) = delete;

  // Called for every fresh machine before its thread starts: the front-end's display pages,
  // keys, debugger.
  std::function<void(Session&)> prepare;

  Session& session() { return *session_; }
  const Session& session() const { return *session_; }
  Emulator& emu() { return session_->emu; }
  const RunSetup& setup() const { return setup_; }
  const std::string& log_error() const { return log_error_; }

  // A fresh machine for `setup` with `state` to start from (or none), replacing the current run
  // as End(true) ends it; the log is opened and the project line set, nothing started. False
  // with `error` when ending the run before failed (see End); log_error() tells whether the
  // log could not be written (the run goes on without one).
  bool Prepare(const RunSetup& setup, std::shared_ptr<const StateFile> state, std::string& error);
  // Starts the current machine's thread; false when it was started before.
  bool Start();
  // Ends the current run and prepares the same setup afresh (a state keeps its start state).
  bool Restart(std::string& error);

  // Brings a running emulation to a stand between two instructions (paused, in a debugger stop,
  // or ended); `resume` tells whether Release must let it go on. False when it does not stand
  // within kHoldTimeout (it goes on then).
  bool Hold(bool* resume);
  void Release(bool resume);

  // Writes the state of the held or ended run; refuses a run that ended with a message.
  bool SaveStateTo(const std::string& path, std::string& error);
  // Reads `path`, checks it against the running machine (which goes on unchanged on any
  // mismatch), then prepares a fresh machine that starts from it.
  bool LoadStateFrom(const std::string& path, std::string& error);

  // Records every input the firmware takes into `path`. A run under way is held, and the state
  // the recording starts from goes to `path` + ".state"; before the thread starts, the
  // recording starts with the run.
  bool StartRecording(const std::string& path, std::string& error);
  // Ends the recording and writes it; true when there was none.
  bool FinishRecording(std::string& error);
  bool recording() const { return recorder_ != nullptr; }
  InputRecorder* recorder() { return recorder_.get(); }

  // Ends the current run in any state: stops it, finishes a recording and, with `save`, writes
  // the memory file from the machine standing between two instructions when the run had
  // started and neither ended nor failed (a run that ended wrote it, or kept it, itself).
  // False with `error` when the recording or the memory file could not be written.
  bool End(bool save, std::string& error);

  // Whether the firmware file changed on disk (time or size) since the run read it.
  bool FirmwareChanged();

 private:
  struct Stamp {
    bool known = false;
    off_t size = 0;
    int64_t mtime_ns = 0;
  };
  Stamp FirmwareStamp() const;

  std::unique_ptr<Session> session_;
  RunSetup setup_;
  std::shared_ptr<const StateFile> state_;
  std::string log_error_;
  std::unique_ptr<InputRecorder> recorder_;
  std::string record_path_;
  std::string firmware_path_;  // the .out file the run reads, or "" when the line names none
  Stamp firmware_;             // as it was when the run was prepared
};

}  // namespace korvane
