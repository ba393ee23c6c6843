// korvane-shapes-bench: guest speed of the fast core against the stepping loop, for loops of
// the shapes firmware has, behind texts of firmware size. Every firmware is assembled here by
// our own assembler; the text is padded with procedures to 16 KB, 1 MB and 4 MB, and with zeros
// to 4 MB.
//
// Usage: korvane-shapes-bench [INSTRUCTIONS [ROUNDS]]
// Prints, per text size and shape, the fast core's MIPS, the stepping loop's MIPS and their
// ratio, the start-up time, and at the end the ratios the fast core is held to: each shape's
// speed with 4 MB of text against 16 KB, and the movl and intercepted-call loops against the
// CoreMark image. Times are the process's CPU time, the least of ROUNDS runs (default 3); the
// start-up (a run of one instruction) is subtracted.
#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_project.h"
#include "driver/emulator.h"

namespace {

namespace fs = std::filesystem;

// The loops. Each runs forever; the instruction budget ends it.
struct Shape {
  const char* name;
  const char* options;
  std::string loop;  // starts at _start
};

// The stand-ins of the intercepted routines and the variables the loops use.
const char* kTail = R"(
	.globl x$readkeys
x$readkeys:
	ret
	.data
value:
	.word 0x11223344, 0x55667788
	.bss
buffer:
	.space 256
)";

std::vector<Shape> Shapes() {
  return {
      {"movl in ten", "-v1", R"(
	mov 0, r4
	mov 0, r5
	ldl value, g0
loop:
	addo 1, r4, r4
	movl g0, r6
	addo r4, r5, r5
	and 31, r4, r8
	st r5, buffer[r8*4]
	ld buffer[r8*4], r9
	addo r9, g2, g2
	xor g2, r6, g3
	subo 1, g4, g4
	b loop
)"},
      {"intercepted call in eight", "-v1", R"(
	mov 0, r4
	mov 0, r5
loop:
	addo 1, r4, r4
	addo r4, r5, r5
	callx x$readkeys
	and 31, r4, r6
	addo r6, g2, g2
	xor g2, r5, g3
	subo 1, g4, g4
	b loop
)"},
      {"display write in ten (mode 1)", "-v1", R"(
	mov 0, r4
	ldconst 0x900a0000, r10
	ldconst 63, r11
loop:
	addo 1, r4, r4
	and r11, r4, r5
	stob r4, (r10)[r5*1]
	addo r5, g2, g2
	xor g2, r4, g3
	shlo 1, g3, g5
	subo 1, g4, g4
	addo g5, g6, g6
	mov g6, g7
	b loop
)"},
      {"generic forms only", "-v1", R"(
	mov 7, r4
	ldconst 1000, r5
loop:
	modi r4, r5, r6
	cmpinci r6, r5, r7
	cmpdeci r7, r4, r8
	modi r8, r5, r9
	b loop
)"},
      {"stores into data in its text", "-v1", R"(
	mov 0, r4
loop:
	addo 1, r4, r4
	st r4, text_data
	addo r4, r5, r5
	stob r5, text_data+5
	ld text_data, r6
	addo r6, g2, g2
	b loop
text_data:
	.word 0, 0
)"},
      {"patches its code every 1000", "-v1", R"(
	ld patched, r7
	ld other, r8
	xor r7, r8, r8
outer:
	ldconst 100, r6
inner:
	addo 1, r4, r4
patched:
	mov 3, g0
	addo g0, r5, r5
	and 31, r4, r9
	st r5, buffer[r9*4]
	xor r5, g2, g2
	subo 1, r6, r6
	cmpobne 0, r6, inner
	ld patched, r7
	xor r7, r8, r7
	st r7, patched
	b outer
other:
	mov 7, g0
)"},
  };
}

// Procedures of 64 bytes each until the text holds `bytes`, or zeros.
std::string Padding(size_t bytes, size_t used, bool zeros) {
  if (zeros) return "\t.space " + std::to_string(bytes - used) + "\n";
  std::string s;
  s.reserve(bytes / 4 * 24);
  for (size_t n = 0; used + 64 <= bytes; ++n, used += 64) {
    s += "p" + std::to_string(n) + ":\n";
    for (int k = 0; k < 15; ++k) s += k & 1 ? "\taddo g0, r4, r4\n" : "\tshlo 1, r5, r5\n";
    s += "\tret\n";
  }
  return s;
}

enum class Loop { kFast, kStepping, kTrail };

double Run(const fs::path& dir, const char* options, uint64_t count, Loop loop) {
  return korvane::bench::TimedRun(dir, options, count, [loop](korvane::Emulator& emu) {
    if (loop == Loop::kStepping) emu.run.step_hook.before = [](void*) { return false; };
    emu.run.fast_trail.on = loop == Loop::kTrail;
  });
}

struct Figures {
  double fast_mips = 0, step_mips = 0, trail_mips = 0, startup_ms = 0;
};

Figures Measure(const fs::path& dir, const char* options, uint64_t count, int rounds) {
  double startup = 1e9, fast = 1e9, step = 1e9, trail = 1e9;
  const uint64_t step_count = count;
  for (int r = 0; r < rounds; ++r) {
    startup = std::min(startup, Run(dir, options, 1, Loop::kFast));
    fast = std::min(fast, Run(dir, options, count, Loop::kFast));
    step = std::min(step, Run(dir, options, step_count, Loop::kStepping));
    trail = std::min(trail, Run(dir, options, count, Loop::kTrail));
  }
  Figures f;
  f.startup_ms = startup * 1e3;
  f.fast_mips = static_cast<double>(count) / std::max(fast - startup, 1e-6) / 1e6;
  f.step_mips = static_cast<double>(step_count) / std::max(step - startup, 1e-6) / 1e6;
  f.trail_mips = static_cast<double>(count) / std::max(trail - startup, 1e-6) / 1e6;
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t count = 40000000;
  int rounds = 3;
  if (!korvane::bench::ReadCountAndRounds(argc, argv, "korvane-shapes-bench", count, rounds))
    return 2;
  // Text sizes; the last one again as zeros instead of procedures.
  const size_t sizes[] = {16 << 10, 1 << 20, 4 << 20, (4 << 20) + 1};
  std::map<std::string, std::map<size_t, Figures>> all;
  // trail: the fast core keeping the trail the window's fault history comes from.
  std::printf("%-34s %8s %10s %10s %8s %11s %11s\n", "shape", "text", "fast MIPS", "step MIPS",
              "ratio", "start-up ms", "trail/fast");
  auto print = [](const std::string& name, const std::string& size, const Figures& f) {
    std::printf("%-34s %8s %10.1f %10.1f %7.1fx %11.1f %11.2f\n", name.c_str(), size.c_str(),
                f.fast_mips, f.step_mips, f.fast_mips / f.step_mips, f.startup_ms,
                f.trail_mips / f.fast_mips);
    std::fflush(stdout);
  };

  // The compiled CoreMark image, with its own text: it cannot be given more without relinking.
  const fs::path coremark = KORVANE_SOURCE_DIR "/../shared/perf/coremark.out";
  Figures coremark_figures;
  if (fs::exists(coremark)) {
    const auto project = korvane::bench::CopyBenchProject(coremark);
    if (!project) return 1;
    const fs::path& dir = *project;
    coremark_figures = Measure(dir, "-v1", count, rounds);
    print("CoreMark image", "own*", coremark_figures);
    fs::remove_all(dir);
  }

  for (const Shape& shape : Shapes()) {
    for (size_t size : sizes) {
      const std::string head = "\t.text\n\t.globl _start\n_start:\n" + shape.loop;
      const bool zeros = size & 1;
      const std::string source = head + Padding(size & ~size_t{1}, 4096, zeros) + kTail;
      auto project = korvane::bench::WriteBenchProject("shape.s", source.c_str());
      if (!project) return 1;
      const Figures f = Measure(*project, shape.options, count, rounds);
      all[shape.name][size] = f;
      const std::string label = zeros              ? "4 MB 0s"
                                : size < (1 << 20) ? std::to_string(size >> 10) + " KB"
                                                   : std::to_string(size >> 20) + " MB";
      print(shape.name, label, f);
      fs::remove_all(*project);
    }
  }

  std::printf("\n4 MB (procedures, zeros) against 16 KB of text (fast core):\n");
  for (auto& [name, by_size] : all)
    std::printf("  %-34s %6.2f %6.2f\n", name.c_str(),
                by_size[4 << 20].fast_mips / by_size[16 << 10].fast_mips,
                by_size[(4 << 20) + 1].fast_mips / by_size[16 << 10].fast_mips);
  if (coremark_figures.fast_mips > 0) {
    std::printf("Against the CoreMark image (fast core, 4 MB of text):\n");
    for (const char* name : {"movl in ten", "intercepted call in eight"})
      std::printf("  %-34s %6.2f\n", name,
                  all[name][4 << 20].fast_mips / coremark_figures.fast_mips);
  }
  std::printf("* CoreMark's own text of 18 KB (fixed by its link).\n");
  return 0;
}
