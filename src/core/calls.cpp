// Procedure calls, returns, rejected control instructions and run-time services.
#include "core/emulator.h"
#include "core/handlers.h"

namespace korvane {

void Op_call(Emulator& emu) { (void)emu; }
void Op_ret(Emulator& emu) { (void)emu; }
void Op_bal(Emulator& emu) { (void)emu; }
void Op_bx(Emulator& emu) { (void)emu; }
void Op_callx(Emulator& emu) { (void)emu; }
void Op_modac(Emulator& emu) { (void)emu; }
void Op_modpc(Emulator& emu) { (void)emu; }
void Op_sysctl(Emulator& emu) { (void)emu; }
void Op_calls(Emulator& emu) { (void)emu; }
void Op_fmark(Emulator& emu) { (void)emu; }
void Op_flushreg(Emulator& emu) { (void)emu; }

}  // namespace korvane

#include "core/calls.h"

namespace korvane {

void CallProcedure(Emulator& emu, uint32_t target) {
  (void)emu;
  (void)target;
}

void RunService(Emulator& emu, uint32_t n) {
  (void)emu;
  (void)n;
}

}  // namespace korvane
