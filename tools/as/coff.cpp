// A bounds-checked reader of i960 COFF executables, for the disassembler command and tests.
#include "as/coff.h"

#include <cstring>

namespace korvane::as {

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

std::string FixedName(const uint8_t* p, size_t n) {
  size_t len = 0;
  while (len < n && p[len] != 0) ++len;
  return std::string(reinterpret_cast<const char*>(p), len);
}

std::string StringAt(const std::vector<uint8_t>& table, uint32_t offset) {
  if (offset < 4 || offset >= table.size()) return "";
  size_t end = offset;
  while (end < table.size() && table[end] != 0) ++end;
  return std::string(reinterpret_cast<const char*>(table.data() + offset), end - offset);
}

}  // namespace

std::vector<uint8_t> CoffFile::SectionData(const std::vector<uint8_t>& file, int i) const {
  if (i < 0 || i >= static_cast<int>(sections.size())) return {};
  const CoffSection& s = sections[i];
  if (s.scnptr == 0 || s.size == 0 || s.scnptr > file.size() || s.size > file.size() - s.scnptr) return {};
  return std::vector<uint8_t>(file.begin() + s.scnptr, file.begin() + s.scnptr + s.size);
}

std::string CoffFile::FileName(const CoffSymbol& s) const {
  if (s.aux.empty()) return "";
  const uint8_t* a = s.aux[0].data();
  if (Get32(a) == 0) return StringAt(string_table, Get32(a + 4));
  return FixedName(a, 14);
}

bool ReadCoff(const std::vector<uint8_t>& file, CoffFile* out, std::string* error) {
  *out = CoffFile{};
  if (file.size() < kFileHeaderSize + kOptHeaderSize) {
    *error = "file too short for the COFF headers";
    return false;
  }
  const uint8_t* p = file.data();
  out->magic = Get16(p);
  out->section_count = Get16(p + 2);
  out->timestamp = Get32(p + 4);
  out->symtab_offset = Get32(p + 8);
  out->symbol_count = Get32(p + 12);
  out->opt_size = Get16(p + 16);
  out->flags = Get16(p + 18);
  if (out->opt_size < kOptHeaderSize) {
    *error = "optional header shorter than 32 bytes";
    return false;
  }
  const uint8_t* o = p + kFileHeaderSize;
  out->opt_magic = Get16(o);
  out->vstamp = Get16(o + 2);
  out->tsize = Get32(o + 4);
  out->dsize = Get32(o + 8);
  out->bsize = Get32(o + 12);
  out->entry = Get32(o + 16);
  out->text_start = Get32(o + 20);
  out->data_start = Get32(o + 24);
  out->tag_entries = Get32(o + 28);
  size_t sh = kFileHeaderSize + out->opt_size;
  if (sh + kCoffSectionCount * kSectionHeaderSize > file.size()) {
    *error = "file too short for five section headers";
    return false;
  }
  for (int i = 0; i < kCoffSectionCount; ++i) {
    const uint8_t* s = p + sh + i * kSectionHeaderSize;
    CoffSection sec;
    sec.name = FixedName(s, 8);
    sec.paddr = Get32(s + 8);
    sec.vaddr = Get32(s + 12);
    sec.size = Get32(s + 16);
    sec.scnptr = Get32(s + 20);
    sec.relptr = Get32(s + 24);
    sec.lnnoptr = Get32(s + 28);
    sec.nreloc = Get16(s + 32);
    sec.nlnno = Get16(s + 34);
    sec.flags = Get32(s + 36);
    sec.align = Get32(s + 40);
    out->sections.push_back(sec);
  }
  if (out->symbol_count == 0) return true;
  uint64_t symtab_end = out->symtab_offset + uint64_t{kSymbolSize} * out->symbol_count;
  if (out->symtab_offset > file.size() || symtab_end > file.size()) {
    *error = "symbol table outside the file";
    return false;
  }
  if (symtab_end + 4 <= file.size()) {
    uint32_t len = Get32(p + symtab_end);
    if (len >= 4 && len <= file.size() - symtab_end)
      out->string_table.assign(file.begin() + static_cast<long>(symtab_end),
                               file.begin() + static_cast<long>(symtab_end + len));
  }
  for (uint32_t i = 0; i < out->symbol_count;) {
    const uint8_t* s = p + out->symtab_offset + uint64_t{kSymbolSize} * i;
    CoffSymbol sym;
    sym.index = i;
    sym.name = Get32(s) == 0 ? StringAt(out->string_table, Get32(s + 4)) : FixedName(s, 8);
    sym.value = Get32(s + 8);
    sym.section = static_cast<int16_t>(Get16(s + 12));
    sym.flags = Get16(s + 14);
    sym.type = Get32(s + 16);
    sym.storage_class = s[20];
    uint8_t naux = s[21];
    ++i;
    for (uint8_t k = 0; k < naux && i < out->symbol_count; ++k, ++i) {
      std::array<uint8_t, kSymbolSize> a;
      std::memcpy(a.data(), p + out->symtab_offset + uint64_t{kSymbolSize} * i, kSymbolSize);
      sym.aux.push_back(a);
    }
    out->symbols.push_back(std::move(sym));
  }
  return true;
}

}  // namespace korvane::as
