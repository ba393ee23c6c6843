// End-to-end test of the serial ports: an echo firmware on port1 runs under korvane-run with
// KORVANE_COM1=pty, and the test talks to it through the pseudo-terminal the run announces.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "as/assembler.h"

extern char** environ;

namespace korvane {
namespace {

namespace fs = std::filesystem;

// Opens port1 at 9600 8N1, then echoes every character until it receives '.', after which it
// spins so the runner's instruction limit ends the run. The spy routines count the transfers
// they see (the read spy keeps its g7 and g9); `reads` counts every x$read_port call, so reads
// that timed out show up as the difference.
constexpr const char* kEchoFirmware = R"(
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
	.globl	x$init_ports
x$init_ports:
	ret
	.globl	x$init_port
x$init_port:
	ret
	.globl	x$read_port
x$read_port:
	ret
	.globl	x$write_port
x$write_port:
	ret

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

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The 32-bit little-endian value of a "NAME: b0 b1 b2 b3 ..." dump line, word `index`.
bool DumpWord(const std::string& out, const std::string& name, int index, uint32_t* value) {
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(name + ": ", 0) != 0) continue;
    std::istringstream words(line.substr(name.size() + 2));
    std::vector<unsigned> bytes;
    std::string hex;
    while (words >> hex) bytes.push_back(static_cast<unsigned>(std::stoul(hex, nullptr, 16)));
    if (bytes.size() < static_cast<size_t>(4 * index + 4)) return false;
    *value = 0;
    for (int i = 3; i >= 0; --i) *value = (*value << 8) | bytes[4 * index + i];
    return true;
  }
  return false;
}

class SerialEcho : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/korvane_serial_echo_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (pid_ > 0) {
      // Only if the test failed before the run ended: stop our own child.
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Starts korvane-run on the project with KORVANE_COM1=pty in its environment only.
  void StartRunner() {
    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e) {
      if (std::strncmp(*e, "KORVANE_COM", 11) != 0) env_text.push_back(*e);
    }
    env_text.push_back("KORVANE_COM1=pty");
    std::vector<char*> envp;
    for (auto& s : env_text) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> args = {
        KORVANE_RUN_PATH,
        "--log", (dir_ / "aaa.txt").string(),
        // Ends the run once the firmware spins after '.'; an idle echo loop uses only a few
        // instructions per 105 ms read, so it never gets there while the test is talking.
        "--max-instructions", "2000000",
        // A safety net should the firmware never see the '.'.
        "--timeout-ms", "60000",
        "--dump", "init_result:4", "--dump", "done:4", "--dump", "reads:4",
        "--dump", "spy_read_count:12", "--dump", "spy_write_count:4",
        "--", "korvane", "-por1", (dir_ / "x").string()};
    std::vector<char*> argv;
    for (auto& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string out = (dir_ / "stdout.txt").string(), err = (dir_ / "stderr.txt").string();
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(rc, 0) << "cannot start " << argv[0] << ": " << std::strerror(rc);
  }

  // The pseudo-terminal the run announces in its log, or "" when it never does.
  std::string WaitForPtyName() {
    static const std::regex kLine("COM1 is (/dev/pts/[0-9]+)\n");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      std::smatch m;
      std::string log = ReadText(dir_ / "aaa.txt");
      if (std::regex_search(log, m, kLine)) return m[1];
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        ADD_FAILURE() << "korvane-run ended early:\n" << ReadText(dir_ / "stderr.txt") << log;
        return "";
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "no \"COM1 is /dev/pts/N\" line in the log";
    return "";
  }

  int WaitForExit() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path dir_;
  pid_t pid_ = -1;
};

int ReadOne(int fd, int wait_ms) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, wait_ms) <= 0) return -1;
  unsigned char c;
  return read(fd, &c, 1) == 1 ? c : -1;
}

TEST_F(SerialEcho, FirmwareEchoesThroughThePseudoTerminalAndSpiesSeeEachTransfer) {
  as::Executable exe = as::AssembleAndLink({{"echo.s", kEchoFirmware}}, as::LinkOptions{});
  ASSERT_TRUE(exe.ok()) << exe.errors.front().ToString();
  {
    std::ofstream(dir_ / "x.out", std::ios::binary)
        .write(reinterpret_cast<const char*>(exe.file.data()),
               static_cast<std::streamsize>(exe.file.size()));
    std::ofstream(dir_ / "x.xcl");
    std::ofstream(dir_ / "x.mem");
  }
  StartRunner();
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

  EXPECT_EQ(WaitForExit(), 3) << "stopped by the instruction limit\n"
                              << ReadText(dir_ / "stderr.txt");
  std::string out = ReadText(dir_ / "stdout.txt");
  uint32_t v = 0;
  ASSERT_TRUE(DumpWord(out, "done", 0, &v)) << out;
  EXPECT_EQ(v, 1u) << "the firmware saw the '.'";
  ASSERT_TRUE(DumpWord(out, "init_result", 0, &v));
  EXPECT_EQ(v, 1u) << "x$init_port succeeded on the pseudo-terminal";

  uint32_t port1 = exe.symbols.at("port1");
  // Every character read went through the read spy with the port in g7 and 1 in g9 ...
  ASSERT_TRUE(DumpWord(out, "spy_read_count", 0, &v));
  EXPECT_EQ(v, sizeof sent + 1) << "the echoed characters and the '.'";
  uint32_t spied_reads = v;
  ASSERT_TRUE(DumpWord(out, "spy_read_count", 1, &v));
  EXPECT_EQ(v, port1);
  ASSERT_TRUE(DumpWord(out, "spy_read_count", 2, &v));
  EXPECT_EQ(v, 1u);
  // ... and the reads that timed out did not.
  ASSERT_TRUE(DumpWord(out, "reads", 0, &v));
  EXPECT_GT(v, spied_reads) << "some reads should have timed out while the line was idle";
  // Every write went through the write spy.
  ASSERT_TRUE(DumpWord(out, "spy_write_count", 0, &v));
  EXPECT_EQ(v, sizeof sent);
}

}  // namespace
}  // namespace korvane
