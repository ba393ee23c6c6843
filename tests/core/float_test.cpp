// Floating-point instructions on registers: IEEE special values, rounding, compares, the
// conversions at their wrap boundaries, long-real pair rules and the rejected opcodes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/calls.h"
#include "driver/emulator.h"
#include "core/handlers.h"
#include "support/snippet.h"

namespace korvane {
namespace {

using ::testing::HasSubstr;
using Handler = void (*)(Processor&);

constexpr uint32_t kStack = 0xF000;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kInfD = std::numeric_limits<double>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr double kNaND = std::numeric_limits<double>::quiet_NaN();
constexpr unsigned kG0 = 16;  // register numbers of the decoder: g0 is 16, r0 is 0

uint32_t F(float v) { return SingleToBits(v); }

class FloatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    emu.log.SetCapture(true);
    DefineRegion(emu, kRegionStck, "STCK", kStack, 4096, true, 0, 0, 0);
    emu.cpu.g[15] = kStack;
    emu.cpu.frame = emu.mem.regions[kRegionStck].host;
  }
  // Single-operand instruction: dst = op(src2, src1) into g4.
  uint32_t Single(Handler h, uint32_t src1, uint32_t src2 = 0) {
    emu.cpu.src1 = src1;
    emu.cpu.src2 = src2;
    emu.cpu.src1_lit = emu.cpu.src2_lit = false;
    emu.cpu.dst = kG0 + 4;
    emu.cpu.g[4] = 0xDEADBEEF;
    h(emu);
    return emu.cpu.g[4];
  }
  void SetPair(unsigned reg, double v) {
    uint32_t lo, hi;
    DoubleToPair(v, &lo, &hi);
    WriteReg(emu.cpu, reg, lo);
    WriteReg(emu.cpu, reg + 1, hi);
  }
  double Pair(unsigned reg) { return PairToDouble(ReadReg(emu.cpu, reg), ReadReg(emu.cpu, reg + 1)); }
  // Long-real instruction with src1 in g0/g1, src2 in g2/g3, destination g4/g5.
  double Long(Handler h, double src1, double src2) {
    SetPair(kG0, src1);
    SetPair(kG0 + 2, src2);
    emu.cpu.src1_reg = kG0;
    emu.cpu.src2_reg = kG0 + 2;
    emu.cpu.src1_lit = emu.cpu.src2_lit = false;
    emu.cpu.dst = kG0 + 4;
    h(emu);
    return Pair(kG0 + 4);
  }
  bool Ends(Handler h) {
    try {
      h(emu);
    } catch (const EmuExitSignal&) {
      return true;
    }
    return false;
  }

  Emulator emu;
};

// Results compared as bit patterns, so signed zeros count; any NaN matches a NaN.
void ExpectSameSingle(uint32_t got, float want, const char* why) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(BitsToSingle(got))) << why;
  } else {
    EXPECT_EQ(got, F(want)) << why << ": got " << BitsToSingle(got);
  }
}

TEST_F(FloatTest, SingleArithmeticSpecialValues) {
  struct Row {
    const char* why;
    Handler h;
    float src1, src2, want;  // want = src2 op src1
  };
  const Row rows[] = {
      {"divr: 1 / +0 is +inf", Op_divr, 0.0f, 1.0f, kInf},
      {"divr: 1 / -0 is -inf", Op_divr, -0.0f, 1.0f, -kInf},
      {"divr: 0 / 0 is NaN", Op_divr, 0.0f, 0.0f, kNaN},
      {"divr: operand order is src2 / src1", Op_divr, 4.0f, 1.0f, 0.25f},
      {"subr: operand order is src2 - src1", Op_subr, 1.0f, 5.0f, 4.0f},
      {"subr: x - x is +0", Op_subr, 2.0f, 2.0f, 0.0f},
      {"addr: -0 + -0 is -0", Op_addr, -0.0f, -0.0f, -0.0f},
      {"addr: +inf + -inf is NaN", Op_addr, kInf, -kInf, kNaN},
      {"addr: NaN propagates", Op_addr, kNaN, 1.0f, kNaN},
      {"addr: tie 1 + 2^-24 rounds to even (1.0)", Op_addr, 0x1p-24f, 1.0f, 1.0f},
      {"addr: tie 1 + 3*2^-24 rounds to even (up)", Op_addr, 0x3p-24f, 1.0f, 1.0f + 0x1p-22f},
      {"mulr: overflow is +inf", Op_mulr, 2.0f, 3e38f, kInf},
      {"mulr: 0 x inf is NaN", Op_mulr, 0.0f, kInf, kNaN},
      {"mulr: sign of zero product", Op_mulr, -1.0f, 0.0f, -0.0f},
      {"mulr: denormal result kept", Op_mulr, 0.5f, 0x1p-126f, 0x1p-127f},
      {"mulr: underflow to +0", Op_mulr, 0x1p-100f, 0x1p-100f, 0.0f},
      {"mulr: (1+2^-23)^2 drops the 2^-46 term", Op_mulr, 1.0f + 0x1p-23f,
       1.0f + 0x1p-23f, 1.0f + 0x1p-22f},
  };
  for (const Row& row : rows) ExpectSameSingle(Single(row.h, F(row.src1), F(row.src2)), row.want, row.why);
}

TEST_F(FloatTest, LongRealArithmetic) {
  struct Row {
    const char* why;
    Handler h;
    double src1, src2, want;
  };
  const Row rows[] = {
      {"addrl", Op_addrl, 1.5, 2.25, 3.75},
      {"addrl keeps double precision", Op_addrl, 1e-10, 1.0, 1.0000000001},
      {"subrl is src2 - src1", Op_subrl, 1.0, 5.0, 4.0},
      {"mulrl", Op_mulrl, -3.0, 0.5, -1.5},
      {"divrl is src2 / src1", Op_divrl, 4.0, 1.0, 0.25},
      {"divrl by +0 is +inf", Op_divrl, 0.0, 1.0, kInfD},
      {"divrl by -0 is -inf", Op_divrl, -0.0, 1.0, -kInfD},
      {"addrl tie 1 + 2^-53 rounds to even", Op_addrl, 0x1p-53, 1.0, 1.0},
      {"mulrl denormal kept", Op_mulrl, 0.5, 0x1p-1022, 0x1p-1023},
  };
  for (const Row& row : rows) EXPECT_EQ(Long(row.h, row.src1, row.src2), row.want) << row.why;
  EXPECT_TRUE(std::isnan(Long(Op_divrl, 0.0, 0.0)));
  EXPECT_TRUE(std::signbit(Long(Op_addrl, -0.0, -0.0)));
  // Low word in the named register, high word (sign, exponent) in the next.
  Long(Op_addrl, 0.5, 0.5);
  EXPECT_EQ(emu.cpu.g[4], 0u);
  EXPECT_EQ(emu.cpu.g[5], 0x3FF00000u);
}

TEST_F(FloatTest, BadLongRealOperandsEndTheRun) {
  struct Row {
    const char* why;
    Handler h;
    unsigned src1, src2, dst;
    bool lit1, lit2;
  };
  const Row rows[] = {
      {"literal src1", Op_addrl, 3, kG0 + 2, kG0 + 4, true, false},
      {"literal src2", Op_mulrl, kG0, 3, kG0 + 4, false, true},
      {"src1 pair g15/past g15", Op_subrl, kG0 + 15, kG0 + 2, kG0 + 4, false, false},
      {"src2 pair r15/g0 crosses sets", Op_divrl, kG0, 15, kG0 + 4, false, false},
      {"destination pair past g15", Op_addrl, kG0, kG0 + 2, kG0 + 15, false, false},
      {"cmprl literal", Op_cmprl, 0, kG0, 0, true, false},
      {"cvtril literal", Op_cvtril, 0, 0, kG0 + 4, true, false},
      {"cvtzril pair past r15", Op_cvtzril, 15, 0, kG0 + 4, false, false},
      {"cvtilr literal source", Op_cvtilr, 1, 0, kG0 + 4, true, false},
      {"cvtilr destination past g15", Op_cvtilr, kG0, 0, kG0 + 15, false, false},
  };
  for (const Row& row : rows) {
    emu.log.ClearCaptured();
    for (int i = 0; i < 15; ++i) emu.cpu.g[i] = 0x1111 * i;
    emu.cpu.src1_reg = static_cast<uint8_t>(row.src1);
    emu.cpu.src2_reg = static_cast<uint8_t>(row.src2);
    emu.cpu.src1_lit = row.lit1;
    emu.cpu.src2_lit = row.lit2;
    emu.cpu.src1 = row.src1;
    emu.cpu.src2 = row.src2;
    emu.cpu.dst = static_cast<uint8_t>(row.dst);
    emu.cpu.cc = kCcNone;
    EXPECT_TRUE(Ends(row.h)) << row.why;
    EXPECT_THAT(emu.log.captured(), HasSubstr("E_OPERAND")) << row.why;
    for (int i = 0; i < 15; ++i) EXPECT_EQ(emu.cpu.g[i], 0x1111u * i) << row.why << " g" << i;
    EXPECT_EQ(emu.cpu.cc, uint32_t{kCcNone}) << row.why;
  }
}

TEST_F(FloatTest, ComparesSetConditionCode) {
  struct Row {
    const char* why;
    double src1, src2;
    uint32_t cc;
  };
  const Row rows[] = {
      {"src1 < src2", 1.0, 2.0, kCcLess},
      {"equal", 2.0, 2.0, kCcEqual},
      {"src1 > src2", 3.0, 2.0, kCcGreater},
      {"+0 and -0 are equal", 0.0, -0.0, kCcEqual},
      {"NaN src1 reads as less", kNaND, 1.0, kCcLess},
      {"NaN src2 reads as less", 1.0, kNaND, kCcLess},
      {"+inf greater than max", kInfD, 1e30, kCcGreater},
      {"denormal above zero", 0x1p-140, 0.0, kCcGreater},
  };
  for (const Row& row : rows) {
    emu.cpu.cc = kCcNone;
    Single(Op_cmpr, F(static_cast<float>(row.src1)), F(static_cast<float>(row.src2)));
    EXPECT_EQ(emu.cpu.cc, row.cc) << "cmpr " << row.why;
    EXPECT_EQ(emu.cpu.g[4], 0xDEADBEEFu) << "cmpr has no destination";
    emu.cpu.cc = kCcNone;
    Long(Op_cmprl, row.src1, row.src2);
    EXPECT_EQ(emu.cpu.cc, row.cc) << "cmprl " << row.why;
  }
}

TEST_F(FloatTest, ArithmeticLeavesConditionCodeAlone) {
  for (Handler h : {Op_addr, Op_subr, Op_mulr, Op_divr, Op_cvtir, Op_cvtri, Op_cvtzri}) {
    emu.cpu.cc = kCcEqual;
    Single(h, F(kNaN), F(0.0f));
    EXPECT_EQ(emu.cpu.cc, uint32_t{kCcEqual});
  }
  for (Handler h : {Op_addrl, Op_subrl, Op_mulrl, Op_divrl, Op_cvtril, Op_cvtzril}) {
    emu.cpu.cc = kCcGreater;
    Long(h, kNaND, 0.0);
    EXPECT_EQ(emu.cpu.cc, uint32_t{kCcGreater});
  }
}

TEST_F(FloatTest, SingleToIntegerConversions) {
  struct Row {
    const char* why;
    Handler h;
    float v;
    int32_t want;
  };
  const Row rows[] = {
      {"cvtri 2.5 away from zero", Op_cvtri, 2.5f, 3},
      {"cvtri -2.5 away from zero", Op_cvtri, -2.5f, -3},
      {"cvtri 0.49999997 must not reach 1 through a rounded add", Op_cvtri, 0.49999997f, 0},
      {"cvtri 1.5", Op_cvtri, 1.5f, 2},
      {"cvtri -0.0", Op_cvtri, -0.0f, 0},
      {"cvtri NaN", Op_cvtri, kNaN, 0},
      {"cvtri +inf", Op_cvtri, kInf, 0},
      {"cvtri 3e9 wraps modulo 2^32", Op_cvtri, 3000000000.0f, -1294967296},
      {"cvtri 2^31 wraps to INT_MIN", Op_cvtri, 2147483648.0f, INT32_MIN},
      {"cvtri 2^32 keeps low bits 0", Op_cvtri, 4294967296.0f, 0},
      {"cvtri just below 2^63: low 32 bits are 0", Op_cvtri, 0x1.fffffep62f, 0},
      {"cvtri 2^63 gives 0", Op_cvtri, 0x1p63f, 0},
      {"cvtri -2^31 exactly", Op_cvtri, -2147483648.0f, INT32_MIN},
      {"cvtzri -2.7 toward zero", Op_cvtzri, -2.7f, -2},
      {"cvtzri 2.999", Op_cvtzri, 2.999f, 2},
      {"cvtzri -inf", Op_cvtzri, -kInf, 0},
      {"cvtzri 3e9 wraps", Op_cvtzri, 3000000000.0f, -1294967296},
      {"cvtzri smallest denormal", Op_cvtzri, 0x1p-149f, 0},
  };
  for (const Row& row : rows)
    EXPECT_EQ(static_cast<int32_t>(Single(row.h, F(row.v))), row.want) << row.why;
}

TEST_F(FloatTest, LongRealToIntegerConversions) {
  struct Row {
    const char* why;
    Handler h;
    double v;
    int32_t want;
  };
  const Row rows[] = {
      {"cvtril 2.7 toward zero", Op_cvtril, 2.7, 2},
      {"cvtril -2.7 toward zero", Op_cvtril, -2.7, -2},
      {"cvtzril -2.7 toward minus infinity", Op_cvtzril, -2.7, -3},
      {"cvtzril -2.5", Op_cvtzril, -2.5, -3},
      {"cvtzril 2.7", Op_cvtzril, 2.7, 2},
      {"cvtril 3e9 wraps", Op_cvtril, 3000000000.0, -1294967296},
      {"cvtril 2^32 + 7 keeps low bits", Op_cvtril, 4294967303.0, 7},
      {"cvtril -2^63 has magnitude 2^63: 0", Op_cvtril, -0x1p63, 0},
      {"cvtril largest below 2^63", Op_cvtril, 0x1.fffffffffffffp62, static_cast<int32_t>(0xFFFFFC00)},
      {"cvtzril -2^31 - 0.5 floors past INT_MIN and wraps", Op_cvtzril, -2147483648.5, INT32_MAX},
      {"cvtril NaN", Op_cvtril, kNaND, 0},
      {"cvtzril +inf", Op_cvtzril, kInfD, 0},
  };
  for (const Row& row : rows) {
    SetPair(kG0, row.v);
    emu.cpu.src1_reg = kG0;
    emu.cpu.src1_lit = false;
    emu.cpu.dst = kG0 + 4;
    row.h(emu);
    EXPECT_EQ(static_cast<int32_t>(emu.cpu.g[4]), row.want) << row.why;
    EXPECT_EQ(emu.cpu.g[5], 0u) << row.why << ": writes one register only";
  }
}

TEST_F(FloatTest, IntegerToRealConversions) {
  EXPECT_EQ(Single(Op_cvtir, 16777217), F(16777216.0f)) << "nearest single, tie to even";
  EXPECT_EQ(Single(Op_cvtir, 16777219), F(16777220.0f)) << "tie rounds up to even";
  EXPECT_EQ(Single(Op_cvtir, 0x80000000u), F(-2147483648.0f));
  EXPECT_EQ(Single(Op_cvtir, 0xFFFFFFFFu), F(-1.0f));
  EXPECT_EQ(Single(Op_cvtir, 0), F(0.0f));

  // cvtilr: the 64-bit integer in the pair, low word first.
  struct Row {
    const char* why;
    uint32_t low, high;
    double want;
  };
  const Row rows[] = {
      {"small positive", 5, 0, 5.0},
      {"-1", 0xFFFFFFFF, 0xFFFFFFFF, -1.0},
      {"high word counts: 2^32", 0, 1, 4294967296.0},
      {"low word is unsigned: 2^31", 0x80000000, 0, 2147483648.0},
      {"most negative", 0, 0x80000000, -0x1p63},
      {"2^53 + 1 rounds to even", 1, 0x00200000, 0x1p53},
  };
  for (const Row& row : rows) {
    emu.cpu.g[0] = row.low;
    emu.cpu.g[1] = row.high;
    emu.cpu.src1_reg = kG0;
    emu.cpu.src1_lit = false;
    emu.cpu.dst = kG0 + 6;
    Op_cvtilr(emu);
    EXPECT_EQ(Pair(kG0 + 6), row.want) << row.why;
  }
}

TEST_F(FloatTest, RejectedOpcodesEndTheRun) {
  for (Handler h : {Op_emul, Op_ediv, Op_sinr, Op_cosr, Op_tanr, Op_movr, Op_movrl}) {
    emu.log.ClearCaptured();
    emu.cpu.dst = kG0 + 4;
    emu.cpu.g[4] = 9;
    EXPECT_TRUE(Ends(h));
    EXPECT_THAT(emu.log.captured(), HasSubstr("E_INSTR"));
    EXPECT_EQ(emu.cpu.g[4], 9u);
  }
}


// The instructions as decoded from assembled programs: literals, pairs and register sets.

using test::RunSnippet;

TEST(FloatSnippet, ArithmeticAndPairs) {
  auto r = RunSnippet(R"(
    lda 0x40500000, g8    # 3.25
    addr 0, g8, g9        # literal 0 is +0.0: g9 = 3.25
    addr 16, 16, g10      # literals are raw patterns: 0x10 + 0x10 = 0x20
    lda 0x3F800000, g11   # 1.0
    divr 0, g11, g12      # 1 / +0 = +inf, no fault
    mov 0, g0             # 2.5 as a double (low word first)
    lda 0x40040000, g1
    mov 0, g2             # 0.25
    lda 0x3FD00000, g3
    addrl g0, g2, g4      # g4/g5 = 2.75
    subrl g2, g0, r4      # r4/r5 = 2.5 - 0.25
    mulrl g0, g0, r6
)", 50);
  ASSERT_TRUE(r->assembled);
  ASSERT_FALSE(r->ended_by_exit) << r->LogText();
  EXPECT_EQ(r->G(9), 0x40500000u);
  EXPECT_EQ(r->G(10), 0x20u);
  EXPECT_EQ(r->G(12), 0x7F800000u);
  EXPECT_EQ(r->G(4), 0u);
  EXPECT_EQ(r->G(5), 0x40060000u);  // 2.75
  EXPECT_EQ(PairToDouble(r->R(4), r->R(5)), 2.25);
  EXPECT_EQ(PairToDouble(r->R(6), r->R(7)), 6.25);
  EXPECT_EQ(r->run.fault_count, 0);
}

TEST(FloatSnippet, ConversionsAndCompare) {
  auto r = RunSnippet(R"(
    lda 0x4F32D05E, g0    # 3000000000.0
    cvtri g0, g1
    cvtzri g0, g2
    lda 0xC02CCCCD, g3    # -2.7 single
    cvtzri g3, g4
    lda 0xCCCCCCCD, g6    # -2.7 double
    lda 0xC0059999, g7
    cvtril g6, g8
    cvtzril g6, g9
    lda 0x7FC00000, g10   # NaN
    lda 0x3F800000, g11
    cmpr g10, g11
    teste g12             # unordered must not read as equal
    testl g13
    lda 16777217, g14
    cvtir g14, g14
)", 50);
  ASSERT_TRUE(r->assembled);
  ASSERT_FALSE(r->ended_by_exit) << r->LogText();
  EXPECT_EQ(static_cast<int32_t>(r->G(1)), -1294967296);
  EXPECT_EQ(static_cast<int32_t>(r->G(2)), -1294967296);
  EXPECT_EQ(static_cast<int32_t>(r->G(4)), -2);
  EXPECT_EQ(static_cast<int32_t>(r->G(8)), -2);
  EXPECT_EQ(static_cast<int32_t>(r->G(9)), -3);
  EXPECT_EQ(r->G(12), 0u);
  EXPECT_EQ(r->G(13), 1u);
  EXPECT_EQ(r->G(14), 0x4B800000u);  // 16777216.0
}

TEST(FloatSnippet, OperandAndOpcodeFaults) {
  struct Row {
    const char* why;
    const char* body;
    const char* line;
  };
  const Row rows[] = {
      {"pair g15/next runs past g15", "    addrl g14, g15, g4\n", " ERR 5 E_OPERAND, Opcode 079F ?"},
      {"pair r15/g0 crosses register sets", "    cmprl r15, g0\n", " ERR 5 E_OPERAND, Opcode 0695 ?"},
      {"literal where a long real is named", "    addrl 3, g2, g4\n", " ERR 5 E_OPERAND, Opcode 079F ?"},
      {"cvtilr needs a pair, not a literal", "    cvtilr 1, g4\n", " ERR 5 E_OPERAND, Opcode 0675 ?"},
      {"movr is not provided", "    movr g0, g1\n", " ERR 6 E_INSTR, Opcode 06C9 ?"},
      {"ediv is not provided", "    ediv g0, g2, g4\n", " ERR 6 E_INSTR, Opcode 0671 ?"},
  };
  for (const Row& row : rows) {
    auto r = RunSnippet(std::string("    mov 1, g8\n") + row.body + "    mov 2, g8\n", 10);
    ASSERT_TRUE(r->assembled) << row.why;
    EXPECT_TRUE(r->ended_by_exit) << row.why;
    EXPECT_THAT(r->LogText(), HasSubstr(row.line)) << row.why;
    EXPECT_EQ(r->G(8), 1u) << row.why;
  }
}

}  // namespace
}  // namespace korvane
