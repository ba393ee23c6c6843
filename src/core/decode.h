// Decoding of one instruction word into the CPU's operand slots and running its handler: the
// generic path of the run loop, shared by the plain loop and the stepping loop.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/processor.h"

namespace korvane {

constexpr uint32_t kS1 = 1u << 5, kS2 = 1u << 6, kM1 = 1u << 11, kM2 = 1u << 12;
constexpr uint32_t kScale[8] = {1, 2, 4, 8, 16, 1, 1, 1};  // codes 5-7 are reserved: 1

// Decoder kinds: the REG forms by their operands, then the other formats.
enum DecodeKind : uint8_t {
  kDecodeUndefined = 0,
  kDecodeRegSrc1Src2Dst,  // the common REG form with word operands
  kDecodeRegOther,        // any other operand combination or size
  kDecodeCobrTest,
  kDecodeCobrCompare,
  kDecodeCtrl,
  kDecodeMem,
};

// Derives run.decode from the opcode index and the table.
void BuildDecodeInfo(RunState& run);

// Word of the text region at guest address a; a word that runs past the region's end reads
// zeros for the missing bytes, and an address outside the region ends the run.
uint32_t FetchTextSlow(Processor& emu, uint32_t a);

// One more for a statistics counter (64-bit: a run of any length keeps its true count).
inline void CountUp(uint64_t& counter) { ++counter; }

inline uint32_t Sext(uint32_t v, int bits) {
  return static_cast<uint32_t>(static_cast<int32_t>(v << (32 - bits)) >> (32 - bits));
}

// One REG or COBR source: a literal (M bit), a register's contents, or for operand sizes above 4
// the number of the group's first register.
inline void DecodeSource(Processor& emu, uint32_t field, bool special, bool literal,
                         uint32_t& value, uint8_t& reg, bool& is_literal) {
  if (special) ReportFault(emu, E_OPERAND, true);
  reg = static_cast<uint8_t>(field);
  is_literal = literal;
  if (literal) {
    value = field;
  } else if (emu.cpu.opsize <= 4) {
    value = ReadReg(emu.cpu, field);
  }
}

inline uint32_t MemDisplacement(Processor& emu) {
  CpuState& cpu = emu.cpu;
  cpu.length = 8;
  const MemRegion& text = emu.mem.regions[kRegionText];
  const uint32_t off = cpu.ip + 4 - text.base;
  if (__builtin_expect(static_cast<uint64_t>(off) + 4 <= text.size && text.host != nullptr, 1)) {
    uint32_t w;
    std::memcpy(&w, text.host + off, 4);
    return w;
  }
  return FetchTextSlow(emu, cpu.ip + 4);
}

// True for the MEM modes whose address takes the word after the instruction.
inline bool MemModeHasDisplacement(uint32_t w) {
  const uint32_t mode = (w >> 10) & 0xF;
  return mode == 5 || mode >= 12;
}

// Effective address of the MEM word w at `ip`, with the word after it in `disp` (read only by
// the modes that have a displacement). The reserved mode 6 gives 0: callers fault on it first.
inline uint32_t MemEffectiveAddress(const CpuState& cpu, uint32_t w, uint32_t ip, uint32_t disp) {
  const uint32_t mode = (w >> 10) & 0xF;
  const uint32_t offset = w & 0xFFF;
  auto base = [&] { return ReadReg(cpu, (w >> 14) & 31); };
  auto index_scaled = [&] { return ReadReg(cpu, w & 31) * kScale[(w >> 7) & 7]; };
  switch (mode) {
    case 0:
    case 1:
    case 2:
    case 3:
      return offset;
    case 4:
      return base();
    case 5:
      return disp + ip + 8;
    case 7:
      return base() + index_scaled();
    case 8:
    case 9:
    case 10:
    case 11:
      return base() + offset;
    case 12:
      return disp;
    case 13:
      return base() + disp;
    case 14:
      return index_scaled() + disp;
    case 15:
      return base() + index_scaled() + disp;
    default:
      return 0;
  }
}

inline void DecodeMem(Processor& emu, uint8_t size, uint32_t w) {
  CpuState& cpu = emu.cpu;
  if (((w >> 10) & 0xF) == 6) ReportFault(emu, E_AMODE, true);  // mode 6 is reserved
  const uint32_t disp = MemModeHasDisplacement(w) ? MemDisplacement(emu) : 0;
  cpu.ea = MemEffectiveAddress(cpu, w, cpu.ip, disp);
  cpu.opsize = size;
  cpu.dst = static_cast<uint8_t>((w >> 19) & 31);
}

// Operands of any REG form, following the entry's operand flags.
inline void DecodeRegOther(Processor& emu, const OpcodeEntry& e, uint32_t w) {
  CpuState& cpu = emu.cpu;
  cpu.opsize = e.size;
  if (e.has_src1) DecodeSource(emu, w & 31, w & kS1, w & kM1, cpu.src1, cpu.src1_reg, cpu.src1_lit);
  if (e.has_src2)
    DecodeSource(emu, (w >> 14) & 31, w & kS2, w & kM2, cpu.src2, cpu.src2_reg, cpu.src2_lit);
  if (e.has_dst) cpu.dst = static_cast<uint8_t>((w >> 19) & 31);
}

// Decodes the operands of an instruction whose opcode is defined, then runs its handler.
inline void DecodeAndExecute(Processor& emu, const OpcodeEntry* table, const DecodeInfo& d,
                             uint32_t w) {
  CpuState& cpu = emu.cpu;
  switch (d.kind) {
    case kDecodeRegSrc1Src2Dst: {
      cpu.opsize = d.size;
      if (w & (kS1 | kS2)) ReportFault(emu, E_OPERAND, true);
      const uint32_t f1 = w & 31, f2 = (w >> 14) & 31;
      cpu.src1_reg = static_cast<uint8_t>(f1);
      cpu.src2_reg = static_cast<uint8_t>(f2);
      cpu.src1_lit = (w & kM1) != 0;
      cpu.src2_lit = (w & kM2) != 0;
      cpu.src1 = cpu.src1_lit ? f1 : ReadReg(cpu, f1);
      cpu.src2 = cpu.src2_lit ? f2 : ReadReg(cpu, f2);
      cpu.dst = static_cast<uint8_t>((w >> 19) & 31);
      break;
    }
    case kDecodeRegOther:
      DecodeRegOther(emu, table[emu.run.opcode_index[cpu.opcode]], w);
      break;
    case kDecodeCobrTest:
      cpu.opsize = 4;
      cpu.ea = Sext(w & 0x1FFC, 13);
      cpu.dst = static_cast<uint8_t>((w >> 19) & 31);
      DecodeSource(emu, (w >> 14) & 31, w & 1, false, cpu.src2, cpu.src2_reg, cpu.src2_lit);
      break;
    case kDecodeCobrCompare:
      cpu.opsize = 4;
      cpu.ea = Sext(w & 0x1FFC, 13);
      DecodeSource(emu, (w >> 19) & 31, false, w & (1u << 13), cpu.src1, cpu.src1_reg,
                   cpu.src1_lit);
      DecodeSource(emu, (w >> 14) & 31, w & 1, false, cpu.src2, cpu.src2_reg, cpu.src2_lit);
      break;
    case kDecodeCtrl:
      cpu.opsize = 4;
      cpu.ea = Sext(w & 0xFFFFFC, 24);
      break;
    case kDecodeMem:
      DecodeMem(emu, d.size, w);
      break;
    default:
      ReportFault(emu, E_OPCODE, true);
  }
  d.handler(emu);
}

// Runs the instruction word w found at cpu.ip: the two add fast paths with their counters, or
// the decoder and the opcode's handler. cpu.length is 4 on entry; MEM forms with a
// displacement set it to 8.
inline void ExecuteWord(Processor& emu, const OpcodeEntry* table, uint32_t w) {
  CpuState& cpu = emu.cpu;
  const uint32_t fast = w & 0xFF843F70;
  if (fast == 0x59000000) {
    // addo/addi with three local registers.
    uint32_t a, b;
    std::memcpy(&a, cpu.frame + 4 * (w & 15), 4);
    std::memcpy(&b, cpu.frame + 4 * ((w >> 14) & 15), 4);
    a += b;
    std::memcpy(cpu.frame + 4 * ((w >> 19) & 15), &a, 4);
    CountUp(cpu.fast_reg);
  } else if (fast == 0x59000800) {
    // addo/addi of a literal 0-15 to a local register.
    uint32_t b;
    std::memcpy(&b, cpu.frame + 4 * ((w >> 14) & 15), 4);
    b += w & 15;
    std::memcpy(cpu.frame + 4 * ((w >> 19) & 15), &b, 4);
    CountUp(cpu.fast_lit);
  } else {
    const uint32_t opcode = OpcodeOf(w);
    cpu.opcode = opcode;
    if (opcode == 0x591) CountUp(cpu.addi_count);
    if (opcode == 0x590) CountUp(cpu.addo_count);
    DecodeAndExecute(emu, table, emu.run.decode[opcode], w);
  }
}

}  // namespace korvane
