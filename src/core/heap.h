// The guest heap in region HEAP: a first-fit chain of blocks behind 8-byte headers.
#pragma once

#include <cstdint>

namespace korvane {

struct Processor;

constexpr uint32_t kHeapHeaderBytes = 8;
constexpr uint32_t kHeapBlockFree = 25;     // 0x19
constexpr uint32_t kHeapBlockInUse = 136;   // 0x88
// A fit that would leave fewer spare bytes than this takes the whole block instead of
// splitting off a free block too small to be of use.
constexpr uint32_t kHeapSplitMinimum = 16;

// Makes HEAP one free block of length size - 8 (start-up and service 38).
void HeapReset(Processor& emu);
// First fit: the guest address of n data bytes, or 0 when no free block is large enough.
uint32_t HeapAllocate(Processor& emu, uint32_t n);
// Releases the in-use block whose data starts at p; anything else is ignored.
void HeapFree(Processor& emu, uint32_t p);
// The greatest data length among free blocks, 0 if there is none.
uint32_t HeapLargestFree(Processor& emu);

}  // namespace korvane
