// korvane-run's pieces: the option table, the run of the emulation thread with its limits,
// and the end-of-run dumps.
#include "runner.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "debug_console.h"
#include "driver/emulation_thread.h"
#include "driver/emulator.h"
#include "driver/input_record.h"
#include "driver/project_line.h"
#include "driver/run_session.h"
#include "driver/save_state.h"
#include "profile_output.h"

namespace korvane::run {

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kMaxDumpBytes = 1u << 20;

// A whole decimal number (or 0x hex) without sign; false when the text is anything else.
bool ParseCount(const std::string& text, uint64_t& out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  out = v;
  return true;
}

bool ApplyMaxInstructions(RunnerConfig& c, const std::string& v, std::string& error) {
  if (!ParseCount(v, c.max_instructions) || c.max_instructions == 0) {
    error = "--max-instructions needs a positive number, not '" + v + "'";
    return false;
  }
  return true;
}

bool ApplyTimeout(RunnerConfig& c, const std::string& v, std::string& error) {
  uint64_t ms = 0;
  if (!ParseCount(v, ms) || ms > static_cast<uint64_t>(INT64_MAX / 1000)) {
    error = "--timeout-ms needs a number of milliseconds, not '" + v + "'";
    return false;
  }
  c.timeout_ms = static_cast<int64_t>(ms);
  return true;
}

bool ApplyLog(RunnerConfig& c, const std::string& v, std::string& error) {
  if (v.empty()) {
    error = "--log needs a file name or '-'";
    return false;
  }
  c.log_path = v;
  return true;
}

bool ApplyDump(RunnerConfig& c, const std::string& v, std::string& error) {
  size_t colon = v.rfind(':');
  uint64_t length = 0;
  if (colon == std::string::npos || colon == 0 || !ParseCount(v.substr(colon + 1), length) ||
      length == 0 || length > kMaxDumpBytes) {
    error = "--dump needs NAME:LEN with LEN from 1 to " + std::to_string(kMaxDumpBytes) +
            ", not '" + v + "'";
    return false;
  }
  c.dumps.push_back({v.substr(0, colon), static_cast<uint32_t>(length)});
  return true;
}

bool ApplyStateFile(std::string& field, const char* option, const std::string& v,
                    std::string& error) {
  if (v.empty()) {
    error = std::string(option) + " needs a file name";
    return false;
  }
  field = v;
  return true;
}

bool ApplyLoadState(RunnerConfig& c, const std::string& v, std::string& error) {
  return ApplyStateFile(c.load_state, "--load-state", v, error);
}

bool ApplySaveState(RunnerConfig& c, const std::string& v, std::string& error) {
  return ApplyStateFile(c.save_state, "--save-state", v, error);
}

bool ApplyRecord(RunnerConfig& c, const std::string& v, std::string& error) {
  return ApplyStateFile(c.record, "--record", v, error);
}

bool ApplyReplay(RunnerConfig& c, const std::string& v, std::string& error) {
  return ApplyStateFile(c.replay, "--replay", v, error);
}

std::string JoinWords(const std::vector<std::string>& words) {
  std::string line;
  for (const auto& w : words) line += (line.empty() ? "" : " ") + w;
  return line;
}

bool ApplyDebug(RunnerConfig& c, const std::string&, std::string&) {
  c.debug = true;
  return true;
}

bool ApplyDebugScript(RunnerConfig& c, const std::string& v, std::string& error) {
  return ApplyStateFile(c.debug_script, "--debug-script", v, error);
}

bool ApplyTrace(RunnerConfig& c, const std::string& v, std::string& error) {
  return ApplyStateFile(c.trace, "--trace", v, error);
}

bool ApplyProfile(RunnerConfig& c, const std::string& v, std::string& error) {
  return ApplyStateFile(c.profile, "--profile", v, error);
}

bool ApplyProfileFormat(RunnerConfig& c, const std::string& v, std::string& error) {
  if (v != "table" && v != "folded") {
    error = "--profile-format needs table or folded, not '" + v + "'";
    return false;
  }
  c.profile_folded = v == "folded";
  return true;
}

bool ApplyCoverage(RunnerConfig& c, const std::string& v, std::string& error) {
  return ApplyStateFile(c.coverage, "--coverage", v, error);
}

bool ApplyTraceFrom(RunnerConfig& c, const std::string& v, std::string& error) {
  if (v.empty()) {
    error = "--trace-from needs a symbol or a hex address";
    return false;
  }
  c.trace_from = v;
  return true;
}

bool ApplyTraceLimit(RunnerConfig& c, const std::string& v, std::string& error) {
  if (!ParseCount(v, c.trace_limit) || c.trace_limit == 0) {
    error = "--trace-limit needs a positive number of lines, not '" + v + "'";
    return false;
  }
  return true;
}

bool ApplyHistory(RunnerConfig& c, const std::string& v, std::string& error) {
  if (!ParseCount(v, c.history) || c.history == 0 || c.history > kMaxHistory) {
    error = "--history needs a number of instructions from 1 to " + std::to_string(kMaxHistory) +
            ", not '" + v + "'";
    return false;
  }
  return true;
}

bool ApplySourceDir(RunnerConfig& c, const std::string& v, std::string& error) {
  std::error_code ec;
  if (v.empty() || !fs::is_directory(v, ec)) {
    error = "--source-dir needs a folder, not '" + v + "'";
    return false;
  }
  const fs::path dir = fs::absolute(v, ec);
  c.before_run.push_back(
      [dir = dir.string()](Emulator& emu) { emu.image.source_dirs.push_back(dir); });
  return true;
}

bool ApplyHelp(RunnerConfig& c, const std::string&, std::string&) {
  c.help = true;
  return true;
}

bool ApplyVersion(RunnerConfig& c, const std::string&, std::string&) {
  c.version = true;
  return true;
}

bool IsHexAddress(const std::string& name, uint32_t& address) {
  if (name.size() < 3 || name[0] != '0' || (name[1] != 'x' && name[1] != 'X')) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(name.c_str() + 2, &end, 16);
  if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
  address = static_cast<uint32_t>(v);
  return true;
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  return ec ? path : p.string();
}

// Turns SIGINT into debugger pauses while it exists (see RunEmulation); the calling thread's
// signal mask is restored at the end.
class InterruptWatcher {
 public:
  explicit InterruptWatcher(Debugger& debugger) {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set_, &old_);
    signal_fd_ = ::signalfd(-1, &set_, SFD_CLOEXEC);
    done_fd_ = ::eventfd(0, EFD_CLOEXEC);
    if (signal_fd_ < 0 || done_fd_ < 0) return;  // Ctrl+C stays blocked: nothing breaks
    thread_ = std::thread([this, &debugger] {
      pollfd fds[2] = {{signal_fd_, POLLIN, 0}, {done_fd_, POLLIN, 0}};
      for (;;) {
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents) return;
        if (fds[0].revents) {
          signalfd_siginfo info;
          if (::read(signal_fd_, &info, sizeof info) == sizeof info) debugger.RequestPause();
        }
      }
    });
  }
  ~InterruptWatcher() {
    if (thread_.joinable()) {
      uint64_t one = 1;
      (void)!::write(done_fd_, &one, sizeof one);
      thread_.join();
    }
    if (signal_fd_ >= 0) ::close(signal_fd_);
    if (done_fd_ >= 0) ::close(done_fd_);
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  InterruptWatcher(const InterruptWatcher&) = delete;
  InterruptWatcher& operator=(const InterruptWatcher&) = delete;

 private:
  sigset_t set_, old_;
  int signal_fd_ = -1, done_fd_ = -1;
  std::thread thread_;
};

}  // namespace

const std::vector<RunnerOption>& RunnerOptions() {
  static const std::vector<RunnerOption> kOptions = {
      {"--max-instructions", "N", "stop after N instructions", ApplyMaxInstructions},
      {"--timeout-ms", "N", "stop after N ms of wall-clock time", ApplyTimeout},
      {"--log", "FILE", "log to FILE instead of aaa.txt in the project file's folder; '-' = stdout",
       ApplyLog},
      {"--dump", "NAME:LEN",
       "at the end print \"NAME: \" and LEN bytes at symbol NAME (or a hex address 0x...) as "
       "lower-case hex pairs separated by blanks; repeatable",
       ApplyDump},
      {"--load-state", "FILE",
       "start from the machine state in FILE instead of the entry point; the project line "
       "must name the firmware it was saved from. --max-instructions then counts from the "
       "start of the original run",
       ApplyLoadState},
      {"--save-state", "FILE",
       "write the machine state to FILE at the end of the run, also when a limit stops it "
       "(not after an exit message)",
       ApplySaveState},
      {"--record", "FILE",
       "write every input the firmware takes (keys at x$readkeys, serial bytes received, "
       "wall-clock readings) with its instruction count to FILE, with the project line and "
       "the virtual-time rate",
       ApplyRecord},
      {"--replay", "FILE",
       "feed the inputs recorded in FILE back at the same instruction counts (the project "
       "line must be the recorded one; the recorded virtual-time rate applies and --keys is "
       "not used); a run that leaves the recording says so and exits with status 1",
       ApplyReplay},
      {"--debug", nullptr,
       "debug the firmware on the terminal: the run stops before its first instruction and "
       "reads gdb-style commands (help lists them) at every stop; Ctrl+C pauses the firmware",
       ApplyDebug},
      {"--debug-script", "FILE",
       "the same debugger, reading its commands from FILE and echoing them; the end of FILE "
       "quits",
       ApplyDebugScript},
      {"--trace", "FILE",
       "write one line per executed instruction to FILE: instruction count, ip, symbol+offset, "
       "disassembly and the registers it wrote",
       ApplyTrace},
      {"--trace-from", "WHERE", "start the trace at the first arrival at a symbol or hex address",
       ApplyTraceFrom},
      {"--trace-limit", "N", "write at most N trace lines (default 1000000)", ApplyTraceLimit},
      {"--history", "N",
       "keep the last N executed instructions for the whole run and log them after a fatal "
       "fault and at every stop (the debugger keeps 64 while it steps)",
       ApplyHistory},
      {"--profile", "FILE",
       "write the run's profile to FILE: instructions per procedure (self and with what it "
       "called), calls, native routines with their host time, and the call graph",
       ApplyProfile},
      {"--profile-format", "FORMAT",
       "table (default), or folded: one line per call stack, 'outer;middle;leaf COUNT', for "
       "flame graph tools",
       ApplyProfileFormat},
      {"--coverage", "FILE", "write which code ran, with counts, to FILE as an lcov tracefile",
       ApplyCoverage},
      {"--source-dir", "DIR",
       "look for source files in DIR too (after the project's and the executable's folders; "
       "repeatable): the debugger lists them and shows the line at each stop",
       ApplySourceDir},
      {"--help", nullptr, "show this text", ApplyHelp},
      {"--version", nullptr, "print the version and end", ApplyVersion},
  };
  return kOptions;
}

bool ParseRunnerArgs(const std::vector<std::string>& args, RunnerConfig& config,
                     std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      config.words.assign(args.begin() + static_cast<long>(i) + 1, args.end());
      if (config.words.empty()) {
        error = "'--' must be followed by the project line's words";
        return false;
      }
      if (!config.project_file.empty()) {
        error = "give either a project file or '-- WORD...', not both";
        return false;
      }
      return true;
    }
    if (a == "-h") {
      config.help = true;
      continue;
    }
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      size_t eq = a.find('=');
      std::string name = a.substr(0, eq);
      const RunnerOption* option = nullptr;
      for (const auto& o : RunnerOptions())
        if (name == o.name) option = &o;
      if (!option) {
        error = "unknown option " + name;
        return false;
      }
      std::string value;
      if (option->value_name) {
        if (eq != std::string::npos) {
          value = a.substr(eq + 1);
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          error = name + " needs a value (" + option->value_name + ")";
          return false;
        }
      } else if (eq != std::string::npos) {
        error = name + " takes no value";
        return false;
      }
      if (!option->apply(config, value, error)) return false;
      continue;
    }
    if (!config.project_file.empty()) {
      error = "more than one project file: " + config.project_file + " and " + a;
      return false;
    }
    config.project_file = a;
  }
  if (!config.help && !config.version && config.project_file.empty()) {
    error = "no project file and no '-- WORD...' given";
    return false;
  }
  return true;
}

std::string HelpText() {
  std::string t =
      "Usage: korvane-run [OPTIONS] PROJECT.tvx\n"
      "  or:  korvane-run [OPTIONS] -- WORD...\n"
      "\n"
      "Runs an i960 firmware image headless, as the Korvane window would run it.\n"
      "PROJECT.tvx: its first line (at most 127 characters) is the emulator's command line:\n"
      "a program word, emulator options (-v1, -mo100, ...) and last the project name. The\n"
      "names in the line (PROJECT.out, .xcl, .mem, .opt), the drives and the log resolve in\n"
      "the project file's folder. With '--', the words that follow are the command line\n"
      "itself and names resolve in the working directory.\n"
      "\n"
      "Options:\n";
  for (const auto& o : RunnerOptions()) {
    std::string head =
        std::string("  ") + o.name + (o.value_name ? std::string(" ") + o.value_name : "");
    if (head.size() < 24)
      head.resize(24, ' ');
    else
      head += "\n" + std::string(24, ' ');
    t += head + o.help + "\n";
  }
  t += "\n"
       "Exit status:\n"
       "  0  the run ended through an exit request (a key that ends the run)\n"
       "  1  the run ended with an exit message (also written to standard error)\n"
       "  2  bad usage\n"
       "  3  stopped by --max-instructions or --timeout-ms (the end report and statistics are\n"
       "     written to the log; the memory file is not written)\n"
       "  4  stopped by a breakpoint or watchpoint (-bc, -bd, -bo, -ic; or quit in the\n"
       "     debugger): the stop report is written to the log, the memory file is not written\n"
       "\n"
       "Emulator debug options that help in scripts: -di logs every intercepted call with the\n"
       "registers its handler reads (\"INTERCEPT name at IP=... target=... g0=... g6=... g7=...\n"
       "g9=...\"); -dk logs every key that reaches the firmware; -dr adds a register dump to\n"
       "fault reports; -dm logs data accesses outside every memory region (\"EMUMEM: unmapped\n"
       "access ... at IP=...\", the first 100, then one in 65536).\n"
       "\n"
       "Emulator options that stop the run (exit status 4 without --debug; with --debug or\n"
       "--debug-script the debugger takes the stop): -bcS:E at the first instruction in the\n"
       "code range S:E (hex); -bd[r|w]S:E after a read, write or either access to bytes in\n"
       "S:E (-bdw10068:1006B); -boS:E before an instruction whose opcode lies in S:E; -icN\n"
       "after N instructions. -w starts paused in the debugger (ignored without one); -dnN\n"
       "sets the length of the instruction history (default 64). A stop logs the state\n"
       "report, the instruction, the backtrace and the history. -tc counts down at each state\n"
       "report and changes nothing else; -dc is accepted and ignored.\n"
       "\n"
       "Code from today's i960 GCC (long long products, setjmp/longjmp) needs -xi, which\n"
       "executes the full instruction set (emul, ediv, addc, subc, rotate, shrdi, scanbit,\n"
       "spanbit, bal, flushreg, fmark, modac, modpc, movr, movrl, sinr, cosr, tanr); without it\n"
       "they end the run with E_INSTR and a log line naming the option.\n";
  return t;
}

bool FormatDump(Emulator& emu, const DumpRequest& dump, std::string& line, std::string& error) {
  uint32_t address = 0;
  auto it = emu.image.symbols.find(dump.name);
  if (it != emu.image.symbols.end()) {
    address = it->second;
  } else if (!IsHexAddress(dump.name, address)) {
    error = "--dump: no symbol " + dump.name + " in the executable";
    return false;
  }
  std::vector<uint8_t> bytes(dump.length);
  // Byte by byte, so a dump that crosses from one region into another shows both.
  for (uint32_t k = 0; k < dump.length; ++k) bytes[k] = GuestRead8(emu.mem, address + k);
  static const char kHex[] = "0123456789abcdef";
  line = dump.name + ": ";
  for (uint32_t k = 0; k < dump.length; ++k) {
    if (k) line += ' ';
    line += kHex[bytes[k] >> 4];
    line += kHex[bytes[k] & 15];
  }
  return true;
}

int RunEmulation(RunnerConfig& config, std::FILE* out, std::FILE* err) {
  std::vector<std::string> words = config.words;
  std::string workdir;
  if (!config.project_file.empty()) {
    std::string why;
    if (!ReadProjectFile(config.project_file, words, why)) {
      std::fprintf(err, "korvane-run: %s\n", why.c_str());
      return kExitUsage;
    }
    fs::path folder = fs::path(Absolute(config.project_file)).parent_path();
    workdir = folder.string();
  }

  std::shared_ptr<StateFile> state;
  if (!config.load_state.empty()) {
    // The file's framing is checked before anything runs; whether it fits the firmware is
    // checked once start-up has built the machine.
    state = std::make_shared<StateFile>();
    std::string why;
    if (!ReadStateFile(Absolute(config.load_state), *state, why)) {
      std::fprintf(err, "korvane-run: %s\n", why.c_str());
      return kExitUsage;
    }
  }
  // The project's names, its drives and the log resolve in the project file's folder; a log
  // name given on the command line is relative to where korvane-run was started.
  RunSetup setup;
  setup.base_folder = workdir;
  setup.words = words;
  setup.log_path = config.log_path.empty() || config.log_path == "-" ? config.log_path
                                                                     : Absolute(config.log_path);
  RunController runs;
  {
    std::string why;
    runs.Prepare(setup, state, why);  // nothing ran before: nothing to end
  }
  if (!runs.log_error().empty()) {
    std::fprintf(err, "korvane-run: %s\n", runs.log_error().c_str());
    return kExitUsage;
  }
  Emulator* emu = &runs.emu();

  CountsOutput counts;
  {
    std::string why;
    if (!counts.Open(config.profile.empty() ? "" : Absolute(config.profile), config.profile_folded,
                     config.coverage.empty() ? "" : Absolute(config.coverage), why)) {
      std::fprintf(err, "korvane-run: %s\n", why.c_str());
      return kExitUsage;
    }
  }
  counts.Attach(*emu);

  emu->run.max_instructions = config.max_instructions;
  for (auto& hook : config.before_run) hook(*emu);
  std::unique_ptr<InputReplayer> replayer;
  if (!config.replay.empty()) {
    InputRecording rec;
    std::string why;
    if (!ReadRecording(Absolute(config.replay), rec, why)) {
      std::fprintf(err, "korvane-run: %s\n", why.c_str());
      return kExitUsage;
    }
    if (rec.words != words) {
      std::fprintf(err, "korvane-run: %s was recorded with the project line '%s', not '%s'\n",
                   config.replay.c_str(), JoinWords(rec.words).c_str(), JoinWords(words).c_str());
      return kExitUsage;
    }
    // The replay ends where the recorded run ended (a stop by a time limit included).
    if (emu->run.max_instructions == 0 || emu->run.max_instructions > rec.end)
      emu->run.max_instructions = rec.end;
    emu->run.stop_at_start = rec.end == 0;
    replayer = std::make_unique<InputReplayer>(std::move(rec));
    replayer->Install(*emu);
  }
  if (!config.record.empty()) {
    std::string why;
    runs.StartRecording(Absolute(config.record), why);  // starts with the run
  }

  // The debugger, when an option of ours needs it; the run phase adds the emulator's own
  // break options. The trace file and the console outlive the run.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> trace(nullptr, std::fclose);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> script(nullptr, std::fclose);
  std::unique_ptr<DebugConsole> console;
  const bool console_wanted = config.debug || !config.debug_script.empty();
  if (console_wanted || !config.trace.empty() || config.history > 0) {
    emu->debugger = std::make_unique<Debugger>(*emu);
    if (config.history > 0) emu->debugger->SetHistory(config.history, true);
  }
  if (!config.trace.empty()) {
    trace.reset(std::fopen(Absolute(config.trace).c_str(), "w"));
    if (!trace) {
      std::fprintf(err, "korvane-run: cannot write the trace file %s\n", config.trace.c_str());
      return kExitUsage;
    }
    emu->debugger->StartTrace(trace.get(), config.trace_from, config.trace_limit);
  }
  if (console_wanted) {
    std::FILE* in = stdin;
    if (!config.debug_script.empty()) {
      script.reset(std::fopen(Absolute(config.debug_script).c_str(), "r"));
      if (!script) {
        std::fprintf(err, "korvane-run: cannot read the debug script %s\n",
                     config.debug_script.c_str());
        return kExitUsage;
      }
      in = script.get();
    }
    const bool terminal = config.debug_script.empty() && ::isatty(0) && ::isatty(1);
    console = std::make_unique<DebugConsole>(*emu, in, out, terminal);
    emu->debugger->SetStopHandler([c = console.get()](const DebugStop& s) { c->OnStop(s); });
    emu->debugger->StopAtStart(true);
  }

  {
    // With the console, Ctrl+C pauses the firmware into the debugger instead of ending
    // korvane-run: SIGINT is blocked in every thread started from here on and read from a
    // signal descriptor by a watcher thread.
    std::unique_ptr<InterruptWatcher> interrupts;
    if (console) interrupts = std::make_unique<InterruptWatcher>(*emu->debugger);
    EmulationThread& thread = runs.session().thread;
    runs.Start();
    if (config.timeout_ms >= 0 && !thread.WaitFor(std::chrono::milliseconds(config.timeout_ms)))
      thread.Stop();
    thread.Wait();
  }
  // EmuFinished is set; the message is complete.
  (void)emu->exit.finished.load(std::memory_order_acquire);

  for (auto& hook : config.after_run) hook(*emu);
  if (std::string why; !counts.Write(*emu, why)) {
    std::fprintf(err, "korvane-run: %s\n", why.c_str());
    return kExitMessage;
  }

  int status = kExitRequested;
  if (emu->exit.message[0] != '\0') {
    std::fprintf(err, "%s\n", emu->exit.message);
    status = kExitMessage;
  } else if (emu->debugger && emu->debugger->stopped_run()) {
    if (!console) {
      auto stop = emu->debugger->last_stop();
      std::fprintf(err, "korvane-run: %s\n", stop ? stop->summary.c_str() : "stopped");
    }
    status = kExitDebugStop;
  } else if (emu->run.stopped_by_host) {
    status = kExitStopped;
  }
  if (runs.recording()) {
    std::string why;
    if (!runs.FinishRecording(why)) {
      std::fprintf(err, "korvane-run: %s\n", why.c_str());
      if (status != kExitMessage) status = kExitUsage;
    }
  }
  if (replayer && !replayer->divergence().empty()) {
    std::fprintf(err, "korvane-run: replay of %s: %s\n", config.replay.c_str(),
                 replayer->divergence().c_str());
    status = kExitMessage;
  }
  if (!config.save_state.empty()) {
    std::string why;
    if (!runs.SaveStateTo(Absolute(config.save_state), why)) {
      std::fprintf(err, "korvane-run: %s\n", why.c_str());
      if (status != kExitMessage && emu->exit.message[0] == '\0') status = kExitUsage;
    }
  }
  for (const auto& dump : config.dumps) {
    std::string line, why;
    if (FormatDump(*emu, dump, line, why)) {
      std::fprintf(out, "%s\n", line.c_str());
    } else {
      std::fprintf(err, "korvane-run: %s\n", why.c_str());
      if (status != kExitMessage) status = kExitUsage;
    }
  }
  emu->log.Flush();
  std::fflush(out);
  return status;
}

}  // namespace korvane::run
