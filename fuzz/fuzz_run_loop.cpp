// Fuzz target: the run loop over a garbage instruction stream. A small valid image is started
// once per input; its text is then replaced by the input and run for a bounded number of
// instructions. Faults and exit messages are normal outcomes; host crashes and hangs are not.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"

using namespace korvane;

namespace {

constexpr int kTextWords = 1024;
constexpr uint64_t kMaxInstructions = 5000;

std::string Program() {
  std::string s = "\t.text\n\t.globl _start\n_start:\n";
  for (int i = 0; i < kTextWords; ++i) s += "\tmov\tr3,r3\n";
  s += "\t.data\n\t.globl system_timer\nsystem_timer:\n\t.word 0\nvalues:\n\t.space 256\n";
  s += "\t.bss\nscratch:\n\t.space 256\n";
  s += "\t.section .absd\nkept:\n\t.space 256\n";
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ScratchFolder folder("run");
  static const bool ready = [] {
    std::vector<uint8_t> exe = fuzz::AssembleOrDie(Program());
    fuzz::WriteBytes(folder.File("x.out"), exe.data(), exe.size());
    fuzz::WriteBytes(folder.File("x.xcl"), "", 0);
    fuzz::WriteBytes(folder.File("x.mem"), "", 0);
    return true;
  }();
  (void)ready;
  if (size < 1) return 0;

  // The first byte picks the display type, so the display access routines of every mode meet
  // the stream's loads and stores.
  std::string video = "-v" + std::to_string(data[0] % 6);
  Emulator emu;
  if (!fuzz::StartUp(emu, {"korvane", video, folder.File("x")})) std::abort();
  MemRegion& text = emu.mem.regions[kRegionText];
  size_t n = std::min<size_t>(size - 1, text.size);
  std::memcpy(text.host, data + 1, n);
  emu.run.max_instructions = kMaxInstructions;
  emu.run.virtual_time_instructions = 100;
  try {
    RunLoop(emu);
  } catch (const EmuExitSignal&) {
  }
  return 0;
}
