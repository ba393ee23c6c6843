// Test support (header-only): hand-made i960 COFF executables (headers, sections, symbols, string
// table) and throw-away project folders, so loader and symbol cases need no tool chain.
#pragma once

#include <stdlib.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver/emulator.h"

namespace korvane::test {

struct CoffSymbol {
  std::string name;  // names longer than 8 characters go to the string table
  uint32_t value = 0;
  uint8_t storage_class = 2;
  std::vector<std::array<uint8_t, 24>> aux;
};

struct CoffImage {
  uint16_t flags = 0x0002;
  uint16_t optional_size = 32;  // extra declared bytes are written as zeros
  uint32_t entry = 0x10000;
  uint32_t text_start = 0x10000;
  std::vector<uint8_t> text = std::vector<uint8_t>(16, 0);
  uint32_t data_start = 0;  // 0: right after the text, 8-aligned
  std::vector<uint8_t> data = std::vector<uint8_t>(8, 0);
  uint32_t bss_size = 16;
  uint32_t absd_address = 0x200000;
  uint32_t absd_size = 64;
  std::vector<CoffSymbol> symbols;
  int64_t symbol_count_override = -1;   // >= 0: the header declares this count
  int64_t string_length_override = -1;  // >= 0: the string table's length word

  uint32_t DataStart() const;
  uint32_t BssStart() const { return DataStart() + static_cast<uint32_t>(data.size()); }

  // A module: ".file" with its name in the first auxiliary entry, then ".text" with its length.
  void AddModule(const std::string& file, uint32_t text_value, uint32_t text_length);
  void AddSymbol(const std::string& name, uint32_t value, uint8_t storage_class = 2);

  std::vector<uint8_t> Build() const;
};

// A temporary project folder "/tmp/korvane_image_XXXXXX" (no dot in its name), removed at the end.
class ProjectDir {
 public:
  ProjectDir();
  ~ProjectDir();
  ProjectDir(const ProjectDir&) = delete;
  ProjectDir& operator=(const ProjectDir&) = delete;

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
  void Write(const std::string& name, const std::string& text) const;
  std::vector<uint8_t> Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  const std::string& dir() const { return dir_; }

  // Writes x.out, an empty x.xcl (unless given) and an empty x.mem (unless present).
  void WriteProject(const CoffImage& image, const std::string& xcl = "") const;

 private:
  std::string dir_;
};

// Runs the option, identifier and image phases for the project line `words` (the last word
// names the project) with the log captured. Returns false when a phase ended the run
// (MsgExit/EmuAbort); the message is then in emu.exit.message.
bool LoadProject(Emulator& emu, const std::vector<std::string>& words);

// ---- implementation (header-only: every test program that needs it includes it) ----

namespace coff_detail {

inline void Put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(v & 0xFF);
  b.push_back(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
}
inline void Set32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF;
}

inline void PutSection(std::vector<uint8_t>& b, const char* name, uint32_t vaddr, uint32_t size,
                       uint32_t offset) {
  char n[8] = {};
  for (int i = 0; i < 8 && name[i]; ++i) n[i] = name[i];
  b.insert(b.end(), n, n + 8);
  Put32(b, vaddr);
  Put32(b, vaddr);
  Put32(b, size);
  Put32(b, offset);
  Put32(b, 0);
  Put32(b, 0);
  Put16(b, 0);
  Put16(b, 0);
  Put32(b, 0);
  Put32(b, 8);
}

}  // namespace coff_detail

using namespace coff_detail;

inline uint32_t CoffImage::DataStart() const {
  if (data_start) return data_start;
  return (text_start + static_cast<uint32_t>(text.size()) + 7) & ~7u;
}

inline void CoffImage::AddModule(const std::string& file, uint32_t text_value,
                                 uint32_t text_length) {
  CoffSymbol f{".file", 0, 103, {}};
  std::array<uint8_t, 24> aux{};
  // Long file names are marked for the string table (filled in by Build).
  if (file.size() <= 8) {
    for (size_t i = 0; i < file.size(); ++i) aux[i] = static_cast<uint8_t>(file[i]);
    f.aux.push_back(aux);
  } else {
    f.aux.push_back(aux);
    f.name = ".file:" + file;  // Build() turns this into ".file" with a string-table name
  }
  symbols.push_back(f);
  CoffSymbol t{".text", text_value, 3, {}};
  std::array<uint8_t, 24> len{};
  Set32(len.data(), text_length);
  t.aux.push_back(len);
  symbols.push_back(t);
}

inline void CoffImage::AddSymbol(const std::string& name, uint32_t value, uint8_t storage_class) {
  symbols.push_back({name, value, storage_class, {}});
}

inline std::vector<uint8_t> CoffImage::Build() const {
  const uint32_t sections_end = 20 + optional_size + 5 * 44;
  const uint32_t text_off = sections_end;
  const uint32_t data_off = text_off + static_cast<uint32_t>(text.size());
  const uint32_t sym_off = data_off + static_cast<uint32_t>(data.size());

  std::vector<uint8_t> strings;  // string table body
  auto string_offset = [&](const std::string& s) {
    uint32_t off = 4 + static_cast<uint32_t>(strings.size());
    strings.insert(strings.end(), s.begin(), s.end());
    strings.push_back(0);
    return off;
  };
  std::vector<uint8_t> syms;
  uint32_t count = 0;
  for (CoffSymbol s : symbols) {
    std::array<uint8_t, 24> e{};
    if (s.name.rfind(".file:", 0) == 0) {
      Set32(s.aux[0].data() + 4, string_offset(s.name.substr(6)));
      s.name = ".file";
    }
    if (s.name.size() <= 8) {
      for (size_t i = 0; i < s.name.size(); ++i) e[i] = static_cast<uint8_t>(s.name[i]);
    } else {
      Set32(e.data() + 4, string_offset(s.name));
    }
    Set32(e.data() + 8, s.value);
    e[20] = s.storage_class;
    e[21] = static_cast<uint8_t>(s.aux.size());
    syms.insert(syms.end(), e.begin(), e.end());
    for (const auto& a : s.aux) syms.insert(syms.end(), a.begin(), a.end());
    count += 1 + static_cast<uint32_t>(s.aux.size());
  }

  std::vector<uint8_t> b;
  Put16(b, 0x160);
  Put16(b, 5);
  Put32(b, 0);
  Put32(b, sym_off);
  Put32(b, symbol_count_override >= 0 ? static_cast<uint32_t>(symbol_count_override) : count);
  Put16(b, optional_size);
  Put16(b, flags);
  Put16(b, 0x10B);
  Put16(b, 0);
  Put32(b, static_cast<uint32_t>(text.size()));
  Put32(b, static_cast<uint32_t>(data.size()));
  Put32(b, bss_size);
  Put32(b, entry);
  Put32(b, text_start);
  Put32(b, DataStart());
  Put32(b, 0);
  b.resize(20 + optional_size, 0);
  PutSection(b, ".text", text_start, static_cast<uint32_t>(text.size()), text_off);
  PutSection(b, ".data", DataStart(), static_cast<uint32_t>(data.size()), data_off);
  PutSection(b, ".bss", BssStart(), bss_size, 0);
  PutSection(b, ".absd", absd_address, absd_size, 0);
  PutSection(b, ".info", 0, 1, 0);
  b.insert(b.end(), text.begin(), text.end());
  b.insert(b.end(), data.begin(), data.end());
  b.insert(b.end(), syms.begin(), syms.end());
  Put32(b, string_length_override >= 0 ? static_cast<uint32_t>(string_length_override)
                                       : 4 + static_cast<uint32_t>(strings.size()));
  b.insert(b.end(), strings.begin(), strings.end());
  return b;
}

inline ProjectDir::ProjectDir() {
  char tmpl[] = "/tmp/korvane_image_XXXXXX";
  if (mkdtemp(tmpl)) dir_ = tmpl;
}

inline ProjectDir::~ProjectDir() {
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

inline void ProjectDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  std::ofstream f(Path(name), std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void ProjectDir::Write(const std::string& name, const std::string& text) const {
  Write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

inline std::vector<uint8_t> ProjectDir::Read(const std::string& name) const {
  std::ifstream f(Path(name), std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

inline bool ProjectDir::Exists(const std::string& name) const {
  return std::filesystem::exists(Path(name));
}

inline void ProjectDir::WriteProject(const CoffImage& image, const std::string& xcl) const {
  Write("x.out", image.Build());
  Write("x.xcl", xcl);
  if (!Exists("x.mem")) Write("x.mem", std::string());
}

inline bool LoadProject(Emulator& emu, const std::vector<std::string>& words) {
  emu.log.SetCapture(true);
  emu.SetArgs(words);
  try {
    if (!ReadOptions(emu, static_cast<int>(emu.argv.size()), emu.argv.data()))
      EmuAbort(emu, UsageText());
    if (!InitEmuIdents(emu)) EmuAbort(emu, " InitEmuIdents ");
    if (!InitEmuExec(emu)) EmuAbort(emu, " InitEmuExec ");
  } catch (const EmuExitSignal&) {
    return false;
  }
  return true;
}

}  // namespace korvane::test
