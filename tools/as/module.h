// One assembled source module as the assembler leaves it for the linker: statements, symbols
// and the size of the module's part of each output section.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "as/assembler.h"
#include "core/opcode_table.h"

namespace korvane::as {

// Output sections in file order; the COFF section number is the id + 1.
enum SectionId : int { kText = 0, kData, kBss, kAbsd, kInfo, kSectionCount };
constexpr int kSectionAbsolute = -1;  // a .set constant: belongs to no section
constexpr const char* kSectionNames[kSectionCount] = {".text", ".data", ".bss", ".absd", ".info"};

// The largest part of one section a module may produce; keeps hostile .space counts from
// exhausting host memory.
constexpr uint32_t kMaxSectionBytes = 64u << 20;

// An expression: a signed sum of numbers and symbol names.
struct Term {
  int sign = 1;
  std::string symbol;  // empty: a number
  int64_t number = 0;
};
struct Expr {
  std::vector<Term> terms;
  bool HasSymbols() const {
    for (const Term& t : terms)
      if (!t.symbol.empty()) return true;
    return false;
  }
};

enum class OperandKind { kRegister, kLiteral, kExpr, kMem };

struct MemOperand {
  bool has_disp = false;
  Expr disp;
  int base = -1;  // register number 0-31, or -1
  bool ip_relative = false;
  int index = -1;  // register number 0-31, or -1
  int scale = 0;   // 1, 2, 4, 8, 16; 0 when the source gave no scale
  // The displacement is a number (or a .set constant known when the line is read): relative
  // to ip it is the displacement as written, while an address is made relative to ip + 8.
  bool disp_is_constant = false;
};

struct Operand {
  OperandKind kind = OperandKind::kExpr;
  int reg = 0;          // kRegister
  Expr expr;            // kLiteral (value 0-31 checked at encoding) and kExpr
  int fp_literal = -1;  // kLiteral written as a floating-point literal: its encoded value
  MemOperand mem;       // kMem
};

struct Statement {
  enum class Kind { kInstruction, kData, kBytes, kFill };
  Kind kind = Kind::kBytes;
  int line = 0;
  // The line of the compiled source the last .ln named (absolute), 0 before any .ln.
  int source_line = 0;
  SectionId section = kText;
  uint32_t offset = 0;  // within the module's part of the section
  uint32_t size = 0;

  // kInstruction
  const OpcodeEntry* op = nullptr;
  std::vector<Operand> operands;
  int mem_mode = 0;         // MEM: the chosen addressing mode 0-15
  bool taken_hint = false;  // COBR/CTRL ".t" suffix: sets the branch-prediction bit

  // kData: `values` stored `width` bytes each
  int width = 0;
  std::vector<Expr> values;
  // kBytes: literal bytes; kFill: `size` copies of fill
  std::vector<uint8_t> bytes;
  uint8_t fill = 0;
};

struct Symbol {
  std::string name;
  int line = 0;
  bool defined = false;
  bool global = false;
  int section = kSectionAbsolute;  // a SectionId, or kSectionAbsolute for .set symbols
  uint32_t offset = 0;             // within the module's part of the section
  bool is_set = false;             // value is set_expr, evaluated at link time
  Expr set_expr;
  bool common = false;  // .comm: allocated by the linker unless some module defines it
  uint32_t common_size = 0, common_align = 1;
  bool numeric_local = false;  // "1:" style labels never reach the symbol table
  // A procedure: a text label that is global or called, or a function of a .def/.bf pair.
  bool procedure = false;
  int first_line = 0;  // with a .bf: its .line, the line relative line numbers count from
};

struct Module {
  std::string source;              // name used in diagnostics
  std::string file_symbol;         // name for the .file symbol
  std::vector<std::string> lines;  // source lines, for the listing
  std::vector<Statement> statements;
  std::map<std::string, Symbol> symbols;
  std::vector<std::string> symbol_order;  // names in order of first definition
  std::set<std::string> call_targets;     // names used as call, callx, bal or balx targets
  bool compiler_lines = false;            // line numbers come from .ln directives
  uint32_t size[kSectionCount] = {};
  uint32_t align[kSectionCount] = {4, 4, 4, 4, 1};
  bool used[kSectionCount] = {};
  uint32_t base[kSectionCount] = {};  // filled by the linker
};

// Parses one source and lays out its statements (first pass). Returns false with diagnostics
// on any error.
bool AssembleModule(const SourceFile& source, Module& module, std::vector<Diagnostic>& errors);

// Looks up a symbol's final address for a module; nullopt when undefined.
using SymbolResolver = std::function<std::optional<int64_t>(const Module&, const std::string&)>;

// Evaluates an expression with final addresses; nullopt (and the undefined name) when a symbol
// is undefined, nullopt and *overflow set when the sum leaves the 64-bit range (long chains of
// doubling .set symbols).
std::optional<int64_t> Evaluate(const Module& module, const Expr& expr,
                                const SymbolResolver& resolve, std::string* undefined,
                                bool* overflow = nullptr);

// value + sign * term, false when the result does not fit in 64 bits.
bool AddTerm(int64_t* value, int sign, int64_t term);

// Encodes the module's statements into the section images (second pass). `images` holds one
// byte vector per section, already sized to cover the module's parts. Appends a listing when
// `listing` is non-null.
void EncodeModule(const Module& module, const SymbolResolver& resolve,
                  std::vector<uint8_t> (&images)[kSectionCount],
                  const uint32_t (&section_base)[kSectionCount], std::vector<Diagnostic>& errors,
                  std::string* listing);

}  // namespace korvane::as
