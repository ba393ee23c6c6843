// The identifier phase: exclude list, executable headers, the symbol walk with its module list
// and key-code range, and the sorted intercept list.
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/coff_reader.h"
#include "image/ident_table.h"
#include "services/files/files.h"
#include "services/machine.h"

namespace korvane {

namespace {

// An in-place name (8 characters and a terminator) is appended behind the string table, so
// the string table may fill the pool only up to this reserve.
constexpr uint32_t kPoolReserve = 16;
// Characters of one exclude-list read; a longer line continues in the next entry.
constexpr int kExcludeReadChars = 29;
// Characters of an exclude entry's module prefix that must equal the module's base name.
constexpr size_t kModulePrefixChars = 6;

bool SeekTo(std::FILE* f, uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
}

// Reads like a text-mode fgets with room for `max` characters: stops after a line feed or
// `max` characters, so a longer line continues in the next piece; carriage returns are dropped
// (files written on Windows). The line feed is not kept. Returns false at the end of the file when
// nothing was read.
bool ReadExcludePiece(std::FILE* f, int max, std::string& out) {
  out.clear();
  bool any = false;
  while (static_cast<int>(out.size()) < max) {
    int c = std::fgetc(f);
    if (c == EOF) break;
    any = true;
    if (c == '\r') continue;
    if (c == '\n') break;
    out.push_back(static_cast<char>(c));
  }
  // A line of exactly `max` characters ends here; its line end must not become an empty
  // entry of its own, which would end the table and drop every later line.
  if (static_cast<int>(out.size()) == max) {
    int c = std::fgetc(f);
    if (c == '\r') c = std::fgetc(f);
    if (c != '\n' && c != EOF) std::ungetc(c, f);
  }
  return any;
}

void ReadExcludeList(Machine& emu) {
  ImageState& im = emu.image;
  std::string path = ProjectFileName(emu, "xcl");
  std::FILE* f = std::fopen(ResolveInBase(emu, path).c_str(), "r");
  // A folder of that name opens here but holds no exclude list.
  struct stat st {};
  if (f && ::fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);
    f = nullptr;
  }
  if (!f) MsgExitDetail(emu, "EMUIDE: exclude file not found - ", path.c_str());
  int n = im.ident_count;
  std::string piece;
  while (n < kIdentCapacity && ReadExcludePiece(f, kExcludeReadChars, piece)) {
    IdentEntry& e = im.idents[n++];
    e = IdentEntry{};
    std::memcpy(e.name, piece.data(), piece.size());  // at most 29 characters
  }
  std::fclose(f);
  // An empty line ends the table there: the count stops at the first empty name.
  int count = 0;
  while (count < n && im.idents[count].name[0] != '\0') ++count;
  im.ident_count = count;
}

// The part of a module's file name after the last folder separator, up to the first ".".
std::string BaseName(const std::string& file) {
  size_t slash = file.find_last_of("\\/");
  std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  size_t dot = base.find('.');
  return dot == std::string::npos ? base : base.substr(0, dot);
}

// Index of the first exclude entry "^_PREFIX" naming this module, or 0. The prefix must
// equal the base name's first characters (six at most); a bare "^_" names no module.
int FindModuleEntry(const ImageState& im, const std::string& base) {
  for (int i = 1; i < im.ident_count; ++i) {
    const char* name = im.idents[i].name;
    if (name[0] != '^' || name[1] != '_') continue;
    size_t n = std::min(std::strlen(name + 2), kModulePrefixChars);
    if (n > 0 && base.compare(0, n, name + 2, n) == 0) return i;
  }
  return 0;
}

bool InRange(uint32_t v, uint32_t first, uint32_t size) {
  return size != 0 && static_cast<uint64_t>(v) - first < size && v >= first;
}

void CopyName32(char (&dst)[32], const std::string& src) {
  std::memset(dst, 0, sizeof dst);
  std::memcpy(dst, src.data(), std::min(src.size(), sizeof dst - 1));
}

struct Walk {
  Machine& emu;
  std::FILE* f;
  uint32_t body_len = 0;  // string table body in the pool, from pool offset 0
  int pending = 0;        // exclude entry waiting for its module's .text

  // Name at string-table offset `off`, or false when outside the table.
  bool StringName(uint32_t off, std::string& out) const {
    if (off < 4 || off - 4 >= body_len) return false;
    const char* p = emu.image.name_pool.get() + (off - 4);
    out.assign(p, strnlen(p, body_len - (off - 4)));
    return true;
  }

  // An eight-byte in-place name: appended behind the string table with a terminator and
  // dropped again after the symbol.
  std::string InPlaceName(const uint8_t* p) {
    ImageState& im = emu.image;
    char* slot = im.name_pool.get() + im.pool_level;
    std::memcpy(slot, p, 8);
    slot[8] = '\0';
    return std::string(slot, strnlen(slot, 8));
  }

  void KeySymbol(const std::string& name, uint32_t value) {
    ImageState& im = emu.image;
    if (name.compare(0, 2, "N_") != 0 || name == "N_NOKEY") return;
    if (!InRange(value, im.bss_first, im.opt_header.bss_size)) return;
    if (im.n_min == 0 || im.n_min > value) {
      im.n_min = value;
      CopyName32(im.s_min, name);
    }
    if (im.n_max == 0 || im.n_max < value) {
      im.n_max = value;
      CopyName32(im.s_max, name);
    }
  }

  void Resolve(const std::string& name, uint32_t value) {
    ImageState& im = emu.image;
    if (name.size() >= sizeof im.idents[0].name) return;  // cannot equal any entry
    for (int i = 1; i < im.ident_count; ++i) {
      // Most entries differ in their first character; the full comparison is for the rest.
      if (im.idents[i].name[0] != name[0]) continue;
      if (name == im.idents[i].name) im.idents[i].start = im.idents[i].end = value;
    }
  }

  // Runs the walk; returns normally also when it stops early (with a log line saying why).
  void Run() {
    ImageState& im = emu.image;
    const uint32_t count = im.file_header.symbol_count;
    if (!SeekTo(f, im.file_header.symbol_offset)) return;
    uint64_t i = 0;
    while (i < count) {
      uint8_t sym[kSymbolBytes];
      if (std::fread(sym, 1, sizeof sym, f) != sizeof sym) {
        emu.log.Printf(
            "EMUIDE: symbol table ends at entry %llu of %lu (end of file), walk "
            "stopped\n",
            static_cast<unsigned long long>(i), static_cast<unsigned long>(count));
        return;
      }
      std::string name;
      if (Le32(sym) == 0) {
        if (!StringName(Le32(sym + 4), name)) {
          emu.log.Printf(
              "EMUIDE: symbol %llu names string-table offset %lu outside the table, "
              "walk stopped\n",
              static_cast<unsigned long long>(i), static_cast<unsigned long>(Le32(sym + 4)));
          return;
        }
      } else {
        name = InPlaceName(sym);
      }
      const uint32_t value = Le32(sym + 8);
      const int aux_count = sym[21];
      uint8_t aux[kSymbolBytes] = {};
      bool has_aux = false;
      if (aux_count > 0) {
        if (std::fread(aux, 1, sizeof aux, f) != sizeof aux) {
          emu.log.Printf(
              "EMUIDE: auxiliary entry of symbol %llu past the end of the file, "
              "walk stopped\n",
              static_cast<unsigned long long>(i));
          return;
        }
        has_aux = true;
      }
      Symbol(name, value, sym[20], has_aux ? aux : nullptr);
      // The remaining auxiliary entries are passed over.
      if (aux_count > 1 &&
          fseeko(f, static_cast<off_t>(aux_count - 1) * kSymbolBytes, SEEK_CUR) != 0) {
        return;
      }
      i += 1 + static_cast<uint64_t>(aux_count);
    }
  }

  // Storage classes whose values are no addresses: locals, arguments, members, tags, types,
  // and the debugging entries of blocks and functions (.bb, .bf ...).
  static bool NamesNoAddress(uint8_t storage_class) {
    switch (storage_class) {
      case 1:
      case 4:
      case 8:
      case 9:
      case 10:
      case 11:
      case 12:
      case 13:
      case 15:
      case 16:
      case 17:
      case 18:
      case 100:
      case 101:
      case 102:
        return true;
      default:
        return false;
    }
  }

  void Symbol(const std::string& name, uint32_t value, uint8_t storage_class, const uint8_t* aux) {
    ImageState& im = emu.image;
    const uint32_t length = aux ? Le32(aux) : 0;
    if (name == ".file") {
      ++im.module_count;
      std::string file;
      if (aux) {
        if (Le32(aux) == 0) {
          if (!StringName(Le32(aux + 4), file)) file.clear();
        } else {
          file.assign(reinterpret_cast<const char*>(aux),
                      strnlen(reinterpret_cast<const char*>(aux), 8));
        }
      }
      emu.log.Printf("\nMODULE %16.16s: ", file.c_str());
      if (im.module_count <= kModuleCapacity) CopyName32(im.modules[im.module_count].name, file);
      pending = FindModuleEntry(im, BaseName(file));
    } else if (name == ".text") {
      if (im.module_count >= 1 && im.module_count <= kModuleCapacity) {
        im.modules[im.module_count].text_start = value;
        im.modules[im.module_count].text_length = length;
      }
      emu.log.Printf("TEXT=%08lX..%08lX  ", static_cast<unsigned long>(value),
                     static_cast<unsigned long>(value + length - 1));
      if (pending != 0) {
        im.idents[pending].start = value;
        im.idents[pending].end = value + length - 1;
        pending = 0;
      }
    } else if (name == ".data") {
      emu.log.Printf("DATA=%08lX..%08lX  ", static_cast<unsigned long>(value),
                     static_cast<unsigned long>(value + length - 1));
    } else if (name == ".bss") {
      emu.log.Printf("BSS=%08lX  ", static_cast<unsigned long>(value));
    } else {
      KeySymbol(name, value);
      Resolve(name, value);
      if (!NamesNoAddress(storage_class)) im.symbols[name] = value;
    }
  }
};

void LoadStringTable(Machine& emu, Walk& walk) {
  ImageState& im = emu.image;
  const uint64_t at = static_cast<uint64_t>(im.file_header.symbol_offset) +
                      static_cast<uint64_t>(kSymbolBytes) * im.file_header.symbol_count;
  uint8_t len_bytes[4];
  if (!SeekTo(walk.f, at) || std::fread(len_bytes, 1, 4, walk.f) != 4) return;
  const uint32_t length = Le32(len_bytes);
  if (length <= 4) return;  // no body: every name offset is out of range
  const uint32_t body = length - 4;
  if (body > kNamePoolSize - kPoolReserve) {
    emu.log.Printf(
        "EMUIDE: string table of %lu bytes does not fit the name pool, its names "
        "stay unresolved\n",
        static_cast<unsigned long>(body));
    return;
  }
  // The pool holds kNamePoolSize bytes at most but takes only what this table needs.
  char* pool = static_cast<char*>(std::calloc(body + kPoolReserve, 1));
  if (!pool) {
    emu.log.Printf("EMUIDE: no memory for a string table of %lu bytes, its names stay unresolved\n",
                   static_cast<unsigned long>(body));
    return;
  }
  im.name_pool.reset(pool);
  size_t got = std::fread(im.name_pool.get(), 1, body, walk.f);
  if (got != body) {
    emu.log.Printf("EMUIDE: string table cut short by the end of the file (%lu of %lu bytes)\n",
                   static_cast<unsigned long>(got), static_cast<unsigned long>(body));
  }
  walk.body_len = static_cast<uint32_t>(got);
  im.pool_level = walk.body_len;
}

void BuildInterceptList(ImageState& im) {
  im.intercepts.clear();
  const uint32_t text_size = im.opt_header.text_size;
  for (int i = 0; i < im.ident_count; ++i) {
    IdentEntry* e = &im.idents[i];
    if (e->start == 0 || e->end == 0) continue;
    if (!InRange(e->start, im.text_first, text_size) || !InRange(e->end, im.text_first, text_size))
      continue;
    auto pos = std::find_if(im.intercepts.begin(), im.intercepts.end(),
                            [e](const IdentEntry* x) { return x->start >= e->end; });
    im.intercepts.insert(pos, e);
  }
  im.intercept_last = static_cast<int>(im.intercepts.size()) - 1;
}

void PrintIdentTables(Machine& emu) {
  ImageState& im = emu.image;
  emu.log.Printf("\nIntercept entries = %d\n", im.ident_count);
  auto line = [&](int index, const IdentEntry& e) {
    emu.log.Printf("%3d %08lX %08lX %s\n", index, static_cast<unsigned long>(e.start),
                   static_cast<unsigned long>(e.end), e.name);
  };
  for (int i = 0; i < im.ident_count; ++i) line(i, im.idents[i]);
  for (int k = 0; k <= im.intercept_last; ++k) line(k, *im.intercepts[k]);
  emu.log.Printf("\nN_min=%08lX, N_max=%08lX\n", static_cast<unsigned long>(im.n_min),
                 static_cast<unsigned long>(im.n_max));
  emu.log.Printf("s_min=%s, s_max=%s\n", im.s_min, im.s_max);
}

}  // namespace

bool InitEmuIdents(Machine& emu) {
  ImageState& im = emu.image;
  im.name_pool.reset(static_cast<char*>(std::calloc(kPoolReserve, 1)));
  if (!im.name_pool) return false;
  im.pool_level = 0;

  FillFixedIdents(im.idents);
  im.ident_count = 0;
  while (im.ident_count < kIdentCapacity && im.idents[im.ident_count].name[0] != '\0')
    ++im.ident_count;

  ReadExcludeList(emu);

  im.exe_path = ProjectFileName(emu, "out");
  if (im.exe) std::fclose(im.exe);
  im.exe = std::fopen(ResolveInBase(emu, im.exe_path).c_str(), "rb");
  if (!im.exe) MsgExitDetail(emu, "EMUIDE: emulate file not found - ", im.exe_path.c_str());

  im.module_count = 0;
  im.symbols.clear();
  im.lines.Clear();
  for (auto& m : im.modules) m = Module{};
  switch (ReadCoffHeaders(im.exe, im)) {
    case HeaderResult::kOk:
      break;
    case HeaderResult::kNotExecutable:
      std::fclose(im.exe);
      im.exe = nullptr;
      MsgExit(emu, "EMUIDE: Non EXEC .out file");
    case HeaderResult::kShortOptional:
      MsgExitDetail(emu, "EMUIDE: optional header shorter than 32 bytes - ", im.exe_path.c_str());
    case HeaderResult::kTruncated:
      MsgExitDetail(emu, "EMUIDE: .out file ends inside its headers - ", im.exe_path.c_str());
  }

  Walk walk{emu, im.exe};
  LoadStringTable(emu, walk);
  walk.Run();
  im.pool_level = walk.body_len;

  if (im.module_count >= 1 && im.module_count < kModuleCapacity) {
    const Module& last = im.modules[im.module_count];
    im.modules[im.module_count + 1].text_start = last.text_start + last.text_length;
  }

  im.symbols_by_address.clear();
  for (const auto& [name, value] : im.symbols) im.symbols_by_address.emplace_back(value, name);
  std::sort(im.symbols_by_address.begin(), im.symbols_by_address.end());

  std::string line_error;
  if (!ReadLineMap(im.exe, im, im.lines, line_error))
    emu.log.Printf("EMUIDE: line numbers ignored - %s\n", line_error.c_str());

  BuildInterceptList(im);
  PrintIdentTables(emu);
  InitFileServices(emu);
  return true;
}

}  // namespace korvane
