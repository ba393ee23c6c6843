// Test support: whole firmware projects in a temporary folder, run by the built korvane-run.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "as/assembler.h"

namespace korvane::test {

// The environment a child starts with: the test's own, less every variable whose name starts
// with one of `drop_prefixes`, plus the `set` entries ("NAME=value"). Dropping the prefix of the
// variables a test sets keeps a developer's own settings out of the run.
struct ChildEnv {
  std::vector<std::string> drop_prefixes;
  std::vector<std::string> set;
};

// How a korvane-run process ended and what it wrote.
struct ToolRun {
  int status = -1;  // exit status; -1 when it died by a signal or never started
  std::string out;  // standard output (--dump lines, or the log with --log -)
  std::string err;  // standard error
  std::string log;  // FirmwareProject runs: the log file the run was given

  // The bytes of the "NAME: b0 b1 ..." line --dump printed for NAME; empty when there is none.
  std::vector<uint8_t> Dump(const std::string& name) const;
  // Little-endian word `index` of that line; false when the line is missing or too short.
  bool DumpWord(const std::string& name, size_t index, uint32_t* value) const;
  // Everything the run wrote, for SCOPED_TRACE and failure messages.
  std::string All() const { return out + err + log; }
};

// The little-endian word at byte `at` of `bytes`, or 0xDEADBEEF when the bytes end before it
// (a value no test expects, so a short dump fails the comparison instead of reading past it).
uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t at);

// `x$NAME: ret` for every name, each global: the stubs firmware calls so the emulator's own
// routines take over at their addresses.
std::string StubRoutines(const std::vector<std::string>& names);

// The whole content of a host file ("" when it cannot be read).
std::string ReadHostFile(const std::string& path);

// Runs korvane-run with `args` (the tool's own path is added in front) in the folder `cwd`
// ("" = the test's), with standard output and error captured. Waits for its end.
ToolRun RunKorvaneRun(const std::vector<std::string>& args, const std::string& cwd = "",
                      const ChildEnv& env = {});

// A temporary project folder "/tmp/korvane_fw_XXXXXX" (no dot: the project name's extension
// starts at its first dot) holding NAME.out assembled by our assembler, an empty NAME.xcl and
// NAME.mem, and optionally NAME.tvx. The folder, and a run still going, end with the object.
class FirmwareProject {
 public:
  explicit FirmwareProject(std::string name = "x");
  ~FirmwareProject();
  FirmwareProject(const FirmwareProject&) = delete;
  FirmwareProject& operator=(const FirmwareProject&) = delete;

  const std::string& dir() const { return dir_; }
  std::string Path(const std::string& file) const { return dir_ + "/" + file; }
  // The project path as the project line names it: the folder and NAME, no extension.
  std::string ProjectPath() const { return Path(name_); }
  // Where Run and Start send the log.
  std::string LogPath() const { return Path("aaa.txt"); }

  // A complete source module; modules are linked in the order they were added.
  void AddSource(const std::string& file_name, const std::string& text);
  // A snippet body placed after `_start` and parked at its end, as RunSnippet does.
  void AddSnippet(const std::string& body);
  // Assembles and links the sources and writes NAME.out, an empty NAME.xcl and NAME.mem.
  // An assembly error is a test failure (ADD_FAILURE) and returns false, nothing written.
  bool Assemble(const as::LinkOptions& link = {});
  const as::Executable& exe() const { return exe_; }
  // Guest address of a symbol of the program; fails the test when it does not exist.
  uint32_t Sym(const std::string& name) const;

  // NAME.tvx holding `line` and a line end.
  void WriteProject(const std::string& line) const;
  void WriteFile(const std::string& file, const std::string& text) const;
  std::string ReadFile(const std::string& file) const { return ReadHostFile(Path(file)); }

  // Runs korvane-run with "--log LogPath()" and then `args` in front; waits for its end.
  // To run the project by its words, end `args` with "--", "korvane", <options>, ProjectPath().
  ToolRun Run(const std::vector<std::string>& args, const ChildEnv& env = {});

  // The same run, started in the background (for tests that talk to it while it runs).
  // Returns false (and fails the test) when the process cannot be started.
  bool Start(const std::vector<std::string>& args, const ChildEnv& env = {});
  // True once a started run has ended (without waiting for it).
  bool Ended();
  // Waits for a started run to end and returns what it did.
  ToolRun Finish();

 private:
  ToolRun Collect(int wait_status) const;

  std::string name_;
  std::string dir_;
  std::vector<as::SourceFile> sources_;
  as::Executable exe_;
  pid_t pid_ = -1;
  int ended_status_ = -1;  // the wait status once Ended() saw the end
  bool ended_ = false;
};

}  // namespace korvane::test
