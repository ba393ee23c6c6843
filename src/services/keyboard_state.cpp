#include <algorithm>
#include <iterator>

#include "services/keyboard.h"
#include "services/machine.h"
#include "services/machine_state.h"

namespace korvane {

namespace {

void AtomicWord(StateArchive& ar, std::atomic<int32_t>& word) {
  int32_t v = ar.Scalar(word.load(std::memory_order_relaxed));
  if (ar.loading()) word.store(v, std::memory_order_relaxed);
}

}  // namespace

void SerializeKeyboard(Machine& emu, StateArchive& ar) {
  KeyboardState& k = emu.keys;
  AtomicWord(ar, k.pending_device_key);
  AtomicWord(ar, k.pending_host_key);
  AtomicWord(ar, k.current_mods);
  AtomicWord(ar, k.host_key_mods);
  for (KeySlot& slot : k.slots) {
    ar.Flag(slot.used, "slot used");
    ar.Value(slot.address);
    ar.Value(slot.expiry);
  }
  ar.Flag(k.first_call, "first_call");
  // Typed keys not yet handed to the firmware, oldest first: the queue is written from its
  // head, so a machine that has queued and taken keys saves the same bytes as one that never
  // queued any, and comes back with its head at 0.
  std::lock_guard<std::mutex> lock(k.queue.lock);
  KeyQueue& q = k.queue;
  QueuedKey waiting[kKeyQueueCapacity] = {};
  const uint32_t count = q.count <= kKeyQueueCapacity ? q.count : 0;
  for (uint32_t i = 0; i < count; ++i) waiting[i] = q.entries[(q.head + i) % kKeyQueueCapacity];
  for (QueuedKey& w : waiting) {
    ar.Value(w.device_code);
    ar.Value(w.virtual_key);
    ar.Value(w.mods);
  }
  const uint32_t saved_count = ar.ScalarRanged(count, 0u, kKeyQueueCapacity, "queue count");
  // Only a load changes the queue; saving and checking leave it as the host side filled it.
  if (!ar.loading() || !ar.ok()) return;
  std::copy(std::begin(waiting), std::end(waiting), std::begin(q.entries));
  q.head = 0;
  q.count = saved_count;
}

}  // namespace korvane
