// korvane-run answers at once while the firmware waits inside a serial read: the time limit
// and a key script's exit key end the run within a fraction of a second, not at the next
// check point, which a firmware that polls an unconnected port reaches only after minutes.
#include <gtest/gtest.h>

#include <chrono>

#include "support/firmware_project.h"
#include "support/serial_poll_firmware.h"

namespace korvane {
namespace {

struct Case {
  const char* why;
  std::vector<std::string> options;
  int status;
};

TEST(Responsive, LimitsAndExitKeysEndAFirmwarePollingAnUnconnectedPort) {
  test::FirmwareProject project;
  project.AddSource("poll.s", test::SerialPollFirmware());
  ASSERT_TRUE(project.Assemble());
  const test::ChildEnv env{{"KORVANE_COM"}, {"KORVANE_COM1=pty"}};
  const Case cases[] = {
      {"the time limit", {"--timeout-ms", "300"}, 3},
      {"Ctrl+X after a wall-clock wait", {"--keys", "wait:300 CTRL+X", "--timeout-ms", "30000"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::vector<std::string> args = c.options;
    for (const char* w : {"--log", "-", "--", "korvane", "-por1"}) args.push_back(w);
    args.push_back(project.ProjectPath());
    const auto start = std::chrono::steady_clock::now();
    test::ToolRun run = test::RunKorvaneRun(args, "", env);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(run.status, c.status) << run.All();
    // Generous for a loaded machine; before, neither run ended within a minute.
    EXPECT_LT(ms, 5000) << run.All();
  }
}

}  // namespace
}  // namespace korvane
