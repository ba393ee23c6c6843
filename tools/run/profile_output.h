// korvane-run's profile and coverage files: the counting attached before the run, the files
// written after it.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "core/run_counts.h"

namespace korvane {
struct Emulator;
}

namespace korvane::run {

class CountsOutput {
 public:
  // Opens the files that are asked for (empty names: none), so that a bad name fails before
  // the run; false with `error` set.
  bool Open(const std::string& profile, bool folded, const std::string& coverage,
            std::string& error);
  // Makes the run loops count, when a file is open.
  void Attach(Emulator& emu);
  // Writes the files from the run's counts; false with `error` set.
  bool Write(Emulator& emu, std::string& error);

 private:
  using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
  RunCounts counts_;
  File profile_{nullptr, std::fclose};
  File coverage_{nullptr, std::fclose};
  std::string profile_name_, coverage_name_;
  bool folded_ = false;
};

}  // namespace korvane::run
