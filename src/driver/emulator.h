// The Emulator: all state of one emulation run, composed from the processor and the machine
// around it, so tests and tools can create fresh instances.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/debugger.h"
#include "driver/emu_main.h"
#include "driver/options.h"
#include "services/machine.h"

namespace korvane {

struct StateFile;

struct Emulator : Machine {
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
  // A state to start from instead of the entry point (checked against the machine after
  // start-up, then loaded just before the run loop).
  std::shared_ptr<const StateFile> start_state;
  // The debug engine, made by a front-end before the run (a window, korvane-run --debug) or by
  // the run phase when the options ask for breakpoints or stops.
  std::unique_ptr<Debugger> debugger;
};

}  // namespace korvane
