// Counts of a run for profiles and coverage: the calling-context tree kept at frame changes.
#include "core/run_counts.h"

#include <algorithm>
#include <cstring>

#include "core/calls.h"
#include "core/processor.h"

namespace korvane {

namespace {

constexpr size_t kMaxChain = 256;  // frames followed at most when a run starts inside a chain
constexpr uint32_t kOpcodeCall = 0x09;
constexpr uint32_t kOpcodeCallx = 0x86;
constexpr uint32_t kMemAbsolute = 0xC;  // MEMB mode: a displacement word and nothing else

uint32_t Word(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// The procedure a return address leads back from: the target of the call just before it
// (call with its displacement, callx to a fixed address), or 0 when that is not known.
uint32_t CalledFrom(const MemRegion& text, uint32_t rip) {
  auto word = [&](uint32_t at, uint32_t& w) {
    if (!text.host || at < text.base || uint64_t{at - text.base} + 4 > text.size) return false;
    w = Word(text.host + (at - text.base));
    return true;
  };
  uint32_t w = 0;
  if (word(rip - 4, w) && (w >> 24) == kOpcodeCall)
    return rip - 4 + static_cast<uint32_t>((static_cast<int32_t>(w << 8) >> 8) & ~3);
  uint32_t target = 0;
  if (word(rip - 8, w) && (w >> 24) == kOpcodeCallx && ((w >> 10) & 0xF) == kMemAbsolute &&
      word(rip - 4, target))
    return target;
  return 0;
}

}  // namespace

void RunCounts::Begin(Processor& emu) {
  const MemRegion& text = emu.mem.regions[kRegionText];
  if (text.host) WordsFor(text.base, text.size / 4 + 2);
  if (!stack_.empty()) return;
  mark_ = CurrentInstructionTotal(emu);
  // The chain of frames, innermost first: each frame's procedure is the target of the call
  // before the return address its caller's frame keeps in r2; where that cannot be read, an
  // address inside it names it (ip, or that return address).
  const MemRegion& st = emu.mem.regions[kRegionStck];
  std::vector<Frame> chain;
  std::vector<uint32_t> places;
  uint32_t fp = emu.cpu.g[15];
  uint32_t place = emu.cpu.ip + emu.cpu.length;
  chain.push_back({0, fp});
  places.push_back(place);
  while (emu.cpu.frame && chain.size() < kMaxChain && FrameUsable(st, fp)) {
    const uint32_t pfp = Word(st.host + (fp - st.base));
    if (pfp >= fp || !FrameUsable(st, pfp)) break;
    const uint32_t rip = Word(st.host + (pfp - st.base) + 8);
    if (const uint32_t entry = CalledFrom(text, rip)) places.back() = entry;
    places.push_back(rip);
    chain.push_back({0, pfp});
    fp = pfp;
  }
  nodes.assign(1, CallNode{});
  nodes[0].address = places.back();
  stack_.push_back({0, chain.back().fp});
  for (size_t k = chain.size() - 1; k-- > 0;)
    stack_.push_back({Child(stack_.back().node, places[k], nullptr), chain[k].fp});
}

uint64_t* RunCounts::WordsFor(uint32_t base, size_t count) {
  if (words.empty()) text_base = base;
  if (words.size() < count) words.resize(count);
  return words.data();
}

uint32_t RunCounts::Child(uint32_t parent, uint32_t address, const char* native) {
  // The children of a context as a list, the one found last moved to its front: a loop calls
  // the same few procedures over and over.
  uint32_t prev = 0;
  for (uint32_t c = nodes[parent].first_child; c != 0; prev = c, c = nodes[c].next_sibling) {
    CallNode& n = nodes[c];
    if (n.address != address || n.native.empty() != (native == nullptr)) continue;
    if (prev != 0) {
      nodes[prev].next_sibling = n.next_sibling;
      n.next_sibling = nodes[parent].first_child;
      nodes[parent].first_child = c;
    }
    return c;
  }
  const uint32_t c = static_cast<uint32_t>(nodes.size());
  CallNode n;
  n.address = address;
  n.parent = parent;
  if (native) n.native = native;
  n.next_sibling = nodes[parent].first_child;
  nodes.push_back(std::move(n));
  nodes[parent].first_child = c;
  return c;
}

void RunCounts::Settle(uint64_t total) {
  if (stack_.empty()) return;
  nodes[stack_.back().node].self += total - mark_;
  mark_ = total;
}

void RunCounts::Call(uint32_t target, uint32_t fp, uint64_t total) {
  Settle(total);
  const uint32_t c = Child(stack_.back().node, target, nullptr);
  ++nodes[c].calls;
  stack_.push_back({c, fp});
}

void RunCounts::Return(uint32_t fp, uint64_t total) {
  Settle(total);
  // Back to the frame at fp: every context above it ends (a frame left without its own ret,
  // as a fault handler may, ends with the one that returns past it).
  while (stack_.size() > 1 && stack_.back().fp != fp) stack_.pop_back();
  if (stack_.back().fp != fp) stack_.back().fp = fp;  // a return past the oldest known frame
}

void RunCounts::Native(uint32_t target, const char* name, uint64_t ns) {
  if (stack_.empty()) return;
  CallNode& n = nodes[Child(stack_.back().node, target, name)];
  ++n.calls;
  n.host_ns += ns;
}

void RunCounts::Publish(uint64_t total) {
  if (reset_wanted_.exchange(false, std::memory_order_relaxed)) {
    // The contexts stay (the stack points into them); their counts start again from here.
    for (CallNode& n : nodes) n.self = n.calls = n.host_ns = 0;
    std::fill(words.begin(), words.end(), 0);
    mark_ = total;
    publish_wanted_.store(true, std::memory_order_relaxed);
  }
  if (!publish_wanted_.exchange(false, std::memory_order_relaxed)) return;
  Settle(total);
  std::lock_guard<std::mutex> lock(published_mutex_);
  published_ = nodes;
}

std::vector<CallNode> RunCounts::Published() const {
  std::lock_guard<std::mutex> lock(published_mutex_);
  return published_;
}

void RunCounts::FrameChanged(const CpuState& cpu, uint64_t total) {
  // A call sets the new frame's pfp to the frame it left.
  const uint32_t pfp = cpu.frame ? Word(cpu.frame) : ~0u;
  if (pfp == stack_.back().fp) {
    Call(cpu.ip + cpu.length, cpu.g[15], total);
  } else {
    Return(cpu.g[15], total);
  }
}

}  // namespace korvane
