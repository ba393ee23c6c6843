// Tests of the option phase: every option word, the option file, the project name and its
// limits, the project-line splitter, and how the thread ends on an unusable line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "driver/project_line.h"
#include "image/coff_builder.h"

namespace korvane::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

TEST(ParseOpt, EveryOptionWord) {
  struct Row {
    const char* word;
    bool is_option;
    std::function<bool(const Options&)> check;
  };
  const Options d;  // defaults
  const Row rows[] = {
      // Case does not matter.
      {"-V3", true, [](const Options& o) { return o.video == 3; }},
      // Data break kinds: lower-case r / w, anything else is both with the range right after.
      {"-bdw100:1FF", true,
       [](const Options& o) { return o.bd_kind == 1 && o.bd_start == 0x100 && o.bd_end == 0x1FF; }},
      {"-bdr10:20", true,
       [](const Options& o) { return o.bd_kind == 0 && o.bd_start == 0x10 && o.bd_end == 0x20; }},
      {"-bd100:1FF", true,
       [](const Options& o) { return o.bd_kind == 2 && o.bd_start == 0x100 && o.bd_end == 0x1FF; }},
      {"-bc10:2f", true, [](const Options& o) { return o.bc_start == 0x10 && o.bc_end == 0x2F; }},
      {"-bc10", true, [&](const Options& o) { return o.bc_start == d.bc_start; }},  // half a range
      // Port lists: digits 0-4 in order; anything else unmaps this port and the rest.
      {"-por20", true,
       [](const Options& o) {
         return o.com_map[0] == 2 && o.com_map[1] == 0 && o.com_map[3] == 0;
       }},
      {"-porx1", true, [](const Options& o) { return o.com_map[0] == 0 && o.com_map[1] == 0; }},
      {"-por152", true,
       [](const Options& o) {
         return o.com_map[0] == 1 && o.com_map[1] == 0 && o.com_map[2] == 0;
       }},
      {"-sp-", true, [](const Options& o) { return !o.suspend; }},
      {"-spx", true, [](const Options& o) { return o.suspend; }},
      // -dr exactly, then -drv as a prefix.
      {"-dr", true,
       [](const Options& o) { return o.dr && std::string(o.drive_list) == "ABCD??????"; }},
      {"-drvCDEF", true,
       [](const Options& o) { return !o.dr && std::string(o.drive_list) == "CDEF"; }},
      {"-drvABCDEFGHIJKLMNO", true,
       [](const Options& o) { return std::string(o.drive_list) == "ABCDEFGHIJKLMNO"; }},
      // -ic as a prefix before the exact -i.
      {"-ic5", true, [](const Options& o) { return o.ic == 5 && !o.init_key; }},
      {"-i", true, [](const Options& o) { return o.init_key && o.ic == 0; }},
      {"-ix", false, nullptr},
      // -sk before -sp.
      {"-sk5", true, [](const Options& o) { return o.soft_keys == 5 && o.suspend; }},
      {"-mo-16", true, [](const Options& o) { return o.mo == -16; }},
      // Values that do not read leave the variable as it was; the word is still an option.
      {"-moabc", true, [](const Options& o) { return o.mo == 0; }},
      {"-mo99999999999", true, [](const Options& o) { return o.mo == 0; }},  // not 32-bit
      {"-v9", true, [](const Options& o) { return o.video == 1; }},          // no such display
      {"-v", true, [](const Options& o) { return o.video == 1; }},
      {"-dk", true, [](const Options& o) { return o.dk; }},
      {"-wait", true, [](const Options& o) { return o.wait; }},  // -w is a prefix
      // Exact options do not take a tail.
      {"-dkx", false, nullptr},
      {"demo", false, nullptr},
      {"-x", false, nullptr},
      // -xi is exact: it must not grow a tail or swallow other words.
      {"-XI", true, [](const Options& o) { return o.xi; }},
      {"-xii", false, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.word);
    Emulator emu;
    emu.log.SetCapture(true);
    EXPECT_EQ(ParseOpt(emu, row.word), row.is_option);
    if (row.check) {
      EXPECT_TRUE(row.check(emu.opt));
    }
    EXPECT_EQ(emu.log.captured(), std::string("ParseOpt(") + row.word + ")\n");
  }
}

TEST(ParseOpt, DriveListTooLongForItsBufferIsRefused) {
  Emulator emu;
  EXPECT_THROW(ParseOpt(emu, "-drvABCDEFGHIJKLMNOP"), EmuExitSignal);  // 16 letters
  EXPECT_EQ(std::string(emu.exit.message),
            "EMUOPT: drive list longer than 15 characters - -drvABCDEFGHIJKLMNOP");
  EXPECT_STREQ(emu.opt.drive_list, "ABCD??????");
}

struct Outcome {
  bool ok = false;
  bool ended = false;  // MsgExit
};

Outcome Read(Emulator& emu, const std::vector<std::string>& words) {
  emu.log.SetCapture(true);
  emu.SetArgs(words);
  Outcome out;
  try {
    out.ok = ReadOptions(emu, static_cast<int>(emu.argv.size()), emu.argv.data());
  } catch (const EmuExitSignal&) {
    out.ended = true;
  }
  return out;
}

TEST(ReadOptions, ProjectNameAndDerivedNames) {
  ProjectDir dir;
  Emulator emu;
  Outcome o = Read(emu, {"prog", "-v3", dir.Path("demo") + "\n"});  // the line end stays on
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(emu.opt.video, 3);
  EXPECT_EQ(std::string(emu.opt.project_name), dir.Path("demo.prj"));
  EXPECT_EQ(ProjectFileName(emu, "out"), dir.Path("demo.out"));
  EXPECT_EQ(ProjectFileName(emu, "xcl"), dir.Path("demo.xcl"));
  EXPECT_EQ(ProjectFileName(emu, "mem"), dir.Path("demo.mem"));
  EXPECT_THAT(emu.log.captured(), HasSubstr("argv[0] \"prog\"\nargv[1] \"-v3\"\nParseOpt(-v3)\n"));
  EXPECT_THAT(emu.log.captured(), StartsWith("\nEMUOPT: argc=3 argv="));
}

TEST(ReadOptions, OptionFileComesFirstAndTheCommandLineOverrides) {
  ProjectDir dir;
  // Only the first line counts; tabs and blank runs separate; the first non-option stops it.
  dir.Write("demo.opt", "  -v2\t-dk  -mo8 stop -dr\r\n-w\n");
  Emulator emu;
  ASSERT_TRUE(Read(emu, {"prog", "-v3", dir.Path("demo")}).ok);
  EXPECT_EQ(emu.opt.video, 3);
  EXPECT_TRUE(emu.opt.dk);
  EXPECT_EQ(emu.opt.mo, 8);
  EXPECT_FALSE(emu.opt.dr);
  EXPECT_FALSE(emu.opt.wait);
  EXPECT_THAT(emu.log.captured(), HasSubstr("OptFile Line=\"  -v2\t-dk  -mo8 stop -dr\"\n"
                                            "ParseOpt(-v2)\nParseOpt(-dk)\nParseOpt(-mo8)\n"
                                            "ParseOpt(stop)\nargv[0]"));
}

TEST(ReadOptions, FolderNamedLikeTheOptionFileIsNoOptionFile) {
  ProjectDir dir;
  std::filesystem::create_directory(dir.Path("demo.opt"));
  Emulator emu;
  ASSERT_TRUE(Read(emu, {"prog", dir.Path("demo")}).ok);
  EXPECT_THAT(emu.log.captured(), Not(HasSubstr("OptFile Line=")));
}

TEST(ReadOptions, NameWithExtensionIsItsOwnOptionFile) {
  ProjectDir dir;
  dir.Write("demo.lst", "-v0\n");
  Emulator emu;
  ASSERT_TRUE(Read(emu, {"prog", dir.Path("demo.lst")}).ok);
  EXPECT_EQ(emu.opt.video, 0);
  EXPECT_EQ(std::string(emu.opt.project_name), dir.Path("demo.lst"));
  EXPECT_EQ(ProjectFileName(emu, "out"), dir.Path("demo.out"));
}

TEST(ReadOptions, UnusableLines) {
  struct Row {
    const char* why;
    std::vector<std::string> words;
    bool ok, ended;
  };
  const std::string long_name(64, 'n');  // 64 + ".prj" does not fit 67 characters
  const Row rows[] = {
      {"only the program word: the usage text ends the thread", {"prog"}, false, true},
      {"every word an option: no project name", {"prog", "-v3", "-dk"}, false, false},
      {"a non-option before the last word", {"prog", "-v3", "junk", "demo"}, false, false},
      {"a project name too long for its 68 bytes", {"prog", long_name}, false, true},
      {"a long unknown word before the last is a bad option, not a long name",
       {"prog", long_name, "demo"}, false, false},
      {"a name of 63 characters just fits with .prj", {"prog", std::string(63, 'n')}, true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    Emulator emu;
    Outcome o = Read(emu, row.words);
    EXPECT_EQ(o.ok, row.ok);
    EXPECT_EQ(o.ended, row.ended);
  }
}

TEST(ProjectLine, SplitsTheFirstLineAsTheWindowDoes) {
  struct Row {
    const char* why;
    std::string text;
    std::vector<std::string> words;
  };
  const std::string line200 = "prog " + std::string(200, 'x');
  const Row rows[] = {
      {"the line end stays on the last word",
       "prog -v3 demo\nsecond line\n",
       {"prog", "-v3", "demo\n"}},
      {"runs of blanks separate like one; tabs do not",
       "  prog   -v3\tdemo  x\n",
       {"prog", "-v3\tdemo", "x\n"}},
      {"a blank before the line end leaves no word of its own", "prog demo \r\n", {"prog", "demo"}},
      {"a carriage return before the line feed is dropped as a text-mode read drops it",
       "prog demo\r\nnext\n",
       {"prog", "demo\n"}},
      {"a carriage return elsewhere stays", "prog a\rb\n", {"prog", "a\rb\n"}},
      {"the dropped carriage return does not count towards the 127 characters",
       std::string(126, 'x') + "\r\n",
       {std::string(126, 'x') + "\n"}},
      {"at most ten words",
       "1 2 3 4 5 6 7 8 9 10 11 12\n",
       {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}},
      {"at most 127 characters", line200, {"prog", std::string(122, 'x')}},
      {"an empty file", "", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(SplitProjectLine(row.text), row.words);
  }
}

TEST(EmuThread, UnusableLineEndsWithTheUsageText) {
  {
    SCOPED_TRACE("no word beyond the program word: MsgExit with the usage text");
    Emulator emu;
    emu.log.SetCapture(true);
    emu.SetArgs({"prog"});
    EmuThreadMain(emu);
    EXPECT_EQ(emu.exit.finished.load(), 1);
    std::string message = emu.exit.message;
    EXPECT_THAT(message,
                StartsWith("\nUSAGE> Korvane [options] project\n\n\tThe options are ...\n"));
    EXPECT_EQ(message.size(), static_cast<size_t>(kExitMessageSize - 1));  // cut to fit
    EXPECT_THAT(emu.log.captured(),
                HasSubstr(std::string("MsgExit: ") + UsageText() + ", IP=00000000\n"));
  }
  {
    SCOPED_TRACE("an unknown word before the last: EmuAbort logs the whole usage text");
    Emulator emu;
    emu.log.SetCapture(true);
    emu.SetArgs({"prog", "-zz", "demo"});
    EmuThreadMain(emu);
    EXPECT_EQ(emu.exit.finished.load(), 1);
    EXPECT_THAT(emu.log.captured(), HasSubstr(std::string("ParseOpt(-zz)\n") + UsageText() + "\n"));
    EXPECT_THAT(std::string(UsageText()), testing::EndsWith("\t-w\t\t= wait for key before exit\n"
                                                            "\t-skN\t\t= number of softkeys\n"));
  }
}

TEST(EmuThread, FailedPhaseNamesItself) {
  ProjectDir dir;  // no x.xcl: the identifier phase ends the run with the file's name
  Emulator emu;
  emu.log.SetCapture(true);
  emu.SetArgs({"prog", dir.Path("x")});
  EmuThreadMain(emu);
  EXPECT_EQ(emu.exit.finished.load(), 1);
  EXPECT_EQ(std::string(emu.exit.message), "EMUIDE: exclude file not found - " + dir.Path("x.xcl"));
  EXPECT_THAT(emu.log.captured(), HasSubstr("MsgExit: EMUIDE: exclude file not found -  " +
                                            dir.Path("x.xcl") + ", IP=00000000\n"));
}

}  // namespace
}  // namespace korvane::test
