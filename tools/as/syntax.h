// Lexical and operand syntax of the assembler: comments, statements, expressions, registers and
// memory operands.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "as/module.h"
#include "core/disassembler.h"

namespace korvane::as {

std::string_view Trim(std::string_view s);
std::string Lower(std::string_view s);
bool EndsWith(const std::string& s, const std::string& suffix);
bool IsSymbolChar(char c);
bool IsSymbolName(std::string_view s);

// Removes '#' and '/* */' comments (keeping line breaks) and splits the text into lines.
// `original` receives the lines as written.
std::vector<std::string> StripComments(const std::string& text, std::vector<std::string>* original);
// Splits a line at ';' outside strings.
std::vector<std::string> SplitStatements(const std::string& line);
// Splits operands at top-level commas (outside strings, parentheses and brackets), trimmed.
// An empty text gives no operands.
std::vector<std::string> SplitOperands(std::string_view text);
// A double-quoted string with C escapes.
bool ParseString(std::string_view text, std::string* out);

// Maps a numeric local label reference ("1" and backward/forward) to its internal name; ""
// when no such label was defined yet.
using LocalLabelMap = std::function<std::string(const std::string& digits, bool forward)>;
bool ParseExpression(std::string_view text, Expr& out, const LocalLabelMap& locals, std::string* error);

// r0-r15, g0-g15 and the aliases pfp, sp, rip, fp (case-insensitive).
std::optional<int> ParseRegister(std::string_view text);

// A floating-point literal: "0f0.0", "0f1.0", and in real instructions also "0.0", "1.0" and
// the exact texts "0" and "1". Returns its literal field value; -1 when the text is not a
// floating-point literal; -2 when it is one that has no encoding.
int FloatLiteral(std::string_view text, bool real_instruction);

using ExprParser = std::function<bool(std::string_view, Expr&)>;
// Parses "disp", "disp(reg)", "(reg)", "disp(ip)", "(reg)[idx*s]", "disp[idx*s]",
// "disp(reg)[idx*s]". Reports through *error (or through the ExprParser, leaving it empty).
bool ParseMemOperand(std::string_view text, MemOperand* out, const ExprParser& expr, std::string* error);

// The operand list of an instruction, derived from its format and operand flags.
enum class OperandSlot { kSource, kRegister, kTarget, kMemory };
std::vector<OperandSlot> OperandShape(const OpcodeEntry& e);

// The scale of a MEM index written without one: the operand size for loads and stores, 1 for
// lda, bx and callx; 0 when there is none (the 12-byte forms).
int DefaultScale(const OpcodeEntry& e);

}  // namespace korvane::as
