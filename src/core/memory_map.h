// The guest memory map: ten numbered regions, the bucket table, the scratch word and
// TranslateAddress, the only way guest data addresses reach host storage.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace korvane {

struct Processor;

constexpr int kRegionSlots = 10;
constexpr int kBucketCount = 4096;
constexpr int kScratchBytes = 16;  // the widest access (ldq/stq) is 16 bytes

// Region numbers of the memory map.
enum RegionNumber : int {
  kRegionText = 1,
  kRegionData = 2,
  kRegionBss = 3,
  kRegionAbsd = 4,
  kRegionVreg = 5,
  kRegionVmem = 6,
  kRegionStck = 7,
  kRegionHeap = 8,
  kRegionOnch = 9,
  kRegionSyst = 10,
};

// Region storage comes from calloc, so large regions get zero pages lazily.
struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};

class Log;

struct MemRegion {
  bool defined = false;
  char tag[5] = {};  // four characters and a terminator
  // An undefined region has last < base, so no address lies in it.
  uint32_t base = 1;
  uint32_t size = 0;
  uint32_t last = 0;        // base + size - 1, inclusive
  uint8_t* host = nullptr;  // storage, or null for a storage-less region
  std::unique_ptr<uint8_t, FreeDeleter> storage;
  uint16_t routine = 0;     // 1: accesses served by the display access routines
  int32_t delta = 0;        // recorded only
  uint16_t value = 0;       // recorded only
  uint8_t search[15] = {};  // three link slots, then 4, 1..10, 0
};

// What TranslateAddress leaves behind for an address in a storage-less region.
struct AccessReport {
  uint16_t port = 0;     // display port number, 0 when not a port
  uint16_t routine = 0;  // the region's routine-access flag
  uint32_t offset = 0;   // address - region base
};

// Byte and short accesses that a device serves instead of storage (an I/O mapping): those to a
// storage-less region flagged for routine access, by offset into the region, and those to a
// port address, by port number. Registered by the device that owns them; missing handlers
// read 0 and drop writes.
struct IoHandlers {
  void* ctx = nullptr;
  uint8_t (*read8)(void* ctx, uint32_t where) = nullptr;
  uint16_t (*read16)(void* ctx, uint32_t where) = nullptr;
  void (*write8)(void* ctx, uint32_t where, uint32_t value) = nullptr;
  void (*write16)(void* ctx, uint32_t where, uint32_t value) = nullptr;
};

// Writes into the text's storage, marked in 64-byte pages for the fast core, whose decoded
// records must follow the text. Every path that writes guest memory through a host pointer
// reports what it wrote (NoteHostWrite); the fast core looks at the marks after other code has
// run and at check points, checks again only the records of marked pages, and clears the marks.
struct TextMarks {
  static constexpr uint32_t kPageShift = 6;
  std::vector<uint8_t> marked;  // one byte per page of the text
  std::vector<uint32_t> pages;  // the marked pages, each once
  bool pending() const { return !pages.empty(); }
};

// Data accesses that host code makes on the guest's behalf while a debugger watches data: native
// routines (through the Guest* accessors below, or NoteHostAccess where they reach guest memory
// through a host pointer) and the frame words that a call writes. The debugger sets the bounds
// and the callback; the stepping loop arms the watch only while an instruction runs, so the
// debugger's own reads and a front-end's reads between instructions are never reported.
struct HostAccessWatch {
  bool active = false;            // a debugger watches data
  bool armed = false;             // an instruction runs
  uint32_t lo = 1, hi = 0;        // bounds of every watched range (inclusive)
  const char* routine = nullptr;  // the native routine running, or null
  void* ctx = nullptr;
  // Called before a write (so the old bytes can still be read) and for a read.
  void (*seen)(void* ctx, uint32_t address, uint32_t size, bool write) = nullptr;
};

struct MemoryMap {
  IoHandlers routine_io;                // regions flagged for routine access (display memory)
  IoHandlers port_io;                   // port addresses (display registers)
  MemRegion regions[kRegionSlots + 1];  // index 0 unused: number 0 means no region
  uint8_t buckets[kBucketCount] = {};   // RegionBuckets
  alignas(16) uint8_t scratch[kScratchBytes] = {};
  AccessReport report;
  uint32_t display_base = 0;  // base of VMEM once defined

  // Option -dm: data accesses outside every region are logged with the instruction pointer.
  // Set by the run loop; null when the option is off, so the common path pays nothing.
  Log* unmapped_log = nullptr;
  const uint32_t* unmapped_ip = nullptr;
  uint64_t unmapped_count = 0;

  TextMarks text_marks;
  HostAccessWatch host_watch;
};

// True when guest address a lies in region r (also for regions that end at the top of the
// address space, and never for an empty or undefined region).
inline bool RegionHolds(const MemRegion& r, uint32_t a) { return a - r.base < r.size; }

// True when t may be the target of a branch, call, return or bx: a multiple of 4 inside TEXT.
inline bool IsCodeTarget(const MemoryMap& map, uint32_t t) {
  return (t & 3) == 0 && RegionHolds(map.regions[kRegionText], t);
}

// Bucket of a guest address: bits 12-23 ORed with bits 20-31, so distant regions can share one.
inline uint32_t BucketOf(uint32_t a) { return (((a >> 16) & 0xFFFF) | ((a >> 8) & 0xFFFF)) >> 4; }

// Defines region n (1-10). Storage that cannot be obtained ends the run through MsgExit.
void DefineRegion(Processor& emu, int n, const char* tag, uint32_t base, uint32_t size,
                  bool allocate, int32_t delta, uint16_t value, int routine);
void LinkRegionPage(MemoryMap& map, uint32_t a, int n);

// The full search of TranslateAddress: link slots, fallback list, storage-less regions,
// the scratch word.
uint8_t* TranslateAddressSlow(MemoryMap& map, uint32_t a, uint32_t* avail);

// Host location of guest address a: inside a region's storage, or the scratch word.
// When `avail` is given it receives how many bytes from the returned location on belong to
// that storage (the rest of the region, or the scratch area), so callers can bound accesses.
// The common case - the bucket's own region holds the address and has storage - is one table
// lookup and one comparison, inline.
inline uint8_t* TranslateAddress(MemoryMap& map, uint32_t a, uint32_t* avail = nullptr) {
  const MemRegion& r = map.regions[map.buckets[BucketOf(a)]];  // slot 0 holds no address
  const uint32_t offset = a - r.base;
  if (__builtin_expect(offset < r.size && r.host != nullptr, 1)) {
    if (avail) *avail = r.size - offset;
    return r.host + offset;
  }
  return TranslateAddressSlow(map, a, avail);
}

// Marks the pages of the text's storage from byte `offset` on, n bytes (cut at the text's end).
void MarkTextWrite(MemoryMap& map, uint64_t offset, uint64_t n);
// Drops every mark (the fast core starts with records of its own).
void ClearTextMarks(MemoryMap& map);

// To be called after writing n bytes at host location p, which came from TranslateAddress (so
// the bytes lie in one region's storage or the scratch area): a write into the text's storage
// is marked. Costs a subtraction and a comparison otherwise.
inline void NoteHostWrite(MemoryMap& map, const void* p, uint64_t n) {
  const MemRegion& t = map.regions[kRegionText];
  const uintptr_t offset = reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(t.host);
  if (__builtin_expect(offset < t.size && t.host != nullptr && n != 0, 0))
    MarkTextWrite(map, offset, n);
}

// To be called by host code before it writes, or when it reads, n guest bytes from address a
// without the Guest* accessors (which call it themselves). Costs one test while no debugger
// watches data.
inline void NoteHostAccess(MemoryMap& map, uint32_t a, uint64_t n, bool write) {
  const HostAccessWatch& w = map.host_watch;
  if (__builtin_expect(w.armed, 0) && n != 0 && a <= w.hi && a + (n - 1) >= w.lo)
    w.seen(w.ctx, a, n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(n), write);
}

// The region holding guest address a, or 0.
int FindRegion(const MemoryMap& map, uint32_t a);

// Bounded guest accesses built on TranslateAddress: bytes that run past the storage of the
// first byte's region read as zero and writes to them are dropped. They do not consult the
// display routines; AccessReport is filled as TranslateAddress fills it.
void GuestRead(MemoryMap& map, uint32_t a, void* out, uint32_t n);
void GuestWrite(MemoryMap& map, uint32_t a, const void* in, uint32_t n);
uint32_t GuestRead32(MemoryMap& map, uint32_t a);
uint16_t GuestRead16(MemoryMap& map, uint32_t a);
uint8_t GuestRead8(MemoryMap& map, uint32_t a);
void GuestWrite32(MemoryMap& map, uint32_t a, uint32_t v);
void GuestWrite16(MemoryMap& map, uint32_t a, uint16_t v);
void GuestWrite8(MemoryMap& map, uint32_t a, uint8_t v);

}  // namespace korvane
