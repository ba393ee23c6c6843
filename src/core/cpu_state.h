// The state of the one emulated i960 processor: registers, service table, decoder slots, counters.
#pragma once

#include <cstdint>
#include <cstring>

namespace korvane {

// Condition code values: the i960 cc bit patterns 100, 010 and 001.
enum ConditionCode : uint32_t { kCcNone = 0, kCcGreater = 1, kCcEqual = 2, kCcLess = 4 };

// The condition code of a comparison of two words as unsigned (ordinal) or signed integers.
inline uint32_t CompareOrdinal(uint32_t a, uint32_t b) {
  return a < b ? kCcLess : (a == b ? kCcEqual : kCcGreater);
}
inline uint32_t CompareInteger(uint32_t a, uint32_t b) {
  int32_t x = static_cast<int32_t>(a), y = static_cast<int32_t>(b);
  return x < y ? kCcLess : (x == y ? kCcEqual : kCcGreater);
}

constexpr int kServiceTableSize = 255;
constexpr int kFrameBytes = 64;  // sixteen local registers
// Process controls at start: supervisor mode (bit 1), priority 31 (bits 16-20), executing.
constexpr uint32_t kInitialProcessControls = 0x001F0002;
// The condition code is the low three bits of the arithmetic controls.
constexpr uint32_t kAcCcMask = 7;

// Format classes of the opcode table.
enum FormatClass : uint8_t { kFormatMem = 0, kFormatCobr = 1, kFormatCtrl = 2, kFormatReg = 3 };

struct CpuState {
  uint32_t g[16] = {};         // g15 is the frame pointer FP
  uint32_t reserved0[2] = {};  // always 0; shown as words 32 and 33 of the register dump
  uint32_t ip = 0;             // address of the instruction being executed
  uint32_t reserved1 = 0;      // always 0
  uint32_t service_table[kServiceTableSize] = {};
  uint32_t cc = kCcNone;
  // The arithmetic-controls bits above the condition code and the process-controls word. Only
  // modac and modpc (full instruction set, -xi) read or write them; nothing else acts on them.
  uint32_t ac_other = 0;
  uint32_t process_controls = kInitialProcessControls;
  // Host location of r0 of the current frame, inside the storage of region STCK. Local
  // registers are read and written here with memcpy: guest code may leave FP unaligned.
  uint8_t* frame = nullptr;

  // Decoder slots, rewritten for every instruction.
  uint32_t instr_word = 0;
  uint32_t opcode = 0;
  uint32_t length = 0;  // bytes ip advances after the handler; 0 after a control transfer
  uint32_t opsize = 4;  // operand size byte of the table entry (4 for COBR/CTRL)
  uint32_t src1 = 0;    // contents or literal (operand size <= 4)
  uint32_t src2 = 0;
  uint8_t src1_reg = 0;  // register numbers 0-31, for operand sizes above 4 (register groups)
  uint8_t src2_reg = 0;
  bool src1_lit = false;  // the source was a literal (its value is in src1/src2)
  bool src2_lit = false;
  uint8_t dst = 0;  // destination / data register number 0-31
  uint32_t ea = 0;  // MEM effective address; COBR/CTRL sign-extended displacement

  // Run counters. The instruction count is the low 32 bits of the run's total (the loops keep
  // it in 32 bits and wrap it); RunState::executed and CurrentInstructionTotal give the whole
  // count. The statistics counters are 64-bit and never wrap in practice.
  int32_t icount = 0;
  uint64_t fast_reg = 0;    // addo/addi register-form fast path
  uint64_t fast_lit = 0;    // addo/addi literal-form fast path
  uint64_t addo_count = 0;  // addo through the normal path
  uint64_t addi_count = 0;  // addi through the normal path
};

// Register number n: 0-15 are r0-r15 of the current frame, 16-31 are g0-g15.
inline uint32_t ReadReg(const CpuState& cpu, unsigned n) {
  if (n >= 16) return cpu.g[n - 16];
  uint32_t v;
  std::memcpy(&v, cpu.frame + 4 * n, 4);
  return v;
}

inline void WriteReg(CpuState& cpu, unsigned n, uint32_t v) {
  if (n >= 16) {
    cpu.g[n - 16] = v;
  } else {
    std::memcpy(cpu.frame + 4 * n, &v, 4);
  }
}

// True when a group of `count` registers starting at n stays inside its set (r0-r15 or g0-g15).
inline bool RegGroupFits(unsigned n, unsigned count) { return (n & 15) + count <= 16; }

}  // namespace korvane
