// Tests of the integer, logical, bit and move instructions at their corner values.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "support/snippet.h"

namespace korvane {
namespace {

using ::testing::HasSubstr;
using test::RunSnippet;

constexpr uint32_t kUntouched = 0x5A5A5A5A;  // g2 before the instruction
constexpr int kNoCc = -1;

struct Row {
  const char* instruction;  // operates on src1 = g0, src2 = g1, destination g2
  uint32_t src1, src2;
  uint32_t expected;        // g2 afterwards
  int cc;                   // condition code afterwards; the snippet sets 4 (less) before
  const char* why;
};

// Runs `ldconst src1, g0; ldconst src2, g1; ldconst kUntouched, g2; cmpo 1, 2; instruction`.
std::unique_ptr<test::SnippetRun> RunRow(const Row& row) {
  char setup[160];
  std::snprintf(setup, sizeof setup,
                "\tldconst 0x%X, g0\n\tldconst 0x%X, g1\n\tldconst 0x%X, g2\n\tcmpo 1, 2\n",
                row.src1, row.src2, kUntouched);
  return RunSnippet(std::string(setup) + "\t" + row.instruction + "\n", 5);
}

void CheckRows(const Row* rows, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const Row& row = rows[i];
    auto emu = RunRow(row);
    EXPECT_FALSE(emu->ended_by_exit) << row.why;
    EXPECT_EQ(emu->G(2), row.expected) << row.instruction << ": " << row.why;
    if (row.cc != kNoCc) {
      EXPECT_EQ(emu->cpu.cc, static_cast<uint32_t>(row.cc)) << row.instruction << ": " << row.why;
    }
  }
}

TEST(Integer, LogicalOperationsTakeTheirOperandsInOrder) {
  // Only the operations whose operands are not interchangeable: a swap shows in the result.
  const uint32_t a = 0x0F0F00FF, b = 0x00FF0F0F;  // src1, src2
  const Row rows[] = {
      {"andnot g0, g1, g2", a, b, b & ~a, 4, "src2 AND NOT src1; no condition code change"},
      {"notand g0, g1, g2", a, b, ~b & a, kNoCc, "NOT src2 AND src1"},
      {"xnor g0, g1, g2", a, b, ~b ^ a, kNoCc, "NOT src2 XOR src1"},
      {"not g0, g2", a, b, ~a, kNoCc, "reads src1 only"},
      {"ornot g0, g1, g2", a, b, b | ~a, kNoCc, "src2 OR NOT src1"},
      {"notor g0, g1, g2", a, b, ~b | a, kNoCc, "NOT src2 OR src1"},
      {"nand g0, g1, g2", a, b, ~(b & a), kNoCc, ""},
      {"nor g0, g1, g2", a, b, ~(b | a), kNoCc, ""},
  };
  CheckRows(rows, std::size(rows));
}

TEST(Integer, BitOperations) {
  const Row rows[] = {
      {"setbit g0, g1, g2", 33, 0, 2, 4, "bit number 33 selects bit 1"},
      {"setbit g0, g1, g2", 31, 0, 0x80000000, kNoCc, "highest bit"},
      {"clrbit g0, g1, g2", 4, 0xFF, 0xEF, kNoCc, ""},
      {"notbit g0, g1, g2", 0, 1, 0, kNoCc, "inverts a set bit"},
      {"notbit g0, g1, g2", 32, 0, 1, kNoCc, "32 is bit 0"},
      {"chkbit g0, g1", 3, 8, kUntouched, 2, "set bit: equal"},
      {"chkbit g0, g1", 2, 8, kUntouched, 0, "clear bit: no condition"},
  };
  CheckRows(rows, std::size(rows));
  // alterbit sets the bit after a comparison that gave 2, clears it after 1 or 4.
  struct Alter {
    const char* compare;
    uint32_t expected;
  } alters[] = {{"cmpo 3, 3", 0x0F}, {"cmpo 4, 3", 0x0B}, {"cmpo 3, 4", 0x0B}};
  for (const Alter& a : alters) {
    auto emu = RunSnippet(std::string("\tmov 11, g1\n\tmov 2, g0\n\t") + a.compare +
                              "\n\talterbit g0, g1, g2\n",
                          4);
    EXPECT_EQ(emu->G(2), a.expected) << a.compare;
  }
}

TEST(Integer, ArithmeticWrapsWithoutFlags) {
  const Row rows[] = {
      {"addo g0, g1, g2", 1, 0xFFFFFFFF, 0, 4, "wraps to 0, condition code unchanged"},
      {"addi g0, g1, g2", 1, 0x7FFFFFFF, 0x80000000, 4, "no overflow fault"},
      {"subo g0, g1, g2", 1, 5, 4, kNoCc, "src2 - src1"},
      {"subi g0, g1, g2", 5, 1, 0xFFFFFFFC, kNoCc, "negative result"},
      {"mulo g0, g1, g2", 0x10000, 0x10001, 0x10000, kNoCc, "low 32 bits only"},
      {"muli g0, g1, g2", 0xFFFFFFFD, 7, static_cast<uint32_t>(-21), kNoCc, "signed"},
  };
  CheckRows(rows, std::size(rows));
}

TEST(Integer, DivisionAndRemainder) {
  const uint32_t min = 0x80000000, minus1 = 0xFFFFFFFF;
  const Row rows[] = {
      {"divo g0, g1, g2", 2, 7, 3, kNoCc, "dividend src2, divisor src1"},
      {"divo g0, g1, g2", 2, 0xFFFFFFFF, 0x7FFFFFFF, kNoCc, "unsigned"},
      {"divi g0, g1, g2", 2, static_cast<uint32_t>(-7), static_cast<uint32_t>(-3), kNoCc,
       "truncates toward zero"},
      {"remi g0, g1, g2", 2, static_cast<uint32_t>(-7), static_cast<uint32_t>(-1), kNoCc,
       "sign of the dividend"},
      {"modi g0, g1, g2", 2, static_cast<uint32_t>(-7), 1, kNoCc, "sign of the divisor"},
      {"modi g0, g1, g2", static_cast<uint32_t>(-2), 7, static_cast<uint32_t>(-1), kNoCc,
       "sign of the divisor"},
      {"modi g0, g1, g2", 2, 6, 0, kNoCc, "no adjustment of a zero remainder"},
      {"remo g0, g1, g2", 3, 7, 1, kNoCc, ""},
      {"remo g0, g1, g2", 7, 0xFFFFFFFF, 3, kNoCc, "unsigned"},
      {"divi g0, g1, g2", minus1, min, min, kNoCc, "-2^31 / -1 wraps, no host trap"},
      {"remi g0, g1, g2", minus1, min, 0, kNoCc, "-2^31 rem -1"},
      {"modi g0, g1, g2", minus1, min, 0, kNoCc, "-2^31 mod -1"},
  };
  CheckRows(rows, std::size(rows));
}

TEST(Integer, DivisionByZeroReportsOnceAndWritesZero) {
  for (const char* op : {"divo", "divi", "remo", "remi", "modi"}) {
    auto emu = RunSnippet(std::string("\tmov 9, g1\n\tmov 3, g2\n\t") + op +
                              " g0, g1, g2\n\tmov 1, g3\n",
                          4);
    EXPECT_EQ(emu->G(2), 0u) << op;
    EXPECT_EQ(emu->G(3), 1u) << op << ": did not continue";
    EXPECT_EQ(emu->run.fault_count, 1) << op;
    EXPECT_THAT(emu->LogText(), HasSubstr(" ERR 11 E_DIV0, Opcode ")) << op;
  }
}

TEST(Integer, ShiftsUseTheCountModulo32) {
  const Row rows[] = {
      {"shlo g0, g1, g2", 32, 0x12345678, 0x12345678, 4, "count 32 shifts by 0"},
      {"shlo g0, g1, g2", 35, 1, 8, kNoCc, "count 35 shifts by 3"},
      {"shli g0, g1, g2", 1, 0x80000001, 2, kNoCc, "no overflow check"},
      {"shri g0, g1, g2", 31, 0x80000000, 0xFFFFFFFF, kNoCc, "sign bits enter"},
      {"shro g0, g1, g2", 31, 0x80000000, 1, kNoCc, "zeros enter"},
      {"shri g0, g1, g2", 33, 0xFFFFFFF0, 0xFFFFFFF8, kNoCc, "33 shifts by 1"},
      {"shro g0, g1, g2", 0, 0xFFFFFFFF, 0xFFFFFFFF, kNoCc, "count 0"},
  };
  CheckRows(rows, std::size(rows));
}

TEST(Integer, Comparisons) {
  const Row rows[] = {
      {"cmpo g0, g1", 0xFFFFFFFF, 1, kUntouched, 1, "unsigned: greater"},
      {"cmpi g0, g1", 0xFFFFFFFF, 1, kUntouched, 4, "signed: less"},
      {"cmpo g0, g1", 7, 7, kUntouched, 2, "equal"},
      {"cmpinci g0, g1, g2", 5, 5, 6, 2, "compares before incrementing"},
      {"cmpinco g0, g1, g2", 1, 0xFFFFFFFF, 0, 4, "increment wraps"},
      {"cmpdeco g0, g1, g2", 0, 0, 0xFFFFFFFF, 2, "decrement wraps"},
      {"cmpdeci g0, g1, g2", 0, 0x80000000, 0x7FFFFFFF, 1, "signed compare, wrapping result"},
  };
  CheckRows(rows, std::size(rows));
}

TEST(Integer, Moves) {
  // mov with a literal and with a register.
  auto mov = RunSnippet("\tmov 5, g6\n\tldconst 0xCAFE, g0\n\tmov g0, r9\n", 3);
  EXPECT_EQ(mov->G(6), 5u);
  EXPECT_EQ(mov->R(9), 0xCAFEu);
  // movl/movt/movq copy groups word by word; movq g0 -> g4 copies g0-g3.
  auto group = RunSnippet(
      "\tmov 1, g0\n\tmov 2, g1\n\tmov 3, g2\n\tmov 4, g3\n\tmovq g0, g4\n\tmovt g0, r8\n"
      "\tmovl g2, r12\n",
      7);
  for (unsigned k = 0; k < 4; ++k) EXPECT_EQ(group->G(4 + k), k + 1) << k;
  for (unsigned k = 0; k < 3; ++k) EXPECT_EQ(group->R(8 + k), k + 1) << k;
  EXPECT_EQ(group->R(11), 0u) << "movt wrote a fourth word";
  EXPECT_EQ(group->R(12), 3u);
  EXPECT_EQ(group->R(13), 4u);
  // Overlapping groups copy forward: movl r4, r5 leaves r5 = r6 = old r4.
  auto overlap = RunSnippet("\tmov 7, r4\n\tmov 8, r5\n\tmovl r4, r5\n", 3);
  EXPECT_EQ(overlap->R(5), 7u);
  EXPECT_EQ(overlap->R(6), 7u);
  // A literal source: the literal in the first register, zero in the others.
  auto literal = RunSnippet("\tmov 9, g7\n\tmov 9, g8\n\tmovl 5, g6\n\tmovq 31, r4\n", 4);
  EXPECT_EQ(literal->G(6), 5u);
  EXPECT_EQ(literal->G(7), 0u);
  EXPECT_EQ(literal->G(8), 9u) << "movl wrote a third word";
  EXPECT_EQ(literal->R(4), 31u);
  EXPECT_EQ(literal->R(7), 0u);
}

TEST(Integer, RegisterGroupsPastTheLastRegisterAreRefused) {
  for (const char* instruction : {"movl g0, g15", "movt g0, g14", "movq g0, g13", "movq r13, g0",
                                  "movl r15, r0", "movq g4, r13"}) {
    auto emu = RunSnippet(std::string("\tmov 1, g0\n\t") + instruction + "\n", 2);
    EXPECT_TRUE(emu->ended_by_exit) << instruction;
    EXPECT_THAT(emu->LogText(), HasSubstr(" ERR 5 E_OPERAND, Opcode 05")) << instruction;
    EXPECT_EQ(emu->cpu.icount, 1) << instruction;
  }
  // The last groups that fit are accepted.
  auto emu = RunSnippet("\tmovl g0, g14\n\tmovq g0, g12\n\tmovq r12, r8\n", 3);
  EXPECT_FALSE(emu->ended_by_exit);
}

TEST(Integer, RejectedInstructions) {
  struct Rejected {
    const char* instruction;
    const char* line;
    bool fatal;
  } rows[] = {
      {"shrdi g0, g1, g2", " ERR 6 E_INSTR, Opcode 059A ?\n", true},
      {"rotate g0, g1, g2", " ERR 6 E_INSTR, Opcode 059D ?\n", true},
      {"addc g0, g1, g2", " ERR 6 E_INSTR, Opcode 05B0 ?\n", true},
      {"subc g0, g1, g2", " ERR 6 E_INSTR, Opcode 05B2 ?\n", true},
      {"spanbit g0, g1", " ERR 6 E_INSTR, Opcode 0640 ?\n", true},
      {"scanbit g0, g1", " ERR 6 E_INSTR, Opcode 0641 ?\n", true},
      {"synmov g0, g1", " ERR 6 E_INSTR, Opcode 0600 ?\n", false},
      {"synmovl g0, g4", " ERR 6 E_INSTR, Opcode 0601 ?\n", false},
      {"synmovq g0, g4", " ERR 6 E_INSTR, Opcode 0602 ?\n", false},
  };
  for (const Rejected& row : rows) {
    auto emu = RunSnippet(std::string("\tmov 3, g2\n\t") + row.instruction + "\n\tmov 1, g3\n", 3);
    EXPECT_EQ(emu->ended_by_exit, row.fatal) << row.instruction;
    EXPECT_THAT(emu->LogText(), HasSubstr(row.line)) << row.instruction;
    EXPECT_EQ(emu->G(2), 3u) << row.instruction << ": destination changed";
    EXPECT_EQ(emu->G(3), row.fatal ? 0u : 1u) << row.instruction;
  }
}

}  // namespace
}  // namespace korvane
