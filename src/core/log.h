// Log output of one emulator: text lines to a stream (aaa.txt, stdout, a file of the runner's choice),
// optionally also kept in memory so tests can read what was written.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace korvane {

class Log {
 public:
  Log() = default;
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  ~Log();

  // Sends the output to `file`; the log closes it at the end when `owned` is set.
  void SetFile(std::FILE* file, bool owned);
  // Opens `path` for writing (truncating it). Returns false when it cannot be opened.
  bool OpenFile(const std::string& path);
  // Keeps a copy of everything written in memory (see captured()).
  void SetCapture(bool on) { capture_ = on; }

  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Write(std::string_view text);
  void Flush();

  const std::string& captured() const { return captured_; }
  void ClearCaptured() { captured_.clear(); }

 private:
  std::FILE* file_ = nullptr;
  bool owned_ = false;
  bool capture_ = false;
  std::string captured_;
};

}  // namespace korvane
