// The machine's parts of a saved state: one serialize routine per device, each in its
// device's own file, listing that device's state once (see StateArchive).
#pragma once

#include "core/state_archive.h"

namespace korvane {

struct Machine;

// Key slots, the pending key words and the first-call flag of x$readkeys.
void SerializeKeyboard(Machine& emu, StateArchive& ar);
// Video mode, controller registers, palette, both picture pages and the LCD state.
void SerializeDisplay(Machine& emu, StateArchive& ar);
// Port variables and which COM numbers are open; loading reopens those with the settings
// the port variables hold in guest memory.
void SerializeSerial(Machine& emu, StateArchive& ar);
// Drives, the parse state and the open files (DOS path, position, mode); loading reopens them
// by DOS path in this machine's drives, at their position.
void SerializeFiles(Machine& emu, StateArchive& ar);
// The redirect of the current intercepted call (empty between two instructions).
void SerializeIntercept(Machine& emu, StateArchive& ar);

}  // namespace korvane
