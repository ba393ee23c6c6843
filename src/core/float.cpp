// Floating-point instructions on reals held in the ordinary registers, the real-number
// conversions they share with the run-time services. The extended-arithmetic, transcendental
// and real-move opcodes are in extended.cpp.
#include <cmath>
#include <cstring>

#include "core/calls.h"
#include "core/processor.h"
#include "core/handlers.h"

namespace korvane {

float BitsToSingle(uint32_t bits) {
  float v;
  std::memcpy(&v, &bits, 4);
  return v;
}

uint32_t SingleToBits(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return bits;
}

double PairToDouble(uint32_t low, uint32_t high) {
  uint64_t bits = (uint64_t{high} << 32) | low;
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

void DoubleToPair(double v, uint32_t* low, uint32_t* high) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  *low = static_cast<uint32_t>(bits);
  *high = static_cast<uint32_t>(bits >> 32);
}

int32_t RealToInt32(double rounded) {
  constexpr double kTwo63 = 9223372036854775808.0;
  // Converting these to a 64-bit integer has no defined result on the host; they give 0.
  if (std::isnan(rounded) || std::fabs(rounded) >= kTwo63) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(rounded))));
}

double RoundHalfAway(double v) {
  // The fraction v - trunc(v) is exact, so this matches trunc(v +/- 0.5) computed without
  // the rounding error that the addition itself would add (0.49999997 stays below one half).
  double whole = std::trunc(v);
  double fraction = v - whole;
  if (fraction >= 0.5) return whole + 1.0;
  if (fraction <= -0.5) return whole - 1.0;
  return whole;
}

namespace {

// Long-real operands name the first register of a pair. A literal there has no pair to name,
// and a pair running past r15 or g15 would reach a register of the other set: both end the
// run as an operand fault.
bool PairOperandOk(Processor& emu, unsigned reg, bool literal) {
  if (literal || !RegGroupFits(reg, 2)) {
    ReportFault(emu, E_OPERAND, true);
    return false;
  }
  return true;
}

bool ReadPair(Processor& emu, unsigned reg, bool literal, double* out) {
  if (!PairOperandOk(emu, reg, literal)) return false;
  *out = PairToDouble(ReadReg(emu.cpu, reg), ReadReg(emu.cpu, reg + 1));
  return true;
}

void WritePair(Processor& emu, unsigned reg, double v) {
  if (!PairOperandOk(emu, reg, false)) return;
  uint32_t low, high;
  DoubleToPair(v, &low, &high);
  WriteReg(emu.cpu, reg, low);
  WriteReg(emu.cpu, reg + 1, high);
}

float Src1Single(const Processor& emu) { return BitsToSingle(emu.cpu.src1); }
float Src2Single(const Processor& emu) { return BitsToSingle(emu.cpu.src2); }
void WriteSingle(Processor& emu, float v) { WriteReg(emu.cpu, emu.cpu.dst, SingleToBits(v)); }
void WriteInt(Processor& emu, int32_t v) {
  WriteReg(emu.cpu, emu.cpu.dst, static_cast<uint32_t>(v));
}

// Both pairs of a two-operand long-real instruction: src1 and src2.
bool ReadSources(Processor& emu, double* s1, double* s2) {
  const CpuState& cpu = emu.cpu;
  return ReadPair(emu, cpu.src1_reg, cpu.src1_lit, s1) &&
         ReadPair(emu, cpu.src2_reg, cpu.src2_lit, s2);
}

template <typename T>
void SetCompare(CpuState& cpu, T src1, T src2) {
  // Unordered operands read as less; +0.0 and -0.0 are equal.
  if (src1 < src2 || std::isnan(src1) || std::isnan(src2)) {
    cpu.cc = kCcLess;
  } else {
    cpu.cc = src1 == src2 ? kCcEqual : kCcGreater;
  }
}

}  // namespace

// Single arithmetic: dst = src2 op src1, rounded once to single.
void Op_addr(Processor& emu) { WriteSingle(emu, Src2Single(emu) + Src1Single(emu)); }
void Op_subr(Processor& emu) { WriteSingle(emu, Src2Single(emu) - Src1Single(emu)); }
void Op_mulr(Processor& emu) { WriteSingle(emu, Src2Single(emu) * Src1Single(emu)); }
void Op_divr(Processor& emu) { WriteSingle(emu, Src2Single(emu) / Src1Single(emu)); }

// Long-real arithmetic on register pairs: dst pair = src2 op src1.
void Op_addrl(Processor& emu) {
  double s1, s2;
  if (ReadSources(emu, &s1, &s2)) WritePair(emu, emu.cpu.dst, s2 + s1);
}
void Op_subrl(Processor& emu) {
  double s1, s2;
  if (ReadSources(emu, &s1, &s2)) WritePair(emu, emu.cpu.dst, s2 - s1);
}
void Op_mulrl(Processor& emu) {
  double s1, s2;
  if (ReadSources(emu, &s1, &s2)) WritePair(emu, emu.cpu.dst, s2 * s1);
}
void Op_divrl(Processor& emu) {
  double s1, s2;
  if (ReadSources(emu, &s1, &s2)) WritePair(emu, emu.cpu.dst, s2 / s1);
}

void Op_cmpr(Processor& emu) { SetCompare(emu.cpu, Src1Single(emu), Src2Single(emu)); }
void Op_cmprl(Processor& emu) {
  double s1, s2;
  if (ReadSources(emu, &s1, &s2)) SetCompare(emu.cpu, s1, s2);
}

void Op_cvtir(Processor& emu) {
  WriteSingle(emu, static_cast<float>(static_cast<int32_t>(emu.cpu.src1)));
}

// The source is the 64-bit signed integer in the named pair, low word first.
void Op_cvtilr(Processor& emu) {
  const CpuState& cpu = emu.cpu;
  if (!PairOperandOk(emu, cpu.src1_reg, cpu.src1_lit)) return;
  uint64_t bits = (uint64_t{ReadReg(cpu, cpu.src1_reg + 1u)} << 32) | ReadReg(cpu, cpu.src1_reg);
  WritePair(emu, cpu.dst, static_cast<double>(static_cast<int64_t>(bits)));
}

void Op_cvtri(Processor& emu) {
  WriteInt(emu, RealToInt32(RoundHalfAway(double{Src1Single(emu)})));
}
void Op_cvtzri(Processor& emu) {
  WriteInt(emu, RealToInt32(std::trunc(double{Src1Single(emu)})));
}
void Op_cvtril(Processor& emu) {
  double v;
  if (ReadPair(emu, emu.cpu.src1_reg, emu.cpu.src1_lit, &v)) WriteInt(emu, RealToInt32(std::trunc(v)));
}
void Op_cvtzril(Processor& emu) {
  double v;
  if (ReadPair(emu, emu.cpu.src1_reg, emu.cpu.src1_lit, &v)) WriteInt(emu, RealToInt32(std::floor(v)));
}

}  // namespace korvane
