// korvane-bench: assembles a loop-heavy firmware image, runs it through the emulation thread's
// real start-up for a fixed number of instructions and prints guest MIPS.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "as/assembler.h"
#include "bench_project.h"
#include "driver/emulator.h"

namespace {

const std::string kFirmware = korvane::bench::FirmwareMix();

void Usage() {
  std::printf(
      "usage: korvane-bench [INSTRUCTIONS]\n"
      "Runs a loop-heavy firmware image for INSTRUCTIONS guest instructions (default 200000000)\n"
      "and prints the guest speed in million instructions per second.\n");
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t count = 200000000;
  if (argc > 2 || (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || argv[1][0] == '-'))) {
    Usage();
    return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
  }
  if (argc == 2) {
    char* end = nullptr;
    count = std::strtoull(argv[1], &end, 10);
    if (*end != '\0' || count == 0) {
      Usage();
      return 2;
    }
  }

  std::optional<std::filesystem::path> project =
      korvane::bench::WriteBenchProject("bench.s", kFirmware.c_str());
  if (!project) return 1;
  const std::filesystem::path dir = *project;

  auto emu = std::make_unique<korvane::Emulator>();
  emu->log.OpenFile((dir / "aaa.txt").string());
  emu->SetArgs({"korvane", "-v1", (dir / "x").string()});
  emu->run.max_instructions = count;

  auto start = std::chrono::steady_clock::now();
  korvane::EmuThreadMain(*emu);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  uint64_t executed = korvane::CurrentInstructionTotal(*emu);
  int status = 0;
  if (emu->exit.message[0] != '\0' || executed != count) {
    std::fprintf(stderr, "the run ended early after %llu instructions: %s\n",
                 static_cast<unsigned long long>(executed), emu->exit.message);
    status = 1;
  } else {
    std::printf("%llu instructions in %.3f s: %.1f MIPS\n",
                static_cast<unsigned long long>(executed), seconds, executed / seconds / 1e6);
    std::printf("fast path: %llu register, %llu literal; addo %llu, addi %llu\n",
                static_cast<unsigned long long>(emu->cpu.fast_reg),
                static_cast<unsigned long long>(emu->cpu.fast_lit),
                static_cast<unsigned long long>(emu->cpu.addo_count),
                static_cast<unsigned long long>(emu->cpu.addi_count));
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return status;
}
