// The address <-> file:line map and its reader for the COFF line-number tables.
#include "image/line_map.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "image/coff_reader.h"
#include "image/image.h"

namespace korvane {

namespace {

// The i960 tool chains write 8-byte entries (symbol index or address, line, two bytes of
// padding); other COFF writers leave the padding out. The function symbols' pointers into the
// table tell which one a file uses.
constexpr uint32_t kLineEntryBytes = 8;
constexpr uint32_t kPackedLineEntryBytes = 6;
constexpr uint8_t kClassFunction = 101;  // .bf and .ef
constexpr uint8_t kClassFile = 103;
constexpr size_t kFileNameInAux = 14;

struct RawSymbol {
  std::string name;
  uint32_t value = 0;
  uint8_t storage_class = 0;
  int aux_count = 0;
  const uint8_t* aux = nullptr;  // the first auxiliary entry
  std::string file;              // the .file this symbol follows
};

bool ReadAt(std::FILE* f, uint64_t offset, size_t size, std::vector<uint8_t>& out) {
  out.resize(size);
  if (size == 0) return true;
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0 &&
         std::fread(out.data(), 1, size, f) == size;
}

std::string StringAt(const std::vector<uint8_t>& strings, uint32_t offset) {
  if (offset < 4 || offset >= strings.size()) return "";
  size_t end = offset;
  while (end < strings.size() && strings[end] != 0) ++end;
  return std::string(reinterpret_cast<const char*>(strings.data() + offset), end - offset);
}

std::string FixedName(const uint8_t* p, size_t n) {
  size_t len = 0;
  while (len < n && p[len] != 0) ++len;
  return std::string(reinterpret_cast<const char*>(p), len);
}

struct Procedure {
  uint32_t first_line = 0;  // from the .bf
  uint32_t table_pointer = 0;
  uint32_t size = 0;
};

// Reads the table with entries of `entry_bytes`; false with `error` when it does not fit.
bool ParseTable(const std::vector<uint8_t>& table, uint32_t table_offset, uint32_t entry_bytes,
                uint32_t count, const std::vector<RawSymbol>& symbols,
                const std::map<uint32_t, Procedure>& procedures, const ImageState& image,
                LineMap& out, std::string& error) {
  out.Clear();
  const Procedure* current = nullptr;
  uint32_t last_address = 0, procedure_end = 0;
  const uint32_t text_first = image.text_first, text_size = image.opt_header.text_size;
  for (uint32_t k = 0; k < count; ++k) {
    const uint8_t* e = table.data() + uint64_t{k} * entry_bytes;
    const uint32_t value = Le32(e);
    const uint16_t line = Le16(e + 4);
    if (line == 0) {
      auto it = procedures.find(value);
      if (it == procedures.end()) {
        error = "line-number entry " + std::to_string(k) + " names symbol " +
                std::to_string(value) + ", which is no procedure with a .bf";
        return false;
      }
      current = &it->second;
      if (current->table_pointer != 0 && current->table_pointer != table_offset + k * entry_bytes) {
        error = "the line numbers of " + symbols[value].name + " are not where its symbol points";
        return false;
      }
      const RawSymbol& s = symbols[value];
      if (s.value - text_first >= text_size) {
        error = "procedure " + s.name + " lies outside the text";
        return false;
      }
      last_address = s.value;
      procedure_end = current->size != 0 &&
                              uint64_t{s.value} + current->size <= uint64_t{text_first} + text_size
                          ? s.value + current->size
                          : text_first + text_size;
      out.AddProcedure({s.name, s.file, s.value, procedure_end});
      continue;
    }
    if (!current) {
      error = "line-number entry " + std::to_string(k) + " comes before any procedure";
      return false;
    }
    if (value < last_address || value >= procedure_end) {
      error = "line numbers out of order at entry " + std::to_string(k) + " (address 0x" + [value] {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08x", value);
        return std::string(buf);
      }() + ")";
      return false;
    }
    last_address = value;
    out.AddEntry(value, current->first_line + line - 1);
  }
  out.Finish();
  return true;
}

}  // namespace

void LineMap::Clear() {
  procedures_.clear();
  entries_.clear();
}

void LineMap::AddEntry(uint32_t address, uint32_t line) {
  if (procedures_.empty()) return;
  entries_.push_back({address, procedures_.size() - 1, {procedures_.back().file, line}});
}

void LineMap::Finish() {
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const Entry& a, const Entry& b) { return a.address < b.address; });
}

const LineMap::Entry* LineMap::EntryAt(uint32_t address) const {
  auto it = std::upper_bound(entries_.begin(), entries_.end(), address,
                             [](uint32_t a, const Entry& e) { return a < e.address; });
  if (it == entries_.begin()) return nullptr;
  --it;
  const LineProcedure& p = procedures_[it->procedure];
  if (address < p.start || address >= p.end) return nullptr;
  return &*it;
}

const SourcePlace* LineMap::Find(uint32_t address) const {
  const Entry* e = EntryAt(address);
  return e ? &e->place : nullptr;
}

bool LineMap::LineRange(uint32_t address, uint32_t& start, uint32_t& end) const {
  const Entry* e = EntryAt(address);
  if (!e) return false;
  start = e->address;
  end = procedures_[e->procedure].end;
  // Entries of one line in a row (another at the same address) end where the line changes.
  for (const Entry* n = e + 1; n != entries_.data() + entries_.size(); ++n) {
    if (n->procedure != e->procedure) break;
    if (n->address > e->address && n->place.line != e->place.line) {
      end = n->address;
      break;
    }
  }
  return true;
}

const LineProcedure* LineMap::ProcedureAt(uint32_t address) const {
  for (const LineProcedure& p : procedures_)
    if (address >= p.start && address < p.end) return &p;
  return nullptr;
}

bool SameSourceFile(const std::string& file, const std::string& wanted) {
  if (file == wanted) return true;
  auto base = [](const std::string& s) {
    size_t slash = s.find_last_of('/');
    return slash == std::string::npos ? s : s.substr(slash + 1);
  };
  return base(file) == base(wanted);
}

std::vector<uint32_t> LineMap::AddressesOf(const std::string& file, uint32_t line) const {
  std::vector<uint32_t> out;
  for (const Entry& e : entries_)
    if (e.place.line == line && SameSourceFile(e.place.file, file)) out.push_back(e.address);
  return out;
}

uint32_t LineMap::NextLineWithCode(const std::string& file, uint32_t line) const {
  uint32_t best = 0;
  for (const Entry& e : entries_)
    if (e.place.line >= line && (best == 0 || e.place.line < best) &&
        SameSourceFile(e.place.file, file))
      best = e.place.line;
  return best;
}

bool LineMap::ParseSourceLine(const std::string& text, std::string& file, uint32_t& line) const {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 >= text.size() || text.size() - colon > 10)
    return false;
  uint32_t n = 0;
  for (size_t i = colon + 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    n = n * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  if (n == 0) return false;
  const std::string wanted = text.substr(0, colon);
  for (const LineProcedure& p : procedures_) {
    if (SameSourceFile(p.file, wanted)) {
      file = p.file;
      line = n;
      return true;
    }
  }
  return false;
}

bool LineMap::AddressOfLine(const std::string& file, uint32_t line, uint32_t& address) const {
  const uint32_t code_line = NextLineWithCode(file, line);
  if (code_line == 0) return false;
  const std::vector<uint32_t> at = AddressesOf(file, code_line);
  if (at.empty()) return false;
  address = at.front();
  return true;
}

std::vector<std::string> LineMap::Files() const {
  std::vector<std::string> out;
  for (const LineProcedure& p : procedures_)
    if (std::find(out.begin(), out.end(), p.file) == out.end()) out.push_back(p.file);
  return out;
}

bool ReadLineMap(std::FILE* f, const ImageState& image, LineMap& out, std::string& error) {
  out.Clear();
  const CoffSectionHeader& text = image.sections[0];
  if (text.line_count == 0 || !f) return true;
  struct stat st {};
  if (::fstat(fileno(f), &st) != 0) {
    error = "the executable cannot be examined";
    return false;
  }
  const uint64_t file_size = static_cast<uint64_t>(st.st_size);
  // The larger layout must fit; a file of packed entries is checked again below.
  if (text.line_offset == 0 ||
      uint64_t{text.line_offset} + uint64_t{text.line_count} * kPackedLineEntryBytes > file_size) {
    error = "the " + std::to_string(text.line_count) + " line numbers of .text at offset " +
            std::to_string(text.line_offset) + " run past the end of the file";
    return false;
  }
  const CoffFileHeader& h = image.file_header;
  const uint64_t symbols_end = uint64_t{h.symbol_offset} + uint64_t{h.symbol_count} * kSymbolBytes;
  if (h.symbol_count == 0 || symbols_end > file_size) {
    error = "the symbol table the line numbers refer to lies outside the file";
    return false;
  }
  std::vector<uint8_t> symtab, strings, length;
  if (!ReadAt(f, h.symbol_offset, symbols_end - h.symbol_offset, symtab)) {
    error = "the symbol table cannot be read";
    return false;
  }
  if (symbols_end + 4 <= file_size && ReadAt(f, symbols_end, 4, length)) {
    const uint32_t n = Le32(length.data());
    if (n > 4 && n <= file_size - symbols_end) ReadAt(f, symbols_end, n, strings);
  }

  // The symbols by index (auxiliary entries keep their places), each with its .file, and the
  // procedures: a symbol with an auxiliary entry followed by a .bf.
  std::vector<RawSymbol> symbols(h.symbol_count);
  std::map<uint32_t, Procedure> procedures;
  std::string file;
  for (uint32_t i = 0; i < h.symbol_count;) {
    const uint8_t* s = symtab.data() + uint64_t{i} * kSymbolBytes;
    RawSymbol& r = symbols[i];
    r.name = Le32(s) == 0 ? StringAt(strings, Le32(s + 4)) : FixedName(s, 8);
    r.value = Le32(s + 8);
    r.storage_class = s[20];
    r.aux_count = s[21];
    if (r.aux_count > 0 && i + 1 < h.symbol_count) r.aux = s + kSymbolBytes;
    if (r.storage_class == kClassFile && r.aux)
      file =
          Le32(r.aux) == 0 ? StringAt(strings, Le32(r.aux + 4)) : FixedName(r.aux, kFileNameInAux);
    r.file = file;
    if (r.storage_class == kClassFunction && r.name == ".bf" && r.aux) {
      // The function is the symbol just before, with one auxiliary entry.
      if (i >= 2 && symbols[i - 2].aux_count == 1 && symbols[i - 2].aux) {
        const uint8_t* fn_aux = symbols[i - 2].aux;
        procedures[i - 2] = {Le16(r.aux + 4), Le32(fn_aux + 8), Le32(fn_aux + 4)};
      }
    }
    i += 1 + static_cast<uint32_t>(r.aux_count);
  }

  std::string first_error;
  for (uint32_t entry_bytes : {kLineEntryBytes, kPackedLineEntryBytes}) {
    const uint64_t bytes = uint64_t{text.line_count} * entry_bytes;
    if (text.line_offset + bytes > file_size) {
      if (first_error.empty())
        first_error = "the " + std::to_string(text.line_count) +
                      " line numbers of .text at offset " + std::to_string(text.line_offset) +
                      " run past the end of the file";
      continue;
    }
    std::vector<uint8_t> table;
    if (!ReadAt(f, text.line_offset, bytes, table)) continue;
    std::string e;
    if (ParseTable(table, text.line_offset, entry_bytes, text.line_count, symbols, procedures,
                   image, out, e))
      return true;
    if (first_error.empty()) first_error = e;
  }
  out.Clear();
  error = first_error;
  return false;
}

}  // namespace korvane
