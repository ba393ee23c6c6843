// The machine around the processor: the program image and its symbols, the intercepted
// routines and the devices behind them (keys, display, serial ports, files). Services and the
// image stage take the machine; the processor part stays what the core sees.
#pragma once

#include <cstdint>
#include <string>

#include "core/processor.h"
#include "image/image.h"
#include "services/display.h"
#include "services/files/files.h"
#include "services/intercept.h"
#include "services/keyboard.h"
#include "services/serial.h"

namespace korvane {

// Host pointers to the guest variables resolved at the end of start-up. A variable whose bytes
// would run past its region's storage points at the scratch area instead, so a 32-bit store
// through the pointer never leaves host storage.
struct GuestVars {
  uint8_t* korvane_active = nullptr;     // 8-bit
  uint8_t* navigate_msg_mode = nullptr;  // 32-bit
  uint8_t* file_errnum = nullptr;        // 32-bit
};

struct Machine : Processor {
  Machine() { InstallMachineHooks(); }

  // The folder from which the project line's names, the option file, the exclude list, the
  // executable, the memory file and the drive folders resolve (the project file's folder).
  // Empty: the process's working directory. Nothing changes the process's directory.
  std::string base_folder;

  GuestVars vars;
  ImageState image;
  InterceptState intercept;
  KeyboardState keys;
  DisplayState display;
  SerialState serial;
  FileState files;

 private:
  // Registers the intercept check and the address descriptions with the processor.
  void InstallMachineHooks();
};

}  // namespace korvane
