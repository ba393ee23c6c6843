#include "services/machine.h"
#include "services/machine_state.h"

namespace korvane {

void SerializeIntercept(Machine& emu, StateArchive& ar) { ar.String(emu.intercept.spy_redirect); }

}  // namespace korvane
