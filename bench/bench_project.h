// Benchmarks: a project folder "x" in /tmp holding a firmware assembled from one source by our
// own assembler, an empty exclude list and an empty memory file.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "as/assembler.h"

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

}  // namespace korvane::bench
