// Keyboard emulation: keys from the host, device codes, timed key pulses in guest memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace korvane {

struct Machine;

constexpr int kKeySlots = 12;
constexpr int kOnKeySlot = 10;     // carries `onkey`
constexpr int kNewOnKeySlot = 11;  // carries `newonkey`
constexpr uint32_t kKeyPulseMs = 250;
// A key flag area wider than this many bytes needs an explicit count (option -kk).
constexpr uint32_t kMaxAutoFlagSpan = 64;

// Modifier values of CurrentMods / HostKeyMods: only the last one pressed counts.
constexpr int kModNone = 0;
constexpr int kModCtrl = 1;
constexpr int kModAlt = 2;
constexpr int kModShift = 4;

// A guest byte that x$readkeys keeps at 1 until its expiry time, then clears once.
struct KeySlot {
  bool used = false;
  uint32_t address = 0;  // guest address; written through the bounded guest accessors
  uint32_t expiry = 0;   // system_timer milliseconds
};

// Keys the host may have typed ahead of the firmware.
constexpr uint32_t kKeyQueueCapacity = 64;

// One typed key waiting in the key queue: a device code, or a host virtual key with the
// modifier that was held when it was pressed.
struct QueuedKey {
  int32_t device_code = 0;  // PushDeviceKey's code; 0 for a host key
  int32_t virtual_key = 0;  // HostKeyDown's virtual key
  int32_t mods = 0;         // CurrentMods at HostKeyDown
};

// First in, first out: the waiting keys are entries[(head + i) % kKeyQueueCapacity] for
// i = 0 .. count - 1, oldest first. Any thread pushes under `lock`; the emulation thread takes
// the oldest under `lock` once the firmware has read the key before it.
struct KeyQueue {
  std::mutex lock;
  QueuedKey entries[kKeyQueueCapacity];
  uint32_t head = 0;
  uint32_t count = 0;
};

struct KeyboardState {
  // Keys typed on the host side, in order, before they reach the pending words.
  KeyQueue queue;
  // Key input words: the key the firmware gets next. The emulation thread fills them from the
  // queue only when both are empty and clears them when x$readkeys hands the key over.
  std::atomic<int32_t> pending_device_key{0};  // PendingDeviceKey
  std::atomic<int32_t> pending_host_key{0};    // PendingHostKey
  std::atomic<int32_t> current_mods{0};        // CurrentMods, written by the host side
  std::atomic<int32_t> host_key_mods{0};       // HostKeyMods of the pending host key
  // x$readkeys calls so far: the host sees whether the firmware reads keys at all (a firmware
  // that never does would never act on a typed exit chord).
  std::atomic<uint64_t> reads{0};

  // Emulation-thread state, set up by InitEmuKey.
  KeySlot slots[kKeySlots];
  uint8_t* flag_area = nullptr;  // the key flag bytes N_min.., inside one region's storage
  uint32_t flag_area_size = 0;
  uint8_t* twin_area = nullptr;  // their twins, bounded to the twin's region the same way
  uint32_t twin_area_size = 0;
  bool twins = false;          // false when N_0 or T_0 is missing: no twin is ever written
  uint32_t twin_distance = 0;  // address of T_0 - address of N_0
  uint32_t nokey = 0;          // guest addresses, 0 when the firmware lacks the name
  uint32_t readkeys_ch = 0;
  uint32_t onkey = 0;
  uint32_t newonkey = 0;
  bool first_call = true;

  // Called by x$readkeys before it looks at the input words; the headless runner feeds its
  // key script from here so that key delivery follows the firmware's own polling.
  void (*before_read)(Machine&, void* context) = nullptr;
  void* before_read_context = nullptr;
};

// Called by the window (and the runner's key script) on the host side, from any thread. A key
// joins the end of the key queue; false when the queue is full and the key was refused (the
// caller tells the user). Modifier keys only change CurrentMods and are never refused.
bool PushDeviceKey(Machine& emu, int code);
bool HostKeyDown(Machine& emu, int virtual_key);
void HostKeyUp(Machine& emu, int virtual_key);

// Moves the oldest queued key into the pending words once the firmware has taken the key
// before it (both words empty). x$readkeys does it once, before its hook; a hook that types a
// key for this very call (a key script) moves it up itself.
void TakeQueuedKey(KeyboardState& k);

// The keyboard phase of start-up.
bool InitEmuKey(Machine& emu);

// The device code of the pending key (device key first, then the host key through the mapping
// table), or 0; the key it took is cleared. With no key pending, it takes the oldest queued one.
int NextKey(Machine& emu);
// Pulses the key identifier `name`: its byte for one x$readkeys call, its twin and `onkey`
// for `duration_ms`. Dropped when all four slot pairs are busy; x$readkeys avoids that by
// keeping a typed key pending until enough pairs are free.
void PressKey(Machine& emu, const char* name, int value, uint32_t duration_ms);

}  // namespace korvane
