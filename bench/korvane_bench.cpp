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

// A mix typical of compiled firmware: local-register arithmetic (the addo fast path), global
// arithmetic and logic, indexed loads and stores, compare-and-branch, calls and returns.
const char* kFirmware = R"(
	.text
	.globl _start
_start:
	mov 0, r4
	mov 0, r5
	mov 0, g2
	mov 1, g3
loop:
	addo 1, r4, r4
	addo r4, r5, r5
	and 31, r4, r6
	st r5, buffer[r6*4]
	ld buffer[r6*4], r7
	addo r7, g2, g2
	shlo 1, g3, g3
	xor g2, g3, g3
	cmpobne 0, r6, loop
	call sub
	b loop
sub:
	addo 1, g4, g4
	ldob bytes(g5), g6
	cmpo g6, g4
	ret
	.data
bytes:
	.byte 1, 2, 3, 4
	.bss
buffer:
	.space 128
)";

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
      korvane::bench::WriteBenchProject("bench.s", kFirmware);
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
    std::printf("fast path: %d register, %d literal; addo %d, addi %d\n", emu->cpu.fast_reg,
                emu->cpu.fast_lit, emu->cpu.addo_count, emu->cpu.addi_count);
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return status;
}
