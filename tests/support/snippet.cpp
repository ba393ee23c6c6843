// Test support: assemble short programs with our own assembler and run them on a fresh Emulator.
#include "support/snippet.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
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

// The phases below run exactly as the emulation thread runs them; until the option and image
// phases of start-up exist, these stand in for them with the same resulting state.
bool OptionsPhasePending() { return UsageText()[0] == '\0'; }

void FallbackOptions(Emulator& emu, const std::vector<std::string>& words) {
  for (size_t i = 1; i + 1 < words.size(); ++i) {
    const std::string& w = words[i];
    if (w == "-dr") emu.opt.dr = true;
    else if (w == "-dm") emu.opt.dm = true;
    else if (w.size() == 3 && w.compare(0, 2, "-v") == 0) emu.opt.video = w[2] - '0';
  }
  std::snprintf(emu.opt.project_name, sizeof emu.opt.project_name, "%s", words.back().c_str());
}

void FallbackImage(SnippetRun& emu) {
  const as::Executable& x = emu.exe;
  CpuState& cpu = emu.cpu;
  int video = emu.opt.video;
  cpu.ip = x.entry;
  if (video == 1 || video == 3) {
    DefineRegion(emu, kRegionOnch, "ONCH", 4, 1020, true, 0, 0, 0);
    DefineRegion(emu, kRegionSyst, "SYST", 0x1C70, 1024, true, 0, 0, 0);
    for (uint32_t i = 0; i < 255; ++i) GuestWrite32(emu.mem, 0x1C70 + 4 * i, 4 * i);
  }
  DefineRegion(emu, kRegionText, "TEXT", x.text_address, static_cast<uint32_t>(x.text.size()),
               true, 0, 0, 0);
  std::memcpy(emu.mem.regions[kRegionText].host, x.text.data(), x.text.size());
  DefineRegion(emu, kRegionData, "DATA", x.data_address, static_cast<uint32_t>(x.data.size()),
               true, 0, 0, 0);
  if (!x.data.empty()) std::memcpy(emu.mem.regions[kRegionData].host, x.data.data(), x.data.size());
  DefineRegion(emu, kRegionBss, "BSS ", x.data_address + static_cast<uint32_t>(x.data.size()),
               x.bss_size, true, 0, 0, 0);
  DefineRegion(emu, kRegionAbsd, "ABSD", x.absd_address, x.absd_size + 16, true, 0, 0, 0);
  uint32_t heap = x.absd_address + x.absd_size + 0x10000;
  DefineRegion(emu, kRegionHeap, "HEAP", heap, 0x80000, true, 0, 0, 0);
  GuestWrite32(emu.mem, heap, 0x80000 - 8);
  GuestWrite32(emu.mem, heap + 4, 0x19);
  uint32_t stack = x.text_address - 4096;
  DefineRegion(emu, kRegionStck, "STCK", stack, 4096, true, 0, 0, 0);
  cpu.g[15] = stack;
  cpu.frame = emu.mem.regions[kRegionStck].host;
  WriteReg(cpu, 0, stack - 64);
  WriteReg(cpu, 1, stack + 64);
  DisplayInstall(emu);
  if (video >= 1 && video <= 4) {
    bool high = (video == 1 || video == 3);
    DefineRegion(emu, kRegionVmem, "VMEM", high ? 0x900A0000 : 0x030A0000, 307200, false, 0, 0,
                 0xA000);
    DefineRegion(emu, kRegionVreg, "VREG", high ? 0x800003C0 : 0x024003C0, 27, false, 0, 0, 0);
  }
  BuildOpcodeIndex(emu.run.opcode_index);
  std::memset(emu.mem.scratch, 0, sizeof emu.mem.scratch);
}

// Start-up as the emulation thread does it; a failed phase ends the run like EmuMain does.
void StartUp(SnippetRun& emu) {
  const std::vector<std::string>& words = emu.args;
  if (OptionsPhasePending()) {
    FallbackOptions(emu, words);
  } else if (!ReadOptions(emu, static_cast<int>(emu.argv.size()), emu.argv.data())) {
    EmuAbort(emu, UsageText());
  }
  if (!InitEmuIdents(emu)) EmuAbort(emu, " InitEmuIdents ");
  if (!InitEmuExec(emu)) EmuAbort(emu, " InitEmuExec ");
  if (!emu.mem.regions[kRegionText].defined) FallbackImage(emu);
  if (!InitEmuKey(emu)) EmuAbort(emu, " InitEmuKey ");
  emu.vars.korvane_active = TranslateAddress(emu.mem, LookupIdent(emu, "korvane_active"));
  emu.vars.navigate_msg_mode = TranslateAddress(emu.mem, LookupIdent(emu, "navigate_msg_mode"));
  emu.vars.file_errnum = TranslateAddress(emu.mem, LookupIdent(emu, "file_errnum"));
}

}  // namespace

std::unique_ptr<SnippetRun> RunSnippet(const std::string& asm_body, uint64_t max_instructions,
                                       SnippetOptions options) {
  auto run = std::make_unique<SnippetRun>();
  run->log.SetCapture(true);

  std::vector<as::SourceFile> sources{{"snippet.s", SnippetSource(asm_body, options.park_at_end)}};
  for (size_t i = 0; i < options.extra_modules.size(); ++i)
    sources.push_back({"module" + std::to_string(i + 1) + ".s", options.extra_modules[i]});
  run->exe = as::AssembleAndLink(sources, options.link);
  if (!run->exe.ok()) {
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
    RunLoop(*run);
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
