// Fuzz target: state files and input recordings, both untrusted (they travel with bug reports).
// An input that starts with the state magic is a state file: its firmware digest is set to this
// target's firmware and its checksum recomputed, so mutations reach the sections behind them. A
// file without a MEMY section gets the fresh machine's (half a megabyte of mostly zeros that
// mutations would only dilute), so the seeds hold the other sections alone. A state that passes
// the check is loaded, saved again and must pass the check once more. Any other input is a
// recording, read the way --replay reads it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/input_record.h"
#include "driver/save_state.h"
#include "fuzz_support.h"

using namespace korvane;

namespace {

// A firmware with every kind of region a state holds: text, data, bss, absolute data, heap.
const char* kFirmware = R"(
	.text
	.globl	_start
_start:
	addo	1,g0,g0
	st	g0,counter
	b	_start
	.data
	.align	2
table:
	.word	1,2,3,4
	.bss
	.align	2
	.globl	system_timer
system_timer:
	.space	4
counter:
	.space	4
	.section .absd
	.globl	kept
kept:
	.space	16
)";

constexpr char kMagic[] = "KORVSTAT";

constexpr size_t kHeaderBytes = 8 + 4 + 32 + 4;

void Reseal(std::string& bytes, const Sha256Digest& firmware) {
  if (bytes.size() < kHeaderBytes + 4) return;
  std::memcpy(bytes.data() + 12, firmware.data(), firmware.size());
  const uint32_t crc = Crc32(bytes.data(), bytes.size() - 4);
  for (int i = 0; i < 4; ++i) bytes[bytes.size() - 4 + i] = static_cast<char>(crc >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ScratchFolder folder("state");
  static const bool written = [] {
    const std::vector<uint8_t> exe = fuzz::AssembleOrDie(kFirmware);
    fuzz::WriteBytes(folder.File("x.out"), exe.data(), exe.size());
    fuzz::WriteBytes(folder.File("x.xcl"), "", 0);
    fuzz::WriteBytes(folder.File("x.mem"), "", 0);
    return true;
  }();
  (void)written;
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string error;

  if (input.compare(0, 8, kMagic) != 0) {
    fuzz::WriteBytes(folder.File("rec.txt"), data, size);
    InputRecording rec;
    ReadRecording(folder.File("rec.txt"), rec, error);
    return 0;
  }

  Emulator emu;
  // Files and serial ports a state reopens stay inside the scratch folder.
  emu.files.host.use_environment = false;
  emu.serial.use_environment = false;
  for (std::string& device : emu.serial.device_path) device = folder.File("no-such-device");
  if (!fuzz::StartUp(emu, {"korvane", "-v3", folder.File("x")})) return 0;
  Sha256Digest firmware;
  if (!FirmwareDigest(emu, firmware, error)) std::abort();
  StateFile state;
  state.path = "fuzz.kst";
  state.bytes = input;
  Reseal(state.bytes, firmware);
  if (!ParseStateFile(state, error)) return 0;
  bool has_memory = false;
  for (const auto& section : state.sections) has_memory |= section.name == "MEMY";
  if (!has_memory) {
    StateFile fresh;
    const std::string fresh_path = folder.File("fresh.kst");
    if (!SaveState(emu, fresh_path, error) || !ReadStateFile(fresh_path, fresh, error))
      std::abort();
    const auto& memory = fresh.sections.front();
    const size_t head = memory.offset - 12;  // its name and length come first
    std::string spliced = state.bytes.substr(0, kHeaderBytes);
    const uint32_t count = static_cast<uint32_t>(state.sections.size() + 1);
    std::memcpy(spliced.data() + kHeaderBytes - 4, &count, 4);
    spliced += fresh.bytes.substr(head, memory.offset + memory.size - head);
    spliced += state.bytes.substr(kHeaderBytes);
    state.bytes = std::move(spliced);
    Reseal(state.bytes, firmware);
    if (!ParseStateFile(state, error)) std::abort();
  }
  if (!CheckState(emu, state, error)) return 0;
  ApplyState(emu, state);
  // What was loaded saves as a state that checks again.
  const std::string again = folder.File("again.kst");
  StateFile reread;
  if (!SaveState(emu, again, error) || !ReadStateFile(again, reread, error) ||
      !CheckState(emu, reread, error)) {
    std::fprintf(stderr, "a loaded state does not save and check again: %s\n", error.c_str());
    std::abort();
  }
  return 0;
}
