// korvane-run's debugger console: gdb-style commands read at every stop of the debug engine,
// from a terminal (GNU readline), a pipe or a script file.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "core/debugger.h"
#include "image/source_files.h"

namespace korvane {
struct Emulator;
}

namespace korvane::run {

class DebugConsole {
 public:
  // Reads commands from `in` (not owned); `terminal` uses readline on standard input instead.
  // Commands read from a file or pipe are echoed after the prompt so the output reads as a
  // transcript. Output goes to `out`.
  DebugConsole(Emulator& emu, std::FILE* in, std::FILE* out, bool terminal);

  // The engine's stop handler: shows the stop, then runs commands until one resumes the run.
  // The end of the input ends the run as `quit` does.
  void OnStop(const DebugStop& stop);

  // Runs one command line; returns true when it resumed the run (continue, step, quit...).
  // Every error is one line of output; nothing typed can end the process.
  bool Execute(const std::string& line);

 private:
  bool ReadLine(std::string& line);
  void Print(const std::string& text);
  void Error(const std::string& text);
  bool Resume(const ResumeCommand& command);
  bool ParseCount(const std::string& text, uint64_t& count, uint64_t max);
  bool CheckGuest(uint32_t address, uint64_t bytes);

  bool CmdBreak(const std::string& args, BreakKind kind, bool temporary);
  void CmdDelete(const std::string& args);
  void CmdEnable(const std::string& args, bool enabled);
  void CmdInfo(const std::string& args);
  void CmdExamine(const std::string& format, const std::string& args);
  void CmdDisassemble(const std::string& args);
  void CmdPrint(const std::string& args);
  void CmdSet(const std::string& args);
  void ShowHelp();

  // Source lines (see source_console.cpp).
  SourceFiles& Sources();
  // FILE:LINE of a file the line numbers name: its first address (the next line with code
  // when LINE has none); false when the text is no such location, with `error` set when it
  // names a known file but no line with code.
  bool ParseSourceLine(const std::string& text, uint32_t& address, std::string& error);
  void CmdList(const std::string& args);
  void CmdInfoLine(const std::string& args);
  void CmdInfoSymbol(const std::string& args);
  void CmdInfoSymbols(const std::string& args, bool functions);
  // The source text of the line holding `address`, "LINE\tTEXT", or "" without one.
  std::string SourceText(uint32_t address);
  void ListLines(const std::string& file, uint32_t first, uint32_t last);

  Emulator& emu_;
  Debugger& dbg_;
  std::FILE* in_;
  std::FILE* out_;
  bool terminal_;
  std::unique_ptr<SourceFiles> sources_;
  std::string list_file_;  // where a plain `list` goes on
  uint32_t list_next_ = 0;
};

}  // namespace korvane::run
