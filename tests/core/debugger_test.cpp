// Tests of the debug engine: stops, stepping, backtraces, watchpoints and the history, on short
// programs with nested calls.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/snippet.h"

namespace korvane {
namespace {

using test::RunSnippet;
using test::SnippetOptions;
using ::testing::HasSubstr;

// _start calls outer twice; outer calls inner, which stores g0 into `counter` and reads it back.
constexpr const char* kNested = R"(
	mov 0, g0
	call outer
	call outer
	b snippet_end
	.globl outer
outer:
	addo g0, 1, g0
	call inner
	ret
	.globl inner
inner:
	st g0, counter
	ld counter, g5
	ret
	.data
	.globl counter
counter:
	.word 0
)";

// The symbol part of "module:symbol+0xOFF".
std::string Where(const Debugger& d, uint32_t ip) {
  std::string n = d.NameAddress(ip);
  return n.substr(n.find(':') + 1);
}

std::vector<std::string> FrameNames(const Debugger& d) {
  std::vector<std::string> names;
  for (const auto& f : d.Backtrace()) names.push_back(f.name.substr(f.name.find(':') + 1));
  return names;
}

TEST(Debugger, StopsStepsAndWalksTheFrames) {
  struct Row {
    StopReason reason;                // the stop expected next
    const char* at;                   // where it stops
    std::vector<std::string> frames;  // backtrace there ({} = not checked)
    ResumeCommand then;               // what the user does
    const char* add_break;            // a breakpoint added at this stop, or null
  };
  const std::vector<Row> rows = {
      {StopReason::kStart, "_start+0x0", {}, {ResumeKind::kStep}, nullptr},
      {StopReason::kStep, "_start+0x4", {}, {ResumeKind::kStep}, nullptr},  // into the call
      {StopReason::kStep,
       "outer+0x0",
       {"outer+0x0", "_start+0x8"},
       {ResumeKind::kStepOver, 2},
       nullptr},  // addo, then over `call inner`
      {StopReason::kStep, "outer+0x8", {}, {ResumeKind::kContinue}, "inner"},
      {StopReason::kBreakpoint,
       "inner+0x0",
       {"inner+0x0", "outer+0x8", "_start+0xc"},
       {ResumeKind::kStepOut},
       nullptr},
      {StopReason::kStepOut, "outer+0x8", {}, {ResumeKind::kRunTo, 1, 0}, nullptr},
      {StopReason::kRunTo, "_start+0xc", {"_start+0xc"}, {ResumeKind::kEnd}, nullptr},
  };
  size_t next = 0;
  SnippetOptions o;
  o.before_run = [&](Emulator& emu) {
    emu.debugger = std::make_unique<Debugger>(emu);
    Debugger& d = *emu.debugger;
    d.StopAtStart(true);
    d.SetStopHandler([&](const DebugStop& stop) {
      ASSERT_LT(next, rows.size()) << stop.summary;
      const Row& row = rows[next++];
      SCOPED_TRACE(stop.summary);
      EXPECT_EQ(stop.reason, row.reason);
      EXPECT_EQ(Where(d, stop.ip), row.at);
      if (!row.frames.empty()) {
        EXPECT_EQ(FrameNames(d), row.frames);
      }
      std::string error;
      if (row.add_break) {
        EXPECT_GT(d.AddBreakpoint(BreakKind::kCode, row.add_break, "", 0, false, error), 0);
      }
      ResumeCommand c = row.then;
      if (c.kind == ResumeKind::kRunTo) {
        EXPECT_TRUE(d.ParseAddress("_start+0xc", c.address, error));
      }
      d.Resume(c);
    });
  };
  auto emu = RunSnippet(kNested, 1000, o);
  EXPECT_EQ(next, rows.size());
  EXPECT_TRUE(emu->debugger->stopped_run());
  EXPECT_TRUE(emu->run.stopped_by_host);
  EXPECT_EQ(emu->G(0), 2u);
  // Every stop logs the state report, the backtrace and the history.
  EXPECT_THAT(emu->LogText(), HasSubstr("DEBUG STOP: Breakpoint 1 at "));
  EXPECT_THAT(emu->LogText(), HasSubstr("History (last "));
}

// A fatal fault at full speed: the last instructions come from the fast core's trail and are
// the ones the stepping loop's history holds for the same run, across calls and returns, taken
// and untaken branches, fused pairs, the generic path and check points.
TEST(Debugger, TheFastTrailGivesTheHistoryOfAFaultAtFullSpeed) {
  struct Row {
    const char* why;
    std::string body;
  };
  const Row rows[] = {
      {"a loop crossing check points, then an emul without -xi",
       "\tlda 20000, g4\nagain:\n\tcall work\n\tsubo 1, g4, g4\n\tcmpobne 0, g4, again\n"
       "\tmov 3, g0\n\temul g0, g0, g2\n\tb snippet_end\n"
       "work:\n\taddo g5, 1, g5\n\tcmpo g5, 7\n\tbne skip\n\tmov 0, g5\n"
       "skip:\n\tst g5, counter\n\tld counter, g6\n\tret\n"
       "\t.data\ncounter:\n\t.word 0\n"},
      {"a call that overflows the stack ends the run in the call itself",
       "\tmov 0, g0\ndeeper:\n\taddo g0, 1, g0\n\tcall deeper\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    std::vector<HistoryEntry> seen[2];
    for (int trail = 0; trail < 2; ++trail) {
      SnippetOptions o;
      o.before_run = [&](Emulator& emu) {
        emu.debugger = std::make_unique<Debugger>(emu);
        if (trail)
          emu.run.fast_trail.on = true;
        else
          emu.debugger->SetHistory(kDefaultHistory, true);  // steps for the whole run
      };
      auto emu = RunSnippet(row.body, 10000000, o);
      EXPECT_NE(emu->exit.message[0], '\0') << "the run ends with a fault";
      seen[trail] = emu->debugger->History();
    }
    ASSERT_EQ(seen[0].size(), kDefaultHistory);
    ASSERT_EQ(seen[1].size(), seen[0].size());
    for (size_t i = 0; i < seen[0].size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(seen[1][i].count, seen[0][i].count);
      EXPECT_EQ(seen[1][i].ip, seen[0][i].ip);
      EXPECT_EQ(seen[1][i].words[0], seen[0][i].words[0]);
    }
  }
}

TEST(Debugger, WithoutAHandlerAStopEndsTheRun) {
  // Each row: a breakpoint, what it stops at, and the access it reports.
  struct Row {
    BreakKind kind;
    const char* where;
    const char* condition;
    uint64_t hit_count;
    StopReason reason;
    const char* stop_at;    // "" when nothing stops the run
    const char* access_at;  // the watched access: instruction, old and new first byte
    uint32_t old_value, new_value;
  };
  const Row rows[] = {
      {BreakKind::kCode, "inner", "", 0, StopReason::kBreakpoint, "inner+0x0", "", 0, 0},
      {BreakKind::kCode, "inner", "", 2, StopReason::kBreakpoint, "inner+0x0", "", 0, 0},
      {BreakKind::kCode, "outer:inner", "g0 == 2", 0, StopReason::kBreakpoint, "outer+0x4", "", 0,
       0},
      {BreakKind::kCode, "inner", "[counter] >= 1", 0, StopReason::kBreakpoint, "inner+0x0", "", 0,
       0},
      {BreakKind::kCode, "inner", "g0 > 5", 0, StopReason::kBreakpoint, "", "", 0, 0},
      {BreakKind::kWrite, "counter", "", 0, StopReason::kWatchpoint, "inner+0x8", "inner+0x0", 0,
       1},
      {BreakKind::kWrite, "counter", "", 2, StopReason::kWatchpoint, "inner+0x8", "inner+0x0", 1,
       2},
      {BreakKind::kWrite, "counter+1/3", "", 0, StopReason::kWatchpoint, "inner+0x8", "inner+0x0",
       0, 1},
      {BreakKind::kRead, "counter", "", 0, StopReason::kWatchpoint, "inner+0x10", "inner+0x8", 1,
       1},
      {BreakKind::kAccess, "counter", "", 2, StopReason::kWatchpoint, "inner+0x10", "inner+0x8", 1,
       1},
      {BreakKind::kWrite, "counter", "[counter] == 2", 0, StopReason::kWatchpoint, "inner+0x8",
       "inner+0x0", 1, 2},
      {BreakKind::kRead, "outer", "", 0, StopReason::kWatchpoint, "", "", 0, 0},        // code only
      {BreakKind::kOpcode, "a:a", "", 0, StopReason::kOpcode, "inner+0x10", "", 0, 0},  // ret
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.where) + " " + row.condition);
    SnippetOptions o;
    o.before_run = [&](Emulator& emu) {
      emu.debugger = std::make_unique<Debugger>(emu);
      std::string error;
      EXPECT_EQ(emu.debugger->AddBreakpoint(row.kind, row.where, row.condition, row.hit_count,
                                            false, error),
                1)
          << error;
    };
    auto emu = RunSnippet(kNested, 1000, o);
    auto stop = emu->debugger->last_stop();
    if (std::string(row.stop_at).empty()) {
      EXPECT_FALSE(stop);
      continue;
    }
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->reason, row.reason);
    EXPECT_EQ(Where(*emu->debugger, stop->ip), row.stop_at);
    if (row.reason == StopReason::kWatchpoint) {
      EXPECT_EQ(Where(*emu->debugger, stop->access.ip), row.access_at);
      EXPECT_EQ(stop->access.address, emu->Sym("counter"));
      EXPECT_EQ(stop->access.size, 4u);
      EXPECT_EQ(stop->access.old_bytes[0], row.old_value);
      EXPECT_EQ(stop->access.new_bytes[0], row.new_value);
    }
  }
}

TEST(Debugger, RejectsBadLocationsAndConditions) {
  auto emu = RunSnippet(kNested, 1);
  Debugger d(*emu);
  for (const char* where : {"", "nosuch", "inner:outer", "10/0", "ffffffff/2", "123456789"}) {
    std::string error;
    EXPECT_EQ(d.AddBreakpoint(BreakKind::kWrite, where, "", 0, false, error), 0) << where;
    EXPECT_FALSE(error.empty());
  }
  for (const char* cond : {"g16 == 1", "g4 = 1", "[nosuch] > 3", "g4 == x", "== 3"}) {
    std::string error;
    EXPECT_EQ(d.AddBreakpoint(BreakKind::kCode, "inner", cond, 0, false, error), 0) << cond;
  }
  EXPECT_TRUE(d.Breakpoints().empty());
}

}  // namespace
}  // namespace korvane
