// Option variables of a run, read from the option file and the project line.
#include "driver/options.h"

#include <strings.h>
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "driver/emulator.h"

namespace korvane {

namespace {

constexpr int kOptionLineChars = 126;  // only the option file's first line is read
constexpr size_t kOptionWordChars = 31;

const char kUsage[] =
    "\n"
    "USAGE> Korvane [options] project\n"
    "\n"
    "\tThe options are ...\n"
    "\n"
    "\t-bcS:E\t\t= break code addresses Start:End (hex)\n"
    "\t-bd[r|w]S:E\t= break data [read|write] addresses Start:End (hex)\n"
    "\t-boS:E\t\t= break opcode Start:End (hex)\n"
    "\t-dc\t\t= debug cahce load\n"
    "\t-di\t\t= debug text intercepts\n"
    "\t-dk\t\t= debug keyboard emulation\n"
    "\t-dm\t\t= debug unknown mem ref\n"
    "\t-dnN\t\t= debug count N (decimal)\n"
    "\t-dr\t\t= debug reg dump\n"
    "\t-drvLIST\t= DOS drive list\n"
    "\t-i\t\t= init (DEFAULT &c)\n"
    "\t-icN\t\t= instruction count N (decimal)\n"
    "\t-kkN\t\t= kill N (decimal) keys from min N_...\n"
    "\t-moN\t\t= mem file (KORVANE.MEM) offset N (decimal)\n"
    "\t-porLIST\t= COM port list\n"
    "\t-sp[-]\t\t= suspend on loss of focus\n"
    "\t-tcN\t\t= trigger count N (decimal)\n"
    "\t-vN\t\t= VIDEO emulation\n"
    "\t\t\t\t0 = none\n"
    "\t\t\t\t1 = Jolvo 16 colour (default)\n"
    "\t\t\t\t2 = Pelta/Rusk mono\n"
    "\t\t\t\t3 = Jolvo 256 colour\n"
    "\t\t\t\t4 = Pelta/Sorn 256 colour\n"
    "\t\t\t\t5 = Nimbal\n"
    "\t-xi\t\t= execute the full instruction set\n"
    "\t-w\t\t= wait for key before exit\n"
    "\t-skN\t\t= number of softkeys\n";

constexpr int kVideoModes = 6;

// Value parsers; each leaves its variable unchanged when the text does not read.
void ReadLong(const char* text, long& out) {
  long v;
  if (std::sscanf(text, "%ld", &v) == 1) out = v;
}
void ReadInt(const char* text, int& out) {
  int v;
  if (std::sscanf(text, "%d", &v) == 1) out = v;
}
void ReadHexRange(const char* text, uint32_t& start, uint32_t& end) {
  unsigned long s, e;
  if (std::sscanf(text, "%lX:%lX", &s, &e) == 2) {
    start = static_cast<uint32_t>(s);
    end = static_cast<uint32_t>(e);
  }
}

// The memory-file offset is a signed 32-bit number; anything else does not read.
void ReadOffset(const char* text, long& out) {
  long v = out;
  ReadLong(text, v);
  if (v >= INT32_MIN && v <= INT32_MAX) out = v;
}

// Only the six emulated display types exist; another number does not read.
void ReadVideo(const char* text, int& out) {
  int v = out;
  ReadInt(text, v);
  if (v >= 0 && v < kVideoModes) out = v;
}

void ReadPorts(const char* list, int (&com)[4]) {
  bool ended = false;
  for (int& port : com) {
    char c = ended ? '\0' : *list;
    if (c >= '0' && c <= '4') {
      port = c - '0';
      ++list;
    } else {
      port = 0;  // this port and all that follow stay unmapped
      ended = true;
    }
  }
}

// A fatal option problem: the text and detail that end the run through MsgExitDetail.
struct OptionError {
  std::string text, detail;
};

// What reading options needs besides the options themselves: the folder the option file
// resolves in, the log (absent for the pure reader) and where a fatal problem goes.
struct OptionContext {
  Options& opt;
  const std::string& base_folder;
  Log* log;
  std::optional<OptionError> error;
};

void ReadDriveList(OptionContext& c, const char* word, const char* list) {
  if (std::strlen(list) >= static_cast<size_t>(kDriveListSize)) {
    c.error = OptionError{"EMUOPT: drive list longer than 15 characters - ", word};
    return;
  }
  std::memset(c.opt.drive_list, 0, sizeof c.opt.drive_list);
  std::strcpy(c.opt.drive_list, list);
}

enum class Match { kExact, kPrefix };

struct OptionRule {
  const char* name;
  Match match;
  // Stores the value; `rest` is the word after the option's name.
  void (*store)(OptionContext& c, const char* word, const char* rest);
};

// Checked in this order, the first match wins: "-dr" exactly before the prefix "-drv",
// the prefix "-ic" before the exact "-i", and "-sk" before "-sp".
const OptionRule kRules[] = {
    {"-bc", Match::kPrefix,
     [](OptionContext& c, const char*, const char* r) {
       ReadHexRange(r, c.opt.bc_start, c.opt.bc_end);
     }},
    {"-bd", Match::kPrefix,
     [](OptionContext& c, const char*, const char* r) {
       int kind = *r == 'r' ? 0 : *r == 'w' ? 1 : 2;
       c.opt.bd_kind = kind;
       ReadHexRange(kind == 2 ? r : r + 1, c.opt.bd_start, c.opt.bd_end);
     }},
    {"-bo", Match::kPrefix,
     [](OptionContext& c, const char*, const char* r) {
       ReadHexRange(r, c.opt.bo_start, c.opt.bo_end);
     }},
    {"-dc", Match::kExact, [](OptionContext& c, const char*, const char*) { c.opt.dc = true; }},
    {"-di", Match::kExact, [](OptionContext& c, const char*, const char*) { c.opt.di = true; }},
    {"-dk", Match::kExact, [](OptionContext& c, const char*, const char*) { c.opt.dk = true; }},
    {"-dm", Match::kExact, [](OptionContext& c, const char*, const char*) { c.opt.dm = true; }},
    {"-dn", Match::kPrefix,
     [](OptionContext& c, const char*, const char* r) { ReadLong(r, c.opt.dn); }},
    {"-sk", Match::kPrefix,
     [](OptionContext& c, const char*, const char* r) { ReadInt(r, c.opt.soft_keys); }},
    {"-tc", Match::kPrefix,
     [](OptionContext& c, const char*, const char* r) { ReadLong(r, c.opt.tc); }},
    {"-dr", Match::kExact, [](OptionContext& c, const char*, const char*) { c.opt.dr = true; }},
    {"-drv", Match::kPrefix,
     [](OptionContext& c, const char* w, const char* r) { ReadDriveList(c, w, r); }},
    {"-por", Match::kPrefix,
     [](OptionContext& c, const char*, const char* r) { ReadPorts(r, c.opt.com_map); }},
    {"-ic", Match::kPrefix,
     [](OptionContext& c, const char*, const char* r) { ReadLong(r, c.opt.ic); }},
    {"-i", Match::kExact,
     [](OptionContext& c, const char*, const char*) { c.opt.init_key = true; }},
    {"-kk", Match::kPrefix,
     [](OptionContext& c, const char*, const char* r) { ReadLong(r, c.opt.kk); }},
    {"-mo", Match::kPrefix,
     [](OptionContext& c, const char*, const char* r) { ReadOffset(r, c.opt.mo); }},
    {"-sp", Match::kPrefix,
     [](OptionContext& c, const char*, const char* r) { c.opt.suspend = *r != '-'; }},
    {"-v", Match::kPrefix,
     [](OptionContext& c, const char*, const char* r) { ReadVideo(r, c.opt.video); }},
    {"-w", Match::kPrefix, [](OptionContext& c, const char*, const char*) { c.opt.wait = true; }},
    // No other option starts with "-x", so the exact word cannot shadow a prefix match.
    {"-xi", Match::kExact, [](OptionContext& c, const char*, const char*) { c.opt.xi = true; }},
};

// A word names a file up to its first line end; no "." after the last folder separator
// means it has no extension and gets `ext`.
std::string WithDefaultExtension(const char* word, const char* ext) {
  std::string name(word);
  name = name.substr(0, name.find_first_of("\r\n"));
  size_t slash = name.find_last_of("\\/");
  if (name.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos)
    name += std::string(".") + ext;
  return name;
}

bool ParseWord(OptionContext& c, const char* word) {
  if (c.log) c.log->Printf("ParseOpt(%s)\n", word);
  for (const auto& rule : kRules) {
    size_t n = std::strlen(rule.name);
    bool hit = rule.match == Match::kExact ? strcasecmp(word, rule.name) == 0
                                           : strncasecmp(word, rule.name, n) == 0;
    if (hit) {
      rule.store(c, word, word + n);
      return true;
    }
  }
  return false;
}

void ReadOptionFile(OptionContext& c, const char* last_word) {
  std::string path = WithDefaultExtension(last_word, "opt");
  if (!c.base_folder.empty() && !path.empty() && path[0] != '/')
    path = c.base_folder + (c.base_folder.back() == '/' ? "" : "/") + path;
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return;  // an option file is optional
  struct stat st {};
  if (::fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);  // a folder of that name opens here but is no option file
    return;
  }
  char line[kOptionLineChars + 1] = {};
  if (!std::fgets(line, sizeof line, f)) line[0] = '\0';
  std::fclose(f);
  line[std::strcspn(line, "\r\n")] = '\0';
  if (c.log) c.log->Printf("OptFile Line=\"%s\"\n", line);

  std::vector<std::string> words;
  for (const char* p = line; *p;) {
    while (*p == ' ' || *p == '\t') ++p;
    const char* start = p;
    while (*p && *p != ' ' && *p != '\t') ++p;
    if (p > start) words.emplace_back(start, std::min<size_t>(p - start, kOptionWordChars));
  }
  for (const auto& w : words) {
    if (!ParseWord(c, w.c_str()) || c.error) break;
  }
}

// The option phase over an argument vector; true when it ends with exactly one project name.
// A fatal problem leaves c.error set and stops.
bool ReadInto(OptionContext& c, int argc, char** argv) {
  if (c.log) c.log->Printf("\nEMUOPT: argc=%d argv=%p\n", argc, static_cast<void*>(argv));
  if (argc <= 1) {
    c.error = OptionError{kUsage, ""};
    return false;
  }
  ReadOptionFile(c, argv[argc - 1]);
  if (c.error) return false;

  int i = 0;
  for (; i < argc; ++i) {
    if (c.log) c.log->Printf("argv[%d] \"%s\"\n", i, argv[i]);
    if (i > 0 && !ParseWord(c, argv[i])) break;
    if (c.error) return false;
  }
  if (i >= argc) return false;  // every word was an option: no project name

  std::string project = WithDefaultExtension(argv[i], "prj");
  if (project.size() >= static_cast<size_t>(kProjectNameSize)) {
    if (i != argc - 1) return false;
    c.error = OptionError{"EMUOPT: project name longer than 67 characters - ", project};
    return false;
  }
  std::memset(c.opt.project_name, 0, sizeof c.opt.project_name);
  std::memcpy(c.opt.project_name, project.data(), project.size());
  return i == argc - 1;
}

[[noreturn]] void EndWith(Emulator& emu, const OptionError& e) {
  if (e.detail.empty()) MsgExit(emu, e.text.c_str());
  MsgExitDetail(emu, e.text.c_str(), e.detail.c_str());
}

}  // namespace

const char* UsageText() { return kUsage; }

bool ParseOpt(Emulator& emu, const char* word) {
  OptionContext c{emu.opt, emu.base_folder, &emu.log, std::nullopt};
  bool hit = ParseWord(c, word);
  if (c.error) EndWith(emu, *c.error);
  return hit;
}

bool ReadOptions(Emulator& emu, int argc, char** argv) {
  OptionContext c{emu.opt, emu.base_folder, &emu.log, std::nullopt};
  bool ok = ReadInto(c, argc, argv);
  if (c.error) EndWith(emu, *c.error);
  return ok;
}

OptionsRead ReadOptionWords(const std::vector<std::string>& words, const std::string& base_folder) {
  OptionsRead result;
  std::vector<std::string> copy = words;
  std::vector<char*> argv;
  for (auto& w : copy) argv.push_back(w.data());
  OptionContext c{result.options, base_folder, nullptr, std::nullopt};
  result.ok = ReadInto(c, static_cast<int>(argv.size()), argv.data());
  if (c.error) {
    result.ok = false;
    result.error = c.error->text + c.error->detail;
  }
  return result;
}

}  // namespace korvane
