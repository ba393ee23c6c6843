// Instruction handlers, one family per file. Each reads the decoder slots of CpuState.
#pragma once

namespace korvane {

struct Emulator;

// integer
void Op_notbit(Emulator& emu);
void Op_and(Emulator& emu);
void Op_andnot(Emulator& emu);
void Op_setbit(Emulator& emu);
void Op_notand(Emulator& emu);
void Op_xor(Emulator& emu);
void Op_or(Emulator& emu);
void Op_nor(Emulator& emu);
void Op_xnor(Emulator& emu);
void Op_not(Emulator& emu);
void Op_ornot(Emulator& emu);
void Op_clrbit(Emulator& emu);
void Op_notor(Emulator& emu);
void Op_nand(Emulator& emu);
void Op_alterbit(Emulator& emu);
void Op_addo(Emulator& emu);
void Op_addi(Emulator& emu);
void Op_subo(Emulator& emu);
void Op_subi(Emulator& emu);
void Op_shro(Emulator& emu);
void Op_shrdi(Emulator& emu);
void Op_shri(Emulator& emu);
void Op_shlo(Emulator& emu);
void Op_rotate(Emulator& emu);
void Op_shli(Emulator& emu);
void Op_cmpo(Emulator& emu);
void Op_cmpi(Emulator& emu);
void Op_cmpinco(Emulator& emu);
void Op_cmpinci(Emulator& emu);
void Op_cmpdeco(Emulator& emu);
void Op_cmpdeci(Emulator& emu);
void Op_chkbit(Emulator& emu);
void Op_addc(Emulator& emu);
void Op_subc(Emulator& emu);
void Op_mov(Emulator& emu);
void Op_movl(Emulator& emu);
void Op_movt(Emulator& emu);
void Op_movq(Emulator& emu);
void Op_synmov(Emulator& emu);
void Op_synmovl(Emulator& emu);
void Op_synmovq(Emulator& emu);
void Op_spanbit(Emulator& emu);
void Op_scanbit(Emulator& emu);
void Op_mulo(Emulator& emu);
void Op_remo(Emulator& emu);
void Op_divo(Emulator& emu);
void Op_muli(Emulator& emu);
void Op_remi(Emulator& emu);
void Op_modi(Emulator& emu);
void Op_divi(Emulator& emu);

// branch
void Op_b(Emulator& emu);
void Op_bno(Emulator& emu);
void Op_bg(Emulator& emu);
void Op_be(Emulator& emu);
void Op_bge(Emulator& emu);
void Op_bl(Emulator& emu);
void Op_bne(Emulator& emu);
void Op_ble(Emulator& emu);
void Op_bo(Emulator& emu);
void Op_testno(Emulator& emu);
void Op_testg(Emulator& emu);
void Op_teste(Emulator& emu);
void Op_testge(Emulator& emu);
void Op_testl(Emulator& emu);
void Op_testne(Emulator& emu);
void Op_testle(Emulator& emu);
void Op_testo(Emulator& emu);
void Op_bbc(Emulator& emu);
void Op_cmpobg(Emulator& emu);
void Op_cmpobe(Emulator& emu);
void Op_cmpobge(Emulator& emu);
void Op_cmpobl(Emulator& emu);
void Op_cmpobne(Emulator& emu);
void Op_cmpoble(Emulator& emu);
void Op_bbs(Emulator& emu);
void Op_cmpibno(Emulator& emu);
void Op_cmpibg(Emulator& emu);
void Op_cmpibe(Emulator& emu);
void Op_cmpibge(Emulator& emu);
void Op_cmpibl(Emulator& emu);
void Op_cmpibne(Emulator& emu);
void Op_cmpible(Emulator& emu);
void Op_cmpibo(Emulator& emu);

// load and store
void Op_ldob(Emulator& emu);
void Op_stob(Emulator& emu);
void Op_ldos(Emulator& emu);
void Op_stos(Emulator& emu);
void Op_lda(Emulator& emu);
void Op_ld(Emulator& emu);
void Op_st(Emulator& emu);
void Op_ldl(Emulator& emu);
void Op_stl(Emulator& emu);
void Op_ldt(Emulator& emu);
void Op_stt(Emulator& emu);
void Op_ldq(Emulator& emu);
void Op_stq(Emulator& emu);
void Op_ldib(Emulator& emu);
void Op_stib(Emulator& emu);
void Op_ldis(Emulator& emu);
void Op_stis(Emulator& emu);

// calls
void Op_call(Emulator& emu);
void Op_ret(Emulator& emu);
void Op_bal(Emulator& emu);
void Op_bx(Emulator& emu);
void Op_callx(Emulator& emu);
void Op_modac(Emulator& emu);
void Op_modpc(Emulator& emu);
void Op_sysctl(Emulator& emu);
void Op_calls(Emulator& emu);
void Op_fmark(Emulator& emu);
void Op_flushreg(Emulator& emu);

// float
void Op_emul(Emulator& emu);
void Op_ediv(Emulator& emu);
void Op_cvtir(Emulator& emu);
void Op_cvtilr(Emulator& emu);
void Op_cmpr(Emulator& emu);
void Op_sinr(Emulator& emu);
void Op_cosr(Emulator& emu);
void Op_tanr(Emulator& emu);
void Op_cmprl(Emulator& emu);
void Op_cvtri(Emulator& emu);
void Op_cvtril(Emulator& emu);
void Op_cvtzri(Emulator& emu);
void Op_cvtzril(Emulator& emu);
void Op_movr(Emulator& emu);
void Op_movrl(Emulator& emu);
void Op_divr(Emulator& emu);
void Op_mulr(Emulator& emu);
void Op_subr(Emulator& emu);
void Op_addr(Emulator& emu);
void Op_divrl(Emulator& emu);
void Op_mulrl(Emulator& emu);
void Op_subrl(Emulator& emu);
void Op_addrl(Emulator& emu);

}  // namespace korvane
