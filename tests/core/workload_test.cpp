// A C-style firmware workload: recursion, a switch through a jump table, calls through function
// pointers, the heap and real arithmetic through the run-time services, checked in memory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "driver/emulator.h"
#include "core/workload_firmware.h"
#include "support/snippet.h"

namespace korvane {
namespace {

TEST(Workload, CStyleProgramComputesExpectedResults) {
  auto r = test::RunSnippet(test::kWorkload, 200000);
  ASSERT_TRUE(r->assembled);
  ASSERT_FALSE(r->ended_by_exit) << r->ExitMessage();
  EXPECT_EQ(r->cpu.ip, r->Sym("snippet_end")) << "the program ran to its end";
  for (const test::WorkloadResult& row : test::kWorkloadResults)
    EXPECT_EQ(r->Read32(r->Sym(row.symbol)), row.want) << row.why;
  EXPECT_EQ(r->G(15), r->mem.regions[kRegionStck].base) << "every call returned";
  EXPECT_EQ(r->run.fault_count, 0);
}

}  // namespace
}  // namespace korvane
