// The debugger console's source-level commands: list, info line, info symbol, info functions,
// info variables, and FILE:LINE locations.
#include <regex>

#include "debug_console.h"
#include "driver/emulator.h"

namespace korvane::run {

namespace {

constexpr uint32_t kListLines = 10;  // lines that one list shows
constexpr size_t kMaxPattern = 200;  // characters of an info functions/variables pattern

std::string HexAddress(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", v);
  return buf;
}

std::string TrimBlanks(const std::string& s) {
  size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

}  // namespace

SourceFiles& DebugConsole::Sources() {
  if (!sources_) sources_ = std::make_unique<SourceFiles>(SourceFolders(emu_));
  return *sources_;
}

bool DebugConsole::ParseSourceLine(const std::string& text, uint32_t& address, std::string& error) {
  error.clear();
  std::string file;
  uint32_t line = 0;
  const LineMap& lines = emu_.image.lines;
  if (!lines.ParseSourceLine(TrimBlanks(text), file, line)) return false;
  if (!lines.AddressOfLine(file, line, address)) {
    error = "no code at or after line " + std::to_string(line) + " of " + file;
    return false;
  }
  return true;
}

std::string DebugConsole::SourceText(uint32_t address) {
  const SourcePlace* place = emu_.image.lines.Find(address);
  if (!place) return "";
  const std::vector<std::string>* text = Sources().Lines(place->file);
  list_file_ = place->file;
  list_next_ = place->line > kListLines / 2 ? place->line - kListLines / 2 : 1;
  if (!text || place->line > text->size()) return "";
  return std::to_string(place->line) + "\t" + (*text)[place->line - 1];
}

void DebugConsole::ListLines(const std::string& file, uint32_t first, uint32_t last) {
  const std::vector<std::string>* text = Sources().Lines(file);
  list_file_ = file;
  if (!text) {
    std::string folders;
    for (const std::string& f : Sources().folders()) folders += (folders.empty() ? "" : ", ") + f;
    Print(file + ":" + std::to_string(first) + " (source file " + file + " not found in " +
          folders + "; --source-dir adds a folder)");
    list_next_ = last + 1;
    return;
  }
  if (first > text->size()) {
    Error("line " + std::to_string(first) + " is past the end of " + file + " (" +
          std::to_string(text->size()) + " lines)");
    return;
  }
  const SourcePlace* here = emu_.image.lines.Find(emu_.cpu.ip);
  std::string out;
  for (uint32_t n = first; n <= last && n <= text->size(); ++n) {
    const bool current = here && here->line == n && SameSourceFile(here->file, file);
    out += (current ? "=> " : "   ") + std::to_string(n) + "\t" + (*text)[n - 1] + "\n";
  }
  list_next_ = last + 1;
  Print(out);
}

void DebugConsole::CmdList(const std::string& args) {
  const std::string what = TrimBlanks(args);
  const LineMap& lines = emu_.image.lines;
  if (what.empty()) {
    if (list_file_.empty()) {
      const SourcePlace* place = lines.Find(emu_.cpu.ip);
      if (!place) {
        Error("no line number for " + HexAddress(emu_.cpu.ip) + "; list FILE:LINE shows a file");
        return;
      }
      list_file_ = place->file;
      list_next_ = place->line > kListLines / 2 ? place->line - kListLines / 2 : 1;
    }
    ListLines(list_file_, list_next_, list_next_ + kListLines - 1);
    return;
  }
  std::string file;
  uint32_t line = 0;
  if (!lines.ParseSourceLine(what, file, line)) {
    uint32_t address = 0;
    std::string error;
    if (!dbg_.ParseAddress(what, address, error)) {
      Error(error);
      return;
    }
    const SourcePlace* place = lines.Find(address);
    if (!place) {
      Error("no line number for " + HexAddress(address));
      return;
    }
    file = place->file;
    line = place->line;
  }
  const uint32_t first = line > kListLines / 2 ? line - kListLines / 2 : 1;
  ListLines(file, first, first + kListLines - 1);
}

void DebugConsole::CmdInfoLine(const std::string& args) {
  uint32_t address = emu_.cpu.ip;
  std::string error;
  if (!args.empty() && !ParseSourceLine(args, address, error)) {
    if (!error.empty() || !dbg_.ParseAddress(args, address, error)) {
      Error(error);
      return;
    }
  }
  const SourcePlace* place = emu_.image.lines.Find(address);
  uint32_t start = 0, end = 0;
  if (!place || !emu_.image.lines.LineRange(address, start, end)) {
    Print("No line number information available for address " + HexAddress(address) + " " +
          dbg_.NameAddress(address));
    return;
  }
  Print("Line " + std::to_string(place->line) + " of \"" + place->file + "\" starts at address " +
        HexAddress(start) + " <" + dbg_.NameAddress(start) + "> and ends at " + HexAddress(end) +
        ".");
}

void DebugConsole::CmdInfoSymbol(const std::string& args) {
  if (args.empty()) {
    Error("info symbol ADDRESS");
    return;
  }
  uint32_t address = 0;
  std::string error;
  if (!dbg_.ParseAddress(args, address, error)) {
    Error(error);
    return;
  }
  const std::string name = dbg_.NameAddress(address);
  if (name.empty()) {
    Print("No symbol matches " + args + ".");
    return;
  }
  const int region = FindRegion(emu_.mem, address);
  const std::string where = region ? std::string(emu_.mem.regions[region].tag) : "no region";
  const std::string place = dbg_.PlaceOf(address);
  Print(name + " in " + TrimBlanks(where) + (place.empty() ? "" : " at " + place));
}

void DebugConsole::CmdInfoSymbols(const std::string& args, bool functions) {
  // The regex library compiles by recursion: a long pattern could exhaust the stack.
  if (args.size() > kMaxPattern) {
    Error("a pattern of at most " + std::to_string(kMaxPattern) + " characters is needed");
    return;
  }
  std::regex pattern;
  try {
    pattern = std::regex(args.empty() ? "." : args, std::regex::extended);
  } catch (const std::regex_error&) {
    Error("'" + args + "' is no regular expression");
    return;
  }
  const ImageState& im = emu_.image;
  std::string out = std::string(functions ? "Functions" : "Variables") +
                    (args.empty() ? "" : " matching \"" + args + "\"") + ":\n";
  size_t found = 0;
  for (const auto& [address, name] : im.symbols_by_address) {
    if (name.empty() || name[0] == '.') continue;
    const bool code =
        address - im.text_first <= im.text_last - im.text_first && im.opt_header.text_size > 0;
    if (code != functions || (!code && FindRegion(emu_.mem, address) == 0)) continue;
    if (!std::regex_search(name, pattern)) continue;
    const std::string place = code ? dbg_.PlaceOf(address) : "";
    out += HexAddress(address) + "  " + name + (place.empty() ? "" : "  " + place) + "\n";
    ++found;
  }
  if (found == 0) out += "(none)\n";
  Print(out);
}

}  // namespace korvane::run
