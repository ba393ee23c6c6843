// Integer, logical, bit and move instructions.
#include "core/emulator.h"
#include "core/handlers.h"

namespace korvane {

void Op_notbit(Emulator& emu) { (void)emu; }
void Op_and(Emulator& emu) { (void)emu; }
void Op_andnot(Emulator& emu) { (void)emu; }
void Op_setbit(Emulator& emu) { (void)emu; }
void Op_notand(Emulator& emu) { (void)emu; }
void Op_xor(Emulator& emu) { (void)emu; }
void Op_or(Emulator& emu) { (void)emu; }
void Op_nor(Emulator& emu) { (void)emu; }
void Op_xnor(Emulator& emu) { (void)emu; }
void Op_not(Emulator& emu) { (void)emu; }
void Op_ornot(Emulator& emu) { (void)emu; }
void Op_clrbit(Emulator& emu) { (void)emu; }
void Op_notor(Emulator& emu) { (void)emu; }
void Op_nand(Emulator& emu) { (void)emu; }
void Op_alterbit(Emulator& emu) { (void)emu; }
void Op_addo(Emulator& emu) { (void)emu; }
void Op_addi(Emulator& emu) { (void)emu; }
void Op_subo(Emulator& emu) { (void)emu; }
void Op_subi(Emulator& emu) { (void)emu; }
void Op_shro(Emulator& emu) { (void)emu; }
void Op_shrdi(Emulator& emu) { (void)emu; }
void Op_shri(Emulator& emu) { (void)emu; }
void Op_shlo(Emulator& emu) { (void)emu; }
void Op_rotate(Emulator& emu) { (void)emu; }
void Op_shli(Emulator& emu) { (void)emu; }
void Op_cmpo(Emulator& emu) { (void)emu; }
void Op_cmpi(Emulator& emu) { (void)emu; }
void Op_cmpinco(Emulator& emu) { (void)emu; }
void Op_cmpinci(Emulator& emu) { (void)emu; }
void Op_cmpdeco(Emulator& emu) { (void)emu; }
void Op_cmpdeci(Emulator& emu) { (void)emu; }
void Op_chkbit(Emulator& emu) { (void)emu; }
void Op_addc(Emulator& emu) { (void)emu; }
void Op_subc(Emulator& emu) { (void)emu; }
void Op_mov(Emulator& emu) { (void)emu; }
void Op_movl(Emulator& emu) { (void)emu; }
void Op_movt(Emulator& emu) { (void)emu; }
void Op_movq(Emulator& emu) { (void)emu; }
void Op_synmov(Emulator& emu) { (void)emu; }
void Op_synmovl(Emulator& emu) { (void)emu; }
void Op_synmovq(Emulator& emu) { (void)emu; }
void Op_spanbit(Emulator& emu) { (void)emu; }
void Op_scanbit(Emulator& emu) { (void)emu; }
void Op_mulo(Emulator& emu) { (void)emu; }
void Op_remo(Emulator& emu) { (void)emu; }
void Op_divo(Emulator& emu) { (void)emu; }
void Op_muli(Emulator& emu) { (void)emu; }
void Op_remi(Emulator& emu) { (void)emu; }
void Op_modi(Emulator& emu) { (void)emu; }
void Op_divi(Emulator& emu) { (void)emu; }

}  // namespace korvane
