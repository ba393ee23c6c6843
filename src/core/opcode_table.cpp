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
    {"dummy0", kFormatReg, 0x000, 4, false, false, false, nullptr},
    {"b", kFormatCtrl, 0x008, 4, false, false, false, Op_b},
    {"call", kFormatCtrl, 0x009, 4, false, false, false, Op_call},
    {"ret", kFormatCtrl, 0x00A, 4, false, false, false, Op_ret},
    {"bal", kFormatCtrl, 0x00B, 4, false, false, false, Op_bal},
    {"bno", kFormatCtrl, 0x010, 4, false, false, false, Op_bno},
    {"bg", kFormatCtrl, 0x011, 4, false, false, false, Op_bg},
    {"be", kFormatCtrl, 0x012, 4, false, false, false, Op_be},
    {"bge", kFormatCtrl, 0x013, 4, false, false, false, Op_bge},
    {"bl", kFormatCtrl, 0x014, 4, false, false, false, Op_bl},
    {"bne", kFormatCtrl, 0x015, 4, false, false, false, Op_bne},
    {"ble", kFormatCtrl, 0x016, 4, false, false, false, Op_ble},
    {"bo", kFormatCtrl, 0x017, 4, false, false, false, Op_bo},
    {"testno", kFormatCobr, 0x020, 4, false, false, true, Op_testno},
    {"testg", kFormatCobr, 0x021, 4, false, false, true, Op_testg},
    {"teste", kFormatCobr, 0x022, 4, false, false, true, Op_teste},
    {"testge", kFormatCobr, 0x023, 4, false, false, true, Op_testge},
    {"testl", kFormatCobr, 0x024, 4, false, false, true, Op_testl},
    {"testne", kFormatCobr, 0x025, 4, false, false, true, Op_testne},
    {"testle", kFormatCobr, 0x026, 4, false, false, true, Op_testle},
    {"testo", kFormatCobr, 0x027, 4, false, false, true, Op_testo},
    {"bbc", kFormatCobr, 0x030, 4, true, true, false, Op_bbc},
    {"cmpobg", kFormatCobr, 0x031, 4, true, true, false, Op_cmpobg},
    {"cmpobe", kFormatCobr, 0x032, 4, true, true, false, Op_cmpobe},
    {"cmpobge", kFormatCobr, 0x033, 4, true, true, false, Op_cmpobge},
    {"cmpobl", kFormatCobr, 0x034, 4, true, true, false, Op_cmpobl},
    {"cmpobne", kFormatCobr, 0x035, 4, true, true, false, Op_cmpobne},
    {"cmpoble", kFormatCobr, 0x036, 4, true, true, false, Op_cmpoble},
    {"bbs", kFormatCobr, 0x037, 4, true, true, false, Op_bbs},
    {"cmpibno", kFormatCobr, 0x038, 4, true, true, false, Op_cmpibno},
    {"cmpibg", kFormatCobr, 0x039, 4, true, true, false, Op_cmpibg},
    {"cmpibe", kFormatCobr, 0x03A, 4, true, true, false, Op_cmpibe},
    {"cmpibge", kFormatCobr, 0x03B, 4, true, true, false, Op_cmpibge},
    {"cmpibl", kFormatCobr, 0x03C, 4, true, true, false, Op_cmpibl},
    {"cmpibne", kFormatCobr, 0x03D, 4, true, true, false, Op_cmpibne},
    {"cmpible", kFormatCobr, 0x03E, 4, true, true, false, Op_cmpible},
    {"cmpibo", kFormatCobr, 0x03F, 4, true, true, false, Op_cmpibo},
    {"ldob", kFormatMem, 0x080, 1, false, false, true, Op_ldob},
    {"stob", kFormatMem, 0x082, 1, false, false, true, Op_stob},
    {"bx", kFormatMem, 0x084, 4, false, false, true, Op_bx},
    {"callx", kFormatMem, 0x086, 4, false, false, true, Op_callx},
    {"ldos", kFormatMem, 0x088, 2, false, false, true, Op_ldos},
    {"stos", kFormatMem, 0x08A, 2, false, false, true, Op_stos},
    {"lda", kFormatMem, 0x08C, 4, false, false, true, Op_lda},
    {"ld", kFormatMem, 0x090, 4, false, false, true, Op_ld},
    {"st", kFormatMem, 0x092, 4, false, false, true, Op_st},
    {"ldl", kFormatMem, 0x098, 8, false, false, true, Op_ldl},
    {"stl", kFormatMem, 0x09A, 8, false, false, true, Op_stl},
    {"ldt", kFormatMem, 0x0A0, 12, false, false, true, Op_ldt},
    {"stt", kFormatMem, 0x0A2, 12, false, false, true, Op_stt},
    {"ldq", kFormatMem, 0x0B0, 16, false, false, true, Op_ldq},
    {"stq", kFormatMem, 0x0B2, 16, false, false, true, Op_stq},
    {"ldib", kFormatMem, 0x0C0, 1, false, false, true, Op_ldib},
    {"stib", kFormatMem, 0x0C2, 1, false, false, true, Op_stib},
    {"ldis", kFormatMem, 0x0C8, 2, false, false, true, Op_ldis},
    {"stis", kFormatMem, 0x0CA, 2, false, false, true, Op_stis},
    {"notbit", kFormatReg, 0x580, 4, true, true, true, Op_notbit},
    {"and", kFormatReg, 0x581, 4, true, true, true, Op_and},
    {"andnot", kFormatReg, 0x582, 4, true, true, true, Op_andnot},
    {"setbit", kFormatReg, 0x583, 4, true, true, true, Op_setbit},
    {"notand", kFormatReg, 0x584, 4, true, true, true, Op_notand},
    {"xor", kFormatReg, 0x586, 4, true, true, true, Op_xor},
    {"or", kFormatReg, 0x587, 4, true, true, true, Op_or},
    {"nor", kFormatReg, 0x588, 4, true, true, true, Op_nor},
    {"xnor", kFormatReg, 0x589, 4, true, true, true, Op_xnor},
    {"not", kFormatReg, 0x58A, 4, true, false, true, Op_not},
    {"ornot", kFormatReg, 0x58B, 4, true, true, true, Op_ornot},
    {"clrbit", kFormatReg, 0x58C, 4, true, true, true, Op_clrbit},
    {"notor", kFormatReg, 0x58D, 4, true, true, true, Op_notor},
    {"nand", kFormatReg, 0x58E, 4, true, true, true, Op_nand},
    {"alterbit", kFormatReg, 0x58F, 4, true, true, true, Op_alterbit},
    {"addo", kFormatReg, 0x590, 4, true, true, true, Op_addo},
    {"addi", kFormatReg, 0x591, 4, true, true, true, Op_addi},
    {"subo", kFormatReg, 0x592, 4, true, true, true, Op_subo},
    {"subi", kFormatReg, 0x593, 4, true, true, true, Op_subi},
    {"shro", kFormatReg, 0x598, 4, true, true, true, Op_shro},
    {"shrdi", kFormatReg, 0x59A, 4, true, true, true, Op_shrdi},
    {"shri", kFormatReg, 0x59B, 4, true, true, true, Op_shri},
    {"shlo", kFormatReg, 0x59C, 4, true, true, true, Op_shlo},
    {"rotate", kFormatReg, 0x59D, 4, true, true, true, Op_rotate},
    {"shli", kFormatReg, 0x59E, 4, true, true, true, Op_shli},
    {"cmpo", kFormatReg, 0x5A0, 4, true, true, false, Op_cmpo},
    {"cmpi", kFormatReg, 0x5A1, 4, true, true, false, Op_cmpi},
    {"cmpinco", kFormatReg, 0x5A4, 4, true, true, true, Op_cmpinco},
    {"cmpinci", kFormatReg, 0x5A5, 4, true, true, true, Op_cmpinci},
    {"cmpdeco", kFormatReg, 0x5A6, 4, true, true, true, Op_cmpdeco},
    {"cmpdeci", kFormatReg, 0x5A7, 4, true, true, true, Op_cmpdeci},
    {"chkbit", kFormatReg, 0x5AE, 4, true, true, false, Op_chkbit},
    {"addc", kFormatReg, 0x5B0, 4, true, true, true, Op_addc},
    {"subc", kFormatReg, 0x5B2, 4, true, true, true, Op_subc},
    {"mov", kFormatReg, 0x5CC, 4, true, false, true, Op_mov},
    {"movl", kFormatReg, 0x5DC, 8, true, false, true, Op_movl},
    {"movt", kFormatReg, 0x5EC, 12, true, false, true, Op_movt},
    {"movq", kFormatReg, 0x5FC, 16, true, false, true, Op_movq},
    {"synmov", kFormatReg, 0x600, 4, true, true, false, Op_synmov},
    {"synmovl", kFormatReg, 0x601, 8, true, true, false, Op_synmovl},
    {"synmovq", kFormatReg, 0x602, 16, true, true, false, Op_synmovq},
    {"spanbit", kFormatReg, 0x640, 4, true, true, false, Op_spanbit},
    {"scanbit", kFormatReg, 0x641, 4, true, true, false, Op_scanbit},
    {"modac", kFormatReg, 0x645, 4, true, true, true, Op_modac},
    {"modpc", kFormatReg, 0x655, 4, true, true, true, Op_modpc},
    {"sysctl", kFormatReg, 0x659, 4, true, true, true, Op_sysctl},
    {"calls", kFormatReg, 0x660, 4, true, false, false, Op_calls},
    {"fmark", kFormatReg, 0x66C, 4, false, false, false, Op_fmark},
    {"flushreg", kFormatReg, 0x66D, 4, false, false, false, Op_flushreg},
    {"emul", kFormatReg, 0x670, 4, true, true, true, Op_emul},
    {"ediv", kFormatReg, 0x671, 4, true, true, true, Op_ediv},
    {"cvtir", kFormatReg, 0x674, 4, true, false, true, Op_cvtir},
    {"cvtilr", kFormatReg, 0x675, 8, true, false, true, Op_cvtilr},
    {"cmpr", kFormatReg, 0x685, 4, true, true, false, Op_cmpr},
    {"sinr", kFormatReg, 0x68C, 4, true, false, true, Op_sinr},
    {"cosr", kFormatReg, 0x68D, 4, true, false, true, Op_cosr},
    {"tanr", kFormatReg, 0x68E, 4, true, false, true, Op_tanr},
    {"cmprl", kFormatReg, 0x695, 8, true, true, false, Op_cmprl},
    {"cvtri", kFormatReg, 0x6C0, 4, true, false, true, Op_cvtri},
    {"cvtril", kFormatReg, 0x6C1, 8, true, false, true, Op_cvtril},
    {"cvtzri", kFormatReg, 0x6C2, 4, true, false, true, Op_cvtzri},
    {"cvtzril", kFormatReg, 0x6C3, 8, true, false, true, Op_cvtzril},
    {"movr", kFormatReg, 0x6C9, 4, true, false, true, Op_movr},
    {"movrl", kFormatReg, 0x6D9, 8, true, false, true, Op_movrl},
    {"mulo", kFormatReg, 0x701, 4, true, true, true, Op_mulo},
    {"remo", kFormatReg, 0x708, 4, true, true, true, Op_remo},
    {"divo", kFormatReg, 0x70B, 4, true, true, true, Op_divo},
    {"muli", kFormatReg, 0x741, 4, true, true, true, Op_muli},
    {"remi", kFormatReg, 0x748, 4, true, true, true, Op_remi},
    {"modi", kFormatReg, 0x749, 4, true, true, true, Op_modi},
    {"divi", kFormatReg, 0x74B, 4, true, true, true, Op_divi},
    {"divr", kFormatReg, 0x78B, 4, true, true, true, Op_divr},
    {"mulr", kFormatReg, 0x78C, 4, true, true, true, Op_mulr},
    {"subr", kFormatReg, 0x78D, 4, true, true, true, Op_subr},
    {"addr", kFormatReg, 0x78F, 4, true, true, true, Op_addr},
    {"divrl", kFormatReg, 0x79B, 8, true, true, true, Op_divrl},
    {"mulrl", kFormatReg, 0x79C, 8, true, true, true, Op_mulrl},
    {"subrl", kFormatReg, 0x79D, 8, true, true, true, Op_subrl},
    {"addrl", kFormatReg, 0x79F, 8, true, true, true, Op_addrl},
    {"", kFormatReg, 0x000, 0, false, false, false, nullptr},  // end marker
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
