// What a run's counts (core/run_counts.h) say, in the executable's own names: the flat profile
// and call graph, folded stacks for flame graphs, and lcov tracefiles and their merging.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace korvane {

struct Machine;
class RunCounts;

// One procedure of the flat profile; instruction counts are exact.
struct ProfileRow {
  std::string name;      // the symbol, "x$readkeys [native]", or "0x0001abcd" without one
  uint32_t address = 0;  // where the procedure starts (native routines: the called address)
  bool native = false;
  uint64_t self = 0;       // instructions run in the procedure itself
  uint64_t inclusive = 0;  // with everything it called (a recursive call counts once)
  uint64_t calls = 0;
  uint64_t host_ns = 0;  // native routines: host time of their handler
};

struct CallEdge {
  std::string caller, callee;
  uint64_t calls = 0;
};

struct Profile {
  uint64_t total = 0;            // instructions of the run
  std::vector<ProfileRow> rows;  // most self instructions first
  std::vector<CallEdge> edges;   // by caller, then callee
};

Profile BuildProfile(const Machine& emu, const RunCounts& counts);
// The flat profile and the call graph as a text table.
std::string FormatProfile(const Profile& profile);
// One line per calling context with instructions of its own: "outer;middle;leaf 1234", sorted.
std::string FoldedStacks(const Machine& emu, const RunCounts& counts);

// Where an instruction's source line is: false when the executable does not say.
using LineLookup = std::function<bool(uint32_t address, std::string& file, uint32_t& line)>;

// An lcov tracefile, kept in a canonical order so that equal coverage is equal text.
struct Coverage {
  struct Function {
    uint32_t line = 0;
    uint64_t count = 0;
  };
  struct Source {
    std::map<std::string, Function> functions;  // by name
    std::map<uint32_t, uint64_t> lines;         // DA: line -> count
  };
  std::map<std::string, Source> sources;  // by SF
  // Adds the counts of `other` (the same source lines and functions add up).
  void Merge(const Coverage& other);
  std::string Text() const;
};

// The coverage of a run. With line numbers (lines says where instructions are): one SF per
// source file, DA per line (the count of its most-run instruction), FN at the line of each
// procedure's first instruction. Without them: one SF per module, and each procedure stands
// as one line, its ordinal in the module, with the instructions run in it as its DA count.
// FNDA is how often the procedure's first instruction ran.
Coverage BuildCoverage(const Machine& emu, const RunCounts& counts, const LineLookup& lines);
// Reads a tracefile's text; false with `error` ("NAME:LINE: problem") on a malformed one.
bool ParseCoverage(const std::string& text, const std::string& name, Coverage& out,
                   std::string& error);

}  // namespace korvane
