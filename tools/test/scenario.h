// korvane-test's scenario files: what one scenario runs and checks, read from TOML.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane::test_tool {

// One check, looked at when the run it belongs to has ended.
struct Check {
  enum Kind { kScreen, kMemory, kSerial, kFile, kExitCode, kExitMessage };
  Kind kind = kExitCode;
  int line = 0;          // where the check is written in the scenario file
  std::string where;     // screen: golden PNG path; memory: symbol or 0x address; file: "C:NAME"
  std::string expected;  // memory: the bytes; serial, file, exit message: the text
  bool whole = false;    // file: the file must equal the text (else: contain it)
  int number = 0;        // serial: COM number; exit code: the code
};

// One korvane-run process: its inputs, then the checks made after it ended. The runs of a
// scenario share one copy of the project folder, so a later run sees what an earlier saved.
struct Run {
  std::string keys;  // key script, as korvane-run --keys takes it
  std::vector<std::pair<int, std::string>> serial_send;  // COM number, bytes queued on it
  std::vector<Check> checks;
  int first_line = 0;
};

struct Scenario {
  std::string file;                  // the scenario file
  std::string name;                  // unique in a suite
  std::string project;               // the project file (.tvx), as written
  std::vector<std::string> options;  // emulator options added to the project line
  std::vector<std::string> tags;
  uint32_t virtual_time = 10000;  // instructions per system_timer ms; 0: wall clock
  uint64_t max_instructions = 0;  // per run; 0: none
  int64_t timeout_ms = -1;        // per run; -1: none
  bool fresh_memory = false;      // start from an empty memory file
  std::vector<Run> runs;
};

// Reads a scenario file. On failure returns false with `error` naming the file, the line and
// the problem ("FILE:LINE: problem").
bool LoadScenario(const std::string& path, Scenario& scenario, std::string& error);

// A memory check's bytes: hex pairs separated by blanks ("02 00 00 00").
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& bytes);

}  // namespace korvane::test_tool
