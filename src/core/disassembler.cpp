// The i960 disassembler: instruction words back to GNU assembler syntax, from the opcode table.
#include "core/disassembler.h"

#include <array>
#include <cstdio>
#include <string_view>

namespace korvane {

namespace {

constexpr uint32_t kM1 = 1u << 11, kM2 = 1u << 12;
constexpr uint32_t kCobrM1 = 1u << 13;

// Opcode -> table entry, built once from the opcode table (a constant lookup table).
const std::array<const OpcodeEntry*, kOpcodeIndexSize>& EntryIndex() {
  static const std::array<const OpcodeEntry*, kOpcodeIndexSize> index = [] {
    std::array<const OpcodeEntry*, kOpcodeIndexSize> a{};
    const OpcodeEntry* t = OpcodeTable();
    for (int i = 1; i < OpcodeTableSize(); ++i) a[t[i].opcode] = &t[i];
    return a;
  }();
  return index;
}

std::string Hex(uint32_t v, bool prefix) {
  char buf[16];
  std::snprintf(buf, sizeof buf, prefix ? "0x%x" : "%x", v);
  return buf;
}

std::string Target(uint32_t addr, const SymbolNamer& namer) {
  std::string s = Hex(addr, false);
  if (namer) {
    std::string n = namer(addr);
    if (!n.empty()) s += " " + n;
  }
  return s;
}

// A REG or COBR source field: register, special-function register or literal.
std::string Source(uint32_t field, bool literal, bool special, bool real) {
  if (literal) {
    if (real && field == kFpLiteralZero) return "0f0.0";
    if (real && field == kFpLiteralOne) return "0f1.0";
    return std::to_string(field);
  }
  if (special) return "sf" + std::to_string(field);
  return RegisterName(static_cast<int>(field));
}

}  // namespace

const char* RegisterName(int n) {
  static constexpr const char* kNames[32] = {
      "pfp", "sp",  "rip", "r3",  "r4",  "r5",  "r6",  "r7",  "r8",  "r9",  "r10",
      "r11", "r12", "r13", "r14", "r15", "g0",  "g1",  "g2",  "g3",  "g4",  "g5",
      "g6",  "g7",  "g8",  "g9",  "g10", "g11", "g12", "g13", "g14", "fp"};
  return n >= 0 && n < 32 ? kNames[n] : "?";
}

bool TakesRealOperands(const OpcodeEntry& e) {
  return e.format == kFormatReg && ((e.opcode >= 0x680 && e.opcode <= 0x6FF) || (e.opcode >= 0x780 && e.opcode <= 0x7FF));
}

bool IsBitScan(const OpcodeEntry& e) {
  std::string_view m = e.mnemonic;
  return e.format == kFormatReg && (m == "spanbit" || m == "scanbit");
}

MemShape MemOperandShape(const OpcodeEntry& e) {
  std::string_view m = e.mnemonic;
  if (m.substr(0, 2) == "st") return MemShape::kStore;
  if (m.substr(0, 2) == "ld") return MemShape::kLoad;
  return MemShape::kAddressOnly;
}

bool HasNoTarget(const OpcodeEntry& e) { return e.format == kFormatCtrl && std::string_view(e.mnemonic) == "ret"; }

DisassembledInstruction DisassembleInstruction(uint32_t address, uint32_t w, uint32_t next, const SymbolNamer& namer) {
  DisassembledInstruction d;
  d.address = address;
  d.words[0] = w;
  uint32_t opcode = OpcodeOf(w);
  const OpcodeEntry* e = opcode < static_cast<uint32_t>(kOpcodeIndexSize) ? EntryIndex()[opcode] : nullptr;
  auto undefined = [&] {
    d.entry = nullptr;
    d.length = 4;
    d.mnemonic = ".word";
    d.operands = Hex(w, true);
    return d;
  };
  if (!e) return undefined();
  d.entry = e;
  d.mnemonic = e->mnemonic;
  switch (e->format) {
    case kFormatCtrl: {
      if (HasNoTarget(*e)) break;
      uint32_t disp = w & 0xFFFFFC;
      if (disp & 0x800000) disp |= 0xFF000000;
      d.has_target = true;
      d.target = address + disp;
      d.operands = Target(d.target, namer);
      break;
    }
    case kFormatCobr: {
      uint32_t f1 = (w >> 19) & 0x1F, f2 = (w >> 14) & 0x1F;
      if (e->has_dst) {  // the test instructions: a destination and no displacement
        d.operands = RegisterName(static_cast<int>(f1));
        break;
      }
      uint32_t disp = w & 0x1FFC;
      if (disp & 0x1000) disp |= 0xFFFFE000;
      d.has_target = true;
      d.target = address + disp;
      d.operands = Source(f1, (w & kCobrM1) != 0, false, false) + "," + Source(f2, false, (w & 1) != 0, false);
      d.operands += "," + Target(d.target, namer);
      break;
    }
    case kFormatReg: {
      bool real = TakesRealOperands(*e);
      std::string ops;
      auto add = [&](const std::string& s) { ops += (ops.empty() ? "" : ",") + s; };
      if (e->has_src1) add(Source(w & 0x1F, (w & kM1) != 0, (w & 0x20) != 0, real));
      if (e->has_src2 && !IsBitScan(*e)) add(Source((w >> 14) & 0x1F, (w & kM2) != 0, (w & 0x40) != 0, real));
      if (e->has_dst || IsBitScan(*e)) add(RegisterName(static_cast<int>((w >> 19) & 0x1F)));
      d.operands = ops;
      break;
    }
    case kFormatMem: {
      int mode = static_cast<int>((w >> 10) & 0xF);
      int reg = static_cast<int>((w >> 19) & 0x1F);
      std::string abase = RegisterName(static_cast<int>((w >> 14) & 0x1F));
      std::string addr;
      if (mode < 4) {
        addr = Hex(w & 0xFFF, true);
      } else if (mode >= 8 && mode < 12) {
        addr = Hex(w & 0xFFF, true) + "(" + abase + ")";
      } else if (mode == 6) {
        return undefined();
      } else {
        uint32_t scale_code = (w >> 7) & 7;
        std::string index = std::string("[") + RegisterName(static_cast<int>(w & 0x1F));
        index += scale_code >= 1 && scale_code <= 4 ? "*" + std::to_string(1 << scale_code) + "]" : "]";
        switch (mode) {
          case 4: addr = "(" + abase + ")"; break;
          case 5:
            d.has_target = true;
            d.target = address + 8 + next;
            addr = Target(d.target, namer);
            break;
          case 7: addr = "(" + abase + ")" + index; break;
          case 12:
            d.has_target = true;
            d.target = next;
            addr = Target(next, namer);
            break;
          case 13: addr = Target(next, namer) + "(" + abase + ")"; break;
          case 14: addr = Target(next, namer) + index; break;
          default: addr = Target(next, namer) + "(" + abase + ")" + index; break;
        }
        if (mode == 5 || mode >= 12) {
          d.length = 8;
          d.words[1] = next;
        }
      }
      switch (MemOperandShape(*e)) {
        case MemShape::kLoad: d.operands = addr + "," + RegisterName(reg); break;
        case MemShape::kStore: d.operands = std::string(RegisterName(reg)) + "," + addr; break;
        case MemShape::kAddressOnly: d.operands = addr; break;
      }
      break;
    }
  }
  return d;
}

std::string FormatInstruction(const DisassembledInstruction& d) {
  char buf[64];
  if (d.length == 8)
    std::snprintf(buf, sizeof buf, "%8x:\t%08x %08x\t", d.address, d.words[0], d.words[1]);
  else
    std::snprintf(buf, sizeof buf, "%8x:\t%08x         \t", d.address, d.words[0]);
  std::string s = buf + d.mnemonic;
  if (!d.operands.empty()) s += "\t" + d.operands;
  return s;
}

std::string DisassembleText(const uint8_t* text, size_t size, uint32_t base, const SymbolNamer& namer) {
  std::string out;
  auto word_at = [&](size_t off) {
    return static_cast<uint32_t>(text[off]) | static_cast<uint32_t>(text[off + 1]) << 8 |
           static_cast<uint32_t>(text[off + 2]) << 16 | static_cast<uint32_t>(text[off + 3]) << 24;
  };
  size_t off = 0;
  while (off + 4 <= size) {
    uint32_t w = word_at(off);
    uint32_t next = off + 8 <= size ? word_at(off + 4) : 0;
    DisassembledInstruction d = DisassembleInstruction(base + static_cast<uint32_t>(off), w, next, namer);
    if (d.length == 8 && off + 8 > size) {
      d = DisassembledInstruction{};
      d.address = base + static_cast<uint32_t>(off);
      d.words[0] = w;
      d.mnemonic = ".word";
      d.operands = Hex(w, true);
    }
    out += FormatInstruction(d) + "\n";
    off += static_cast<size_t>(d.length);
  }
  if (off < size) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%8x:\t", base + static_cast<uint32_t>(off));
    out += buf;
    std::string bytes;
    for (; off < size; ++off) bytes += (bytes.empty() ? "" : ",") + Hex(text[off], true);
    out += std::string(17, ' ') + "\t.byte\t" + bytes + "\n";
  }
  return out;
}

}  // namespace korvane
