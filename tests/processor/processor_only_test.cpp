// The processor library on its own: no image loader, no services, no driver. A few hand-encoded
// instructions run through the real run loop, and what the machine above would do arrives only
// through the hooks the processor owns.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/processor.h"

namespace korvane {
namespace {

constexpr uint32_t kG0 = 16;

uint32_t RegLiteral1(uint32_t opcode, uint32_t dst, uint32_t src2, uint32_t literal1) {
  return (opcode >> 4) << 24 | dst << 19 | src2 << 14 | 1u << 11 | (opcode & 15) << 7 | literal1;
}
uint32_t Ctrl(uint32_t opcode, int32_t displacement) {
  return opcode << 24 | (static_cast<uint32_t>(displacement) & 0xFFFFFC);
}
uint32_t MemaAbsolute(uint32_t opcode, uint32_t reg, uint32_t offset) {
  return opcode << 24 | reg << 19 | offset;
}

struct Hooked {
  std::vector<uint32_t> calls;
  std::vector<std::pair<uint32_t, uint32_t>> byte_writes;
  int check_points = 0;
};

void Load(Processor& p, const std::vector<uint32_t>& words) {
  DefineRegion(p, kRegionText, "TEXT", 0, 0x1000, true, 0, 0, 0);
  DefineRegion(p, kRegionVreg, "VREG", 0x800, 0x100, false, 0, 0, 1);  // served by routines
  std::memcpy(p.mem.regions[kRegionText].host, words.data(), 4 * words.size());
}

TEST(ProcessorOnly, RunLoopReachesTheMachineOnlyThroughItsHooks) {
  Processor p;
  Hooked h;
  Load(p, {
              RegLiteral1(0x590, kG0, kG0, 1),      // 0: addo 1, g0, g0
              Ctrl(0x09, 0x100 - 4),                // 4: call 0x100 (skipped by the hook)
              MemaAbsolute(0x82, kG0, 0x810),       // 8: stob g0, 0x810 (routine region)
              Ctrl(0x08, -12),                      // 12: b 0
          });
  p.hooks.ctx = &h;
  p.hooks.intercept_call = [](void* ctx, uint32_t target) {
    static_cast<Hooked*>(ctx)->calls.push_back(target);
    return 0u;
  };
  p.hooks.check_point = [](void* ctx) { ++static_cast<Hooked*>(ctx)->check_points; };
  p.mem.routine_io.ctx = &h;
  p.mem.routine_io.write8 = [](void* ctx, uint32_t where, uint32_t v) {
    static_cast<Hooked*>(ctx)->byte_writes.push_back({where, v});
  };
  p.run.max_instructions = 40000;  // 10000 rounds of four instructions

  RunLoop(p);

  EXPECT_TRUE(p.run.stopped_by_host);
  EXPECT_EQ(p.cpu.g[0], 10000u);
  ASSERT_EQ(h.calls.size(), 10000u);
  EXPECT_EQ(h.calls.front(), 0x100u);
  ASSERT_EQ(h.byte_writes.size(), 10000u);
  EXPECT_EQ(h.byte_writes[41], (std::pair<uint32_t, uint32_t>{0x10, 42}));
  EXPECT_EQ(h.check_points, 1);  // at instruction 32768
}

TEST(ProcessorOnly, WithoutHooksACallProceedsAndDisplayAccessesReadZero) {
  Processor p;
  Load(p, {MemaAbsolute(0x80, kG0, 0x810),  // ldob 0x810, g0
           Ctrl(0x08, 0)});                // b . (spin)
  p.cpu.g[0] = 0x55;
  p.run.max_instructions = 10;
  RunLoop(p);
  EXPECT_EQ(p.cpu.g[0], 0u);
}

}  // namespace
}  // namespace korvane
