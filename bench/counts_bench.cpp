// korvane-counts-bench: what counting for profiles and coverage costs the fast core. The same
// firmware runs the same number of instructions with no counting (the plain loop) and with a
// RunCounts attached (the counting loop, which --profile and --coverage both use), and the
// ratio of their CPU times is printed with the limits it is held to: 1.3 for coverage, 2 for
// profiling.
//
// Usage: korvane-counts-bench [INSTRUCTIONS [ROUNDS]]
// Firmware: the CoreMark image (when ../shared/perf is there), a loop calling a small procedure
// and a loop of straight-line arithmetic with loads and stores. Times are the least of ROUNDS
// runs (default 3), the two kinds of run taking turns.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "bench_project.h"
#include "core/run_counts.h"
#include "driver/emulator.h"

namespace {

namespace fs = std::filesystem;

const char* kCallLoop = R"(
	.text
	.globl _start
_start:
	mov 0, r4
loop:
	addo 1, r4, r4
	call work
	and 31, r4, r5
	addo r5, g2, g2
	b loop
work:
	addo g2, g3, g3
	shlo 1, g3, g4
	xor g4, g2, g5
	cmpobe 0, g5, done
	addo 1, g5, g5
done:
	ret
)";

const char* kStraightLoop = R"(
	.text
	.globl _start
_start:
	mov 0, r4
loop:
	addo 1, r4, r4
	addo r4, r5, r5
	and 31, r4, r8
	st r5, buffer[r8*4]
	ld buffer[r8*4], r9
	addo r9, g2, g2
	xor g2, r5, g3
	shlo 1, g3, g4
	subo 1, g4, g4
	cmpobne 0, r4, loop
	b loop
	.bss
buffer:
	.space 256
)";

// CPU seconds of a run of `count` instructions; negative when it ended otherwise.
double Run(const fs::path& dir, uint64_t count, bool counting) {
  korvane::RunCounts counts;
  return korvane::bench::TimedRun(dir, "-v1", count, [&](korvane::Emulator& emu) {
    if (counting) emu.run.counts = &counts;
  });
}

void Measure(const char* name, const fs::path& dir, uint64_t count, int rounds) {
  double plain = 1e9, counted = 1e9;
  for (int r = 0; r < rounds; ++r) {
    plain = std::min(plain, Run(dir, count, false));
    counted = std::min(counted, Run(dir, count, true));
  }
  if (plain <= 0 || counted <= 0) return;
  const double ratio = counted / plain;
  std::printf("%-28s %10.1f %10.1f %7.2fx  coverage %s, profile %s\n", name, count / plain / 1e6,
              count / counted / 1e6, ratio, ratio <= 1.3 ? "within 1.3x" : "OVER 1.3x",
              ratio <= 2.0 ? "within 2x" : "OVER 2x");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t count = 40000000;
  int rounds = 3;
  if (!korvane::bench::ReadCountAndRounds(argc, argv, "korvane-counts-bench", count, rounds))
    return 2;
  std::printf("%-28s %10s %10s %8s\n", "firmware", "plain MIPS", "count MIPS", "ratio");
  const fs::path coremark = KORVANE_SOURCE_DIR "/../shared/perf/coremark.out";
  if (fs::exists(coremark)) {
    const auto project = korvane::bench::CopyBenchProject(coremark);
    if (!project) return 1;
    const fs::path& dir = *project;
    Measure("CoreMark image", dir, count, rounds);
    fs::remove_all(dir);
  }
  for (auto [name, source] : {std::pair{"call in six", kCallLoop},
                              std::pair{"straight loop with memory", kStraightLoop}}) {
    auto project = korvane::bench::WriteBenchProject("shape.s", source);
    if (!project) return 1;
    Measure(name, *project, count, rounds);
    fs::remove_all(*project);
  }
  return 0;
}
