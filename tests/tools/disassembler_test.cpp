// Tests of the disassembler: every opcode-table instruction in every operand form survives a
// trip through the assembler and back, and odd words are shown without harm.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "as/assembler.h"
#include "core/disassembler.h"

namespace korvane {
namespace {

using ::testing::HasSubstr;

struct Form {
  std::string source;    // operands as written in the source
  std::string expected;  // operands as the disassembler prints them
};

// Operand forms for one instruction. The program is "t: ret" then the instruction, so the
// instruction sits at 0x10004 and the label t at 0x10000.
std::vector<Form> FormsOf(const OpcodeEntry& e) {
  std::vector<Form> forms;
  switch (e.format) {
    case kFormatCtrl:
      if (HasNoTarget(e)) return {{"", ""}};
      return {{"t", "10000"}};
    case kFormatCobr:
      if (e.has_dst) return {{"r3", "r3"}, {"g15", "fp"}};
      return {{"5,r4,t", "5,r4,10000"}, {"g1,sp,t", "g1,sp,10000"}, {"31,g14,t", "31,g14,10000"}};
    case kFormatMem: {
      const Form addresses[] = {
          {"0x123", "0x123"},
          {"0xfff(r3)", "0xfff(r3)"},
          {"(g5)", "(g5)"},
          {"(r4)[g5*4]", "(r4)[g5*4]"},
          {"(r4)[g5*1]", "(r4)[g5]"},
          {"0x12345678", "12345678"},
          {"0x1000(r5)", "1000(r5)"},
          {"0x1000[g6*2]", "1000[g6*2]"},
          {"0x1000(r7)[g6*16]", "1000(r7)[g6*16]"},
          {"0x20(ip)", "1002c"},
          {"t", "10000"},
      };
      for (const Form& a : addresses) {
        switch (MemOperandShape(e)) {
          case MemShape::kLoad: forms.push_back({a.source + ",g0", a.expected + ",g0"}); break;
          case MemShape::kStore: forms.push_back({"rip," + a.source, "rip," + a.expected}); break;
          case MemShape::kAddressOnly: forms.push_back(a); break;
        }
      }
      return forms;
    }
    case kFormatReg: {
      bool real = TakesRealOperands(e);
      std::vector<std::vector<Form>> slots;
      Form reg1{"r3", "r3"}, reg2{"g4", "g4"}, lit{"7", "7"};
      if (e.has_src1) slots.push_back({reg1, lit});
      if (e.has_src2 && !IsBitScan(e)) slots.push_back({reg2, lit});
      if (e.has_dst || IsBitScan(e)) slots.push_back({{"g8", "g8"}});
      if (real && e.has_src1) slots[0].push_back({"0f1.0", "0f1.0"});
      if (real && e.has_src1) slots[0].push_back({"0", "0f0.0"});
      // Each slot in each of its forms, the others in their first form.
      std::vector<size_t> choice(slots.size(), 0);
      auto emit = [&] {
        Form f;
        for (size_t i = 0; i < slots.size(); ++i) {
          f.source += (i ? "," : "") + slots[i][choice[i]].source;
          f.expected += (i ? "," : "") + slots[i][choice[i]].expected;
        }
        forms.push_back(f);
      };
      emit();
      for (size_t i = 0; i < slots.size(); ++i) {
        for (size_t k = 1; k < slots[i].size(); ++k) {
          choice.assign(slots.size(), 0);
          choice[i] = k;
          emit();
        }
      }
      return forms;
    }
  }
  return forms;
}

TEST(Disassembler, EveryInstructionInEveryFormRoundTrips) {
  int checked = 0;
  for (int i = 1; i < OpcodeTableSize(); ++i) {
    const OpcodeEntry& e = OpcodeTable()[i];
    for (const Form& f : FormsOf(e)) {
      std::string line = std::string(e.mnemonic) + (f.source.empty() ? "" : " " + f.source);
      as::Executable exe = as::AssembleAndLink({{"t.s", "t: ret\n" + line + "\n"}}, {});
      ASSERT_TRUE(exe.ok()) << line << ": " << (exe.errors.empty() ? "" : exe.errors[0].ToString());
      auto word = [&](size_t off) {
        return off + 4 <= exe.text.size()
                   ? static_cast<uint32_t>(exe.text[off] | exe.text[off + 1] << 8 | exe.text[off + 2] << 16 |
                                           static_cast<uint32_t>(exe.text[off + 3]) << 24)
                   : 0u;
      };
      DisassembledInstruction d = DisassembleInstruction(0x10004, word(4), word(8));
      EXPECT_EQ(d.mnemonic, e.mnemonic) << line;
      EXPECT_EQ(d.operands, f.expected) << line;
      EXPECT_EQ(static_cast<size_t>(d.length), exe.text.size() - 4) << line;
      EXPECT_EQ(d.entry, &e) << line;
      ++checked;
    }
  }
  EXPECT_GT(checked, 500);
}

// Words that are not instructions of the table, or not whole, are shown as data.
TEST(Disassembler, UndefinedAndTruncatedWords) {
  struct Case {
    uint32_t word, next;
    const char* mnemonic;
    const char* operands;
    const char* why;
  } cases[] = {
      {0x00000000, 0, ".word", "0x0", "opcode 0 is no instruction"},
      {0x90801800, 0, ".word", "0x90801800", "MEM mode 6 is reserved"},
      {0x58000280, 0, ".word", "0x58000280", "REG opcode 0x585 is not in the table"},
      {0x5c181620, 0, "mov", "sf0,r3", "an S1 bit names a special-function register"},
      {0x90811e95, 0, "ld", "(r4)[g5],g0", "reserved scale code 5 reads as scale 1"},
      {0x0a000000, 0, "ret", "", "ret has no target"},
      {0x08fffffc, 0, "b", "fffc", "CTRL displacement -4 from 0x10000"},
      {0x32013ffc, 0, "cmpobe", "0,r4,fffc", "COBR displacement -4 (bit 12 set)"},
  };
  for (const Case& c : cases) {
    DisassembledInstruction d = DisassembleInstruction(0x10000, c.word, c.next);
    EXPECT_EQ(d.mnemonic, c.mnemonic) << c.why;
    EXPECT_EQ(d.operands, c.operands) << c.why;
  }

  // An 8-byte instruction cut by the end of the text, and bytes after the last whole word.
  const uint8_t text[] = {0x00, 0x00, 0x00, 0x0a, 0x00, 0x30, 0x80, 0x90, 0x11, 0x22};
  std::string out = DisassembleText(text, sizeof text, 0x10000);
  EXPECT_THAT(out, HasSubstr("   10000:\t0a000000         \tret\n"));
  EXPECT_THAT(out, HasSubstr("   10004:\t90803000         \t.word\t0x90803000\n"));
  EXPECT_THAT(out, HasSubstr("   10008:\t                 \t.byte\t0x11,0x22\n"));
}

TEST(Disassembler, SymbolAnnotationsAndLongForms) {
  SymbolNamer namer = [](uint32_t a) { return a == 0x12345678 ? std::string("<big>") : std::string(); };
  // ld 0x12345678(r5),g0: the annotation sits between displacement and base, as objdump prints.
  DisassembledInstruction d = DisassembleInstruction(0x10000, 0x90817400, 0x12345678, namer);
  EXPECT_EQ(d.operands, "12345678 <big>(r5),g0");
  EXPECT_EQ(d.length, 8);
  EXPECT_EQ(FormatInstruction(d), "   10000:\t90817400 12345678\tld\t12345678 <big>(r5),g0");
  // ip-relative: the target is the instruction's address + 8 + displacement.
  d = DisassembleInstruction(0x10000, 0x90801400, 0xfffffff8, namer);
  EXPECT_TRUE(d.has_target);
  EXPECT_EQ(d.target, 0x10000u);
  EXPECT_EQ(RegisterName(0), std::string("pfp"));
  EXPECT_EQ(RegisterName(31), std::string("fp"));
  EXPECT_EQ(RegisterName(32), std::string("?"));
}

}  // namespace
}  // namespace korvane
