// The debug engine of one emulator: breakpoints, watchpoints, opcode and instruction-count
// stops, pause and stepping, backtraces, the instruction history and the instruction trace.
//
// How it reaches the run loop. While a Debugger exists it owns run.step_hook. The run loop
// calls the hook before every instruction only while the engine has work (an enabled
// breakpoint or watchpoint, a step in progress, a pause request, a trace, a kept history);
// otherwise the plain loop runs at full speed and the engine is asked again at the loop's
// check points (every 32768 instructions) and whenever the attention flag is raised (as
// RequestPause does). So an idle engine costs nothing and a window can keep one attached for
// the whole run. An edit made while the loop runs (a breakpoint or watchpoint added, enabled,
// disabled or deleted) returns once the emulation thread has taken it up, at its next check
// point or, while it steps, before its next instruction; so from the moment the call returns
// the firmware cannot run past the new breakpoint. Edits do not raise the attention flag, which
// would also cut short a serial wait.
//
// Watchpoints see the accesses of the instruction about to run, the frame words a call writes,
// and what native routines read and write on the firmware's behalf (reported with the routine's
// name as the accessor).
//
// Threads. Everything marked "any thread" takes the engine's mutex; everything else belongs to
// the emulation thread, or to another thread while the emulation thread waits in a stop (the
// waiting thread has published all its state through the mutex it waits on).
//
// Two kinds of front-end:
//   * A console (korvane-run --debug): its stop handler runs on the emulation thread, reads
//     and executes commands (they may read and write registers and memory directly) and
//     calls Resume() before it returns; the emulation then goes on at once.
//   * A window: it calls RequestPause() from the GUI thread; its stop handler (emulation
//     thread) only forwards the DebugStop to the GUI thread and returns without resuming. The
//     emulation thread then waits (condition variable of the run's HostControl, so it shows
//     as paused) until the GUI thread calls Resume(); meanwhile the GUI thread may read the
//     processor and guest memory and edit breakpoints. A host stop request (window closing,
//     a time-out: HostControl::RequestStop) always ends that wait and the run; a plain host
//     resume (EmulationThread::Resume) ends it as Resume({kContinue}) would.
// With no stop handler a stop ends the run at once, without the memory file (korvane-run
// without --debug: exit status 4); stopped_run() then says so and last_stop() says why.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

struct Processor;
struct Options;

// What a breakpoint watches: code addresses, data accesses, opcodes.
enum class BreakKind : uint8_t { kCode, kRead, kWrite, kAccess, kOpcode };

// A test on a register or a word of memory: "g4 == 5", "[counter] > 3", "r3 != 0x10".
// Values compare as unsigned 32-bit words.
struct BreakCondition {
  enum Op : uint8_t { kEq, kNe, kLt, kLe, kGt, kGe };
  bool active = false;
  bool memory = false;  // [address] when set, register `reg` otherwise
  int reg = 0;          // 0-15 r0-r15, 16-31 g0-g15, 32 ip, 33 cc
  uint32_t address = 0;
  Op op = kEq;
  uint32_t value = 0;
  std::string text;  // as written
};

struct Breakpoint {
  int id = 0;
  BreakKind kind = BreakKind::kCode;
  uint32_t start = 0, end = 0;  // inclusive; addresses, or opcodes for kOpcode
  std::string where;            // as written
  bool enabled = true;
  bool temporary = false;  // deleted when it stops the run (tbreak)
  uint64_t hit_count = 0;  // stops from this hit on; 0 and 1 stop at every hit
  uint64_t hits = 0;       // arrivals (code), accesses (data), so far
  BreakCondition condition;
};

enum class StopReason : uint8_t {
  kStart,             // stopped before the first instruction (-w, --debug)
  kPause,             // RequestPause
  kStep,              // a step or step over finished
  kStepOut,           // the procedure returned
  kRunTo,             // the run-to address was reached
  kBreakpoint,        // code breakpoint
  kWatchpoint,        // data access; reported before the instruction after the access
  kOpcode,            // opcode-range break
  kInstructionCount,  // -ic count reached
};
const char* StopReasonName(StopReason reason);

// One data access that a watchpoint saw. Values are the accessed bytes, little-endian.
struct WatchAccess {
  uint32_t ip = 0;       // the accessing instruction (for a native routine, the call)
  std::string accessor;  // the native routine that made the access, "" for the instruction
  uint32_t address = 0;
  uint32_t size = 0;  // 1 to 16
  bool write = false;
  uint8_t old_bytes[16] = {};
  uint8_t new_bytes[16] = {};
  // The value as hex ("0x0000002a"; words of a group separated by blanks).
  static std::string Hex(const uint8_t* bytes, uint32_t size);
};

struct DebugStop {
  StopReason reason = StopReason::kPause;
  uint32_t ip = 0;      // the instruction about to run
  int id = 0;           // breakpoint or watchpoint number, 0 for other reasons
  WatchAccess access;   // kWatchpoint
  std::string summary;  // one line: "Breakpoint 1 at 0x00010010 x.s:main+0x10"
};

enum class ResumeKind : uint8_t {
  kContinue,
  kStep,      // `count` instructions, into calls
  kStepOver,  // `count` instructions; a call runs until it returns to the next instruction
  kStepOut,   // until the current procedure's ret has run
  kRunTo,     // until `address` (or another stop)
  kEnd,       // end the run here, as a host stop does (no memory file)
  // `count` source lines, into calls (kStepLine) or over them (kNextLine): the run stops at the
  // first instruction of another line. Where ip has no line number they act as kStep and
  // kStepOver.
  kStepLine,
  kNextLine,
};

struct ResumeCommand {
  ResumeKind kind = ResumeKind::kContinue;
  uint64_t count = 1;
  uint32_t address = 0;
};

struct BacktraceFrame {
  uint32_t ip = 0;    // the instruction about to run (frame 0) or the return address
  uint32_t fp = 0;    // the frame's frame pointer
  std::string name;   // "module:symbol+0xOFF", or "" when no symbol is known
  std::string place;  // "file:line", or "" when the address has no line number
};

struct HistoryEntry {
  uint64_t count = 0;  // instructions executed before it
  uint32_t ip = 0;
  uint32_t words[2] = {};  // the instruction and the word after it (8-byte MEM forms)
};

constexpr size_t kDefaultHistory = 64;
constexpr size_t kMaxHistory = 1u << 20;
constexpr uint64_t kDefaultTraceLimit = 1000000;
constexpr size_t kMaxBacktrace = 256;  // frames walked at most (a looped chain ends there)

class Debugger {
 public:
  // Attaches to the processor (its run.step_hook); detached when destroyed, which must not
  // happen while the run loop runs.
  explicit Debugger(Processor& emu);
  ~Debugger();
  Debugger(const Debugger&) = delete;
  Debugger& operator=(const Debugger&) = delete;

  // ----- Set-up and edits (any thread) -----

  // Adds a breakpoint or watchpoint; returns its number, or 0 with `error` set.
  // `where` is a location: ADDR or SYMBOL[+OFF] (one address, a 4-byte word for watchpoints,
  // LOCATION/N for N bytes), or START:END (inclusive, each end a location). For kOpcode it is
  // an opcode range "S:E" in hex. `condition` ("" for none) as BreakCondition describes.
  int AddBreakpoint(BreakKind kind, std::string_view where, std::string_view condition,
                    uint64_t hit_count, bool temporary, std::string& error);
  bool DeleteBreakpoint(int id);
  void DeleteAllBreakpoints();
  bool EnableBreakpoint(int id, bool enabled);
  std::vector<Breakpoint> Breakpoints() const;

  // Sets the breakpoints and stops that the emulator options ask for (-bc, -bd, -bo, -ic, -dn,
  // and -w when a stop handler is set: without one nothing could continue) and resolves the
  // trace start. Called by the run phase once the options and symbols are read; an unknown
  // trace start ends the run with a message.
  void ApplyOptions(const Options& opt);
  // Stops before the first instruction the loop runs.
  void StopAtStart(bool on);
  // Stops when the run's instruction total reaches `total` (0: never).
  void StopAtInstruction(uint64_t total);

  // Called on the emulation thread at every stop (see the top of this file).
  void SetStopHandler(std::function<void(const DebugStop&)> handler);
  // Stops at the next instruction (any thread; effective within one instruction while the
  // engine steps, otherwise at the run loop's next look at its attention flag).
  void RequestPause();
  // Ends a stop (any thread; from the stop handler itself too).
  void Resume(const ResumeCommand& command);

  // The two calls below are for set-up before the run (or inside a stop handler).
  // History length (0 switches it off); kept whenever the engine steps. With `always` the
  // engine steps for the whole run so that every fatal fault shows the history.
  void SetHistory(size_t length, bool always);
  // Instruction trace: one line per executed instruction to `out` (not owned; it must outlive
  // the run), from the first arrival at `from` (a location as ParseAddress reads it, resolved
  // by ApplyOptions once the symbols are known; "" = from the start), at most `limit` lines.
  void StartTrace(std::FILE* out, const std::string& from, uint64_t limit);
  uint64_t trace_lines() const { return trace_lines_; }

  // ----- Results and state (emulation thread, or any thread while it waits in a stop) -----

  bool stopped_run() const { return stopped_run_; }
  std::optional<DebugStop> last_stop() const;
  bool paused_in_stop() const { return in_stop_.load(std::memory_order_acquire); }

  // Sets register n (0-15 r0-r15, 16-31 g0-g15, 32 ip, 33 cc) of a run that stands in a stop;
  // false with `error` for fp (it moves with calls and returns), local registers without a
  // frame, or an ip that is no instruction address in the text.
  bool SetRegister(int n, uint32_t value, std::string& error);

  // Parses an address: hex digits (with or without 0x), SYMBOL[+OFF] or FILE:LINE (where the
  // executable has line numbers); false with `error`.
  bool ParseAddress(std::string_view text, uint32_t& address, std::string& error) const;
  // "module:symbol+0xOFF" (or "symbol+0xOFF" outside every module), "" when no symbol is known.
  std::string NameAddress(uint32_t address) const;
  // "file:line" of a code address, "" when it has no line number.
  std::string PlaceOf(uint32_t address) const;
  // NameAddress followed by " at file:line" when the line is known: stops, backtraces, the
  // history and the trace name instructions this way.
  std::string Locate(uint32_t address) const;
  // The addresses [start, end) of the source line holding `address`; false when none.
  bool SourceLine(uint32_t address, uint32_t& start, uint32_t& end) const;
  // One instruction: "0x00010010 <main+0x10>: addo g0, g1, g2" (targets named by symbol).
  std::string DisassembleAt(uint32_t address) const;
  std::vector<BacktraceFrame> Backtrace() const;
  std::vector<HistoryEntry> History() const;  // oldest first

  // Text blocks for reports and consoles, each line ended by "\n".
  std::string FormatBacktrace() const;
  std::string FormatHistory() const;
  // Writes the stop report to the log: the state report, the current instruction, the
  // backtrace and the history.
  void LogStopReport(const DebugStop& stop);
  // After a fatal end of the run: writes the history to the log and finishes the trace.
  void OnFatalEnd();
  // Writes the trace line of the last instruction (the run has ended).
  void FinishTrace();

 private:
  struct Watched;  // emulation-thread copy of an enabled breakpoint

  static bool BeforeHook(void* ctx);
  static bool WantedHook(void* ctx);
  static void HostAccessHook(void* ctx, uint32_t address, uint32_t size, bool write);
  bool Before();
  bool CheckStops(uint32_t ip);
  bool Wanted();
  void Refresh();
  bool Stop(DebugStop stop);
  bool ConditionHolds(const BreakCondition& c);
  bool ParseLocation(std::string_view text, bool data, uint32_t& start, uint32_t& end,
                     std::string& error) const;
  bool ParseCondition(std::string_view text, BreakCondition& c, std::string& error) const;
  void NoteAccess(uint32_t ip, uint32_t word);
  void NoteHostAccess(uint32_t address, uint32_t size, bool write);
  bool EraseBreakpoint(int id);  // under m_
  std::vector<HistoryEntry> TrailHistory(uint64_t end, size_t limit) const;
  void AwaitTakenUp(uint64_t edit);
  bool CheckAccess();
  void TraceBefore(uint32_t ip, uint32_t word);
  void TraceAfter();
  void UpdateWork();

  Processor& emu_;

  // Shared with other threads, under m_.
  mutable std::mutex m_;
  std::vector<Breakpoint> breakpoints_;
  int next_id_ = 1;
  std::function<void(const DebugStop&)> handler_;
  std::optional<ResumeCommand> command_;
  std::optional<DebugStop> last_stop_;
  std::atomic<bool> dirty_{true};  // breakpoints_ changed since the emulation thread copied them
  std::condition_variable taken_up_cv_;
  uint64_t edits_ = 0;     // breakpoint edits so far
  uint64_t taken_up_ = 0;  // edits the emulation thread has copied
  std::atomic<bool> pause_request_{false};
  std::atomic<bool> in_stop_{false};
  bool want_stop_at_start_ = false;
  uint64_t want_stop_at_total_ = 0;

  // Emulation thread.
  std::vector<Watched> code_, data_, opcodes_;
  uint32_t code_lo_ = 1, code_hi_ = 0;  // bounds of all code ranges (lo > hi: none)
  bool stop_at_start_ = false;
  uint64_t stop_at_total_ = 0;
  ResumeKind mode_ = ResumeKind::kContinue;
  uint64_t steps_left_ = 0;
  uint32_t target_ip_ = 0;  // step over / run to
  uint32_t target_fp_ = 0;  // step over: the frame that must be current; step out: its pfp
  uint32_t line_start_ = 0, line_end_ = 0, line_fp_ = 0;  // line steps: the line left, its frame
  bool work_ = false;  // anything that needs the hook before every instruction
  bool stopped_run_ = false;
  bool started_ = false;
  uint32_t skip_ip_ = 0;  // the instruction the last stop was at runs without stopping again
  bool skip_ = false;

  std::vector<HistoryEntry> history_;
  size_t history_len_ = kDefaultHistory;
  size_t history_next_ = 0;
  uint64_t history_total_ = 0;
  bool history_always_ = false;

  bool access_pending_ = false;
  WatchAccess access_;
  int access_id_ = 0;

  std::FILE* trace_ = nullptr;
  std::optional<uint32_t> trace_from_;
  std::string trace_from_text_;
  uint64_t trace_limit_ = kDefaultTraceLimit;
  uint64_t trace_lines_ = 0;
  bool trace_on_ = false;
  bool trace_pending_ = false;
  uint64_t trace_count_ = 0;
  uint32_t trace_ip_ = 0;
  uint32_t trace_words_[2] = {};
  uint32_t trace_regs_[34] = {};  // r0-r15, g0-g15, cc, fp as they were before the instruction
};

}  // namespace korvane
