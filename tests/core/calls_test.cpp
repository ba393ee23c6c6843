// Frame bounds, transfer targets, empty service entries and the rejected control instructions
// through the handlers on a small machine, then calls, returns and callx as assembled programs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/calls.h"
#include "driver/emulator.h"
#include "core/handlers.h"
#include "core/heap.h"
#include "support/snippet.h"

namespace korvane {
namespace {

using ::testing::HasSubstr;

constexpr uint32_t kText = 0x10000;
constexpr uint32_t kTextSize = 0x1000;
constexpr uint32_t kStack = kText - 4096;
constexpr uint32_t kHeap = 0x300000;

// A machine in the state the loader leaves: first frame at STCK base, ip at the entry.
class CallsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Rows of a table re-run SetUp on the same Emulator: start each from a clean slate.
    emu.log.SetCapture(true);
    emu.log.ClearCaptured();
    emu.run.fault_count = 0;
    DefineRegion(emu, kRegionText, "TEXT", kText, kTextSize, true, 0, 0, 0);
    DefineRegion(emu, kRegionHeap, "HEAP", kHeap, 0x80000, true, 0, 0, 0);
    DefineRegion(emu, kRegionStck, "STCK", kStack, 4096, true, 0, 0, 0);
    HeapReset(emu);
    emu.cpu.g[15] = kStack;
    emu.cpu.frame = emu.mem.regions[kRegionStck].host;
    SetR(0, kStack - 64);
    SetR(1, kStack + 64);
    emu.cpu.ip = kText;
    emu.cpu.length = 4;
  }
  uint32_t R(unsigned n) { return ReadReg(emu.cpu, n); }
  void SetR(unsigned n, uint32_t v) { WriteReg(emu.cpu, n, v); }

  // Runs a handler as the run loop would for the instruction at ip; true when the run ended.
  bool Exec(void (*handler)(Processor&), uint32_t length = 4) {
    emu.cpu.length = length;
    try {
      handler(emu);
    } catch (const EmuExitSignal&) {
      return true;
    }
    return false;
  }
  bool Call(uint32_t target) {
    emu.cpu.ea = target - emu.cpu.ip;
    return Exec(Op_call);
  }
  std::string Log() { return emu.log.captured(); }

  Emulator emu;
};

// Frame pointers that guest code damaged must not move the current frame out of STCK.
TEST_F(CallsTest, FrameBoundsEndTheRunWithoutLeavingStack) {
  struct Row {
    const char* why;
    bool is_ret;
    uint32_t value;  // r0 for ret, r1 for call
    const char* fault;
  };
  const Row rows[] = {
      {"ret in the first frame: pfp is STCK base - 64", true, kStack - 64, "E_STACKU"},
      {"pfp far below the stack", true, 0, "E_STACKU"},
      {"pfp whose frame would run past STCK's end", true, kStack + 4096 - 60, "E_STACKU"},
      {"pfp above the whole address space of STCK", true, 0xFFFFFFF0, "E_STACKU"},
      // Its 64 bytes end exactly at STCK last, but no call builds a frame that reaches last.
      {"pfp above the last frame a call can build", true, kStack + 4096 - 64, "E_STACKU"},
      {"sp below STCK", false, kStack - 256, "E_STACKO"},
      {"sp that rounds past 2^32 and wraps to 0", false, 0xFFFFFFF9, "E_STACKO"},
      {"new frame would reach STCK last", false, kStack + 4096 - 64 - 15, "E_STACKO"},
  };
  for (const Row& row : rows) {
    SetUp();
    SetR(row.is_ret ? 0 : 1, row.value);
    uint8_t* frame = emu.cpu.frame;
    bool ended = row.is_ret ? Exec(Op_ret) : Call(kText + 0x100);
    EXPECT_TRUE(ended) << row.why;
    EXPECT_THAT(Log(), HasSubstr(row.fault)) << row.why;
    EXPECT_EQ(emu.cpu.frame, frame) << row.why;
    EXPECT_EQ(emu.cpu.g[15], kStack) << row.why;
  }
}

TEST_F(CallsTest, HighestFrameThatFitsIsAccepted) {
  // new FP + 64 = STCK last - 1 is the last frame below the overflow line.
  SetR(1, kStack + 4096 - 64 - 2 - 15);
  ASSERT_FALSE(Call(kText + 0x100));
  EXPECT_EQ(emu.cpu.g[15], kStack + 4096 - 80);
  ASSERT_FALSE(Exec(Op_ret));
  EXPECT_EQ(emu.cpu.g[15], kStack);
}

TEST_F(CallsTest, PfpComesFromG15AsTheGuestLeftIt) {
  // Guest code that writes g15 changes what the next call stores, not where r0-r15 are.
  emu.cpu.g[15] = kStack + 0x200;
  ASSERT_FALSE(Call(kText + 0x100));
  EXPECT_EQ(R(0), kStack + 0x200u);
  EXPECT_EQ(emu.cpu.g[15], kStack + 64);
}

TEST_F(CallsTest, TransferTargetsOutsideTextOrUnalignedAreFatal) {
  struct Row {
    const char* why;
    uint32_t target;
    bool valid;
  };
  const Row rows[] = {
      {"first word of TEXT", kText, true},
      {"last word of TEXT", kText + kTextSize - 4, true},
      {"not a multiple of 4", kText + 2, false},
      {"just past TEXT", kText + kTextSize, false},
      {"below TEXT (in STCK)", kStack, false},
      {"address 0 (a call to 0 is the intercept's to decide, so bx and ret only)", 0, false},
  };
  for (const Row& row : rows) {
    for (int kind = 0; kind < 3; ++kind) {  // call, bx, ret
      if (kind == 0 && row.target == 0) continue;
      SetUp();
      bool ended;
      if (kind == 0) {
        ended = Call(row.target);
      } else if (kind == 1) {
        emu.cpu.ea = row.target;
        ended = Exec(Op_bx);
      } else {
        ASSERT_FALSE(Call(kText + 0x100));
        WriteReg(emu.cpu, 2, 0);
        GuestWrite32(emu.mem, kStack + 8, row.target);  // the caller's rip
        ended = Exec(Op_ret);
      }
      EXPECT_EQ(ended, !row.valid) << row.why << " kind " << kind;
      if (row.valid) {
        EXPECT_EQ(emu.cpu.ip, row.target) << row.why << " kind " << kind;
      } else {
        EXPECT_THAT(Log(), HasSubstr("E_GOTO")) << row.why << " kind " << kind;
      }
    }
  }
}

TEST_F(CallsTest, EmptyServiceEntriesClearResultRegistersOnly) {
  struct Row {
    const char* why;
    uint32_t n;
  };
  const Row rows[] = {
      {"unlisted number between the native services", 14},
      {"number 0", 0},
      {"last table entry", 254},
      {"past the table: treated as empty", 255},
      {"far past the table", 0xFFFFFFFF},
  };
  for (const Row& row : rows) {
    SetUp();
    for (int i = 0; i < 16; ++i) emu.cpu.g[i] = 100 + i;
    emu.cpu.g[15] = kStack;
    emu.cpu.cc = kCcGreater;
    emu.cpu.src1 = row.n;
    ASSERT_FALSE(Exec(Op_calls)) << row.why;
    for (int i = 0; i < 15; ++i) {
      uint32_t want = (i == 0 || i == 6 || i == 9) ? 0 : 100 + i;
      EXPECT_EQ(emu.cpu.g[i], want) << row.why << " g" << i;
    }
    EXPECT_EQ(emu.cpu.cc, uint32_t{kCcGreater}) << row.why;
    EXPECT_EQ(emu.cpu.ip, kText) << row.why;
    EXPECT_EQ(emu.cpu.g[15], kStack) << row.why;
  }
}

TEST_F(CallsTest, RegisterServiceIgnoresNumbersPastTheTable) {
  emu.cpu.g[0] = 255;
  emu.cpu.g[1] = kText;
  emu.cpu.src1 = 12;
  ASSERT_FALSE(Exec(Op_calls));
  for (uint32_t e : emu.cpu.service_table) EXPECT_EQ(e, 0u);
  emu.cpu.g[0] = 254;
  ASSERT_FALSE(Exec(Op_calls));
  EXPECT_EQ(emu.cpu.service_table[254], kText);
}

TEST_F(CallsTest, RejectedControlInstructions) {
  struct Row {
    const char* why;
    void (*handler)(Processor&);
    bool fatal;
  };
  const Row rows[] = {
      {"bal needs the i960 link register model", Op_bal, true},
      {"modac: no arithmetic controls", Op_modac, true},
      {"modpc: no process controls", Op_modpc, true},
      {"fmark: no trace controls", Op_fmark, true},
      {"flushreg: no register cache", Op_flushreg, true},
      {"sysctl is reported and skipped", Op_sysctl, false},
  };
  for (const Row& row : rows) {
    SetUp();
    EXPECT_EQ(Exec(row.handler), row.fatal) << row.why;
    EXPECT_THAT(Log(), HasSubstr("E_INSTR")) << row.why;
    EXPECT_EQ(emu.cpu.ip, kText) << row.why;
    EXPECT_EQ(emu.cpu.g[15], kStack) << row.why;
  }
}


// The same rules through assembled programs, decoded and run by the run loop.

using test::RunSnippet;

TEST(CallSnippet, FrameLayoutAndReturnAddress) {
  auto r = RunSnippet(R"(
    lda 84(g15), r1       # 20 bytes of local data: sp = FP + 84
    call sub
after_call:
    lda sub, g5
    callx (g5)            # register form: one word
after_callx4:
    callx sub             # absolute address above 4095: a displacement word follows
after_callx8:
    b snippet_end
sub:
    mov g15, g4           # new FP
    mov pfp, g6
    mov sp, g7
    ret
)", 200);
  ASSERT_TRUE(r->assembled);
  ASSERT_FALSE(r->ended_by_exit) << r->LogText();
  uint32_t stack = r->mem.regions[kRegionStck].base;
  EXPECT_EQ(r->G(4), stack + 96);
  EXPECT_EQ(r->G(6), stack);
  EXPECT_EQ(r->G(7), stack + 160);
  EXPECT_EQ(r->G(15), stack);
  EXPECT_EQ(r->R(2), r->Sym("after_callx8"));  // the last call's rip, in the first frame
  EXPECT_EQ(r->Sym("after_callx8") - r->Sym("after_callx4"), 8u);
}

TEST(CallSnippet, RecursionOverflowsAfter62Frames) {
  auto r = RunSnippet(R"(
    mov 0, g0
    call rec
    b snippet_end
rec:
    addo 1, g0, g0
    call rec
    ret
)", 10000);
  ASSERT_TRUE(r->assembled);
  EXPECT_TRUE(r->ended_by_exit);
  EXPECT_EQ(r->G(0), 62u);  // frames 1-62 ran; the 63rd call overflowed
  EXPECT_THAT(r->LogText(), HasSubstr(" ERR 9 E_STACKO, Opcode 0009 ?"));
  EXPECT_EQ(r->G(15), r->mem.regions[kRegionStck].base + 62 * 64);
}

TEST(CallSnippet, RetInFirstFrameUnderflows) {
  auto r = RunSnippet("    ret\n", 10);
  ASSERT_TRUE(r->assembled);
  EXPECT_TRUE(r->ended_by_exit);
  EXPECT_THAT(r->LogText(), HasSubstr(" ERR 8 E_STACKU, Opcode 000A ?"));
}

TEST(CallSnippet, CallxServiceAddressesAndTheServiceTable) {
  // callx 48 to 51 all register g1 as service 20; calls 20 then runs it as a procedure.
  for (int a = 48; a <= 51; ++a) {
    auto r = RunSnippet(R"(
    lda routine, g1
    mov 20, g0
    callx )" + std::to_string(a) + R"(
    calls 20
back:
    mov 9, g2
    b snippet_end
routine:
    mov 5, g3
    mov rip, g4
    ret
)", 200);
    ASSERT_TRUE(r->assembled);
    ASSERT_FALSE(r->ended_by_exit) << r->LogText();
    EXPECT_EQ(r->cpu.service_table[20], r->Sym("routine")) << a;
    EXPECT_EQ(r->G(3), 5u) << a;
    EXPECT_EQ(r->G(2), 9u) << a;
    EXPECT_EQ(r->R(2), r->Sym("back")) << a;
  }
  // 1020 is the first ordinary address: a call, outside TEXT here.
  auto r = RunSnippet("    callx 1020\n", 10);
  EXPECT_TRUE(r->ended_by_exit);
  EXPECT_THAT(r->LogText(), HasSubstr(" ERR 10 E_GOTO, Opcode 0086 ?"));
}

TEST(CallSnippet, JumpTableThroughBx) {
  auto r = RunSnippet(R"(
    mov 2, g0
    ld table[g0*4], g1
    bx (g1)
case0:
    mov 10, g2
    b snippet_end
case1:
    mov 11, g2
    b snippet_end
case2:
    mov 12, g2
    b snippet_end
    .data
table:
    .word case0, case1, case2
    .text
)", 50);
  ASSERT_TRUE(r->assembled);
  ASSERT_FALSE(r->ended_by_exit) << r->LogText();
  EXPECT_EQ(r->G(2), 12u);
}

}  // namespace
}  // namespace korvane
