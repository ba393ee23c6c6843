// Test support: assemble short programs with our own assembler and run them on a fresh Emulator.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "as/assembler.h"
#include "driver/emulator.h"

namespace korvane::test {

// Directory of the reference files made by a real i960 tool chain, or "" when the clone has no
// ../shared beside it (tests that need them skip with a clear message).
std::string FixturesDir();

struct SnippetOptions {
  // Option words of the project line, between the program word and the project name.
  std::string options = "-v1";
  // Further modules linked after the snippet's own (each a complete source).
  std::vector<std::string> extra_modules;
  // Where the linker places text and the absolute-data area.
  as::LinkOptions link;
  // Called after start-up, just before the run loop (set registers, memory, run controls...).
  std::function<void(Emulator&)> before_run;
  // Append a label `snippet_end` with an endless `b snippet_end` after the body, so a body that
  // runs to its end parks there instead of leaving the text region.
  bool park_at_end = true;
  // Run this existing executable as x.out instead of assembling the body ("" assembles).
  std::string executable;
  // Keep the temporary project folder (for debugging a test); it is removed otherwise.
  bool keep_project_dir = false;
};

// An Emulator after a run, with what the test needs to look at it.
struct SnippetRun : Emulator {
  as::Executable exe;          // the assembled program: layout and symbol values
  bool assembled = false;      // false: exe.errors says why, nothing ran
  bool ended_by_exit = false;  // the run ended through MsgExit/EmuAbort (a fatal condition)
  std::string project_dir;     // the temporary project folder (gone unless kept)

  // Guest address of a symbol of the program; fails the test when it does not exist.
  uint32_t Sym(const std::string& name) const;
  // Bounded guest reads through TranslateAddress.
  uint32_t Read32(uint32_t address);
  uint8_t Read8(uint32_t address);
  // Local register n of the current frame, global register n.
  uint32_t R(unsigned n) const { return ReadReg(cpu, n); }
  uint32_t G(unsigned n) const { return cpu.g[n]; }
  // Everything logged during the run (start-up included).
  const std::string& LogText() const { return log.captured(); }
  // The exit message (EmuExitMessage).
  std::string ExitMessage() const { return exit.message; }
};

// Assembles `asm_body` (GNU syntax, placed in .text right after the global label `_start`, the
// entry point; the body may switch to other sections such as .data, .bss or .absd), writes it as
// x.out with an empty x.xcl and x.mem to a fresh temporary project folder, runs the start-up
// phases with the project line "korvane <options> <folder>/x", then the run loop for at most
// `max_instructions` instructions (0: no limit - the program must end by itself). A fatal end
// (fault, MsgExit) is caught and recorded in `ended_by_exit`. The log is captured, never
// printed. An assembly error is reported as a test failure (ADD_FAILURE) and nothing runs.
std::unique_ptr<SnippetRun> RunSnippet(const std::string& asm_body, uint64_t max_instructions,
                                       SnippetOptions options = {});

// The full source that RunSnippet assembles for a body (for tests of the tool chain itself).
std::string SnippetSource(const std::string& asm_body, bool park_at_end);

}  // namespace korvane::test
