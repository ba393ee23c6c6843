#include "driver/input_record.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/run_loop.h"
#include "driver/emulator.h"

namespace korvane {

namespace {

constexpr const char* kRecordMagic = "korvane-record 1";

void RecorderKeys(Machine& emu, void* context) {
  static_cast<InputRecorder*>(context)->OnReadKeys(emu);
}
uint32_t RecorderClock(void* context, uint64_t at, uint32_t ms) {
  return static_cast<InputRecorder*>(context)->OnClock(at, ms);
}
int RecorderSerial(Machine& emu, void* context, uint32_t port, int byte) {
  static_cast<InputRecorder*>(context)->OnSerial(CurrentInstructionTotal(emu),
                                                 static_cast<int>(port), byte);
  return byte;
}

void ReplayerKeys(Machine& emu, void* context) {
  static_cast<InputReplayer*>(context)->OnReadKeys(emu);
}
uint32_t ReplayerClock(void* context, uint64_t at, uint32_t ms) {
  return static_cast<InputReplayer*>(context)->OnClock(at, ms);
}
int ReplayerSerial(Machine& emu, void* context, uint32_t port, int byte) {
  static_cast<InputReplayer*>(context)->OnSerial(CurrentInstructionTotal(emu),
                                                 static_cast<int>(port), &byte);
  return byte;
}

// Words are written with "\\", "\n" and "\r" escaped (the project line's last word keeps its line
// end).
std::string EscapeWord(const std::string& w) {
  std::string out;
  for (char c : w) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

bool UnescapeWord(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    if (text[i] == 'n')
      out += '\n';
    else if (text[i] == 'r')
      out += '\r';
    else if (text[i] == '\\')
      out += '\\';
    else
      return false;
  }
  return true;
}

}  // namespace

bool WriteRecording(const InputRecording& rec, const std::string& path, std::string& error) {
  std::string text = std::string(kRecordMagic) + "\n";
  for (const auto& w : rec.words) text += "word " + EscapeWord(w) + "\n";
  text += "virtual-time " + std::to_string(rec.virtual_time) + "\n";
  char line[128];
  for (const InputEvent& e : rec.events) {
    const unsigned long long at = e.at;
    switch (e.kind) {
      case InputEvent::kKey:
        std::snprintf(line, sizeof line, "key %llu %d %d %d %d\n", at, e.value[0], e.value[1],
                      e.value[2], e.value[3]);
        break;
      case InputEvent::kClock:
        std::snprintf(line, sizeof line, "clock %llu %u\n", at, static_cast<uint32_t>(e.value[0]));
        break;
      case InputEvent::kSerial:
        std::snprintf(line, sizeof line, "serial %llu %u %d\n", at,
                      static_cast<uint32_t>(e.value[0]), e.value[1]);
        break;
    }
    text += line;
  }
  text += "end " + std::to_string(rec.end) + "\n";
  const std::string temp = path + ".tmp";
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    f << text;
    f.flush();
    if (!f) {
      error = "cannot write the recording " + path + ": " + std::strerror(errno);
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot write the recording " + path + ": " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool ReadRecording(const std::string& path, InputRecording& rec, std::string& error) {
  rec = InputRecording{};
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "cannot read the recording " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string line;
  int number = 0;
  bool ended = false;
  uint64_t last_at = 0;
  while (std::getline(f, line)) {
    ++number;
    auto bad = [&] {
      error = path + " line " + std::to_string(number) + " is not understood: " + line;
      return false;
    };
    if (number == 1) {
      if (line != kRecordMagic) {
        error = path + " is not a Korvane input recording";
        return false;
      }
      continue;
    }
    if (ended) return bad();
    std::istringstream in(line);
    std::string kind;
    in >> kind;
    if (kind == "word") {
      std::string word;
      if (line.size() < 6 || !UnescapeWord(line.substr(5), word)) return bad();
      rec.words.push_back(word);
      continue;
    }
    InputEvent e;
    unsigned long long at = 0;
    if (kind == "virtual-time") {
      if (!(in >> rec.virtual_time)) return bad();
    } else if (kind == "end") {
      if (!(in >> at)) return bad();
      rec.end = at;
      ended = true;
    } else if (kind == "key" || kind == "clock" || kind == "serial") {
      e.kind = kind == "key"     ? InputEvent::kKey
               : kind == "clock" ? InputEvent::kClock
                                 : InputEvent::kSerial;
      const int values = kind == "key" ? 4 : kind == "clock" ? 1 : 2;
      if (!(in >> at)) return bad();
      for (int i = 0; i < values; ++i) {
        long long v = 0;
        if (!(in >> v) || v < INT32_MIN || v > UINT32_MAX) return bad();
        e.value[i] = static_cast<int32_t>(v);
      }
      if (at < last_at) return bad();
      e.at = last_at = at;
      rec.events.push_back(e);
    } else {
      return bad();
    }
    std::string rest;
    if (in >> rest) return bad();
  }
  if (number == 0) {
    error = path + " is not a Korvane input recording";
    return false;
  }
  if (!ended) {
    error = path + " is cut short (no end line)";
    return false;
  }
  return true;
}

void InputRecorder::Install(Emulator& emu) {
  rec_ = InputRecording{};
  rec_.words = emu.args;
  rec_.virtual_time = emu.run.virtual_time_instructions;
  chained_ = emu.keys.before_read;
  chained_context_ = emu.keys.before_read_context;
  emu.keys.before_read = RecorderKeys;
  emu.keys.before_read_context = this;
  // Under virtual time the clock follows the count; only the wall clock needs recording.
  if (rec_.virtual_time == 0) {
    emu.hooks.clock_reading = RecorderClock;
    emu.hooks.clock_ctx = this;
  }
  emu.serial.after_read = RecorderSerial;
  emu.serial.after_read_context = this;
}

void InputRecorder::Finish(Emulator& emu) { rec_.end = CurrentInstructionTotal(emu); }

void InputRecorder::Uninstall(Emulator& emu) {
  if (emu.keys.before_read == RecorderKeys) {
    emu.keys.before_read = chained_;
    emu.keys.before_read_context = chained_context_;
  }
  if (emu.hooks.clock_reading == RecorderClock) {
    emu.hooks.clock_reading = nullptr;
    emu.hooks.clock_ctx = nullptr;
  }
  if (emu.serial.after_read == RecorderSerial) {
    emu.serial.after_read = nullptr;
    emu.serial.after_read_context = nullptr;
  }
}

void InputRecorder::OnReadKeys(Machine& emu) {
  if (chained_) chained_(emu, chained_context_);
  KeyboardState& k = emu.keys;
  TakeQueuedKey(k);  // a key the chained hook (a key script) just typed goes out now
  InputEvent e;
  e.kind = InputEvent::kKey;
  e.at = CurrentInstructionTotal(emu);
  e.value[0] = k.pending_device_key.load(std::memory_order_relaxed);
  e.value[1] = k.pending_host_key.load(std::memory_order_relaxed);
  e.value[2] = k.current_mods.load(std::memory_order_relaxed);
  e.value[3] = k.host_key_mods.load(std::memory_order_relaxed);
  if (e.value[0] == 0 && e.value[1] == 0 && e.value[2] == last_mods_[0] &&
      e.value[3] == last_mods_[1])
    return;
  last_mods_[0] = e.value[2];
  last_mods_[1] = e.value[3];
  rec_.events.push_back(e);
}

uint32_t InputRecorder::OnClock(uint64_t at, uint32_t ms) {
  // A reading equal to the one before costs nothing: the replay repeats the last value.
  if (!have_clock_ || ms != last_clock_) {
    InputEvent e;
    e.kind = InputEvent::kClock;
    e.at = at;
    e.value[0] = static_cast<int32_t>(ms);
    rec_.events.push_back(e);
  }
  have_clock_ = true;
  last_clock_ = ms;
  return ms;
}

void InputRecorder::OnSerial(uint64_t at, int port, int byte) {
  InputEvent e;
  e.kind = InputEvent::kSerial;
  e.at = at;
  e.value[0] = port;
  e.value[1] = byte;
  rec_.events.push_back(e);
}

void InputReplayer::Install(Emulator& emu) {
  emu.run.virtual_time_instructions = rec_.virtual_time;
  emu.keys.before_read = ReplayerKeys;
  emu.keys.before_read_context = this;
  if (rec_.virtual_time == 0) {
    emu.hooks.clock_reading = ReplayerClock;
    emu.hooks.clock_ctx = this;
  }
  emu.serial.after_read = ReplayerSerial;
  emu.serial.after_read_context = this;
}

void InputReplayer::Diverged(uint64_t at, const char* what) {
  if (!divergence_.empty()) return;
  divergence_ =
      "the run left the recording at instruction " + std::to_string(at) + " (" + what + ")";
}

const InputEvent* InputReplayer::Take(InputEvent::Kind kind, uint64_t at) {
  size_t& i = next_[kind];
  while (i < rec_.events.size() && (rec_.events[i].kind != kind || rec_.events[i].at < at)) {
    if (rec_.events[i].kind == kind) Diverged(at, "an input was not taken at its count");
    ++i;
  }
  if (i < rec_.events.size() && rec_.events[i].at == at) return &rec_.events[i++];
  return nullptr;
}

void InputReplayer::OnReadKeys(Machine& emu) {
  const InputEvent* e = Take(InputEvent::kKey, CurrentInstructionTotal(emu));
  if (!e) return;
  KeyboardState& k = emu.keys;
  k.pending_device_key.store(e->value[0], std::memory_order_relaxed);
  k.pending_host_key.store(e->value[1], std::memory_order_relaxed);
  k.current_mods.store(e->value[2], std::memory_order_relaxed);
  k.host_key_mods.store(e->value[3], std::memory_order_relaxed);
}

uint32_t InputReplayer::OnClock(uint64_t at, uint32_t) {
  if (const InputEvent* e = Take(InputEvent::kClock, at))
    last_clock_ = static_cast<uint32_t>(e->value[0]);
  return last_clock_;
}

bool InputReplayer::OnSerial(uint64_t at, int port, int* byte) {
  const InputEvent* e = Take(InputEvent::kSerial, at);
  if (!e || e->value[0] != port) {
    Diverged(at, "a serial read the recording does not hold");
    *byte = -1;
    return false;
  }
  *byte = e->value[1];
  return true;
}

}  // namespace korvane
