// korvane-run's scripted serial lines: what --serial-send queues reaches the firmware, what it
// sends comes back in the --serial-capture file.
#include <gtest/gtest.h>

#include <string>

#include "support/firmware_project.h"

namespace korvane {
namespace {

// Echoes port1 until it receives '.', then spins until the instruction limit.
constexpr const char* kEcho = R"(
	.text
	.globl	_start
_start:
	callx	x$init_ports
	lda	port1,r3
	ldconst	9600,r4
	st	r4,(r3)
	mov	8,r4
	stob	r4,4(r3)
	mov	r3,g7
	callx	x$init_port
loop:
	lda	port1,g7
	callx	x$read_port
	cmpobne	1,g9,loop
	lda	port1,r3
	ldob	24(r3),r4
	ldconst	46,r5
	cmpobe	r4,r5,spin
	stob	r4,20(r3)
	mov	r3,g7
	callx	x$write_port
	b	loop
spin:
	b	spin
)";

constexpr const char* kEchoData = R"(
	.data
	.globl	port1
port1:
	.space	28
)";

TEST(SerialLines, QueuedBytesAreEchoedIntoTheCaptureFile) {
  test::FirmwareProject project("echo");
  project.AddSource(
      "echo.s", kEcho + test::StubRoutines({"init_ports", "init_port", "read_port", "write_port"}) +
                    kEchoData);
  ASSERT_TRUE(project.Assemble());
  test::ToolRun r =
      project.Run({"--max-instructions", "200000", "--timeout-ms", "60000", "--serial-send",
                   "1:A\\x01\\\\\\r\\n.", "--serial-capture", "1:" + project.Path("com1.bin"), "--",
                   "korvane", "-por1", project.ProjectPath()});
  EXPECT_EQ(r.status, 3) << r.All();
  EXPECT_EQ(project.ReadFile("com1.bin"), std::string("A\x01\\\r\n")) << r.All();
}

TEST(SerialLines, BadValuesAreUsageErrors) {
  const char* bad[][2] = {
      {"--serial-send", "5:X"},     // COM numbers are 1-4
      {"--serial-send", "1X"},      // no colon
      {"--serial-send", "1:\\q"},   // unknown escape
      {"--serial-send", "1:\\x4"},  // \x needs two hex digits
      {"--serial-capture", "1:"},   // no file
  };
  for (const auto& b : bad) {
    test::ToolRun r = test::RunKorvaneRun({b[0], b[1], "--", "korvane", "x"});
    EXPECT_EQ(r.status, 2) << b[0] << " " << b[1] << "\n" << r.All();
  }
}

}  // namespace
}  // namespace korvane
