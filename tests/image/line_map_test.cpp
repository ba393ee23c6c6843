// Line numbers: what korvane-as writes (checked against the i960 COFF layout), what the image
// layer reads back into its address <-> file:line map, and damaged tables refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "as/assembler.h"
#include "as/coff.h"
#include "core/debugger.h"
#include "image/coff_builder.h"

namespace korvane::test {
namespace {

using ::testing::HasSubstr;

// Two modules; procedures are the global _start, the called `twice` and the global `add3`.
// `loop` is a branch target inside _start, `1:` a local label.
const char* const kMain =
    "\t.text\n\t.globl _start\n_start:\n\tmov 1,g0\n\tcall twice\n"  // lines 3-5
    "loop:\taddo 1,g0,g0 ; addo 1,g0,g0\n\tcallx add3\n\tb loop\n"   // lines 6-8
    "\n# a comment\ntwice:\n\taddo g0,g0,g0\n1:\tret\n";             // lines 9-13
const char* const kLib = "\t.text\n\t.globl add3\nadd3:\n\taddo 3,g0,g0\n\tret\n";

// (address, file, line) of every instruction, from the listing korvane-as prints.
std::vector<std::tuple<uint32_t, std::string, uint32_t>> ListedLines(const std::string& listing) {
  std::vector<std::tuple<uint32_t, std::string, uint32_t>> out;
  std::istringstream in(listing);
  std::string row;
  while (std::getline(in, row)) {
    const size_t colon = row.find(".s:");
    if (colon == std::string::npos) continue;
    const size_t file_at = row.find_last_of(' ', colon) + 1;
    out.emplace_back(std::stoul(row.substr(0, 8), nullptr, 16),
                     row.substr(file_at, colon + 2 - file_at), std::stoul(row.substr(colon + 3)));
  }
  return out;
}

struct Loaded {
  ProjectDir dir;
  Emulator emu;
  bool ok = false;
  explicit Loaded(const std::vector<uint8_t>& exe) {
    dir.Write("x.out", exe);
    dir.Write("x.xcl", std::string());
    dir.Write("x.mem", std::string());
    ok = LoadProject(emu, {"korvane", dir.Path("x")});
  }
};

as::Executable Build(as::LinkOptions options = {}) {
  options.listing = true;
  options.line_numbers = true;
  return as::AssembleAndLink({{"main.s", kMain}, {"lib.s", kLib}}, options);
}

TEST(LineNumbers, EveryInstructionMapsToItsLineAndBack) {
  std::string error;
  const as::Executable exe = Build();
  ASSERT_TRUE(exe.ok());
  Loaded l(exe.file);
  ASSERT_TRUE(l.ok) << l.emu.exit.message;
  const LineMap& map = l.emu.image.lines;
  const auto listed = ListedLines(exe.listing);
  ASSERT_EQ(listed.size(), 10u);
  for (const auto& [address, file, line] : listed) {
    SCOPED_TRACE(file + ":" + std::to_string(line));
    const SourcePlace* place = map.Find(address);
    ASSERT_NE(place, nullptr);
    EXPECT_EQ(place->file, file);
    EXPECT_EQ(place->line, line);
    // The first instruction of a line is where the line starts.
    const auto at = map.AddressesOf(file, line);
    ASSERT_EQ(at.size(), 1u);
    EXPECT_LE(at[0], address);
    EXPECT_EQ(map.Find(at[0])->line, line);
  }
  // Line 6 holds two instructions: one line from `loop` to the callx.
  uint32_t start = 0, end = 0;
  ASSERT_TRUE(map.LineRange(exe.symbols.at("loop") + 4, start, end));
  EXPECT_EQ(start, exe.symbols.at("loop"));
  EXPECT_EQ(end, start + 8);
  EXPECT_EQ(map.Find(exe.text_address + static_cast<uint32_t>(exe.text.size())), nullptr);
  ASSERT_EQ(map.procedures().size(), 3u);
  EXPECT_EQ(map.procedures()[1].name, "twice");
  // Locations by source line: a line without code stands for the next one with code.
  Debugger debugger(l.emu);
  uint32_t at = 0;
  EXPECT_TRUE(debugger.ParseAddress("main.s:9", at, error));
  EXPECT_EQ(at, exe.symbols.at("twice"));
  const int id = debugger.AddBreakpoint(BreakKind::kCode, "lib.s:4", "", 0, false, error);
  ASSERT_NE(id, 0) << error;
  EXPECT_EQ(debugger.Breakpoints().at(0).start, exe.symbols.at("add3"));
  EXPECT_EQ(debugger.Breakpoints().at(0).end, exe.symbols.at("add3"));
  EXPECT_FALSE(debugger.ParseAddress("main.s:99", at, error));
}

// The layout the GNU COFF tools document for the i960: 8-byte entries, a group per function
// that starts with the function's symbol index and line 0, lines counted from the .bf's line
// (which is line 1), function symbols of derived type function with size, line pointer and
// the index after their .ef.
TEST(LineNumbers, TablesFollowTheCoffLayout) {
  const as::Executable exe = Build();
  as::CoffFile coff;
  std::string error;
  ASSERT_TRUE(as::ReadCoff(exe.file, &coff, &error)) << error;
  EXPECT_EQ(coff.flags & as::kCoffFlagNoLines, 0);
  const as::CoffSection& text = coff.sections[0];
  ASSERT_EQ(text.nlnno, 3u + 10u - 1u);  // three groups; line 6's two instructions share one
  auto u16 = [&](size_t at) {
    return static_cast<uint32_t>(exe.file.at(at) | exe.file.at(at + 1) << 8);
  };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  std::map<uint32_t, const as::CoffSymbol*> by_index;
  for (const auto& s : coff.symbols) by_index[s.index] = &s;
  uint32_t bf_line = 0;
  for (uint32_t k = 0; k < text.nlnno; ++k) {
    const size_t at = text.lnnoptr + k * as::kLineEntrySize;
    if (u16(at + 4) == 0) {
      const as::CoffSymbol* fn = by_index.at(u32(at));
      EXPECT_EQ(fn->type, as::kTypeFunction) << fn->name;
      ASSERT_EQ(fn->aux.size(), 1u);
      const uint8_t* aux = fn->aux[0].data();
      EXPECT_EQ(aux[8] | aux[9] << 8 | aux[10] << 16 | aux[11] << 24, static_cast<int>(at))
          << "line pointer";
      const as::CoffSymbol* bf = by_index.at(fn->index + 2);
      ASSERT_EQ(bf->name, ".bf");
      EXPECT_EQ(by_index.at(fn->index + 4)->name, ".ef");
      bf_line = bf->aux[0][4] | bf->aux[0][5] << 8;
      EXPECT_EQ(bf_line, fn->name == "twice" ? 11u : 3u) << "the procedure label's line";
      continue;
    }
    EXPECT_GE(u16(at + 4), 1u) << "relative to the .bf line, which is line 1";
  }
}

TEST(LineNumbers, CompilerDirectivesGiveTheLinesOfTheCompiledSource) {
  // count.c:  5 int count(int n) {   6   n = n + 1;   7   return n;   8 }
  //          10 int main(void) {    11   return count(1);   12 }
  const char* const source =
      "\t.file\t\"count.c\"\n\t.text\n"
      "\t.def\t_count;\t.val\t_count;\t.scl\t2;\t.type\t0x44;\t.endef\n\t.globl _count\n_count:\n"
      "\t.def\t.bf;\t.val\t.;\t.scl\t101;\t.line\t5;\t.endef\n"
      "\t.ln\t2\n\taddo 1,g0,g0\n\t.ln\t3\n\tmov g0,g0\n\tret\n"
      "\t.def\t.ef;\t.val\t.;\t.scl\t101;\t.line\t4;\t.endef\n"
      "\t.def\t_main;\t.val\t_main;\t.scl\t2;\t.type\t0x44;\t.endef\n\t.globl _main\n_main:\n"
      "\t.def\t.bf;\t.val\t.;\t.scl\t101;\t.line\t10;\t.endef\n"
      "\t.ln\t2\n\tmov 1,g0\n\tcall _count\n\t.ln\t3\n\tret\n";
  const as::Executable exe = as::AssembleAndLink({{"count.s", source}}, {});
  ASSERT_TRUE(exe.ok()) << exe.errors[0].ToString();
  Loaded l(exe.file);
  ASSERT_TRUE(l.ok) << l.emu.exit.message;
  const uint32_t count = exe.symbols.at("_count"), main = exe.symbols.at("_main");
  const std::pair<uint32_t, uint32_t> expected[] = {{count, 6}, {count + 4, 7}, {count + 8, 7},
                                                    {main, 11}, {main + 4, 11}, {main + 8, 12}};
  for (const auto& [address, line] : expected) {
    const SourcePlace* place = l.emu.image.lines.Find(address);
    ASSERT_NE(place, nullptr) << std::hex << address;
    EXPECT_EQ(place->file, "count.c");
    EXPECT_EQ(place->line, line) << std::hex << address;
  }
}

// COFF writers for other processors leave out the two bytes of padding: the same table in
// 6-byte entries, the functions' line pointers moved with it, gives the same map.
TEST(LineNumbers, PackedSixByteEntriesAreReadToo) {
  const as::Executable exe = Build();
  as::CoffFile coff;
  std::string error;
  ASSERT_TRUE(as::ReadCoff(exe.file, &coff, &error));
  std::vector<uint8_t> file = exe.file;
  const uint32_t table = coff.sections[0].lnnoptr, count = coff.sections[0].nlnno;
  std::vector<uint8_t> packed;
  for (uint32_t k = 0; k < count; ++k)
    packed.insert(packed.end(), exe.file.begin() + table + k * 8,
                  exe.file.begin() + table + k * 8 + 6);
  std::fill(file.begin() + table, file.begin() + table + count * 8, 0);
  std::copy(packed.begin(), packed.end(), file.begin() + table);
  for (const as::CoffSymbol& s : coff.symbols) {
    if (s.type != as::kTypeFunction) continue;
    uint8_t* pointer = file.data() + coff.symtab_offset + (s.index + 1) * as::kSymbolSize + 8;
    const uint32_t old = pointer[0] | pointer[1] << 8 | pointer[2] << 16;
    const uint32_t moved = table + (old - table) / 8 * 6;
    for (int b = 0; b < 4; ++b) pointer[b] = static_cast<uint8_t>(moved >> (8 * b));
  }
  Loaded l(file);
  ASSERT_TRUE(l.ok) << l.emu.exit.message;
  ASSERT_FALSE(l.emu.image.lines.empty()) << l.emu.log.captured();
  for (const auto& [address, name, line] : ListedLines(exe.listing)) {
    ASSERT_NE(l.emu.image.lines.Find(address), nullptr);
    EXPECT_EQ(l.emu.image.lines.Find(address)->line, line);
  }
}

TEST(LineNumbers, DamagedTablesAreRefusedAndTheRunGoesOn) {
  const as::Executable exe = Build();
  as::CoffFile coff;
  std::string error;
  ASSERT_TRUE(as::ReadCoff(exe.file, &coff, &error));
  const size_t header = as::kFileHeaderSize + as::kOptHeaderSize;  // the .text section header
  const uint32_t table = coff.sections[0].lnnoptr;
  struct Row {
    const char* why;
    size_t at;
    std::vector<uint8_t> bytes;
    const char* message;
  } rows[] = {
      {"count past the end of the file", header + 34, {0xff, 0xff}, "run past the end of the file"},
      {"pointer out of range",
       header + 28,
       {0xff, 0xff, 0xff, 0x00},
       "run past the end of the file"},
      {"a group names no procedure", table, {0x01, 0x00, 0x00, 0x00}, "which is no procedure"},
      {"addresses out of order",
       table + 2 * as::kLineEntrySize,
       {0x00, 0x00, 0x00, 0x00},
       "out of order"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    std::vector<uint8_t> file = exe.file;
    std::copy(row.bytes.begin(), row.bytes.end(), file.begin() + static_cast<long>(row.at));
    Loaded l(file);
    ASSERT_TRUE(l.ok) << l.emu.exit.message;
    EXPECT_TRUE(l.emu.image.lines.empty());
    EXPECT_THAT(l.emu.log.captured(), HasSubstr("EMUIDE: line numbers ignored - "));
    EXPECT_THAT(l.emu.log.captured(), HasSubstr(row.message));
    EXPECT_NE(l.emu.image.symbols.count("twice"), 0u) << "the symbols are still read";
  }
}

}  // namespace
}  // namespace korvane::test
