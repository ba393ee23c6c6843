// korvane-run's scripted serial lines: a COM port becomes a pseudo-terminal that korvane-run
// holds itself, so a script can queue what the firmware receives and keep what it sent.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace korvane::run {

struct RunnerConfig;

struct SerialLineOptions {
  struct Line {
    int com = 0;               // 1-4
    std::string send;          // bytes queued on the line before the run starts
    std::string capture_path;  // empty: what the firmware sends is not kept
  };
  std::vector<Line> lines;  // one per COM number named
  // Filled after the run: a line that could not be set up or a capture that was not written.
  std::shared_ptr<std::string> error = std::make_shared<std::string>();
};

// Removes --serial-send N:TEXT and --serial-capture N:FILE from `args` (up to a "--") into
// `options`. TEXT may use \r \n \t \\ and \xHH. Returns false with `error` on a bad value.
bool TakeSerialOptions(std::vector<std::string>& args, SerialLineOptions& options,
                       std::string& error);
// Adds the hooks that open the lines before the run and collect what was sent after it.
void InstallSerialOptions(const SerialLineOptions& options, RunnerConfig& config);
// Lines for --help.
std::string SerialHelpText();

}  // namespace korvane::run
