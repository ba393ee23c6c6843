// Tests of the guest memory map: region search through shared buckets, the scratch word, port
// reports, bounded accesses at region ends, the -dm log and the map of every video mode.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "support/snippet.h"

namespace korvane {
namespace {

using ::testing::HasSubstr;

int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// Region number whose storage holds the translated location of a, 0 for the scratch word.
int RegionOfLocation(Emulator& emu, uint32_t a) {
  uint8_t* p = TranslateAddress(emu.mem, a);
  if (p == emu.mem.scratch) return 0;
  for (int n = 1; n <= kRegionSlots; ++n) {
    const MemRegion& r = emu.mem.regions[n];
    if (r.host && p >= r.host && p < r.host + r.size) return n;
  }
  return -1;
}

TEST(MemoryMap, BucketFoldsHighAddressesOntoLowPages) {
  // Below 1 MB the bucket is the 4 KB page; above, bits 20-31 fold onto bits 12-23.
  EXPECT_EQ(BucketOf(0x12345), 0x12u);
  EXPECT_EQ(BucketOf(0x01000000), 0x010u);
  EXPECT_EQ(BucketOf(0x00010000), 0x010u);
  EXPECT_EQ(BucketOf(0xFFFFFFFF), 0xFFFu);
}

TEST(MemoryMap, AddressesBelowOnchAndOutsideEveryRegionShareTheScratchWord) {
  Emulator emu;
  DefineRegion(emu, kRegionOnch, "ONCH", 4, 1020, true, 0, 0, 0);
  // Addresses 0-3 lie in ONCH's bucket but not in ONCH.
  for (uint32_t a = 0; a < 4; ++a) EXPECT_EQ(TranslateAddress(emu.mem, a), emu.mem.scratch) << a;
  EXPECT_EQ(RegionOfLocation(emu, 4), kRegionOnch);
  // A store to one unmapped address is seen by a load from another.
  GuestWrite32(emu.mem, 0x00500000, 0xCAFEF00D);
  EXPECT_EQ(GuestRead32(emu.mem, 0x7FFF0000), 0xCAFEF00Du);
  EXPECT_EQ(GuestRead32(emu.mem, 1), 0xCAFEF00Du);
}

TEST(MemoryMap, RegionsSharingABucketAreAllFound) {
  Emulator emu;
  // TEXT ends and DATA starts in the same 4 KB page; DATA, defined later, owns the bucket.
  DefineRegion(emu, kRegionText, "TEXT", 0x10000, 0x1804, true, 0, 0, 0);
  DefineRegion(emu, kRegionData, "DATA", 0x11804, 0x100, true, 0, 0, 0);
  EXPECT_EQ(emu.mem.buckets[0x11], kRegionData);
  EXPECT_EQ(emu.mem.regions[kRegionData].search[0], kRegionText);
  EXPECT_EQ(emu.mem.regions[kRegionText].search[0], kRegionData);
  EXPECT_EQ(RegionOfLocation(emu, 0x11803), kRegionText);
  EXPECT_EQ(RegionOfLocation(emu, 0x11804), kRegionData);
  EXPECT_EQ(RegionOfLocation(emu, 0x11904), 0);  // past DATA, same bucket: scratch
  // A region above 16 MB folds onto the low bucket 0x010 of TEXT's first page.
  DefineRegion(emu, kRegionAbsd, "ABSD", 0x01000000, 0x100, true, 0, 0, 0);
  EXPECT_EQ(RegionOfLocation(emu, 0x01000010), kRegionAbsd);
  EXPECT_EQ(RegionOfLocation(emu, 0x00010010), kRegionText);
}

TEST(MemoryMap, FullLinkSlotsFallBackToTheSearchList) {
  Emulator emu;
  // Four small regions above 16 MB whose buckets 0x10-0x13 are then all claimed by region 9
  // below 1 MB: region 9's three link slots fill up with 5, 6, 7, and region 8 is reachable
  // only through the fallback part of the list (4, then 1..10).
  DefineRegion(emu, 5, "AAAA", 0x01000000, 0x100, true, 0, 0, 0);
  DefineRegion(emu, 6, "BBBB", 0x01001000, 0x100, true, 0, 0, 0);
  DefineRegion(emu, 7, "CCCC", 0x01002000, 0x100, true, 0, 0, 0);
  DefineRegion(emu, 8, "DDDD", 0x01003000, 0x100, true, 0, 0, 0);
  DefineRegion(emu, 9, "EEEE", 0x00010000, 0x4000, true, 0, 0, 0);
  const uint8_t* list = emu.mem.regions[9].search;
  EXPECT_EQ(list[0], 5);
  EXPECT_EQ(list[1], 6);
  EXPECT_EQ(list[2], 7);
  EXPECT_EQ(list[3], 4);  // the full slots recorded nothing more
  EXPECT_EQ(emu.mem.regions[8].search[0], 9);
  for (uint32_t a : {0x01000004u, 0x01001004u, 0x01002004u, 0x01003004u, 0x00013004u}) {
    int expected = FindRegion(emu.mem, a);
    EXPECT_EQ(RegionOfLocation(emu, a), expected) << std::hex << a;
  }
  EXPECT_EQ(RegionOfLocation(emu, 0x01003004), 8);
  EXPECT_EQ(RegionOfLocation(emu, 0x01003200), 0);  // list exhausted: scratch
}

TEST(MemoryMap, ALinkToRegionKPlusOneLeavesSlotKFree) {
  Emulator emu;
  // Slot k counts as free while it holds k + 1, so a link to region 1 in slot 0 is
  // overwritten by the next link; every region stays reachable all the same.
  DefineRegion(emu, 1, "TEXT", 0x01000000, 0x100, true, 0, 0, 0);
  DefineRegion(emu, 2, "DATA", 0x01001000, 0x100, true, 0, 0, 0);
  DefineRegion(emu, 9, "ONCH", 0x00010000, 0x2000, true, 0, 0, 0);
  EXPECT_EQ(emu.mem.regions[9].search[0], 2);
  EXPECT_EQ(RegionOfLocation(emu, 0x01000004), 1);
  EXPECT_EQ(RegionOfLocation(emu, 0x01001004), 2);
}

TEST(MemoryMap, EmptyAndWrappingRegionsHoldOnlyTheirOwnAddresses) {
  Emulator emu;
  DefineRegion(emu, kRegionText, "TEXT", 0x10000, 0x1000, true, 0, 0, 0);
  // An empty region at 0 would have last = 0xFFFFFFFF; it must not swallow every address.
  DefineRegion(emu, kRegionBss, "BSS ", 0, 0, true, 0, 0, 0);
  EXPECT_EQ(RegionOfLocation(emu, 0x10004), kRegionText);
  EXPECT_EQ(RegionOfLocation(emu, 0x20000), 0);
  EXPECT_EQ(FindRegion(emu.mem, 0x20000), 0);
  // A region running over the top of the address space continues at 0.
  DefineRegion(emu, kRegionAbsd, "ABSD", 0xFFFFF000, 0x2000, true, 0, 0, 0);
  GuestWrite32(emu.mem, 0x00000FFC, 0x11223344);
  EXPECT_EQ(RegionOfLocation(emu, 0x00000FFC), kRegionAbsd);
  EXPECT_EQ(emu.mem.regions[kRegionAbsd].host[0x1FFC], 0x44);
  EXPECT_EQ(RegionOfLocation(emu, 0x00001000), 0);
}

TEST(MemoryMap, AccessesRunningPastARegionEndStayInsideItsStorage) {
  Emulator emu;
  // Two regions back to back: a word at the first one's last byte must not reach the second.
  DefineRegion(emu, kRegionData, "DATA", 0x20000, 0x10, true, 0, 0, 0);
  DefineRegion(emu, kRegionBss, "BSS ", 0x20010, 0x10, true, 0, 0, 0);
  const uint32_t last = 0x2000F;
  GuestWrite32(emu.mem, 0x20010, 0x55555555);
  struct Row {
    uint32_t offset_from_last;  // the access starts this many bytes before `last`
    uint32_t read_back;         // what a word read there returns afterwards
  } rows[] = {
      {0, 0x000000DD},  // one byte inside: three excess bytes read as zero
      {1, 0x0000CCDD},  // two bytes inside
      {2, 0x00BBCCDD},  // three bytes inside
      {3, 0xAABBCCDD},  // the whole word fits
  };
  for (const Row& row : rows) {
    uint32_t a = last - row.offset_from_last;
    GuestWrite32(emu.mem, a, 0xAABBCCDD);
    EXPECT_EQ(GuestRead32(emu.mem, a), row.read_back) << row.offset_from_last;
    EXPECT_EQ(GuestRead32(emu.mem, 0x20010), 0x55555555u) << "write spilled into BSS";
  }
  // A 16-byte group at the last byte: one byte lands, the rest is dropped.
  uint8_t group[16];
  for (int i = 0; i < 16; ++i) group[i] = static_cast<uint8_t>(0xE0 + i);
  GuestWrite(emu.mem, last, group, 16);
  uint8_t back[16];
  GuestRead(emu.mem, last, back, 16);
  EXPECT_EQ(back[0], 0xE0);
  for (int i = 1; i < 16; ++i) EXPECT_EQ(back[i], 0) << i;
  EXPECT_EQ(GuestRead32(emu.mem, 0x20010), 0x55555555u);
}

TEST(MemoryMap, StoragelessRegionsReportPortsAndRoutineAccess) {
  Emulator emu;
  DefineRegion(emu, kRegionVmem, "VMEM", 0x900A0000, 307200, false, 0, 0, 0xA000);
  DefineRegion(emu, kRegionVreg, "VREG", 0x800003C0, 27, false, 0, 0, 0);
  EXPECT_EQ(emu.mem.display_base, 0x900A0000u);
  struct Row {
    uint32_t address;
    uint16_t port, routine;
    uint32_t offset;
  } rows[] = {
      {0x800003C4, 0x3C4, 0, 4},      // a listed port
      {0x800003C1, 0, 0, 1},          // in VREG but not a port number: scratch only
      {0x800003DA, 0x3DA, 0, 0x1A},   // the last byte of VREG is a port
      {0x900A0001, 0, 1, 1},          // display memory is routine-served
      {0x900A0000 + 307199, 0, 1, 307199},
  };
  for (const Row& row : rows) {
    emu.mem.report = {};
    EXPECT_EQ(TranslateAddress(emu.mem, row.address), emu.mem.scratch);
    EXPECT_EQ(emu.mem.report.port, row.port) << std::hex << row.address;
    EXPECT_EQ(emu.mem.report.routine, row.routine) << std::hex << row.address;
    EXPECT_EQ(emu.mem.report.offset, row.offset) << std::hex << row.address;
  }
  // Outside every region the report is left alone.
  emu.mem.report = {0x3C0, 1, 7};
  TranslateAddress(emu.mem, 0x800003C0 + 27);
  EXPECT_EQ(emu.mem.report.port, 0x3C0);
  EXPECT_EQ(emu.mem.report.offset, 7u);
}

TEST(MemoryMap, UnmappedAccessLogIsRateLimited) {
  Emulator emu;
  emu.log.SetCapture(true);
  uint32_t ip = 0x10040;
  emu.mem.unmapped_log = &emu.log;
  emu.mem.unmapped_ip = &ip;
  DefineRegion(emu, kRegionText, "TEXT", 0x10000, 0x100, true, 0, 0, 0);
  GuestRead32(emu.mem, 0x10000);  // mapped: not logged
  for (int i = 0; i < 1000; ++i) GuestRead32(emu.mem, 0x00700000);
  const std::string& log = emu.log.captured();
  EXPECT_THAT(log, HasSubstr("EMUMEM: unmapped access 00700000 at IP=00010040"));
  EXPECT_EQ(CountOf(log, "EMUMEM: unmapped access"), 100);
  EXPECT_EQ(CountOf(log, "logged 1 in 65536"), 1);
  // Past the first hundred, one line per 65536 accesses.
  emu.mem.unmapped_count = 65535 * 3;
  for (int i = 0; i < 65536; ++i) GuestRead32(emu.mem, 0x00700000);
  EXPECT_EQ(CountOf(emu.log.captured(), "EMUMEM: unmapped access"), 101);
}

}  // namespace
}  // namespace korvane
