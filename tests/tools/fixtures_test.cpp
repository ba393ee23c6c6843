// Checks of the tool chain against files made by a real i960 GNU tool chain: encodings,
// executable layout, symbol table and disassembly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include "as/assembler.h"
#include "as/coff.h"
#include "core/disassembler.h"
#include "support/snippet.h"

namespace korvane::as {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::string s = ReadText(path);
  return std::vector<uint8_t>(s.begin(), s.end());
}

#define REQUIRE_FIXTURES(dir)                                                                    \
  std::string dir = test::FixturesDir();                                                         \
  ASSERT_FALSE(dir.empty()) << "tests/data/fixtures is missing from this clone"

// The comparable content of a symbol: name, value, section, storage class and the length in its
// first auxiliary entry (section symbols) or the file name (.file symbols). Symbol order and
// the relocation counts that the GNU assembler leaves in auxiliary entries are not compared.
using SymbolKey = std::tuple<std::string, uint32_t, int, int, std::string>;

std::multiset<SymbolKey> Symbols(const CoffFile& f, bool with_locals) {
  std::multiset<SymbolKey> out;
  for (const CoffSymbol& s : f.symbols) {
    if (!with_locals && s.storage_class == kClassLabel) continue;
    std::string aux;
    if (s.storage_class == kClassFile) aux = f.FileName(s);
    else if (!s.aux.empty())
      aux = std::to_string(s.aux[0][0] | s.aux[0][1] << 8 | s.aux[0][2] << 16 | s.aux[0][3] << 24);
    // A .file symbol's value is an index into the table, which depends on the symbol order.
    uint32_t value = s.storage_class == kClassFile ? 0 : s.value;
    out.emplace(s.name, value, s.section, s.storage_class, aux);
  }
  return out;
}

void ExpectSameExecutable(const std::vector<uint8_t>& mine, const std::vector<uint8_t>& ref, bool with_locals) {
  CoffFile a, b;
  std::string err;
  ASSERT_TRUE(ReadCoff(mine, &a, &err)) << err;
  ASSERT_TRUE(ReadCoff(ref, &b, &err)) << err;
  // Headers and every section's bytes sit before the symbol table: all identical.
  ASSERT_EQ(a.symtab_offset, b.symtab_offset);
  EXPECT_TRUE(std::equal(mine.begin(), mine.begin() + a.symtab_offset, ref.begin()))
      << "headers or section contents differ";
  EXPECT_EQ(a.symbol_count, b.symbol_count);
  EXPECT_EQ(Symbols(a, with_locals), Symbols(b, with_locals));
}

TEST(Fixtures, EncodingsAssembleToTheReferenceExecutable) {
  REQUIRE_FIXTURES(dir);
  std::string src = dir + "/encodings/encodings.s";
  Executable exe = AssembleAndLink({{src, ReadText(src)}}, {});
  ASSERT_TRUE(exe.ok()) << exe.errors[0].ToString();
  std::vector<uint8_t> ref = ReadBytes(dir + "/encodings/encodings.out");
  CoffFile f;
  std::string err;
  ASSERT_TRUE(ReadCoff(ref, &f, &err)) << err;
  EXPECT_EQ(exe.text, f.SectionData(ref, 0)) << "the .text bytes";
  ExpectSameExecutable(exe.file, ref, true);
}

TEST(Fixtures, SampleLinksLikeTheGnuLinker) {
  REQUIRE_FIXTURES(dir);
  std::vector<SourceFile> sources;
  for (const char* name : {"startup.s", "keyboard_library.s"}) {
    std::string path = dir + "/sample/" + name;
    sources.push_back({path, ReadText(path)});
  }
  Executable exe = AssembleAndLink(sources, {});
  ASSERT_TRUE(exe.ok()) << exe.errors[0].ToString();
  ExpectSameExecutable(exe.file, ReadBytes(dir + "/sample/sample.out"), true);

  // The objdump listing states the entry point and the global symbols.
  std::string dump = ReadText(dir + "/sample/sample.objdump.txt");
  EXPECT_NE(dump.find("start address 0x00010018"), std::string::npos);
  EXPECT_EQ(exe.entry, 0x10018u);
  std::regex global(R"(\(sec +(-?\d+)\)\(fl 0x00\)\(ty +0\)\(scl +2\) \(nx 0\) 0x([0-9a-f]{8}) (\S+))");
  int globals = 0;
  for (std::sregex_iterator it(dump.begin(), dump.end(), global), end; it != end; ++it) {
    ++globals;
    const std::string name = (*it)[3];
    ASSERT_TRUE(exe.symbols.count(name)) << name;
    EXPECT_EQ(exe.symbols.at(name), std::stoul((*it)[2], nullptr, 16)) << name;
  }
  EXPECT_EQ(globals, 20);
}

TEST(Fixtures, DisassemblyReadsAsTheGnuDisassembler) {
  REQUIRE_FIXTURES(dir);
  std::vector<uint8_t> file = ReadBytes(dir + "/encodings/encodings.out");
  CoffFile f;
  std::string err;
  ASSERT_TRUE(ReadCoff(file, &f, &err)) << err;
  std::vector<uint8_t> text = f.SectionData(file, 0);
  std::istringstream ours(DisassembleText(text.data(), text.size(), f.sections[0].vaddr));

  // "   10000:\t00 00 00 08 \tb\t10000 <_start>"; annotations in <> are optional.
  std::regex line(R"(^ +([0-9a-f]+):\t(?:[0-9a-f]{2} ){4}\t(\S+)(?:\t(.*))?$)");
  auto strip = [](const std::string& s) { return std::regex_replace(s, std::regex(" <[^>]*>"), ""); };
  std::istringstream ref(ReadText(dir + "/encodings/encodings.dis"));
  std::string r, o;
  int compared = 0;
  while (std::getline(ref, r)) {
    std::smatch m;
    if (!std::regex_match(r, m, line)) continue;
    ASSERT_TRUE(static_cast<bool>(std::getline(ours, o))) << "ours ended before " << r;
    std::vector<std::string> parts;
    std::stringstream ss(o);
    for (std::string p; std::getline(ss, p, '\t');) parts.push_back(p);
    ASSERT_GE(parts.size(), 3u) << o;
    EXPECT_EQ(std::stoul(parts[0], nullptr, 16), std::stoul(m[1], nullptr, 16)) << o;
    EXPECT_EQ(parts[2], m[2].str()) << "at " << m[1];
    EXPECT_EQ(strip(parts.size() > 3 ? parts[3] : ""), strip(m[3].str())) << "at " << m[1];
    ++compared;
  }
  EXPECT_EQ(compared, 162);
  EXPECT_FALSE(static_cast<bool>(std::getline(ours, o))) << "extra line: " << o;
}

}  // namespace
}  // namespace korvane::as
