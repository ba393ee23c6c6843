// The run-time services reached through calls: interface version, single and double
// arithmetic and conversions, and the guest heap with its damaged-chain limits.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "core/calls.h"
#include "driver/emulator.h"
#include "core/handlers.h"
#include "core/heap.h"
#include "support/snippet.h"

namespace korvane {
namespace {

using ::testing::HasSubstr;

constexpr uint32_t kText = 0x10000;
constexpr uint32_t kStack = kText - 4096;
constexpr uint32_t kHeap = 0x300000;
constexpr uint32_t kHeapSize = 0x80000;

uint32_t F(float v) { return SingleToBits(v); }
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kInfD = std::numeric_limits<double>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr double kNaND = std::numeric_limits<double>::quiet_NaN();

class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Rows of a table re-run SetUp on the same Emulator: start each from a clean slate.
    emu.log.SetCapture(true);
    emu.log.ClearCaptured();
    emu.run.fault_count = 0;
    DefineRegion(emu, kRegionText, "TEXT", kText, 0x1000, true, 0, 0, 0);
    DefineRegion(emu, kRegionHeap, "HEAP", kHeap, kHeapSize, true, 0, 0, 0);
    DefineRegion(emu, kRegionStck, "STCK", kStack, 4096, true, 0, 0, 0);
    HeapReset(emu);
    emu.cpu.g[15] = kStack;
    emu.cpu.frame = emu.mem.regions[kRegionStck].host;
    WriteReg(emu.cpu, 0, kStack - 64);
    WriteReg(emu.cpu, 1, kStack + 64);
    emu.cpu.ip = kText;
  }
  // calls n; true when the run ended.
  bool Service(uint32_t n) {
    emu.cpu.src1 = n;
    emu.cpu.length = 4;
    try {
      Op_calls(emu);
    } catch (const EmuExitSignal&) {
      return true;
    }
    return false;
  }
  void SetDouble(int reg, double v) { DoubleToPair(v, &emu.cpu.g[reg], &emu.cpu.g[reg + 1]); }
  double GetDouble(int reg) { return PairToDouble(emu.cpu.g[reg], emu.cpu.g[reg + 1]); }
  uint32_t Heap32(uint32_t a) { return GuestRead32(emu.mem, a); }
  std::string Log() { return emu.log.captured(); }

  Emulator emu;
};

TEST_F(ServicesTest, InterfaceVersionAndNothingService) {
  ASSERT_FALSE(Service(13));
  EXPECT_EQ(emu.cpu.g[0], 101u);
  emu.cpu.g[0] = 5;
  emu.cpu.cc = kCcEqual;
  ASSERT_FALSE(Service(40));
  EXPECT_EQ(emu.cpu.g[0], 5u);
  EXPECT_EQ(emu.cpu.cc, uint32_t{kCcEqual});
}

TEST_F(ServicesTest, SingleArithmetic) {
  struct Row {
    const char* why;
    uint32_t n;
    float a, b;
    uint32_t want;  // bit pattern, so signed zeros and NaN are checked exactly
  };
  const Row rows[] = {
      {"plain add", 21, 1.5f, 2.25f, F(3.75f)},
      {"-0 + -0 keeps the sign", 21, -0.0f, -0.0f, F(-0.0f)},
      {"x - x is +0 under round to nearest", 22, 3.0f, 3.0f, F(0.0f)},
      {"1 + 2^-24 is a tie and rounds to even 1.0", 21, 1.0f, 0x1p-24f, F(1.0f)},
      {"1 + 3*2^-24 ties up to the even neighbour", 21, 1.0f, 0x3p-24f, F(1.0f + 0x1p-22f)},
      {"overflow gives +inf", 23, 3e38f, 10.0f, F(kInf)},
      {"denormal result is kept, not flushed", 23, 0x1p-126f, 0.5f, 0x00400000u},
      {"inf - inf is NaN", 22, kInf, kInf, F(std::nanf(""))},
      {"ordinary divide", 24, 7.0f, 2.0f, F(3.5f)},
      {"inf / 2 stays inf", 24, kInf, 2.0f, F(kInf)},
  };
  for (const Row& row : rows) {
    emu.cpu.g[0] = F(row.a);
    emu.cpu.g[1] = F(row.b);
    ASSERT_FALSE(Service(row.n)) << row.why;
    if (std::isnan(BitsToSingle(row.want))) {
      EXPECT_TRUE(std::isnan(BitsToSingle(emu.cpu.g[0]))) << row.why;
    } else {
      EXPECT_EQ(emu.cpu.g[0], row.want) << row.why;
    }
    EXPECT_EQ(emu.cpu.g[1], F(row.b)) << row.why;
  }
  EXPECT_EQ(emu.run.fault_count, 0);
}

TEST_F(ServicesTest, DoubleArithmetic) {
  struct Row {
    const char* why;
    uint32_t n;
    double a, b, want;
  };
  const Row rows[] = {
      {"add", 57, 1.5, 2.25, 3.75},
      {"double precision is kept (single would lose 1e-10)", 57, 1.0, 1e-10, 1.0000000001},
      {"subtract", 58, 10.0, 0.25, 9.75},
      {"multiply", 59, -3.0, 0.5, -1.5},
      {"divide", 60, 1.0, 3.0, 1.0 / 3.0},
      {"overflow gives inf", 59, 1e300, 1e300, kInfD},
      {"1 + 2^-53 is a tie and rounds to even", 57, 1.0, 0x1p-53, 1.0},
      {"smallest denormal survives", 59, 0x1p-1074, 1.0, 0x1p-1074},
  };
  for (const Row& row : rows) {
    SetDouble(0, row.a);
    SetDouble(2, row.b);
    ASSERT_FALSE(Service(row.n)) << row.why;
    EXPECT_EQ(GetDouble(0), row.want) << row.why;
    EXPECT_EQ(GetDouble(2), row.b) << row.why;
  }
  // Low word first: 1.0 is 0x3FF00000 in the high (odd) register.
  SetDouble(0, 0.5);
  SetDouble(2, 0.5);
  ASSERT_FALSE(Service(57));
  EXPECT_EQ(emu.cpu.g[0], 0u);
  EXPECT_EQ(emu.cpu.g[1], 0x3FF00000u);
}

TEST_F(ServicesTest, DivisionByZeroOrNaNReportsOnceAndGivesZero) {
  struct Row {
    const char* why;
    uint32_t divisor_bits;
  };
  const Row rows[] = {
      {"+0.0", F(0.0f)},
      {"-0.0 is zero too", F(-0.0f)},
      {"NaN divisor", F(kNaN)},
  };
  for (const Row& row : rows) {
    SetUp();
    emu.cpu.g[0] = F(5.0f);
    emu.cpu.g[1] = row.divisor_bits;
    ASSERT_FALSE(Service(24)) << row.why;
    EXPECT_EQ(emu.cpu.g[0], F(0.0f)) << row.why;
    EXPECT_EQ(emu.run.fault_count, 1) << row.why;
    EXPECT_THAT(Log(), HasSubstr("E_DIV0")) << row.why;

    SetUp();
    SetDouble(0, 5.0);
    DoubleToPair(BitsToSingle(row.divisor_bits), &emu.cpu.g[2], &emu.cpu.g[3]);
    ASSERT_FALSE(Service(60)) << row.why;
    EXPECT_EQ(emu.cpu.g[0], 0u) << row.why;
    EXPECT_EQ(emu.cpu.g[1], 0u) << row.why;
    EXPECT_EQ(emu.run.fault_count, 1) << row.why;
  }
}

TEST_F(ServicesTest, ComparesReadUnorderedAsLess) {
  struct Row {
    const char* why;
    double a, b;
    uint32_t cc;
  };
  const Row rows[] = {
      {"less", 1.0, 2.0, kCcLess},
      {"equal", 2.0, 2.0, kCcEqual},
      {"greater", 3.0, 2.0, kCcGreater},
      {"+0 equals -0", 0.0, -0.0, kCcEqual},
      {"NaN first", kNaND, 1.0, kCcLess},
      {"NaN second", 1.0, kNaND, kCcLess},
      {"-inf below everything", -kInfD, -1e30, kCcLess},
  };
  for (const Row& row : rows) {
    emu.cpu.g[0] = F(static_cast<float>(row.a));
    emu.cpu.g[1] = F(static_cast<float>(row.b));
    emu.cpu.cc = kCcNone;
    ASSERT_FALSE(Service(25));
    EXPECT_EQ(emu.cpu.cc, row.cc) << "single: " << row.why;
    SetDouble(0, row.a);
    SetDouble(2, row.b);
    emu.cpu.cc = kCcNone;
    ASSERT_FALSE(Service(61));
    EXPECT_EQ(emu.cpu.cc, row.cc) << "double: " << row.why;
  }
}

TEST_F(ServicesTest, ConversionsToInteger) {
  struct Row {
    const char* why;
    uint32_t n;
    double v;  // single services take it as a single
    int32_t want;
  };
  const Row rows[] = {
      {"27: half rounds away from zero", 27, 2.5, 3},
      {"27: negative half away from zero", 27, -2.5, -3},
      {"27: below one half", 27, 0.49, 0},
      {"27: largest single below 0.5 must not round up", 27, 0.49999997, 0},
      {"27: -0.0", 27, -0.0, 0},
      {"27: NaN", 27, kNaND, 0},
      {"27: +inf", 27, kInfD, 0},
      {"27: 3e9 wraps modulo 2^32", 27, 3000000000.0, -1294967296},
      {"64: truncates toward zero", 64, -2.7, -2},
      {"64: 2^31 wraps to INT_MIN", 64, 2147483648.0, INT32_MIN},
      {"64: 2^63 and beyond give 0", 64, 0x1p63, 0},
      {"64: just below 2^63 keeps its low 32 bits (0)", 64, 0x1p62, 0},
      {"64: -inf", 64, -kInfD, 0},
      {"63: truncates toward zero", 63, -2.7, -2},
      {"63: 3e9 wraps", 63, 3000000000.0, -1294967296},
      {"63: -2^63 has magnitude 2^63: 0", 63, -0x1p63, 0},
      {"63: 2^32 + 5 keeps the low bits", 63, 4294967301.0, 5},
      {"63: NaN", 63, kNaND, 0},
      {"65: floor of -2.5", 65, -2.5, -3},
      {"65: floor of 2.7", 65, 2.7, 2},
      {"65: floor of -0.0", 65, -0.0, 0},
      {"65: +inf", 65, kInfD, 0},
  };
  for (const Row& row : rows) {
    if (row.n == 27 || row.n == 64) {
      emu.cpu.g[0] = F(static_cast<float>(row.v));
    } else {
      SetDouble(0, row.v);
    }
    ASSERT_FALSE(Service(row.n)) << row.why;
    EXPECT_EQ(static_cast<int32_t>(emu.cpu.g[0]), row.want) << row.why;
  }
}

TEST_F(ServicesTest, ConversionsBetweenFormats) {
  emu.cpu.g[0] = static_cast<uint32_t>(-7);
  ASSERT_FALSE(Service(26));
  EXPECT_EQ(emu.cpu.g[0], F(-7.0f));
  emu.cpu.g[0] = 16777217;  // not representable in a single: nearest even is 2^24
  ASSERT_FALSE(Service(26));
  EXPECT_EQ(emu.cpu.g[0], F(16777216.0f));
  emu.cpu.g[0] = 0x80000000u;
  ASSERT_FALSE(Service(62));
  EXPECT_EQ(GetDouble(0), -2147483648.0);
  emu.cpu.g[0] = F(0.1f);
  ASSERT_FALSE(Service(66));
  EXPECT_EQ(GetDouble(0), static_cast<double>(0.1f));
  SetDouble(0, 0.1);
  ASSERT_FALSE(Service(67));
  EXPECT_EQ(emu.cpu.g[0], F(0.1f));
  SetDouble(0, 1.0 + 0x1p-24);  // exactly halfway between two singles: to even
  ASSERT_FALSE(Service(67));
  EXPECT_EQ(emu.cpu.g[0], F(1.0f));
  SetDouble(0, 1e300);
  ASSERT_FALSE(Service(67));
  EXPECT_EQ(emu.cpu.g[0], F(kInf));
}

TEST_F(ServicesTest, NoServiceButTheComparesChangesTheConditionCode) {
  for (uint32_t n : {13u, 21u, 22u, 23u, 26u, 27u, 38u, 42u, 43u, 44u, 57u, 58u, 59u, 62u, 63u,
                     64u, 65u, 66u, 67u}) {
    emu.cpu.g[0] = F(1.0f);
    emu.cpu.g[1] = F(1.0f);
    emu.cpu.g[2] = emu.cpu.g[3] = 0;
    emu.cpu.cc = kCcGreater;
    ASSERT_FALSE(Service(n));
    EXPECT_EQ(emu.cpu.cc, uint32_t{kCcGreater}) << n;
  }
  EXPECT_EQ(emu.run.fault_count, 0);
}

TEST_F(ServicesTest, AllocateTakesWholeBlockWhenSpareIsUnder16) {
  // Make a free block of 100 bytes in front of the rest: a(100) b(8), free a.
  emu.cpu.g[0] = 100;
  ASSERT_FALSE(Service(43));
  uint32_t a = emu.cpu.g[6];
  emu.cpu.g[0] = 8;
  ASSERT_FALSE(Service(43));
  emu.cpu.g[0] = a;
  ASSERT_FALSE(Service(44));

  struct Row {
    const char* why;
    uint32_t n;
    bool whole;
  };
  const Row rows[] = {
      {"85 leaves 15 spare: whole block", 85, true},
      {"84 leaves exactly 16 spare: split", 84, false},
      {"100 fits exactly: whole block", 100, true},
  };
  for (const Row& row : rows) {
    // Restore the 100-byte free block.
    GuestWrite32(emu.mem, kHeap, 100);
    GuestWrite32(emu.mem, kHeap + 4, kHeapBlockFree);
    emu.cpu.g[0] = row.n;
    ASSERT_FALSE(Service(43)) << row.why;
    EXPECT_EQ(emu.cpu.g[6], a) << row.why;
    EXPECT_EQ(Heap32(kHeap), row.whole ? 100u : row.n) << row.why;
    if (!row.whole) {
      EXPECT_EQ(Heap32(kHeap + 8 + row.n), 100 - row.n - 8) << row.why;
      EXPECT_EQ(Heap32(kHeap + 12 + row.n), kHeapBlockFree) << row.why;
    }
  }
}

TEST_F(ServicesTest, AllocateWithoutFitReturnsZero) {
  emu.cpu.g[0] = 0x7FFF9;  // one more than the whole heap
  ASSERT_FALSE(Service(43));
  EXPECT_EQ(emu.cpu.g[6], 0u);
  emu.cpu.g[0] = 0xFFFFFFF8;  // n + 16 must not wrap into a small number
  ASSERT_FALSE(Service(43));
  EXPECT_EQ(emu.cpu.g[6], 0u);
  emu.cpu.g[0] = 0x7FFF8;  // exactly the whole heap
  ASSERT_FALSE(Service(43));
  EXPECT_EQ(emu.cpu.g[6], kHeap + 8);
  ASSERT_FALSE(Service(42));
  EXPECT_EQ(emu.cpu.g[9], 0u);
  EXPECT_EQ(emu.run.fault_count, 0);
}

TEST_F(ServicesTest, FreeOnlyReleasesInUseHeadersInsideHeap) {
  emu.cpu.g[0] = 32;
  ASSERT_FALSE(Service(43));
  uint32_t p = emu.cpu.g[6];
  emu.cpu.g[0] = p;
  ASSERT_FALSE(Service(44));
  EXPECT_EQ(Heap32(p - 4), kHeapBlockFree);
  // A second free finds state 25 and changes nothing.
  std::vector<uint8_t> before(emu.mem.regions[kRegionHeap].host,
                              emu.mem.regions[kRegionHeap].host + kHeapSize);
  ASSERT_FALSE(Service(44));
  // Addresses whose header is not inside HEAP are ignored, whatever lies there.
  for (uint32_t bad : {0u, 4u, kHeap, kHeap + 7, kHeap + kHeapSize, kHeap + kHeapSize + 3,
                       kStack + 8, 0xFFFFFFFFu}) {
    emu.cpu.g[0] = bad;
    ASSERT_FALSE(Service(44)) << bad;
  }
  EXPECT_EQ(0, std::memcmp(before.data(), emu.mem.regions[kRegionHeap].host, kHeapSize));
  // The freed block is reused by the next fitting allocation (no merging, first fit).
  emu.cpu.g[0] = 32;
  ASSERT_FALSE(Service(43));
  EXPECT_EQ(emu.cpu.g[6], p);
}

TEST_F(ServicesTest, FreedNeighboursAreNotMergedUntilReset) {
  uint32_t p[3];
  for (uint32_t& q : p) {
    emu.cpu.g[0] = 40;
    ASSERT_FALSE(Service(43));
    q = emu.cpu.g[6];
  }
  // Use up the rest so only the freed blocks remain.
  emu.cpu.g[0] = kHeapSize - 8 - 3 * 48 - 8;
  ASSERT_FALSE(Service(43));
  ASSERT_NE(emu.cpu.g[6], 0u);
  for (uint32_t q : p) {
    emu.cpu.g[0] = q;
    ASSERT_FALSE(Service(44));
  }
  ASSERT_FALSE(Service(42));
  EXPECT_EQ(emu.cpu.g[9], 40u);
  emu.cpu.g[0] = 60;  // would fit in two merged neighbours, but they stay apart
  ASSERT_FALSE(Service(43));
  EXPECT_EQ(emu.cpu.g[6], 0u);
  ASSERT_FALSE(Service(38));
  ASSERT_FALSE(Service(42));
  EXPECT_EQ(emu.cpu.g[9], kHeapSize - 8);
  emu.cpu.g[0] = 60;
  ASSERT_FALSE(Service(43));
  EXPECT_EQ(emu.cpu.g[6], kHeap + 8);
}

// The firmware can overwrite headers; walks must stay inside HEAP and always end.
TEST_F(ServicesTest, DamagedChainStaysInsideHeap) {
  struct Row {
    const char* why;
    uint32_t first_length;
    uint32_t first_state;
    uint32_t want_alloc;    // result of allocating 16 bytes
    uint32_t want_largest;
  };
  const Row rows[] = {
      {"length leading past HEAP's end: the walk stops there", kHeapSize, kHeapBlockFree, 0, 0},
      {"length that wraps the address space in 32 bits", 0xFFFFFFF8u, kHeapBlockFree, 0, 0},
      {"length ending 4 bytes before HEAP's end: next header would straddle it",
       kHeapSize - 12, kHeapBlockInUse, 0, 0},
      {"unknown state: neither free nor allocatable", 0x7FFF8, 0x1234, 0, 0},
  };
  for (const Row& row : rows) {
    SetUp();
    GuestWrite32(emu.mem, kHeap, row.first_length);
    GuestWrite32(emu.mem, kHeap + 4, row.first_state);
    emu.cpu.g[0] = 16;
    ASSERT_FALSE(Service(43)) << row.why;
    EXPECT_EQ(emu.cpu.g[6], row.want_alloc) << row.why;
    ASSERT_FALSE(Service(42)) << row.why;
    EXPECT_EQ(emu.cpu.g[9], row.want_largest) << row.why;
  }
  // A chain of zero-length blocks is walked to its end (each step still moves 8 bytes).
  SetUp();
  for (uint32_t h = kHeap; h < kHeap + kHeapSize; h += 8) {
    GuestWrite32(emu.mem, h, 0);
    GuestWrite32(emu.mem, h + 4, kHeapBlockInUse);
  }
  GuestWrite32(emu.mem, kHeap + kHeapSize - 8, 0);
  GuestWrite32(emu.mem, kHeap + kHeapSize - 4, kHeapBlockFree);
  emu.cpu.g[0] = 0;
  ASSERT_FALSE(Service(43));
  EXPECT_EQ(emu.cpu.g[6], kHeap + kHeapSize);  // zero bytes at the very end: still inside
}


// Services reached by assembled programs through calls and through callx below 1020.

using test::RunSnippet;

TEST(ServiceSnippet, RoundedSingleToInteger) {
  struct Row {
    const char* why;
    const char* bits;
    int32_t want;
  };
  const Row rows[] = {
      {"2.5 rounds away from zero", "0x40200000", 3},
      {"-2.5 rounds away from zero", "0xC0200000", -3},
      {"0.49 rounds down", "0x3EFAE148", 0},
  };
  for (const Row& row : rows) {
    auto r = RunSnippet(std::string("    lda ") + row.bits + ", g0\n    calls 27\n    mov g0, g8\n"
                        "    lda " + row.bits + ", g0\n    callx 108\n", 20);
    ASSERT_TRUE(r->assembled);
    ASSERT_FALSE(r->ended_by_exit) << r->LogText();
    EXPECT_EQ(static_cast<int32_t>(r->G(8)), row.want) << "calls: " << row.why;
    EXPECT_EQ(static_cast<int32_t>(r->G(0)), row.want) << "callx: " << row.why;
  }
}

TEST(ServiceSnippet, DivisionByZeroReportsAndContinues) {
  auto r = RunSnippet(R"(
    lda 0x40A00000, g0    # 5.0
    mov 0, g1
    calls 24
    mov g0, g8
    lda 0x40140000, g1    # 5.0 as a double: g0 low, g1 high
    mov 0, g0
    mov 0, g2
    mov 0, g3
    callx 240             # service 60
    mov 1, g5
)", 50);
  ASSERT_TRUE(r->assembled);
  ASSERT_FALSE(r->ended_by_exit) << r->LogText();
  EXPECT_EQ(r->G(8), 0u);
  EXPECT_EQ(r->G(0), 0u);
  EXPECT_EQ(r->G(1), 0u);
  EXPECT_EQ(r->G(5), 1u);
  EXPECT_THAT(r->LogText(), HasSubstr(" ERR 11 E_DIV0, Opcode 0660 ?"));
  EXPECT_THAT(r->LogText(), HasSubstr(" ERR 11 E_DIV0, Opcode 0086 ?"));
  EXPECT_EQ(r->run.fault_count, 2);
}

TEST(ServiceSnippet, HeapAllocateFreeReset) {
  auto r = RunSnippet(R"(
    calls 13
    mov g0, g10           # interface version
    mov 10, g0
    lda 43, g7            # numbers above 31 come from a register
    calls g7
    mov g6, g11           # first block
    callx 168             # service 42
    mov g9, g12           # largest free after the split
    mov g11, g0
    callx 176             # service 44
    callx 176             # double free: ignored
    mov 10, g0
    calls g7
    mov g6, g13           # the freed block is found first again
    callx 152             # service 38
    callx 168
    mov g9, g14
    calls 14              # empty entry: g0, g6, g9 = 0
)", 100);
  ASSERT_TRUE(r->assembled);
  ASSERT_FALSE(r->ended_by_exit) << r->LogText();
  uint32_t heap = r->mem.regions[kRegionHeap].base;
  EXPECT_EQ(r->G(10), 101u);
  EXPECT_EQ(r->G(11), heap + 8);
  EXPECT_EQ(r->G(12), 0x7FFF8u - 18);
  EXPECT_EQ(r->G(13), heap + 8);
  EXPECT_EQ(r->G(14), 0x7FFF8u);
  EXPECT_EQ(r->G(0) | r->G(6) | r->G(9), 0u);
  EXPECT_EQ(r->run.fault_count, 0);
}

}  // namespace
}  // namespace korvane
