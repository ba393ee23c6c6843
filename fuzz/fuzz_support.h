// Shared helpers of the fuzz targets: a scratch project folder and the start-up phases run the
// way the emulation thread runs them, with every fatal end caught.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "as/assembler.h"
#include "driver/emulator.h"

namespace korvane::fuzz {

// A fresh folder, removed with the object: in memory (/dev/shm) where the host has it, since
// every input writes files and the memory file save syncs them; else under /tmp. No dot in its
// name: a project name's extension starts at its first dot.
class ScratchFolder {
 public:
  explicit ScratchFolder(const char* what) {
    std::error_code ec;
    const char* top = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
    std::string tmpl = std::string(top) + "/korvane_fuzz_" + what + "_XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    path_ = buf.data();
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteBytes(const std::string& path, const void* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::perror(path.c_str());
    std::abort();
  }
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

// Assembles a fixed program for a target's set-up; a program that does not assemble is a bug
// of the target itself.
inline std::vector<uint8_t> AssembleOrDie(const std::string& source) {
  as::Executable exe = as::AssembleAndLink({{"fuzz.s", source}}, {});
  if (!exe.ok()) {
    for (const auto& d : exe.errors) std::fprintf(stderr, "%s\n", d.ToString().c_str());
    std::abort();
  }
  return exe.file;
}

// The start-up phases of the emulation thread, up to (not including) the run loop. Returns
// false when a phase failed or ended the run through MsgExit.
// The picture pages are handed in the way the window hands its own, once for all inputs.
inline bool StartUp(Emulator& emu, const std::vector<std::string>& words) {
  static std::vector<uint8_t> pages(2 * static_cast<size_t>(kPageBytes));
  DisplayInit(emu, pages.data(), pages.data() + kPageBytes);
  emu.SetArgs(words);
  try {
    if (!ReadOptions(emu, static_cast<int>(emu.argv.size()), emu.argv.data())) return false;
    if (!InitEmuIdents(emu)) return false;
    if (!InitEmuExec(emu)) return false;
    if (!InitEmuKey(emu)) return false;
    ResolveGuestVars(emu);
  } catch (const EmuExitSignal&) {
    return false;
  }
  return true;
}

}  // namespace korvane::fuzz
