// The debug engine: breakpoints, watchpoints, stepping, backtraces, history and trace.
#include "core/debugger.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/decode.h"
#include "core/disassembler.h"
#include "core/loop_control.h"
#include "core/processor.h"

namespace korvane {

namespace {

constexpr int kRegIp = 32, kRegCc = 33;
constexpr uint32_t kMaxWatchBytes = 1u << 20;

std::string Hex8(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", v);
  return buf;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Hex digits with or without 0x, at most 32 bits.
bool ParseHex(std::string_view s, uint32_t& out) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
  if (s.empty() || s.size() > 8) return false;
  uint32_t v = 0;
  for (char c : s) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    v = v * 16 +
        static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c))
                                  ? c - '0'
                                  : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
  }
  out = v;
  return true;
}

// A number: 0x hex or decimal, optionally negative (two's complement), at most 32 bits.
bool ParseNumber(std::string_view s, uint32_t& out) {
  bool negative = !s.empty() && s[0] == '-';
  if (negative) s.remove_prefix(1);
  if (s.empty()) return false;
  uint32_t v = 0;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    if (!ParseHex(s, v)) return false;
  } else {
    uint64_t d = 0;
    for (char c : s) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
      d = d * 10 + static_cast<uint64_t>(c - '0');
      if (d > 0xFFFFFFFFull) return false;
    }
    v = static_cast<uint32_t>(d);
  }
  out = negative ? 0u - v : v;
  return true;
}

int RegisterNumber(std::string_view name) {
  static const struct {
    const char* name;
    int reg;
  } kAliases[] = {{"pfp", 0}, {"sp", 1}, {"rip", 2}, {"fp", 31}, {"ip", kRegIp}, {"cc", kRegCc}};
  for (const auto& a : kAliases)
    if (name == a.name) return a.reg;
  if (name.size() >= 2 && name.size() <= 3 && (name[0] == 'g' || name[0] == 'r')) {
    int n = 0;
    for (char c : name.substr(1)) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
      n = n * 10 + (c - '0');
    }
    if (n > 15) return -1;
    return name[0] == 'g' ? 16 + n : n;
  }
  return -1;
}

// Size and direction of the load or store of word w; 0 for any other instruction.
uint32_t AccessSize(uint32_t w, bool& write) {
  const OpcodeEntry& e = EntryOfOpcode(OpcodeOf(w));
  write = e.traits & kTraitStore;
  return e.traits & (kTraitLoad | kTraitStore) ? e.size : 0;
}

// Bytes of the instruction word w: 8 for the MEM forms that carry a displacement.
uint32_t InstructionLength(uint32_t w) {
  if ((w >> 24) < 0x80) return 4;
  const uint32_t mode = (w >> 10) & 0xF;
  return (mode == 5 || mode >= 12) ? 8 : 4;
}

bool IsCall(uint32_t w) { return EntryOfOpcode(OpcodeOf(w)).traits & kTraitCall; }

}  // namespace

struct Debugger::Watched {
  int id = 0;
  BreakKind kind = BreakKind::kCode;
  uint32_t start = 0, end = 0;
  uint64_t hit_count = 0;
  bool temporary = false;
  BreakCondition condition;
};

const char* StopReasonName(StopReason reason) {
  switch (reason) {
    case StopReason::kStart:
      return "start";
    case StopReason::kPause:
      return "pause";
    case StopReason::kStep:
      return "step";
    case StopReason::kStepOut:
      return "step out";
    case StopReason::kRunTo:
      return "run to";
    case StopReason::kBreakpoint:
      return "breakpoint";
    case StopReason::kWatchpoint:
      return "watchpoint";
    case StopReason::kOpcode:
      return "opcode break";
    case StopReason::kInstructionCount:
      return "instruction count";
  }
  return "?";
}

std::string WatchAccess::Hex(const uint8_t* bytes, uint32_t size) {
  std::string s;
  char buf[16];
  if (size <= 4 || size % 4 != 0) {
    uint64_t v = 0;
    for (uint32_t k = std::min<uint32_t>(size, 8); k-- > 0;) v = v << 8 | bytes[k];
    std::snprintf(buf, sizeof buf, "0x%0*llx", static_cast<int>(2 * std::min<uint32_t>(size, 8)),
                  static_cast<unsigned long long>(v));
    return buf;
  }
  for (uint32_t k = 0; k < size; k += 4) {
    uint32_t w;
    std::memcpy(&w, bytes + k, 4);
    std::snprintf(buf, sizeof buf, "%s0x%08x", k ? " " : "", w);
    s += buf;
  }
  return s;
}

Debugger::Debugger(Processor& emu) : emu_(emu) {
  emu_.run.step_hook = StepHook{this, &Debugger::BeforeHook, &Debugger::WantedHook};
}

Debugger::~Debugger() {
  if (emu_.run.step_hook.ctx == this) emu_.run.step_hook = StepHook{};
  if (emu_.mem.host_watch.ctx == this) emu_.mem.host_watch = HostAccessWatch{};
}

// Waits until the emulation thread has copied edit number `edit`, when a running loop may still
// be using the breakpoints from before it. A loop that steps copies them before its next
// instruction, the plain loop at its next check point; a loop that waits in a stop or a pause
// copies them before it goes on, so nothing is awaited then. The wait is bounded, for a loop
// held up in a native routine (a serial wait).
void Debugger::AwaitTakenUp(uint64_t edit) {
  const HostControl& control = emu_.run.control;
  std::unique_lock<std::mutex> lock(m_);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (taken_up_ < edit && control.running() && !control.paused() &&
         !in_stop_.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < give_up)
    taken_up_cv_.wait_for(lock, std::chrono::milliseconds(2));
}

// ----- Edits -----

bool Debugger::ParseAddress(std::string_view text, uint32_t& address, std::string& error) const {
  text = Trim(text);
  if (text.empty()) {
    error = "an address or symbol is missing";
    return false;
  }
  auto symbol = [this](std::string_view name, uint32_t& a) {
    return emu_.hooks.find_symbol && emu_.hooks.find_symbol(emu_.hooks.ctx, std::string(name), &a);
  };
  if (symbol(text, address)) return true;
  if (emu_.hooks.find_source_line &&
      emu_.hooks.find_source_line(emu_.hooks.ctx, std::string(text), &address))
    return true;
  size_t plus = text.find_last_of("+-");
  if (plus != std::string_view::npos && plus > 0) {
    uint32_t base = 0, offset = 0;
    std::string_view off = Trim(text.substr(plus + 1));
    if (symbol(Trim(text.substr(0, plus)), base) && ParseNumber(off, offset)) {
      address = text[plus] == '+' ? base + offset : base - offset;
      return true;
    }
  }
  if (ParseHex(text, address)) return true;
  error = "no symbol or hex address '" + std::string(text) + "'";
  return false;
}

bool Debugger::ParseLocation(std::string_view text, bool data, uint32_t& start, uint32_t& end,
                             std::string& error) const {
  text = Trim(text);
  size_t colon = text.find(':');
  // FILE:LINE is one code address, not a range.
  if (colon != std::string_view::npos && emu_.hooks.find_source_line &&
      emu_.hooks.find_source_line(emu_.hooks.ctx, std::string(text), &start)) {
    end = start + (data ? 3 : 0);
    return true;
  }
  if (colon != std::string_view::npos) {
    if (!ParseAddress(text.substr(0, colon), start, error) ||
        !ParseAddress(text.substr(colon + 1), end, error))
      return false;
    if (end < start) {
      error = "the range " + std::string(text) + " ends before it starts";
      return false;
    }
    return true;
  }
  size_t slash = text.rfind('/');
  uint32_t length = data ? 4 : 1;
  if (slash != std::string_view::npos) {
    if (!ParseNumber(Trim(text.substr(slash + 1)), length) || length == 0 ||
        length > kMaxWatchBytes) {
      error = "a length from 1 to " + std::to_string(kMaxWatchBytes) + " must follow '/'";
      return false;
    }
    text = text.substr(0, slash);
  }
  if (!ParseAddress(text, start, error)) return false;
  if (uint64_t{start} + length - 1 > 0xFFFFFFFFull) {
    error = "the range runs past the end of the address space";
    return false;
  }
  end = start + (length - 1);
  return true;
}

bool Debugger::ParseCondition(std::string_view text, BreakCondition& c, std::string& error) const {
  text = Trim(text);
  c = BreakCondition{};
  if (text.empty()) return true;
  size_t at = text.find_first_of("=!<>");
  if (at == std::string_view::npos || at == 0) {
    error = "a condition is REGISTER or [ADDRESS], then ==, !=, <, <=, > or >=, then a number";
    return false;
  }
  std::string_view lhs = Trim(text.substr(0, at));
  std::string_view rest = text.substr(at);
  static const struct {
    const char* text;
    BreakCondition::Op op;
  } kOps[] = {{"==", BreakCondition::kEq}, {"!=", BreakCondition::kNe}, {"<=", BreakCondition::kLe},
              {">=", BreakCondition::kGe}, {"<", BreakCondition::kLt},  {">", BreakCondition::kGt}};
  bool found = false;
  for (const auto& o : kOps) {
    if (rest.substr(0, std::strlen(o.text)) == o.text) {
      c.op = o.op;
      rest.remove_prefix(std::strlen(o.text));
      found = true;
      break;
    }
  }
  if (!found) {
    error = "unknown comparison in '" + std::string(text) + "'";
    return false;
  }
  if (!ParseNumber(Trim(rest), c.value)) {
    error = "the condition must end with a number, not '" + std::string(Trim(rest)) + "'";
    return false;
  }
  if (lhs.size() >= 2 && lhs.front() == '[' && lhs.back() == ']') {
    c.memory = true;
    if (!ParseAddress(lhs.substr(1, lhs.size() - 2), c.address, error)) return false;
  } else {
    c.reg = RegisterNumber(lhs);
    if (c.reg < 0) {
      error = "no register '" + std::string(lhs) + "'";
      return false;
    }
  }
  c.active = true;
  c.text = std::string(text);
  return true;
}

int Debugger::AddBreakpoint(BreakKind kind, std::string_view where, std::string_view condition,
                            uint64_t hit_count, bool temporary, std::string& error) {
  Breakpoint b;
  b.kind = kind;
  b.where = std::string(Trim(where));
  b.hit_count = hit_count;
  b.temporary = temporary;
  if (kind == BreakKind::kOpcode) {
    std::string_view w = Trim(where);
    size_t colon = w.find(':');
    bool ok = colon == std::string_view::npos ? ParseHex(w, b.start) && (b.end = b.start, true)
                                              : ParseHex(Trim(w.substr(0, colon)), b.start) &&
                                                    ParseHex(Trim(w.substr(colon + 1)), b.end);
    if (!ok || b.end < b.start || b.end >= kOpcodeIndexSize) {
      error = "an opcode range is S:E in hex, up to 7ff";
      return 0;
    }
  } else if (!ParseLocation(where, kind != BreakKind::kCode, b.start, b.end, error)) {
    return 0;
  }
  if (!ParseCondition(condition, b.condition, error)) return 0;
  uint64_t edit;
  {
    std::lock_guard<std::mutex> lock(m_);
    b.id = next_id_++;
    breakpoints_.push_back(b);
    edit = ++edits_;
    dirty_.store(true, std::memory_order_release);
  }
  AwaitTakenUp(edit);
  return b.id;
}

bool Debugger::EraseBreakpoint(int id) {
  auto it = std::find_if(breakpoints_.begin(), breakpoints_.end(),
                         [id](const Breakpoint& b) { return b.id == id; });
  if (it == breakpoints_.end()) return false;
  breakpoints_.erase(it);
  ++edits_;
  dirty_.store(true, std::memory_order_release);
  return true;
}

bool Debugger::DeleteBreakpoint(int id) {
  uint64_t edit;
  {
    std::lock_guard<std::mutex> lock(m_);
    if (!EraseBreakpoint(id)) return false;
    edit = edits_;
  }
  AwaitTakenUp(edit);
  return true;
}

void Debugger::DeleteAllBreakpoints() {
  uint64_t edit;
  {
    std::lock_guard<std::mutex> lock(m_);
    breakpoints_.clear();
    edit = ++edits_;
    dirty_.store(true, std::memory_order_release);
  }
  AwaitTakenUp(edit);
}

bool Debugger::EnableBreakpoint(int id, bool enabled) {
  uint64_t edit = 0;
  {
    std::lock_guard<std::mutex> lock(m_);
    for (auto& b : breakpoints_) {
      if (b.id != id) continue;
      b.enabled = enabled;
      edit = ++edits_;
      dirty_.store(true, std::memory_order_release);
      break;
    }
  }
  if (edit == 0) return false;
  AwaitTakenUp(edit);
  return true;
}

std::vector<Breakpoint> Debugger::Breakpoints() const {
  std::lock_guard<std::mutex> lock(m_);
  return breakpoints_;
}

void Debugger::ApplyOptions(const Options& opt) {
  // A range of 0:0 is the options' "no range".
  auto add = [this](BreakKind kind, uint32_t s, uint32_t e, const char* option) {
    if (s == 0 && e == 0) return;
    char text[32];
    if (kind == BreakKind::kOpcode)
      std::snprintf(text, sizeof text, "%x:%x", s, e);
    else
      std::snprintf(text, sizeof text, "0x%x:0x%x", s, e);
    std::string error;
    if (AddBreakpoint(kind, text, "", 0, false, error) == 0)
      emu_.log.Printf("DEBUG: %s%s ignored: %s\n", option, text, error.c_str());
  };
  add(BreakKind::kCode, opt.bc_start, opt.bc_end, "-bc");
  static const BreakKind kData[] = {BreakKind::kRead, BreakKind::kWrite, BreakKind::kAccess};
  add(kData[opt.bd_kind >= 0 && opt.bd_kind <= 2 ? opt.bd_kind : 2], opt.bd_start, opt.bd_end,
      "-bd");
  add(BreakKind::kOpcode, opt.bo_start, opt.bo_end, "-bo");
  if (opt.ic > 0) StopAtInstruction(static_cast<uint64_t>(opt.ic));
  bool has_handler;
  {
    std::lock_guard<std::mutex> lock(m_);
    has_handler = handler_ != nullptr;
  }
  if (opt.wait && has_handler) StopAtStart(true);
  if (!trace_from_text_.empty()) {
    uint32_t address = 0;
    std::string error;
    if (!ParseAddress(trace_from_text_, address, error))
      MsgExitDetail(emu_, "trace start not found: ", error.c_str());
    std::lock_guard<std::mutex> lock(m_);
    trace_from_ = address;
    trace_from_text_.clear();
    dirty_.store(true, std::memory_order_release);
  }
  if (opt.dn > 0)
    SetHistory(std::min<size_t>(static_cast<size_t>(opt.dn), kMaxHistory), history_always_);
}

void Debugger::StopAtStart(bool on) {
  std::lock_guard<std::mutex> lock(m_);
  want_stop_at_start_ = on;
  dirty_.store(true, std::memory_order_release);
}

void Debugger::StopAtInstruction(uint64_t total) {
  std::lock_guard<std::mutex> lock(m_);
  want_stop_at_total_ = total;
  dirty_.store(true, std::memory_order_release);
}

void Debugger::SetStopHandler(std::function<void(const DebugStop&)> handler) {
  std::lock_guard<std::mutex> lock(m_);
  handler_ = std::move(handler);
}

void Debugger::RequestPause() {
  pause_request_.store(true, std::memory_order_release);
  emu_.run.control.Raise();
}

void Debugger::Resume(const ResumeCommand& command) {
  std::lock_guard<std::mutex> lock(m_);
  if (!in_stop_.load(std::memory_order_acquire)) return;  // nothing waits for it
  // A pause asked for during the stop (Ctrl+C at the console's prompt) is this stop's.
  pause_request_.store(false, std::memory_order_release);
  command_ = command;
  emu_.run.control.SetPause(false);
}

void Debugger::SetHistory(size_t length, bool always) {
  std::lock_guard<std::mutex> lock(m_);
  history_len_ = std::min(length, kMaxHistory);
  history_.clear();
  history_next_ = 0;
  history_total_ = 0;
  history_always_ = always;
  dirty_.store(true, std::memory_order_release);
}

void Debugger::StartTrace(std::FILE* out, const std::string& from, uint64_t limit) {
  std::lock_guard<std::mutex> lock(m_);
  trace_ = out;
  trace_from_.reset();
  trace_from_text_ = from;
  trace_on_ = out && from.empty();
  trace_limit_ = limit;
  trace_lines_ = 0;
  dirty_.store(true, std::memory_order_release);
}

std::optional<DebugStop> Debugger::last_stop() const {
  std::lock_guard<std::mutex> lock(m_);
  return last_stop_;
}

// ----- The emulation thread -----

bool Debugger::BeforeHook(void* ctx) { return static_cast<Debugger*>(ctx)->Before(); }
bool Debugger::WantedHook(void* ctx) { return static_cast<Debugger*>(ctx)->Wanted(); }
void Debugger::HostAccessHook(void* ctx, uint32_t address, uint32_t size, bool write) {
  static_cast<Debugger*>(ctx)->NoteHostAccess(address, size, write);
}

bool Debugger::Wanted() {
  if (dirty_.load(std::memory_order_acquire)) Refresh();
  return work_ || mode_ != ResumeKind::kContinue || pause_request_.load(std::memory_order_acquire);
}

void Debugger::Refresh() {
  std::lock_guard<std::mutex> lock(m_);
  dirty_.store(false, std::memory_order_relaxed);
  taken_up_ = edits_;
  taken_up_cv_.notify_all();
  stop_at_start_ = want_stop_at_start_;
  if (want_stop_at_total_ > 0) stop_at_total_ = std::exchange(want_stop_at_total_, 0);
  code_.clear();
  data_.clear();
  opcodes_.clear();
  code_lo_ = 1;
  code_hi_ = 0;
  for (const Breakpoint& b : breakpoints_) {
    if (!b.enabled) continue;
    Watched w{b.id, b.kind, b.start, b.end, b.hit_count, b.temporary, b.condition};
    if (b.kind == BreakKind::kCode) {
      if (code_.empty() || b.start < code_lo_) code_lo_ = b.start;
      if (code_.empty() || b.end > code_hi_) code_hi_ = b.end;
      code_.push_back(w);
    } else if (b.kind == BreakKind::kOpcode) {
      opcodes_.push_back(w);
    } else {
      data_.push_back(w);
    }
  }
  // Host code that reads or writes guest memory reports to NoteHostAccess while data is watched.
  HostAccessWatch& watch = emu_.mem.host_watch;
  watch = HostAccessWatch{};
  if (!data_.empty()) {
    watch.active = true;
    watch.lo = data_.front().start;
    watch.hi = data_.front().end;
    for (const Watched& d : data_) {
      watch.lo = std::min(watch.lo, d.start);
      watch.hi = std::max(watch.hi, d.end);
    }
    watch.ctx = this;
    watch.seen = &Debugger::HostAccessHook;
  }
  UpdateWork();
}

void Debugger::UpdateWork() {
  const bool tracing = trace_ && (trace_on_ || trace_from_) && trace_lines_ < trace_limit_;
  work_ = !code_.empty() || !data_.empty() || !opcodes_.empty() || stop_at_total_ > 0 ||
          (stop_at_start_ && !started_) || tracing || history_always_;
}

bool Debugger::ConditionHolds(const BreakCondition& c) {
  if (!c.active) return true;
  const CpuState& cpu = emu_.cpu;
  uint32_t v;
  if (c.memory) {
    v = GuestRead32(emu_.mem, c.address);
  } else if (c.reg == kRegIp) {
    v = cpu.ip;
  } else if (c.reg == kRegCc) {
    v = cpu.cc;
  } else if (c.reg < 16 && !cpu.frame) {
    v = 0;
  } else {
    v = ReadReg(cpu, static_cast<unsigned>(c.reg));
  }
  switch (c.op) {
    case BreakCondition::kEq:
      return v == c.value;
    case BreakCondition::kNe:
      return v != c.value;
    case BreakCondition::kLt:
      return v < c.value;
    case BreakCondition::kLe:
      return v <= c.value;
    case BreakCondition::kGt:
      return v > c.value;
    case BreakCondition::kGe:
      return v >= c.value;
  }
  return false;
}

// Counts a hit of breakpoint `id`; true when its hit count has been reached.
static bool CountHit(std::mutex& m, std::vector<Breakpoint>& list, int id, uint64_t hit_count) {
  std::lock_guard<std::mutex> lock(m);
  for (auto& b : list) {
    if (b.id == id) return ++b.hits >= hit_count;
  }
  return true;
}

bool Debugger::Before() {
  CpuState& cpu = emu_.cpu;
  if (dirty_.load(std::memory_order_acquire)) Refresh();
  if (trace_pending_) TraceAfter();
  const uint32_t ip = cpu.ip;
  // One test for everything that may stop here; the checks themselves are out of line.
  if (access_pending_ || (ip - code_lo_ <= code_hi_ - code_lo_ && code_lo_ <= code_hi_) ||
      !opcodes_.empty() || stop_at_total_ > 0 || !started_ || mode_ != ResumeKind::kContinue ||
      pause_request_.load(std::memory_order_relaxed)) {
    if (CheckStops(ip)) return true;
  }

  // The instruction will run: history, watched accesses, trace.
  const uint32_t at = cpu.ip;
  uint32_t words[2];
  const MemRegion& text = emu_.mem.regions[kRegionText];
  if (text.host && uint64_t{at - text.base} + 8 <= text.size) {
    std::memcpy(words, text.host + (at - text.base), 8);
  } else {
    words[0] = GuestRead32(emu_.mem, at);
    words[1] = GuestRead32(emu_.mem, at + 4);
  }
  if (history_len_ > 0) {
    if (history_.size() != history_len_) history_.resize(history_len_);
    HistoryEntry& e = history_[history_next_];
    e.count = static_cast<uint32_t>(cpu.icount);  // widened when it is shown
    e.ip = at;
    e.words[0] = words[0];
    e.words[1] = words[1];
    if (++history_next_ == history_len_) history_next_ = 0;
    ++history_total_;
  }
  if (!data_.empty()) NoteAccess(at, words[0]);
  if (trace_ && (trace_on_ || trace_from_)) TraceBefore(at, words[0]);
  if (!work_ && mode_ == ResumeKind::kContinue) emu_.run.step_release = true;
  return false;
}

bool Debugger::CheckStops(uint32_t ip) {
  CpuState& cpu = emu_.cpu;
  DebugStop stop;
  bool stopping = false;
  auto want = [&](StopReason reason, int id) {
    if (stopping) return;
    stopping = true;
    stop.reason = reason;
    stop.id = id;
  };
  if (access_pending_) {
    access_pending_ = false;
    if (CheckAccess()) {
      want(StopReason::kWatchpoint, access_id_);
      stop.access = access_;
    }
  }
  if (!code_.empty() && ip >= code_lo_ && ip <= code_hi_) {
    int remove = 0;
    for (const Watched& w : code_) {
      if (ip < w.start || ip > w.end) continue;
      if (!ConditionHolds(w.condition)) continue;
      if (!CountHit(m_, breakpoints_, w.id, w.hit_count)) continue;
      want(StopReason::kBreakpoint, w.id);
      if (w.temporary && stop.id == w.id) remove = w.id;
    }
    if (remove) {
      std::lock_guard<std::mutex> lock(m_);
      EraseBreakpoint(remove);
    }
  }
  if (!opcodes_.empty()) {
    const uint32_t op = OpcodeOf(GuestRead32(emu_.mem, ip));
    for (const Watched& w : opcodes_) {
      if (op < w.start || op > w.end || !ConditionHolds(w.condition)) continue;
      if (CountHit(m_, breakpoints_, w.id, w.hit_count)) want(StopReason::kOpcode, w.id);
    }
  }
  if (stop_at_total_ > 0 && CurrentInstructionTotal(emu_) >= stop_at_total_) {
    stop_at_total_ = 0;  // once
    want(StopReason::kInstructionCount, 0);
  }
  if (!started_) {
    started_ = true;
    if (stop_at_start_) want(StopReason::kStart, 0);
  }
  if (pause_request_.load(std::memory_order_relaxed) &&
      pause_request_.exchange(false, std::memory_order_acq_rel))
    want(StopReason::kPause, 0);
  switch (mode_) {
    case ResumeKind::kStep:
      if (--steps_left_ == 0) want(StopReason::kStep, 0);
      break;
    case ResumeKind::kStepOver: {
      // One step is done when a plain instruction has run, or a call has come back to the
      // instruction after it in the same frame.
      if (target_ip_ != 0 && (ip != target_ip_ || cpu.g[15] != target_fp_)) break;
      if (--steps_left_ == 0) {
        want(StopReason::kStep, 0);
        break;
      }
      const uint32_t w = GuestRead32(emu_.mem, ip);
      target_ip_ = IsCall(w) ? ip + InstructionLength(w) : 0;
      target_fp_ = cpu.g[15];
      break;
    }
    case ResumeKind::kStepOut:
      if (cpu.g[15] == target_fp_) want(StopReason::kStepOut, 0);
      break;
    case ResumeKind::kStepLine:
    case ResumeKind::kNextLine: {
      // Frames grow upwards: a deeper frame is a called procedure, which `next` runs through.
      const uint32_t fp = cpu.g[15];
      if (mode_ == ResumeKind::kNextLine && fp > line_fp_) break;
      if (fp == line_fp_ && ip >= line_start_ && ip < line_end_) break;
      // Code without line numbers, and the middle of a line (the rest of the caller's line
      // after a return), run on to the start of a line.
      uint32_t start = 0, end = 0;
      if (!SourceLine(ip, start, end) || ip != start) break;
      if (--steps_left_ == 0) {
        want(StopReason::kStep, 0);
        break;
      }
      line_start_ = start;
      line_end_ = end;
      line_fp_ = fp;
      break;
    }
    case ResumeKind::kRunTo:
      if (ip == target_ip_) want(StopReason::kRunTo, 0);
      break;
    default:
      break;
  }
  if (!stopping) return false;
  stop.ip = ip;
  if (Stop(stop)) return true;
  if (dirty_.load(std::memory_order_acquire)) Refresh();
  return false;
}

bool Debugger::Stop(DebugStop stop) {
  CpuState& cpu = emu_.cpu;
  const std::string where = Hex8(stop.ip) + " " + Locate(stop.ip);
  switch (stop.reason) {
    case StopReason::kBreakpoint:
      stop.summary = "Breakpoint " + std::to_string(stop.id) + " at " + where;
      break;
    case StopReason::kWatchpoint: {
      const WatchAccess& a = stop.access;
      const std::string by = a.accessor.empty() ? Hex8(a.ip) + " " + NameAddress(a.ip)
                                                : a.accessor + " [native] called at " + Hex8(a.ip) +
                                                      " " + NameAddress(a.ip);
      stop.summary = "Watchpoint " + std::to_string(stop.id) + ": " + (a.write ? "write" : "read") +
                     " by " + by + ", address " + Hex8(a.address) + ", size " +
                     std::to_string(a.size) + ", old " + WatchAccess::Hex(a.old_bytes, a.size) +
                     ", new " + WatchAccess::Hex(a.new_bytes, a.size) + "; now at " + where;
      break;
    }
    case StopReason::kOpcode:
      stop.summary = "Opcode break " + std::to_string(stop.id) + " at " + where;
      break;
    case StopReason::kInstructionCount:
      stop.summary = "Instruction count " + std::to_string(CurrentInstructionTotal(emu_)) +
                     " reached at " + where;
      break;
    case StopReason::kStart:
      stop.summary = "Stopped at the start, " + where;
      break;
    case StopReason::kPause:
      stop.summary = "Paused at " + where;
      break;
    case StopReason::kStep:
      stop.summary = "Stepped to " + where;
      break;
    case StopReason::kStepOut:
      stop.summary = "Returned to " + where;
      break;
    case StopReason::kRunTo:
      stop.summary = "Reached " + where;
      break;
  }
  while (!stop.summary.empty() && stop.summary.back() == ' ') stop.summary.pop_back();
  LogStopReport(stop);
  mode_ = ResumeKind::kContinue;

  std::function<void(const DebugStop&)> handler;
  {
    std::lock_guard<std::mutex> lock(m_);
    last_stop_ = stop;
    command_.reset();
    handler = handler_;
    in_stop_.store(handler != nullptr, std::memory_order_release);
  }
  if (!handler) {
    stopped_run_ = true;
    return true;
  }
  handler(stop);

  HostControl& control = emu_.run.control;
  ResumeCommand command;
  bool host_stop = false;
  {
    std::unique_lock<std::mutex> lock(m_);
    if (command_) {
      command = *command_;
    } else {
      control.SetPause(true);
      lock.unlock();
      host_stop = control.WaitWhilePaused();
      lock.lock();
      if (command_) command = *command_;  // else resumed from outside: continue
    }
    command_.reset();
    in_stop_.store(false, std::memory_order_release);
  }
  if (host_stop) {
    control.SetPause(false);
    return true;
  }
  ResumeKind kind = command.kind;
  if (kind == ResumeKind::kStepLine || kind == ResumeKind::kNextLine) {
    if (SourceLine(cpu.ip, line_start_, line_end_)) {
      mode_ = kind;
      steps_left_ = std::max<uint64_t>(command.count, 1);
      line_fp_ = cpu.g[15];
      return false;
    }
    kind = kind == ResumeKind::kStepLine ? ResumeKind::kStep : ResumeKind::kStepOver;
  }
  switch (kind) {
    case ResumeKind::kContinue:
    case ResumeKind::kStepLine:
    case ResumeKind::kNextLine:
      break;
    case ResumeKind::kStep:
      mode_ = ResumeKind::kStep;
      steps_left_ = std::max<uint64_t>(command.count, 1);
      break;
    case ResumeKind::kStepOver: {
      mode_ = ResumeKind::kStepOver;
      steps_left_ = std::max<uint64_t>(command.count, 1);
      const uint32_t w = GuestRead32(emu_.mem, cpu.ip);
      target_ip_ = IsCall(w) ? cpu.ip + InstructionLength(w) : 0;
      target_fp_ = cpu.g[15];
      break;
    }
    case ResumeKind::kStepOut:
      mode_ = ResumeKind::kStepOut;
      target_fp_ = cpu.frame ? ReadReg(cpu, 0) : 0;
      break;
    case ResumeKind::kRunTo:
      mode_ = ResumeKind::kRunTo;
      target_ip_ = command.address;
      break;
    case ResumeKind::kEnd:
      stopped_run_ = true;
      return true;
  }
  return false;
}

// ----- Watchpoints -----

void Debugger::NoteAccess(uint32_t ip, uint32_t w) {
  bool write = false;
  const uint32_t size = AccessSize(w, write);
  if (size == 0) return;
  const CpuState& cpu = emu_.cpu;
  const uint32_t mode = (w >> 10) & 0xF;
  if (mode == 6 || !cpu.frame) return;  // the instruction faults before any access
  const uint32_t disp = MemModeHasDisplacement(w) ? GuestRead32(emu_.mem, ip + 4) : 0;
  const uint32_t ea = MemEffectiveAddress(cpu, w, ip, disp);
  const uint64_t first = ea, last = uint64_t{ea} + size - 1;
  for (const Watched& d : data_) {
    const bool kind_ok = d.kind == BreakKind::kAccess || (d.kind == BreakKind::kWrite) == write;
    if (!kind_ok || last < d.start || first > d.end) continue;
    if (!CountHit(m_, breakpoints_, d.id, d.hit_count)) continue;
    access_pending_ = true;
    access_id_ = d.id;
    access_ = WatchAccess{};
    access_.ip = ip;
    access_.address = ea;
    access_.size = size;
    access_.write = write;
    GuestRead(emu_.mem, ea, access_.old_bytes, size);
    return;
  }
}

// An access by host code during the instruction that runs: a native routine's, or a call's
// frame words. The first watched access of an instruction is the one reported.
void Debugger::NoteHostAccess(uint32_t address, uint32_t size, bool write) {
  if (access_pending_ || size == 0) return;
  HostAccessWatch& watch = emu_.mem.host_watch;
  const uint64_t first = address, last = uint64_t{address} + size - 1;
  for (const Watched& d : data_) {
    const bool kind_ok = d.kind == BreakKind::kAccess || (d.kind == BreakKind::kWrite) == write;
    if (!kind_ok || last < d.start || first > d.end) continue;
    if (!CountHit(m_, breakpoints_, d.id, d.hit_count)) continue;
    // The watched part of the access, at most 16 bytes of it.
    const uint32_t from = static_cast<uint32_t>(std::max<uint64_t>(first, d.start));
    const uint64_t to = std::min<uint64_t>(last, d.end);
    access_pending_ = true;
    access_id_ = d.id;
    access_ = WatchAccess{};
    access_.ip = emu_.cpu.ip;
    access_.accessor = watch.routine ? watch.routine : "";
    access_.address = from;
    access_.size = static_cast<uint32_t>(std::min<uint64_t>(to - from + 1, 16));
    access_.write = write;
    watch.armed = false;  // the debugger's own read is no access of the firmware's
    GuestRead(emu_.mem, from, access_.old_bytes, access_.size);
    watch.armed = true;
    return;
  }
}

bool Debugger::CheckAccess() {
  GuestRead(emu_.mem, access_.address, access_.new_bytes, access_.size);
  for (const Watched& d : data_)
    if (d.id == access_id_) return ConditionHolds(d.condition);
  return true;  // deleted meanwhile: report the access it saw
}

// ----- Names, disassembly, backtrace, history -----

std::string Debugger::NameAddress(uint32_t address) const {
  std::string name;
  uint32_t offset = 0;
  if (!emu_.hooks.name_address || !emu_.hooks.name_address(emu_.hooks.ctx, address, &name, &offset))
    return "";
  char buf[16];
  std::snprintf(buf, sizeof buf, "+0x%x", offset);
  return name + buf;
}

std::string Debugger::PlaceOf(uint32_t address) const {
  std::string place;
  uint32_t start = 0, end = 0;
  if (!emu_.hooks.source_line ||
      !emu_.hooks.source_line(emu_.hooks.ctx, address, &place, &start, &end))
    return "";
  return place;
}

std::string Debugger::Locate(uint32_t address) const {
  const std::string place = PlaceOf(address);
  return place.empty() ? NameAddress(address) : NameAddress(address) + " at " + place;
}

bool Debugger::SourceLine(uint32_t address, uint32_t& start, uint32_t& end) const {
  std::string place;
  return emu_.hooks.source_line &&
         emu_.hooks.source_line(emu_.hooks.ctx, address, &place, &start, &end);
}

std::string Debugger::DisassembleAt(uint32_t address) const {
  SymbolNamer namer = [this](uint32_t a) -> std::string {
    std::string name = NameAddress(a);
    if (name.empty()) return "";
    size_t colon = name.find(':');
    if (colon != std::string::npos) name.erase(0, colon + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, "+0x0") == 0)
      name.resize(name.size() - 4);
    return "<" + name + ">";
  };
  MemoryMap& mem = const_cast<MemoryMap&>(emu_.mem);
  DisassembledInstruction d = DisassembleInstruction(address, GuestRead32(mem, address),
                                                     GuestRead32(mem, address + 4), namer);
  std::string text = d.mnemonic;
  if (!d.operands.empty()) {
    if (text.size() < 8) text.resize(8, ' ');
    text += " " + d.operands;
  }
  return text;
}

std::vector<BacktraceFrame> Debugger::Backtrace() const {
  const CpuState& cpu = emu_.cpu;
  const MemRegion& stack = emu_.mem.regions[kRegionStck];
  MemoryMap& mem = const_cast<MemoryMap&>(emu_.mem);
  auto frame_ok = [&stack](uint32_t fp) {
    return stack.host && fp >= stack.base && uint64_t{fp} + kFrameBytes <= uint64_t{stack.last} + 1;
  };
  std::vector<BacktraceFrame> frames;
  uint32_t fp = cpu.g[15];
  frames.push_back({cpu.ip, fp, NameAddress(cpu.ip), PlaceOf(cpu.ip)});
  while (frames.size() < kMaxBacktrace && frame_ok(fp)) {
    const uint32_t pfp = GuestRead32(mem, fp);
    // Frames grow upwards: a caller's frame lies below its callee's. Anything else is a
    // damaged or finished chain.
    if (!frame_ok(pfp) || pfp >= fp) break;
    const uint32_t rip = GuestRead32(mem, pfp + 8);
    if (!IsCodeTarget(mem, rip)) break;
    frames.push_back({rip, pfp, NameAddress(rip), PlaceOf(rip)});
    fp = pfp;
  }
  return frames;
}

// The instructions the fast core ran before instruction number `end` (at most `limit`, the
// newest), rebuilt from its trail: each entry starts a stretch that runs straight on to the next
// entry, a mark, or `end`. Instructions run elsewhere (the stepping loop) before `end` are never
// made up: a stretch is walked only up to the next thing the trail knows of.
std::vector<HistoryEntry> Debugger::TrailHistory(uint64_t end, size_t limit) const {
  std::vector<HistoryEntry> out;
  const FastTrail& trail = emu_.run.fast_trail;
  const uint64_t total = CurrentInstructionTotal(emu_);
  const uint32_t now = static_cast<uint32_t>(emu_.cpu.icount);
  const uint64_t kept = std::min<uint64_t>(trail.next, FastTrail::kSize);
  MemoryMap& mem = const_cast<MemoryMap&>(emu_.mem);
  const MemRegion& text = mem.regions[kRegionText];
  uint64_t stretch_end = end;  // the newer entry's start, newest first
  for (uint64_t k = 0; k < kept && out.size() < limit; ++k) {
    const uint32_t slot = static_cast<uint32_t>(trail.next - 1 - k) & (FastTrail::kSize - 1);
    const uint32_t age = now - trail.count[slot];
    if (age > total) break;  // from before this run's loop
    const uint64_t start = total - age;
    if (start >= stretch_end) continue;  // overtaken by what follows (a later entry, the end)
    const uint64_t stop = stretch_end;
    stretch_end = start;
    if (trail.ip[slot] == FastTrail::kLeft) continue;
    std::vector<HistoryEntry> stretch;
    uint32_t ip = trail.ip[slot];
    for (uint64_t c = start; c < stop && RegionHolds(text, ip); ++c) {
      HistoryEntry e;
      e.count = c;
      e.ip = ip;
      e.words[0] = GuestRead32(mem, ip);
      e.words[1] = GuestRead32(mem, ip + 4);
      stretch.push_back(e);
      ip += InstructionLength(e.words[0]);
    }
    const size_t take = std::min(stretch.size(), limit - out.size());
    out.insert(out.begin(), stretch.end() - static_cast<std::ptrdiff_t>(take), stretch.end());
  }
  return out;
}

std::vector<HistoryEntry> Debugger::History() const {
  std::vector<HistoryEntry> out;
  if (history_len_ == 0) return out;
  if (history_.empty()) return TrailHistory(CurrentInstructionTotal(emu_) + 1, history_len_);
  const size_t size = history_.size();
  const size_t kept = std::min<uint64_t>(history_total_, size);
  const uint32_t now = static_cast<uint32_t>(emu_.cpu.icount);
  // Only the entries that lead up to now without a gap: the plain loop, which ran between two
  // stepping periods, records nothing. The newest entry is the instruction just executed, or
  // the one that was executing (a fatal fault ends it before the count moves on).
  size_t n = 0;
  uint32_t expect = now;
  for (; n < kept; ++n) {
    const uint32_t c = static_cast<uint32_t>(history_[(history_next_ + size - 1 - n) % size].count);
    if (n == 0 && c == now) expect = now + 1;
    if (c != expect - 1) break;
    expect = c;
  }
  const size_t first = (history_next_ + size - n) % size;
  // Entries hold the 32-bit instruction count; the total now gives them their high bits.
  const uint64_t total = CurrentInstructionTotal(emu_);
  for (size_t k = 0; k < n; ++k) {
    HistoryEntry e = history_[(first + k) % size];
    e.count = total - static_cast<uint32_t>(now - static_cast<uint32_t>(e.count));
    out.push_back(e);
  }
  if (out.size() < size) {
    // What the fast core ran before them comes from its trail.
    std::vector<HistoryEntry> before =
        TrailHistory(out.empty() ? total + 1 : out.front().count, size - out.size());
    out.insert(out.begin(), before.begin(), before.end());
  }
  return out;
}

std::string Debugger::FormatBacktrace() const {
  std::string out;
  char buf[48];
  const auto frames = Backtrace();
  for (size_t k = 0; k < frames.size(); ++k) {
    std::snprintf(buf, sizeof buf, "#%-3zu 0x%08x ", k, frames[k].ip);
    out += buf + frames[k].name + (frames[k].place.empty() ? "" : " at " + frames[k].place) + "\n";
  }
  return out;
}

std::string Debugger::FormatHistory() const {
  std::string out;
  char buf[48];
  for (const HistoryEntry& e : History()) {
    std::snprintf(buf, sizeof buf, "%10llu 0x%08x ", static_cast<unsigned long long>(e.count),
                  e.ip);
    out += buf + Locate(e.ip) + "  " + DisassembleAt(e.ip) + "\n";
  }
  return out;
}

void Debugger::LogStopReport(const DebugStop& stop) {
  Log& log = emu_.log;
  log.Printf("\nDEBUG STOP: %s\n", stop.summary.c_str());
  PrintStateReport(emu_);
  log.Printf("\n=> 0x%08x %s  %s\n", stop.ip, Locate(stop.ip).c_str(),
             DisassembleAt(stop.ip).c_str());
  log.Printf("Backtrace:\n%s", FormatBacktrace().c_str());
  log.Printf("History (last %zu instructions):\n%s", History().size(), FormatHistory().c_str());
  log.Flush();
}

void Debugger::OnFatalEnd() {
  FinishTrace();
  if (history_total_ == 0) return;
  emu_.log.Printf("History (last %zu instructions):\n%s", History().size(),
                  FormatHistory().c_str());
  emu_.log.Flush();
}

// ----- Trace -----

void Debugger::TraceBefore(uint32_t ip, uint32_t word) {
  if (!trace_on_) {
    if (!trace_from_ || ip != *trace_from_) return;
    trace_on_ = true;
    trace_from_.reset();
  }
  if (trace_lines_ >= trace_limit_) {
    std::fprintf(trace_, "trace limit of %llu lines reached\n",
                 static_cast<unsigned long long>(trace_limit_));
    std::fflush(trace_);
    trace_on_ = false;
    trace_ = nullptr;
    UpdateWork();
    return;
  }
  const CpuState& cpu = emu_.cpu;
  for (unsigned n = 0; n < 32; ++n) trace_regs_[n] = n < 16 && !cpu.frame ? 0 : ReadReg(cpu, n);
  trace_regs_[32] = cpu.cc;
  trace_pending_ = true;
  trace_count_ = CurrentInstructionTotal(emu_);
  trace_ip_ = ip;
  trace_words_[0] = word;
}

void Debugger::TraceAfter() {
  trace_pending_ = false;
  if (!trace_) return;
  const CpuState& cpu = emu_.cpu;
  std::string written;
  char buf[32];
  for (unsigned n = 0; n < 32; ++n) {
    const uint32_t v = n < 16 && !cpu.frame ? 0 : ReadReg(cpu, n);
    if (v == trace_regs_[n]) continue;
    std::snprintf(buf, sizeof buf, " %s=%08x", RegisterName(static_cast<int>(n)), v);
    written += buf;
  }
  if (cpu.cc != trace_regs_[32]) {
    std::snprintf(buf, sizeof buf, " cc=%u", cpu.cc);
    written += buf;
  }
  std::fprintf(trace_, "%llu 0x%08x %s  %s%s%s\n", static_cast<unsigned long long>(trace_count_),
               trace_ip_, Locate(trace_ip_).c_str(), DisassembleAt(trace_ip_).c_str(),
               written.empty() ? "" : "  ;", written.c_str());
  ++trace_lines_;
}

void Debugger::FinishTrace() {
  if (trace_pending_) TraceAfter();
  if (trace_) std::fflush(trace_);
}

bool Debugger::SetRegister(int n, uint32_t value, std::string& error) {
  CpuState& cpu = emu_.cpu;
  if (n < 0 || n > 33 || (n < 16 && !cpu.frame)) {
    error = "no such register";
  } else if (n == 31) {
    error = "fp moves with calls and returns; it cannot be set here";
  } else if (n == 32 && !IsCodeTarget(emu_.mem, value)) {
    error = "ip must be a multiple of 4 inside the text region";
  } else {
    if (n == 32)
      cpu.ip = value;
    else if (n == 33)
      cpu.cc = value & 7;
    else
      WriteReg(cpu, static_cast<unsigned>(n), value);
    return true;
  }
  return false;
}

}  // namespace korvane
