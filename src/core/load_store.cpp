// Load, store and address instructions.
#include "core/emulator.h"
#include "core/handlers.h"

namespace korvane {

void Op_ldob(Emulator& emu) { (void)emu; }
void Op_stob(Emulator& emu) { (void)emu; }
void Op_ldos(Emulator& emu) { (void)emu; }
void Op_stos(Emulator& emu) { (void)emu; }
void Op_lda(Emulator& emu) { (void)emu; }
void Op_ld(Emulator& emu) { (void)emu; }
void Op_st(Emulator& emu) { (void)emu; }
void Op_ldl(Emulator& emu) { (void)emu; }
void Op_stl(Emulator& emu) { (void)emu; }
void Op_ldt(Emulator& emu) { (void)emu; }
void Op_stt(Emulator& emu) { (void)emu; }
void Op_ldq(Emulator& emu) { (void)emu; }
void Op_stq(Emulator& emu) { (void)emu; }
void Op_ldib(Emulator& emu) { (void)emu; }
void Op_stib(Emulator& emu) { (void)emu; }
void Op_ldis(Emulator& emu) { (void)emu; }
void Op_stis(Emulator& emu) { (void)emu; }

}  // namespace korvane
