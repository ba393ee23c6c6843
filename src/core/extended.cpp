// The rest of the i960 instruction set, run only with the option -xi: multi-word and extended
// arithmetic, rotate and bit scans, bal, the arithmetic and process controls, flushreg, fmark,
// real moves and the transcendental functions. Without the option each of them ends the run
// with E_INSTR and a log line that names the option.
#include <bit>
#include <cmath>
#include <cstdio>

#include "core/calls.h"
#include "core/processor.h"
#include "core/handlers.h"

namespace korvane {

namespace {

constexpr uint32_t kCarryBit = 2;       // condition-code bit 1: carry in and out of addc/subc
constexpr uint32_t kOverflowBit = 1;    // condition-code bit 0: signed overflow of addc/subc
constexpr unsigned kLinkRegister = 30;  // g14 receives the return address of bal

// True when the option lets the current instruction run. Otherwise the instruction is refused
// as a fatal E_INSTR whose report names the way out.
bool FullSetAllows(Processor& emu) {
  if (emu.opt.xi) return true;
  const OpcodeEntry& e = OpcodeTable()[emu.run.opcode_index[emu.cpu.opcode & 0x7FF]];
  char note[96];
  std::snprintf(note, sizeof note, "%s needs the option -xi (execute the full instruction set)",
                e.mnemonic);
  ReportFault(emu, E_INSTR, true, note);
  return false;
}

inline void SetDst(Processor& emu, uint32_t v) { WriteReg(emu.cpu, emu.cpu.dst, v); }

// emul and ediv name register pairs that must start at an even register (which also keeps them
// inside r0-r15 or g0-g15); any other pair is an operand fault.
bool AlignedPair(Processor& emu, unsigned reg) {
  if ((reg & 1) == 0) return true;
  ReportFault(emu, E_OPERAND, true);
  return false;
}

void WritePairWords(Processor& emu, unsigned reg, uint32_t low, uint32_t high) {
  WriteReg(emu.cpu, reg, low);
  WriteReg(emu.cpu, reg + 1, high);
}

// addc and subc: src2 + addend + carry in, with the carry out in condition-code bit 1 and the
// signed overflow in bit 0 (bit 2 is cleared). subc passes NOT src1 as the addend, so a carry
// means "no borrow" as on the i960.
void AddWithCarry(Processor& emu, uint32_t addend) {
  CpuState& cpu = emu.cpu;
  const uint32_t a = cpu.src2;
  const uint64_t sum = uint64_t{a} + addend + ((cpu.cc & kCarryBit) ? 1 : 0);
  const uint32_t r = static_cast<uint32_t>(sum);
  const bool carry = (sum >> 32) != 0;
  const bool overflow = ((~(a ^ addend) & (a ^ r)) >> 31) != 0;
  cpu.cc = (carry ? kCarryBit : 0) | (overflow ? kOverflowBit : 0);
  SetDst(emu, r);
}

// scanbit and spanbit write the number of the most significant set bit of `v`, or all ones
// when there is none, into the destination field (bits 19-23). The condition code says
// whether a bit was found.
void ScanForSetBit(Processor& emu, uint32_t v) {
  CpuState& cpu = emu.cpu;
  const unsigned dst = (cpu.instr_word >> 19) & 31;
  if (v == 0) {
    WriteReg(cpu, dst, 0xFFFFFFFFu);
    cpu.cc = kCcNone;
  } else {
    WriteReg(cpu, dst, 31u - static_cast<uint32_t>(std::countl_zero(v)));
    cpu.cc = kCcEqual;
  }
}

// The single-precision value of src1; a literal is the raw bit pattern, as for addr.
float Src1Single(const Processor& emu) { return BitsToSingle(emu.cpu.src1); }
void WriteSingle(Processor& emu, float v) { SetDst(emu, SingleToBits(v)); }

// The transcendental functions are computed in double precision and rounded once to single.
template <double (*F)(double)>
void Transcendental(Processor& emu) {
  if (FullSetAllows(emu)) WriteSingle(emu, static_cast<float>(F(double{Src1Single(emu)})));
}

double Sin(double x) { return std::sin(x); }
double Cos(double x) { return std::cos(x); }
double Tan(double x) { return std::tan(x); }

}  // namespace

// addc, subc: multi-word arithmetic through the carry bit.
void Op_addc(Processor& emu) {
  if (FullSetAllows(emu)) AddWithCarry(emu, emu.cpu.src1);
}
void Op_subc(Processor& emu) {
  if (FullSetAllows(emu)) AddWithCarry(emu, ~emu.cpu.src1);
}

// rotate: src2 rotated left by src1 modulo 32.
void Op_rotate(Processor& emu) {
  if (FullSetAllows(emu)) SetDst(emu, std::rotl(emu.cpu.src2, static_cast<int>(emu.cpu.src1 & 31)));
}

// shrdi: src2 divided by 2 to the power src1 (modulo 32, like the other shifts), rounded
// toward zero: a negative value whose shifted-out bits are not all zero goes up by one.
void Op_shrdi(Processor& emu) {
  if (!FullSetAllows(emu)) return;
  const uint32_t n = emu.cpu.src1 & 31;
  const int32_t v = static_cast<int32_t>(emu.cpu.src2);
  int32_t q = v >> n;
  if (v < 0 && (static_cast<uint32_t>(v) & ((1u << n) - 1)) != 0) ++q;
  SetDst(emu, static_cast<uint32_t>(q));
}

void Op_scanbit(Processor& emu) {
  if (FullSetAllows(emu)) ScanForSetBit(emu, emu.cpu.src1);
}
void Op_spanbit(Processor& emu) {
  if (FullSetAllows(emu)) ScanForSetBit(emu, ~emu.cpu.src1);  // most significant clear bit
}

// emul: the unsigned 64-bit product of src1 and src2 into an aligned pair, low word first.
void Op_emul(Processor& emu) {
  CpuState& cpu = emu.cpu;
  if (!FullSetAllows(emu) || !AlignedPair(emu, cpu.dst)) return;
  const uint64_t p = uint64_t{cpu.src1} * cpu.src2;
  WritePairWords(emu, cpu.dst, static_cast<uint32_t>(p), static_cast<uint32_t>(p >> 32));
}

// ediv: the 64-bit dividend in the aligned src2 pair (a literal is zero-extended) divided by the
// 32-bit src1; the destination pair receives the remainder, then the quotient. A quotient of
// more than 32 bits keeps its low 32 bits (the remainder is exact). A zero divisor reports
// E_DIV0, non-fatal as for divo, and clears the pair.
void Op_ediv(Processor& emu) {
  CpuState& cpu = emu.cpu;
  if (!FullSetAllows(emu) || !AlignedPair(emu, cpu.dst)) return;
  if (!cpu.src2_lit && !AlignedPair(emu, cpu.src2_reg)) return;
  const uint64_t dividend =
      cpu.src2_lit ? cpu.src2
                   : (uint64_t{ReadReg(cpu, cpu.src2_reg + 1u)} << 32) | ReadReg(cpu, cpu.src2_reg);
  const uint32_t divisor = cpu.src1;
  if (divisor == 0) {
    ReportFault(emu, E_DIV0, false);
    WritePairWords(emu, cpu.dst, 0, 0);
    return;
  }
  WritePairWords(emu, cpu.dst, static_cast<uint32_t>(dividend % divisor),
                 static_cast<uint32_t>(dividend / divisor));
}

// bal: g14 = the address after the instruction, then a branch relative to bal itself. No frame
// is built; the callee returns with bx (g14).
void Op_bal(Processor& emu) {
  CpuState& cpu = emu.cpu;
  if (!FullSetAllows(emu)) return;
  const uint32_t target = cpu.ip + cpu.ea;
  cpu.length = 0;
  if (!IsValidTarget(emu, target)) {
    ReportFault(emu, E_GOTO, true);
    return;
  }
  WriteReg(cpu, kLinkRegister, cpu.ip + 4);
  cpu.ip = target;
}

// flushreg: the local registers always live in the stack frame, so there is nothing to write
// back. fmark: a software breakpoint; without a debugger to stop in, it does nothing.
void Op_flushreg(Processor& emu) { FullSetAllows(emu); }
void Op_fmark(Processor& emu) { FullSetAllows(emu); }

// modac mask, src, dst: the arithmetic controls (the condition code in bits 0-2 and the other
// bits kept beside it) take src in the bits set in mask; dst receives the value from before.
void Op_modac(Processor& emu) {
  CpuState& cpu = emu.cpu;
  if (!FullSetAllows(emu)) return;
  const uint32_t old = (cpu.ac_other & ~kAcCcMask) | (cpu.cc & kAcCcMask);
  const uint32_t mask = cpu.src1;
  const uint32_t now = (cpu.src2 & mask) | (old & ~mask);
  cpu.cc = now & kAcCcMask;
  cpu.ac_other = now & ~kAcCcMask;
  SetDst(emu, old);
}

// modpc src, mask, src/dst: the process-controls word takes the destination register's value in
// the bits set in mask (src is not used); the register receives the word from before. The word
// is only stored: the emulator always runs in supervisor mode, without priorities or tracing.
void Op_modpc(Processor& emu) {
  CpuState& cpu = emu.cpu;
  if (!FullSetAllows(emu)) return;
  const uint32_t old = cpu.process_controls;
  const uint32_t mask = cpu.src2;
  cpu.process_controls = (ReadReg(cpu, cpu.dst) & mask) | (old & ~mask);
  SetDst(emu, old);
}

// movr: a single copied bit for bit. movrl: a long-real pair copied word by word; a literal or a
// pair running past r15 or g15 is an operand fault, as for the other long-real instructions.
void Op_movr(Processor& emu) {
  if (FullSetAllows(emu)) SetDst(emu, emu.cpu.src1);
}
void Op_movrl(Processor& emu) {
  CpuState& cpu = emu.cpu;
  if (!FullSetAllows(emu)) return;
  if (cpu.src1_lit || !RegGroupFits(cpu.src1_reg, 2) || !RegGroupFits(cpu.dst, 2)) {
    ReportFault(emu, E_OPERAND, true);
    return;
  }
  const uint32_t low = ReadReg(cpu, cpu.src1_reg), high = ReadReg(cpu, cpu.src1_reg + 1u);
  WritePairWords(emu, cpu.dst, low, high);
}

void Op_sinr(Processor& emu) { Transcendental<Sin>(emu); }
void Op_cosr(Processor& emu) { Transcendental<Cos>(emu); }
void Op_tanr(Processor& emu) { Transcendental<Tan>(emu); }

}  // namespace korvane
