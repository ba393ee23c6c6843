// Tests of the load, store and address instructions: widths and sign extension, the scratch
// word, the display routines for byte and short accesses, register groups and region ends.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/snippet.h"

namespace korvane {
namespace {

using ::testing::HasSubstr;
using test::RunSnippet;
using test::SnippetOptions;

// The scratch area holds only what the loop start stored there: korvane_active = 3 over
// navigate_msg_mode = 1, both undefined in snippets.
bool ScratchHoldsOnlyTheLoopStart(const Emulator& emu) {
  const uint8_t expected[kScratchBytes] = {3};
  return std::memcmp(emu.mem.scratch, expected, kScratchBytes) == 0;
}

TEST(LoadStore, WidthsAndSignExtension) {
  struct Row {
    const char* load;
    uint32_t expected;
    const char* why;
  } rows[] = {
      {"ldob bytes, g0", 0x80, "byte zero-extended"},
      {"ldib bytes, g0", 0xFFFFFF80, "byte sign-extended"},
      {"ldos bytes + 1, g0", 0x8000, "short 0x00, 0x80 little-endian, zero-extended"},
      {"ldis bytes + 1, g0", 0xFFFF8000, "short sign-extended"},
      {"ldis bytes + 3, g0", 0x7F01, "positive short stays positive"},
      {"ld bytes + 1, g0", 0x7F018000, "unaligned word"},
  };
  for (const Row& row : rows) {
    auto emu = RunSnippet(std::string("\t") + row.load +
                              "\n\t.data\nbytes:\n\t.byte 0x80, 0x00, 0x80, 0x01, 0x7F, 0x00\n",
                          1);
    EXPECT_EQ(emu->G(0), row.expected) << row.why;
  }
}

TEST(LoadStore, StoresWriteOnlyTheirWidth) {
  auto emu = RunSnippet(
      "\tldconst 0x12345678, g0\n\tldconst 0xFFFFFFFF, g1\n"
      "\tst g1, area\n\tst g1, area + 4\n\tst g1, area + 8\n"
      "\tstob g0, area\n\tstib g0, area + 4\n\tstos g0, area + 8\n\tstis g0, area + 10\n"
      "\tldconst 0x11223344, g2\n\tst g2, area + 13\n"
      "\t.bss\narea:\n\t.space 20\n",
      11);
  uint32_t a = emu->Sym("area");
  EXPECT_EQ(emu->Read32(a), 0xFFFFFF78u) << "stob stores 0x78 and leaves the next byte";
  EXPECT_EQ(emu->Read32(a + 4), 0xFFFFFF78u) << "stib truncates like stob";
  EXPECT_EQ(emu->Read32(a + 8), 0x56785678u) << "stos/stis store the low 16 bits";
  EXPECT_EQ(emu->Read8(a + 13), 0x44) << "st is little-endian";
  EXPECT_EQ(emu->Read8(a + 16), 0x11);
}

TEST(LoadStore, UnmappedAddressesShareTheScratchWord) {
  auto emu = RunSnippet(
      "\tld 0x00700000, g0\n"  // 3: the loop start stored korvane_active (undefined here)
      "\tldconst 0xDEADBEEF, g1\n\tst g1, 0x00700000\n\tld 0x7FFF0000, g2\n"
      "\tldconst 0x01020304, g3\n\tstob g3, 2\n\tld 0x00700000, g4\n",
      7);
  EXPECT_EQ(emu->G(0), 3u);
  EXPECT_EQ(emu->G(2), 0xDEADBEEFu);
  // Every unmapped address reaches the scratch word's first byte, address 2 (below ONCH) too.
  EXPECT_EQ(emu->G(4), 0xDEADBE04u);
  EXPECT_FALSE(emu->ended_by_exit) << "no fault for unmapped accesses";
}

TEST(LoadStore, LdaComputesWithoutTouchingMemory) {
  auto emu = RunSnippet("\tldconst 0x00700000, r3\n\tlda 0x24(r3), g0\n\tlda 0x123, g1\n", 3);
  EXPECT_EQ(emu->G(0), 0x00700024u);
  EXPECT_EQ(emu->G(1), 0x123u);
  EXPECT_TRUE(ScratchHoldsOnlyTheLoopStart(*emu));
}

TEST(LoadStore, RegisterGroups) {
  auto emu = RunSnippet(
      "\tldq words, g0\n\tldt words + 4, r4\n\tldl words + 8, g8\n"
      "\tstq g0, copy\n\tstt r4, copy + 16\n\tstl g8, copy + 28\n"
      "\t.data\nwords:\n\t.word 1, 2, 3, 4\n"
      "\t.bss\ncopy:\n\t.space 40\n",
      6);
  for (unsigned k = 0; k < 4; ++k) EXPECT_EQ(emu->G(k), k + 1) << "ldq word " << k;
  for (unsigned k = 0; k < 3; ++k) EXPECT_EQ(emu->R(4 + k), k + 2) << "ldt word " << k;
  EXPECT_EQ(emu->G(8), 3u);
  EXPECT_EQ(emu->G(9), 4u);
  uint32_t c = emu->Sym("copy");
  const uint32_t expected[] = {1, 2, 3, 4, 2, 3, 4, 3, 4, 0};
  for (unsigned k = 0; k < 10; ++k) EXPECT_EQ(emu->Read32(c + 4 * k), expected[k]) << k;
  // Groups running past g15 or r15 are refused before any access.
  for (const char* op : {"ldq area, g13", "ldl area, g15", "stt r14, area", "stq r13, area"}) {
    auto bad = RunSnippet(std::string("\t") + op + "\n\t.bss\narea:\n\t.space 16\n", 1);
    EXPECT_TRUE(bad->ended_by_exit) << op;
    EXPECT_THAT(bad->LogText(), HasSubstr(" ERR 5 E_OPERAND, Opcode 00")) << op;
  }
  // Groups through the scratch area: 16 bytes wide.
  auto scratch = RunSnippet(
      "\tmov 1, g0\n\tmov 2, g1\n\tmov 3, g2\n\tmov 4, g3\n\tstq g0, 0x00700000\n"
      "\tldq 0x00800000, g4\n",
      6);
  for (unsigned k = 0; k < 4; ++k) EXPECT_EQ(scratch->G(4 + k), k + 1) << k;
}

TEST(LoadStore, AccessesPastEveryRegionEndAreBounded) {
  // For each region with storage, r3 = one past its last byte. Words, shorts and groups that
  // start in its last bytes read zeros beyond it and drop what does not fit; a region that
  // follows directly (BSS after DATA) keeps its bytes.
  for (int n : {kRegionOnch, kRegionSyst, kRegionText, kRegionData, kRegionBss, kRegionAbsd,
                kRegionHeap, kRegionStck}) {
    uint32_t next_word = 0;
    int next = 0;
    SnippetOptions o;
    o.before_run = [n, &next, &next_word](Emulator& e) {
      const MemRegion& r = e.mem.regions[n];
      uint32_t end = r.base + r.size;
      WriteReg(e.cpu, 3, end);
      next = FindRegion(e.mem, end);
      next_word = GuestRead32(e.mem, end);
    };
    o.park_at_end = false;  // the text ends in 16 bytes of padding that never run
    auto emu = RunSnippet(
        "\tldconst 0xAABBCCDD, g0\n\tmov 1, g4\n\tmov 2, g5\n\tmov 3, g6\n\tmov 4, g7\n"
        "\tst g0, -2(r3)\n\tld -2(r3), g1\n"
        "\tstq g4, -5(r3)\n\tldq -5(r3), g8\n"
        "\tstos g0, -1(r3)\n\tldos -1(r3), g12\n"
        "self:\n\tb self\n\t.space 16\n"
        "\t.data\n\t.space 32\n\t.bss\n\t.space 32\n\t.section .absd\n\t.space 8\n",
        11, o);
    const MemRegion& r = emu->mem.regions[n];
    ASSERT_TRUE(r.host != nullptr) << r.tag;
    EXPECT_FALSE(emu->ended_by_exit) << r.tag;
    EXPECT_EQ(emu->G(1), 0x0000CCDDu) << r.tag << ": two bytes of the word fit";
    EXPECT_EQ(emu->G(8), 1u) << r.tag;
    EXPECT_EQ(emu->G(9), 2u) << r.tag << ": one byte of the second word fits";
    EXPECT_EQ(emu->G(10), 0u) << r.tag;
    EXPECT_EQ(emu->G(11), 0u) << r.tag;
    EXPECT_EQ(emu->G(12), 0xDDu) << r.tag << ": one byte of the short fits";
    EXPECT_TRUE(ScratchHoldsOnlyTheLoopStart(*emu)) << r.tag << ": the excess reached scratch";
    if (next) {
      EXPECT_EQ(emu->Read32(r.base + r.size), next_word) << r.tag << " spilled over";
    }
  }
}

// Display routines that record their calls.
struct Call {
  std::string routine;
  uint32_t where, value;
};
std::vector<Call>* g_calls = nullptr;  // the test's recorder, set for one run

uint8_t VmemReadByte(Machine&, uint32_t off) {
  g_calls->push_back({"VmemReadByte", off, 0});
  return 0x9C;
}
uint16_t VmemReadShort(Machine&, uint32_t off) {
  g_calls->push_back({"VmemReadShort", off, 0});
  return 0x8123;
}
void VmemWriteByte(Machine&, uint32_t off, uint32_t v) {
  g_calls->push_back({"VmemWriteByte", off, v});
}
void VmemWriteShort(Machine&, uint32_t off, uint32_t v) {
  g_calls->push_back({"VmemWriteShort", off, v});
}
uint8_t PortReadByte(Machine&, uint32_t port) {
  g_calls->push_back({"PortReadByte", port, 0});
  return 0xF0;
}
void PortWriteByte(Machine&, uint32_t port, uint32_t v) {
  g_calls->push_back({"PortWriteByte", port, v});
}
void PortWriteShort(Machine&, uint32_t port, uint32_t v) {
  g_calls->push_back({"PortWriteShort", port, v});
}

std::unique_ptr<test::SnippetRun> RunWithDisplay(const std::string& body, uint64_t n,
                                                 std::vector<Call>& calls,
                                                 const std::string& options = "-v1") {
  SnippetOptions o;
  o.options = options;
  o.before_run = [](Emulator& e) {
    e.display.routines = {VmemReadByte, VmemReadShort, VmemWriteByte, VmemWriteShort,
                          PortReadByte, PortWriteByte, PortWriteShort};
  };
  g_calls = &calls;
  auto emu = RunSnippet(body, n, o);
  g_calls = nullptr;
  return emu;
}

TEST(LoadStore, ByteAndShortAccessesReachTheDisplayRoutines) {
  std::vector<Call> calls;
  auto emu = RunWithDisplay(
      "\tldconst 0x900A0000, r3\n\tldconst 0x800003C0, r4\n\tldconst 0x1234ABCD, g0\n"
      "\tldob 5(r3), g1\n\tldib 5(r3), g2\n\tldos 6(r3), g3\n\tldis 6(r3), g4\n"
      "\tstob g0, 7(r3)\n\tstos g0, 8(r3)\n"
      "\tldob 4(r4), g5\n\tldib 4(r4), g6\n\tldos 4(r4), g7\n\tldis 4(r4), g8\n"
      "\tstob g0, 5(r4)\n\tstos g0, 4(r4)\n\tstib g0, 1(r4)\n",
      16, calls);
  EXPECT_EQ(emu->G(1), 0x9Cu);
  EXPECT_EQ(emu->G(2), 0xFFFFFF9Cu);
  EXPECT_EQ(emu->G(3), 0x8123u);
  EXPECT_EQ(emu->G(4), 0xFFFF8123u);
  EXPECT_EQ(emu->G(5), 0xF0u);
  EXPECT_EQ(emu->G(6), 0xFFFFFFF0u);
  EXPECT_EQ(emu->G(7), 0u) << "no port routine for shorts: 0";
  EXPECT_EQ(emu->G(8), 0u);
  std::vector<std::string> expected = {
      "VmemReadByte 5 0",         "VmemReadByte 5 0",
      "VmemReadShort 6 0",        "VmemReadShort 6 0",
      "VmemWriteByte 7 1234ABCD", "VmemWriteShort 8 1234ABCD",
      "PortReadByte 3C4 0",       "PortReadByte 3C4 0",
      "PortWriteByte 3C5 1234ABCD", "PortWriteShort 3C4 1234ABCD",
  };
  std::vector<std::string> got;
  for (const Call& c : calls) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %X %X", c.routine.c_str(), c.where, c.value);
    got.push_back(buf);
  }
  EXPECT_EQ(got, expected) << "stib to 0x800003C1 (not a port) must reach no routine";
}

TEST(LoadStore, WordAndGroupAccessesBypassTheDisplay) {
  std::vector<Call> calls;
  auto emu = RunWithDisplay(
      "\tldconst 0x900A0000, r3\n\tldconst 0x800003C0, r4\n\tldconst 0x55667788, g0\n"
      "\tst g0, 0x00700000\n"       // scratch word = 0x55667788
      "\tst g0, 4(r3)\n\tld 4(r3), g1\n"  // display memory: ignored, reads 0
      "\tld 4(r4), g2\n"            // a port address counts as scratch for ld
      "\tldl 8(r3), g4\n",          // groups go to the scratch area
      8, calls);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(emu->G(1), 0u);
  EXPECT_EQ(emu->G(2), 0x55667788u);
  EXPECT_EQ(emu->G(4), 0x55667788u);
  // A short store to display memory must not clear the routine indication for a later ld of
  // an unmapped address: ld clears it itself.
  std::vector<Call> more;
  auto again = RunWithDisplay(
      "\tldconst 0x900A0000, r3\n\tstob g0, (r3)\n\tldconst 0x77, g5\n\tst g5, 0x00700000\n"
      "\tld 0x00700000, g6\n",
      5, more);
  EXPECT_EQ(again->G(6), 0x77u);
}

TEST(LoadStore, VideoModesDecideWhichDisplayRegionsExist) {
  struct Row {
    int mode;
    bool display, onch;
    uint32_t vmem, vreg;
  } rows[] = {
      {0, false, false, 0, 0},
      {1, true, true, 0x900A0000, 0x800003C0},
      {2, true, false, 0x030A0000, 0x024003C0},
      {3, true, true, 0x900A0000, 0x800003C0},
      {4, true, false, 0x030A0000, 0x024003C0},
      {5, false, false, 0, 0},
  };
  for (const Row& row : rows) {
    std::vector<Call> calls;
    std::string mode = "-v" + std::to_string(row.mode);
    auto emu = RunWithDisplay(
        "\tldconst 0x900A0010, r3\n\tstob g0, (r3)\n\tldconst 0x030A0010, r3\n\tstob g0, (r3)\n"
        "\tld 0x1C7C, g1\n\tld 0x2068, g2\n",
        6, calls, mode);
    const MemoryMap& m = emu->mem;
    EXPECT_EQ(m.regions[kRegionVmem].defined, row.display) << mode;
    EXPECT_EQ(m.regions[kRegionVreg].defined, row.display) << mode;
    EXPECT_EQ(m.regions[kRegionOnch].defined, row.onch) << mode;
    EXPECT_EQ(m.regions[kRegionSyst].defined, row.onch) << mode;
    if (row.display) {
      EXPECT_EQ(m.regions[kRegionVmem].base, row.vmem) << mode;
      EXPECT_EQ(m.regions[kRegionVreg].base, row.vreg) << mode;
      EXPECT_EQ(m.regions[kRegionVmem].size, 307200u) << mode;
      EXPECT_EQ(m.regions[kRegionVreg].size, 27u) << mode;
      ASSERT_EQ(calls.size(), 1u) << mode << ": only the mode's own display memory is served";
      EXPECT_EQ(calls[0].where, 0x10u) << mode;
    } else {
      EXPECT_TRUE(calls.empty()) << mode << ": display addresses fall to the scratch word";
    }
    // SYST words hold 4 x their index in modes 1 and 3.
    EXPECT_EQ(emu->G(1), row.onch ? 12u : 0u) << mode;
    EXPECT_EQ(emu->G(2), row.onch ? 1016u : 0u) << mode;
    for (int n : {kRegionText, kRegionData, kRegionBss, kRegionAbsd, kRegionHeap, kRegionStck})
      EXPECT_TRUE(m.regions[n].defined) << mode << " region " << n;
  }
}

}  // namespace
}  // namespace korvane
