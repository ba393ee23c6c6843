// Counts of a run for profiles and coverage: executions per text word and the tree of calling
// contexts (which procedure called which, and the instructions run in each context).
//
// While a RunCounts is attached (run.counts), the run loops count every instruction they run
// and report every change of frame: the fast core runs a copy of its loop with the counting
// compiled in, so the loop without it is unchanged. A call is told apart from a return by the
// new frame's pfp, which a call sets to the frame it left; so calls and returns made on any
// path (fast, generic, intercepted, faults) are seen the same way. Instructions run between two
// frame changes belong to the context on top: the call instruction to its caller, the ret to the
// procedure it ends. Native routines (intercepted calls whose handler replaces the guest
// routine) are leaves of their own with a call count and the host time of their handler.
//
// A run that starts inside a call chain (from a loaded state) begins with the chain its frames
// show, so the counts of two runs split at any instruction add up to those of the whole run.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/cpu_state.h"

namespace korvane {

struct Processor;

// One calling context: a procedure reached through the chain of its parents.
struct CallNode {
  uint32_t address = 0;  // the call's target, or an address inside the procedure for a
                         // context the run started in
  uint32_t parent = 0;   // index; the root is its own parent
  uint64_t self = 0;     // instructions run in this context
  uint64_t calls = 0;    // arrivals by a call
  uint64_t host_ns = 0;  // native routines: host time of their handler
  std::string native;    // the native routine's name, "" for guest code
  uint32_t first_child = 0, next_sibling = 0;  // 0: none (the root is no one's child)
};

class RunCounts {
 public:
  // Executions per text word from `text_base` on; sized by the run loop when it starts.
  std::vector<uint64_t> words;
  uint32_t text_base = 0;

  // Node 0 is the root: where the run started, or the outermost frame of its chain.
  std::vector<CallNode> nodes;

  // Called when a run loop starts: sizes `words` for the text and, on the first start, builds
  // the chain of contexts from the frames.
  void Begin(Processor& emu);
  // The word array for the fast core, sized to at least `count` words.
  uint64_t* WordsFor(uint32_t base, size_t count);
  void CountWord(uint32_t ip) {
    const uint32_t i = (ip - text_base) >> 2;
    if (i < words.size()) ++words[i];
  }

  // After an instruction that may have changed frames: `total` is the run's instruction count
  // including it.
  void AfterInstruction(const CpuState& cpu, uint64_t total) {
    if (cpu.g[15] != stack_.back().fp) FrameChanged(cpu, total);
  }
  // The fast core's own calls and returns, which know what they are.
  void Call(uint32_t target, uint32_t fp, uint64_t total);
  void Return(uint32_t fp, uint64_t total);
  // A native routine ran for `ns` nanoseconds in the current context.
  void Native(uint32_t target, const char* name, uint64_t ns);
  // Gives the instructions run since the last frame change to the current context.
  void Settle(uint64_t total);

  bool started() const { return !stack_.empty(); }

  // A view on another thread (the window's profile): it asks, and at the next system_timer
  // check point the emulation thread copies the contexts out (Publish), or starts the counts
  // afresh. Published() returns the last copy (any thread).
  void RequestPublish() { publish_wanted_.store(true, std::memory_order_relaxed); }
  void RequestReset() { reset_wanted_.store(true, std::memory_order_relaxed); }
  void Publish(uint64_t total);
  std::vector<CallNode> Published() const;

 private:
  struct Frame {
    uint32_t node;
    uint32_t fp;
  };
  void FrameChanged(const CpuState& cpu, uint64_t total);
  uint32_t Child(uint32_t parent, uint32_t address, const char* native);

  std::vector<Frame> stack_;
  uint64_t mark_ = 0;  // instruction total at the last frame change

  std::atomic<bool> publish_wanted_{false}, reset_wanted_{false};
  mutable std::mutex published_mutex_;
  std::vector<CallNode> published_;
};

}  // namespace korvane
