// korvane-state-bench: builds a firmware whose regions hold about 8 MB, runs it briefly, fills
// its memory with varied bytes and measures saving and loading a state file, and its size.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "as/assembler.h"
#include "bench_project.h"
#include "driver/emulator.h"
#include "driver/save_state.h"

namespace {

const char* kFirmware = R"(
	.text
	.globl _start
_start:
	mov 0, r4
loop:
	addo 1, r4, r4
	and 31, r4, r5
	st r4, big[r5*4]
	b loop
	.bss
big:
	.space 8000000
)";

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

int main() {
  std::optional<std::filesystem::path> project =
      korvane::bench::WriteBenchProject("state.s", kFirmware);
  if (!project) return 1;
  const std::filesystem::path dir = *project;

  auto emu = std::make_unique<korvane::Emulator>();
  emu->log.OpenFile((dir / "aaa.txt").string());
  emu->SetArgs({"korvane", "-v1", (dir / "x").string()});
  emu->run.max_instructions = 1000000;
  korvane::EmuThreadMain(*emu);

  // Varied contents, so neither the disk nor the page cache sees zero pages only.
  uint64_t regions = 0;
  uint32_t seed = 12345;
  for (auto& r : emu->mem.regions) {
    if (!r.host) continue;
    regions += r.size;
    for (uint32_t i = 0; i < r.size; ++i) {
      seed = seed * 1103515245u + 12345u;
      r.host[i] = static_cast<uint8_t>(seed >> 16);
    }
  }
  const std::string path = (dir / "x.kst").string();
  std::string error;
  int status = 0;
  auto start = std::chrono::steady_clock::now();
  if (!korvane::SaveState(*emu, path, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    status = 1;
  }
  const double save_ms = MsSince(start);
  start = std::chrono::steady_clock::now();
  korvane::StateFile state;
  if (status == 0 &&
      (!korvane::ReadStateFile(path, state, error) || !korvane::CheckState(*emu, state, error))) {
    std::fprintf(stderr, "%s\n", error.c_str());
    status = 1;
  }
  if (status == 0) korvane::ApplyState(*emu, state);
  const double load_ms = MsSince(start);
  if (status == 0) {
    const uint64_t size = std::filesystem::file_size(path);
    std::printf("regions: %llu bytes\n", static_cast<unsigned long long>(regions));
    std::printf("state file: %llu bytes (regions + %llu)\n", static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(size - regions));
    std::printf("save: %.1f ms  load: %.1f ms\n", save_ms, load_ms);
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return status;
}
