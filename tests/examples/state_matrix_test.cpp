// Save states taken in the middle of a run: for the demo and for a firmware of our own that
// keeps files, a directory, a serial port, the display and the key queue busy, a run of N
// instructions and a run of K instructions saved, loaded into a fresh emulator in a copy of
// the project folder and run on to N end with the same machine, picture and files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "driver/emu_main.h"
#include "driver/emulator.h"
#include "driver/save_state.h"
#include "services/display.h"
#include "services/keyboard.h"
#include "support/firmware_project.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

// Opens a serial port, a file for reading and one for writing, moves the parse path into
// C:\LOGS and switches both display pages; then, every 256 passes of its loop, copies a byte
// from IN.TXT to OUT.TXT, lists C:\LOGS, stores a pixel and a DAC component, and reads keys
// every 16384 passes.
const std::string kBusyFirmware =
    R"(
	.set	PORT_GFX, 0x800003ce
	.set	PORT_CRT, 0x800003d4
	.set	PORT_DAC, 0x800003c9
	.set	VMEM, 0x900a0000
	.text
	.globl	_start
_start:
	callx	x$init_ports
	lda	port1,r3
	ldconst	9600,r4
	st	r4,(r3)
	mov	8,r4
	stob	r4,4(r3)
	mov	1,r4
	st	r4,8(r3)
	mov	0,r4
	st	r4,12(r3)
	stob	r4,16(r3)
	stob	r4,17(r3)
	mov	r3,g7
	callx	x$init_port
	st	g9,port_ok

	lda	request,r3
	ldconst	0x43,r4
	st	r4,4(r3)
	mov	r3,g7
	callx	x$start_parse_dir_filemem
	lda	name_in,r4
	st	r4,8(r3)
	mov	r3,g7
	callx	x$open_filemem
	ld	44(r3),r4
	st	r4,in_handle
	mov	r3,g7
	callx	x$start_parse_dir_filemem
	lda	name_out,r4
	st	r4,8(r3)
	mov	r3,g7
	callx	x$create_filemem
	ld	44(r3),r4
	st	r4,out_handle
	mov	r3,g7
	callx	x$start_parse_dir_filemem
	lda	name_logs,r4
	st	r4,8(r3)
	mov	r3,g7
	callx	x$change_parse_dir_filemem

	ldconst	PORT_GFX,r4
	mov	9,r5
	stob	r5,(r4)
	mov	1,r5
	stob	r5,1(r4)		# draw on page B
	mov	5,r5
	stob	r5,(r4)
	stob	r5,1(r4)		# packed modes: two-colour expansion
	ldconst	PORT_CRT,r4
	ldconst	0x1b,r5
	stob	r5,(r4)
	mov	5,r5
	stob	r5,1(r4)		# show page B (bit 0 planar, bit 2 packed)

loop:
	ld	counter,r5
	addo	1,r5,r5
	st	r5,counter
	ldconst	255,r6
	and	r6,r5,r6
	cmpobne	0,r6,loop
	call	busy
	b	loop

busy:
	lda	request,r3
	ld	in_handle,r4
	st	r4,44(r3)
	lda	buffer,r4
	st	r4,8(r3)
	mov	1,r4
	st	r4,12(r3)
	mov	r3,g7
	callx	x$read_filemem
	ld	out_handle,r4
	st	r4,44(r3)
	mov	1,r4
	st	r4,12(r3)
	mov	r3,g7
	callx	x$write_filemem
	lda	entries,r4
	st	r4,8(r3)
	mov	2,r4
	st	r4,12(r3)
	lda	pattern_all,r4
	st	r4,36(r3)
	mov	0,r4
	stob	r4,40(r3)
	mov	r3,g7
	callx	x$read_dir_filemem
	ld	counter,r5
	ldconst	0x3fff,r6
	and	r6,r5,r6
	cmpobne	0,r6,1f
	callx	x$readkeys		# now and then, so that keys stay queued for a while
1:	ld	counter,r5
	shro	8,r5,r6
	ldconst	0xfff,r7
	and	r7,r6,r6
	ldconst	VMEM,r7
	addo	r7,r6,r7
	stob	r5,(r7)
	ldconst	PORT_DAC,r7
	stob	r6,(r7)
	ret
)" +
    test::StubRoutines({"init_ports", "init_port", "start_parse_dir_filemem", "open_filemem",
                        "create_filemem", "change_parse_dir_filemem", "read_filemem",
                        "write_filemem", "read_dir_filemem", "readkeys"}) +
    R"(
	.data
	.align	2
name_in:
	.ascii	"IN      TXT"
name_out:
	.ascii	"OUT     TXT"
name_logs:
	.ascii	"LOGS       "
pattern_all:
	.ascii	"***********"
	.bss
	.align	2
	.globl	system_timer
system_timer:
	.space	4
	.globl	file_errnum
file_errnum:
	.space	4
	.globl	port1
port1:
	.space	32
	.globl	readkeys_ch
readkeys_ch:
	.space	4
port_ok:
	.space	4
in_handle:
	.space	4
out_handle:
	.space	4
counter:
	.space	4
buffer:
	.space	4
request:
	.space	48
entries:
	.space	88
)";

// A project folder: the firmware, its drive C and what it holds.
struct Project {
  fs::path dir;
  std::string options;  // the project line's options
};

struct Row {
  const char* why;
  bool demo;              // the bundled demo; else kBusyFirmware
  std::string options;    // project line options
  std::vector<int> keys;  // device codes queued before the first instruction
  uint64_t n, k;          // instructions in all, and where the state is taken
};

class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
      slave_ = ::ptsname(master_);
  }
  ~Pty() {
    if (master_ >= 0) ::close(master_);
  }
  const std::string& slave() const { return slave_; }

 private:
  int master_ = -1;
  std::string slave_;
};

constexpr uint32_t kVirtualTime = 10000;

// Runs the project in `dir` up to `max` instructions in a fresh emulator, from a state when
// one is given; returns the emulator after the run.
std::unique_ptr<Emulator> RunTo(const fs::path& dir, const Row& row, const std::string& com1,
                                uint64_t max, std::shared_ptr<const StateFile> state) {
  auto emu = std::make_unique<Emulator>();
  emu->base_folder = dir.string();
  emu->files.host.use_environment = false;
  emu->serial.use_environment = false;
  emu->serial.device_path[1] = com1;
  std::vector<std::string> words = {"korvane"};
  for (size_t at = 0; at < row.options.size();) {
    size_t end = row.options.find(' ', at);
    if (end == std::string::npos) end = row.options.size();
    words.push_back(row.options.substr(at, end - at));
    at = end + 1;
  }
  words.push_back(row.demo ? "demo" : "x");
  emu->SetArgs(words);
  emu->run.max_instructions = max;
  emu->run.virtual_time_instructions = kVirtualTime;
  emu->start_state = std::move(state);
  if (!emu->start_state)
    for (int code : row.keys) PushDeviceKey(*emu, code);
  EmuThreadMain(*emu);
  return emu;
}

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string SavedBytes(Emulator& emu, const fs::path& path) {
  std::string error;
  EXPECT_TRUE(SaveState(emu, path.string(), error)) << error;
  return test::ReadHostFile(path.string());
}

std::vector<uint8_t> Screen(Emulator& emu) {
  std::vector<uint8_t> picture(kPageWidth * kShownHeight);
  CopyShownPicture(emu, picture.data());
  return picture;
}

TEST(StateMatrix, ARunSavedAndLoadedAnywhereEndsAsTheUninterruptedRun) {
  const fs::path demo(KORVANE_DEMO_DIR);
  if (!fs::exists(demo / "demo.out")) GTEST_SKIP() << "the demo was not built: " << demo;
  test::FirmwareProject busy;
  busy.AddSource("busy.s", kBusyFirmware);
  ASSERT_TRUE(busy.Assemble());
  Pty pty;
  ASSERT_FALSE(pty.slave().empty()) << "no pseudo-terminal";

  std::vector<int> kDigits;  // twenty digit keys, more than the firmware takes by K
  for (int i = 0; i < 20; ++i) kDigits.push_back(0x30 + i % 10);
  // Device codes: F2 0xF1, F3 0xF0, F4 0xEF, ENTER 0xF9, digits from 0x30.
  const Row rows[] = {
      {"the demo writes a file (F2): its drives are set up",
       true,
       "-v1",
       {0xF1},
       40000000,
       20000000},
      {"the demo lists drive C (F3) and shows page B (F4)",
       true,
       "-v1",
       {0xF0, 0xEF, 0x34},
       30000000,
       12345679},
      {"no display", false, "-v0 -por1", kDigits, 3000000, 1500001},
      {"16 colours", false, "-v1 -por1", kDigits, 3000000, 1500001},
      {"monochrome", false, "-v2 -por1", kDigits, 3000000, 1234567},
      {"256 colours, packed", false, "-v3 -por1", kDigits, 3000000, 1500001},
      {"256 colours, packed, Pelta", false, "-v4 -por1", kDigits, 3000000, 999999},
  };
  const fs::path root = busy.dir();
  std::string in_text;
  for (int i = 0; i < 4000; ++i) in_text += static_cast<char>('A' + i % 26);
  int index = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    // Three copies of the project: the straight run, the run to K and, copied from the
    // latter's folder after it, the run that goes on from the state.
    const fs::path straight = root / ("s" + std::to_string(index));
    const fs::path first = root / ("f" + std::to_string(index));
    const fs::path second = root / ("c" + std::to_string(index));
    ++index;
    for (const fs::path& d : {straight, first}) {
      fs::create_directories(d / "drives" / "C" / "LOGS");
      const fs::path from = row.demo ? demo : fs::path(busy.dir());
      const std::string name = row.demo ? "demo" : "x";
      for (const char* ext : {".out", ".xcl"}) fs::copy_file(from / (name + ext), d / (name + ext));
      Write(d / (name + ".mem"), "");
      Write(d / "drives/C/IN.TXT", in_text);
      Write(d / "drives/C/LOGS/ONE.LOG", "1");
    }
    auto whole = RunTo(straight, row, pty.slave(), row.n, nullptr);
    auto part = RunTo(first, row, pty.slave(), row.k, nullptr);
    ASSERT_EQ(CurrentInstructionTotal(*part), row.k) << part->exit.message;
    const std::string state_path = (first / "mid.state").string();
    SavedBytes(*part, state_path);
    if (!row.demo) {
      EXPECT_GE(part->serial.handles[1], 0) << "COM1 is open when the state is taken";
      EXPECT_NE(part->keys.queue.count, 0u) << "keys are waiting when the state is taken";
    }
    part.reset();  // closes its files, as a process that ended
    fs::copy(first, second, fs::copy_options::recursive);

    auto state = std::make_shared<StateFile>();
    std::string error;
    ASSERT_TRUE(ReadStateFile((second / "mid.state").string(), *state, error)) << error;
    auto resumed = RunTo(second, row, pty.slave(), row.n, state);
    EXPECT_EQ(resumed->exit.message[0], '\0') << resumed->exit.message;
    EXPECT_EQ(CurrentInstructionTotal(*resumed), row.n);
    EXPECT_TRUE(SavedBytes(*whole, straight / "end.state") ==
                SavedBytes(*resumed, second / "end.state"))
        << "memory, registers, counters and devices";
    EXPECT_TRUE(Screen(*whole) == Screen(*resumed));
    for (const char* file : {"drives/C/OUT.TXT", "drives/C/DEMO.TXT"})
      EXPECT_EQ(test::ReadHostFile((straight / file).string()),
                test::ReadHostFile((second / file).string()))
          << file;
  }
}

}  // namespace
}  // namespace korvane
