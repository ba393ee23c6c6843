// The i960 disassembler: turns instruction words back into GNU assembler syntax, reading the
// opcode table; also the operand conventions that the assembler shares with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/opcode_table.h"

namespace korvane {

// The literal field values of the floating-point constants 0.0 and 1.0 in real instructions.
constexpr uint32_t kFpLiteralZero = 16;
constexpr uint32_t kFpLiteralOne = 22;

// The GNU name of register 0-31: r0-r15 and g0-g15, with r0, r1, r2 and g15 under their
// aliases pfp, sp, rip and fp.
const char* RegisterName(int n);

// Instructions whose sources are reals (the floating-point block, opcodes 0x680-0x6FF and
// 0x780-0x7FF): their literals 16 and 22 read as 0f0.0 and 0f1.0.
bool TakesRealOperands(const OpcodeEntry& e);

// spanbit and scanbit are written "src, dst" and keep their second operand in the destination
// field (bits 19-23) with M2 set, as the GNU tool chain encodes them.
bool IsBitScan(const OpcodeEntry& e);

// How a MEM instruction lists its operands: loads "address, reg", stores "reg, address", and
// the control transfers bx and callx only "address".
enum class MemShape { kLoad, kStore, kAddressOnly };
MemShape MemOperandShape(const OpcodeEntry& e);

// CTRL instructions without a target (ret).
bool HasNoTarget(const OpcodeEntry& e);

struct DisassembledInstruction {
  uint32_t address = 0;
  uint32_t words[2] = {0, 0};
  int length = 4;              // 4 or 8 bytes
  std::string mnemonic;        // ".word" for an undefined instruction
  std::string operands;        // GNU syntax, targets as absolute hex addresses
  bool has_target = false;     // branch, call or absolute MEM address that a symbol may annotate
  uint32_t target = 0;
  const OpcodeEntry* entry = nullptr;  // null for an undefined instruction
};

// Returns "<symbol+0xoffset>" (or "") for an address; used to annotate targets.
using SymbolNamer = std::function<std::string(uint32_t)>;

// Disassembles the instruction at `address` made of `word` and, for the 8-byte MEM forms, the
// following word `next`.
DisassembledInstruction DisassembleInstruction(uint32_t address, uint32_t word, uint32_t next,
                                               const SymbolNamer& namer = nullptr);

// One line: "   10000:\t08000000         \tb\t10000 <_start>".
std::string FormatInstruction(const DisassembledInstruction& d);

// Disassembles a whole text section (little-endian bytes loaded at `base`), one line per
// instruction. A trailing part shorter than a word is shown as .byte values.
std::string DisassembleText(const uint8_t* text, size_t size, uint32_t base, const SymbolNamer& namer = nullptr);

}  // namespace korvane
