// Profiles and coverage of programs with known loop counts and call trees, under the fast core
// (with and without pair records) and the stepping loop, ended by their budget anywhere.
#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <sstream>

#include "core/run_counts.h"
#include "image/profile_report.h"
#include "support/firmware_project.h"
#include "support/snippet.h"

namespace korvane {
namespace {

using test::RunSnippet;
using test::SnippetOptions;

// outer calls leaf 20000 times (a pair of addo in leaf, check points on the way), then rec
// recurses four levels deep. _start runs 6 instructions and parks in snippet_end.
const char* kCallTree = R"(
  mov 0, g6
  mov 0, g7
  lda 20000, g4
  call outer
  mov 4, g0
  call rec
  b snippet_end
outer:
  mov 0, g5
outer_loop:
  call leaf
  addo 1, g5, g5
  cmpobne g5, g4, outer_loop
  ret
leaf:
  addo 1, g6, g6
  addo 2, g7, g7
  ret
rec:
  cmpobe 0, g0, rec_done
  subo 1, g0, g0
  call rec
rec_done:
  ret
)";

enum class Loop { kFast, kNoPairs, kStepping };

struct Counted {
  std::unique_ptr<test::SnippetRun> emu;
  RunCounts counts;
};

std::unique_ptr<Counted> RunCounted(const char* body, uint64_t budget, Loop loop) {
  auto out = std::make_unique<Counted>();
  SnippetOptions options;
  options.park_at_end = true;
  RunCounts* counts = &out->counts;
  options.before_run = [counts, loop](Emulator& emu) {
    emu.run.counts = counts;
    emu.run.form_pairs = loop != Loop::kNoPairs;
    if (loop == Loop::kStepping) emu.run.step_hook.before = [](void*) { return false; };
  };
  out->emu = RunSnippet(body, budget, options);
  return out;
}

TEST(Profile, CountsOfAKnownCallTreeAreExactWhereverTheRunEnds) {
  struct Case {
    uint64_t budget;
    const char* folded;
    const char* why;
  };
  const Case cases[] = {
      {120036,
       "_start 16\n_start;outer 60002\n_start;outer;leaf 60000\n_start;rec 4\n_start;rec;rec 4\n"
       "_start;rec;rec;rec 4\n_start;rec;rec;rec;rec 4\n_start;rec;rec;rec;rec;rec 2\n",
       "the whole program and ten turns of the park loop"},
      {14, "_start 4\n_start;outer 5\n_start;outer;leaf 5\n",
       "ended after both halves of leaf's pair, in its second call"},
      {13, "_start 4\n_start;outer 5\n_start;outer;leaf 4\n",
       "ended between the two halves of leaf's pair"},
      {4, "_start 4\n", "ended by the call itself"},
  };
  for (const Case& c : cases) {
    for (Loop loop : {Loop::kFast, Loop::kNoPairs, Loop::kStepping}) {
      SCOPED_TRACE(std::string(c.why) + ", loop " + std::to_string(static_cast<int>(loop)));
      auto run = RunCounted(kCallTree, c.budget, loop);
      EXPECT_EQ(FoldedStacks(*run->emu, run->counts), c.folded);
      const auto& w = run->counts.words;
      EXPECT_EQ(std::accumulate(w.begin(), w.end(), uint64_t{0}), c.budget);
    }
  }
}

TEST(Profile, FlatProfileAndCallGraph) {
  auto run = RunCounted(kCallTree, 120036, Loop::kFast);
  const Profile p = BuildProfile(*run->emu, run->counts);
  EXPECT_EQ(p.total, 120036u);
  struct Row {
    const char* name;
    uint64_t self, inclusive, calls;
  };
  const Row rows[] = {
      {"outer", 60002, 120002, 1},  // with leaf's 60000
      {"leaf", 60000, 60000, 20000},
      {"rec", 18, 18, 5},  // four levels of 4 and the last of 2; the recursion counts once
      {"_start", 16, 120036, 0},
  };
  ASSERT_EQ(p.rows.size(), std::size(rows));
  for (size_t k = 0; k < std::size(rows); ++k) {
    EXPECT_EQ(p.rows[k].name, rows[k].name);
    EXPECT_EQ(p.rows[k].self, rows[k].self) << rows[k].name;
    EXPECT_EQ(p.rows[k].inclusive, rows[k].inclusive) << rows[k].name;
    EXPECT_EQ(p.rows[k].calls, rows[k].calls) << rows[k].name;
  }
  std::string edges;
  for (const CallEdge& e : p.edges)
    edges += e.caller + "->" + e.callee + ":" + std::to_string(e.calls) + " ";
  EXPECT_EQ(edges, "_start->outer:1 _start->rec:1 outer->leaf:20000 rec->rec:4 ");
  EXPECT_NE(FormatProfile(p).find("120002"), std::string::npos);
}

// Counting asked for while the firmware runs (as the window's profile does) starts at the next
// system_timer check point, with the call chain the frames show there, and publishes copies
// of its contexts on request.
thread_local RunCounts* tl_wanted = nullptr;

TEST(Profile, CountingAskedForWhileRunningStartsAtTheNextCheckPoint) {
  RunCounts counts;
  tl_wanted = &counts;
  SnippetOptions options;
  options.before_run = [](Emulator& emu) {
    // Asked at the first check point, after the loop has looked: it starts at the second.
    emu.hooks.check_point = [](void* ctx) {
      Processor& emu = *static_cast<Machine*>(ctx);
      if (emu.run.executed == 32768) emu.run.counts_wanted.store(tl_wanted);
      if (emu.run.executed == 65536) tl_wanted->RequestPublish();
    };
  };
  auto emu = RunSnippet(kCallTree, 120036, options);
  // At 65536 instructions outer has called leaf 10922 times and is back from the last call.
  EXPECT_EQ(FoldedStacks(*emu, counts),
            "_start 12\n_start;outer 27236\n_start;outer;leaf 27234\n_start;rec 4\n"
            "_start;rec;rec 4\n_start;rec;rec;rec 4\n_start;rec;rec;rec;rec 4\n"
            "_start;rec;rec;rec;rec;rec 2\n");
  const auto& w = counts.words;
  EXPECT_EQ(std::accumulate(w.begin(), w.end(), uint64_t{0}), 120036u - 65536);
  // The copy asked for at 65536 is made at the next check point, before rec runs.
  uint64_t published = 0;
  for (const CallNode& n : counts.Published()) published += n.self;
  EXPECT_EQ(published, 32768u);
  EXPECT_EQ(counts.Published().size(), 3u);
}

// A run split in two by a state file: the profile and coverage of the two parts add up to
// those of the whole run, wherever the split falls.
TEST(Profile, TwoRunsSplitByAStateAddUpToTheWholeRun) {
  test::FirmwareProject p;
  p.AddSnippet(kCallTree);
  ASSERT_TRUE(p.Assemble());
  p.WriteProject("korvane -v1 x");
  auto run = [&](const std::string& name, std::vector<std::string> args) {
    args.insert(args.end(), {"--profile-format", "folded", "--profile", p.Path(name + ".folded"),
                             "--coverage", p.Path(name + ".info"), p.Path("x.tvx")});
    const test::ToolRun r = p.Run(args);
    EXPECT_EQ(r.status, 3) << r.All();
  };
  auto stacks = [&](const std::string& name, std::map<std::string, uint64_t>& into) {
    std::istringstream in(p.ReadFile(name + ".folded"));
    for (std::string line; std::getline(in, line);)
      into[line.substr(0, line.rfind(' '))] += std::stoull(line.substr(line.rfind(' ') + 1));
  };
  auto coverage = [&](const std::string& name, Coverage& into) {
    std::string error;
    EXPECT_TRUE(ParseCoverage(p.ReadFile(name + ".info"), name, into, error)) << error;
  };
  const test::ToolRun refused =
      p.Run({"--profile", p.Path("no-such-folder/p.txt"), p.Path("x.tvx")});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("cannot write the profile"), std::string::npos) << refused.err;
  run("whole", {"--max-instructions", "120036"});
  std::map<std::string, uint64_t> whole;
  stacks("whole", whole);
  Coverage whole_coverage;
  coverage("whole", whole_coverage);
  // In leaf between the halves of its pair; in leaf's ret; in outer's loop; in rec, 3 deep.
  for (const char* split : {"13", "60006", "60010", "120017"}) {
    SCOPED_TRACE(split);
    run("first", {"--max-instructions", split, "--save-state", p.Path("split.kst")});
    run("second", {"--max-instructions", "120036", "--load-state", p.Path("split.kst")});
    std::map<std::string, uint64_t> sum;
    stacks("first", sum);
    stacks("second", sum);
    EXPECT_EQ(sum, whole);
    Coverage parts;
    coverage("first", parts);
    coverage("second", parts);
    EXPECT_EQ(parts.Text(), whole_coverage.Text());
  }
}

// cmpobe is always taken, so the addo after it never runs.
const char* kBranchNeverTaken = R"(
  mov 1, g0
  cmpobe 1, g0, over
  addo 1, g1, g1
over:
  call f
  b snippet_end
f:
  ret
)";

TEST(Coverage, LinesAndProceduresWithAndWithoutLineNumbers) {
  auto run = RunCounted(kBranchNeverTaken, 10, Loop::kFast);
  const uint32_t base = run->emu->Sym("_start");
  // One instruction per line: line = word number + 1.
  const LineLookup lines = [base](uint32_t address, std::string& file, uint32_t& line) {
    if (address < base || address >= base + 4 * 7) return false;
    file = "prog.s";
    line = (address - base) / 4 + 1;
    return true;
  };
  EXPECT_EQ(BuildCoverage(*run->emu, run->counts, lines).Text(),
            "TN:\nSF:prog.s\nFN:1,_start\nFN:4,over\nFN:6,f\nFN:7,snippet_end\n"
            "FNDA:1,_start\nFNDA:1,over\nFNDA:1,f\nFNDA:5,snippet_end\nFNF:4\nFNH:4\n"
            "DA:1,1\nDA:2,1\nDA:3,0\nDA:4,1\nDA:5,1\nDA:6,1\nDA:7,5\nLF:7\nLH:6\n"
            "end_of_record\n");
  // Without line numbers every procedure is a line of its module, counting its instructions.
  const std::string text = BuildCoverage(*run->emu, run->counts, LineLookup{}).Text();
  EXPECT_NE(
      text.find("FN:4,snippet_end\nFNDA:1,_start\nFNDA:1,over\nFNDA:1,f\nFNDA:5,snippet_end\n"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find("DA:1,2\nDA:2,2\nDA:3,1\nDA:4,5\nLF:4\nLH:4\n"), std::string::npos) << text;
}

TEST(Coverage, TracefilesMergeByAddingCountsAndBadOnesAreRefused) {
  Coverage a, b, whole;
  std::string error;
  ASSERT_TRUE(
      ParseCoverage("SF:m.s\nFN:1,f\nFNDA:2,f\nDA:1,2\nDA:2,0\nend_of_record\n", "a", a, error));
  ASSERT_TRUE(
      ParseCoverage("TN:\nSF:m.s\nFN:1,f\nFNDA:1,f\nDA:2,3\nend_of_record\n", "b", b, error));
  whole.Merge(a);
  whole.Merge(b);
  EXPECT_EQ(whole.Text(),
            "TN:\nSF:m.s\nFN:1,f\nFNDA:3,f\nFNF:1\nFNH:1\nDA:1,2\nDA:2,3\nLF:2\nLH:2\n"
            "end_of_record\n");
  const struct {
    const char* text;
    const char* error;
  } bad[] = {
      {"DA:1,1\n", "x:1: 'DA' outside a record (SF first)"},
      {"SF:m\nDA:one,1\n", "x:2: DA needs LINE,COUNT"},
      {"SF:m\nFNDA:1\n", "x:2: FNDA needs COUNT,NAME"},
      {"SF:m\nXY:1\nend_of_record\n", "x:2: unknown record 'XY'"},
      {"SF:m\nDA:1,1\n", "x:2: the last record has no end_of_record"},
  };
  for (const auto& c : bad) {
    Coverage cov;
    EXPECT_FALSE(ParseCoverage(c.text, "x", cov, error));
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
}  // namespace korvane
