// Tests of fault reporting: the fault line, the trace line, the -dr register dump, the fault
// limit and the trigger count.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "support/snippet.h"

namespace korvane {
namespace {

using test::RunSnippet;
using test::SnippetOptions;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

TEST(Faults, DivideByZeroReportsAndContinues) {
  auto emu =
      RunSnippet("\tmov 0, g0\n\tmov 7, g1\n\tmov 9, g2\n\tdivo g0, g1, g2\n\tmov 1, g3\n", 5);
  EXPECT_FALSE(emu->ended_by_exit);
  EXPECT_EQ(emu->G(2), 0u);
  EXPECT_EQ(emu->G(3), 1u) << "execution did not continue after the fault";
  EXPECT_EQ(emu->run.fault_count, 1);
  // Fault line, then the trace line (three instructions done so far), then the module line
  // between two line ends.
  char expected[160];
  std::snprintf(expected, sizeof expected,
                " ERR 11 E_DIV0, Opcode 070B ?\nIP=%08X  %08X (00000000)         3 ?       \n",
                emu->Sym("_start") + 12,
                emu->exe.text[12] | emu->exe.text[13] << 8 | emu->exe.text[14] << 16 |
                    static_cast<uint32_t>(emu->exe.text[15]) << 24);
  const std::string& log = emu->LogText();
  size_t at = log.find(expected);
  ASSERT_NE(at, std::string::npos) << log;
  std::string rest = log.substr(at + std::string(expected).size());
  // The module line is either empty or "IP=...=module+0x..."; a line end follows it.
  EXPECT_TRUE(rest[0] == '\n' || rest.compare(0, 3, "IP=") == 0) << rest;
}

TEST(Faults, TheModuleLineNamesTheSourceLineWhereItIsKnown) {
  SnippetOptions o;
  o.link.line_numbers = true;
  auto emu = RunSnippet("\tmov 0, g0\n\tmov 7, g1\n\tdivo g0, g1, g2\n", 5, o);
  EXPECT_THAT(emu->LogText(), HasSubstr("=snippet.+0x8 at snippet.s:6\n")) << "the divo's line";
}

TEST(Faults, TwentiethFaultEndsTheRun) {
  // Each pass divides by zero once and counts in g3; 19 faults are survived.
  auto emu = RunSnippet("1:\n\tdivo g0, g1, g2\n\taddo 1, g3, g3\n\tb 1b\n", 1000);
  EXPECT_TRUE(emu->ended_by_exit);
  EXPECT_EQ(emu->G(3), 19u);
  EXPECT_EQ(emu->run.fault_count, 20);
  EXPECT_EQ(CountOf(emu->LogText(), " ERR 11 E_DIV0, Opcode 070B ?\n"), 20);
  EXPECT_EQ(CountOf(emu->LogText(), "MsgExit:  Error forced exit , IP="), 1);
  EXPECT_EQ(emu->ExitMessage(), " Error forced exit ");
  EXPECT_THAT(emu->LogText(), Not(HasSubstr("EXIT REQUESTED")));
}

TEST(Faults, RegisterDumpWithDr) {
  SnippetOptions o;
  o.options = "-v1 -dr";
  auto emu = RunSnippet(
      "\tldconst 0x11111111, g0\n\tldconst 0x22222222, g1\n\tldconst 0xABCDEF01, g12\n"
      "\tmov 5, r3\n\tmov 0, g4\n\tdivo g4, g0, g5\n",
      6, o);
  const std::string& log = emu->LogText();
  uint32_t fp = emu->G(15);
  char r0[80], g0[80], g12[80], x32[80];
  std::snprintf(r0, sizeof r0, "\nr 0: %08X %08X 00000000 00000005\n", fp - 64, fp + 64);
  std::snprintf(g0, sizeof g0, "\ng 0: 11111111 22222222 00000000 00000000\n");
  std::snprintf(g12, sizeof g12, "\ng12: ABCDEF01 00000000 00000000 %08X\n", fp);
  std::snprintf(x32, sizeof x32, "\n\nx32: 00000000 00000000 %08X 00000000\n\n",
                emu->Sym("_start") + 32);
  // Fault line, then the dump before the trace line.
  size_t fault = log.find(
      " ERR 11 E_DIV0, Opcode 070B ?\n- - - - - - - - - - - - - - - - - - "
      "- - - - - - - - - -\n");
  ASSERT_NE(fault, std::string::npos) << log;
  for (const char* part : std::initializer_list<const char*>{
           r0, "\nr 4: ", "\nr 8: ", "\nr12: ", g0, "\ng 4: ", "\ng 8: ", g12, x32})
    EXPECT_NE(log.find(part, fault), std::string::npos) << part;
  // The normal end prints the dump too, before " EXIT REQUESTED".
  EXPECT_EQ(CountOf(log, "- - - - - - - - - - - - - - - - - - - - - - - - - - - -\n"), 2);
  size_t end = log.rfind("- - - -");
  EXPECT_NE(log.find(" EXIT REQUESTED\n", end), std::string::npos);
  // Without -dr there is no dump.
  auto plain = RunSnippet("\tmov 0, g4\n\tdivo g4, g0, g5\n", 2);
  EXPECT_THAT(plain->LogText(), Not(HasSubstr("- - - -")));
  EXPECT_THAT(plain->LogText(), Not(HasSubstr("r 0: ")));
}

TEST(Faults, TriggerCountCountsDownAtEachStateReport) {
  struct Row {
    long start;
    int faults;
    int32_t left;
    const char* why;
  } rows[] = {
      {5, 2, 2, "two fault reports and the end report take three"},
      {2, 3, 0, "stops at zero"},
      {0, 1, 0, "zero stays zero"},
  };
  for (const Row& row : rows) {
    SnippetOptions o;
    long start = row.start;
    o.before_run = [start](Emulator& e) { e.opt.tc = start; };
    std::string body = "\tmov 0, g0\n";
    for (int i = 0; i < row.faults; ++i) body += "\tdivo g0, g1, g2\n";
    auto emu = RunSnippet(body, 1 + row.faults, o);
    EXPECT_EQ(emu->run.trigger_count, row.left) << row.why;
  }
}

TEST(Faults, ExitMessagesBeforeTheRunShowIpZero) {
  Emulator emu;
  emu.log.SetCapture(true);
  EXPECT_THROW(ReportFault(emu, E_OPCODE, true), EmuExitSignal);
  EXPECT_THAT(emu.log.captured(), StartsWith(" ERR 1 E_OPCODE, Opcode 0000 ?\nIP=00000000  "));
  EXPECT_THAT(emu.log.captured(), HasSubstr("MsgExit:  Error forced exit , IP=00000000\n"));
  // The register dump copes with a processor that has no frame yet.
  Emulator dr;
  dr.log.SetCapture(true);
  dr.opt.dr = true;
  PrintStateReport(dr);
  EXPECT_THAT(dr.log.captured(), HasSubstr("r 0: 00000000 00000000 00000000 00000000\n"));
}

}  // namespace
}  // namespace korvane
