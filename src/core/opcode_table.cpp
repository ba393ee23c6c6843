// The opcode table and the opcode index built from it.
#include "core/opcode_table.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <utility>

#include "core/handlers.h"

namespace korvane {

namespace {

const OpcodeEntry kTable[] = {
    {"dummy0", kFormatReg, 0x000, 4, false, false, false, nullptr, kFastGeneric, 0},
    {"b", kFormatCtrl, 0x008, 4, false, false, false, Op_b, kFastGeneric, 0},
    {"call", kFormatCtrl, 0x009, 4, false, false, false, Op_call, kFastGeneric, kTraitCall},
    {"ret", kFormatCtrl, 0x00A, 4, false, false, false, Op_ret, kFastGeneric, 0},
    {"bal", kFormatCtrl, 0x00B, 4, false, false, false, Op_bal, kFastGeneric, 0},
    {"bno", kFormatCtrl, 0x010, 4, false, false, false, Op_bno, kFastGeneric, 0},
    {"bg", kFormatCtrl, 0x011, 4, false, false, false, Op_bg, kFastGeneric, 0},
    {"be", kFormatCtrl, 0x012, 4, false, false, false, Op_be, kFastGeneric, 0},
    {"bge", kFormatCtrl, 0x013, 4, false, false, false, Op_bge, kFastGeneric, 0},
    {"bl", kFormatCtrl, 0x014, 4, false, false, false, Op_bl, kFastGeneric, 0},
    {"bne", kFormatCtrl, 0x015, 4, false, false, false, Op_bne, kFastGeneric, 0},
    {"ble", kFormatCtrl, 0x016, 4, false, false, false, Op_ble, kFastGeneric, 0},
    {"bo", kFormatCtrl, 0x017, 4, false, false, false, Op_bo, kFastGeneric, 0},
    {"testno", kFormatCobr, 0x020, 4, false, false, true, Op_testno, kFastGeneric, 0},
    {"testg", kFormatCobr, 0x021, 4, false, false, true, Op_testg, kFastGeneric, 0},
    {"teste", kFormatCobr, 0x022, 4, false, false, true, Op_teste, kFastGeneric, 0},
    {"testge", kFormatCobr, 0x023, 4, false, false, true, Op_testge, kFastGeneric, 0},
    {"testl", kFormatCobr, 0x024, 4, false, false, true, Op_testl, kFastGeneric, 0},
    {"testne", kFormatCobr, 0x025, 4, false, false, true, Op_testne, kFastGeneric, 0},
    {"testle", kFormatCobr, 0x026, 4, false, false, true, Op_testle, kFastGeneric, 0},
    {"testo", kFormatCobr, 0x027, 4, false, false, true, Op_testo, kFastGeneric, 0},
    {"bbc", kFormatCobr, 0x030, 4, true, true, false, Op_bbc, kFastGeneric, 0},
    {"cmpobg", kFormatCobr, 0x031, 4, true, true, false, Op_cmpobg, kFastGeneric, 0},
    {"cmpobe", kFormatCobr, 0x032, 4, true, true, false, Op_cmpobe, kFastGeneric, 0},
    {"cmpobge", kFormatCobr, 0x033, 4, true, true, false, Op_cmpobge, kFastGeneric, 0},
    {"cmpobl", kFormatCobr, 0x034, 4, true, true, false, Op_cmpobl, kFastGeneric, 0},
    {"cmpobne", kFormatCobr, 0x035, 4, true, true, false, Op_cmpobne, kFastGeneric, 0},
    {"cmpoble", kFormatCobr, 0x036, 4, true, true, false, Op_cmpoble, kFastGeneric, 0},
    {"bbs", kFormatCobr, 0x037, 4, true, true, false, Op_bbs, kFastGeneric, 0},
    {"cmpibno", kFormatCobr, 0x038, 4, true, true, false, Op_cmpibno, kFastGeneric, 0},
    {"cmpibg", kFormatCobr, 0x039, 4, true, true, false, Op_cmpibg, kFastGeneric, 0},
    {"cmpibe", kFormatCobr, 0x03A, 4, true, true, false, Op_cmpibe, kFastGeneric, 0},
    {"cmpibge", kFormatCobr, 0x03B, 4, true, true, false, Op_cmpibge, kFastGeneric, 0},
    {"cmpibl", kFormatCobr, 0x03C, 4, true, true, false, Op_cmpibl, kFastGeneric, 0},
    {"cmpibne", kFormatCobr, 0x03D, 4, true, true, false, Op_cmpibne, kFastGeneric, 0},
    {"cmpible", kFormatCobr, 0x03E, 4, true, true, false, Op_cmpible, kFastGeneric, 0},
    {"cmpibo", kFormatCobr, 0x03F, 4, true, true, false, Op_cmpibo, kFastGeneric, 0},
    {"ldob", kFormatMem, 0x080, 1, false, false, true, Op_ldob, kFastLdob, kTraitLoad},
    {"stob", kFormatMem, 0x082, 1, false, false, true, Op_stob, kFastStob, kTraitStore},
    {"bx", kFormatMem, 0x084, 4, false, false, true, Op_bx, kFastGeneric, 0},
    {"callx", kFormatMem, 0x086, 4, false, false, true, Op_callx, kFastCallx, kTraitCall},
    {"ldos", kFormatMem, 0x088, 2, false, false, true, Op_ldos, kFastLdos, kTraitLoad},
    {"stos", kFormatMem, 0x08A, 2, false, false, true, Op_stos, kFastStos, kTraitStore},
    {"lda", kFormatMem, 0x08C, 4, false, false, true, Op_lda, kFastLda, 0},
    {"ld", kFormatMem, 0x090, 4, false, false, true, Op_ld, kFastLd, kTraitLoad},
    {"st", kFormatMem, 0x092, 4, false, false, true, Op_st, kFastSt, kTraitStore},
    {"ldl", kFormatMem, 0x098, 8, false, false, true, Op_ldl, kFastLdGroup, kTraitLoad},
    {"stl", kFormatMem, 0x09A, 8, false, false, true, Op_stl, kFastStGroup, kTraitStore},
    {"ldt", kFormatMem, 0x0A0, 12, false, false, true, Op_ldt, kFastLdGroup, kTraitLoad},
    {"stt", kFormatMem, 0x0A2, 12, false, false, true, Op_stt, kFastStGroup, kTraitStore},
    {"ldq", kFormatMem, 0x0B0, 16, false, false, true, Op_ldq, kFastLdGroup, kTraitLoad},
    {"stq", kFormatMem, 0x0B2, 16, false, false, true, Op_stq, kFastStGroup, kTraitStore},
    {"ldib", kFormatMem, 0x0C0, 1, false, false, true, Op_ldib, kFastLdib, kTraitLoad},
    {"stib", kFormatMem, 0x0C2, 1, false, false, true, Op_stib, kFastStob, kTraitStore},
    {"ldis", kFormatMem, 0x0C8, 2, false, false, true, Op_ldis, kFastLdis, kTraitLoad},
    {"stis", kFormatMem, 0x0CA, 2, false, false, true, Op_stis, kFastStos, kTraitStore},
    {"notbit", kFormatReg, 0x580, 4, true, true, true, Op_notbit, kFastNotbit, 0},
    {"and", kFormatReg, 0x581, 4, true, true, true, Op_and, kFastAnd, 0},
    {"andnot", kFormatReg, 0x582, 4, true, true, true, Op_andnot, kFastAndnot, 0},
    {"setbit", kFormatReg, 0x583, 4, true, true, true, Op_setbit, kFastSetbit, 0},
    {"notand", kFormatReg, 0x584, 4, true, true, true, Op_notand, kFastNotand, 0},
    {"xor", kFormatReg, 0x586, 4, true, true, true, Op_xor, kFastXor, 0},
    {"or", kFormatReg, 0x587, 4, true, true, true, Op_or, kFastOr, 0},
    {"nor", kFormatReg, 0x588, 4, true, true, true, Op_nor, kFastNor, 0},
    {"xnor", kFormatReg, 0x589, 4, true, true, true, Op_xnor, kFastXnor, 0},
    {"not", kFormatReg, 0x58A, 4, true, false, true, Op_not, kFastNot, 0},
    {"ornot", kFormatReg, 0x58B, 4, true, true, true, Op_ornot, kFastOrnot, 0},
    {"clrbit", kFormatReg, 0x58C, 4, true, true, true, Op_clrbit, kFastClrbit, 0},
    {"notor", kFormatReg, 0x58D, 4, true, true, true, Op_notor, kFastNotor, 0},
    {"nand", kFormatReg, 0x58E, 4, true, true, true, Op_nand, kFastNand, 0},
    {"alterbit", kFormatReg, 0x58F, 4, true, true, true, Op_alterbit, kFastAlterbit, 0},
    {"addo", kFormatReg, 0x590, 4, true, true, true, Op_addo, kFastAddo, 0},
    {"addi", kFormatReg, 0x591, 4, true, true, true, Op_addi, kFastAddi, 0},
    {"subo", kFormatReg, 0x592, 4, true, true, true, Op_subo, kFastSub, 0},
    {"subi", kFormatReg, 0x593, 4, true, true, true, Op_subi, kFastSub, 0},
    {"shro", kFormatReg, 0x598, 4, true, true, true, Op_shro, kFastShro, 0},
    {"shrdi", kFormatReg, 0x59A, 4, true, true, true, Op_shrdi, kFastGeneric, 0},
    {"shri", kFormatReg, 0x59B, 4, true, true, true, Op_shri, kFastShri, 0},
    {"shlo", kFormatReg, 0x59C, 4, true, true, true, Op_shlo, kFastShlo, 0},
    {"rotate", kFormatReg, 0x59D, 4, true, true, true, Op_rotate, kFastGeneric, 0},
    {"shli", kFormatReg, 0x59E, 4, true, true, true, Op_shli, kFastShlo, 0},
    {"cmpo", kFormatReg, 0x5A0, 4, true, true, false, Op_cmpo, kFastCmpo, 0},
    {"cmpi", kFormatReg, 0x5A1, 4, true, true, false, Op_cmpi, kFastCmpi, 0},
    {"cmpinco", kFormatReg, 0x5A4, 4, true, true, true, Op_cmpinco, kFastCmpinco, 0},
    {"cmpinci", kFormatReg, 0x5A5, 4, true, true, true, Op_cmpinci, kFastGeneric, 0},
    {"cmpdeco", kFormatReg, 0x5A6, 4, true, true, true, Op_cmpdeco, kFastCmpdeco, 0},
    {"cmpdeci", kFormatReg, 0x5A7, 4, true, true, true, Op_cmpdeci, kFastGeneric, 0},
    {"chkbit", kFormatReg, 0x5AE, 4, true, true, false, Op_chkbit, kFastChkbit, 0},
    {"addc", kFormatReg, 0x5B0, 4, true, true, true, Op_addc, kFastGeneric, 0},
    {"subc", kFormatReg, 0x5B2, 4, true, true, true, Op_subc, kFastGeneric, 0},
    {"mov", kFormatReg, 0x5CC, 4, true, false, true, Op_mov, kFastMov, 0},
    {"movl", kFormatReg, 0x5DC, 8, true, false, true, Op_movl, kFastMovGroup, 0},
    {"movt", kFormatReg, 0x5EC, 12, true, false, true, Op_movt, kFastMovGroup, 0},
    {"movq", kFormatReg, 0x5FC, 16, true, false, true, Op_movq, kFastMovGroup, 0},
    {"synmov", kFormatReg, 0x600, 4, true, true, false, Op_synmov, kFastGeneric, 0},
    {"synmovl", kFormatReg, 0x601, 8, true, true, false, Op_synmovl, kFastGeneric, 0},
    {"synmovq", kFormatReg, 0x602, 16, true, true, false, Op_synmovq, kFastGeneric, 0},
    {"spanbit", kFormatReg, 0x640, 4, true, true, false, Op_spanbit, kFastGeneric, 0},
    {"scanbit", kFormatReg, 0x641, 4, true, true, false, Op_scanbit, kFastGeneric, 0},
    {"modac", kFormatReg, 0x645, 4, true, true, true, Op_modac, kFastGeneric, 0},
    {"modpc", kFormatReg, 0x655, 4, true, true, true, Op_modpc, kFastGeneric, 0},
    {"sysctl", kFormatReg, 0x659, 4, true, true, true, Op_sysctl, kFastGeneric, 0},
    {"calls", kFormatReg, 0x660, 4, true, false, false, Op_calls, kFastGeneric, kTraitCall},
    {"fmark", kFormatReg, 0x66C, 4, false, false, false, Op_fmark, kFastGeneric, 0},
    {"flushreg", kFormatReg, 0x66D, 4, false, false, false, Op_flushreg, kFastGeneric, 0},
    {"emul", kFormatReg, 0x670, 4, true, true, true, Op_emul, kFastEmul, 0},
    {"ediv", kFormatReg, 0x671, 4, true, true, true, Op_ediv, kFastGeneric, 0},
    {"cvtir", kFormatReg, 0x674, 4, true, false, true, Op_cvtir, kFastGeneric, 0},
    {"cvtilr", kFormatReg, 0x675, 8, true, false, true, Op_cvtilr, kFastGeneric, 0},
    {"cmpr", kFormatReg, 0x685, 4, true, true, false, Op_cmpr, kFastGeneric, 0},
    {"sinr", kFormatReg, 0x68C, 4, true, false, true, Op_sinr, kFastGeneric, 0},
    {"cosr", kFormatReg, 0x68D, 4, true, false, true, Op_cosr, kFastGeneric, 0},
    {"tanr", kFormatReg, 0x68E, 4, true, false, true, Op_tanr, kFastGeneric, 0},
    {"cmprl", kFormatReg, 0x695, 8, true, true, false, Op_cmprl, kFastGeneric, 0},
    {"cvtri", kFormatReg, 0x6C0, 4, true, false, true, Op_cvtri, kFastGeneric, 0},
    {"cvtril", kFormatReg, 0x6C1, 8, true, false, true, Op_cvtril, kFastGeneric, 0},
    {"cvtzri", kFormatReg, 0x6C2, 4, true, false, true, Op_cvtzri, kFastGeneric, 0},
    {"cvtzril", kFormatReg, 0x6C3, 8, true, false, true, Op_cvtzril, kFastGeneric, 0},
    {"movr", kFormatReg, 0x6C9, 4, true, false, true, Op_movr, kFastGeneric, 0},
    {"movrl", kFormatReg, 0x6D9, 8, true, false, true, Op_movrl, kFastGeneric, 0},
    {"mulo", kFormatReg, 0x701, 4, true, true, true, Op_mulo, kFastMul, 0},
    {"remo", kFormatReg, 0x708, 4, true, true, true, Op_remo, kFastRemo, 0},
    {"divo", kFormatReg, 0x70B, 4, true, true, true, Op_divo, kFastDivo, 0},
    {"muli", kFormatReg, 0x741, 4, true, true, true, Op_muli, kFastMul, 0},
    {"remi", kFormatReg, 0x748, 4, true, true, true, Op_remi, kFastRemi, 0},
    {"modi", kFormatReg, 0x749, 4, true, true, true, Op_modi, kFastGeneric, 0},
    {"divi", kFormatReg, 0x74B, 4, true, true, true, Op_divi, kFastDivi, 0},
    {"divr", kFormatReg, 0x78B, 4, true, true, true, Op_divr, kFastGeneric, 0},
    {"mulr", kFormatReg, 0x78C, 4, true, true, true, Op_mulr, kFastGeneric, 0},
    {"subr", kFormatReg, 0x78D, 4, true, true, true, Op_subr, kFastGeneric, 0},
    {"addr", kFormatReg, 0x78F, 4, true, true, true, Op_addr, kFastGeneric, 0},
    {"divrl", kFormatReg, 0x79B, 8, true, true, true, Op_divrl, kFastGeneric, 0},
    {"mulrl", kFormatReg, 0x79C, 8, true, true, true, Op_mulrl, kFastGeneric, 0},
    {"subrl", kFormatReg, 0x79D, 8, true, true, true, Op_subrl, kFastGeneric, 0},
    {"addrl", kFormatReg, 0x79F, 8, true, true, true, Op_addrl, kFastGeneric, 0},
    {"", kFormatReg, 0x000, 0, false, false, false, nullptr, kFastGeneric, 0},  // end marker
};

static_assert(sizeof kTable / sizeof kTable[0] == kInstructionCount + 2);

}  // namespace

const OpcodeEntry* OpcodeTable() { return kTable; }

int OpcodeTableSize() { return kInstructionCount + 1; }

bool BuildOpcodeIndex(uint8_t (&index)[kOpcodeIndexSize]) {
  std::memset(index, 0, sizeof index);
  bool ok = true;
  for (int i = 0; kTable[i].mnemonic[0] != '\0' || i == 0; ++i) {
    uint16_t op = kTable[i].opcode;
    if (i != 0 && index[op] != 0) ok = false;  // an opcode bound twice
    index[op] = static_cast<uint8_t>(i);
  }
  index[0] = 0;
  return ok;
}

const OpcodeEntry& EntryOfOpcode(uint32_t opcode) {
  static const auto index = [] {
    std::array<uint8_t, kOpcodeIndexSize> out{};
    uint8_t built[kOpcodeIndexSize];
    BuildOpcodeIndex(built);
    std::copy(std::begin(built), std::end(built), out.begin());
    return out;
  }();
  return kTable[index[opcode & (kOpcodeIndexSize - 1)]];
}

const OpcodeEntry* FindMnemonic(std::string_view mnemonic) {
  // The entries sorted by mnemonic, built once: the assembler looks up every statement.
  using Named = std::pair<std::string_view, const OpcodeEntry*>;
  static const std::array<Named, kInstructionCount> sorted = [] {
    std::array<Named, kInstructionCount> out;
    for (int i = 1; i <= kInstructionCount; ++i) out[i - 1] = {kTable[i].mnemonic, &kTable[i]};
    std::stable_sort(out.begin(), out.end(),
                     [](const Named& a, const Named& b) { return a.first < b.first; });
    return out;
  }();
  auto it = std::lower_bound(sorted.begin(), sorted.end(), mnemonic,
                             [](const Named& e, std::string_view m) { return e.first < m; });
  return it != sorted.end() && it->first == mnemonic ? it->second : nullptr;
}

}  // namespace korvane
