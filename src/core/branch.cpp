// Branch, test and compare-and-branch instructions.
#include "core/emulator.h"
#include "core/handlers.h"

namespace korvane {

namespace {

// The branch condition of an opcode's low three bits: mask 000 holds while the condition code
// is 0, any other mask when it shares a bit with the condition code.
inline bool ConditionHolds(const CpuState& cpu) {
  uint32_t mask = cpu.opcode & 7;
  return mask == 0 ? cpu.cc == kCcNone : (mask & cpu.cc) != 0;
}

// A taken branch: the target must be a multiple of 4 inside the text region; otherwise
// E_GOTO is fatal and ip keeps the branch's own address.
void TakeBranch(Emulator& emu) {
  CpuState& cpu = emu.cpu;
  cpu.length = 0;
  uint32_t target = cpu.ip + cpu.ea;
  const MemRegion& text = emu.mem.regions[kRegionText];
  if ((target & 3) != 0 || !RegionHolds(text, target)) ReportFault(emu, E_GOTO, true);
  cpu.ip = target;
}

inline void BranchIf(Emulator& emu, bool taken) {
  if (taken) TakeBranch(emu);
}

inline uint32_t Compare(uint32_t a, uint32_t b) {
  return a < b ? kCcLess : (a == b ? kCcEqual : kCcGreater);
}

void CompareOrdinalAndBranch(Emulator& emu) {
  emu.cpu.cc = Compare(emu.cpu.src1, emu.cpu.src2);
  BranchIf(emu, ConditionHolds(emu.cpu));
}

void CompareIntegerAndBranch(Emulator& emu) {
  int32_t a = static_cast<int32_t>(emu.cpu.src1), b = static_cast<int32_t>(emu.cpu.src2);
  emu.cpu.cc = a < b ? kCcLess : (a == b ? kCcEqual : kCcGreater);
  BranchIf(emu, ConditionHolds(emu.cpu));
}

void Test(Emulator& emu) { WriteReg(emu.cpu, emu.cpu.dst, ConditionHolds(emu.cpu) ? 1 : 0); }

inline bool BitSet(const CpuState& cpu) { return (cpu.src2 >> (cpu.src1 & 31)) & 1; }

}  // namespace

void Op_b(Emulator& emu) { TakeBranch(emu); }
void Op_bno(Emulator& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }
void Op_bg(Emulator& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }
void Op_be(Emulator& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }
void Op_bge(Emulator& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }
void Op_bl(Emulator& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }
void Op_bne(Emulator& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }
void Op_ble(Emulator& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }
void Op_bo(Emulator& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }

void Op_testno(Emulator& emu) { Test(emu); }
void Op_testg(Emulator& emu) { Test(emu); }
void Op_teste(Emulator& emu) { Test(emu); }
void Op_testge(Emulator& emu) { Test(emu); }
void Op_testl(Emulator& emu) { Test(emu); }
void Op_testne(Emulator& emu) { Test(emu); }
void Op_testle(Emulator& emu) { Test(emu); }
void Op_testo(Emulator& emu) { Test(emu); }

void Op_bbc(Emulator& emu) { BranchIf(emu, !BitSet(emu.cpu)); }
void Op_bbs(Emulator& emu) { BranchIf(emu, BitSet(emu.cpu)); }

void Op_cmpobg(Emulator& emu) { CompareOrdinalAndBranch(emu); }
void Op_cmpobe(Emulator& emu) { CompareOrdinalAndBranch(emu); }
void Op_cmpobge(Emulator& emu) { CompareOrdinalAndBranch(emu); }
void Op_cmpobl(Emulator& emu) { CompareOrdinalAndBranch(emu); }
void Op_cmpobne(Emulator& emu) { CompareOrdinalAndBranch(emu); }
void Op_cmpoble(Emulator& emu) { CompareOrdinalAndBranch(emu); }

void Op_cmpibno(Emulator& emu) { CompareIntegerAndBranch(emu); }
void Op_cmpibg(Emulator& emu) { CompareIntegerAndBranch(emu); }
void Op_cmpibe(Emulator& emu) { CompareIntegerAndBranch(emu); }
void Op_cmpibge(Emulator& emu) { CompareIntegerAndBranch(emu); }
void Op_cmpibl(Emulator& emu) { CompareIntegerAndBranch(emu); }
void Op_cmpibne(Emulator& emu) { CompareIntegerAndBranch(emu); }
void Op_cmpible(Emulator& emu) { CompareIntegerAndBranch(emu); }
void Op_cmpibo(Emulator& emu) { CompareIntegerAndBranch(emu); }

}  // namespace korvane
