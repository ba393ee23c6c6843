// The guest memory map: region definition, the bucket table and address translation.
#include "core/memory_map.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/log.h"
#include "core/processor.h"

namespace korvane {

namespace {

constexpr uint16_t kPortNumbers[] = {0x3C0, 0x3C4, 0x3C5, 0x3C6, 0x3C7, 0x3C8,
                                     0x3C9, 0x3CE, 0x3CF, 0x3D4, 0x3D5, 0x3DA};

bool IsPortNumber(uint16_t p) {
  for (uint16_t q : kPortNumbers)
    if (p == q) return true;
  return false;
}

// Slot k of the search list is free while it still holds its initial value k + 1.
void RecordLink(MemRegion& region, int other) {
  for (int k = 0; k < 3; ++k) {
    if (region.search[k] == k + 1) {
      region.search[k] = static_cast<uint8_t>(other);
      return;
    }
  }
}

}  // namespace

void LinkRegionPage(MemoryMap& map, uint32_t a, int n) {
  uint32_t b = BucketOf(a);
  int c = map.buckets[b];
  if (c != 0 && c != n) {
    RecordLink(map.regions[n], c);
    RecordLink(map.regions[c], n);
  }
  map.buckets[b] = static_cast<uint8_t>(n);
}

void DefineRegion(Processor& emu, int n, const char* tag, uint32_t base, uint32_t size,
                  bool allocate, int32_t delta, uint16_t value, int routine) {
  MemoryMap& map = emu.mem;
  MemRegion& r = map.regions[n];
  if (n == kRegionVmem) map.display_base = base;
  bool failed = false;
  r.storage.reset();
  r.host = nullptr;
  if (allocate) {
    // One byte more than asked, so a zero-sized region still has a distinct location.
    r.storage.reset(static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size) + 1, 1)));
    r.host = r.storage.get();
    failed = (r.host == nullptr);
  }
  static const uint8_t kInitialSearch[15] = {1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0};
  std::memcpy(r.search, kInitialSearch, sizeof r.search);
  std::memset(r.tag, 0, sizeof r.tag);
  std::strncpy(r.tag, tag, 4);
  r.defined = true;
  r.base = base;
  r.size = size;
  r.last = base + size - 1;
  r.delta = delta;
  r.value = value;
  r.routine = routine ? 1 : 0;
  if (failed) MsgExit(emu, " DefineRegion PCHeapAlloc() ");
  if (size == 0) return;  // an empty region holds no address and claims no bucket
  // Step by 4 KB over [base, base + size); a region that runs over the top of the address
  // space continues at 0, and its last byte's bucket is covered either way.
  const uint64_t end = static_cast<uint64_t>(base) + size;
  for (uint64_t a = base; a < end; a += 4096) LinkRegionPage(map, static_cast<uint32_t>(a), n);
  LinkRegionPage(map, r.last, n);
}

// Option -dm: one line per access outside every region, the first 100 and then one in 65536,
// so a runaway loop cannot fill the disk.
static void LogUnmapped(MemoryMap& map, uint32_t a) {
  uint64_t n = ++map.unmapped_count;
  if (n > 100 && (n & 0xFFFF) != 0) return;
  uint32_t ip = map.unmapped_ip ? *map.unmapped_ip : 0;
  map.unmapped_log->Printf("EMUMEM: unmapped access %08lX at IP=%08lX (%llu so far)\n",
                           static_cast<unsigned long>(a), static_cast<unsigned long>(ip),
                           static_cast<unsigned long long>(n));
  if (n == 100) map.unmapped_log->Printf("EMUMEM: further unmapped accesses logged 1 in 65536\n");
}

uint8_t* TranslateAddressSlow(MemoryMap& map, uint32_t a, uint32_t* avail) {
  int n = map.buckets[BucketOf(a)];
  const MemRegion* r = nullptr;
  if (n != 0) {
    r = &map.regions[n];
    int k = 0;
    while (!RegionHolds(*r, a)) {
      int next = map.regions[n].search[k++];
      if (next == 0) {
        r = nullptr;
        break;
      }
      r = &map.regions[next];
    }
  }
  if (r) {
    uint32_t offset = a - r->base;
    if (r->host) {
      if (avail) *avail = r->size - offset;
      return r->host + offset;
    }
    uint16_t low = static_cast<uint16_t>(a & 0xFFFF);
    map.report.port = IsPortNumber(low) ? low : 0;
    map.report.routine = r->routine;
    map.report.offset = offset;
  } else if (map.unmapped_log) {
    LogUnmapped(map, a);
  }
  if (avail) *avail = kScratchBytes;
  return map.scratch;
}

int FindRegion(const MemoryMap& map, uint32_t a) {
  for (int n = 1; n <= kRegionSlots; ++n) {
    const MemRegion& r = map.regions[n];
    if (r.defined && RegionHolds(r, a)) return n;
  }
  return 0;
}

void MarkTextWrite(MemoryMap& map, uint64_t offset, uint64_t n) {
  const uint64_t size = map.regions[kRegionText].size;
  if (offset >= size || n == 0) return;
  TextMarks& m = map.text_marks;
  const uint64_t pages = (size + (1u << TextMarks::kPageShift) - 1) >> TextMarks::kPageShift;
  if (m.marked.size() != pages) {  // the first mark, or a text defined anew
    m.marked.assign(pages, 0);
    m.pages.clear();
  }
  const uint64_t last = (std::min(offset + n, size) - 1) >> TextMarks::kPageShift;
  for (uint64_t page = offset >> TextMarks::kPageShift; page <= last; ++page) {
    if (m.marked[page]) continue;
    m.marked[page] = 1;
    m.pages.push_back(static_cast<uint32_t>(page));
  }
}

void ClearTextMarks(MemoryMap& map) {
  TextMarks& m = map.text_marks;
  for (uint32_t page : m.pages)
    if (page < m.marked.size()) m.marked[page] = 0;
  m.pages.clear();
}

void GuestRead(MemoryMap& map, uint32_t a, void* out, uint32_t n) {
  NoteHostAccess(map, a, n, false);
  uint32_t avail = 0;
  uint8_t* p = TranslateAddress(map, a, &avail);
  uint32_t take = n < avail ? n : avail;
  std::memcpy(out, p, take);
  if (take < n) std::memset(static_cast<uint8_t*>(out) + take, 0, n - take);
}

void GuestWrite(MemoryMap& map, uint32_t a, const void* in, uint32_t n) {
  NoteHostAccess(map, a, n, true);
  uint32_t avail = 0;
  uint8_t* p = TranslateAddress(map, a, &avail);
  std::memcpy(p, in, n < avail ? n : avail);
  NoteHostWrite(map, p, n < avail ? n : avail);
}

uint32_t GuestRead32(MemoryMap& map, uint32_t a) {
  uint32_t v;
  GuestRead(map, a, &v, 4);
  return v;
}
uint16_t GuestRead16(MemoryMap& map, uint32_t a) {
  uint16_t v;
  GuestRead(map, a, &v, 2);
  return v;
}
uint8_t GuestRead8(MemoryMap& map, uint32_t a) {
  NoteHostAccess(map, a, 1, false);
  return *TranslateAddress(map, a);
}
void GuestWrite32(MemoryMap& map, uint32_t a, uint32_t v) { GuestWrite(map, a, &v, 4); }
void GuestWrite16(MemoryMap& map, uint32_t a, uint16_t v) { GuestWrite(map, a, &v, 2); }
void GuestWrite8(MemoryMap& map, uint32_t a, uint8_t v) {
  NoteHostAccess(map, a, 1, true);
  uint8_t* p = TranslateAddress(map, a);
  *p = v;
  NoteHostWrite(map, p, 1);
}

}  // namespace korvane
