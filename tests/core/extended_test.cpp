// The full instruction set of option -xi: one program per family, run without the option (the
// first such instruction ends the run and the log names the option) and with it (edge values).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "core/calls.h"
#include "driver/emulator.h"
#include "support/snippet.h"

namespace korvane {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Runs `body` without the option, expecting `refusal` (the fault line of its first instruction of
// the family and its mnemonic) and the note naming -xi, then with the option, expecting the
// registers of `wants` ("g4=0 r5=0x2 ...") to hold their values.
std::unique_ptr<test::SnippetRun> RunBothWays(const std::string& body, const std::string& refusal,
                                              const std::string& wants) {
  auto without = test::RunSnippet(body, 400);
  EXPECT_TRUE(without->ended_by_exit);
  EXPECT_THAT(without->LogText(),
              HasSubstr(refusal + " needs the option -xi (execute the full instruction set)\n"));
  test::SnippetOptions options;
  options.options = "-v1 -xi";
  auto with = test::RunSnippet(body, 400, options);
  EXPECT_FALSE(with->ended_by_exit) << with->LogText();
  EXPECT_THAT(with->LogText(), Not(HasSubstr("E_INSTR")));
  std::istringstream in(wants);
  for (std::string w; in >> w;) {
    unsigned n = std::stoul(w.substr(1)) + (w[0] == 'g' ? 16 : 0);
    EXPECT_EQ(ReadReg(with->cpu, n), std::stoul(w.substr(w.find('=') + 1), nullptr, 0)) << w;
  }
  return with;
}

TEST(FullSet, CarryChainsOverThreeWords) {
  RunBothWays(R"(
    not 0, g0
    not 0, g1
    not 0, g2
    cmpo 1, 0             # greater: carry clear
    addc 1, g0, g4
    addc 0, g1, g5
    addc 0, g2, g6        # 2^96 - 1 + 1 = 0, carry out
    addc 0, 0, g7         # the carry itself
    cmpo 0, 0             # equal: carry set, that is no borrow
    subc 1, g4, g8
    subc 0, g5, g9
    subc 0, g6, g10       # 0 - 1 = 2^96 - 1: borrow, no overflow
    modac 0, 0, g11
    lda 0x7FFFFFFF, g12
    addc 1, g12, g13      # signed overflow without carry: condition code 001
    modac 0, 0, g14
)",
              " ERR 6 E_INSTR, Opcode 05B0 ?\naddc",
              "g4=0 g5=0 g6=0 g7=1 g8=0xFFFFFFFF g9=0xFFFFFFFF g10=0xFFFFFFFF g11=0"
              " g13=0x80000000 g14=1");
}

TEST(FullSet, ExtendedMultiplyAndDivide) {
  auto r = RunBothWays(R"(
    not 0, g0
    emul g0, g0, g2       # 0xFFFFFFFF squared = 0xFFFFFFFE00000001
    ediv g0, g2, g4       # and back: remainder 0, quotient 0xFFFFFFFF
    lda 5, g6
    lda 3, g7             # 0x300000005 / 2: the quotient 0x180000002 keeps its low word
    ediv 2, g6, g8
    mov 9, g10
    ediv 0, g6, g10       # divisor zero: E_DIV0, the pair cleared, the run goes on
    emul g0, 2, r4        # long long (2:0xFFFFFFFF) x (3:2) as compiled C multiplies
    mulo g0, 3, r6
    addo r6, r5, r5
    addo 4, r5, r5
)",
                       " ERR 6 E_INSTR, Opcode 0670 ?\nemul",
                       "g2=1 g3=0xFFFFFFFE g4=0 g5=0xFFFFFFFF g8=1 g9=0x80000002 g10=0 g11=0"
                       " r4=0xFFFFFFFE r5=2");
  EXPECT_THAT(r->LogText(), HasSubstr(" ERR 11 E_DIV0, Opcode 0671 ?\n"));
}

TEST(FullSet, RotateShiftDividingAndBitScans) {
  RunBothWays(R"(
    lda 0x12345678, g0
    rotate 4, g0, g1
    subo 7, 0, g3
    shrdi 1, g3, g4       # -7 / 2 = -3 (shri gives -4)
    lda 0x80000000, g5
    shrdi 31, g5, g6      # -2^31 / 2^31 = -1
    shrdi 1, 7, g7
    scanbit 0, g8
    modac 0, 0, g9        # none found: condition code 0
    scanbit g5, g10
    spanbit g3, g11       # -7 = ...11111001: bit 2 is the highest clear one
    modac 0, 0, g12       # found: condition code 2
    not 0, g13
    spanbit g13, g14
)",
              " ERR 6 E_INSTR, Opcode 059D ?\nrotate",
              "g1=0x23456781 g4=0xFFFFFFFD g6=0xFFFFFFFF g7=3 g8=0xFFFFFFFF g9=0 g10=31 g11=2"
              " g12=2 g14=0xFFFFFFFF");
}

TEST(FullSet, BalControlsAndSetjmpLongjmpThroughFlushreg) {
  auto r = RunBothWays(R"(
    bal leaf
    fmark
    modpc 0, 0, g10       # read only
    lda 0x1F0000, g11
    mov 0, g12
    modpc 0, g11, g12     # clears the priority bits
    modpc 0, 0, g13
    modac 7, 4, r8        # the condition code becomes 4 (less)
    testl r9
    lda jb, g0
    call setjmp
    cmpobne 0, g0, resumed
    call level1           # level1 calls longjmp(jb, 7)
    mov 1, g8             # not reached
resumed:
    mov g0, r10
    b snippet_end
leaf:
    mov 9, g9
    bx (g14)
level1:
    lda jb, g0
    mov 7, g1
    call longjmp
    ret
setjmp:                   # keeps the caller's FP and its pfp, sp, rip and r3
    flushreg
    andnot 15, pfp, g1
    st g1, 16(g0)
    ldq (g1), r4
    stq r4, (g0)
    mov 0, g0
    ret
longjmp:                  # puts them back and returns into that frame
    flushreg
    ld 16(g0), g2
    ldq (g0), r4
    stq r4, (g2)
    mov g2, pfp
    mov g1, g0
    ret
    .bss
jb: .space 32
)",
                       " ERR 6 E_INSTR, Opcode 000B ?\nbal",
                       "g9=9 g10=0x1F0002 g12=0x1F0002 g13=2 r9=1 r10=7 g8=0");
  EXPECT_EQ(r->G(15), r->mem.regions[kRegionStck].base);  // back in the first frame
}

TEST(FullSet, RealMovesAndTranscendentals) {
  auto r = RunBothWays(R"(
    lda 0x3FC00000, g0    # 1.5
    movr g0, g1
    movr 5, g2            # a literal is its raw bit pattern
    lda 0x54442D18, g4
    lda 0x400921FB, g5    # pi as a long real
    movrl g4, g6
    mov 0, g12
    cosr g12, g9
    tanr g0, g10
    sinr g0, g11
)",
                       " ERR 6 E_INSTR, Opcode 06C9 ?\nmovr",
                       "g1=0x3FC00000 g2=5 g6=0x54442D18 g7=0x400921FB g9=0x3F800000");
  EXPECT_EQ(r->G(10), SingleToBits(static_cast<float>(std::tan(1.5))));
  EXPECT_EQ(r->G(11), SingleToBits(static_cast<float>(std::sin(1.5))));
}

TEST(FullSet, PairsOutsideTheRulesAreOperandFaults) {
  test::SnippetOptions options;
  options.options = "-v1 -xi";
  for (const char* instruction : {"emul g0, g1, g3",   // odd destination pair
                                  "ediv g0, g3, g4",   // odd dividend pair
                                  "movrl 3, g4",       // a literal names no pair
                                  "movrl g0, r15"}) {  // runs past r15
    auto r = test::RunSnippet(std::string("    ") + instruction + "\n", 10, options);
    EXPECT_TRUE(r->ended_by_exit) << instruction;
    EXPECT_THAT(r->LogText(), HasSubstr(" ERR 5 E_OPERAND, Opcode 06")) << instruction;
  }
}

}  // namespace
}  // namespace korvane
