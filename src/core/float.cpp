// Extended arithmetic and floating-point instructions.
#include "core/emulator.h"
#include "core/handlers.h"

namespace korvane {

void Op_emul(Emulator& emu) { (void)emu; }
void Op_ediv(Emulator& emu) { (void)emu; }
void Op_cvtir(Emulator& emu) { (void)emu; }
void Op_cvtilr(Emulator& emu) { (void)emu; }
void Op_cmpr(Emulator& emu) { (void)emu; }
void Op_sinr(Emulator& emu) { (void)emu; }
void Op_cosr(Emulator& emu) { (void)emu; }
void Op_tanr(Emulator& emu) { (void)emu; }
void Op_cmprl(Emulator& emu) { (void)emu; }
void Op_cvtri(Emulator& emu) { (void)emu; }
void Op_cvtril(Emulator& emu) { (void)emu; }
void Op_cvtzri(Emulator& emu) { (void)emu; }
void Op_cvtzril(Emulator& emu) { (void)emu; }
void Op_movr(Emulator& emu) { (void)emu; }
void Op_movrl(Emulator& emu) { (void)emu; }
void Op_divr(Emulator& emu) { (void)emu; }
void Op_mulr(Emulator& emu) { (void)emu; }
void Op_subr(Emulator& emu) { (void)emu; }
void Op_addr(Emulator& emu) { (void)emu; }
void Op_divrl(Emulator& emu) { (void)emu; }
void Op_mulrl(Emulator& emu) { (void)emu; }
void Op_subrl(Emulator& emu) { (void)emu; }
void Op_addrl(Emulator& emu) { (void)emu; }

}  // namespace korvane
