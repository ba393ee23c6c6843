// Tests of the run loop: decode of every format and MEM mode, the addo fast path, the loop's
// start and end, system_timer, host controls and the statistics arithmetic.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "support/snippet.h"

namespace korvane {
namespace {

using test::RunSnippet;
using test::SnippetOptions;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

std::string Word(uint32_t w) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "\t.word 0x%08X\n", w);
  return buf;
}

// Raw MEM word: opcode, data register, abase, mode, scale code, index.
uint32_t MemWord(uint32_t op, uint32_t reg, uint32_t abase, uint32_t mode, uint32_t scale,
                 uint32_t index) {
  return op << 24 | reg << 19 | abase << 14 | mode << 10 | scale << 7 | index;
}

// Raw REG word for a 12-bit opcode.
uint32_t RegWord(uint32_t opcode, uint32_t dst, uint32_t src2, uint32_t src1, uint32_t bits) {
  return (opcode >> 4) << 24 | dst << 19 | src2 << 14 | (opcode & 0xF) << 7 | src1 | bits;
}

constexpr unsigned kG0 = 16;

TEST(RunLoop, ExecutionStartsAtTheEntryAddress) {
  SnippetOptions o;
  o.link.entry = "main";
  auto emu = RunSnippet("\tmov 1, g0\n\t.globl main\nmain:\n\tmov 2, g1\n", 1, o);
  EXPECT_EQ(emu->G(0), 0u) << "the instruction before the entry ran";
  EXPECT_EQ(emu->G(1), 2u);
  EXPECT_EQ(emu->cpu.icount, 1);
}

TEST(RunLoop, InstructionBudgetStopsExactlyAndLogsTheNormalEnd) {
  // Around the 32768-instruction check points, where the budget and the timer meet.
  for (uint64_t n : {1ull, 32767ull, 32768ull, 32769ull, 70001ull}) {
    auto emu = RunSnippet("self:\n\tb self\n", n);
    EXPECT_EQ(emu->cpu.icount, static_cast<int32_t>(n));
    EXPECT_TRUE(emu->run.stopped_by_host);
    EXPECT_FALSE(emu->ended_by_exit);
    EXPECT_EQ(emu->cpu.ip, emu->Sym("self"));
    EXPECT_EQ(emu->run.executed, n);
  }
  auto emu = RunSnippet("self:\n\tb self\n", 100);
  char trace[96];
  std::snprintf(trace, sizeof trace,
                "IP=%08X  %08X (00000000)       100 ?       "
                " EXIT REQUESTED\n",
                emu->Sym("self"), emu->cpu.instr_word);
  EXPECT_THAT(emu->LogText(), HasSubstr(trace));
  EXPECT_THAT(emu->LogText(),
              ContainsRegex("Elapsed time: [0-9]+\\.[0-9] seconds \\(dtime=[0-9]+\\)\n"
                            "\n0  0  0  0  Instructions= 100, Time/Instr= [0-9]+ ns\n"));
}

TEST(RunLoop, AddFastPathCounters) {
  struct Row {
    const char* instruction;
    uint32_t expected;  // value of the destination
    bool global_dst;
    int32_t fast_reg, fast_lit, addo, addi;
  } rows[] = {
      {"addo r4, r5, r6", 7, false, 1, 0, 0, 0},   // all local registers: register fast path
      {"addi r4, r5, r6", 7, false, 1, 0, 0, 0},   // addi shares the pattern
      {"addi 7, r5, r6", 11, false, 0, 1, 0, 0},   // literal below 16: literal fast path
      {"addo 15, r5, r6", 19, false, 0, 1, 0, 0},  // largest fast literal
      {"addo 16, r5, r6", 20, false, 0, 0, 1, 0},  // literal 16-31 takes the normal path
      {"addo g4, r5, r6", 4, false, 0, 0, 1, 0},   // a global source: normal path (g4 = 0)
      {"addi r4, r5, g6", 7, true, 0, 0, 0, 1},    // a global destination: normal path
  };
  for (const Row& row : rows) {
    auto emu = RunSnippet(std::string("\tmov 3, r4\n\tmov 4, r5\n\t") + row.instruction + "\n", 3);
    uint32_t got = row.global_dst ? emu->G(6) : emu->R(6);
    EXPECT_EQ(got, row.expected) << row.instruction;
    EXPECT_EQ(emu->cpu.fast_reg, row.fast_reg) << row.instruction;
    EXPECT_EQ(emu->cpu.fast_lit, row.fast_lit) << row.instruction;
    EXPECT_EQ(emu->cpu.addo_count, row.addo) << row.instruction;
    EXPECT_EQ(emu->cpu.addi_count, row.addi) << row.instruction;
  }
  // The end report's counter line: register, addi, addo, literal.
  auto emu = RunSnippet(
      "\taddo r4, r5, r6\n\taddo r4, r5, r6\n\taddi 1, r5, r6\n"
      "\taddi g1, r5, r6\n\taddo g1, g1, g1\n\taddo g1, g1, g1\n",
      6);
  EXPECT_THAT(emu->LogText(), HasSubstr("\n2  1  2  1  Instructions= 6, Time/Instr="));
}

TEST(RunLoop, SteppingLoopMatchesThePlainLoopAndItsHookCanStop) {
  // A counting loop with calls, crossing a system_timer check point: the stepping loop must end
  // in the same state as the plain one, with its hook called once per instruction.
  const std::string body =
      "\tmov 0, g0\n\tmov 0, g1\n\tlda 0x800, g3\nagain:\n\tcall inc\n\taddi 1, g1, g1\n"
      "\tcmpobg g3, g1, again\nstop_here:\n\tmov 9, g2\n\tb stop_here\n"
      "inc:\n\taddo g0, 3, g0\n\tret\n"
      "\t.data\n\t.globl system_timer\nsystem_timer:\n\t.word 0\n";
  struct Counter {
    uint64_t calls = 0;
    uint32_t stop_at = 0;
    const CpuState* cpu = nullptr;
  };
  auto run = [&](bool stepping, uint32_t stop_at) {
    Counter counter;
    SnippetOptions o;
    o.before_run = [&](Emulator& e) {
      e.run.virtual_time_instructions = 1;
      if (!stepping) return;
      counter.cpu = &e.cpu;
      counter.stop_at = stop_at;
      e.run.step_hook.ctx = &counter;
      e.run.step_hook.before = [](void* ctx) {
        auto* c = static_cast<Counter*>(ctx);
        ++c->calls;
        return c->cpu->ip == c->stop_at;
      };
    };
    auto emu = RunSnippet(body, 40000, o);
    return std::make_pair(std::move(emu), counter.calls);
  };
  auto [plain, none] = run(false, 0);
  auto [stepped, calls] = run(true, 0);
  EXPECT_EQ(none, 0u);
  EXPECT_EQ(calls, 40000u);
  EXPECT_EQ(stepped->cpu.icount, plain->cpu.icount);
  EXPECT_EQ(stepped->cpu.ip, plain->cpu.ip);
  EXPECT_EQ(stepped->G(0), plain->G(0));
  EXPECT_EQ(stepped->G(1), 0x800u);
  EXPECT_EQ(stepped->cpu.fast_lit + stepped->cpu.addi_count,
            plain->cpu.fast_lit + plain->cpu.addi_count);
  EXPECT_EQ(stepped->Read32(stepped->Sym("system_timer")), 32768u);
  EXPECT_EQ(plain->Read32(plain->Sym("system_timer")), 32768u);

  auto [stopped, hook_calls] = run(true, plain->Sym("stop_here"));
  EXPECT_TRUE(stopped->run.stopped_by_host);
  EXPECT_EQ(stopped->cpu.ip, plain->Sym("stop_here"));
  EXPECT_EQ(stopped->G(2), 0u) << "the instruction at the hook's stop ran";
  EXPECT_EQ(hook_calls, static_cast<uint64_t>(stopped->cpu.icount) + 1);
}

TEST(RunLoop, CountsPast32BitsStayWholeInTheEndLineAndTheHistory) {
  // Each run starts where a state taken just below an edge would leave it (the instruction
  // count, the total and the four add counters), so crossing the edge costs four instructions.
  struct Row {
    uint64_t start;     // instructions before the first one runs
    uint64_t counters;  // each add counter before the run
    const char* why;
  } rows[] = {
      {(1ull << 31) - 2, (1ull << 31) - 1, "past 2^31: nothing turns negative"},
      {(1ull << 32) - 2, (1ull << 32) - 1, "past 2^32: nothing wraps to 0"},
      {(5ull << 32) - 2, (5ull << 32) - 1, "a high word of its own"},
  };
  for (const Row& row : rows) {
    SnippetOptions o;
    o.before_run = [&row](Emulator& e) {
      e.cpu.fast_reg = e.cpu.fast_lit = e.cpu.addo_count = e.cpu.addi_count = row.counters;
      e.cpu.icount = static_cast<int32_t>(static_cast<uint32_t>(row.start));
      e.run.start_executed = row.start;
      e.debugger = std::make_unique<Debugger>(e);
      e.debugger->SetHistory(8, true);
    };
    const uint64_t end = row.start + 4;
    auto emu = RunSnippet(
        "\taddo r4, r5, r6\n\taddo 1, r5, r6\n\taddo g1, g1, g1\n"
        "\taddi g1, g1, g1\n",
        end, o);
    const unsigned long long c = row.counters + 1;
    char line[200];
    std::snprintf(line, sizeof line, "\n%llu  %llu  %llu  %llu  Instructions= %llu, Time/Instr=", c,
                  c, c, c, static_cast<unsigned long long>(end));
    EXPECT_THAT(emu->LogText(), HasSubstr(line)) << row.why;
    std::snprintf(line, sizeof line, " %llu ?", static_cast<unsigned long long>(end));
    EXPECT_THAT(emu->LogText(), HasSubstr(line)) << row.why << ": the state report's count";
    const auto history = emu->debugger->History();
    ASSERT_EQ(history.size(), 4u) << row.why;
    EXPECT_EQ(history.front().count, row.start) << row.why;
    EXPECT_EQ(history.back().count, end - 1) << row.why;
  }
}

TEST(RunLoop, MemAddressingModes) {
  // lda shows the effective address of each mode without touching memory.
  // r3 = 0x100, r4 = 0x1000, g5 = 3, r5 = 0x10, g6 = 2, r7 = 0x2000.
  const std::string setup =
      "\tldconst 0x100, r3\n\tldconst 0x1000, r4\n\tmov 3, g5\n\tmov 16, r5\n"
      "\tmov 2, g6\n\tldconst 0x2000, r7\n";
  struct Row {
    std::string instruction;
    uint32_t expected;
    const char* why;
  } rows[] = {
      {"lda 0x123, g0", 0x123, "MEMA absolute offset"},
      {"lda 0xfff, g0", 0xfff, "largest MEMA offset"},
      {"lda 0x10(r3), g0", 0x110, "MEMA register relative"},
      {"lda (g5), g0", 3, "MEMB mode 4: abase"},
      {"lda (r4)[g5*4], g0", 0x100C, "mode 7: abase + index x 4"},
      {"lda (r4)[g5*16], g0", 0x1030, "mode 7: scale code 4 means 16"},
      {Word(MemWord(0x8C, kG0, 4, 7, 5, kG0 + 5)), 0x1003, "mode 7: reserved scale code 5 is 1"},
      {Word(MemWord(0x8C, kG0, 4, 7, 7, kG0 + 5)), 0x1003, "mode 7: reserved scale code 7 is 1"},
      {"lda 0x12345678, g0", 0x12345678, "mode 12: displacement"},
      {"lda 0x12345678(r5), g0", 0x12345688, "mode 13: abase + displacement"},
      {"lda 0x1000[g6*4], g0", 0x1008, "mode 14: index x scale + displacement"},
      {"lda 0x1000(r7)[g6*8], g0", 0x3010, "mode 15: everything"},
      {"lda 0xFFFFFFF0(r3), g0", 0xF0, "address arithmetic wraps"},
  };
  for (const Row& row : rows) {
    std::string body = setup + "\t" + row.instruction + "\n";
    auto emu = RunSnippet(body, 7);
    EXPECT_EQ(emu->G(0), row.expected) << row.why;
    EXPECT_FALSE(emu->ended_by_exit) << row.why;
  }
  // Mode 5 is relative to the instruction's own address + 8.
  auto emu = RunSnippet("here:\n\tlda 0x100(ip), g0\n\tlda -8(ip), g1\n", 2);
  EXPECT_EQ(emu->G(0), emu->Sym("here") + 8 + 0x100);
  EXPECT_EQ(emu->G(1), emu->Sym("here") + 8);  // second lda: own address (here + 8) + 8 - 8
  EXPECT_EQ(emu->cpu.length, 8u);
}

TEST(RunLoop, LoadsUseTheDecodedAddress) {
  // ld 0x123 reads guest address 0x123 (in ONCH); ld 0x10(r3) reads r3 + 0x10.
  auto emu = RunSnippet(
      "\tldconst 0xAB, g1\n\tst g1, 0x123\n\tld 0x123, g0\n"
      "\tlda value - 0x10, r3\n\tld 0x10(r3), g2\n"
      "\t.data\nvalue:\n\t.word 0x5566AA77\n",
      5);
  EXPECT_EQ(emu->G(0), 0xABu);
  EXPECT_EQ(emu->G(2), 0x5566AA77u);
}

TEST(RunLoop, ReservedMemModeAndSpecialOperandsEndTheRun) {
  struct Row {
    uint32_t word;
    const char* line;
    const char* why;
  } rows[] = {
      {MemWord(0x8C, kG0, 4, 6, 0, 0), " ERR 3 E_AMODE, Opcode 008C ?\n", "MEM mode 6"},
      {RegWord(0x590, kG0 + 2, kG0 + 1, kG0, 1u << 5), " ERR 5 E_OPERAND, Opcode 0590 ?\n",
       "REG S1 bit"},
      {RegWord(0x590, kG0 + 2, kG0 + 1, kG0, 1u << 6), " ERR 5 E_OPERAND, Opcode 0590 ?\n",
       "REG S2 bit"},
      {0x32u << 24 | 3u << 19 | 4u << 14 | 1u, " ERR 5 E_OPERAND, Opcode 0032 ?\n",
       "COBR compare with S2 set"},
      {0x20u << 24 | 3u << 19 | 1u, " ERR 5 E_OPERAND, Opcode 0020 ?\n", "test with S2 set"},
      {0x00000000, " ERR 1 E_OPCODE, Opcode 0000 ?\n", "opcode 0"},
      {0x45000000, " ERR 1 E_OPCODE, Opcode 0045 ?\n", "major opcode without an entry"},
      {RegWord(0x585, kG0, kG0, kG0, 0), " ERR 1 E_OPCODE, Opcode 0585 ?\n",
       "REG opcode between entries"},
  };
  for (const Row& row : rows) {
    auto emu = RunSnippet(Word(row.word), 10);
    EXPECT_TRUE(emu->ended_by_exit) << row.why;
    EXPECT_THAT(emu->LogText(), HasSubstr(row.line)) << row.why;
    EXPECT_THAT(emu->LogText(), HasSubstr("MsgExit:  Error forced exit , IP=")) << row.why;
    EXPECT_EQ(emu->ExitMessage(), " Error forced exit ") << row.why;
    EXPECT_EQ(emu->cpu.icount, 0) << row.why;
  }
  // S bits of an operand the instruction does not have are not looked at: mov has no src2.
  auto emu = RunSnippet(Word(RegWord(0x5CC, kG0 + 1, 0, 5, 1u << 11 | 1u << 6)), 1);
  EXPECT_FALSE(emu->ended_by_exit);
  EXPECT_EQ(emu->G(1), 5u);
}

TEST(RunLoop, BranchDisplacementsAreSignExtended) {
  // CTRL field 0x800000 is -8388608: far below the text region, so the branch faults.
  auto emu = RunSnippet(Word(0x08800000), 5);
  EXPECT_TRUE(emu->ended_by_exit);
  EXPECT_EQ(emu->cpu.ea, 0xFF800000u);
  EXPECT_THAT(emu->LogText(), HasSubstr(" ERR 10 E_GOTO, Opcode 0008 ?\n"));
  // COBR field 0x1FFC is -4: cmpobne 3, g0 goes back to the addo before it until g0 = 3.
  uint32_t cmpobne = 0x35u << 24 | 3u << 19 | kG0 << 14 | 1u << 13 | 0x1FFC;
  auto loop = RunSnippet("\taddo 1, g0, g0\n" + Word(cmpobne), 100);
  EXPECT_EQ(loop->G(0), 3u);
  auto back = RunSnippet("1:\n\taddo 1, g0, g0\n\tcmpobg 5, g0, 1b\n", 100);
  EXPECT_EQ(back->G(0), 5u);
  EXPECT_EQ(back->cpu.cc, static_cast<uint32_t>(kCcEqual));
}

TEST(RunLoop, RunningOffTheTextRegionEndsWithIpOutOfRange) {
  // A MEM instruction whose displacement word would lie past the text region.
  test::SnippetOptions o;
  o.park_at_end = false;
  auto emu = RunSnippet("\tmov 1, g0\n" + Word(MemWord(0x8C, kG0, 0, 12, 0, 0)), 10, o);
  uint32_t text_end = emu->exe.text_address + static_cast<uint32_t>(emu->exe.text.size());
  EXPECT_TRUE(emu->ended_by_exit);
  ASSERT_EQ(text_end, emu->Sym("_start") + 8) << "the text section was padded";
  char line[64];
  std::snprintf(line, sizeof line, "MsgExit: IP out of range, IP=%08X\n", emu->Sym("_start") + 4);
  EXPECT_THAT(emu->LogText(), HasSubstr(line));
  EXPECT_EQ(emu->ExitMessage(), "IP out of range");
  // The trace line comes directly before the MsgExit line, on the same line.
  EXPECT_THAT(emu->LogText(), ContainsRegex("\\?       MsgExit: "));
}

TEST(RunLoop, SystemTimerFollowsTheInstructionCountInVirtualTime) {
  const std::string body =
      "self:\n\tb self\n"
      "\t.data\n\t.globl system_timer\nsystem_timer:\n\t.word 0x1234\n";
  auto before = [](uint32_t per_ms) {
    SnippetOptions o;
    o.before_run = [per_ms](Emulator& e) { e.run.virtual_time_instructions = per_ms; };
    return o;
  };
  // Not written before the 32768th instruction: the firmware sees its own initial value.
  auto early = RunSnippet(body, 32767, before(1));
  EXPECT_EQ(early->Read32(early->Sym("system_timer")), 0x1234u);
  auto first = RunSnippet(body, 32768, before(1));
  EXPECT_EQ(first->Read32(first->Sym("system_timer")), 32768u);
  auto scaled = RunSnippet(body, 70000, before(1000));
  EXPECT_EQ(scaled->Read32(scaled->Sym("system_timer")), 65u);  // written at 65536
  EXPECT_EQ(ReadSystemTimer(*scaled), 70u);                     // brought up to date on reading
}

TEST(RunLoop, HostStopAndPauseTakeEffectAfterTheCurrentInstruction) {
  SnippetOptions stop;
  stop.before_run = [](Emulator& e) { e.run.control.RequestStop(); };
  auto emu = RunSnippet("self:\n\tb self\n", 0, stop);
  EXPECT_TRUE(emu->run.stopped_by_host);
  EXPECT_EQ(emu->cpu.icount, 1);
  EXPECT_THAT(emu->LogText(), HasSubstr(" EXIT REQUESTED\n"));

  // Paused after the first instruction until the host stops it: nothing runs meanwhile.
  SnippetOptions pause;
  std::thread host;
  pause.before_run = [&host](Emulator& e) {
    e.run.control.SetPause(true);
    host = std::thread([&e] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      e.run.control.RequestStop();
    });
  };
  auto paused = RunSnippet("self:\n\tb self\n", 0, pause);
  host.join();
  EXPECT_EQ(paused->cpu.icount, 1);
  EXPECT_TRUE(paused->run.stopped_by_host);
}

// A display port routine that asks for the end of the run, as an exit key does.
void ExitOnPortWrite(Machine& emu, uint32_t, uint32_t value) { RequestExit(emu, value); }

TEST(RunLoop, ExitRequestEndsTheLoopAfterThatInstruction) {
  for (int code : {1, 2}) {
    SnippetOptions o;
    o.keep_project_dir = true;
    o.before_run = [](Emulator& e) { e.display.routines.port_write_byte = ExitOnPortWrite; };
    auto emu = RunSnippet("\tmov " + std::to_string(code) +
                              ", g0\n\tldconst 0x800003C4, g1\n\tstob g0, (g1)\n\tmov 7, g2\n",
                          100, o);
    EXPECT_EQ(emu->cpu.icount, 3) << code;
    EXPECT_EQ(emu->G(2), 0u) << "an instruction ran after the exit request";
    EXPECT_FALSE(emu->run.stopped_by_host);
    EXPECT_FALSE(emu->ended_by_exit);
    EXPECT_THAT(emu->LogText(), HasSubstr(" EXIT REQUESTED\n"));
    EXPECT_STREQ(emu->exit.message, "");
    // Code 1 saves the memory file (the absolute-data area); code 2 leaves it as it was.
    std::error_code ec;
    auto size = std::filesystem::file_size(std::filesystem::path(emu->project_dir) / "x.mem", ec);
    EXPECT_EQ(size > 0, code == 1) << code;
    std::filesystem::remove_all(emu->project_dir);
  }
}

TEST(RunLoop, HostStopDoesNotSaveTheMemoryFile) {
  SnippetOptions o;
  o.keep_project_dir = true;
  auto emu = RunSnippet("self:\n\tb self\n", 10, o);
  EXPECT_TRUE(emu->run.stopped_by_host);
  std::error_code ec;
  EXPECT_EQ(std::filesystem::file_size(std::filesystem::path(emu->project_dir) / "x.mem", ec), 0u);
  std::filesystem::remove_all(emu->project_dir);
}

TEST(RunLoop, DmLogsUnmappedDataAccessesWithTheInstruction) {
  SnippetOptions o;
  o.options = "-v1 -dm";
  auto emu = RunSnippet("\tld 0x100, g0\nbad:\n\tld 0x00700000, g0\n\tst g0, 0x00700004\n", 3, o);
  char line[80];
  std::snprintf(line, sizeof line, "EMUMEM: unmapped access 00700000 at IP=%08X", emu->Sym("bad"));
  EXPECT_THAT(emu->LogText(), HasSubstr(line));
  EXPECT_THAT(emu->LogText(), HasSubstr("EMUMEM: unmapped access 00700004 at IP="));
  EXPECT_THAT(emu->LogText(), Not(HasSubstr("unmapped access 00000100")));
  // Without the option nothing is logged.
  auto quiet = RunSnippet("\tld 0x00700000, g0\n", 1);
  EXPECT_THAT(quiet->LogText(), Not(HasSubstr("EMUMEM")));
}

TEST(RunLoop, ARunWhoseLimitIsReachedEndsBeforeItsFirstInstruction) {
  // As a state loaded at instruction 100000 leaves the run; the loop's countdown must not
  // start at 0 and wrap (about 2^32 instructions with the host's controls unseen).
  struct Row {
    uint64_t limit;
    bool stop_at_start;
    const char* why;
  } rows[] = {
      {100000, false, "a limit at the loaded count"},
      {99999, false, "a limit below it"},
      {0, true, "the replay of a recording that ran nothing"},
  };
  for (const Row& row : rows) {
    SnippetOptions o;
    o.before_run = [&row](Emulator& e) {
      e.cpu.icount = 100000;
      e.run.start_executed = row.stop_at_start ? 0 : 100000;
      e.run.max_instructions = row.limit;
      e.run.stop_at_start = row.stop_at_start;
    };
    auto emu = RunSnippet("loop:\n\taddo 1, g0, g0\n\tb loop\n", row.limit, o);
    EXPECT_EQ(emu->cpu.icount, 100000) << row.why;
    EXPECT_EQ(emu->G(0), 0u) << row.why;
    EXPECT_TRUE(emu->run.stopped_by_host) << row.why;
  }
}

TEST(RunLoop, TimePerInstructionArithmetic) {
  struct Row {
    int64_t dtime;
    uint64_t count;
    int64_t ns;
    const char* why;
  } rows[] = {
      {1, 999, 10010, "under 1000 instructions: dtime x 10^7 / n"},
      {1, 2000, 5000, "from 1000 on: dtime x 10^4 / (n / 1000)"},
      {1, 1000, 10000, "the boundary takes the second formula"},
      {30000, 500, 600000000, "a product beyond 32 bits stays exact"},
      {5, 0, 0, "no instructions: no division by zero"},
      {0, 123456, 0, "a run faster than a hundredth of a second"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(TimePerInstruction(row.dtime, row.count), row.ns) << row.why;
}

}  // namespace
}  // namespace korvane
