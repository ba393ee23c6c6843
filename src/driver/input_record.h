// Recording and replaying what the firmware takes from the outside world, each input with the
// instruction total at which the firmware took it: the key words at x$readkeys, the serial
// bytes received and, on the wall clock, the system_timer readings. A replay hands them back at
// the same counts, so the run repeats exactly.
//
// A recording is a text file:
//   korvane-record 1
//   word WORD               one line per word of the project line
//   virtual-time N          0: the wall clock, whose readings are then recorded
//   key COUNT DEV HOST MODS HOSTMODS
//   clock COUNT MS
//   serial COUNT COM BYTE   BYTE -1: the read found nothing
//   end COUNT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

struct Emulator;
struct Machine;

struct InputEvent {
  enum Kind { kKey, kClock, kSerial };
  Kind kind = kKey;
  uint64_t at = 0;        // instruction total when the firmware took it
  int32_t value[4] = {};  // key: the four key words; clock: ms; serial: COM, byte or -1
};

struct InputRecording {
  std::vector<std::string> words;
  uint32_t virtual_time = 0;
  std::vector<InputEvent> events;
  uint64_t end = 0;  // instruction total at the end of the recorded run
};

bool WriteRecording(const InputRecording& rec, const std::string& path, std::string& error);
bool ReadRecording(const std::string& path, InputRecording& rec, std::string& error);

// Records on the emulation thread. Install before the run starts; the recorder must outlive
// the run. Key hooks installed earlier (a key script) keep running, before the recorder looks.
class InputRecorder {
 public:
  void Install(Emulator& emu);
  // Takes the run's end count; call after the run, or while the run is paused.
  void Finish(Emulator& emu);
  // Takes the recorder's hooks out again (the run paused or ended); a chained key hook stays.
  void Uninstall(Emulator& emu);
  const InputRecording& recording() const { return rec_; }

  void OnReadKeys(Machine& emu);
  uint32_t OnClock(uint64_t at, uint32_t ms);
  void OnSerial(uint64_t at, int com, int byte);

 private:
  InputRecording rec_;
  void (*chained_)(Machine&, void*) = nullptr;
  void* chained_context_ = nullptr;
  int32_t last_mods_[2] = {};
  bool have_clock_ = false;
  uint32_t last_clock_ = 0;
};

// Feeds a recording back. Install before the run starts (with the recorded project line and
// virtual-time rate); divergence() tells, after the run, where the run stopped following it.
class InputReplayer {
 public:
  explicit InputReplayer(InputRecording rec) : rec_(std::move(rec)) {}
  void Install(Emulator& emu);
  const std::string& divergence() const { return divergence_; }
  const InputRecording& recording() const { return rec_; }

  void OnReadKeys(Machine& emu);
  uint32_t OnClock(uint64_t at, uint32_t ms);
  bool OnSerial(uint64_t at, int com, int* byte);

 private:
  // The next event of `kind` at count `at`, or null; events of that kind left behind before
  // `at` mean the run no longer follows the recording.
  const InputEvent* Take(InputEvent::Kind kind, uint64_t at);
  void Diverged(uint64_t at, const char* what);

  InputRecording rec_;
  size_t next_[3] = {};
  uint32_t last_clock_ = 0;
  std::string divergence_;
};

}  // namespace korvane
