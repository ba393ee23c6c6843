// korvane-test's scenario runs: a fresh copy of the project folder, one korvane-run child
// process per run (so a hang or crash stays in that process), and the checks after each run.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/png.h"
#include "suite.h"

extern char** environ;

namespace korvane::test_tool {

namespace {

namespace fs = std::filesystem;

// Without a limit of its own a run gets this one, so no scenario can hang the suite.
constexpr int64_t kDefaultTimeoutMs = 60000;
// korvane-run stops itself at its limit; this much later it is killed.
constexpr int64_t kKillGraceMs = 10000;
// With only an instruction limit, a run that stops counting is killed after this.
constexpr int64_t kInstructionLimitGuardMs = 600000;

std::string Slurp(const fs::path& p, bool* ok = nullptr) {
  std::ifstream f(p, std::ios::binary);
  if (ok) *ok = static_cast<bool>(f);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool WriteText(const fs::path& p, const std::string& text) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << text;
  return static_cast<bool>(f.flush());
}

// Shows a text in a message: printable as it is, the rest as \r, \n or \xHH.
std::string Visible(const std::string& s, size_t max = 200) {
  std::string out;
  for (unsigned char c : s.substr(0, max)) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == '"' || c == '\\')
      (out += '\\') += static_cast<char>(c);
    else if (c >= 0x20 && c < 0x7F)
      out += static_cast<char>(c);
    else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", c);
      out += b;
    }
  }
  if (s.size() > max) out += "...";
  return "\"" + out + "\"";
}

// Escapes text for korvane-run --serial-send, which reads \r \n \t \\ and \xHH.
std::string SerialEscape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\\')
      out += "\\\\";
    else if (c >= 0x20 && c < 0x7F)
      out += static_cast<char>(c);
    else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", c);
      out += b;
    }
  }
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The first non-empty line of a message; a longer message says where the rest is.
std::string FirstLine(const std::string& text, const fs::path& whole) {
  size_t start = text.find_first_not_of("\r\n");
  if (start == std::string::npos) return "\"\"";
  size_t end = text.find_first_of("\r\n", start);
  if (end == std::string::npos) return text.substr(start);
  return text.substr(start, end - start) + " (the whole message: " + whole.string() + ")";
}

struct ChildOutcome {
  bool started = false;
  std::string start_error;
  bool exited = false;  // ended by exit(); status holds the code
  int status = 0;
  int signal = 0;       // ended by this signal
  bool killed = false;  // killed by us at the deadline
};

// The environment of a child: the parent's, without the variables that would point drives
// or serial ports outside the scenario's own copy.
std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string v = *e;
    if (v.rfind("KORVANE_DRIVE_", 0) == 0 || v.rfind("KORVANE_COM", 0) == 0) continue;
    env.push_back(v);
  }
  return env;
}

ChildOutcome RunChild(const std::vector<std::string>& args, const fs::path& out,
                      const fs::path& err, int64_t kill_after_ms) {
  ChildOutcome o;
  std::vector<char*> argv;
  std::vector<std::string> args_copy = args;
  for (auto& a : args_copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = ChildEnvironment();
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // Its own process group, so a kill reaches anything it started as well.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    o.start_error = "cannot start " + args[0] + ": " + std::strerror(rc);
    return o;
  }
  o.started = true;

  // A helper thread reaps the child; this one keeps the deadline and kills at it.
  std::mutex m;
  std::condition_variable cv;
  bool ended = false;
  int status = 0;
  std::thread waiter([&] {
    int st = 0;
    while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> lock(m);
    status = st;
    ended = true;
    cv.notify_all();
  });
  {
    std::unique_lock<std::mutex> lock(m);
    if (!cv.wait_for(lock, std::chrono::milliseconds(kill_after_ms), [&] { return ended; })) {
      ::kill(-pid, SIGKILL);
      o.killed = true;
    }
  }
  waiter.join();
  if (WIFEXITED(status)) {
    o.exited = true;
    o.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    o.signal = WTERMSIG(status);
  }
  return o;
}

// A file on a firmware drive of the copy: drives/X, each part of NAME found without regard
// to case, as the firmware's own file services find it.
bool FindDriveFile(const fs::path& folder, const std::string& where, fs::path& found) {
  fs::path at = folder / "drives";
  std::vector<std::string> parts = {
      std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(where[0]))))};
  std::string part;
  for (char c : where.substr(2)) {
    if (c == '\\' || c == '/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  for (const auto& p : parts) {
    std::error_code ec;
    bool hit = false;
    for (fs::directory_iterator it(at, ec), end; !ec && it != end; it.increment(ec)) {
      if (Lower(it->path().filename().string()) == Lower(p)) {
        at = it->path();
        hit = true;
        break;
      }
    }
    if (!hit) return false;
  }
  found = at;
  return fs::is_regular_file(found);
}

bool ReadPicture(const fs::path& path, int& w, int& h, std::vector<uint8_t>& rgb,
                 std::string& error) {
  bool ok = false;
  std::string bytes = Slurp(path, &ok);
  if (!ok) {
    error = "cannot read " + path.string();
    return false;
  }
  std::vector<uint8_t> data(bytes.begin(), bytes.end());
  if (!DecodeStoredPngRgb(data, &w, &h, &rgb, &error)) {
    error = path.string() + ": " + error;
    return false;
  }
  return true;
}

// A scenario name as one file-name part: letters, digits, '-' and '_' only, so no name can
// reach outside the folder it is put in ("..", "/").
std::string Safe(const std::string& name) {
  std::string out;
  for (char c : name)
    out += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c : '_';
  return out;
}

// The scenario's own work folder: the safe name alone could be shared by two names ("a b",
// "a_b") that run at the same time.
std::string FolderName(const std::string& name) {
  char hash[24];
  std::snprintf(hash, sizeof hash, "-%016llx",
                static_cast<unsigned long long>(std::hash<std::string>{}(name)));
  return Safe(name) + hash;
}

// Compares the run's screenshot with the golden picture; on a difference writes the actual
// picture and a difference picture (differing pixels red, the rest a dim copy) to the report
// folder.
void CheckScreen(const Check& c, const fs::path& actual, const Scenario& s, size_t run,
                 const ExecOptions& options, std::vector<std::string>& problems) {
  const std::string at = s.file + ":" + std::to_string(c.line) + ": ";
  std::error_code ec;
  if (options.update_golden) {
    fs::create_directories(fs::path(c.where).parent_path(), ec);
    if (!fs::copy_file(actual, c.where, fs::copy_options::overwrite_existing, ec))
      problems.push_back(at + "cannot update the golden picture " + c.where + ": " + ec.message());
    return;
  }
  if (!fs::exists(c.where)) {
    problems.push_back(at + "no golden picture " + c.where +
                       " (korvane-test --update-golden writes it from this run)");
    return;
  }
  int gw = 0, gh = 0, aw = 0, ah = 0;
  std::vector<uint8_t> golden, shot;
  std::string error;
  if (!ReadPicture(c.where, gw, gh, golden, error) || !ReadPicture(actual, aw, ah, shot, error)) {
    problems.push_back(at + error);
    return;
  }
  size_t differ = 0;
  int fx = -1, fy = -1;
  std::vector<uint8_t> diff(shot.size());
  if (gw == aw && gh == ah) {
    for (size_t i = 0; i < shot.size(); i += 3) {
      bool same = std::memcmp(&shot[i], &golden[i], 3) == 0;
      if (!same && differ++ == 0) {
        fx = static_cast<int>(i / 3 % static_cast<size_t>(aw));
        fy = static_cast<int>(i / 3 / static_cast<size_t>(aw));
      }
      diff[i] = same ? shot[i] / 4 : 255;
      diff[i + 1] = same ? shot[i + 1] / 4 : 0;
      diff[i + 2] = same ? shot[i + 2] / 4 : 0;
    }
    if (differ == 0) return;
  }
  fs::create_directories(options.report_dir, ec);
  const std::string stem =
      Safe(s.name) + "-run" + std::to_string(run + 1) + "-" + fs::path(c.where).stem().string();
  const fs::path actual_copy = fs::path(options.report_dir) / (stem + ".actual.png");
  fs::copy_file(actual, actual_copy, fs::copy_options::overwrite_existing, ec);
  std::string msg = at + "screen differs from " + c.where;
  if (gw != aw || gh != ah) {
    msg += ": " + std::to_string(aw) + " x " + std::to_string(ah) + " instead of " +
           std::to_string(gw) + " x " + std::to_string(gh);
  } else {
    const fs::path diff_path = fs::path(options.report_dir) / (stem + ".diff.png");
    std::string werror;
    WritePngRgb(diff_path.string(), aw, ah, diff.data(), &werror);
    msg += " in " + std::to_string(differ) + " pixels, the first at " + std::to_string(fx) + "," +
           std::to_string(fy) + " (difference: " + diff_path.string() + ")";
  }
  problems.push_back(msg + "; actual picture: " + actual_copy.string());
}

// Puts the scenario's options before the project name on the copy's project line.
bool AddOptions(const fs::path& tvx, const std::vector<std::string>& options,
                std::string& project_word, std::string& error) {
  bool ok = false;
  std::string text = Slurp(tvx, &ok);
  if (!ok) {
    error = "cannot read the project file " + tvx.string();
    return false;
  }
  size_t eol = text.find('\n');
  std::string line = text.substr(0, eol);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  if (words.size() < 2) {
    error = "the project file " + tvx.string() + " has no project line (program word ... name)";
    return false;
  }
  project_word = words.back();
  if (options.empty()) return true;
  words.insert(words.end() - 1, options.begin(), options.end());
  std::string joined;
  for (const auto& w : words) joined += (joined.empty() ? "" : " ") + w;
  std::string rest = eol == std::string::npos ? "" : text.substr(eol + 1);
  if (!WriteText(tvx, joined + "\n" + rest)) {
    error = "cannot write the copy's project file " + tvx.string();
    return false;
  }
  return true;
}

// The project folder's copy for one scenario; false with a problem when it cannot be made.
bool PrepareCopy(const Scenario& s, const ExecOptions& options, const fs::path& work, fs::path& tvx,
                 std::string& error) {
  fs::path project = options.project_dir.empty()
                         ? fs::path(s.file).parent_path() / s.project
                         : fs::path(options.project_dir) / fs::path(s.project).filename();
  std::error_code ec;
  if (!fs::is_regular_file(project, ec)) {
    error = "no project file " + project.string() +
            (options.project_dir.empty() ? " (the 'project' path is relative to the scenario file; "
                                           "--project-dir names another folder to find it in)"
                                         : "");
    return false;
  }
  fs::remove_all(work, ec);
  fs::create_directories(work.parent_path(), ec);
  fs::copy(project.parent_path(), work,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  if (ec) {
    error = "cannot copy the project folder " + project.parent_path().string() + " to " +
            work.string() + ": " + ec.message();
    return false;
  }
  tvx = work / project.filename();
  std::string word;
  if (!AddOptions(tvx, s.options, word, error)) return false;
  if (s.fresh_memory) {
    fs::path mem = work / (fs::path(word).stem().string() + ".mem");
    if (!WriteText(mem, "")) {
      error = "cannot empty the memory file " + mem.string();
      return false;
    }
  }
  return true;
}

void RunOne(const Scenario& s, size_t k, const ExecOptions& options, const fs::path& work,
            const fs::path& tvx, Result& r) {
  const Run& run = s.runs[k];
  const std::string tag = "run" + std::to_string(k + 1);
  const fs::path files = work.parent_path() / tag;
  std::error_code ec;
  fs::create_directories(files, ec);
  std::vector<std::string> args = {options.runner};
  if (s.virtual_time) args.push_back("--virtual-time=" + std::to_string(s.virtual_time));
  if (s.max_instructions)
    args.insert(args.end(), {"--max-instructions", std::to_string(s.max_instructions)});
  int64_t timeout = s.timeout_ms;
  if (timeout < 0 && s.max_instructions == 0) timeout = kDefaultTimeoutMs;
  if (timeout >= 0) args.insert(args.end(), {"--timeout-ms", std::to_string(timeout)});
  args.insert(args.end(), {"--log", (files / "aaa.txt").string()});
  if (!run.keys.empty()) args.insert(args.end(), {"--keys", run.keys});
  const fs::path shot = files / "screen.png";
  int expected_exit = 0;
  bool expect_set = false;
  for (const auto& c : run.checks) {
    if (c.kind == Check::kScreen) args.insert(args.end(), {"--screenshot", shot.string()});
    if (c.kind == Check::kMemory) {
      std::vector<uint8_t> bytes;
      ParseHexBytes(c.expected, bytes);
      args.insert(args.end(), {"--dump", c.where + ":" + std::to_string(bytes.size())});
    }
    if (c.kind == Check::kSerial)
      args.insert(args.end(), {"--serial-capture",
                               std::to_string(c.number) + ":" +
                                   (files / ("com" + std::to_string(c.number) + ".txt")).string()});
    if (c.kind == Check::kExitCode) {
      expected_exit = c.number;
      expect_set = true;
    }
  }
  for (const auto& [com, text] : run.serial_send)
    args.insert(args.end(), {"--serial-send", std::to_string(com) + ":" + SerialEscape(text)});
  const fs::path coverage = files / "coverage.info";
  if (options.coverage) args.insert(args.end(), {"--coverage", coverage.string()});
  args.push_back(tvx.string());

  const int64_t kill_after = (timeout >= 0 ? timeout : kInstructionLimitGuardMs) + kKillGraceMs;
  ChildOutcome o = RunChild(args, files / "stdout.txt", files / "stderr.txt", kill_after);
  const std::string at = s.file + ":" + std::to_string(run.first_line) + ": " + tag + ": ";
  if (!o.started) {
    r.status = Result::kError;
    r.problems.push_back(at + o.start_error);
    return;
  }
  const std::string out = Slurp(files / "stdout.txt");
  std::string err = Slurp(files / "stderr.txt");
  while (!err.empty() && err.back() == '\n') err.pop_back();
  if (!err.empty()) r.output += tag + ": " + err + "\n";
  const std::string limits =
      (s.max_instructions ? "--max-instructions " + std::to_string(s.max_instructions) : "") +
      (s.max_instructions && timeout >= 0 ? ", " : "") +
      (timeout >= 0 ? "--timeout-ms " + std::to_string(timeout) : "");
  if (o.killed) {
    r.hung = true;
    r.problems.push_back(at + "the run hung past its limit (" + limits + ") and was killed after " +
                         std::to_string(kill_after) + " ms");
    return;
  }
  if (!o.exited) {
    r.problems.push_back(at + "korvane-run ended by signal " + std::to_string(o.signal) + " (" +
                         strsignal(o.signal) + ")");
    return;
  }
  if (o.status == 2) {
    r.status = Result::kError;
    r.problems.push_back(at + "korvane-run refused the run: " + err);
    return;
  }
  if (options.coverage) {
    bool read = false;
    const std::string text = Slurp(coverage, &read);
    std::string why;
    if (!read || !ParseCoverage(text, coverage.string(), r.coverage, why))
      r.problems.push_back(at + (read ? why : "korvane-run wrote no coverage file"));
  }
  if (o.status != expected_exit) {
    std::string why =
        o.status == 0 ? "the firmware requested the exit"
        : o.status == 1
            ? "the run ended with the exit message: " + FirstLine(err, files / "stderr.txt")
        : o.status == 3
            ? "the run was stopped at its limit (" + limits + "): it hung or needs a higher limit"
            : "korvane-run ended with status " + std::to_string(o.status);
    if (o.status == 3) r.hung = true;
    r.problems.push_back(at + "exit code " + std::to_string(o.status) + " instead of " +
                         std::to_string(expected_exit) + (expect_set ? "" : " (the default)") +
                         ": " + why);
  }
  for (const auto& c : run.checks) {
    const std::string cat = s.file + ":" + std::to_string(c.line) + ": ";
    switch (c.kind) {
      case Check::kExitCode:
        break;
      case Check::kExitMessage:
        if (err.find(c.expected) == std::string::npos)
          r.problems.push_back(cat + "the exit message " + Visible(err) + " does not contain " +
                               Visible(c.expected));
        break;
      case Check::kScreen:
        if (!fs::exists(shot))
          r.problems.push_back(cat + "no screenshot was written");
        else
          CheckScreen(c, shot, s, k, options, r.problems);
        break;
      case Check::kMemory: {
        // Two checks of one symbol may dump different lengths: the line of this length counts.
        const std::string prefix = c.where + ": ";
        std::vector<uint8_t> want, have;
        ParseHexBytes(c.expected, want);
        std::string got;
        bool found = false;
        std::istringstream lines(out);
        for (std::string l; !found && std::getline(lines, l);)
          if (l.rfind(prefix, 0) == 0 && ParseHexBytes(l.substr(prefix.size()), have) &&
              have.size() == want.size()) {
            got = l.substr(prefix.size());
            found = true;
          }
        if (!found)
          r.problems.push_back(cat + "memory at " + c.where +
                               " was not dumped (is it a symbol of the executable?)");
        else if (want != have)
          r.problems.push_back(cat + "memory at " + c.where + " is " + got + " instead of " +
                               c.expected);
        break;
      }
      case Check::kSerial: {
        bool ok = false;
        std::string sent = Slurp(files / ("com" + std::to_string(c.number) + ".txt"), &ok);
        if (!ok)
          r.problems.push_back(cat + "nothing was captured on COM" + std::to_string(c.number));
        else if (sent != c.expected)
          r.problems.push_back(cat + "COM" + std::to_string(c.number) + " sent " + Visible(sent) +
                               " instead of " + Visible(c.expected));
        break;
      }
      case Check::kFile: {
        fs::path found;
        if (!FindDriveFile(work, c.where, found)) {
          r.problems.push_back(cat + "there is no file " + c.where);
          break;
        }
        std::string text = Slurp(found);
        bool ok = c.whole ? text == c.expected : text.find(c.expected) != std::string::npos;
        if (!ok)
          r.problems.push_back(cat + c.where + " holds " + Visible(text) +
                               (c.whole ? ", not exactly " : ", without ") + Visible(c.expected));
        break;
      }
    }
  }
}

}  // namespace

Result RunScenario(const Entry& entry, const ExecOptions& options) {
  Result r;
  const auto start = std::chrono::steady_clock::now();
  const Scenario& s = entry.scenario;
  const fs::path work = fs::path(options.work_root) / FolderName(s.name) / "project";
  r.folder = work.parent_path().string();
  std::string error;
  fs::path tvx;
  if (!entry.load_error.empty()) {
    r.status = Result::kError;
    r.problems.push_back(entry.load_error);
  } else if (!PrepareCopy(s, options, work, tvx, error)) {
    r.status = Result::kError;
    r.problems.push_back(s.file + ": " + error);
  } else {
    for (size_t k = 0; k < s.runs.size() && r.status != Result::kError; ++k)
      RunOne(s, k, options, work, tvx, r);
    if (r.status == Result::kPassed && !r.problems.empty()) r.status = Result::kFailed;
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return r;
}

}  // namespace korvane::test_tool
