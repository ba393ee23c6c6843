// Fuzz target: the run loop over a garbage instruction stream. A small valid image is started
// for each input; its text is then replaced by the input and run for a bounded number of
// instructions, once by the fast core and once by the stepping loop. Faults and exit messages
// are normal outcomes; host crashes, hangs and any difference between the two runs (registers,
// counters, faults, memory, the exit message) are not.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// What a run leaves that the two loops must agree on.
struct Outcome {
  std::vector<uint32_t> words;
  std::vector<uint8_t> memory;
  std::string message;
};

Outcome Run(const std::string& video, const std::string& project, const uint8_t* data, size_t size,
            bool stepping) {
  Emulator emu;
  if (!fuzz::StartUp(emu, {"korvane", video, project})) std::abort();
  MemRegion& text = emu.mem.regions[kRegionText];
  std::memcpy(text.host, data, std::min<size_t>(size, text.size));
  emu.run.max_instructions = kMaxInstructions;
  emu.run.virtual_time_instructions = 100;
  if (stepping) emu.run.step_hook.before = [](void*) { return false; };
  bool ended_by_exit = false;
  try {
    RunLoop(emu);
  } catch (const EmuExitSignal&) {
    ended_by_exit = true;
  }
  Outcome o;
  const CpuState& c = emu.cpu;
  for (unsigned n = 0; n < 32; ++n) o.words.push_back(ReadReg(c, n));
  // The stepping loop clears length before its hook, so a run that ends at a fetch differs
  // there only.
  for (uint32_t v :
       {c.ip, ended_by_exit ? 0 : c.length, c.instr_word, c.cc, uint32_t(c.icount),
        uint32_t(c.fast_reg), uint32_t(c.fast_lit), uint32_t(c.addo_count), uint32_t(c.addi_count),
        uint32_t(emu.run.fault_count), uint32_t(emu.run.executed), uint32_t(ended_by_exit)})
    o.words.push_back(v);
  for (int n = 1; n <= kRegionSlots; ++n) {
    const MemRegion& r = emu.mem.regions[n];
    if (r.host) o.memory.insert(o.memory.end(), r.host, r.host + r.size);
  }
  o.message = emu.exit.message;
  return o;
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
  const std::string video = "-v" + std::to_string(data[0] % 6);
  const Outcome fast = Run(video, folder.File("x"), data + 1, size - 1, false);
  const Outcome stepped = Run(video, folder.File("x"), data + 1, size - 1, true);
  if (fast.words != stepped.words || fast.memory != stepped.memory ||
      fast.message != stepped.message) {
    std::fprintf(stderr, "the fast core and the stepping loop end differently\n");
    for (size_t i = 0; i < fast.words.size(); ++i)
      if (fast.words[i] != stepped.words[i])
        std::fprintf(stderr, "  word %zu: %08x against %08x\n", i, fast.words[i], stepped.words[i]);
    if (fast.memory != stepped.memory) std::fprintf(stderr, "  memory differs\n");
    if (fast.message != stepped.message)
      std::fprintf(stderr, "  \"%s\" against \"%s\"\n", fast.message.c_str(),
                   stepped.message.c_str());
    std::abort();
  }
  return 0;
}
