// The i960 COFF executable layout: file header, optional header, five section headers, symbol
// table with auxiliary entries and string table; a bounds-checked reader for tools and tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::as {

constexpr uint16_t kCoffMagic = 0x0160;  // i960 little-endian
constexpr uint16_t kCoffFlags =
    0x1107;  // relocations stripped, executable, no line numbers, 32-bit little-endian, i960 core
constexpr uint16_t kCoffFlagExec = 0x0002;
constexpr uint16_t kCoffFlagNoLines = 0x0004;
constexpr uint16_t kOptMagic = 0x0108;
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kOptHeaderSize = 32;
constexpr uint32_t kSectionHeaderSize = 44;
constexpr uint32_t kSymbolSize = 24;
// A line-number entry: symbol index or address (4 bytes), line (2 bytes) and 2 bytes of
// padding that keep the i960 entries word aligned.
constexpr uint32_t kLineEntrySize = 8;
constexpr int kCoffSectionCount = 5;

// Section header flags of the five output sections.
constexpr uint32_t kStypText = 0x20, kStypData = 0x40, kStypBss = 0x80, kStypNoload = 0x02;
constexpr uint32_t kSectionAlignment = 8;

// Storage classes and special section numbers of symbols.
constexpr uint8_t kClassExternal = 2, kClassStatic = 3, kClassLabel = 6, kClassFunction = 101,
                  kClassFile = 103;
// The type of a function symbol: derived type "function" (2) above the 5 bits of the basic type.
constexpr uint32_t kTypeFunction = 2u << 5;
constexpr int16_t kSectionNumberAbsolute = -1, kSectionNumberDebug = -2;

struct CoffSection {
  std::string name;
  uint32_t paddr = 0, vaddr = 0, size = 0, scnptr = 0, relptr = 0, lnnoptr = 0;
  uint16_t nreloc = 0, nlnno = 0;
  uint32_t flags = 0, align = 0;
};

struct CoffSymbol {
  uint32_t index = 0;  // position in the table, auxiliary entries counted
  std::string name;
  uint32_t value = 0;
  int16_t section = 0;
  uint16_t flags = 0;
  uint32_t type = 0;
  uint8_t storage_class = 0;
  std::vector<std::array<uint8_t, kSymbolSize>> aux;
};

struct CoffFile {
  uint16_t magic = 0, section_count = 0, opt_size = 0, flags = 0;
  uint32_t timestamp = 0, symtab_offset = 0, symbol_count = 0;
  uint16_t opt_magic = 0, vstamp = 0;
  uint32_t tsize = 0, dsize = 0, bsize = 0, entry = 0, text_start = 0, data_start = 0,
           tag_entries = 0;
  std::vector<CoffSection> sections;  // the five headers
  std::vector<CoffSymbol> symbols;

  // The raw bytes of a section (empty when it has none or they lie outside the file).
  std::vector<uint8_t> SectionData(const std::vector<uint8_t>& file, int i) const;
  // The name in a .file symbol's first auxiliary entry.
  std::string FileName(const CoffSymbol& s) const;
  std::vector<uint8_t> string_table;  // including its 4-byte length
};

// Reads the headers and the symbol table. Returns false with a message for a file that is not
// a complete executable in this layout.
bool ReadCoff(const std::vector<uint8_t>& file, CoffFile* out, std::string* error);

}  // namespace korvane::as
