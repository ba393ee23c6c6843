// Integer, logical, bit and move instructions.
#include "core/processor.h"
#include "core/handlers.h"

namespace korvane {

namespace {

inline void SetDst(Processor& emu, uint32_t v) { WriteReg(emu.cpu, emu.cpu.dst, v); }
inline uint32_t Bit(uint32_t src1) { return 1u << (src1 & 31); }

// Division by zero: a non-fatal E_DIV0, then 0 in the destination. Returns true when it applied.
bool DivideByZero(Processor& emu) {
  if (emu.cpu.src1 != 0) return false;
  ReportFault(emu, E_DIV0, false);
  SetDst(emu, 0);
  return true;
}

// The one signed quotient the host cannot compute: -2147483648 / -1 wraps to itself.
inline bool Overflows(uint32_t dividend, uint32_t divisor) {
  return dividend == 0x80000000u && divisor == 0xFFFFFFFFu;
}

// movl/movt/movq: copies `count` registers upwards, one word at a time, so overlapping groups
// behave as a forward copy. A literal source gives the literal, then zeros. A group that would
// run past r15 or g15 is refused.
void MoveGroup(Processor& emu, unsigned count) {
  CpuState& cpu = emu.cpu;
  if (!RegGroupFits(cpu.dst, count) || (!cpu.src1_lit && !RegGroupFits(cpu.src1_reg, count)))
    ReportFault(emu, E_OPERAND, true);
  for (unsigned k = 0; k < count; ++k) {
    uint32_t v = cpu.src1_lit ? (k == 0 ? cpu.src1 : 0) : ReadReg(cpu, cpu.src1_reg + k);
    WriteReg(cpu, cpu.dst + k, v);
  }
}

}  // namespace

// Logical operations.
void Op_and(Processor& emu) { SetDst(emu, emu.cpu.src2 & emu.cpu.src1); }
void Op_andnot(Processor& emu) { SetDst(emu, emu.cpu.src2 & ~emu.cpu.src1); }
void Op_notand(Processor& emu) { SetDst(emu, ~emu.cpu.src2 & emu.cpu.src1); }
void Op_xor(Processor& emu) { SetDst(emu, emu.cpu.src2 ^ emu.cpu.src1); }
void Op_or(Processor& emu) { SetDst(emu, emu.cpu.src2 | emu.cpu.src1); }
void Op_nor(Processor& emu) { SetDst(emu, ~(emu.cpu.src2 | emu.cpu.src1)); }
void Op_xnor(Processor& emu) { SetDst(emu, ~emu.cpu.src2 ^ emu.cpu.src1); }
void Op_not(Processor& emu) { SetDst(emu, ~emu.cpu.src1); }
void Op_ornot(Processor& emu) { SetDst(emu, emu.cpu.src2 | ~emu.cpu.src1); }
void Op_notor(Processor& emu) { SetDst(emu, ~emu.cpu.src2 | emu.cpu.src1); }
void Op_nand(Processor& emu) { SetDst(emu, ~(emu.cpu.src2 & emu.cpu.src1)); }

// Bit operations: the bit number is src1 modulo 32, the word is src2.
void Op_notbit(Processor& emu) { SetDst(emu, emu.cpu.src2 ^ Bit(emu.cpu.src1)); }
void Op_setbit(Processor& emu) { SetDst(emu, emu.cpu.src2 | Bit(emu.cpu.src1)); }
void Op_clrbit(Processor& emu) { SetDst(emu, emu.cpu.src2 & ~Bit(emu.cpu.src1)); }
void Op_alterbit(Processor& emu) {
  if (emu.cpu.cc & kCcEqual)
    Op_setbit(emu);
  else
    Op_clrbit(emu);
}
void Op_chkbit(Processor& emu) {
  emu.cpu.cc = (emu.cpu.src2 & Bit(emu.cpu.src1)) ? kCcEqual : kCcNone;
}

// Addition, subtraction, multiplication: modulo 2^32, no flags.
void Op_addo(Processor& emu) { SetDst(emu, emu.cpu.src2 + emu.cpu.src1); }
void Op_addi(Processor& emu) { SetDst(emu, emu.cpu.src2 + emu.cpu.src1); }
void Op_subo(Processor& emu) { SetDst(emu, emu.cpu.src2 - emu.cpu.src1); }
void Op_subi(Processor& emu) { SetDst(emu, emu.cpu.src2 - emu.cpu.src1); }
void Op_mulo(Processor& emu) { SetDst(emu, emu.cpu.src2 * emu.cpu.src1); }
void Op_muli(Processor& emu) { SetDst(emu, emu.cpu.src2 * emu.cpu.src1); }

// Division and remainder: dividend src2, divisor src1. A zero divisor always takes the
// E_DIV0 path, so no host trap is possible.
void Op_divo(Processor& emu) {
  if (!DivideByZero(emu)) SetDst(emu, emu.cpu.src2 / emu.cpu.src1);
}
void Op_remo(Processor& emu) {
  if (!DivideByZero(emu)) SetDst(emu, emu.cpu.src2 % emu.cpu.src1);
}
void Op_divi(Processor& emu) {
  if (DivideByZero(emu)) return;
  uint32_t a = emu.cpu.src2, b = emu.cpu.src1;
  if (Overflows(a, b)) return SetDst(emu, a);
  SetDst(emu, static_cast<uint32_t>(static_cast<int32_t>(a) / static_cast<int32_t>(b)));
}
void Op_remi(Processor& emu) {
  if (DivideByZero(emu)) return;
  uint32_t a = emu.cpu.src2, b = emu.cpu.src1;
  if (Overflows(a, b)) return SetDst(emu, 0);
  SetDst(emu, static_cast<uint32_t>(static_cast<int32_t>(a) % static_cast<int32_t>(b)));
}
void Op_modi(Processor& emu) {
  if (DivideByZero(emu)) return;
  uint32_t a = emu.cpu.src2, b = emu.cpu.src1;
  if (Overflows(a, b)) return SetDst(emu, 0);
  int32_t d = static_cast<int32_t>(b);
  int32_t r = static_cast<int32_t>(a) % d;
  if (r != 0 && ((r < 0) != (d < 0))) r += d;
  SetDst(emu, static_cast<uint32_t>(r));
}

// Shifts: the count is src1 modulo 32.
void Op_shro(Processor& emu) { SetDst(emu, emu.cpu.src2 >> (emu.cpu.src1 & 31)); }
void Op_shri(Processor& emu) {
  SetDst(emu, static_cast<uint32_t>(static_cast<int32_t>(emu.cpu.src2) >> (emu.cpu.src1 & 31)));
}
void Op_shlo(Processor& emu) { SetDst(emu, emu.cpu.src2 << (emu.cpu.src1 & 31)); }
void Op_shli(Processor& emu) { SetDst(emu, emu.cpu.src2 << (emu.cpu.src1 & 31)); }

// Comparisons: src1 against src2; the increment/decrement forms write src2 +/- 1 after the
// condition code is taken from the old values.
void Op_cmpo(Processor& emu) { emu.cpu.cc = CompareOrdinal(emu.cpu.src1, emu.cpu.src2); }
void Op_cmpi(Processor& emu) { emu.cpu.cc = CompareInteger(emu.cpu.src1, emu.cpu.src2); }
void Op_cmpinco(Processor& emu) {
  emu.cpu.cc = CompareOrdinal(emu.cpu.src1, emu.cpu.src2);
  SetDst(emu, emu.cpu.src2 + 1);
}
void Op_cmpinci(Processor& emu) {
  emu.cpu.cc = CompareInteger(emu.cpu.src1, emu.cpu.src2);
  SetDst(emu, emu.cpu.src2 + 1);
}
void Op_cmpdeco(Processor& emu) {
  emu.cpu.cc = CompareOrdinal(emu.cpu.src1, emu.cpu.src2);
  SetDst(emu, emu.cpu.src2 - 1);
}
void Op_cmpdeci(Processor& emu) {
  emu.cpu.cc = CompareInteger(emu.cpu.src1, emu.cpu.src2);
  SetDst(emu, emu.cpu.src2 - 1);
}

// Moves.
void Op_mov(Processor& emu) { SetDst(emu, emu.cpu.src1); }
void Op_movl(Processor& emu) { MoveGroup(emu, 2); }
void Op_movt(Processor& emu) { MoveGroup(emu, 3); }
void Op_movq(Processor& emu) { MoveGroup(emu, 4); }

// Rejected instructions (shrdi, rotate, addc, subc, spanbit and scanbit run with the option -xi:
// extended.cpp).
void Op_synmov(Processor& emu) { ReportFault(emu, E_INSTR, false); }
void Op_synmovl(Processor& emu) { ReportFault(emu, E_INSTR, false); }
void Op_synmovq(Processor& emu) { ReportFault(emu, E_INSTR, false); }

}  // namespace korvane
