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
    ar.Value(slot.used);
    ar.Value(slot.address);
    ar.Value(slot.expiry);
  }
  ar.Value(k.first_call);
}

}  // namespace korvane
