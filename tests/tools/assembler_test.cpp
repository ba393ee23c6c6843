// Tests of the assembler and linker: encodings beyond the reference fixtures, data directives,
// section layout and symbols, and every error the tool chain reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "as/assembler.h"
#include "as/coff.h"

namespace korvane::as {
namespace {

using ::testing::HasSubstr;

Executable Asm(const std::string& text, LinkOptions options = {}) {
  return AssembleAndLink({{"t.s", text}}, options);
}

uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t w = 0;
  for (int i = 3; i >= 0; --i) w = w << 8 | bytes.at(offset + i);
  return w;
}

std::string Errors(const Executable& e) {
  std::string s;
  for (const Diagnostic& d : e.errors) s += d.ToString() + "\n";
  return s;
}

// Encodings that the reference fixtures do not show. Each program starts at 0x10000.
TEST(AssemblerEncoding, FormsBeyondTheFixtures) {
  struct Case {
    const char* source;
    std::vector<uint32_t> words;
    const char* why;
  } cases[] = {
      {"ldconst 4095,g0", {0x8c800fff}, "largest constant of the short lda form"},
      {"ldconst 4096,g0", {0x8c803000, 4096}, "one more needs the displacement word"},
      {"ldconst -1,r3", {0x8c183000, 0xffffffff}, "negative constants wrap to 32 bits"},
      {"ldconst x,g1\n.data\nx: .word 0", {0x8c883000, 0x10008}, "a label is never short: its address is only known at link time"},
      {".set K,12\nld K(r3),g0", {0x9080e00c}, ".set constants defined earlier choose the short form"},
      {"lda here(ip),g0\n.word 0\nhere:", {0x8c801400, 4}, "label(ip) counts from the instruction + 8"},
      {"ld [g5*4],g0", {0x90803915, 0}, "an index alone is scaled index + displacement 0"},
      {"ldob (r4)[g5],g0", {0x80811c15}, "byte loads scale an unscaled index by 1"},
      {"ldl (r4)[g5],g0", {0x98811d95}, "eight-byte loads scale an unscaled index by 8"},
      {"lda (r4)[g5],g0", {0x8c811c15}, "lda scales an unscaled index by 1"},
      {"st g2,0x1000(g0)", {0x92943400, 0x1000}, "offset 4096 with a base needs the displacement form"},
      {"ld 0(ip),g0", {0x90801400, 0}, "a number relative to ip is the raw displacement"},
      {".set K,0x100\nlda K(ip),g0", {0x8c801400, 0x100}, "a .set constant relative to ip is a number too, not an address"},
      {"1: be.t 1b", {0x12000002}, "the .t suffix sets the prediction bit"},
      {"1: b 1f\n1: b 1b\nb 1b", {0x08000004, 0x08000000, 0x08fffffc}, "numeric labels: f is the next, b the latest"},
      {"addr 1,g1,g2", {0x78944f96}, "real instructions encode the literal 1 as the constant 1.0"},
      {"addr 0f1.0,g1,g2", {0x78944f96}, "explicit 1.0 literal"},
      {"addr 0x0,g1,g2", {0x78944f80}, "any other spelling of zero is the raw literal 0"},
      {"addr 0.0,g1,g2", {0x78944f90}, "0.0 without prefix is the constant too"},
      {"cvtir 0,g1", {0x67881a00}, "cvtir takes an integer: 0 stays 0"},
      {"mov 31,R3", {0x5c181e1f}, "largest literal; register names ignore case"},
      {"MOV pfp,rip", {0x5c101600}, "mnemonics ignore case; pfp and rip are r0 and r2"},
      {"x: .word x+8, x-4", {0x10008, 0xfffc}, "expressions of a label and a constant"},
      {"a: .space 12\nb: .word b-a", {0, 0, 0, 12}, "the difference of two labels"},
      {"b 0x10000", {0x08000000}, "a numeric target is an absolute address"},
      {"ret; ret", {0x0a000000, 0x0a000000}, "';' separates statements"},
      {"b 3f /* a block\ncomment */ ; 3: ret", {0x08000004, 0x0a000000}, "block comments may span lines"},
  };
  for (const Case& c : cases) {
    Executable e = Asm(c.source);
    ASSERT_TRUE(e.ok()) << c.why << "\n" << Errors(e);
    ASSERT_GE(e.text.size(), c.words.size() * 4) << c.why;
    for (size_t i = 0; i < c.words.size(); ++i)
      EXPECT_EQ(WordAt(e.text, 4 * i), c.words[i]) << c.why << " (word " << i << ")";
  }
}

// Data directives lay out their bytes exactly, little-endian, with .align in powers of two.
TEST(AssemblerData, DirectivesProduceTheirBytes) {
  Executable e = Asm(
      "ret\n"
      ".data\n"
      "d: .byte 1, -1, 'A'\n"
      " .align 2\n"
      " .short 0x1234, -2\n"
      " .word 0xdeadbeef\n"
      " .ascii \"a\\tb\", \"\\x41\\101\"\n"
      " .asciz \"z\"\n"
      " .space 3, 0x55\n");
  ASSERT_TRUE(e.ok()) << Errors(e);
  std::vector<uint8_t> want = {1, 0xff, 'A', 0, 0x34, 0x12, 0xfe, 0xff, 0xef, 0xbe, 0xad, 0xde,
                               'a', '\t', 'b', 'A', 'A', 'z', 0, 0x55, 0x55, 0x55};
  ASSERT_GE(e.data.size(), want.size());
  EXPECT_EQ(std::vector<uint8_t>(e.data.begin(), e.data.begin() + want.size()), want);
  EXPECT_EQ(e.data.size() % 8, 0u) << "data is padded to a multiple of 8";
  EXPECT_EQ(e.symbols.at("d"), e.data_address);
}

// Sections are placed at multiples of 8, module parts at multiples of 4 (or their own .align);
// bss follows the padded data; commons come after every module's bss.
TEST(AssemblerLink, LayoutOfSectionsModulesAndCommons) {
  Executable e = AssembleAndLink(
      {{"a.s", ".globl _start\n_start: ret\n.data\n.byte 1\n.lcomm la,1\n.comm shared,4\n"},
       {"b.s", ".text\nret; ret\n.align 3\nb_al: ret\n.data\nb_d: .byte 2\n.lcomm lb,4\n.comm shared,8\n"
               ".section .absd\nab: .space 5\n"}},
      {});
  ASSERT_TRUE(e.ok()) << Errors(e);
  EXPECT_EQ(e.text_address, 0x10000u);
  EXPECT_EQ(e.symbols.at("b_al"), 0x10010u) << "b.s text at 0x10008: its .align 3 aligns its part to 8";
  EXPECT_EQ(e.symbols.at("_etext"), 0x10014u);
  EXPECT_EQ(e.data_address, 0x10018u) << "next multiple of 8 after the text";
  EXPECT_EQ(e.symbols.at("b_d"), 0x1001cu) << "each module's data part at a multiple of 4";
  EXPECT_EQ(e.bss_address, 0x10020u) << "data padded to 8 bytes, bss right behind it";
  EXPECT_EQ(e.symbols.at("_edata"), e.bss_address);
  EXPECT_EQ(e.symbols.at("la"), 0x10020u);
  EXPECT_EQ(e.symbols.at("lb"), 0x10024u) << "4-byte .lcomm aligned to 4 in the next module part";
  EXPECT_EQ(e.symbols.at("shared"), 0x10028u) << "common takes the largest size and follows the bss parts";
  EXPECT_EQ(e.symbols.at("_end"), 0x10030u);
  EXPECT_EQ(e.bss_size, 0x10u);
  EXPECT_EQ(e.absd_address, 0x200000u);
  EXPECT_EQ(e.absd_size, 5u);
  EXPECT_EQ(e.entry, 0x10000u);
}

TEST(AssemblerLink, EntryAndAddressOptions) {
  LinkOptions o;
  o.text_address = 0x20000;
  o.absd_address = 0x300000;
  o.entry = "go";
  Executable e = Asm(".globl go\nret\ngo: ret\n.section .absd\n.word 1\n", o);
  ASSERT_TRUE(e.ok()) << Errors(e);
  EXPECT_EQ(e.entry, 0x20004u);
  EXPECT_EQ(e.absd_address, 0x300000u);

  Executable no_start = Asm("ret\n");
  ASSERT_TRUE(no_start.ok()) << Errors(no_start);
  EXPECT_EQ(no_start.entry, 0x10000u) << "without _start the entry is the text start";
  EXPECT_EQ(no_start.data.size(), 8u) << "an empty data section is padded so that it can be loaded";

  // Without instructions the executable could not be loaded: an error, not an empty text.
  Executable empty = Asm(".data\n.word 1\n");
  ASSERT_FALSE(empty.ok());
  EXPECT_THAT(Errors(empty), HasSubstr("no instructions"));
  EXPECT_TRUE(empty.file.empty());

  o.entry = "missing";
  Executable bad = Asm("ret\n", o);
  ASSERT_FALSE(bad.ok());
  EXPECT_THAT(Errors(bad), HasSubstr("entry symbol missing"));
  EXPECT_TRUE(bad.file.empty()) << "no executable on error";
}

// The COFF file: headers, long names in the string table, module symbols with lengths.
TEST(AssemblerLink, SymbolTableLayout) {
  Executable e = AssembleAndLink(
      {{"dir/first_module_name.s", ".globl a_rather_long_name\nloc: ret\na_rather_long_name: ret\n"},
       {"b.s", ".file \"short.s\"\n.data\n.word 3\n"}},
      {});
  ASSERT_TRUE(e.ok()) << Errors(e);
  CoffFile f;
  std::string err;
  ASSERT_TRUE(ReadCoff(e.file, &f, &err)) << err;
  EXPECT_EQ(f.magic, kCoffMagic);
  EXPECT_NE(f.flags & kCoffFlagExec, 0);
  EXPECT_EQ(f.opt_size, 32);
  ASSERT_EQ(f.sections.size(), 5u);
  const char* names[] = {".text", ".data", ".bss", ".absd", ".info"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(f.sections[i].name, names[i]);
  EXPECT_EQ(f.sections[0].scnptr, 0x110u);
  EXPECT_EQ(f.SectionData(e.file, 0), e.text);
  EXPECT_EQ(f.SectionData(e.file, 1), e.data);
  EXPECT_EQ(f.tsize, 8u);

  std::vector<std::string> files;
  bool found_long = false, found_local = false;
  for (const CoffSymbol& s : f.symbols) {
    if (s.name == ".file") {
      files.push_back(f.FileName(s));
      EXPECT_EQ(s.storage_class, kClassFile);
    }
    if (s.name == "a_rather_long_name") {
      found_long = true;
      EXPECT_EQ(s.value, 0x10004u);
      EXPECT_EQ(s.storage_class, kClassExternal);
      EXPECT_EQ(s.section, 1);
    }
    if (s.name == "loc") {
      found_local = true;
      EXPECT_EQ(s.storage_class, kClassLabel);
    }
  }
  EXPECT_EQ(files, (std::vector<std::string>{"first_module_name.s", "short.s"}))
      << "a name over 14 characters goes through the string table";
  EXPECT_TRUE(found_long);
  EXPECT_TRUE(found_local);
  // The first .file symbol's value is the index of the second.
  EXPECT_EQ(f.symbols[0].value, [&] {
    for (const CoffSymbol& s : f.symbols)
      if (s.name == ".file" && s.index != 0) return s.index;
    return 0u;
  }());
}

// Every error names the file and line, and no executable is produced.
TEST(AssemblerErrors, ReportFileLineAndMessage) {
  struct Case {
    const char* source;
    int line;
    const char* message;
  } cases[] = {
      {"ret\nfrobnicate g0", 2, "unknown mnemonic frobnicate"},
      {"mov g0", 1, "wrong number of operands for mov"},
      {"mov g0,5", 1, "expected a register"},
      {"addo 32,g0,g1", 1, "literal 32 outside 0-31"},
      {"addo -1,g0,g1", 1, "literal -1 outside 0-31"},
      {"cmpobe 1,2,x\nx:", 1, "expected a register"},
      {"cmpobe 1,g2,far\n.space 4096\nfar: ret", 1, "displacement out of range"},
      {"b far\n.space 0x800000\nfar: ret", 1, "displacement out of range"},
      {"b 0x10002", 1, "not word aligned"},
      {"b nowhere", 1, "undefined symbol nowhere"},
      {"x: ret\nx: ret", 2, "duplicate symbol x"},
      {".byte 1\nret", 2, "unaligned instruction"},
      {"b 1f", 1, "undefined local label 1f"},
      {"b 2b", 1, "undefined local label 2b"},
      {"ld (r4)[g5*3],g0", 1, "invalid scale"},
      {"ldt (r4)[g5],g0", 1, "needs an explicit scale"},
      {"ld (r4)(ip),g0", 1, "invalid memory operand"},
      {".data\n.byte 256", 2, "does not fit in 1 byte"},
      {".bss\n.word 1", 2, "initialised data in .bss"},
      {".bss\nret", 2, "instruction in .bss"},
      {".frob 1", 1, "unknown directive .frob"},
      {".section .rodata", 1, "unknown section .rodata"},
      {".set a,b\n.set b,a\n.word a", 1, "circular definition of a"},
      {"addr 0f2.5,g1,g2", 1, "cannot be encoded"},
      {"mov 0f0.0,g1", 1, "cannot be encoded"},
      {".word 0x100000000", 1, "number too large"},
      {".ascii \"abc", 1, "expected a quoted string"},
      {".space x", 1, "must be a constant"},
      {".align 17", 1, "alignment out of range"},
      {"ld g3,g0", 1, "a register is not a memory operand"},
      {"addo g0+1,g1,g2", 1, "register g0 used in an expression"},
      {"b 9x", 1, "invalid number"},
      {"=5", 1, "missing symbol name before '='"},
      {"addo 0f0.0,g0,g1", 1, "addo takes integer literals 0-31"},
  };
  for (const Case& c : cases) {
    Executable e = Asm(c.source);
    ASSERT_FALSE(e.ok()) << c.source;
    EXPECT_TRUE(e.file.empty()) << c.source;
    EXPECT_EQ(e.errors[0].file, "t.s") << c.source;
    EXPECT_EQ(e.errors[0].line, c.line) << c.source;
    EXPECT_THAT(e.errors[0].message, HasSubstr(c.message)) << c.source << " gave " << Errors(e);
  }
}

TEST(AssemblerErrors, AcrossModules) {
  Executable dup = AssembleAndLink({{"a.s", ".globl f\nf: ret\n"}, {"b.s", "\n.globl f\nf: ret\n"}}, {});
  ASSERT_FALSE(dup.ok());
  EXPECT_EQ(dup.errors[0].ToString(), "b.s:3: duplicate symbol f (first defined at a.s:2)");

  // A label that is not .globl stays private to its module.
  Executable priv = AssembleAndLink({{"a.s", "f: ret\n"}, {"b.s", "b f\n"}}, {});
  ASSERT_FALSE(priv.ok());
  EXPECT_EQ(priv.errors[0].ToString(), "b.s:1: undefined symbol f");

  // The same private name in two modules is fine; each module sees its own.
  Executable both = AssembleAndLink({{"a.s", "f: b f\n"}, {"b.s", "f: b f\n"}}, {});
  ASSERT_TRUE(both.ok()) << Errors(both);
  EXPECT_EQ(WordAt(both.text, 4), 0x08000000u);

  Executable none = AssembleAndLink({}, {});
  EXPECT_FALSE(none.ok());
}

// Whatever the input, the assembler answers with an executable or errors and never crashes or
// hangs. Random lines are built from pieces of real syntax so that they get past the lexer.
TEST(AssemblerRobustness, RandomInputNeverCrashes) {
  const char* pieces[] = {"ld",   "st",  "addo", "cmpobe", "b",     "ldconst", ".word", ".space", ".align",
                          ".set", "1:",  "1f",   "1b",     "x:",    "x",       "(",     ")",      "[",
                          "]",    "*",   ",",    "+",      "-",     "g0",      "r15",   "sp",     "ip",
                          "0x",   "123", "-1",   "\"",     "\\",    "#",       "/*",    "*/",     ";",
                          ".data", ".bss", ".section", ".absd", "0f0.0", "4096", "99999999999", ".lcomm",
                          ".comm", "=", ":",  "'",      ".globl", "(g1)[g2*4]", "0x7fffffff", "  "};
  std::mt19937 rng(12345);
  std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1);
  for (int program = 0; program < 300; ++program) {
    std::string text;
    for (int line = 0; line < 12; ++line) {
      int n = static_cast<int>(rng() % 7);
      for (int i = 0; i < n; ++i) text += std::string(pieces[pick(rng)]) + (rng() % 2 ? " " : "");
      text += "\n";
    }
    Executable e = Asm(text);
    if (e.ok()) EXPECT_FALSE(e.file.empty());
    else EXPECT_TRUE(e.file.empty());
  }
  // Raw bytes, including zeros and high bytes.
  for (int program = 0; program < 100; ++program) {
    std::string text(200, '\0');
    for (char& c : text) c = static_cast<char>(rng());
    Executable e = Asm(text);
    EXPECT_FALSE(e.ok() && e.file.empty());
  }
}

// Inputs that are small but would make a naive tool chain explode in time or memory.
TEST(AssemblerRobustness, HostileButSmallInputs) {
  // Each .set doubles the previous one: evaluated naively this is 2^60 lookups.
  std::string chain = "ret\n.set a0,1\n";
  for (int i = 1; i <= 60; ++i)
    chain += ".set a" + std::to_string(i) + ",a" + std::to_string(i - 1) + "+a" + std::to_string(i - 1) + "\n";
  Executable e = Asm(chain + ".data\n.word a30\n.space a3\n ld a10(g1),g0\n");
  ASSERT_TRUE(e.ok()) << Errors(e);
  EXPECT_EQ(WordAt(e.data, 0), 1u << 30);
  EXPECT_EQ(e.data.size(), 16u) << "4 + 8 bytes, padded to 16";

  // Past a62 the values no longer fit in 64 bits: an error, never a value wrapped round to a
  // small number (a64 would otherwise read as 0).
  for (const char* use : {".word a64", ".space a63", ".word a62+a62"}) {
    std::string longer = chain;
    for (int i = 61; i <= 64; ++i)
      longer += ".set a" + std::to_string(i) + ",a" + std::to_string(i - 1) + "+a" + std::to_string(i - 1) + "\n";
    Executable wrapped = Asm(longer + ".data\n" + use + "\n");
    ASSERT_FALSE(wrapped.ok()) << use;
    EXPECT_THAT(Errors(wrapped), HasSubstr("out of range")) << use;
  }

  // A chain of thousands of .set lines, each one more than the last, is a constant usable
  // wherever one is needed.
  std::string steps = ".set s0,1\n";
  for (int i = 1; i < 5000; ++i) steps += ".set s" + std::to_string(i) + ",s" + std::to_string(i - 1) + "+1\n";
  Executable deep = Asm("ret\n" + steps + ".data\n.space s4999\n.word s4999\n");
  ASSERT_TRUE(deep.ok()) << Errors(deep);
  EXPECT_EQ(WordAt(deep.data, 5000), 5000u);

  // Six modules of 48 MiB of bss each: refused before any host memory is taken.
  std::vector<SourceFile> big(6, {"big.s", ".bss\n.space 0x3000000\n"});
  Executable huge = AssembleAndLink(big, {});
  ASSERT_FALSE(huge.ok());
  EXPECT_THAT(Errors(huge), HasSubstr("larger than 256 MiB"));

  Executable past = Asm(".globl _start\n_start: ret\n.data\n.space 0x100\n", [] {
    LinkOptions o;
    o.text_address = 0xFFFFFF00;
    return o;
  }());
  ASSERT_FALSE(past.ok());
  EXPECT_THAT(Errors(past), HasSubstr("32-bit address space"));
}

TEST(AssemblerListing, ShowsAddressBytesAndSource) {
  LinkOptions o;
  o.listing = true;
  Executable e = Asm("start: mov 5,g6\n ld 0x12345678,g0\n", o);
  ASSERT_TRUE(e.ok()) << Errors(e);
  EXPECT_THAT(e.listing, HasSubstr("00010000  05 1E B0 5C"));
  EXPECT_THAT(e.listing, HasSubstr("t.s:1: start: mov 5,g6"));
  EXPECT_THAT(e.listing, HasSubstr("00010004  00 30 80 90 78 56 34 12"));
}

}  // namespace
}  // namespace korvane::as
