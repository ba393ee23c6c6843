// Benchmarks: a project folder "x" in /tmp holding a firmware assembled from one source by our
// own assembler, an empty exclude list and an empty memory file.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "as/assembler.h"
#include "core/run_loop.h"
#include "driver/emu_main.h"
#include "driver/emulator.h"

namespace korvane::bench {

// The folder, or nothing after a message on standard error.
inline std::optional<std::filesystem::path> WriteBenchProject(const char* file_name,
                                                              const char* source) {
  as::Executable exe = as::AssembleAndLink({{file_name, source}}, {});
  if (!exe.ok()) {
    for (const auto& d : exe.errors) std::fprintf(stderr, "%s\n", d.ToString().c_str());
    return std::nullopt;
  }
  char dir_template[] = "/tmp/korvane_bench_XXXXXX";
  if (!mkdtemp(dir_template)) {
    std::perror("mkdtemp");
    return std::nullopt;
  }
  std::filesystem::path dir(dir_template);
  std::ofstream(dir / "x.out", std::ios::binary)
      .write(reinterpret_cast<const char*>(exe.file.data()),
             static_cast<std::streamsize>(exe.file.size()));
  std::ofstream(dir / "x.xcl");
  std::ofstream(dir / "x.mem");
  return dir;
}

// A project folder for a firmware built elsewhere (the compiled CoreMark image): `exe` copied
// as x.out beside an empty exclude list and memory file; nothing when it cannot be made.
inline std::optional<std::filesystem::path> CopyBenchProject(const std::filesystem::path& exe) {
  char dir_template[] = "/tmp/korvane_bench_XXXXXX";
  if (!mkdtemp(dir_template)) {
    std::perror("mkdtemp");
    return std::nullopt;
  }
  std::filesystem::path dir(dir_template);
  std::filesystem::copy_file(exe, dir / "x.out");
  std::ofstream(dir / "x.xcl");
  std::ofstream(dir / "x.mem");
  return dir;
}

// CPU seconds of this process so far.
inline double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU seconds of a run of `count` instructions of the project in `dir` with `options`, after
// `setup` has prepared the emulator; negative, after a message, when the run ended otherwise.
inline double TimedRun(const std::filesystem::path& dir, const char* options, uint64_t count,
                       const std::function<void(Emulator&)>& setup) {
  auto emu = std::make_unique<Emulator>();
  emu->log.OpenFile((dir / "aaa.txt").string());
  emu->SetArgs({"korvane", options, (dir / "x").string()});
  emu->run.max_instructions = count;
  setup(*emu);
  const double start = CpuSeconds();
  EmuThreadMain(*emu);
  const double seconds = CpuSeconds() - start;
  if (emu->exit.message[0] != '\0' || CurrentInstructionTotal(*emu) != count) {
    std::fprintf(stderr, "%s: the run ended early after %llu instructions: %s\n",
                 dir.string().c_str(),
                 static_cast<unsigned long long>(CurrentInstructionTotal(*emu)), emu->exit.message);
    return -1;
  }
  return seconds;
}

// A mix typical of compiled firmware: local-register arithmetic (the addo fast path), global
// arithmetic and logic, indexed loads and stores, compare-and-branch, calls and returns.
// `more_text` follows the last routine and `more_data` the initialised data.
inline std::string FirmwareMix(const char* more_text = "", const char* more_data = "") {
  return std::string(R"(
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
)") + more_text +
         "\t.data\n" + R"(bytes:
	.byte 1, 2, 3, 4
)" + more_data +
         "\t.bss\n" + R"(buffer:
	.space 128
)";
}

// The command line of the benchmarks that take [INSTRUCTIONS [ROUNDS]]: false, after the usage
// line, when it does not read.
inline bool ReadCountAndRounds(int argc, char** argv, const char* tool, uint64_t& count,
                               int& rounds) {
  if (argc > 1) count = std::strtoull(argv[1], nullptr, 10);
  if (argc > 2) rounds = std::atoi(argv[2]);
  if (count < 1000 || rounds < 1 || argc > 3) {
    std::fprintf(stderr, "usage: %s [INSTRUCTIONS [ROUNDS]]\n", tool);
    return false;
  }
  return true;
}

}  // namespace korvane::bench
