// End-to-end run of the C-style workload firmware under korvane-run, its results read back
// through the tool's --dump lines: the whole path from project file to printed memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/workload_firmware.h"
#include "support/firmware_project.h"

namespace korvane {
namespace {

TEST(WorkloadDump, ResultsPrintedByTheRunnerMatchTheProgram) {
  test::FirmwareProject p;
  p.AddSnippet(test::kWorkload);
  ASSERT_TRUE(p.Assemble());
  p.WriteProject("korvane -v1 x");

  std::vector<std::string> args{"--max-instructions", "200000", "--timeout-ms", "60000"};
  for (const test::WorkloadResult& row : test::kWorkloadResults)
    args.insert(args.end(), {"--dump", std::string(row.symbol) + ":4"});
  // The same words again by address: a number and a name must print the same memory.
  char by_address[32];
  std::snprintf(by_address, sizeof by_address, "0x%X:8", p.Sym("res_fib"));
  args.insert(args.end(), {"--dump", by_address, p.Path("x.tvx")});
  test::ToolRun r = p.Run(args);
  SCOPED_TRACE(r.All());

  // The program parks at its end, so only the instruction limit stops it: no fatal message.
  EXPECT_EQ(r.status, 3) << "stopped by the instruction limit";
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.log.find(" ERR "), std::string::npos) << "no fault on the way";
  for (const test::WorkloadResult& row : test::kWorkloadResults) {
    uint32_t v = 0;
    ASSERT_TRUE(r.DumpWord(row.symbol, 0, &v)) << row.symbol;
    EXPECT_EQ(r.Dump(row.symbol).size(), 4u) << row.symbol << ": exactly the bytes asked for";
    EXPECT_EQ(v, row.want) << row.why;
  }
  std::string address(by_address, std::string(by_address).find(':'));
  std::vector<uint8_t> two = r.Dump(address);
  ASSERT_EQ(two.size(), 8u);
  EXPECT_EQ(test::WordAt(two, 0), 144u) << "res_fib by address";
  EXPECT_EQ(test::WordAt(two, 4), 38u) << "res_switch right after it";
  // Dump lines come in the order asked, one per --dump.
  EXPECT_EQ(r.out.rfind("res_fib: ", 0), 0u) << "the first --dump prints first";
}

}  // namespace
}  // namespace korvane
