// korvane-debug-bench: what the debug engine costs. Runs korvane-bench's firmware mix through
// the real start-up without an engine, with an idle engine, with a breakpoint, a watchpoint or
// the history kept, in one invocation (rounds interleaved, best round counts), and prints the
// speed of each relative to the run without an engine.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench_project.h"
#include "driver/emulator.h"

namespace {

// korvane-bench's mix, with a routine nothing calls (a breakpoint there is checked before every
// instruction and never stops) and a word nothing writes.
const std::string kFirmware = korvane::bench::FirmwareMix(
    "\t.globl never\nnever:\n\tret\n", "\t.globl untouched\nuntouched:\n\t.word 0\n");

struct Config {
  const char* name;
  std::function<void(korvane::Emulator&)> setup;  // null: no engine at all
};

// Symbols are known to the engine only after start-up, so the set-up uses their addresses.
uint32_t SymbolOf(const char* name) {
  static const korvane::as::Executable exe =
      korvane::as::AssembleAndLink({{"bench.s", kFirmware}}, {});
  auto it = exe.symbols.find(name);
  return it == exe.symbols.end() ? 0 : it->second;
}

void Add(korvane::Emulator& emu, korvane::BreakKind kind, const char* name) {
  char where[16];
  std::snprintf(where, sizeof where, "%x", SymbolOf(name));
  std::string error;
  if (emu.debugger->AddBreakpoint(kind, where, "", 0, false, error) == 0)
    std::fprintf(stderr, "%s: %s\n", name, error.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t count = 50000000;
  int rounds = 3;
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || argv[1][0] == '-' ||
                   (count = std::strtoull(argv[1], nullptr, 10)) == 0)) {
    std::printf(
        "usage: korvane-debug-bench [INSTRUCTIONS [ROUNDS]]\n"
        "Runs korvane-bench's firmware for INSTRUCTIONS (default 50000000) in each debugger\n"
        "configuration, ROUNDS times (default 3), and prints the best speeds.\n");
    return argc > 1 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
  }
  if (argc > 2) rounds = std::max(1, std::atoi(argv[2]));

  auto project = korvane::bench::WriteBenchProject("bench.s", kFirmware.c_str());
  if (!project) return 1;
  const std::filesystem::path dir = *project;

  using korvane::BreakKind;
  using korvane::Emulator;
  const std::vector<Config> configs = {
      {"no engine", nullptr},
      {"engine, nothing set", [](Emulator&) {}},
      {"breakpoint set (never reached)", [](Emulator& e) { Add(e, BreakKind::kCode, "never"); }},
      {"breakpoint set, no history",
       [](Emulator& e) {
         e.debugger->SetHistory(0, false);
         Add(e, BreakKind::kCode, "never");
       }},
      {"write watchpoint set (never hit)",
       [](Emulator& e) { Add(e, BreakKind::kWrite, "untouched"); }},
      {"history kept, nothing set", [](Emulator& e) { e.debugger->SetHistory(64, true); }},
  };
  std::vector<double> best(configs.size(), 0);
  for (int round = 0; round < rounds; ++round) {
    for (size_t k = 0; k < configs.size(); ++k) {
      auto emu = std::make_unique<Emulator>();
      emu->log.OpenFile((dir / "aaa.txt").string());
      emu->SetArgs({"korvane", "-v1", (dir / "x").string()});
      emu->run.max_instructions = count;
      if (configs[k].setup) {
        emu->debugger = std::make_unique<korvane::Debugger>(*emu);
        configs[k].setup(*emu);
      }
      auto start = std::chrono::steady_clock::now();
      korvane::EmuThreadMain(*emu);
      const double s =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (emu->exit.message[0] != '\0' || korvane::CurrentInstructionTotal(*emu) != count ||
          (emu->debugger && emu->debugger->stopped_run())) {
        std::fprintf(stderr, "%s: the run ended early: %s\n", configs[k].name, emu->exit.message);
        return 1;
      }
      best[k] = std::max(best[k], static_cast<double>(count) / s / 1e6);
    }
  }
  std::printf("%-34s %13s  %s\n", "configuration", "best speed", "time per instruction");
  for (size_t k = 0; k < configs.size(); ++k)
    std::printf("%-34s %8.1f MIPS  %+6.1f %%\n", configs[k].name, best[k],
                (best[0] / best[k] - 1) * 100);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
