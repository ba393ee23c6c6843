// korvane-run's debugger console: gdb-style commands at every stop of the debug engine.
#include "debug_console.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "core/disassembler.h"
#include "driver/emulator.h"

#ifdef KORVANE_HAVE_READLINE
#include <readline/history.h>
#include <readline/readline.h>
#endif

namespace korvane::run {

namespace {

constexpr const char* kPrompt = "(kdb) ";
constexpr size_t kMaxLine = 4096;
constexpr uint64_t kMaxExamine = 4096;      // units that x shows at most
constexpr uint64_t kMaxDisassemble = 1000;  // instructions that disassemble shows at most
constexpr uint64_t kMaxSteps = 1ull << 40;

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

// Splits off the first word.
std::string FirstWord(const std::string& s, std::string& rest) {
  std::string t = Trim(s);
  size_t sp = t.find_first_of(" \t");
  if (sp == std::string::npos) {
    rest.clear();
    return t;
  }
  rest = Trim(t.substr(sp));
  return t.substr(0, sp);
}

std::string Hex8(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", v);
  return buf;
}

// Register number for set/print: 0-31 as the decoder numbers them, 32 ip, 33 cc; -1 unknown.
int RegisterOf(const std::string& name) {
  if (name == "ip") return 32;
  if (name == "cc") return 33;
  for (int n = 0; n < 32; ++n)
    if (name == RegisterName(n)) return n;
  if (name.size() >= 2 && name.size() <= 3 && (name[0] == 'g' || name[0] == 'r')) {
    char* end = nullptr;
    long v = std::strtol(name.c_str() + 1, &end, 10);
    if (*end == '\0' && std::isdigit(static_cast<unsigned char>(name[1])) && v >= 0 && v <= 15)
      return static_cast<int>(name[0] == 'g' ? 16 + v : v);
  }
  return -1;
}

bool ParseValue(const std::string& text, uint32_t& v) {
  std::string t = Trim(text);
  bool negative = !t.empty() && t[0] == '-';
  if (negative) t.erase(0, 1);
  if (t.empty() || !std::isdigit(static_cast<unsigned char>(t[0]))) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long x = std::strtoull(t.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || x > 0xFFFFFFFFull) return false;
  v = negative ? 0u - static_cast<uint32_t>(x) : static_cast<uint32_t>(x);
  return true;
}

}  // namespace

DebugConsole::DebugConsole(Emulator& emu, std::FILE* in, std::FILE* out, bool terminal)
    : emu_(emu), dbg_(*emu.debugger), in_(in), out_(out), terminal_(terminal) {}

void DebugConsole::Print(const std::string& text) {
  std::fputs(text.c_str(), out_);
  if (text.empty() || text.back() != '\n') std::fputc('\n', out_);
}

void DebugConsole::Error(const std::string& text) { Print("error: " + text); }

bool DebugConsole::ReadLine(std::string& line) {
#ifdef KORVANE_HAVE_READLINE
  if (terminal_) {
    std::fflush(out_);
    char* l = readline(kPrompt);
    if (!l) return false;
    line = l;
    std::free(l);
    if (!Trim(line).empty()) add_history(line.c_str());
    return true;
  }
#endif
  if (!in_) return false;
  if (terminal_) {
    std::fputs(kPrompt, out_);
    std::fflush(out_);
  }
  line.clear();
  char buf[512];
  bool too_long = false;
  for (;;) {
    if (!std::fgets(buf, sizeof buf, in_)) {
      if (line.empty() && !too_long) return false;
      break;
    }
    if (line.size() < kMaxLine)
      line += buf;
    else
      too_long = true;
    const size_t n = std::strlen(buf);
    if (n > 0 && buf[n - 1] == '\n') break;
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (too_long || line.size() > kMaxLine) line = "\x01";  // refused by Execute
  if (!terminal_) Print(std::string(kPrompt) + (line == "\x01" ? "(line too long)" : line));
  return true;
}

void DebugConsole::OnStop(const DebugStop& stop) {
  Print(stop.summary);
  const std::string source = SourceText(stop.ip);
  if (!source.empty()) Print(source);
  Print("=> " + Hex8(stop.ip) + " " + dbg_.NameAddress(stop.ip) + "  " +
        dbg_.DisassembleAt(stop.ip));
  std::string line;
  for (;;) {
    if (!ReadLine(line)) {
      dbg_.Resume({ResumeKind::kEnd});
      break;
    }
    if (Execute(line)) break;
  }
  std::fflush(out_);
}

bool DebugConsole::Resume(const ResumeCommand& command) {
  dbg_.Resume(command);
  return true;
}

bool DebugConsole::ParseCount(const std::string& text, uint64_t& count, uint64_t max) {
  std::string t = Trim(text);
  if (t.empty()) return true;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(t.c_str(), &end, 10);
  if (t[0] == '-' || errno != 0 || *end != '\0' || v == 0 || v > max) {
    Error("a count from 1 to " + std::to_string(max) + " is needed, not '" + t + "'");
    return false;
  }
  count = v;
  return true;
}

bool DebugConsole::CheckGuest(uint32_t address, uint64_t bytes) {
  const uint64_t last = uint64_t{address} + bytes - 1;
  if (last > 0xFFFFFFFFull || FindRegion(emu_.mem, address) == 0 ||
      FindRegion(emu_.mem, static_cast<uint32_t>(last)) == 0) {
    Error("address " + Hex8(address) + " is outside guest memory");
    return false;
  }
  return true;
}

bool DebugConsole::Execute(const std::string& raw) {
  if (raw == "\x01") {
    Error("line too long (at most " + std::to_string(kMaxLine) + " characters)");
    return false;
  }
  std::string args;
  std::string cmd = FirstWord(raw, args);
  if (cmd.empty() || cmd[0] == '#') return false;
  std::string format;
  if (cmd.size() > 1 && cmd[0] == 'x' && cmd[1] == '/') {
    format = cmd.substr(2);
    cmd = "x";
  }
  uint64_t count = 1;
  if (cmd == "c" || cmd == "continue") return Resume({ResumeKind::kContinue});
  if (cmd == "s" || cmd == "step")
    return ParseCount(args, count, kMaxSteps) && Resume({ResumeKind::kStepLine, count});
  if (cmd == "si" || cmd == "stepi")
    return ParseCount(args, count, kMaxSteps) && Resume({ResumeKind::kStep, count});
  if (cmd == "n" || cmd == "next")
    return ParseCount(args, count, kMaxSteps) && Resume({ResumeKind::kNextLine, count});
  if (cmd == "ni" || cmd == "nexti")
    return ParseCount(args, count, kMaxSteps) && Resume({ResumeKind::kStepOver, count});
  if (cmd == "finish") return Resume({ResumeKind::kStepOut});
  if (cmd == "until" || cmd == "advance") {
    uint32_t address = 0;
    std::string error;
    if (!ParseSourceLine(args, address, error) &&
        (!error.empty() || !dbg_.ParseAddress(args, address, error))) {
      Error(error);
      return false;
    }
    return Resume({ResumeKind::kRunTo, 1, address});
  }
  if (cmd == "q" || cmd == "quit") return Resume({ResumeKind::kEnd});
  if (cmd == "b" || cmd == "break") return CmdBreak(args, BreakKind::kCode, false);
  if (cmd == "tbreak") return CmdBreak(args, BreakKind::kCode, true);
  if (cmd == "watch") return CmdBreak(args, BreakKind::kWrite, false);
  if (cmd == "rwatch") return CmdBreak(args, BreakKind::kRead, false);
  if (cmd == "awatch") return CmdBreak(args, BreakKind::kAccess, false);
  if (cmd == "d" || cmd == "delete") {
    CmdDelete(args);
  } else if (cmd == "disable" || cmd == "enable") {
    CmdEnable(args, cmd == "enable");
  } else if (cmd == "i" || cmd == "info") {
    CmdInfo(args);
  } else if (cmd == "l" || cmd == "list") {
    CmdList(args);
  } else if (cmd == "x") {
    CmdExamine(format, args);
  } else if (cmd == "disassemble" || cmd == "disas") {
    CmdDisassemble(args);
  } else if (cmd == "bt" || cmd == "backtrace" || cmd == "where") {
    Print(dbg_.FormatBacktrace());
  } else if (cmd == "history") {
    Print(dbg_.FormatHistory());
  } else if (cmd == "p" || cmd == "print") {
    CmdPrint(args);
  } else if (cmd == "set") {
    CmdSet(args);
  } else if (cmd == "h" || cmd == "help") {
    ShowHelp();
  } else {
    Error("unknown command '" + cmd + "' (help lists the commands)");
  }
  return false;
}

bool DebugConsole::CmdBreak(const std::string& args, BreakKind kind, bool temporary) {
  // LOCATION [hit N] [if CONDITION]
  std::string where = args, condition;
  size_t at_if = (" " + args + " ").find(" if ");
  if (at_if != std::string::npos) {
    where = args.substr(0, at_if);
    condition = args.substr(std::min(args.size(), at_if + 3));
    if (Trim(condition).empty()) {
      Error("a condition must follow 'if'");
      return false;
    }
  }
  uint64_t hit_count = 0;
  size_t at_hit = (" " + where + " ").find(" hit ");
  if (at_hit != std::string::npos) {
    if (!ParseCount(where.substr(std::min(where.size(), at_hit + 4)), hit_count, kMaxSteps) ||
        hit_count == 0) {
      if (hit_count == 0) Error("a hit count must follow 'hit'");
      return false;
    }
    where = where.substr(0, at_hit);
  }
  std::string error;
  const bool code = kind == BreakKind::kCode;
  if (!code && Trim(where).empty()) {
    Error("a location to watch is needed");
    return false;
  }
  uint32_t line_address = 0;
  if (code && ParseSourceLine(Trim(where), line_address, error)) {
    where = Hex8(line_address);
  } else if (!error.empty()) {
    Error(error);
    return false;
  }
  const int id = dbg_.AddBreakpoint(kind, Trim(where).empty() ? Hex8(emu_.cpu.ip) : where,
                                    condition, hit_count, temporary, error);
  if (id == 0) {
    Error(error);
    return false;
  }
  for (const Breakpoint& b : dbg_.Breakpoints()) {
    if (b.id != id) continue;
    if (!CheckGuest(b.start, uint64_t{b.end} - b.start + 1)) {
      dbg_.DeleteBreakpoint(id);
      return false;
    }
    std::string range = Hex8(b.start) + (b.end != b.start ? "-" + Hex8(b.end) : "");
    Print(
        std::string(code ? (temporary ? "Temporary breakpoint " : "Breakpoint ") : "Watchpoint ") +
        std::to_string(id) + " at " + range + " " +
        (code ? dbg_.Locate(b.start) : dbg_.NameAddress(b.start)));
  }
  return false;
}

void DebugConsole::CmdDelete(const std::string& args) {
  std::string rest = args;
  if (Trim(rest).empty()) {
    dbg_.DeleteAllBreakpoints();
    Print("Deleted all breakpoints");
    return;
  }
  std::istringstream words(rest);
  std::string w;
  while (words >> w) {
    uint64_t id = 0;
    if (!ParseCount(w, id, 1u << 30)) return;
    if (!dbg_.DeleteBreakpoint(static_cast<int>(id))) Error("no breakpoint " + w);
  }
}

void DebugConsole::CmdEnable(const std::string& args, bool enabled) {
  std::istringstream words(args);
  std::string w;
  bool any = false;
  while (words >> w) {
    any = true;
    uint64_t id = 0;
    if (!ParseCount(w, id, 1u << 30)) return;
    if (!dbg_.EnableBreakpoint(static_cast<int>(id), enabled)) Error("no breakpoint " + w);
  }
  if (!any) Error("a breakpoint number is needed");
}

void DebugConsole::CmdInfo(const std::string& args) {
  const std::string what = Trim(args);
  char buf[96];
  if (what == "r" || what == "registers" || what == "reg") {
    const CpuState& cpu = emu_.cpu;
    std::string text;
    for (int row = 0; row < 8; ++row) {
      for (int k = 0; k < 4; ++k) {
        const int n = row < 4 ? 16 + row * 4 + k : (row - 4) * 4 + k;
        const uint32_t v = n < 16 && !cpu.frame ? 0 : ReadReg(cpu, static_cast<unsigned>(n));
        std::snprintf(
            buf, sizeof buf, "%-4s %s%s",
            n < 16 ? ("r" + std::to_string(n)).c_str() : ("g" + std::to_string(n - 16)).c_str(),
            Hex8(v).c_str(), k == 3 ? "\n" : "   ");
        text += buf;
      }
    }
    std::snprintf(buf, sizeof buf, "ip   %s   cc   %u\n", Hex8(cpu.ip).c_str(), cpu.cc);
    Print(text + buf);
  } else if (what == "b" || what == "breakpoints" || what == "break" || what == "watchpoints") {
    const auto list = dbg_.Breakpoints();
    if (list.empty()) {
      Print("No breakpoints or watchpoints.");
      return;
    }
    static const char* const kKind[] = {"break", "rwatch", "watch", "awatch", "opcode"};
    std::string text = "Num  Type    Enb  Range                  Hits  Where\n";
    for (const Breakpoint& b : list) {
      std::string range = Hex8(b.start) + (b.end != b.start ? "-" + Hex8(b.end) : "");
      std::snprintf(buf, sizeof buf, "%-4d %-7s %-4s %-22s %-5llu ", b.id,
                    kKind[static_cast<int>(b.kind)], b.enabled ? "y" : "n", range.c_str(),
                    static_cast<unsigned long long>(b.hits));
      text += buf + b.where;
      if (b.temporary) text += " (temporary)";
      if (b.hit_count > 1) text += " hit " + std::to_string(b.hit_count);
      if (b.condition.active) text += " if " + b.condition.text;
      text += "\n";
    }
    Print(text);
  } else if (what == "line" || what.compare(0, 5, "line ") == 0) {
    CmdInfoLine(Trim(what.substr(4)));
  } else if (what.compare(0, 6, "symbol") == 0) {
    CmdInfoSymbol(Trim(what.substr(6)));
  } else if (what.compare(0, 9, "functions") == 0) {
    CmdInfoSymbols(Trim(what.substr(9)), true);
  } else if (what.compare(0, 9, "variables") == 0) {
    CmdInfoSymbols(Trim(what.substr(9)), false);
  } else {
    Error("info registers, breakpoints, line, symbol, functions or variables");
  }
}

void DebugConsole::CmdExamine(const std::string& format, const std::string& args) {
  // x/N[x|w|b] ADDR: N words (x, w) or bytes (b).
  uint64_t count = 1;
  char unit = 'x';
  std::string f = format;
  if (!f.empty() && std::isalpha(static_cast<unsigned char>(f.back()))) {
    unit = f.back();
    f.pop_back();
  }
  if (unit != 'x' && unit != 'w' && unit != 'b') {
    Error("x/N takes the unit x, w (words) or b (bytes), not '" + std::string(1, unit) + "'");
    return;
  }
  if (!ParseCount(f, count, kMaxExamine)) return;
  uint32_t address = 0;
  std::string error;
  if (!dbg_.ParseAddress(args.empty() ? Hex8(emu_.cpu.ip) : args, address, error)) {
    Error(error);
    return;
  }
  const uint32_t size = unit == 'b' ? 1 : 4;
  if (!CheckGuest(address, count * size)) return;
  const uint32_t per_line = unit == 'b' ? 16 : 4;
  std::string text;
  char buf[16];
  for (uint64_t k = 0; k < count; ++k) {
    const uint32_t a = address + static_cast<uint32_t>(k * size);
    if (k % per_line == 0) {
      if (k) text += "\n";
      std::string name = dbg_.NameAddress(a);
      text += Hex8(a) + (name.empty() ? "" : " <" + name + ">") + ":";
    }
    if (size == 1)
      std::snprintf(buf, sizeof buf, " %02x", GuestRead8(emu_.mem, a));
    else
      std::snprintf(buf, sizeof buf, " %s", Hex8(GuestRead32(emu_.mem, a)).c_str());
    text += buf;
  }
  Print(text);
}

void DebugConsole::CmdDisassemble(const std::string& args) {
  std::string rest;
  std::string first = FirstWord(args, rest);
  uint32_t address = emu_.cpu.ip;
  std::string error;
  if (!first.empty() && !dbg_.ParseAddress(first, address, error)) {
    Error(error);
    return;
  }
  uint64_t count = 8;
  if (!ParseCount(rest, count, kMaxDisassemble)) return;
  if (!CheckGuest(address, 4)) return;
  std::string text;
  for (uint64_t k = 0; k < count; ++k) {
    if (FindRegion(emu_.mem, address) == 0) break;
    const uint32_t w = GuestRead32(emu_.mem, address);
    text += (address == emu_.cpu.ip ? "=> " : "   ") + Hex8(address) + " " +
            dbg_.NameAddress(address) + "  " + dbg_.DisassembleAt(address) + "\n";
    const uint32_t length =
        (w >> 24) >= 0x80 && (((w >> 10) & 0xF) == 5 || ((w >> 10) & 0xF) >= 12) ? 8 : 4;
    if (uint64_t{address} + length > 0xFFFFFFFFull) break;
    address += length;
  }
  Print(text);
}

void DebugConsole::CmdPrint(const std::string& args) {
  std::string what = Trim(args);
  if (what.empty()) {
    Error("print SYMBOL, ADDRESS or $REGISTER");
    return;
  }
  if (what[0] == '$') {
    const int reg = RegisterOf(what.substr(1));
    if (reg < 0) {
      Error("no register '" + what + "'");
      return;
    }
    const CpuState& cpu = emu_.cpu;
    uint32_t v = reg == 32                ? cpu.ip
                 : reg == 33              ? cpu.cc
                 : reg < 16 && !cpu.frame ? 0
                                          : ReadReg(cpu, static_cast<unsigned>(reg));
    Print(what + " = " + Hex8(v) + " (" + std::to_string(v) + ")");
    return;
  }
  uint32_t address = 0;
  std::string error;
  if (!dbg_.ParseAddress(what, address, error)) {
    Error(error);
    return;
  }
  if (!CheckGuest(address, 4)) return;
  const uint32_t v = GuestRead32(emu_.mem, address);
  Print(what + " = " + Hex8(v) + " (" + std::to_string(static_cast<int32_t>(v)) + ") at " +
        Hex8(address));
}

void DebugConsole::CmdSet(const std::string& args) {
  // set $REG = VALUE, set LOCATION = VALUE (a word of memory); "var" as gdb allows it.
  std::string a = Trim(args);
  if (a.compare(0, 4, "var ") == 0) a = Trim(a.substr(4));
  size_t eq = a.find('=');
  uint32_t value = 0;
  if (eq == std::string::npos || !ParseValue(a.substr(eq + 1), value)) {
    Error("set $REGISTER = NUMBER or set ADDRESS = NUMBER");
    return;
  }
  std::string target = Trim(a.substr(0, eq));
  if (!target.empty() && target[0] == '$') {
    const int reg = RegisterOf(target.substr(1));
    std::string error;
    if (reg < 0)
      Error("no register '" + target + "'");
    else if (!dbg_.SetRegister(reg, value, error))
      Error(error == "no such register" ? "no register '" + target + "'" : error);
    return;
  }
  if (target.size() >= 2 && (target[0] == '[' || target[0] == '*')) {
    target = target[0] == '[' && target.back() == ']' ? target.substr(1, target.size() - 2)
                                                      : target.substr(1);
  }
  uint32_t address = 0;
  std::string error;
  if (!dbg_.ParseAddress(target, address, error)) {
    Error(error);
    return;
  }
  if (!CheckGuest(address, 4)) return;
  GuestWrite32(emu_.mem, address, value);
}

void DebugConsole::ShowHelp() {
  Print(
      "break|tbreak LOCATION [hit N] [if CONDITION]   stop at code (tbreak: once)\n"
      "watch|rwatch|awatch LOCATION [hit N] [if CONDITION]   stop after a write, read, either\n"
      "delete [N...]  disable N...  enable N...  info breakpoints  info registers\n"
      "continue  step [N]  next [N]  stepi [N]  nexti [N]  finish  until LOCATION  quit\n"
      "  (step and next go by source line where there are line numbers, stepi and nexti\n"
      "  by instruction)\n"
      "x/N[x|w|b] LOCATION  disassemble [LOCATION [N]]  backtrace  history\n"
      "list [FILE:LINE|SYMBOL|ADDRESS]  info line [LOCATION]  info symbol ADDRESS\n"
      "info functions [REGEX]  info variables [REGEX]\n"
      "print SYMBOL|ADDRESS|$REG  set $REG = N  set LOCATION = N\n"
      "LOCATION: hex address, SYMBOL, SYMBOL+OFFSET, FILE:LINE (code), START:END, or\n"
      "  LOCATION/BYTES\n"
      "CONDITION: REG or [LOCATION], then == != < <= > >=, then a number");
}

}  // namespace korvane::run
