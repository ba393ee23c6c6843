// The i960 assembler: parses GNU-syntax sources into statements and symbols (first pass) and
// encodes them once the linker has placed every module (second pass).
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

#include "as/module.h"
#include "as/syntax.h"

namespace korvane::as {

namespace {

constexpr uint32_t kM1 = 1u << 11, kM2 = 1u << 12, kM3 = 1u << 13;  // REG mode bits
constexpr uint32_t kCobrM1 = 1u << 13;                              // COBR: src1 is a literal
constexpr int kMaxErrors = 100;
constexpr int kMaxAlignPower = 16;
constexpr int kMaxSetDepth = 1000;
constexpr int kMaxLine = 65535;  // line numbers are 16 bits in the tables
constexpr int kStorageExternal = 2, kStorageStatic = 3;

uint32_t AlignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

// The first pass over one source.
class Pass1 {
 public:
  Pass1(const SourceFile& src, Module& m, std::vector<Diagnostic>& errors)
      : src_(src), m_(m), errors_(errors) {}

  bool Run() {
    size_t first_error = errors_.size();
    std::vector<std::string> lines = StripComments(src_.text, &m_.lines);
    for (size_t i = 0; i < lines.size() && !end_; ++i) {
      line_ = static_cast<int>(i) + 1;
      for (const std::string& stmt : SplitStatements(lines[i])) {
        ParseStatement(stmt);
        if (end_) break;
      }
      if (errors_.size() - first_error >= kMaxErrors) break;
    }
    // Numeric labels referenced forward must exist.
    for (const auto& [name, ref_line] : forward_refs_) {
      if (!m_.symbols.count(name)) {
        line_ = ref_line;
        Error("undefined local label " + name.substr(0, name.find('\x02')) + "f");
      }
    }
    return errors_.size() == first_error;
  }

 private:
  void Error(const std::string& msg) {
    if (errors_.size() < 10 * kMaxErrors) errors_.push_back({src_.name, line_, msg});
  }

  uint32_t& Here() { return m_.size[section_]; }

  bool Grow(uint32_t bytes) {
    if (bytes > kMaxSectionBytes || Here() > kMaxSectionBytes - bytes) {
      Error(std::string("section ") + kSectionNames[section_] + " too large");
      return false;
    }
    Here() += bytes;
    return true;
  }

  Symbol& Sym(const std::string& name) {
    auto it = m_.symbols.find(name);
    if (it == m_.symbols.end()) {
      it = m_.symbols.emplace(name, Symbol{}).first;
      it->second.name = name;
    }
    return it->second;
  }

  void Define(const std::string& name, int section, uint32_t offset) {
    Symbol& s = Sym(name);
    if (s.defined || s.common) {
      Error("duplicate symbol " + name);
      return;
    }
    s.defined = true;
    s.section = section;
    s.offset = offset;
    s.line = line_;
    m_.symbol_order.push_back(name);
  }

  // Expression parsing with this module's numeric local labels.
  bool Expression(std::string_view text, Expr& out) {
    std::string err;
    LocalLabelMap map = [this](const std::string& digits, bool forward) -> std::string {
      int n = local_counts_[digits];
      if (forward) {
        std::string name = digits + '\x02' + std::to_string(n + 1);
        forward_refs_.emplace(name, line_);
        return name;
      }
      if (n == 0) return "";
      return digits + '\x02' + std::to_string(n);
    };
    if (!ParseExpression(text, out, map, &err)) {
      Error(err);
      return false;
    }
    return true;
  }

  // The value of an expression made of numbers and constant .set symbols defined so far.
  // Values found are remembered (a .set symbol never changes), so that chains like
  // ".set a2,a1+a1" take linear time.
  std::optional<int64_t> Constant(const Expr& e, int depth = 0) {
    if (depth > kMaxSetDepth) return std::nullopt;
    int64_t v = 0;
    for (const Term& t : e.terms) {
      int64_t x = t.number;
      if (!t.symbol.empty()) {
        auto known = constants_.find(t.symbol);
        if (known != constants_.end()) {
          x = known->second;
        } else {
          auto it = m_.symbols.find(t.symbol);
          if (it == m_.symbols.end() || !it->second.defined || !it->second.is_set)
            return std::nullopt;
          auto c = Constant(it->second.set_expr, depth + 1);
          if (!c) return std::nullopt;
          constants_[t.symbol] = *c;
          x = *c;
        }
      }
      if (!AddTerm(&v, t.sign, x)) {
        constant_overflow_ = true;
        return std::nullopt;
      }
    }
    return v;
  }

  std::optional<int64_t> AbsoluteArgument(std::string_view text, const char* what) {
    Expr e;
    if (!Expression(text, e)) return std::nullopt;
    constant_overflow_ = false;
    auto v = Constant(e);
    if (!v)
      Error(constant_overflow_
                ? std::string(what) + " is out of range"
                : std::string(what) + " must be a constant defined before this line");
    return v;
  }

  void ParseStatement(const std::string& text) {
    std::string_view s = Trim(text);
    // Labels: "name:" or "N:" (any number of them).
    while (!s.empty()) {
      size_t n = 0;
      while (n < s.size() && IsSymbolChar(s[n])) ++n;
      if (n == 0 || n >= s.size() || s[n] != ':') break;
      std::string label(s.substr(0, n));
      if (std::all_of(label.begin(), label.end(),
                      [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        int k = ++local_counts_[label];
        std::string name = label + '\x02' + std::to_string(k);
        Define(name, section_, Here());
        Sym(name).numeric_local = true;
      } else if (std::isdigit(static_cast<unsigned char>(label[0]))) {
        Error("invalid label " + label);
      } else {
        Define(label, section_, Here());
      }
      s = Trim(s.substr(n + 1));
    }
    if (s.empty()) return;

    size_t n = 0;
    while (n < s.size() && !std::isspace(static_cast<unsigned char>(s[n])) && s[n] != '=') ++n;
    std::string word(s.substr(0, n));
    std::string_view rest = Trim(s.substr(n));
    if (word.empty()) return (void)Error("missing symbol name before '='");
    if (!rest.empty() && rest[0] == '=' && IsSymbolName(word)) {
      SetSymbol(word, Trim(rest.substr(1)));
      return;
    }
    if (word[0] == '.') {
      Directive(Lower(word), rest);
      return;
    }
    Instruction(Lower(word), rest);
  }

  void SetSymbol(const std::string& name, std::string_view expr_text) {
    if (!IsSymbolName(name)) {
      Error("invalid symbol name " + name);
      return;
    }
    Expr e;
    if (!Expression(expr_text, e)) return;
    for (const Term& t : e.terms)
      if (t.symbol == name) {
        Error("symbol " + name + " defined in terms of itself");
        return;
      }
    Define(name, kSectionAbsolute, 0);
    Symbol& sym = Sym(name);
    sym.is_set = true;
    sym.set_expr = e;
    // A constant is worked out now, while the symbols it uses are already known, so that a
    // chain of thousands of .set lines never needs a deep look-up when it is used.
    if (auto c = Constant(e)) constants_.emplace(name, *c);
  }

  void SwitchSection(SectionId id) {
    section_ = id;
    m_.used[id] = true;
  }

  void Directive(const std::string& d, std::string_view rest) {
    std::vector<std::string> args = SplitOperands(rest);
    auto need = [&](size_t lo, size_t hi) {
      if (args.size() < lo || args.size() > hi) {
        Error("wrong number of arguments for " + d);
        return false;
      }
      return true;
    };
    if (d == ".text" || d == ".data" || d == ".bss") {
      if (!need(0, 0)) return;
      SwitchSection(d == ".text" ? kText : d == ".data" ? kData : kBss);
    } else if (d == ".section") {
      if (args.empty()) return (void)Error("missing section name");
      std::string name = args[0];
      if (!name.empty() && name[0] == '"')
        name = name.substr(1, name.size() >= 2 ? name.size() - 2 : 0);
      for (int i = 0; i < kSectionCount; ++i)
        if (name == kSectionNames[i]) return SwitchSection(static_cast<SectionId>(i));
      Error("unknown section " + name);
    } else if (d == ".file") {
      if (!need(1, 1)) return;
      std::string name;
      if (!ParseString(args[0], &name)) return (void)Error("expected a quoted file name");
      m_.file_symbol = name;
    } else if (d == ".globl" || d == ".global") {
      if (args.empty()) return (void)Error("missing symbol name");
      for (const std::string& a : args) {
        if (!IsSymbolName(a)) {
          Error("invalid symbol name " + a);
          continue;
        }
        Sym(a).global = true;
      }
    } else if (d == ".word" || d == ".long" || d == ".int") {
      Data(4, args);
    } else if (d == ".short" || d == ".hword") {
      Data(2, args);
    } else if (d == ".byte") {
      Data(1, args);
    } else if (d == ".ascii" || d == ".asciz" || d == ".string") {
      if (args.empty()) return (void)Error("missing string");
      std::vector<uint8_t> bytes;
      for (const std::string& a : args) {
        std::string str;
        if (!ParseString(a, &str)) return (void)Error("expected a quoted string");
        bytes.insert(bytes.end(), str.begin(), str.end());
        if (d != ".ascii") bytes.push_back(0);
      }
      Bytes(std::move(bytes));
    } else if (d == ".space" || d == ".skip") {
      if (!need(1, 2)) return;
      auto count = AbsoluteArgument(args[0], "the size");
      if (!count) return;
      int64_t fill = 0;
      if (args.size() == 2) {
        auto f = AbsoluteArgument(args[1], "the fill value");
        if (!f) return;
        fill = *f;
      }
      if (*count < 0 || *count > kMaxSectionBytes) return (void)Error("invalid size for .space");
      Fill(static_cast<uint32_t>(*count), fill);
    } else if (d == ".align" || d == ".p2align") {
      if (!need(1, 2)) return;
      auto p = AbsoluteArgument(args[0], "the alignment");
      if (!p) return;
      if (*p < 0 || *p > kMaxAlignPower) return (void)Error("alignment out of range 0-16");
      int64_t fill = 0;
      if (args.size() == 2) {
        auto f = AbsoluteArgument(args[1], "the fill value");
        if (!f) return;
        fill = *f;
      }
      uint32_t a = 1u << *p;
      m_.align[section_] = std::max(m_.align[section_], a);
      Fill(AlignUp(Here(), a) - Here(), fill);
    } else if (d == ".set" || d == ".equ") {
      if (!need(2, 2)) return;
      SetSymbol(args[0], args[1]);
    } else if (d == ".lcomm" || d == ".comm") {
      if (!need(2, 3)) return;
      const std::string& name = args[0];
      if (!IsSymbolName(name)) return (void)Error("invalid symbol name " + name);
      auto size = AbsoluteArgument(args[1], "the size");
      if (!size) return;
      if (*size < 0 || *size > kMaxSectionBytes) return (void)Error("invalid size for " + d);
      uint32_t align = NaturalAlignment(static_cast<uint32_t>(*size));
      if (args.size() == 3) {
        auto a = AbsoluteArgument(args[2], "the alignment");
        if (!a) return;
        if (*a < 1 || *a > (1 << kMaxAlignPower) || (*a & (*a - 1)) != 0)
          return (void)Error("alignment must be a power of two up to 65536");
        align = static_cast<uint32_t>(*a);
      }
      if (d == ".comm") {
        Symbol& s = Sym(name);
        if (s.defined) return (void)Error("duplicate symbol " + name);
        if (!s.common) m_.symbol_order.push_back(name);
        s.common = true;
        s.global = true;
        s.line = line_;
        s.common_size = std::max(s.common_size, static_cast<uint32_t>(*size));
        s.common_align = std::max(s.common_align, align);
        return;
      }
      SectionId saved = section_;
      section_ = kBss;
      m_.used[kBss] = true;
      m_.align[kBss] = std::max(m_.align[kBss], align);
      uint32_t at = AlignUp(Here(), align);
      if (at - Here() + static_cast<uint32_t>(*size) > kMaxSectionBytes ||
          Here() > kMaxSectionBytes - (at - Here() + static_cast<uint32_t>(*size))) {
        Error("section .bss too large");
      } else {
        Define(name, kBss, at);
        Here() = at + static_cast<uint32_t>(*size);
      }
      section_ = saved;
    } else if (d == ".ln") {
      if (!need(1, 1)) return;
      auto n = AbsoluteArgument(args[0], "the line number");
      if (!n) return;
      if (*n < 1 || *n > kMaxLine) return (void)Error("line number out of range 1-65535");
      // Compilers write lines relative to the procedure's first line (.bf's .line), which
      // counts as 1.
      m_.compiler_lines = true;
      ln_line_ = static_cast<int>(*n) + std::max(base_line_, 1) - 1;
    } else if (d == ".def") {
      if (!need(1, 1)) return;
      if (def_) return (void)Error(".def inside .def (missing .endef)");
      def_ = DebugDef{args[0]};
    } else if (d == ".val" || d == ".scl" || d == ".type" || d == ".line" || d == ".size" ||
               d == ".tag" || d == ".dim") {
      if (!def_) return (void)Error(d + " outside .def");
      if (args.empty()) return (void)Error("missing value for " + d);
      if (d == ".scl" || d == ".line") {
        auto v = AbsoluteArgument(args[0], d == ".scl" ? "the storage class" : "the line");
        if (!v) return;
        if (*v < -1 || *v > kMaxLine) return (void)Error("value out of range for " + d);
        (d == ".scl" ? def_->storage_class : def_->line) = static_cast<int>(*v);
      }
    } else if (d == ".endef") {
      if (!def_) return (void)Error(".endef without .def");
      EndDef(*def_);
      def_.reset();
    } else if (d == ".end") {
      end_ = true;
    } else {
      Error("unknown directive " + d);
    }
  }

  // Symbolic debugging directives.
  struct DebugDef {
    std::string name;
    int storage_class = 0;
    int line = 0;
  };

  // A finished .def: a function's name and storage class come first, then its .bf with the
  // procedure's first line.
  void EndDef(const DebugDef& def) {
    if (def.name == ".bf") {
      base_line_ = def.line;
      if (!function_.empty()) {
        Symbol& s = Sym(function_);
        s.procedure = true;
        s.first_line = def.line;
      }
      function_.clear();
    } else if (def.storage_class == kStorageExternal || def.storage_class == kStorageStatic) {
      function_ = def.name;
    }
  }

  static uint32_t NaturalAlignment(uint32_t size) {
    return size >= 8 ? 8 : size >= 4 ? 4 : size >= 2 ? 2 : 1;
  }

  bool CheckDataSection() {
    if (section_ == kBss) {
      Error("initialised data in .bss");
      return false;
    }
    return true;
  }

  void Data(int width, const std::vector<std::string>& args) {
    if (args.empty()) return (void)Error("missing value");
    if (!CheckDataSection()) return;
    Statement st;
    st.kind = Statement::Kind::kData;
    st.width = width;
    for (const std::string& a : args) {
      Expr e;
      if (!Expression(a, e)) return;
      st.values.push_back(std::move(e));
    }
    Add(std::move(st), static_cast<uint32_t>(width * args.size()));
  }

  void Bytes(std::vector<uint8_t> bytes) {
    if (!CheckDataSection()) return;
    Statement st;
    st.kind = Statement::Kind::kBytes;
    uint32_t size = static_cast<uint32_t>(bytes.size());
    st.bytes = std::move(bytes);
    Add(std::move(st), size);
  }

  void Fill(uint32_t count, int64_t fill) {
    if (fill < -128 || fill > 255) return (void)Error("fill value out of range");
    if (section_ == kBss && fill != 0) return (void)Error("initialised data in .bss");
    Statement st;
    st.kind = Statement::Kind::kFill;
    st.fill = static_cast<uint8_t>(fill);
    Add(std::move(st), count);
  }

  void Add(Statement st, uint32_t size) {
    m_.used[section_] = true;
    st.line = line_;
    st.source_line = ln_line_;
    st.section = section_;
    st.offset = Here();
    st.size = size;
    if (!Grow(size)) return;
    m_.statements.push_back(std::move(st));
  }

  // ---- instructions ----

  bool Register(std::string_view text, int* reg, const std::string& mnemonic) {
    auto r = ParseRegister(text);
    if (!r) {
      Error("wrong operand for " + mnemonic + ": expected a register, got '" +
            std::string(Trim(text)) + "'");
      return false;
    }
    *reg = *r;
    return true;
  }

  // A REG or COBR source: a register or a literal (an FP literal where the instruction takes
  // real operands).
  bool Source(std::string_view text, Operand* op, bool real, const std::string& mnemonic) {
    if (auto r = ParseRegister(text)) {
      op->kind = OperandKind::kRegister;
      op->reg = *r;
      return true;
    }
    op->kind = OperandKind::kLiteral;
    std::string_view t = Trim(text);
    int fp = FloatLiteral(t, real);
    if (fp == -2) {
      Error("floating-point literal " + std::string(t) + " cannot be encoded here: " +
            (real ? std::string("real instructions take 0f0.0 and 0f1.0")
                  : mnemonic + " takes integer literals 0-31"));
      return false;
    }
    if (fp >= 0) {
      op->fp_literal = fp;
      return true;
    }
    return Expression(t, op->expr);
  }

  void Instruction(const std::string& word, std::string_view rest) {
    std::vector<std::string> args = SplitOperands(rest);
    if (word == "ldconst") return LoadConstant(args);

    std::string mnemonic = word;
    bool hint = false;
    const OpcodeEntry* op = FindMnemonic(mnemonic);
    if (!op && mnemonic.size() > 2 && (EndsWith(mnemonic, ".t") || EndsWith(mnemonic, ".f"))) {
      const OpcodeEntry* base = FindMnemonic(mnemonic.substr(0, mnemonic.size() - 2));
      if (base && (base->format == kFormatCobr || base->format == kFormatCtrl)) {
        op = base;
        hint = EndsWith(mnemonic, ".t");
        mnemonic = base->mnemonic;
      }
    }
    if (!op) return (void)Error("unknown mnemonic " + word);
    if (section_ == kBss) return (void)Error("instruction in .bss");
    if (Here() % 4 != 0) return (void)Error("unaligned instruction");

    Statement st;
    st.kind = Statement::Kind::kInstruction;
    st.op = op;
    st.taken_hint = hint;
    uint32_t size = 4;
    const std::vector<OperandSlot> shape = OperandShape(*op);
    if (args.size() != shape.size()) {
      std::ostringstream msg;
      msg << "wrong number of operands for " << mnemonic << ": expected " << shape.size()
          << ", got " << args.size();
      return (void)Error(msg.str());
    }
    bool real = TakesRealOperands(*op);
    for (size_t i = 0; i < shape.size(); ++i) {
      Operand o;
      switch (shape[i]) {
        case OperandSlot::kSource:
          if (!Source(args[i], &o, real, mnemonic)) return;
          break;
        case OperandSlot::kRegister:
          if (!Register(args[i], &o.reg, mnemonic)) return;
          o.kind = OperandKind::kRegister;
          break;
        case OperandSlot::kTarget:
          if (ParseRegister(args[i]))
            return (void)Error("wrong operand for " + mnemonic + ": expected a branch target");
          if (!Expression(args[i], o.expr)) return;
          o.kind = OperandKind::kExpr;
          break;
        case OperandSlot::kMemory: {
          std::string err;
          if (!ParseMemOperand(
                  args[i], &o.mem, [this](std::string_view t, Expr& e) { return Expression(t, e); },
                  &err)) {
            if (!err.empty()) Error(err);
            return;
          }
          o.kind = OperandKind::kMem;
          if (!ChooseMemMode(*op, &o.mem, &st.mem_mode, &size)) return;
          break;
        }
      }
      st.operands.push_back(std::move(o));
    }
    if (IsCallMnemonic(mnemonic)) NoteCallTarget(st.operands.back());
    Add(std::move(st), size);
  }

  static bool IsCallMnemonic(const std::string& m) {
    return m == "call" || m == "callx" || m == "bal" || m == "balx";
  }

  // A call's target names a procedure; a register target or computed address names none.
  void NoteCallTarget(const Operand& o) {
    const Expr& e = o.kind == OperandKind::kMem ? o.mem.disp : o.expr;
    if (o.kind == OperandKind::kMem && (o.mem.base >= 0 || o.mem.index >= 0)) return;
    if (e.terms.size() == 1 && !e.terms[0].symbol.empty())
      m_.call_targets.insert(e.terms[0].symbol);
  }

  bool ChooseMemMode(const OpcodeEntry& op, MemOperand* mem, int* mode, uint32_t* size) {
    std::optional<int64_t> c;
    if (mem->has_disp) c = Constant(mem->disp);
    bool mema_fits = mem->has_disp && c && *c >= 0 && *c <= 0xFFF;
    mem->disp_is_constant = mem->has_disp && c.has_value();
    if (mem->index >= 0 && mem->scale == 0) {
      int s = DefaultScale(op);
      if (s == 0) {
        Error(std::string("an index of ") + op.mnemonic + " needs an explicit scale");
        return false;
      }
      mem->scale = s;
    }
    if (mem->ip_relative) {
      *mode = 5;
    } else if (mem->index >= 0) {
      *mode = mem->base >= 0 ? (mem->has_disp ? 15 : 7) : 14;
    } else if (mem->base >= 0) {
      *mode = !mem->has_disp ? 4 : mema_fits ? 8 : 13;
    } else {
      *mode = mema_fits ? 0 : 12;
    }
    *size = (*mode == 5 || *mode >= 12) ? 8 : 4;
    return true;
  }

  // ldconst VALUE, REG: lda of the value, in the short form when it fits.
  void LoadConstant(const std::vector<std::string>& args) {
    if (args.size() != 2)
      return (void)Error("wrong number of operands for ldconst: expected 2, got " +
                         std::to_string(args.size()));
    if (section_ == kBss) return (void)Error("instruction in .bss");
    if (Here() % 4 != 0) return (void)Error("unaligned instruction");
    Statement st;
    st.kind = Statement::Kind::kInstruction;
    st.op = FindMnemonic("lda");
    Operand mem, reg;
    mem.kind = OperandKind::kMem;
    mem.mem.has_disp = true;
    if (ParseRegister(args[0])) return (void)Error("wrong operand for ldconst: expected a value");
    if (!Expression(args[0], mem.mem.disp)) return;
    if (!Register(args[1], &reg.reg, "ldconst")) return;
    reg.kind = OperandKind::kRegister;
    uint32_t size = 4;
    if (!ChooseMemMode(*st.op, &mem.mem, &st.mem_mode, &size)) return;
    st.operands.push_back(std::move(mem));
    st.operands.push_back(std::move(reg));
    Add(std::move(st), size);
  }

  const SourceFile& src_;
  Module& m_;
  std::vector<Diagnostic>& errors_;
  int line_ = 0;
  SectionId section_ = kText;
  bool end_ = false;
  std::map<std::string, int> local_counts_;
  std::map<std::string, int> forward_refs_;
  std::map<std::string, int64_t> constants_;
  bool constant_overflow_ = false;

  std::optional<DebugDef> def_;
  std::string function_;  // the function whose .bf comes next
  int base_line_ = 0;     // the current procedure's first line (its .bf's .line)
  int ln_line_ = 0;       // the absolute line of the last .ln
};

// ---- second pass ----

class Encoder {
 public:
  Encoder(const Module& m, const SymbolResolver& resolve, std::vector<Diagnostic>& errors)
      : m_(m), resolve_(resolve), errors_(errors) {}

  void Error(int line, const std::string& msg) { errors_.push_back({m_.source, line, msg}); }

  std::optional<int64_t> Value(int line, const Expr& e) {
    std::string undefined;
    bool overflow = false;
    auto v = Evaluate(m_, e, resolve_, &undefined, &overflow);
    if (!v) {
      if (overflow)
        Error(line, "value out of range");
      else if (undefined.find('\x02') != std::string::npos)
        Error(line, "undefined local label " + undefined.substr(0, undefined.find('\x02')));
      else
        Error(line, "undefined symbol " + undefined);
    }
    return v;
  }

  // Encodes one statement into `out` (statement.size bytes); `addr` is its final address.
  bool Encode(const Statement& st, uint32_t addr, uint8_t* out) {
    switch (st.kind) {
      case Statement::Kind::kBytes:
        std::memcpy(out, st.bytes.data(), st.bytes.size());
        return true;
      case Statement::Kind::kFill:
        std::memset(out, st.fill, st.size);
        return true;
      case Statement::Kind::kData: {
        for (size_t i = 0; i < st.values.size(); ++i) {
          auto v = Value(st.line, st.values[i]);
          if (!v) return false;
          int bits = st.width * 8;
          int64_t lo = -(int64_t{1} << (bits - 1)), hi = (int64_t{1} << bits) - 1;
          if (*v < lo || *v > hi) {
            Error(st.line, "value " + std::to_string(*v) + " does not fit in " +
                               std::to_string(st.width) + (st.width == 1 ? " byte" : " bytes"));
            return false;
          }
          for (int b = 0; b < st.width; ++b)
            out[i * st.width + b] = static_cast<uint8_t>(*v >> (8 * b));
        }
        return true;
      }
      case Statement::Kind::kInstruction:
        return Instruction(st, addr, out);
    }
    return false;
  }

 private:
  static void Put32(uint8_t* out, uint32_t w) {
    for (int b = 0; b < 4; ++b) out[b] = static_cast<uint8_t>(w >> (8 * b));
  }

  // A REG/COBR source field: sets *field and *is_literal.
  bool SourceField(const Statement& st, const Operand& o, uint32_t* field, bool* is_literal) {
    if (o.kind == OperandKind::kRegister) {
      *field = static_cast<uint32_t>(o.reg);
      *is_literal = false;
      return true;
    }
    *is_literal = true;
    if (o.fp_literal >= 0) {
      *field = static_cast<uint32_t>(o.fp_literal);
      return true;
    }
    auto v = Value(st.line, o.expr);
    if (!v) return false;
    if (*v < 0 || *v > 31) {
      Error(st.line, "literal " + std::to_string(*v) + " outside 0-31");
      return false;
    }
    *field = static_cast<uint32_t>(*v);
    return true;
  }

  bool Displacement(const Statement& st, uint32_t addr, int64_t target, int64_t lo, int64_t hi,
                    uint32_t* disp) {
    int64_t d = target - static_cast<int64_t>(addr);
    if (d % 4 != 0) {
      Error(st.line, "branch target not word aligned");
      return false;
    }
    if (d < lo || d > hi) {
      Error(st.line, "displacement out of range (" + std::to_string(d) + " bytes)");
      return false;
    }
    *disp = static_cast<uint32_t>(d);
    return true;
  }

  bool Instruction(const Statement& st, uint32_t addr, uint8_t* out) {
    const OpcodeEntry& op = *st.op;
    uint32_t w = 0;
    switch (op.format) {
      case kFormatCtrl: {
        w = static_cast<uint32_t>(op.opcode) << 24;
        if (!st.operands.empty()) {
          auto t = Value(st.line, st.operands[0].expr);
          uint32_t disp;
          if (!t || !Displacement(st, addr, *t, -0x800000, 0x7FFFFC, &disp)) return false;
          w |= disp & 0xFFFFFC;
        }
        if (st.taken_hint) w |= 2;
        break;
      }
      case kFormatCobr: {
        w = static_cast<uint32_t>(op.opcode) << 24;
        if (op.has_dst) {  // the test instructions: a destination and no displacement
          w |= static_cast<uint32_t>(st.operands[0].reg) << 19;
          break;
        }
        {
          uint32_t f1;
          bool lit1;
          if (!SourceField(st, st.operands[0], &f1, &lit1)) return false;
          w |= f1 << 19 | static_cast<uint32_t>(st.operands[1].reg) << 14 | (lit1 ? kCobrM1 : 0);
        }
        auto t = Value(st.line, st.operands[2].expr);
        uint32_t disp;
        if (!t || !Displacement(st, addr, *t, -4096, 4092, &disp)) return false;
        w |= disp & 0x1FFC;
        if (st.taken_hint) w |= 2;
        break;
      }
      case kFormatReg: {
        w = static_cast<uint32_t>(op.opcode >> 4) << 24 | static_cast<uint32_t>(op.opcode & 0xF)
                                                              << 7;
        size_t i = 0;
        if (op.has_src1) {
          uint32_t f;
          bool lit;
          if (!SourceField(st, st.operands[i++], &f, &lit)) return false;
          w |= f | (lit ? kM1 : 0);
        } else {
          w |= kM1;
        }
        bool bit_scan = IsBitScan(op);
        if (op.has_src2 && !bit_scan) {
          uint32_t f;
          bool lit;
          if (!SourceField(st, st.operands[i++], &f, &lit)) return false;
          w |= f << 14 | (lit ? kM2 : 0);
        } else {
          w |= kM2;
        }
        if (op.has_dst || bit_scan) {
          w |= static_cast<uint32_t>(st.operands[i++].reg) << 19;
        } else {
          w |= kM3;
        }
        break;
      }
      case kFormatMem: {
        const MemOperand* mem = nullptr;
        int reg = 0;
        for (const Operand& o : st.operands) {
          if (o.kind == OperandKind::kMem) mem = &o.mem;
          if (o.kind == OperandKind::kRegister) reg = o.reg;
        }
        w = static_cast<uint32_t>(op.opcode) << 24 | static_cast<uint32_t>(reg) << 19;
        int64_t disp = 0;
        if (mem->has_disp) {
          auto v = Value(st.line, mem->disp);
          if (!v) return false;
          disp = *v;
          // A label addressed relative to ip means the label itself: the displacement counts
          // from the instruction's address + 8. A number, or a .set constant, is the
          // displacement as written.
          if (st.mem_mode == 5 && !mem->disp_is_constant) disp -= static_cast<int64_t>(addr) + 8;
          if (disp < -(int64_t{1} << 31) || disp > 0xFFFFFFFFll) {
            Error(st.line, "displacement out of range");
            return false;
          }
        }
        int mode = st.mem_mode;
        uint32_t base = mem->base >= 0 ? static_cast<uint32_t>(mem->base) : 0;
        if (mode < 4 || (mode >= 8 && mode < 12)) {
          w |= base << 14 | (mode >= 8 ? kM3 : 0) | (static_cast<uint32_t>(disp) & 0xFFF);
        } else {
          uint32_t index = mem->index >= 0 ? static_cast<uint32_t>(mem->index) : 0;
          uint32_t scale_code = 0;
          if (mem->index >= 0) {
            while ((1 << scale_code) < mem->scale) ++scale_code;
          }
          w |= base << 14 | static_cast<uint32_t>(mode) << 10 | scale_code << 7 | index;
        }
        Put32(out, w);
        if (st.size == 8) Put32(out + 4, static_cast<uint32_t>(disp));
        return true;
      }
    }
    Put32(out, w);
    return true;
  }

  const Module& m_;
  const SymbolResolver& resolve_;
  std::vector<Diagnostic>& errors_;
};

std::string Hex8(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

}  // namespace

bool AssembleModule(const SourceFile& source, Module& module, std::vector<Diagnostic>& errors) {
  module.source = source.name;
  if (module.file_symbol.empty()) {
    size_t slash = source.name.find_last_of("/\\");
    module.file_symbol = slash == std::string::npos ? source.name : source.name.substr(slash + 1);
  }
  Pass1 pass(source, module, errors);
  return pass.Run();
}

bool AddTerm(int64_t* value, int sign, int64_t term) {
  int64_t signed_term;
  if (__builtin_mul_overflow(term, static_cast<int64_t>(sign), &signed_term)) return false;
  return !__builtin_add_overflow(*value, signed_term, value);
}

std::optional<int64_t> Evaluate(const Module& module, const Expr& expr,
                                const SymbolResolver& resolve, std::string* undefined,
                                bool* overflow) {
  int64_t v = 0;
  for (const Term& t : expr.terms) {
    int64_t x = t.number;
    if (!t.symbol.empty()) {
      auto r = resolve(module, t.symbol);
      if (!r) {
        if (undefined) *undefined = t.symbol;
        return std::nullopt;
      }
      x = *r;
    }
    if (!AddTerm(&v, t.sign, x)) {
      if (overflow) *overflow = true;
      return std::nullopt;
    }
  }
  return v;
}

void EncodeModule(const Module& module, const SymbolResolver& resolve,
                  std::vector<uint8_t> (&images)[kSectionCount],
                  const uint32_t (&section_base)[kSectionCount], std::vector<Diagnostic>& errors,
                  std::string* listing) {
  Encoder enc(module, resolve, errors);
  int last_listed_line = 0;
  for (const Statement& st : module.statements) {
    if (errors.size() >= 10 * kMaxErrors) return;
    uint32_t addr = module.base[st.section] + st.offset;
    if (st.section == kBss || st.size == 0) continue;  // bss: zeros only, checked in the first pass
    size_t at = addr - section_base[st.section];
    if (at + st.size > images[st.section].size()) continue;  // cannot happen: the linker sized it
    uint8_t* out = images[st.section].data() + at;
    if (!enc.Encode(st, addr, out)) continue;
    if (listing && st.size > 0) {
      std::string src =
          st.line == last_listed_line || st.line > static_cast<int>(module.lines.size())
              ? ""
              : module.lines[st.line - 1];
      last_listed_line = st.line;
      for (uint32_t i = 0; i < st.size; i += 8) {
        std::string bytes;
        for (uint32_t b = i; b < st.size && b < i + 8; ++b) {
          char buf[4];
          std::snprintf(buf, sizeof buf, "%02X ", out[b]);
          bytes += buf;
        }
        bytes.resize(24, ' ');
        *listing += Hex8(addr + i) + "  " + bytes +
                    (i == 0 ? module.source + ":" + std::to_string(st.line) + ": " + src : "") +
                    "\n";
        if (i >= 64 && st.kind == Statement::Kind::kFill) {
          *listing += "          ...\n";
          break;
        }
      }
    }
  }
}

}  // namespace korvane::as
