// The guest heap: first-fit allocation, free without merging, reset, largest free block.
#include "core/heap.h"

#include "core/processor.h"

namespace korvane {

namespace {

struct Block {
  uint32_t header;  // guest address of the header
  uint32_t length;  // data length L
  uint32_t state;
};

// Walks the chain from HEAP base. The firmware owns the heap memory and may damage it, so the
// walk reads only headers that lie wholly inside HEAP, stops at a block whose data would run
// past HEAP's end, and advances in 64-bit arithmetic so a huge length cannot wrap the walk
// back to a lower address. Each step moves at least 8 bytes, so the walk always ends.
template <typename Visit>
void WalkHeap(Processor& emu, Visit visit) {
  const MemRegion& heap = emu.mem.regions[kRegionHeap];
  if (heap.host == nullptr || heap.size < kHeapHeaderBytes) return;
  const uint64_t end = uint64_t{heap.last} + 1;
  uint64_t h = heap.base;
  while (h < heap.last && h + kHeapHeaderBytes <= end) {
    uint32_t a = static_cast<uint32_t>(h);
    Block b{a, GuestRead32(emu.mem, a), GuestRead32(emu.mem, a + 4)};
    uint64_t next = h + kHeapHeaderBytes + b.length;
    if (next > end) return;  // damaged length: this block and the rest are not usable
    if (!visit(b)) return;
    h = next;
  }
}

}  // namespace

void HeapReset(Processor& emu) {
  const MemRegion& heap = emu.mem.regions[kRegionHeap];
  if (heap.host == nullptr || heap.size < kHeapHeaderBytes) return;
  GuestWrite32(emu.mem, heap.base, heap.size - kHeapHeaderBytes);
  GuestWrite32(emu.mem, heap.base + 4, kHeapBlockFree);
}

uint32_t HeapAllocate(Processor& emu, uint32_t n) {
  uint32_t result = 0;
  WalkHeap(emu, [&](const Block& b) {
    if (b.state != kHeapBlockFree || n > b.length) return true;
    if (uint64_t{b.length} < uint64_t{n} + kHeapSplitMinimum) {
      GuestWrite32(emu.mem, b.header + 4, kHeapBlockInUse);  // whole block, L unchanged
    } else {
      uint32_t rest = b.header + kHeapHeaderBytes + n;
      GuestWrite32(emu.mem, b.header, n);
      GuestWrite32(emu.mem, b.header + 4, kHeapBlockInUse);
      GuestWrite32(emu.mem, rest, b.length - n - kHeapHeaderBytes);
      GuestWrite32(emu.mem, rest + 4, kHeapBlockFree);
    }
    result = b.header + kHeapHeaderBytes;
    return false;
  });
  return result;
}

void HeapFree(Processor& emu, uint32_t p) {
  const MemRegion& heap = emu.mem.regions[kRegionHeap];
  if (heap.host == nullptr || p < kHeapHeaderBytes) return;
  uint32_t h = p - kHeapHeaderBytes;
  // Only a header that lies wholly inside HEAP and is marked in use is released.
  if (h < heap.base || h >= heap.last || uint64_t{h} + kHeapHeaderBytes > uint64_t{heap.last} + 1)
    return;
  if (GuestRead32(emu.mem, h + 4) == kHeapBlockInUse) GuestWrite32(emu.mem, h + 4, kHeapBlockFree);
}

uint32_t HeapLargestFree(Processor& emu) {
  uint32_t largest = 0;
  WalkHeap(emu, [&](const Block& b) {
    if (b.state == kHeapBlockFree && b.length > largest) largest = b.length;
    return true;
  });
  return largest;
}

}  // namespace korvane
