// Tests of the branch, test and compare-and-branch instructions: the mask rule, target checks
// and the condition codes the compare-and-branch forms leave behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "support/snippet.h"

namespace korvane {
namespace {

using ::testing::HasSubstr;
using test::RunSnippet;

// Runs `setup; branch yes; mov 1, g0; b snippet_end; yes: mov 2, g0` and tells whether the
// branch was taken.
bool Taken(const std::string& setup, const std::string& branch) {
  auto emu = RunSnippet(setup + "\t" + branch + "\n\tmov 1, g0\n\tb snippet_end\nyes:\n\tmov 2, g0\n",
                        40);
  EXPECT_FALSE(emu->ended_by_exit) << branch;
  EXPECT_NE(emu->G(0), 0u) << branch << ": neither path ran";
  return emu->G(0) == 2;
}

TEST(Branch, ConditionalBranchesFollowTheMaskRule) {
  struct Row {
    const char* setup;
    const char* branch;
    bool taken;
  } rows[] = {
      {"\tcmpo 3, 3\n", "be yes", true},    // equal after cmpo of 3 with 3
      {"\tcmpo 3, 3\n", "bne yes", false},
      {"\tcmpo 3, 3\n", "bge yes", true},
      {"\tcmpo 3, 3\n", "ble yes", true},
      {"\tcmpo 3, 3\n", "bg yes", false},
      {"\tcmpo 4, 3\n", "bg yes", true},    // src1 > src2: greater
      {"\tcmpo 3, 4\n", "bl yes", true},
      {"\tcmpo 3, 4\n", "bo yes", true},    // any comparison result is ordered
      {"\tcmpo 3, 4\n", "bno yes", false},
      {"", "bno yes", true},                // condition code 0 at start
      {"\tchkbit 2, 1\n", "bno yes", true}, // chkbit of a clear bit leaves 0
      {"\tchkbit 0, 1\n", "be yes", true},
      {"", "b yes", true},
  };
  for (const Row& row : rows) EXPECT_EQ(Taken(row.setup, row.branch), row.taken) << row.branch;
}

TEST(Branch, TestInstructionsWriteZeroOrOne) {
  struct Row {
    const char* setup;
    const char* test;
    uint32_t expected;
  } rows[] = {
      {"\tcmpo 3, 3\n", "teste g5", 1},
      {"\tcmpo 3, 4\n", "teste g5", 0},
      {"", "testno g5", 1},               // only while the condition code is 0
      {"\tcmpo 3, 3\n", "testno g5", 0},
      {"\tcmpo 3, 4\n", "testle r7", 1},
      {"\tcmpo 4, 3\n", "testge g5", 1},
      {"\tcmpo 4, 3\n", "testl g5", 0},
      {"\tcmpo 4, 3\n", "testo g5", 1},
  };
  for (const Row& row : rows) {
    auto emu = RunSnippet(std::string("\tmov 9, g5\n\tmov 9, r7\n") + row.setup + "\t" + row.test +
                              "\n",
                          4);
    uint32_t got = std::string(row.test).find("r7") != std::string::npos ? emu->R(7) : emu->G(5);
    EXPECT_EQ(got, row.expected) << row.setup << row.test;
  }
}

TEST(Branch, CompareAndBranch) {
  struct Row {
    const char* setup;
    const char* branch;
    bool taken;
    uint32_t cc;
  } rows[] = {
      {"\tmov 5, g1\n\tmov 7, g2\n", "cmpobl g1, g2, yes", true, 4},  // 5 < 7
      {"\tldconst 0xFFFFFFFF, g1\n", "cmpibl g1, g2, yes", true, 4},  // -1 < 0 signed
      {"\tldconst 0xFFFFFFFF, g1\n", "cmpobl g1, g2, yes", false, 1}, // not unsigned
      {"\tmov 3, r4\n", "cmpobe 3, r4, yes", true, 2},                // literal src1
      {"\tmov 4, r4\n", "cmpobne 3, r4, yes", true, 4},
      {"\tmov 4, r4\n", "cmpoble 3, r4, yes", true, 4},
      {"\tmov 4, r4\n", "cmpobge 3, r4, yes", false, 4},
      {"\tmov 2, r4\n", "cmpobg 3, r4, yes", true, 1},
      {"\tmov 4, r4\n", "cmpibno 3, r4, yes", false, 4},  // sets the code, never branches
      {"\tmov 4, r4\n", "cmpibo 3, r4, yes", true, 4},    // always branches
      {"\tmov 4, r4\n", "cmpibe 4, r4, yes", true, 2},
      {"\tmov 4, r4\n", "cmpibne 4, r4, yes", false, 2},
      {"\tmov 4, r4\n", "cmpibge 5, r4, yes", true, 1},
      {"\tmov 4, r4\n", "cmpible 5, r4, yes", false, 1},
      {"\tmov 4, r4\n", "cmpibg 5, r4, yes", true, 1},
  };
  for (const Row& row : rows) {
    auto emu = RunSnippet(std::string(row.setup) + "\t" + row.branch +
                              "\n\tmov 1, g0\n\tb snippet_end\nyes:\n\tmov 2, g0\n",
                          40);
    EXPECT_EQ(emu->G(0) == 2, row.taken) << row.branch;
    EXPECT_EQ(emu->cpu.cc, row.cc) << row.branch;
  }
}

TEST(Branch, BitTestBranchesLeaveTheConditionCode) {
  struct Row {
    const char* setup;
    const char* branch;
    bool taken;
  } rows[] = {
      {"\tldconst 0x80000000, g4\n", "bbs 31, g4, yes", true},  // negative src2: bit 31 set
      {"\tmov 1, g4\n", "bbs 31, g4, yes", false},
      {"\tmov 2, g4\n\tldconst 33, r3\n", "bbs r3, g4, yes", true},  // 33 from a register: bit 1
      {"\tmov 2, g4\n\tmov 0, r3\n", "bbc r3, g4, yes", true},
      {"\tmov 2, g4\n", "bbc 1, g4, yes", false},
  };
  for (const Row& row : rows) {
    auto emu = RunSnippet(std::string("\tcmpo 4, 3\n") + row.setup + "\t" + row.branch +
                              "\n\tmov 1, g0\n\tb snippet_end\nyes:\n\tmov 2, g0\n",
                          40);
    EXPECT_EQ(emu->G(0) == 2, row.taken) << row.setup << row.branch;
    EXPECT_EQ(emu->cpu.cc, static_cast<uint32_t>(kCcGreater)) << row.branch << " changed it";
  }
}

TEST(Branch, TargetsMustBeAlignedInsideTheText) {
  // The last word of the text region is a valid target; one word beyond is not.
  test::SnippetOptions o;
  o.park_at_end = false;
  auto last = RunSnippet("\tb last\n\tmov 1, g0\nlast:\n\tb last\n", 5, o);
  EXPECT_FALSE(last->ended_by_exit);
  EXPECT_EQ(last->cpu.ip, last->Sym("last"));
  auto beyond = RunSnippet("here:\n\tb here + 4\n", 5, o);
  ASSERT_EQ(beyond->exe.text.size(), 4u);
  EXPECT_TRUE(beyond->ended_by_exit);
  EXPECT_THAT(beyond->LogText(), HasSubstr(" ERR 10 E_GOTO, Opcode 0008 ?\n"));
  EXPECT_EQ(beyond->cpu.ip, beyond->Sym("here")) << "the fault shows the branch's own address";
  // A taken conditional branch beyond the text faults too; an untaken one does not look.
  auto cond = RunSnippet("\tcmpo 1, 1\n\tbne _start + 0x100000\n\tbe _start + 0x100000\n", 5);
  EXPECT_TRUE(cond->ended_by_exit);
  EXPECT_EQ(cond->cpu.icount, 2);
  EXPECT_THAT(cond->LogText(), HasSubstr(" ERR 10 E_GOTO, Opcode 0012 ?\n"));
  // A branch below the text start.
  auto below = RunSnippet("\tb _start - 4\n", 5);
  EXPECT_TRUE(below->ended_by_exit);
  // An entry point at 2 modulo 4: the fetch does not look at alignment, so the first
  // instruction runs, but a branch inside the region then targets 2 modulo 4 and faults.
  // The words are given as bytes: mov 1, g0; b +4; mov 2, g1.
  test::SnippetOptions odd;
  odd.link.entry = "odd";
  auto bytes = [](uint32_t w) {
    char line[64];
    std::snprintf(line, sizeof line, "\t.byte 0x%02X, 0x%02X, 0x%02X, 0x%02X\n", w & 0xFF,
                  (w >> 8) & 0xFF, (w >> 16) & 0xFF, w >> 24);
    return std::string(line);
  };
  auto misaligned = RunSnippet("\t.short 0\n\t.globl odd\nodd:\n" + bytes(0x5C800E01) + "here:\n" +
                                   bytes(0x08000004) + "next:\n" + bytes(0x5C880E02) +
                                   "\t.short 0\n",
                               5, odd);
  ASSERT_EQ(misaligned->Sym("next") & 3, 2u);
  EXPECT_TRUE(misaligned->ended_by_exit);
  EXPECT_EQ(misaligned->G(0), 1u);
  EXPECT_EQ(misaligned->G(1), 0u) << "the branch went to a target that is not a multiple of 4";
  EXPECT_EQ(misaligned->cpu.ip, misaligned->Sym("here"));
  EXPECT_THAT(misaligned->LogText(), HasSubstr(" ERR 10 E_GOTO, Opcode 0008 ?\n"));
}

TEST(Branch, BranchToItselfRepeatsUntilStopped) {
  auto emu = RunSnippet("self:\n\tb self\n", 5000);
  EXPECT_EQ(emu->cpu.icount, 5000);
  EXPECT_EQ(emu->cpu.ip, emu->Sym("self"));
  EXPECT_EQ(emu->cpu.ea, 0u);
  EXPECT_EQ(emu->cpu.length, 0u);
}

}  // namespace
}  // namespace korvane
