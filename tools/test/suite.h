// korvane-test's suite: finding scenario files, choosing by filter and shard, running them in
// child processes and the results with their JUnit XML report.
#pragma once

#include <string>
#include <vector>

#include "image/profile_report.h"
#include "scenario.h"

namespace korvane::test_tool {

// A scenario file of the suite: what it says, or why it could not be read.
struct Entry {
  Scenario scenario;       // name is the file's stem when the file did not load
  std::string load_error;  // "FILE:LINE: problem", empty when it loaded
};

struct Result {
  enum Status { kPassed, kFailed, kError };
  Status status = kPassed;
  std::vector<std::string> problems;  // one line each; the first is the summary
  std::string output;                 // what korvane-run wrote to standard error, per run
  double seconds = 0;
  bool hung = false;   // a run was stopped at its limit or killed
  std::string folder;  // the scenario's copy of the project and its run files
  Coverage coverage;   // of all its runs, with ExecOptions::coverage
};

// Scenario files named by the arguments: a folder gives its *.toml files (and those of its
// subfolders), in name order; a file is taken as it is. False with `error` for a name that is
// neither.
bool CollectScenarioFiles(const std::vector<std::string>& args, std::vector<std::string>& files,
                          std::string& error);

// Loads every file; a scenario whose name repeats an earlier one is an error entry.
std::vector<Entry> LoadEntries(const std::vector<std::string>& files);

// "I/N" with 1 <= I <= N.
bool ParseShard(const std::string& text, int& index, int& count, std::string& error);

// True when a filter (a name or tag, '*' and '?' allowed) matches, or there is none.
bool MatchesFilter(const Entry& entry, const std::vector<std::string>& filters);

// The entries to run, in name order: those the filters match, and of them every count-th
// starting at the index-th. Shards of one suite are disjoint, cover it, and differ in size by
// at most one.
std::vector<const Entry*> SelectEntries(const std::vector<Entry>& entries,
                                        const std::vector<std::string>& filters, int shard_index,
                                        int shard_count);

struct ExecOptions {
  std::string runner = "korvane-run";  // korvane-run to start
  std::string project_dir;             // non-empty: projects are looked up here by file name
  std::string work_root;               // where the copies of the project folders go
  std::string report_dir;              // where failing screens leave their pictures
  bool update_golden = false;
  bool coverage = false;  // each run writes its coverage, which the result adds up
};

// Runs one scenario: a fresh copy of its project folder, one korvane-run per run, the checks.
// Never throws; every problem becomes part of the result.
Result RunScenario(const Entry& entry, const ExecOptions& options);

// Writes the JUnit XML report (one testsuite named `suite_name`, one testcase per scenario).
bool WriteJUnit(const std::string& path, const std::string& suite_name,
                const std::vector<const Entry*>& entries, const std::vector<Result>& results,
                double seconds, std::string& error);

}  // namespace korvane::test_tool
