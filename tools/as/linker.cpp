// The linker: places the modules' sections, resolves symbols, encodes every module and writes
// the COFF executable with its symbol and string tables.
#include <algorithm>
#include <array>
#include <cstring>
#include <set>

#include "as/assembler.h"
#include "as/coff.h"
#include "as/module.h"

namespace korvane::as {

std::string Diagnostic::ToString() const {
  return file + ":" + std::to_string(line) + ": " + message;
}

namespace {

constexpr uint64_t kAddressLimit = 0x100000000ull;
constexpr int kMaxSetDepth = 1000;
// The largest output section; keeps many modules of hostile .space counts from exhausting
// host memory.
constexpr uint64_t kMaxOutputSectionBytes = 256u << 20;
constexpr uint32_t kMinimumDataSize = 8;
// The .info section holds one zero byte after whatever the modules put there.
constexpr uint32_t kInfoTrailer = 1;
constexpr size_t kFileNameInPlace = 14;
constexpr int kMaxLineNumber = 0xFFFF;
// The section header counts line numbers in 16 bits.
constexpr size_t kMaxLineEntries = 0xFFFF;

uint64_t AlignUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct GlobalDef {
  int module = -1;
  const Symbol* symbol = nullptr;
};

class Linker {
 public:
  Linker(const std::vector<SourceFile>& sources, const LinkOptions& options, Executable& exe)
      : sources_(sources), options_(options), exe_(exe) {}

  void Run() {
    if (sources_.empty()) return Error("", 0, "no input files");
    modules_.resize(sources_.size());
    for (size_t i = 0; i < sources_.size(); ++i)
      AssembleModule(sources_[i], modules_[i], exe_.errors);
    if (!exe_.errors.empty()) return;
    CollectGlobals();
    if (!exe_.errors.empty()) return;
    if (!Layout()) return;
    Encode();
    if (!exe_.errors.empty()) return;
    // The emulator reads the text section as one record and refuses an empty one, so an
    // executable without instructions could never be loaded.
    if (size_[kText] == 0) return Error("", 0, "no instructions: the .text section is empty");
    FindEntry();
    if (!exe_.errors.empty()) return;
    Write();
  }

 private:
  void Error(const std::string& file, int line, const std::string& msg) {
    exe_.errors.push_back({file, line, msg});
  }

  void CollectGlobals() {
    for (size_t m = 0; m < modules_.size(); ++m) {
      for (const std::string& name : modules_[m].symbol_order) {
        const Symbol& s = modules_[m].symbols.at(name);
        if (!s.global || !s.defined) continue;
        auto [it, inserted] = globals_.emplace(name, GlobalDef{static_cast<int>(m), &s});
        if (!inserted) {
          const Module& first = modules_[it->second.module];
          Error(modules_[m].source, s.line,
                "duplicate symbol " + name + " (first defined at " + first.source + ":" +
                    std::to_string(it->second.symbol->line) + ")");
        }
      }
    }
    for (const Module& m : modules_) {
      for (const std::string& name : m.symbol_order) {
        const Symbol& s = m.symbols.at(name);
        if (!s.common || globals_.count(name)) continue;
        auto [it, inserted] = commons_.emplace(name, std::make_pair(s.common_size, s.common_align));
        if (inserted) {
          common_order_.push_back(name);
        } else {
          it->second.first = std::max(it->second.first, s.common_size);
          it->second.second = std::max(it->second.second, s.common_align);
        }
      }
    }
  }

  // Places one output section's module parts from `start`; returns the end.
  uint64_t Place(SectionId id, uint64_t start) {
    uint64_t cur = start;
    for (Module& m : modules_) {
      cur = AlignUp(cur, m.align[id]);
      m.base[id] = static_cast<uint32_t>(cur);
      cur += m.size[id];
      if (cur >= kAddressLimit) return cur;
    }
    return cur;
  }

  bool Layout() {
    if (options_.text_address % 4 != 0) {
      Error("", 0, "text address must be a multiple of 4");
      return false;
    }
    // The GNU linker puts each output section at the next multiple of 8 and each module's
    // part at the next multiple of 4 (or of the module's own .align).
    uint64_t text_end = Place(kText, options_.text_address);
    uint64_t data_start = AlignUp(text_end, kSectionAlignment);
    uint64_t data_end = Place(kData, data_start);
    // The data section is padded to a multiple of 8 so that the bss follows it directly, and
    // it is never empty: the emulator reads the data section as one record and treats an empty
    // read as a damaged file.
    uint64_t data_size = std::max<uint64_t>(AlignUp(data_end - data_start, 8), kMinimumDataSize);
    uint64_t bss_start = data_start + data_size;
    uint64_t bss_end = Place(kBss, bss_start);
    for (const std::string& name : common_order_) {
      auto [size, align] = commons_.at(name);
      bss_end = AlignUp(bss_end, align);
      common_address_[name] = static_cast<uint32_t>(bss_end);
      bss_end += size;
    }
    uint64_t absd_end = Place(kAbsd, options_.absd_address);
    uint64_t info_end = Place(kInfo, 0);
    if (text_end - options_.text_address > kMaxOutputSectionBytes ||
        data_size > kMaxOutputSectionBytes || bss_end - bss_start > kMaxOutputSectionBytes ||
        absd_end - options_.absd_address > kMaxOutputSectionBytes ||
        info_end > kMaxOutputSectionBytes) {
      Error("", 0, "an output section is larger than 256 MiB");
      return false;
    }
    if (bss_end >= kAddressLimit || absd_end >= kAddressLimit || info_end >= kAddressLimit) {
      Error("", 0, "sections run past the end of the 32-bit address space");
      return false;
    }
    if (absd_end > options_.absd_address && options_.absd_address < bss_end &&
        absd_end > options_.text_address) {
      Error("", 0, "the .absd area overlaps the text, data or bss");
      return false;
    }
    start_[kText] = options_.text_address;
    size_[kText] = static_cast<uint32_t>(text_end - options_.text_address);
    start_[kData] = static_cast<uint32_t>(data_start);
    size_[kData] = static_cast<uint32_t>(data_size);
    start_[kBss] = static_cast<uint32_t>(bss_start);
    size_[kBss] = static_cast<uint32_t>(bss_end - bss_start);
    start_[kAbsd] = options_.absd_address;
    size_[kAbsd] = static_cast<uint32_t>(absd_end - options_.absd_address);
    start_[kInfo] = 0;
    size_[kInfo] = static_cast<uint32_t>(info_end) + kInfoTrailer;
    linker_symbols_["_etext"] = {kText, static_cast<uint32_t>(text_end)};
    linker_symbols_["_edata"] = {kData, static_cast<uint32_t>(bss_start)};
    linker_symbols_["_end"] = {kBss, static_cast<uint32_t>(bss_end)};
    return true;
  }

  std::optional<int64_t> SymbolValue(const Module& m, const Symbol& s) {
    if (s.is_set) {
      // Remembered, so that chains like ".set a2,a1+a1" take linear time.
      auto key = std::make_pair(&m, s.name);
      auto known = set_values_.find(key);
      if (known != set_values_.end()) return known->second;
      if (++depth_ > kMaxSetDepth) {
        --depth_;
        circular_ = true;
        return std::nullopt;
      }
      auto v = Evaluate(m, s.set_expr, resolver_, nullptr, &overflow_);
      --depth_;
      if (v) set_values_[key] = *v;
      return v;
    }
    if (s.common) {
      auto it = common_address_.find(s.name);
      if (it == common_address_.end()) return Resolve(m, s.name, true);
      return it->second;
    }
    return static_cast<int64_t>(m.base[s.section]) + s.offset;
  }

  std::optional<int64_t> Resolve(const Module& m, const std::string& name,
                                 bool skip_local = false) {
    if (!skip_local) {
      auto it = m.symbols.find(name);
      if (it != m.symbols.end() && it->second.defined) return SymbolValue(m, it->second);
    }
    auto g = globals_.find(name);
    if (g != globals_.end()) return SymbolValue(modules_[g->second.module], *g->second.symbol);
    auto c = common_address_.find(name);
    if (c != common_address_.end()) return c->second;
    auto l = linker_symbols_.find(name);
    if (l != linker_symbols_.end()) return l->second.second;
    return std::nullopt;
  }

  void Encode() {
    resolver_ = [this](const Module& m, const std::string& name) { return Resolve(m, name); };
    // Set symbols are checked first, whether used or not: a typo there is an error too, and a
    // broken definition is reported where it is written rather than where it is used.
    for (const Module& m : modules_) {
      for (const std::string& name : m.symbol_order) {
        const Symbol& s = m.symbols.at(name);
        if (!s.is_set) continue;
        std::string undefined;
        circular_ = false;
        overflow_ = false;
        if (!Evaluate(m, s.set_expr, resolver_, &undefined, &overflow_))
          Error(m.source, s.line,
                circular_   ? "circular definition of " + name
                : overflow_ ? "value of " + name + " out of range"
                            : "undefined symbol " + undefined);
      }
    }
    if (!exe_.errors.empty()) return;
    for (int s = 0; s < kSectionCount; ++s) images_[s].assign(s == kBss ? 0 : size_[s], 0);
    for (const Module& m : modules_)
      EncodeModule(m, resolver_, images_, start_, exe_.errors,
                   options_.listing ? &exe_.listing : nullptr);
  }

  void FindEntry() {
    std::optional<int64_t> v;
    auto g = globals_.find(options_.entry);
    if (g != globals_.end())
      v = SymbolValue(modules_[g->second.module], *g->second.symbol);
    else if (linker_symbols_.count(options_.entry))
      v = linker_symbols_[options_.entry].second;
    if (!v) {
      if (options_.entry != "_start")
        return Error("", 0, "entry symbol " + options_.entry + " is not defined as a global");
      v = options_.text_address;  // like the GNU linker: no _start means the text start
    }
    entry_ = static_cast<uint32_t>(*v);
  }

  // ---- the executable file ----

  uint32_t AddString(const std::string& s) {
    uint32_t off = static_cast<uint32_t>(4 + strings_.size());
    strings_ += s;
    strings_ += '\0';
    return off;
  }

  size_t AddSymbol(const std::string& name, uint32_t value, int16_t section, uint8_t storage_class,
                   const std::vector<std::array<uint8_t, kSymbolSize>>& aux = {},
                   uint32_t type = 0) {
    size_t index = symtab_.size();
    std::array<uint8_t, kSymbolSize> e{};
    if (name.size() <= 8) {
      std::memcpy(e.data(), name.data(), name.size());
    } else {
      Put32(e.data() + 4, AddString(name));
    }
    Put32(e.data() + 8, value);
    Put16(e.data() + 12, static_cast<uint16_t>(section));
    Put32(e.data() + 16, type);
    e[20] = storage_class;
    e[21] = static_cast<uint8_t>(aux.size());
    symtab_.push_back(e);
    for (const auto& a : aux) symtab_.push_back(a);
    return index;
  }

  static std::array<uint8_t, kSymbolSize> LengthAux(uint32_t length) {
    std::array<uint8_t, kSymbolSize> a{};
    Put32(a.data(), length);
    return a;
  }

  void RecordSymbol(const std::string& name, uint32_t value, bool global) {
    if (global)
      exe_.symbols[name] = value;
    else
      exe_.symbols.emplace(name, value);
  }

  // The procedures of a module in address order: text labels that are global, called, or
  // functions of a .def with a .bf. Of several at one address the first defined counts.
  static std::vector<const Symbol*> Procedures(const Module& m) {
    std::vector<const Symbol*> list;
    for (const std::string& name : m.symbol_order) {
      const Symbol& s = m.symbols.at(name);
      if (!s.defined || s.is_set || s.common || s.numeric_local || s.section != kText) continue;
      if (name.rfind(".L", 0) == 0) continue;
      if (s.global || s.procedure || m.call_targets.count(name)) list.push_back(&s);
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const Symbol* a, const Symbol* b) { return a->offset < b->offset; });
    list.erase(std::unique(list.begin(), list.end(),
                           [](const Symbol* a, const Symbol* b) { return a->offset == b->offset; }),
               list.end());
    return list;
  }

  // Writes a procedure's symbol, its .bf and .ef and its group of line numbers: the group
  // starts with the symbol's index and line 0, then address/line pairs, each line counted
  // from the procedure's first line (the .bf's), which is line 1.
  void AddProcedure(const Module& m, const Symbol& s, uint32_t end_offset) {
    const uint32_t start = m.base[kText] + s.offset, end = m.base[kText] + end_offset;
    std::vector<std::pair<uint32_t, uint16_t>> group;
    int first = s.first_line > 0 ? s.first_line : m.compiler_lines ? 0 : s.line;
    int last = 0;
    for (const Statement& st : m.statements) {
      if (st.section != kText || st.kind != Statement::Kind::kInstruction) continue;
      if (st.offset < s.offset || st.offset >= end_offset) continue;
      const int line = m.compiler_lines ? st.source_line : st.line;
      if (first == 0) first = line;
      if (line <= 0 || line < first || line - first + 1 > kMaxLineNumber || line == last) continue;
      last = line;
      group.emplace_back(m.base[kText] + st.offset, static_cast<uint16_t>(line - first + 1));
    }
    const bool written = !group.empty() && lines_.size() + group.size() + 1 <= kMaxLineEntries;
    const size_t index = symtab_.size();
    std::array<uint8_t, kSymbolSize> aux{};
    Put32(aux.data() + 4, end - start);  // size of the procedure
    if (written)
      Put32(aux.data() + 8, static_cast<uint32_t>(line_offset_ + lines_.size() * kLineEntrySize));
    Put32(aux.data() + 12, static_cast<uint32_t>(index + 6));  // the entry after the .ef
    AddSymbol(s.name, start, kText + 1, s.global ? kClassExternal : kClassStatic, {aux},
              kTypeFunction);
    std::array<uint8_t, kSymbolSize> bf{}, ef{};
    Put16(bf.data() + 4, static_cast<uint16_t>(std::clamp(first, 0, kMaxLineNumber)));
    Put16(ef.data() + 4, static_cast<uint16_t>(written ? group.back().second : 0));
    AddSymbol(".bf", start, kText + 1, kClassFunction, {bf});
    AddSymbol(".ef", end, kText + 1, kClassFunction, {ef});
    if (!written) return;
    lines_.emplace_back(static_cast<uint32_t>(index), 0);
    lines_.insert(lines_.end(), group.begin(), group.end());
    module_lines_ += group.size() + 1;
  }

  void BuildSymbolTable() {
    std::vector<size_t> file_entries;
    for (const Module& m : modules_) {
      std::array<uint8_t, kSymbolSize> file_aux{};
      if (m.file_symbol.size() <= kFileNameInPlace) {
        std::memcpy(file_aux.data(), m.file_symbol.data(), m.file_symbol.size());
      } else {
        Put32(file_aux.data() + 4, AddString(m.file_symbol));
      }
      file_entries.push_back(AddSymbol(".file", 0, kSectionNumberDebug, kClassFile, {file_aux}));
      module_lines_ = 0;
      const std::vector<const Symbol*> procedures =
          options_.line_numbers || m.compiler_lines ? Procedures(m) : std::vector<const Symbol*>{};
      std::set<const Symbol*> written;
      for (size_t k = 0; k < procedures.size(); ++k) {
        AddProcedure(m, *procedures[k],
                     k + 1 < procedures.size() ? procedures[k + 1]->offset : m.size[kText]);
        written.insert(procedures[k]);
        RecordSymbol(procedures[k]->name, m.base[kText] + procedures[k]->offset,
                     procedures[k]->global);
      }
      for (const std::string& name : m.symbol_order) {
        const Symbol& s = m.symbols.at(name);
        if (s.global || !s.defined || s.numeric_local || written.count(&s)) continue;
        auto v = SymbolValue(m, s);
        if (!v) continue;
        int16_t section = s.is_set ? kSectionNumberAbsolute : static_cast<int16_t>(s.section + 1);
        if (name.rfind(".L", 0) != 0)
          AddSymbol(name, static_cast<uint32_t>(*v), section, kClassLabel);
        RecordSymbol(name, static_cast<uint32_t>(*v), false);
      }
      for (int s = 0; s < kSectionCount; ++s) {
        if (s > kBss && !m.used[s]) continue;
        auto aux = LengthAux(m.size[s]);
        if (s == kText) Put16(aux.data() + 6, static_cast<uint16_t>(module_lines_));
        AddSymbol(kSectionNames[s], m.base[s], static_cast<int16_t>(s + 1), kClassStatic, {aux});
      }
      for (const Symbol* p : written) written_globals_.insert(p);
    }
    size_t first_global = symtab_.size();
    for (size_t i = 0; i < file_entries.size(); ++i) {
      size_t next = i + 1 < file_entries.size() ? file_entries[i + 1] : first_global;
      Put32(symtab_[file_entries[i]].data() + 8, static_cast<uint32_t>(next));
    }
    for (const Module& m : modules_) {
      for (const std::string& name : m.symbol_order) {
        const Symbol& s = m.symbols.at(name);
        if (!s.global || !s.defined || written_globals_.count(&s)) continue;
        auto v = SymbolValue(m, s);
        if (!v) continue;
        int16_t section = s.is_set ? kSectionNumberAbsolute : static_cast<int16_t>(s.section + 1);
        AddSymbol(name, static_cast<uint32_t>(*v), section, kClassExternal);
        RecordSymbol(name, static_cast<uint32_t>(*v), true);
      }
    }
    for (const std::string& name : common_order_) {
      AddSymbol(name, common_address_[name], kBss + 1, kClassExternal);
      RecordSymbol(name, common_address_[name], true);
    }
    for (const char* name : {"_etext", "_edata", "_end"}) {
      if (globals_.count(name) || commons_.count(name)) continue;
      auto [section, value] = linker_symbols_[name];
      AddSymbol(name, value, static_cast<int16_t>(section + 1), kClassExternal);
      RecordSymbol(name, value, true);
    }
  }

  void Write() {
    uint32_t headers = kFileHeaderSize + kOptHeaderSize + kCoffSectionCount * kSectionHeaderSize;
    uint32_t raw[kSectionCount] = {};
    uint32_t cur = headers;
    for (int s = 0; s < kSectionCount; ++s) {
      if (s == kBss || size_[s] == 0) continue;
      raw[s] = cur;
      cur += size_[s];
    }
    // The text's line numbers lie between the raw data and the symbol table.
    line_offset_ = static_cast<uint32_t>(AlignUp(cur, 4));
    BuildSymbolTable();
    uint32_t symtab_offset =
        static_cast<uint32_t>(AlignUp(line_offset_ + lines_.size() * kLineEntrySize, 4));
    std::vector<uint8_t>& f = exe_.file;
    f.assign(symtab_offset + symtab_.size() * kSymbolSize + 4 + strings_.size(), 0);
    uint8_t* p = f.data();
    Put16(p, kCoffMagic);
    Put16(p + 2, kCoffSectionCount);
    Put32(p + 8, symtab_offset);
    Put32(p + 12, static_cast<uint32_t>(symtab_.size()));
    Put16(p + 16, kOptHeaderSize);
    Put16(p + 18, lines_.empty() ? kCoffFlags : kCoffFlags & ~kCoffFlagNoLines);
    for (size_t i = 0; i < lines_.size(); ++i) {
      Put32(p + line_offset_ + i * kLineEntrySize, lines_[i].first);
      Put16(p + line_offset_ + i * kLineEntrySize + 4, lines_[i].second);
    }
    uint8_t* o = p + kFileHeaderSize;
    Put16(o, kOptMagic);
    Put32(o + 4, size_[kText]);
    Put32(o + 8, size_[kData]);
    Put32(o + 12, size_[kBss]);
    Put32(o + 16, entry_);
    Put32(o + 20, start_[kText]);
    Put32(o + 24, start_[kData]);
    const uint32_t flags[kSectionCount] = {kStypText, kStypData, kStypBss, kStypBss | kStypNoload,
                                           kStypText};
    for (int s = 0; s < kSectionCount; ++s) {
      uint8_t* h = p + kFileHeaderSize + kOptHeaderSize + s * kSectionHeaderSize;
      std::memcpy(h, kSectionNames[s], std::strlen(kSectionNames[s]));
      Put32(h + 8, start_[s]);
      Put32(h + 12, start_[s]);
      Put32(h + 16, size_[s]);
      Put32(h + 20, raw[s]);
      if (s == kText && !lines_.empty()) {
        Put32(h + 28, line_offset_);
        Put16(h + 34, static_cast<uint16_t>(lines_.size()));
      }
      Put32(h + 36, flags[s]);
      Put32(h + 40, kSectionAlignment);
      if (raw[s] != 0) std::memcpy(p + raw[s], images_[s].data(), images_[s].size());
    }
    for (size_t i = 0; i < symtab_.size(); ++i)
      std::memcpy(p + symtab_offset + i * kSymbolSize, symtab_[i].data(), kSymbolSize);
    uint8_t* st = p + symtab_offset + symtab_.size() * kSymbolSize;
    Put32(st, static_cast<uint32_t>(4 + strings_.size()));
    std::memcpy(st + 4, strings_.data(), strings_.size());

    exe_.entry = entry_;
    exe_.text_address = start_[kText];
    exe_.data_address = start_[kData];
    exe_.bss_address = start_[kBss];
    exe_.absd_address = start_[kAbsd];
    exe_.text = images_[kText];
    exe_.data = images_[kData];
    exe_.bss_size = size_[kBss];
    exe_.absd_size = size_[kAbsd];
  }

  const std::vector<SourceFile>& sources_;
  const LinkOptions& options_;
  Executable& exe_;
  std::vector<Module> modules_;
  std::map<std::string, GlobalDef> globals_;
  std::map<std::string, std::pair<uint32_t, uint32_t>> commons_;
  std::vector<std::string> common_order_;
  std::map<std::string, uint32_t> common_address_;
  std::map<std::string, std::pair<int, uint32_t>> linker_symbols_;
  uint32_t start_[kSectionCount] = {};
  uint32_t size_[kSectionCount] = {};
  std::vector<uint8_t> images_[kSectionCount];
  SymbolResolver resolver_;
  int depth_ = 0;
  std::map<std::pair<const Module*, std::string>, int64_t> set_values_;
  bool circular_ = false;
  bool overflow_ = false;
  uint32_t entry_ = 0;
  std::vector<std::array<uint8_t, kSymbolSize>> symtab_;
  std::string strings_;
  std::vector<std::pair<uint32_t, uint16_t>> lines_;  // symbol index or address, line
  uint32_t line_offset_ = 0;
  size_t module_lines_ = 0;
  std::set<const Symbol*> written_globals_;  // global procedures written in their module's part
};

}  // namespace

Executable AssembleAndLink(const std::vector<SourceFile>& sources, const LinkOptions& options) {
  Executable exe;
  Linker linker(sources, options, exe);
  linker.Run();
  if (!exe.ok()) {
    exe.file.clear();
    exe.listing.clear();
  }
  return exe;
}

}  // namespace korvane::as
