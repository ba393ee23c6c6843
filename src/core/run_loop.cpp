// The run loop: fetch, decode, execute, system_timer, statistics.
#include "core/run_loop.h"

#include "core/emulator.h"

namespace korvane {

void RunLoop(Emulator& emu) { (void)emu; }

uint32_t ReadSystemTimer(Emulator& emu) {
  (void)emu;
  return 0;
}

}  // namespace korvane
