// korvane-run's debugger: console scripts and their transcripts, the break options and exit
// status 4, the instruction trace and the history after a fatal fault, on a firmware with
// nested calls across two modules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/firmware_project.h"

// The console itself, compiled into this test program (runner_test.cpp includes the runner).
#include "../../tools/run/debug_console.cpp"
#include "../../tools/run/source_console.cpp"

namespace korvane::test {
namespace {

using ::testing::HasSubstr;

// _start calls outer twice; outer (module lib.s) calls inner, which stores g0 into counter.
struct NestedFirmware : FirmwareProject {
  NestedFirmware() {
    AddSource("x.s",
              "\t.text\n\t.globl _start\n_start:\n\tmov 0, g0\n\tcall outer\n\tcall outer\n"
              "snippet_end:\n\tb snippet_end\n");
    AddSource("lib.s",
              "\t.text\n\t.globl outer\nouter:\n\taddo g0, 1, g0\n\tcall inner\n\tret\n"
              "\t.globl inner\ninner:\n\tst g0, counter\n\tret\n"
              "\t.data\n\t.globl counter\ncounter:\n\t.word 0\n");
    EXPECT_TRUE(Assemble());
  }
  ToolRun Debug(const std::string& script, std::vector<std::string> args = {}) {
    WriteFile("s.txt", script);
    args.insert(args.begin(), {"--debug-script", Path("s.txt")});
    for (const char* w : {"--", "korvane", "-v0"}) args.push_back(w);
    args.push_back(ProjectPath());
    return Run(args);
  }
};

TEST(DebugConsole, ScriptTranscript) {
  NestedFirmware fw;
  ToolRun r = fw.Debug(
      "break inner\nwatch counter\ncontinue\nbacktrace\ncontinue\ninfo breakpoints\n"
      "x/2w counter\nset $g0 = 41\nset counter = 7\nprint counter\ndelete 2\nfinish\nnext\n"
      "tbreak snippet_end\ndelete 1\ncontinue\nprint $g0\nquit\n");
  EXPECT_EQ(r.status, 4) << r.All();
  EXPECT_EQ(r.out,
            R"(Stopped at the start, 0x00010000 x.s:_start+0x0
=> 0x00010000 x.s:_start+0x0  mov      0,g0
(kdb) break inner
Breakpoint 1 at 0x0001001c lib.s:inner+0x0
(kdb) watch counter
Watchpoint 2 at 0x00010028-0x0001002b counter+0x0
(kdb) continue
Breakpoint 1 at 0x0001001c lib.s:inner+0x0
=> 0x0001001c lib.s:inner+0x0  st       g0,10028 <counter>
(kdb) backtrace
#0   0x0001001c lib.s:inner+0x0
#1   0x00010018 lib.s:outer+0x8
#2   0x00010008 x.s:_start+0x8
(kdb) continue
Watchpoint 2: write by 0x0001001c lib.s:inner+0x0, address 0x00010028, size 4, old 0x00000000, new 0x00000001; now at 0x00010024 lib.s:inner+0x8
=> 0x00010024 lib.s:inner+0x8  ret
(kdb) info breakpoints
Num  Type    Enb  Range                  Hits  Where
1    break   y    0x0001001c             1     inner
2    watch   y    0x00010028-0x0001002b  1     counter
(kdb) x/2w counter
0x00010028 <counter+0x0>: 0x00000001 0x00000000
(kdb) set $g0 = 41
(kdb) set counter = 7
(kdb) print counter
counter = 0x00000007 (7) at 0x00010028
(kdb) delete 2
(kdb) finish
Returned to 0x00010018 lib.s:outer+0x8
=> 0x00010018 lib.s:outer+0x8  ret
(kdb) next
Stepped to 0x00010008 x.s:_start+0x8
=> 0x00010008 x.s:_start+0x8  call     10010 <outer>
(kdb) tbreak snippet_end
Temporary breakpoint 3 at 0x0001000c x.s:snippet_end+0x0
(kdb) delete 1
(kdb) continue
Breakpoint 3 at 0x0001000c x.s:snippet_end+0x0
=> 0x0001000c x.s:snippet_end+0x0  b        1000c <snippet_end>
(kdb) print $g0
$g0 = 0x0000002a (42)
(kdb) quit
)");
  // The log holds the full stop report: state report, instruction, backtrace, history.
  for (const char* part : {"DEBUG STOP: Breakpoint 1 at 0x0001001c lib.s:inner+0x0\nIP=0001001C",
                           "Backtrace:\n#0   0x0001001c lib.s:inner+0x0",
                           "History (last 4 instructions):\n         0 0x00010000 x.s:_start+0x0"})
    EXPECT_THAT(r.log, HasSubstr(part));
}

TEST(DebugConsole, EveryBadInputGetsOneLineAndTheRunGoesOn) {
  NestedFirmware fw;
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"frobnicate", "error: unknown command 'frobnicate' (help lists the commands)"},
      {"break nosuch", "error: no symbol or hex address 'nosuch'"},
      {"break inner if g99 == 1", "error: no register 'g99'"},
      {"break inner hit", "error: a hit count must follow 'hit'"},
      {"watch fffffff0", "error: address 0xfffffff0 is outside guest memory"},
      {"watch counter/0", "error: a length from 1 to 1048576 must follow '/'"},
      {"rwatch", "error: a location to watch is needed"},
      {"x/2w 0xfffffff0", "error: address 0xfffffff0 is outside guest memory"},
      {"x/99999999w counter", "error: a count from 1 to 4096 is needed, not '99999999'"},
      {"x/3q counter", "error: x/N takes the unit x, w (words) or b (bytes), not 'q'"},
      {"step 0", "error: a count from 1 to 1099511627776 is needed, not '0'"},
      {"next -1", "error: a count from 1 to 1099511627776 is needed, not '-1'"},
      {"until", "error: an address or symbol is missing"},
      {"disassemble inner 99999", "error: a count from 1 to 1000 is needed, not '99999'"},
      {"delete 99", "error: no breakpoint 99"},
      {"enable", "error: a breakpoint number is needed"},
      {"set $g99 = 1", "error: no register '$g99'"},
      {"set $ip = 3", "error: ip must be a multiple of 4 inside the text region"},
      {"set counter = many", "error: set $REGISTER = NUMBER or set ADDRESS = NUMBER"},
      {"print", "error: print SYMBOL, ADDRESS or $REGISTER"},
      {"info nothing", "error: info registers, breakpoints, line, symbol, functions or variables"},
      {"list nosuch.s:3", "error: no symbol or hex address 'nosuch.s:3'"},
      {"info functions (", "error: '(' is no regular expression"},
      {"info symbol", "error: info symbol ADDRESS"},
      {std::string(5000, 'x'), "error: line too long (at most 4096 characters)"},
  };
  std::string script;
  for (const auto& row : rows) script += row.first + "\n";
  ToolRun r = fw.Debug(script + "continue\n", {"--max-instructions", "1000"});
  EXPECT_EQ(r.status, 3) << "the run went on to its limit\n" << r.out;
  for (const auto& row : rows) {
    const std::string shown = row.first.size() > 4096 ? "(line too long)" : row.first;
    EXPECT_THAT(r.out, HasSubstr("(kdb) " + shown + "\n" + row.second + "\n")) << row.first;
  }
}

TEST(DebugConsole, BreakOptionsEndTheRunWithStatus4) {
  NestedFirmware fw;
  const uint32_t counter = fw.Sym("counter");
  char bd[64];
  std::snprintf(bd, sizeof bd, "%X:%X", counter, counter + 3);
  struct Row {
    std::string option;
    std::string stop;  // what standard error says
  };
  const std::vector<Row> rows = {
      {"-bc1001C:1001F", "Breakpoint 1 at 0x0001001c lib.s:inner+0x0"},
      {"-bc10000:1FFFF", "Breakpoint 1 at 0x00010000 x.s:_start+0x0"},
      {std::string("-bdw") + bd, "Watchpoint 1: write by 0x0001001c lib.s:inner+0x0"},
      {std::string("-bd") + bd, "Watchpoint 1: write by 0x0001001c"},
      {"-bo0A:0A", "Opcode break 1 at 0x00010024 lib.s:inner+0x8"},  // ret
      {"-ic5", "Instruction count 5 reached at 0x00010024 lib.s:inner+0x8"},
  };
  for (const Row& row : rows) {
    ToolRun r = fw.Run(
        {"--max-instructions", "1000", "--", "korvane", "-v0", row.option, fw.ProjectPath()});
    EXPECT_EQ(r.status, 4) << row.option << "\n" << r.All();
    EXPECT_THAT(r.err, HasSubstr("korvane-run: " + row.stop)) << row.option;
    EXPECT_THAT(r.log, HasSubstr("Backtrace:\n#0 ")) << row.option;
  }
  // A read watch on a word nobody reads never stops: the limit ends the run.
  ToolRun r = fw.Run({"--max-instructions", "1000", "--", "korvane", "-v0",
                      std::string("-bdr") + bd, fw.ProjectPath()});
  EXPECT_EQ(r.status, 3) << r.All();
}

TEST(DebugConsole, TraceLinesFromASymbolUpToTheLimit) {
  NestedFirmware fw;
  ToolRun r = fw.Run({"--trace", fw.Path("trace.txt"), "--trace-from", "outer", "--trace-limit",
                      "4", "--max-instructions", "1000", "--", "korvane", "-v0", fw.ProjectPath()});
  EXPECT_EQ(r.status, 3) << r.All();
  EXPECT_EQ(fw.ReadFile("trace.txt"),
            "2 0x00010010 lib.s:outer+0x0  addo     g0,1,g0  ; g0=00000001\n"
            "3 0x00010014 lib.s:outer+0x4  call     1001c <inner>  ; pfp=0000f040 sp=0000f0c0 "
            "fp=0000f080\n"
            "4 0x0001001c lib.s:inner+0x0  st       g0,10028 <counter>\n"
            "5 0x00010024 lib.s:inner+0x8  ret  ; pfp=0000f000 sp=0000f080 rip=00010018 "
            "fp=0000f040\n"
            "trace limit of 4 lines reached\n");
  ToolRun bad = fw.Run({"--trace", fw.Path("t2.txt"), "--trace-from", "nosuch", "--", "korvane",
                        "-v0", fw.ProjectPath()});
  EXPECT_EQ(bad.status, 1);
  EXPECT_THAT(bad.err, HasSubstr("trace start not found: no symbol or hex address 'nosuch'"));
}

TEST(DebugConsole, HistoryFollowsAFatalFault) {
  FirmwareProject fw;
  fw.AddSnippet("\tmov 5, g0\n\tcall f\n\tb snippet_end\nf:\n\taddo g0, 1, g0\n\t.word 0\n");
  ASSERT_TRUE(fw.Assemble());
  ToolRun r = fw.Run({"--history", "3", "--", "korvane", "-v0", fw.ProjectPath()});
  EXPECT_EQ(r.status, 1) << r.All();
  EXPECT_THAT(r.log, HasSubstr("MsgExit:  Error forced exit , IP=00010010\n"
                               "History (last 3 instructions):\n"
                               "         1 0x00010004 x.s:_start+0x4  call     1000c <f>\n"
                               "         2 0x0001000c x.s:f+0x0  addo     g0,1,g0\n"
                               "         3 0x00010010 x.s:f+0x4  .word"));
}

// A source-level session on a program assembled with line numbers, its source beside the
// project: a break by FILE:LINE, steps by line into, over and out of a call, the listing.
TEST(DebugConsole, SourceLevelSession) {
  const std::string source =
      "\t.text\n\t.globl _start\n_start:\n\tmov 2,g0\n\tcall square\n\tcall square\n"
      "\tmov g0,g1\ndone:\tb done\n\n# square: g0 = g0 * g0\nsquare:\n\tmulo g0,g0,g1\n"
      "\tmov g1,g0\n\tret\n";
  FirmwareProject fw;
  fw.AddSource("file.s", source);
  as::LinkOptions link;
  link.line_numbers = true;
  ASSERT_TRUE(fw.Assemble(link));
  fw.WriteFile("file.s", source);
  fw.WriteFile("s.txt",
               "break file.s:12\ncontinue\nnext\nlist\ndelete 1\nfinish\nstep\nnext 2\nnext\n"
               "info line\ninfo symbol 0x10018\ninfo functions squ\nstepi\nquit\n");
  const std::vector<std::string> run = {"--debug-script", fw.Path("s.txt"), "--", "korvane", "-v0",
                                        fw.ProjectPath()};
  ToolRun r = fw.Run(run);
  EXPECT_EQ(r.status, 4) << r.All();
  EXPECT_EQ(r.out, R"(Stopped at the start, 0x00010000 file.s:_start+0x0 at file.s:4
4		mov 2,g0
=> 0x00010000 file.s:_start+0x0  mov      2,g0
(kdb) break file.s:12
Breakpoint 1 at 0x00010014 file.s:square+0x0 at file.s:12
(kdb) continue
Breakpoint 1 at 0x00010014 file.s:square+0x0 at file.s:12
12		mulo g0,g0,g1
=> 0x00010014 file.s:square+0x0  mulo     g0,g0,g1
(kdb) next
Stepped to 0x00010018 file.s:square+0x4 at file.s:13
13		mov g1,g0
=> 0x00010018 file.s:square+0x4  mov      g1,g0
(kdb) list
   8	done:	b done
   9	
   10	# square: g0 = g0 * g0
   11	square:
   12		mulo g0,g0,g1
=> 13		mov g1,g0
   14		ret
(kdb) delete 1
(kdb) finish
Returned to 0x00010008 file.s:_start+0x8 at file.s:6
6		call square
=> 0x00010008 file.s:_start+0x8  call     10014 <square>
(kdb) step
Stepped to 0x00010014 file.s:square+0x0 at file.s:12
12		mulo g0,g0,g1
=> 0x00010014 file.s:square+0x0  mulo     g0,g0,g1
(kdb) next 2
Stepped to 0x0001001c file.s:square+0x8 at file.s:14
14		ret
=> 0x0001001c file.s:square+0x8  ret
(kdb) next
Stepped to 0x0001000c file.s:_start+0xc at file.s:7
7		mov g0,g1
=> 0x0001000c file.s:_start+0xc  mov      g0,g1
(kdb) info line
Line 7 of "file.s" starts at address 0x0001000c <file.s:_start+0xc> and ends at 0x00010010.
(kdb) info symbol 0x10018
file.s:square+0x4 in TEXT at file.s:13
(kdb) info functions squ
Functions matching "squ":
0x00010014  square  file.s:12
(kdb) stepi
Stepped to 0x00010010 file.s:done+0x0 at file.s:8
8	done:	b done
=> 0x00010010 file.s:done+0x0  b        10010 <done>
(kdb) quit
)");
  // Without the source the lines are still named, and list says where it looked.
  std::filesystem::remove(fw.Path("file.s"));
  fw.WriteFile("s.txt", "list\nquit\n");
  r = fw.Run(run);
  EXPECT_THAT(r.out,
              HasSubstr("(kdb) list\nfile.s:1 (source file file.s not found in ., " + fw.dir()));
}

TEST(DebugConsole, TheReadmeSessionOnTheDemo) {
  namespace fs = std::filesystem;
  const fs::path demo(KORVANE_DEMO_DIR);
  if (!fs::exists(demo / "demo.out")) GTEST_SKIP() << "the demo was not built: " << demo;
  FirmwareProject fw("demo");  // a copy, so the demo's own folder stays untouched
  for (const char* f : {"demo.out", "demo.xcl", "demo.tvx"})
    fs::copy_file(demo / f, fs::path(fw.dir()) / f, fs::copy_options::overwrite_existing);
  fw.WriteFile("demo.mem", "");
  fw.WriteFile("s.txt",
               "break demo.s:56\ncontinue\nnext 2\nlist\nstep\nstep\nbacktrace\nfinish\n"
               "print enter_count\nquit\n");
  // The sources are found through --source-dir (the copy's folder has none).
  ToolRun r = fw.Run({"--debug-script", fw.Path("s.txt"), "--keys", "1 ENTER", "--virtual-time",
                      "--source-dir", demo.string(), fw.Path("demo.tvx")});
  EXPECT_EQ(r.status, 4) << r.All();
  for (const char* line :
       {"Breakpoint 1 at 0x00010080 demo.s:handle_keys+0xc at demo.s:56\n"
        "56\t\tld\tenter_count,r4\n",
        "(kdb) next 2\nStepped to 0x0001008c demo.s:handle_keys+0x18 at demo.s:58\n",
        "   57\t\taddo\t1,r4,r4\n=> 58\t\tst\tr4,enter_count\n",
        "Stepped to 0x0001026c demo.s:draw_counter+0x0 at demo.s:172\n172\t\tldconst\t15,g0\n",
        "(kdb) backtrace\n#0   0x0001026c demo.s:draw_counter+0x0 at demo.s:172\n"
        "#1   0x00010098 demo.s:handle_keys+0x24 at demo.s:60\n"
        "#2   0x00010068 demo.s:main_loop+0xc at demo.s:47\n",
        "Returned to 0x00010098 demo.s:handle_keys+0x24 at demo.s:60\n",
        "enter_count = 0x00000001 (1) at 0x00200000\n"})
    EXPECT_THAT(r.out, HasSubstr(line));
}

}  // namespace
}  // namespace korvane::test
