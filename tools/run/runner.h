// korvane-run's pieces: the command-line options (one table row each), the run of the
// emulation thread with its limits, and the end-of-run dumps.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace korvane {
struct Emulator;
}

namespace korvane::run {

// Exit statuses of korvane-run.
enum ExitStatus : int {
  kExitRequested = 0,  // the run ended through an exit request
  kExitMessage = 1,    // the run ended with an exit message (also written to standard error)
  kExitUsage = 2,      // bad usage
  kExitStopped = 3,    // stopped by --max-instructions or --timeout-ms
  kExitDebugStop = 4,  // stopped by a breakpoint or watchpoint (or quit in the debugger)
};

struct DumpRequest {
  std::string name;  // a symbol, or a hex address written 0x...
  uint32_t length = 0;
};

struct RunnerConfig {
  std::string project_file;        // PROJECT.tvx, or empty with `words`
  std::vector<std::string> words;  // the project line's words (after "--", or from the file)
  uint64_t max_instructions = 0;   // 0: no limit
  int64_t timeout_ms = -1;         // -1: no limit
  std::string log_path;            // empty: aaa.txt in the project's folder; "-": stdout
  std::vector<DumpRequest> dumps;
  std::string load_state;    // start from this state file instead of the entry point
  std::string save_state;    // write a state file at the end of the run
  std::string record;        // write every input the firmware takes to this file
  std::string replay;        // feed the inputs of this recording back
  bool debug = false;        // the debugger console on the terminal
  std::string debug_script;  // the debugger console's commands from this file
  std::string trace;         // instruction trace file
  std::string trace_from;    // symbol or address where the trace starts
  uint64_t trace_limit = 1000000;
  uint64_t history = 0;         // 0: the engine's default, kept only while it steps
  std::string profile;          // the run's profile
  bool profile_folded = false;  // as folded stacks instead of a table
  std::string coverage;         // the run's coverage as an lcov tracefile
  bool help = false;
  bool version = false;
  // Hooks for options that act on the emulator: before the thread starts (after the
  // Emulator exists) and after it has finished (before the dumps).
  std::vector<std::function<void(Emulator&)>> before_run;
  std::vector<std::function<void(Emulator&)>> after_run;
};

// One option of the table: "--name" and, when it takes one, the value that follows it.
struct RunnerOption {
  const char* name;
  const char* value_name;  // null: the option takes no value
  const char* help;
  // Stores the value; returns false with `error` set when the value is not usable.
  bool (*apply)(RunnerConfig& config, const std::string& value, std::string& error);
};

// The option table, in the order --help lists it.
const std::vector<RunnerOption>& RunnerOptions();

// Parses the command line (without the program name). Returns false with `error` set on bad
// usage.
bool ParseRunnerArgs(const std::vector<std::string>& args, RunnerConfig& config,
                     std::string& error);

// The --help text.
std::string HelpText();

// Runs the emulation as configured and returns the exit status. `out` receives the dumps,
// `err` the exit message and runner errors.
int RunEmulation(RunnerConfig& config, std::FILE* out, std::FILE* err);

// "NAME: " and the bytes as lower-case hex pairs separated by blanks, or false with `error`
// when NAME is neither a symbol of the executable nor a 0x address.
bool FormatDump(Emulator& emu, const DumpRequest& dump, std::string& line, std::string& error);

}  // namespace korvane::run
