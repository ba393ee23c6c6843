// The Emulator context: all state of one emulation run, so tests and tools can create fresh
// instances. Subsystems keep their state in their own structs; handlers take the context.
#pragma once

#include <string>
#include <vector>

#include "core/cpu_state.h"
#include "core/faults.h"
#include "core/log.h"
#include "core/memory_map.h"
#include "core/run_loop.h"
#include "driver/emu_main.h"
#include "driver/options.h"
#include "image/image.h"
#include "services/display.h"
#include "services/files/files.h"
#include "services/intercept.h"
#include "services/keyboard.h"
#include "services/serial.h"

namespace korvane {

struct Emulator {
  Emulator() = default;
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  // The argument vector of the run (the project line's words); argv points into args.
  void SetArgs(const std::vector<std::string>& words) {
    args = words;
    argv.clear();
    for (auto& w : args) argv.push_back(w.data());
    argv.push_back(nullptr);
    argv.pop_back();
  }
  std::vector<std::string> args;
  std::vector<char*> argv;

  Log log;
  Options opt;
  ExitState exit;
  GuestVars vars;
  CpuState cpu;
  MemoryMap mem;
  RunState run;
  ImageState image;
  InterceptState intercept;
  KeyboardState keys;
  DisplayState display;
  SerialState serial;
  FileState files;
};

}  // namespace korvane
