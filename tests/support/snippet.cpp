// Test support: assemble short programs with our own assembler and run them on a fresh Emulator.
#include "support/snippet.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "services/keyboard.h"

namespace korvane::test {

namespace fs = std::filesystem;

std::string FixturesDir() {
  fs::path p(KORVANE_FIXTURES_DIR);
  std::error_code ec;
  if (fs::is_directory(p, ec)) return p.string();
  return "";
}

uint32_t SnippetRun::Sym(const std::string& name) const {
  auto it = exe.symbols.find(name);
  if (it == exe.symbols.end()) {
    ADD_FAILURE() << "no symbol " << name << " in the snippet";
    return 0;
  }
  return it->second;
}

uint32_t SnippetRun::Read32(uint32_t address) { return GuestRead32(mem, address); }
uint8_t SnippetRun::Read8(uint32_t address) { return GuestRead8(mem, address); }

std::string SnippetSource(const std::string& asm_body, bool park_at_end) {
  std::string s = "\t.text\n\t.globl _start\n_start:\n" + asm_body + "\n";
  if (park_at_end) s += "\t.text\nsnippet_end:\n\tb snippet_end\n";
  return s;
}

namespace {

void WriteFile(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> SplitWords(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// Start-up as EmuMain runs it, up to the run loop; a failed phase ends the run the same way.
void StartUp(SnippetRun& emu) {
  if (!ReadOptions(emu, static_cast<int>(emu.argv.size()), emu.argv.data()))
    EmuAbort(emu, UsageText());
  if (!InitEmuIdents(emu)) EmuAbort(emu, " InitEmuIdents ");
  if (!InitEmuExec(emu)) EmuAbort(emu, " InitEmuExec ");
  if (!InitEmuKey(emu)) EmuAbort(emu, " InitEmuKey ");
  ResolveGuestVars(emu);
}

}  // namespace

std::unique_ptr<SnippetRun> RunSnippet(const std::string& asm_body, uint64_t max_instructions,
                                       SnippetOptions options) {
  auto run = std::make_unique<SnippetRun>();
  run->log.SetCapture(true);

  std::vector<as::SourceFile> sources{{"snippet.s", SnippetSource(asm_body, options.park_at_end)}};
  for (size_t i = 0; i < options.extra_modules.size(); ++i)
    sources.push_back({"module" + std::to_string(i + 1) + ".s", options.extra_modules[i]});
  if (!options.executable.empty()) {
    std::ifstream in(options.executable, std::ios::binary);
    if (!in) {
      ADD_FAILURE() << "cannot read " << options.executable;
      return run;
    }
    run->exe.file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } else {
    run->exe = as::AssembleAndLink(sources, options.link);
  }
  if (options.executable.empty() && !run->exe.ok()) {
    std::string why;
    for (const auto& d : run->exe.errors) why += d.ToString() + "\n";
    ADD_FAILURE() << "snippet does not assemble:\n" << why;
    return run;
  }
  run->assembled = true;

  // No dots in the folder name: the project name's extension starts at its first dot.
  char dir_template[] = "/tmp/korvane_snippet_XXXXXX";
  if (!mkdtemp(dir_template)) {
    ADD_FAILURE() << "cannot create a temporary project folder";
    return run;
  }
  run->project_dir = dir_template;
  fs::path dir(run->project_dir);
  WriteFile(dir / "x.out", run->exe.file);
  WriteFile(dir / "x.xcl", {});
  WriteFile(dir / "x.mem", {});

  std::vector<std::string> words{"korvane"};
  for (auto& w : SplitWords(options.options)) words.push_back(w);
  words.push_back((dir / "x").string());
  run->SetArgs(words);
  run->run.max_instructions = max_instructions;

  try {
    StartUp(*run);
    if (options.before_run) options.before_run(*run);
    RunPhase(*run);
  } catch (const EmuExitSignal&) {
    run->ended_by_exit = true;
  }
  run->log.Flush();
  if (run->image.exe) {
    std::fclose(run->image.exe);
    run->image.exe = nullptr;
  }
  if (!options.keep_project_dir) {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  return run;
}

}  // namespace korvane::test
