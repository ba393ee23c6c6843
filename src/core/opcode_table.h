// The opcode table: the single source of mnemonics, formats, opcodes and handlers for the
// decoder, the assembler and the disassembler.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/cpu_state.h"
#include "core/decoded.h"

namespace korvane {

struct Processor;
using InstructionHandler = void (*)(Processor&);

// What an instruction does besides computing registers, for the tools that look at words
// without running them: the watchpoint check and the call detection of the debugger.
enum OpcodeTraits : uint8_t {
  kTraitLoad = 1,   // reads `size` bytes at its effective address
  kTraitStore = 2,  // writes `size` bytes at its effective address
  kTraitCall = 4,   // call, callx, calls: the next instruction runs when it returns
};

struct OpcodeEntry {
  const char* mnemonic;  // empty for the end marker
  FormatClass format;
  uint16_t opcode;  // 8-bit (MEM, COBR, CTRL) or 12-bit (REG)
  uint8_t size;     // operand size in bytes: 1, 2, 4, 8, 12 or 16
  bool has_src1;    // the three flags are read only for REG instructions
  bool has_src2;
  bool has_dst;
  InstructionHandler handler;
  // The fast core's handler for the word (decoded.h): the plain form of a REG or MEM
  // instruction, which the decoder refines by operands and addressing mode; kFastGeneric for
  // the forms that run on the generic path. COBR and CTRL forms are decoded by format.
  uint8_t fast;
  uint8_t traits;  // OpcodeTraits
};

constexpr int kOpcodeIndexSize = 2048;
constexpr int kInstructionCount = 134;

// Entry 0 is "dummy0"; entries 1..134 are the instructions; entry 135 is the end marker.
const OpcodeEntry* OpcodeTable();
int OpcodeTableSize();  // number of entries before the end marker (135)

// Builds the 2048-entry opcode index (opcode -> entry number, 0 for unlisted opcodes).
// Returns false if the table lists an opcode twice.
bool BuildOpcodeIndex(uint8_t (&index)[kOpcodeIndexSize]);

// The entry of an opcode (OpcodeOf), entry 0 for an unlisted one.
const OpcodeEntry& EntryOfOpcode(uint32_t opcode);

// The entry with this mnemonic, or null.
const OpcodeEntry* FindMnemonic(std::string_view mnemonic);

// The opcode of an instruction word: the REG 12-bit opcode for major opcodes 0x50-0x7F,
// otherwise the 8-bit major opcode.
inline uint32_t OpcodeOf(uint32_t w) {
  uint32_t major = w >> 24;
  uint32_t x = major * 16 + ((w >> 7) & 0xF);
  return (x >= 0x500 && x < 0x800) ? x : major;
}

}  // namespace korvane
