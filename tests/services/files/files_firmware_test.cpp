// End-to-end test of the file services: a firmware that makes a folder, creates, writes,
// reads back and lists a file on drive C runs under korvane-run with KORVANE_DRIVE_C set.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "as/assembler.h"

extern char** environ;

namespace korvane {
namespace {

namespace fs = std::filesystem;

// Uses all three name families, so the run also shows they reach the same routines.
constexpr const char* kFilesFirmware = R"(
	.text
	.globl	_start
_start:
	mov	0,r4
	st	r4,file_errnum
	lda	request,r3
	ldconst	0x43,r4			# drive C
	st	r4,4(r3)
	mov	r3,g7
	callx	x$start_parse_dir_filemem
	lda	name_logs,r4
	st	r4,8(r3)
	mov	r3,g7
	callx	x$make_dir_filemem	# parse path C:\Logs
	lda	name_data,r4
	st	r4,8(r3)
	mov	r3,g7
	callx	x$create_filemem
	st	g9,res_create
	ld	44(r3),r4
	st	r4,res_handle
	lda	text,r4
	st	r4,8(r3)
	ldconst	text_end-text,r4
	st	r4,12(r3)
	mov	r3,g7
	callx	x$write_filemem
	ld	12(r3),r4
	st	r4,res_written
	ldconst	20514,r4		# 2020-01-02
	st	r4,28(r3)
	ldconst	21135,r4		# 10:20:30
	st	r4,32(r3)
	mov	r3,g7
	callx	x$close_filemem

	mov	r3,g7
	callx	x$start_parse_dir_filedsk
	lda	name_logs_upper,r4
	st	r4,8(r3)
	mov	r3,g7
	callx	x$change_parse_dir_filedsk
	lda	name_data_upper,r4
	st	r4,8(r3)
	mov	r3,g7
	callx	x$open_fileport
	st	g9,res_open
	ld	20(r3),r4
	st	r4,res_size
	lda	line1,r4
	st	r4,8(r3)
	mov	31,r4
	st	r4,12(r3)
	mov	r3,g7
	callx	x$readline_fileport
	ld	12(r3),r4
	st	r4,res_len1
	lda	line2,r4
	st	r4,8(r3)
	mov	31,r4
	st	r4,12(r3)
	mov	r3,g7
	callx	x$readline_filedsk
	ld	12(r3),r4
	st	r4,res_len2
	ld	24(r3),r4
	st	r4,res_position
	mov	r3,g7
	callx	x$close_filemem

	mov	r3,g7
	callx	x$start_parse_dir_filemem
	lda	name_logs,r4
	st	r4,8(r3)
	mov	r3,g7
	callx	x$change_parse_dir_filemem
	lda	entries,r4
	st	r4,8(r3)
	mov	8,r4
	st	r4,12(r3)
	lda	pattern_all,r4
	st	r4,36(r3)
	mov	0,r4
	stob	r4,40(r3)		# plain files
	mov	r3,g7
	callx	x$read_dir_filemem
	ld	12(r3),r4
	st	r4,res_count

	mov	r3,g7
	callx	x$start_parse_dir_filemem
	lda	name_logs,r4
	st	r4,8(r3)
	mov	r3,g7
	callx	x$change_dir_filemem
	mov	r3,g7
	callx	x$string_dir_filemem
	st	g9,res_string
	ld	(g6),r4
	st	r4,cwd
	ld	4(g6),r4
	st	r4,cwd+4
	ld	file_errnum,r4
	st	r4,res_errnum
	mov	1,r4
	st	r4,done
spin:
	b	spin

	.globl	x$start_parse_dir_filemem
x$start_parse_dir_filemem:
	ret
	.globl	x$start_parse_dir_filedsk
x$start_parse_dir_filedsk:
	ret
	.globl	x$make_dir_filemem
x$make_dir_filemem:
	ret
	.globl	x$create_filemem
x$create_filemem:
	ret
	.globl	x$write_filemem
x$write_filemem:
	ret
	.globl	x$close_filemem
x$close_filemem:
	ret
	.globl	x$change_parse_dir_filedsk
x$change_parse_dir_filedsk:
	ret
	.globl	x$change_parse_dir_filemem
x$change_parse_dir_filemem:
	ret
	.globl	x$open_fileport
x$open_fileport:
	ret
	.globl	x$readline_fileport
x$readline_fileport:
	ret
	.globl	x$readline_filedsk
x$readline_filedsk:
	ret
	.globl	x$read_dir_filemem
x$read_dir_filemem:
	ret
	.globl	x$change_dir_filemem
x$change_dir_filemem:
	ret
	.globl	x$string_dir_filemem
x$string_dir_filemem:
	ret

	.data
	.align	2
res_create:	.word	7
res_handle:	.word	7
res_written:	.word	7
res_open:	.word	7
res_size:	.word	7
res_len1:	.word	7
res_len2:	.word	7
res_position:	.word	7
res_count:	.word	7
res_string:	.word	7
res_errnum:	.word	7
done:		.word	0
cwd:		.word	0,0
line1:		.space	32
line2:		.space	32
entries:	.space	352
request:	.space	48
name_logs:
	.ascii	"Logs       "
name_logs_upper:
	.ascii	"LOGS       "
name_data:
	.ascii	"Data    txt"
name_data_upper:
	.ascii	"DATA    TXT"
pattern_all:
	.ascii	"***********"
text:
	.ascii	"HELLO"
	.byte	13,10
	.ascii	"WORLD"
	.byte	13,10
text_end:

	.bss
	.globl	file_errnum
	.align	2
file_errnum:
	.space	4
)";

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The bytes of a "NAME: b0 b1 ..." dump line.
std::vector<uint8_t> DumpBytes(const std::string& out, const std::string& name) {
  std::vector<uint8_t> bytes;
  size_t at = out.find(name + ": ");
  if (at == std::string::npos) return bytes;
  size_t start = at + name.size() + 2;
  std::istringstream line(out.substr(start, out.find('\n', at) - start));
  std::string hex;
  while (line >> hex) bytes.push_back(static_cast<uint8_t>(std::stoul(hex, nullptr, 16)));
  return bytes;
}

uint32_t Word(const std::vector<uint8_t>& b, size_t at) {
  if (b.size() < at + 4) return 0xDEADBEEF;
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

TEST(FilesFirmware, CreatesWritesReadsBackAndListsUnderTheRunner) {
  char tmpl[] = "/tmp/korvane_files_fw_XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  fs::path dir = tmpl;
  fs::create_directories(dir / "c");

  as::Executable exe = as::AssembleAndLink({{"files.s", kFilesFirmware}}, as::LinkOptions{});
  ASSERT_TRUE(exe.ok()) << exe.errors.front().ToString();
  std::ofstream(dir / "x.out", std::ios::binary)
      .write(reinterpret_cast<const char*>(exe.file.data()),
             static_cast<std::streamsize>(exe.file.size()));
  std::ofstream(dir / "x.xcl");
  std::ofstream(dir / "x.mem");

  // The drive comes from the child's environment only.
  std::vector<std::string> env_text;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "KORVANE_DRIVE_", 14) != 0) env_text.push_back(*e);
  env_text.push_back("KORVANE_DRIVE_C=" + (dir / "c").string());
  std::vector<char*> envp;
  for (auto& s : env_text) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = {
      KORVANE_RUN_PATH, "--log", (dir / "aaa.txt").string(),
      "--max-instructions", "100000", "--timeout-ms", "60000",
      "--dump", "res_create:48", "--dump", "cwd:8", "--dump", "line1:8", "--dump", "line2:8",
      "--dump", "entries:44",
      "--", "korvane", (dir / "x").string()};
  std::vector<char*> argv;
  for (auto& s : args) argv.push_back(s.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::string out_path = (dir / "stdout.txt").string(), err_path = (dir / "stderr.txt").string();
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ASSERT_EQ(rc, 0) << "cannot start " << argv[0] << ": " << std::strerror(rc);
  int status = 0;
  ::waitpid(pid, &status, 0);
  std::string out = ReadText(out_path);
  SCOPED_TRACE(out + ReadText(err_path) + ReadText(dir / "aaa.txt"));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << "stopped by the instruction limit";

  std::vector<uint8_t> res = DumpBytes(out, "res_create");
  ASSERT_EQ(res.size(), 48u);
  EXPECT_EQ(Word(res, 0), 1u) << "create";
  EXPECT_EQ(Word(res, 4), 0u) << "first slot";
  EXPECT_EQ(Word(res, 8), 14u) << "bytes written";
  EXPECT_EQ(Word(res, 12), 1u) << "open through another case and family";
  EXPECT_EQ(Word(res, 16), 14u) << "size";
  EXPECT_EQ(Word(res, 20), 5u) << "first line";
  EXPECT_EQ(Word(res, 24), 5u) << "second line";
  EXPECT_EQ(Word(res, 28), 14u) << "position after both lines and their CR LF";
  EXPECT_EQ(Word(res, 32), 1u) << "one plain file listed";
  EXPECT_EQ(Word(res, 36), 1u) << "string_dir";
  EXPECT_EQ(Word(res, 40), 0u) << "file_errnum";
  EXPECT_EQ(Word(res, 44), 1u) << "the firmware reached its end";
  std::vector<uint8_t> line1 = DumpBytes(out, "line1"), line2 = DumpBytes(out, "line2");
  EXPECT_EQ(std::string(line1.begin(), line1.end()), std::string("HELLO\0\0\0", 8));
  EXPECT_EQ(std::string(line2.begin(), line2.end()), std::string("WORLD\0\0\0", 8));
  std::vector<uint8_t> cwd = DumpBytes(out, "cwd");
  EXPECT_EQ(std::string(cwd.begin(), cwd.end()), std::string("C:\\Logs\0", 8));
  std::vector<uint8_t> entry = DumpBytes(out, "entries");
  ASSERT_EQ(entry.size(), 44u);
  EXPECT_EQ(std::string(entry.begin(), entry.begin() + 11), "Data    txt");
  EXPECT_EQ(Word(entry, 40), 14u);
  EXPECT_EQ(Word(entry, 28), 20514u);

  // On the host: the folder and file as the firmware named them, stamped in local time.
  fs::path file = dir / "c" / "Logs" / "Data.txt";
  EXPECT_EQ(ReadText(file), "HELLO\r\nWORLD\r\n");
  struct tm tm {};
  tm.tm_year = 120;
  tm.tm_mon = 0;
  tm.tm_mday = 2;
  tm.tm_hour = 10;
  tm.tm_min = 20;
  tm.tm_sec = 30;
  tm.tm_isdst = -1;
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, ::mktime(&tm));

  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace korvane
