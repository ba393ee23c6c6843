// Lexical and operand syntax of the assembler.
#include "as/syntax.h"

#include <cctype>
#include <cstdlib>

namespace korvane::as {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool IsSymbolChar(char c) { return IsAlnum(c) || c == '_' || c == '.' || c == '$'; }

bool IsSymbolName(std::string_view s) {
  if (s.empty() || IsDigit(s[0])) return false;
  for (char c : s)
    if (!IsSymbolChar(c)) return false;
  return true;
}

std::vector<std::string> StripComments(const std::string& text, std::vector<std::string>* original) {
  std::vector<std::string> lines(1);
  if (original) original->assign(1, "");
  bool in_block = false, in_string = false, in_line_comment = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\n') {
      lines.emplace_back();
      if (original) original->emplace_back();
      in_string = false;  // an unterminated string ends with its line
      in_line_comment = false;
      continue;
    }
    if (c == '\r') continue;
    if (original) original->back() += c;
    if (in_line_comment) continue;
    if (in_block) {
      if (c == '*' && i + 1 < text.size() && text[i + 1] == '/') {
        in_block = false;
        if (original) original->back() += '/';
        ++i;
        lines.back() += ' ';
      }
      continue;
    }
    if (in_string) {
      lines.back() += c;
      if (c == '\\' && i + 1 < text.size() && text[i + 1] != '\n') {
        lines.back() += text[++i];
        if (original) original->back() += text[i];
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
      lines.back() += c;
    } else if (c == '#') {
      in_line_comment = true;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      in_block = true;
      if (original) original->back() += '*';
      ++i;
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

std::vector<std::string> SplitStatements(const std::string& line) {
  std::vector<std::string> out(1);
  bool in_string = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (in_string) {
      out.back() += c;
      if (c == '\\' && i + 1 < line.size()) out.back() += line[++i];
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
      out.back() += c;
    } else if (c == ';') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

std::vector<std::string> SplitOperands(std::string_view text) {
  std::vector<std::string> out;
  text = Trim(text);
  if (text.empty()) return out;
  std::string cur;
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_string) {
      cur += c;
      if (c == '\\' && i + 1 < text.size()) cur += text[++i];
      else if (c == '"') in_string = false;
      continue;
    }
    if (c == '"') in_string = true;
    if (c == '(' || c == '[') ++depth;
    if ((c == ')' || c == ']') && depth > 0) --depth;
    if (c == ',' && depth == 0) {
      out.emplace_back(Trim(cur));
      cur.clear();
      continue;
    }
    cur += c;
  }
  out.emplace_back(Trim(cur));
  return out;
}

bool ParseString(std::string_view text, std::string* out) {
  text = Trim(text);
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
  out->clear();
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    char c = text[i];
    if (c == '"') return false;  // an unescaped quote inside
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (i + 2 >= text.size()) return false;  // a backslash escaping the closing quote
    char e = text[++i];
    switch (e) {
      case 'n': *out += '\n'; break;
      case 't': *out += '\t'; break;
      case 'r': *out += '\r'; break;
      case 'b': *out += '\b'; break;
      case 'f': *out += '\f'; break;
      case '\\': *out += '\\'; break;
      case '"': *out += '"'; break;
      case '\'': *out += '\''; break;
      case 'x': {
        int v = 0, n = 0;
        while (n < 2 && i + 1 < text.size() - 1 && std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
          char h = text[++i];
          v = v * 16 + (IsDigit(h) ? h - '0' : std::tolower(h) - 'a' + 10);
          ++n;
        }
        if (n == 0) return false;
        *out += static_cast<char>(v);
        break;
      }
      default:
        if (e >= '0' && e <= '7') {
          int v = e - '0', n = 1;
          while (n < 3 && i + 1 < text.size() - 1 && text[i + 1] >= '0' && text[i + 1] <= '7') {
            v = v * 8 + (text[++i] - '0');
            ++n;
          }
          *out += static_cast<char>(v & 0xFF);
        } else {
          return false;
        }
    }
  }
  return true;
}

bool ParseExpression(std::string_view text, Expr& out, const LocalLabelMap& locals, std::string* error) {
  out.terms.clear();
  std::string_view s = Trim(text);
  if (s.empty()) {
    *error = "missing expression";
    return false;
  }
  size_t i = 0;
  auto skip = [&] {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  };
  bool expect_operand = true;
  int sign = 1;
  while (true) {
    skip();
    if (i >= s.size()) break;
    char c = s[i];
    if (expect_operand) {
      if (c == '-' || c == '+') {
        if (c == '-') sign = -sign;
        ++i;
        continue;
      }
      Term t;
      t.sign = sign;
      if (IsDigit(c)) {
        size_t start = i;
        uint64_t v = 0;
        bool overflow = false;
        if (c == '0' && i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
          i += 2;
          size_t digits = i;
          while (i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i]))) {
            char h = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
            v = v * 16 + static_cast<uint64_t>(IsDigit(h) ? h - '0' : h - 'a' + 10);
            if (v > 0xFFFFFFFFull) overflow = true;
            ++i;
          }
          if (i == digits) {
            *error = "invalid number " + std::string(s.substr(start, i - start));
            return false;
          }
        } else {
          while (i < s.size() && IsDigit(s[i])) ++i;
          std::string digits(s.substr(start, i - start));
          if (i < s.size() && (s[i] == 'b' || s[i] == 'f') && (i + 1 >= s.size() || !IsSymbolChar(s[i + 1]))) {
            // A numeric local label: "1b" the previous "1:", "1f" the next one.
            bool forward = s[i] == 'f';
            ++i;
            std::string name = locals ? locals(digits, forward) : "";
            if (name.empty()) {
              *error = "undefined local label " + digits + "b";
              return false;
            }
            t.symbol = name;
            out.terms.push_back(t);
            expect_operand = false;
            sign = 1;
            continue;
          }
          bool octal = digits.size() > 1 && digits[0] == '0';
          for (char d : digits) {
            if (octal && d > '7') {
              *error = "invalid octal number " + digits;
              return false;
            }
            v = v * (octal ? 8 : 10) + static_cast<uint64_t>(d - '0');
            if (v > 0xFFFFFFFFull) overflow = true;
          }
        }
        if (i < s.size() && IsSymbolChar(s[i])) {
          *error = "invalid number " + std::string(s.substr(start, i - start + 1));
          return false;
        }
        if (overflow) {
          *error = "number too large: " + std::string(s.substr(start, i - start));
          return false;
        }
        t.number = static_cast<int64_t>(v);
      } else if (c == '\'') {
        // A character constant 'c'.
        if (i + 2 < s.size() && s[i + 2] == '\'' && s[i + 1] != '\\') {
          t.number = static_cast<unsigned char>(s[i + 1]);
          i += 3;
        } else {
          *error = "invalid character constant";
          return false;
        }
      } else if (IsSymbolChar(c)) {
        size_t start = i;
        while (i < s.size() && IsSymbolChar(s[i])) ++i;
        t.symbol = std::string(s.substr(start, i - start));
        if (ParseRegister(t.symbol)) {
          *error = "register " + t.symbol + " used in an expression";
          return false;
        }
      } else {
        *error = "unexpected '" + std::string(1, c) + "' in expression";
        return false;
      }
      out.terms.push_back(t);
      expect_operand = false;
      sign = 1;
    } else {
      if (c == '+' || c == '-') {
        sign = c == '-' ? -1 : 1;
        ++i;
        expect_operand = true;
        continue;
      }
      *error = "unexpected '" + std::string(1, c) + "' in expression";
      return false;
    }
  }
  if (expect_operand) {
    *error = "incomplete expression";
    return false;
  }
  return true;
}

std::optional<int> ParseRegister(std::string_view text) {
  std::string t = Lower(Trim(text));
  if (t == "pfp") return 0;
  if (t == "sp") return 1;
  if (t == "rip") return 2;
  if (t == "fp") return 31;
  if (t.size() < 2 || t.size() > 3 || (t[0] != 'r' && t[0] != 'g')) return std::nullopt;
  int n = 0;
  for (size_t i = 1; i < t.size(); ++i) {
    if (!IsDigit(t[i])) return std::nullopt;
    n = n * 10 + (t[i] - '0');
  }
  if (t.size() == 3 && t[1] == '0') return std::nullopt;  // "r05"
  if (n > 15) return std::nullopt;
  return t[0] == 'r' ? n : 16 + n;
}

int FloatLiteral(std::string_view text, bool real_instruction) {
  std::string t = Lower(Trim(text));
  bool prefixed = t.size() > 2 && t[0] == '0' && (t[1] == 'f' || t[1] == 'd' || t[1] == 'e' || t[1] == 'r');
  if (prefixed) {
    if (!real_instruction) return -2;
    t = t.substr(2);
  } else if (!real_instruction) {
    return -1;
  } else if (t == "0" || t == "1") {
    // Like the GNU assembler, real instructions read exactly these spellings as 0.0 and 1.0;
    // any other spelling of the number (0x0, 00) stays the raw literal.
    return t == "0" ? static_cast<int>(kFpLiteralZero) : static_cast<int>(kFpLiteralOne);
  } else if (t.find('.') == std::string::npos) {
    return -1;  // an integer literal
  }
  if (t.empty()) return -2;
  char* end = nullptr;
  double v = std::strtod(t.c_str(), &end);
  if (end == t.c_str() || *end != '\0') return prefixed ? -2 : -1;
  if (v == 0.0) return static_cast<int>(kFpLiteralZero);
  if (v == 1.0) return static_cast<int>(kFpLiteralOne);
  return -2;
}

bool ParseMemOperand(std::string_view text, MemOperand* out, const ExprParser& expr, std::string* error) {
  std::string_view s = Trim(text);
  *out = MemOperand{};
  if (s.empty()) {
    *error = "missing memory operand";
    return false;
  }
  if (s.back() == ']') {
    size_t open = s.rfind('[');
    if (open == std::string_view::npos) {
      *error = "unbalanced ']' in memory operand";
      return false;
    }
    std::string_view inside = Trim(s.substr(open + 1, s.size() - open - 2));
    size_t star = inside.find('*');
    std::string_view reg = Trim(inside.substr(0, star));
    auto r = ParseRegister(reg);
    if (!r) {
      *error = "invalid index register '" + std::string(reg) + "'";
      return false;
    }
    out->index = *r;
    if (star != std::string_view::npos) {
      std::string sc(Trim(inside.substr(star + 1)));
      if (sc == "1") out->scale = 1;
      else if (sc == "2") out->scale = 2;
      else if (sc == "4") out->scale = 4;
      else if (sc == "8") out->scale = 8;
      else if (sc == "16") out->scale = 16;
      else {
        *error = "invalid scale '" + sc + "': use 1, 2, 4, 8 or 16";
        return false;
      }
    }
    s = Trim(s.substr(0, open));
  }
  if (!s.empty() && s.back() == ')') {
    size_t open = s.rfind('(');
    if (open == std::string_view::npos) {
      *error = "unbalanced ')' in memory operand";
      return false;
    }
    std::string base = Lower(Trim(s.substr(open + 1, s.size() - open - 2)));
    if (base == "ip") {
      out->ip_relative = true;
      if (out->index >= 0) {
        *error = "an ip-relative address cannot have an index";
        return false;
      }
    } else {
      auto r = ParseRegister(base);
      if (!r) {
        *error = "invalid base register '" + base + "'";
        return false;
      }
      out->base = *r;
    }
    s = Trim(s.substr(0, open));
  }
  if (!s.empty()) {
    if (s.find_first_of("()[]") != std::string_view::npos) {
      *error = "invalid memory operand '" + std::string(Trim(text)) + "'";
      return false;
    }
    if (ParseRegister(s)) {
      *error = "a register is not a memory operand: write (" + std::string(s) + ")";
      return false;
    }
    out->has_disp = true;
    if (!expr(s, out->disp)) {
      error->clear();
      return false;
    }
  } else if (out->ip_relative) {
    out->has_disp = true;  // "(ip)": displacement 0
  }
  if (!out->has_disp && out->base < 0 && out->index < 0) {
    *error = "missing memory operand";
    return false;
  }
  return true;
}

std::vector<OperandSlot> OperandShape(const OpcodeEntry& e) {
  switch (e.format) {
    case kFormatCtrl:
      if (HasNoTarget(e)) return {};
      return {OperandSlot::kTarget};
    case kFormatCobr:
      if (e.has_dst) return {OperandSlot::kRegister};  // the test instructions: no target
      return {OperandSlot::kSource, OperandSlot::kRegister, OperandSlot::kTarget};
    case kFormatMem:
      switch (MemOperandShape(e)) {
        case MemShape::kLoad: return {OperandSlot::kMemory, OperandSlot::kRegister};
        case MemShape::kStore: return {OperandSlot::kRegister, OperandSlot::kMemory};
        case MemShape::kAddressOnly: return {OperandSlot::kMemory};
      }
      return {};
    case kFormatReg: {
      std::vector<OperandSlot> v;
      if (e.has_src1) v.push_back(OperandSlot::kSource);
      if (IsBitScan(e)) {
        v.push_back(OperandSlot::kRegister);
        return v;
      }
      if (e.has_src2) v.push_back(OperandSlot::kSource);
      if (e.has_dst) v.push_back(OperandSlot::kRegister);
      return v;
    }
  }
  return {};
}

int DefaultScale(const OpcodeEntry& e) {
  if (MemOperandShape(e) == MemShape::kAddressOnly || std::string_view(e.mnemonic) == "lda") return 1;
  switch (e.size) {
    case 1: case 2: case 4: case 8: case 16: return e.size;
    default: return 0;
  }
}

}  // namespace korvane::as
