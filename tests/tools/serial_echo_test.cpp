// End-to-end test of the serial ports: an echo firmware on port1 runs under korvane-run with
// KORVANE_COM1=pty, and the test talks to it through the pseudo-terminal the run announces.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <regex>
#include <string>
#include <thread>

#include "support/firmware_project.h"
#include "support/host_io.h"

namespace korvane {
namespace {

using test::ReadOne;

// Opens port1 at 9600 8N1, then echoes every character until it receives '.', after which it
// spins so the runner's instruction limit ends the run. The spy routines count the transfers
// they see (the read spy keeps its g7 and g9); `reads` counts every x$read_port call, so reads
// that timed out show up as the difference.
std::string EchoFirmware() {
  return R"(
	.text
	.globl	_start
_start:
	callx	x$init_ports
	lda	port1,r3
	ldconst	9600,r4
	st	r4,(r3)			# baud rate
	mov	8,r4
	stob	r4,4(r3)		# data bits
	mov	1,r4
	st	r4,8(r3)		# one stop bit
	mov	0,r4
	st	r4,12(r3)		# no parity
	stob	r4,16(r3)		# no RTS handshake
	stob	r4,17(r3)		# no CTS flow control
	mov	r3,g7
	callx	x$init_port
	st	g9,init_result
loop:
	ld	reads,r3
	addo	1,r3,r3
	st	r3,reads
	lda	port1,g7
	callx	x$read_port
	cmpobne	1,g9,loop
	lda	port1,r3
	ldob	24(r3),r4
	ldconst	46,r5			# '.' ends the echo
	cmpobe	r4,r5,finish
	stob	r4,20(r3)
	mov	r3,g7
	callx	x$write_port
	b	loop
finish:
	mov	1,r6
	st	r6,done
spin:
	b	spin

	.globl	x$insert_spy_ports_READ
x$insert_spy_ports_READ:
	ld	spy_read_count,r3
	addo	1,r3,r3
	st	r3,spy_read_count
	st	g7,spy_read_g7
	st	g9,spy_read_g9
	ret
	.globl	x$insert_spy_ports_WRITE
x$insert_spy_ports_WRITE:
	ld	spy_write_count,r3
	addo	1,r3,r3
	st	r3,spy_write_count
	ret
)" + test::StubRoutines({"init_ports", "init_port", "read_port", "write_port"}) +
         R"(
	.data
	.align	2
init_result:	.word	7
done:		.word	0
reads:		.word	0
spy_read_count:	.word	0
spy_read_g7:	.word	0
spy_read_g9:	.word	0
spy_write_count:	.word	0
	.globl	port1
port1:
	.space	28
)";
}

class SerialEcho : public ::testing::Test {
 protected:
  // Starts korvane-run on the project with KORVANE_COM1=pty in its environment only.
  // `extra` comes first (e.g. --record FILE).
  void StartRunner(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = RunnerArgs();
    args.insert(args.begin(), extra.begin(), extra.end());
    ASSERT_TRUE(project_.Start(args, kPtyEnv));
  }
  std::vector<std::string> RunnerArgs() {
    return {// Ends the run once the firmware spins after '.'; an idle echo loop uses only a few
            // instructions per 105 ms read, so it never gets there while the test is talking.
            "--max-instructions", "2000000",
            // A safety net should the firmware never see the '.'.
            "--timeout-ms", "60000", "--dump", "init_result:4", "--dump", "done:4", "--dump",
            "reads:4", "--dump", "spy_read_count:12", "--dump", "spy_write_count:4", "--",
            "korvane", "-por1", project_.ProjectPath()};
  }
  const test::ChildEnv kPtyEnv{{"KORVANE_COM"}, {"KORVANE_COM1=pty"}};

  // The pseudo-terminal the run announces in its log, or "" when it never does.
  std::string WaitForPtyName() {
    static const std::regex kLine("COM1 is (/dev/pts/[0-9]+)\n");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      std::smatch m;
      std::string log = project_.ReadFile("aaa.txt");
      if (std::regex_search(log, m, kLine)) return m[1];
      if (project_.Ended()) {
        test::ToolRun r = project_.Finish();
        ADD_FAILURE() << "korvane-run ended early:\n" << r.err << r.log;
        return "";
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "no \"COM1 is /dev/pts/N\" line in the log";
    return "";
  }

  // Stops a run still going if the test fails before its end, and removes the folder.
  test::FirmwareProject project_;
};

TEST_F(SerialEcho, FirmwareEchoesThroughThePseudoTerminalAndSpiesSeeEachTransfer) {
  project_.AddSource("echo.s", EchoFirmware());
  ASSERT_TRUE(project_.Assemble());
  const std::string recording = project_.Path("serial.rec");
  StartRunner({"--record", recording});
  std::string pts = WaitForPtyName();
  ASSERT_FALSE(pts.empty());
  int term = open(pts.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(term, 0) << pts << ": " << std::strerror(errno);
  // Let a few reads time out first: those must not reach the read spy.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  // Characters a cooked line would change: CR, a control character, a high byte.
  const uint8_t sent[] = {'h', '\r', 0x03, 0xE9};
  for (uint8_t c : sent) {
    ASSERT_EQ(write(term, &c, 1), 1);
    EXPECT_EQ(ReadOne(term, 5000), c) << "no echo of " << int(c);
  }
  uint8_t stop = '.';
  ASSERT_EQ(write(term, &stop, 1), 1);
  EXPECT_EQ(ReadOne(term, 300), -1) << "'.' is not echoed";
  close(term);

  test::ToolRun r = project_.Finish();
  EXPECT_EQ(r.status, 3) << "stopped by the instruction limit\n" << r.err;
  uint32_t v = 0;
  ASSERT_TRUE(r.DumpWord("done", 0, &v)) << r.out;
  EXPECT_EQ(v, 1u) << "the firmware saw the '.'";
  ASSERT_TRUE(r.DumpWord("init_result", 0, &v));
  EXPECT_EQ(v, 1u) << "x$init_port succeeded on the pseudo-terminal";

  uint32_t port1 = project_.Sym("port1");
  // Every character read went through the read spy with the port in g7 and 1 in g9 ...
  ASSERT_TRUE(r.DumpWord("spy_read_count", 0, &v));
  EXPECT_EQ(v, sizeof sent + 1) << "the echoed characters and the '.'";
  uint32_t spied_reads = v;
  ASSERT_TRUE(r.DumpWord("spy_read_count", 1, &v));
  EXPECT_EQ(v, port1);
  ASSERT_TRUE(r.DumpWord("spy_read_count", 2, &v));
  EXPECT_EQ(v, 1u);
  // ... and the reads that timed out did not.
  ASSERT_TRUE(r.DumpWord("reads", 0, &v));
  EXPECT_GT(v, spied_reads) << "some reads should have timed out while the line was idle";
  // Every write went through the write spy.
  ASSERT_TRUE(r.DumpWord("spy_write_count", 0, &v));
  EXPECT_EQ(v, sizeof sent);

  // The recording gives the firmware the same bytes and time-outs at the same counts again,
  // with nobody on the line: every dumped variable ends as in the recorded run.
  std::vector<std::string> replay = RunnerArgs();
  replay.insert(replay.begin(), {"--replay", recording});
  test::ToolRun again = project_.Run(replay, kPtyEnv);
  EXPECT_EQ(again.status, 3) << again.All();
  EXPECT_EQ(again.out, r.out);
  EXPECT_NE(project_.ReadFile("serial.rec").find("\nserial "), std::string::npos);
}

}  // namespace
}  // namespace korvane
