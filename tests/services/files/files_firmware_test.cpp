// End-to-end test of the file services: a firmware that makes a folder, creates, writes,
// reads back and lists a file on drive C runs under korvane-run with KORVANE_DRIVE_C set.
#include <sys/stat.h>
#include <time.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "support/firmware_project.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

// Uses all three name families, so the run also shows they reach the same routines.
std::string FilesFirmware() {
  return R"(
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

)" + test::StubRoutines({"start_parse_dir_filemem", "start_parse_dir_filedsk",
                            "make_dir_filemem", "create_filemem", "write_filemem",
                            "close_filemem", "change_parse_dir_filedsk",
                            "change_parse_dir_filemem", "open_fileport", "readline_fileport",
                            "readline_filedsk", "read_dir_filemem", "change_dir_filemem",
                            "string_dir_filemem"}) +
         R"(
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
}

TEST(FilesFirmware, CreatesWritesReadsBackAndListsUnderTheRunner) {
  test::FirmwareProject p;
  fs::create_directories(p.Path("c"));
  p.AddSource("files.s", FilesFirmware());
  ASSERT_TRUE(p.Assemble());

  // The drive comes from the child's environment only.
  test::ChildEnv env{{"KORVANE_DRIVE_"}, {"KORVANE_DRIVE_C=" + p.Path("c")}};
  test::ToolRun r = p.Run({"--max-instructions", "100000", "--timeout-ms", "60000",
                           "--dump", "res_create:48", "--dump", "cwd:8", "--dump", "line1:8",
                           "--dump", "line2:8", "--dump", "entries:44",
                           "--", "korvane", p.ProjectPath()},
                          env);
  SCOPED_TRACE(r.All());
  EXPECT_EQ(r.status, 3) << "stopped by the instruction limit";

  std::vector<uint8_t> res = r.Dump("res_create");
  ASSERT_EQ(res.size(), 48u);
  // The result words in the order the firmware declares them, from res_create on.
  struct Row {
    uint32_t want;
    const char* why;
  };
  const Row rows[] = {
      {1, "create"},
      {0, "first slot"},
      {14, "bytes written"},
      {1, "open through another case and family"},
      {14, "size"},
      {5, "first line"},
      {5, "second line"},
      {14, "position after both lines and their CR LF"},
      {1, "one plain file listed"},
      {1, "string_dir"},
      {0, "file_errnum"},
      {1, "the firmware reached its end"},
  };
  for (size_t i = 0; i < std::size(rows); ++i)
    EXPECT_EQ(test::WordAt(res, 4 * i), rows[i].want) << rows[i].why;
  std::vector<uint8_t> line1 = r.Dump("line1"), line2 = r.Dump("line2");
  EXPECT_EQ(std::string(line1.begin(), line1.end()), std::string("HELLO\0\0\0", 8));
  EXPECT_EQ(std::string(line2.begin(), line2.end()), std::string("WORLD\0\0\0", 8));
  std::vector<uint8_t> cwd = r.Dump("cwd");
  EXPECT_EQ(std::string(cwd.begin(), cwd.end()), std::string("C:\\Logs\0", 8));
  std::vector<uint8_t> entry = r.Dump("entries");
  ASSERT_EQ(entry.size(), 44u);
  EXPECT_EQ(std::string(entry.begin(), entry.begin() + 11), "Data    txt");
  EXPECT_EQ(test::WordAt(entry, 40), 14u);
  EXPECT_EQ(test::WordAt(entry, 28), 20514u);

  // On the host: the folder and file as the firmware named them, stamped in local time.
  fs::path file = p.Path("c/Logs/Data.txt");
  EXPECT_EQ(test::ReadHostFile(file), "HELLO\r\nWORLD\r\n");
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
}

}  // namespace
}  // namespace korvane
