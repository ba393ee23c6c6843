// The executable image: COFF headers, the identifier table, symbols and modules, and the
// image phase that builds guest memory from the executable.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "image/line_map.h"

namespace korvane {

struct Machine;
using NativeHandler = void (*)(Machine&);

constexpr int kIdentCapacity = 500;
constexpr int kFixedIdentCount = 152;
constexpr int kModuleCapacity = 227;
constexpr int kNamePoolSize = 0x100000;

// COFF headers as the emulator reads them (all little-endian in the file).
struct CoffFileHeader {
  uint16_t magic = 0;
  uint16_t section_count = 0;
  uint32_t time_stamp = 0;
  uint32_t symbol_offset = 0;
  uint32_t symbol_count = 0;
  uint16_t optional_size = 0;
  uint16_t flags = 0;
};
constexpr uint16_t kCoffExecutable = 0x0002;

struct CoffOptionalHeader {
  uint16_t magic = 0;
  uint16_t version = 0;
  uint32_t text_size = 0;
  uint32_t data_size = 0;
  uint32_t bss_size = 0;
  uint32_t entry = 0;
  uint32_t text_start = 0;
  uint32_t data_start = 0;
  uint32_t tag_entries = 0;
};

struct CoffSectionHeader {
  char name[9] = {};  // eight characters and a terminator
  uint32_t paddr = 0;
  uint32_t vaddr = 0;
  uint32_t size = 0;
  uint32_t data_offset = 0;
  uint32_t reloc_offset = 0;
  uint32_t line_offset = 0;
  uint16_t reloc_count = 0;
  uint16_t line_count = 0;
  uint32_t flags = 0;
  uint32_t alignment = 0;
};

constexpr int kFileHeaderBytes = 20;
constexpr int kOptionalHeaderBytes = 32;
constexpr int kSectionHeaderBytes = 44;
constexpr int kSymbolBytes = 24;
constexpr int kSectionCount = 5;  // .text .data .bss .absd .info, used by position

struct IdentEntry {
  char name[32] = {};
  uint32_t start = 0;
  uint32_t end = 0;
  NativeHandler handler = nullptr;
  uint32_t flags = 0;  // 2: the guest routine runs after the handler
};

struct Module {
  char name[32] = {};
  uint32_t text_start = 0;
  uint32_t text_length = 0;
};

struct ImageState {
  std::FILE* exe = nullptr;  // the open executable, from the identifier phase to the image phase
  std::string exe_path;
  CoffFileHeader file_header;
  CoffOptionalHeader opt_header;
  CoffSectionHeader sections[kSectionCount];
  uint32_t text_first = 0, text_last = 0;  // text range, inclusive
  uint32_t bss_first = 0, bss_last = 0;    // bss range, inclusive

  IdentEntry idents[kIdentCapacity];
  int ident_count = 0;
  std::vector<IdentEntry*> intercepts;  // sorted by start
  int intercept_last = -1;

  // Zero-filled, sized to the string table (at most kNamePoolSize) plus room for one name.
  struct FreePool {
    void operator()(char* p) const { std::free(p); }
  };
  std::unique_ptr<char[], FreePool> name_pool;
  uint32_t pool_level = 0;

  Module modules[kModuleCapacity + 2];  // numbered from 1; one more for the end mark
  int module_count = 0;

  // Every named symbol of the walk (section and file symbols aside), the later of two
  // symbols of one name winning; front-ends use it to name guest data (korvane-run --dump).
  std::unordered_map<std::string, uint32_t> symbols;
  // The same symbols sorted by address (then name), built at the end of the symbol walk, for
  // naming addresses in debugger output.
  std::vector<std::pair<uint32_t, std::string>> symbols_by_address;

  // Source lines of the text, from the executable's line numbers (empty without them).
  LineMap lines;
  // Folders searched for source files after the project's and the executable's own
  // (korvane-run --source-dir).
  std::vector<std::string> source_dirs;

  uint32_t n_min = 0, n_max = 0;
  char s_min[32] = {}, s_max[32] = {};

  ~ImageState();
};

// The identifier phase: exclude list, headers, symbol walk, intercept list.
bool InitEmuIdents(Machine& emu);
// The image phase: regions, sections, memory file, first frame, display routines, opcode index.
bool InitEmuExec(Machine& emu);

// Guest address of the first identifier entry named `name`, or 0.
uint32_t LookupIdent(const Machine& emu, const char* name);
// Writes "IP=%08lX=%s+0x%lX" for the module holding `address`, nothing when none does.
void DescribeAddress(Machine& emu, uint32_t address);
// "module:symbol" of the nearest symbol at or below `address` ("symbol" outside every module)
// and the offset from it; false when no symbol lies at or below it.
bool NameAddress(const Machine& emu, uint32_t address, std::string& name, uint32_t& offset);

// Replaces the extension of a project name (everything from the first "." after the last "\"
// or "/"), or appends "." and the extension when there is none. The name is first cut at its
// first line end (the project line's last word carries it).
std::string ReplaceExtension(const std::string& name, const char* ext);
// The project name with extension `ext`; a name too long for the 68-byte name buffer ends the
// run through MsgExit instead of being cut.
std::string ProjectFileName(Machine& emu, const char* ext);
// Where a name of the project resolves on the host: absolute names as they are, others inside
// the machine's base folder.
std::string ResolveInBase(const Machine& emu, const std::string& name);
// ProjectFileName resolved in the base folder, for opening the file.
std::string ProjectFilePath(Machine& emu, const char* ext);

}  // namespace korvane
