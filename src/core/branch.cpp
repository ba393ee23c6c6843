// Branch, test and compare-and-branch instructions.
#include "core/processor.h"
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
void TakeBranch(Processor& emu) {
  CpuState& cpu = emu.cpu;
  cpu.length = 0;
  uint32_t target = cpu.ip + cpu.ea;
  if (!IsCodeTarget(emu.mem, target)) ReportFault(emu, E_GOTO, true);
  cpu.ip = target;
}

inline void BranchIf(Processor& emu, bool taken) {
  if (taken) TakeBranch(emu);
}

void CompareOrdinalAndBranch(Processor& emu) {
  emu.cpu.cc = CompareOrdinal(emu.cpu.src1, emu.cpu.src2);
  BranchIf(emu, ConditionHolds(emu.cpu));
}

void CompareIntegerAndBranch(Processor& emu) {
  emu.cpu.cc = CompareInteger(emu.cpu.src1, emu.cpu.src2);
  BranchIf(emu, ConditionHolds(emu.cpu));
}

void Test(Processor& emu) { WriteReg(emu.cpu, emu.cpu.dst, ConditionHolds(emu.cpu) ? 1 : 0); }

inline bool BitSet(const CpuState& cpu) { return (cpu.src2 >> (cpu.src1 & 31)) & 1; }

}  // namespace

void Op_b(Processor& emu) { TakeBranch(emu); }
void Op_bno(Processor& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }
void Op_bg(Processor& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }
void Op_be(Processor& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }
void Op_bge(Processor& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }
void Op_bl(Processor& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }
void Op_bne(Processor& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }
void Op_ble(Processor& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }
void Op_bo(Processor& emu) { BranchIf(emu, ConditionHolds(emu.cpu)); }

void Op_testno(Processor& emu) { Test(emu); }
void Op_testg(Processor& emu) { Test(emu); }
void Op_teste(Processor& emu) { Test(emu); }
void Op_testge(Processor& emu) { Test(emu); }
void Op_testl(Processor& emu) { Test(emu); }
void Op_testne(Processor& emu) { Test(emu); }
void Op_testle(Processor& emu) { Test(emu); }
void Op_testo(Processor& emu) { Test(emu); }

void Op_bbc(Processor& emu) { BranchIf(emu, !BitSet(emu.cpu)); }
void Op_bbs(Processor& emu) { BranchIf(emu, BitSet(emu.cpu)); }

void Op_cmpobg(Processor& emu) { CompareOrdinalAndBranch(emu); }
void Op_cmpobe(Processor& emu) { CompareOrdinalAndBranch(emu); }
void Op_cmpobge(Processor& emu) { CompareOrdinalAndBranch(emu); }
void Op_cmpobl(Processor& emu) { CompareOrdinalAndBranch(emu); }
void Op_cmpobne(Processor& emu) { CompareOrdinalAndBranch(emu); }
void Op_cmpoble(Processor& emu) { CompareOrdinalAndBranch(emu); }

void Op_cmpibno(Processor& emu) { CompareIntegerAndBranch(emu); }
void Op_cmpibg(Processor& emu) { CompareIntegerAndBranch(emu); }
void Op_cmpibe(Processor& emu) { CompareIntegerAndBranch(emu); }
void Op_cmpibge(Processor& emu) { CompareIntegerAndBranch(emu); }
void Op_cmpibl(Processor& emu) { CompareIntegerAndBranch(emu); }
void Op_cmpibne(Processor& emu) { CompareIntegerAndBranch(emu); }
void Op_cmpible(Processor& emu) { CompareIntegerAndBranch(emu); }
void Op_cmpibo(Processor& emu) { CompareIntegerAndBranch(emu); }

}  // namespace korvane
