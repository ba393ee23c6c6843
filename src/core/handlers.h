// Instruction handlers, one family per file. Each reads the decoder slots of CpuState.
#pragma once

namespace korvane {

struct Processor;

// integer
void Op_notbit(Processor& emu);
void Op_and(Processor& emu);
void Op_andnot(Processor& emu);
void Op_setbit(Processor& emu);
void Op_notand(Processor& emu);
void Op_xor(Processor& emu);
void Op_or(Processor& emu);
void Op_nor(Processor& emu);
void Op_xnor(Processor& emu);
void Op_not(Processor& emu);
void Op_ornot(Processor& emu);
void Op_clrbit(Processor& emu);
void Op_notor(Processor& emu);
void Op_nand(Processor& emu);
void Op_alterbit(Processor& emu);
void Op_addo(Processor& emu);
void Op_addi(Processor& emu);
void Op_subo(Processor& emu);
void Op_subi(Processor& emu);
void Op_shro(Processor& emu);
void Op_shrdi(Processor& emu);
void Op_shri(Processor& emu);
void Op_shlo(Processor& emu);
void Op_rotate(Processor& emu);
void Op_shli(Processor& emu);
void Op_cmpo(Processor& emu);
void Op_cmpi(Processor& emu);
void Op_cmpinco(Processor& emu);
void Op_cmpinci(Processor& emu);
void Op_cmpdeco(Processor& emu);
void Op_cmpdeci(Processor& emu);
void Op_chkbit(Processor& emu);
void Op_addc(Processor& emu);
void Op_subc(Processor& emu);
void Op_mov(Processor& emu);
void Op_movl(Processor& emu);
void Op_movt(Processor& emu);
void Op_movq(Processor& emu);
void Op_synmov(Processor& emu);
void Op_synmovl(Processor& emu);
void Op_synmovq(Processor& emu);
void Op_spanbit(Processor& emu);
void Op_scanbit(Processor& emu);
void Op_mulo(Processor& emu);
void Op_remo(Processor& emu);
void Op_divo(Processor& emu);
void Op_muli(Processor& emu);
void Op_remi(Processor& emu);
void Op_modi(Processor& emu);
void Op_divi(Processor& emu);

// branch
void Op_b(Processor& emu);
void Op_bno(Processor& emu);
void Op_bg(Processor& emu);
void Op_be(Processor& emu);
void Op_bge(Processor& emu);
void Op_bl(Processor& emu);
void Op_bne(Processor& emu);
void Op_ble(Processor& emu);
void Op_bo(Processor& emu);
void Op_testno(Processor& emu);
void Op_testg(Processor& emu);
void Op_teste(Processor& emu);
void Op_testge(Processor& emu);
void Op_testl(Processor& emu);
void Op_testne(Processor& emu);
void Op_testle(Processor& emu);
void Op_testo(Processor& emu);
void Op_bbc(Processor& emu);
void Op_cmpobg(Processor& emu);
void Op_cmpobe(Processor& emu);
void Op_cmpobge(Processor& emu);
void Op_cmpobl(Processor& emu);
void Op_cmpobne(Processor& emu);
void Op_cmpoble(Processor& emu);
void Op_bbs(Processor& emu);
void Op_cmpibno(Processor& emu);
void Op_cmpibg(Processor& emu);
void Op_cmpibe(Processor& emu);
void Op_cmpibge(Processor& emu);
void Op_cmpibl(Processor& emu);
void Op_cmpibne(Processor& emu);
void Op_cmpible(Processor& emu);
void Op_cmpibo(Processor& emu);

// load and store
void Op_ldob(Processor& emu);
void Op_stob(Processor& emu);
void Op_ldos(Processor& emu);
void Op_stos(Processor& emu);
void Op_lda(Processor& emu);
void Op_ld(Processor& emu);
void Op_st(Processor& emu);
void Op_ldl(Processor& emu);
void Op_stl(Processor& emu);
void Op_ldt(Processor& emu);
void Op_stt(Processor& emu);
void Op_ldq(Processor& emu);
void Op_stq(Processor& emu);
void Op_ldib(Processor& emu);
void Op_stib(Processor& emu);
void Op_ldis(Processor& emu);
void Op_stis(Processor& emu);

// calls
void Op_call(Processor& emu);
void Op_ret(Processor& emu);
void Op_bal(Processor& emu);
void Op_bx(Processor& emu);
void Op_callx(Processor& emu);
void Op_modac(Processor& emu);
void Op_modpc(Processor& emu);
void Op_sysctl(Processor& emu);
void Op_calls(Processor& emu);
void Op_fmark(Processor& emu);
void Op_flushreg(Processor& emu);

// float
void Op_emul(Processor& emu);
void Op_ediv(Processor& emu);
void Op_cvtir(Processor& emu);
void Op_cvtilr(Processor& emu);
void Op_cmpr(Processor& emu);
void Op_sinr(Processor& emu);
void Op_cosr(Processor& emu);
void Op_tanr(Processor& emu);
void Op_cmprl(Processor& emu);
void Op_cvtri(Processor& emu);
void Op_cvtril(Processor& emu);
void Op_cvtzri(Processor& emu);
void Op_cvtzril(Processor& emu);
void Op_movr(Processor& emu);
void Op_movrl(Processor& emu);
void Op_divr(Processor& emu);
void Op_mulr(Processor& emu);
void Op_subr(Processor& emu);
void Op_addr(Processor& emu);
void Op_divrl(Processor& emu);
void Op_mulrl(Processor& emu);
void Op_subrl(Processor& emu);
void Op_addrl(Processor& emu);

}  // namespace korvane
