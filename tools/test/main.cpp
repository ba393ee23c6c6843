// korvane-test: runs firmware regression scenarios through korvane-run, several at a time,
// and reports them on the terminal and as JUnit XML.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "suite.h"

namespace {

namespace fs = std::filesystem;
using namespace korvane::test_tool;
using korvane::Coverage;
using korvane::ParseCoverage;

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: korvane-test [OPTIONS] SUITE_DIR|FILE...\n"
    "\n"
    "Runs every scenario file (*.toml) of the folders and files given, each in its own fresh\n"
    "copy of its project folder, through korvane-run.\n"
    "\n"
    "Options:\n"
    "  --jobs N              run N scenarios at a time (default: the number of cores)\n"
    "  --shard I/N           run only the I-th of N even shares of the suite (by name), so N\n"
    "                        CI machines together run every scenario once\n"
    "  --filter TAG|NAME     run only scenarios with this tag or name ('*' and '?' match any\n"
    "                        text or character); repeatable, any match counts\n"
    "  --junit FILE          write a JUnit XML report to FILE\n"
    "  --update-golden       write each screen check's picture as its new golden picture\n"
    "  --project-dir DIR     find each scenario's project file (by its file name) in DIR\n"
    "  --runner FILE         the korvane-run to use (default: the one beside korvane-test)\n"
    "  --report-dir DIR      where failing screen checks leave their actual and difference\n"
    "                        pictures (default: the JUnit report's folder, else\n"
    "                        korvane-test-report)\n"
    "  --coverage DIR        write each suite's coverage (of every run of its scenarios) to\n"
    "                        DIR/SUITE.info as an lcov tracefile\n"
    "  --keep                keep the copies of the project folders (default: only those of\n"
    "                        failing scenarios)\n"
    "  --help                show this text\n"
    "  --version             print the version and end\n"
    "\n"
    "\n"
    "korvane-test --merge-coverage OUT FILE... adds up lcov tracefiles (those of the shards of\n"
    "a suite give the tracefile of the whole suite) and writes OUT.\n"
    "\n"
    "Exit status: 0 every scenario passed, 1 some failed, 2 bad usage.\n";

struct Args {
  int jobs = 0;
  int shard_index = 1, shard_count = 1;
  std::vector<std::string> filters;
  std::string junit;
  std::string coverage_dir;
  bool keep = false;
  ExecOptions exec;
  std::vector<std::string> inputs;
};

bool ParseArgs(int argc, char** argv, Args& a, bool& help, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    const size_t eq = arg.find('=');
    const std::string name = arg.rfind("--", 0) == 0 ? arg.substr(0, eq) : arg;
    auto take = [&]() {
      if (eq != std::string::npos && arg.rfind("--", 0) == 0) {
        value = arg.substr(eq + 1);
        return true;
      }
      if (i + 1 >= argc) {
        error = name + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    if (name == "--help" || name == "-h") {
      help = true;
    } else if (name == "--jobs") {
      if (!take()) return false;
      char* end = nullptr;
      long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end || n < 1 || n > 256) {
        error = "--jobs needs a number from 1 to 256, not '" + value + "'";
        return false;
      }
      a.jobs = static_cast<int>(n);
    } else if (name == "--shard") {
      if (!take() || !ParseShard(value, a.shard_index, a.shard_count, error)) return false;
    } else if (name == "--filter") {
      if (!take()) return false;
      if (value.empty()) {
        error = "--filter needs a tag or name";
        return false;
      }
      a.filters.push_back(value);
    } else if (name == "--junit") {
      if (!take()) return false;
      a.junit = value;
    } else if (name == "--update-golden") {
      a.exec.update_golden = true;
    } else if (name == "--coverage") {
      if (!take()) return false;
      if (value.empty()) {
        error = "--coverage needs a folder";
        return false;
      }
      a.coverage_dir = value;
      a.exec.coverage = true;
    } else if (name == "--keep") {
      a.keep = true;
    } else if (name == "--project-dir") {
      if (!take()) return false;
      a.exec.project_dir = value;
    } else if (name == "--runner") {
      if (!take()) return false;
      a.exec.runner = value;
    } else if (name == "--report-dir") {
      if (!take()) return false;
      a.exec.report_dir = value;
    } else if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
      error = "unknown option " + name;
      return false;
    } else {
      a.inputs.push_back(arg);
    }
  }
  if (!help && a.inputs.empty()) {
    error = "no suite folder or scenario file given";
    return false;
  }
  return true;
}

// korvane-run beside this program when it is there, else the one on PATH.
std::string DefaultRunner() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    fs::path beside = self.parent_path() / "korvane-run";
    if (fs::exists(beside, ec)) return beside.string();
  }
  return "korvane-run";
}

// korvane-test --merge-coverage OUT FILE...
int MergeCoverage(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "korvane-test: --merge-coverage needs an output file and tracefiles\n");
    return kExitUsage;
  }
  Coverage all;
  for (int i = 3; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error;
    if (!in) {
      std::fprintf(stderr, "korvane-test: cannot read the tracefile %s\n", argv[i]);
      return kExitUsage;
    }
    if (!ParseCoverage(text, argv[i], all, error)) {
      std::fprintf(stderr, "korvane-test: %s\n", error.c_str());
      return kExitUsage;
    }
  }
  std::ofstream out(argv[2], std::ios::binary);
  out << all.Text();
  if (!out.flush()) {
    std::fprintf(stderr, "korvane-test: cannot write %s\n", argv[2]);
    return kExitUsage;
  }
  return kExitPassed;
}

// One tracefile per suite argument, named by it (a folder's name, a file's stem), adding up the
// coverage of its scenarios that ran.
bool WriteSuiteCoverage(const Args& a, const std::vector<const Entry*>& chosen,
                        const std::vector<Result>& results, std::string& error) {
  std::error_code ec;
  fs::create_directories(a.coverage_dir, ec);
  for (const std::string& input : a.inputs) {
    const fs::path suite = fs::weakly_canonical(input, ec);
    Coverage cov;
    for (size_t i = 0; i < chosen.size(); ++i) {
      const fs::path file = fs::weakly_canonical(chosen[i]->scenario.file, ec);
      const auto [end, ignored] =
          std::mismatch(suite.begin(), suite.end(), file.begin(), file.end());
      if (end == suite.end()) cov.Merge(results[i].coverage);
    }
    const fs::path out = fs::path(a.coverage_dir) / (suite.stem().string() + ".info");
    std::ofstream f(out, std::ios::binary);
    f << cov.Text();
    if (!f.flush()) {
      error = "cannot write the coverage file " + out.string();
      return false;
    }
    std::printf("Coverage: %s\n", out.c_str());
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Args a;
  bool help = false;
  std::string error;
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("korvane-test %s\n", KORVANE_VERSION);
    return kExitPassed;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--merge-coverage") == 0) return MergeCoverage(argc, argv);
  if (!ParseArgs(argc, argv, a, help, error)) {
    std::fprintf(stderr, "korvane-test: %s\n(korvane-test --help shows the usage)\n",
                 error.c_str());
    return kExitUsage;
  }
  if (help) {
    std::fputs(kUsage, stdout);
    return kExitPassed;
  }
  std::vector<std::string> files;
  if (!CollectScenarioFiles(a.inputs, files, error)) {
    std::fprintf(stderr, "korvane-test: %s\n", error.c_str());
    return kExitUsage;
  }
  if (files.empty()) {
    std::fprintf(stderr, "korvane-test: no scenario files (*.toml) found\n");
    return kExitUsage;
  }
  if (a.exec.runner == "korvane-run") a.exec.runner = DefaultRunner();
  if (a.exec.report_dir.empty())
    a.exec.report_dir =
        a.junit.empty() ? "korvane-test-report" : fs::absolute(a.junit).parent_path().string();
  std::error_code ec;
  a.exec.report_dir = fs::absolute(a.exec.report_dir, ec).string();
  std::string root_template = (fs::temp_directory_path(ec) / "korvane-test-XXXXXX").string();
  if (!::mkdtemp(root_template.data())) {
    std::fprintf(stderr, "korvane-test: cannot create a work folder in %s\n",
                 fs::temp_directory_path(ec).c_str());
    return kExitUsage;
  }
  a.exec.work_root = root_template;

  const std::vector<Entry> entries = LoadEntries(files);
  const std::vector<const Entry*> chosen =
      SelectEntries(entries, a.filters, a.shard_index, a.shard_count);
  const int jobs = a.jobs ? a.jobs : std::max(1u, std::thread::hardware_concurrency());
  std::printf("korvane-test: %zu of %zu scenarios (shard %d/%d), %d at a time\n", chosen.size(),
              entries.size(), a.shard_index, a.shard_count, jobs);
  std::fflush(stdout);

  // Workers take the next scenario as they become free; each prints its line when done.
  std::vector<Result> results(chosen.size());
  std::atomic<size_t> next{0};
  std::mutex print;
  size_t done = 0;
  const auto start = std::chrono::steady_clock::now();
  auto worker = [&] {
    for (size_t i; (i = next.fetch_add(1)) < chosen.size();) {
      Result r = RunScenario(*chosen[i], a.exec);
      std::lock_guard<std::mutex> lock(print);
      ++done;
      const char* word = r.status == Result::kPassed   ? "PASS"
                         : r.status == Result::kFailed ? "FAIL"
                                                       : "ERROR";
      std::printf("[%zu/%zu] %-5s %s (%.1f s)\n", done, chosen.size(), word,
                  chosen[i]->scenario.name.c_str(), r.seconds);
      for (const auto& p : r.problems) std::printf("        %s\n", p.c_str());
      std::fflush(stdout);
      results[i] = std::move(r);
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < jobs && static_cast<size_t>(t) < chosen.size(); ++t)
    threads.emplace_back(worker);
  for (auto& t : threads) t.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  int passed = 0, failed = 0, errors = 0;
  for (const auto& r : results) {
    passed += r.status == Result::kPassed;
    failed += r.status == Result::kFailed;
    errors += r.status == Result::kError;
  }
  // The copies of passing scenarios go; those of failing ones stay for a look.
  bool kept = false;
  for (size_t i = 0; i < chosen.size(); ++i) {
    if (a.keep || results[i].status != Result::kPassed) {
      kept = true;
      continue;
    }
    fs::remove_all(results[i].folder, ec);
  }
  if (!kept) fs::remove_all(a.exec.work_root, ec);

  std::printf("\n%zu scenarios: %d passed, %d failed, %d errors in %.1f s\n", chosen.size(), passed,
              failed, errors, seconds);
  for (size_t i = 0; i < chosen.size(); ++i)
    if (results[i].status != Result::kPassed)
      std::printf("  %s %s\n", results[i].status == Result::kFailed ? "FAIL " : "ERROR",
                  chosen[i]->scenario.name.c_str());
  if (kept) std::printf("Project copies and run logs: %s\n", a.exec.work_root.c_str());
  int status = failed || errors ? kExitFailed : kExitPassed;
  if (!a.coverage_dir.empty() && !WriteSuiteCoverage(a, chosen, results, error)) {
    std::fprintf(stderr, "korvane-test: %s\n", error.c_str());
    status = kExitUsage;
  }
  if (!a.junit.empty()) {
    if (!WriteJUnit(a.junit, "korvane-test", chosen, results, seconds, error)) {
      std::fprintf(stderr, "korvane-test: %s\n", error.c_str());
      status = kExitUsage;
    } else {
      std::printf("JUnit report: %s\n", a.junit.c_str());
    }
  }
  return status;
}
