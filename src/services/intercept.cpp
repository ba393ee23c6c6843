// Intercept dispatch: calls to intercepted firmware routines run native handlers.
#include "services/intercept.h"

#include "core/emulator.h"
#include "services/native_handlers.h"

namespace korvane {

uint32_t CheckInterceptCall(Emulator& emu, uint32_t target) {
  (void)emu;
  return target;
}

void NativeClearText(Emulator& emu) { (void)emu; }
void NativeInitRtc(Emulator& emu) { (void)emu; }

}  // namespace korvane
