// korvane-test's scenario files: what one scenario runs and checks, read from TOML.
#include "scenario.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <toml.hpp>

namespace korvane::test_tool {

namespace {

namespace fs = std::filesystem;

// A problem in the file, carrying the line it is about.
struct ScenarioError {
  int line;
  std::string what;
};

int LineOf(const toml::value& v) { return static_cast<int>(v.location().line()); }

[[noreturn]] void Fail(const toml::value& v, const std::string& what) {
  throw ScenarioError{LineOf(v), what};
}

std::string String(const toml::value& v, const std::string& key) {
  if (!v.is_string()) Fail(v, "'" + key + "' must be a string");
  return v.as_string().str;
}

int64_t Integer(const toml::value& v, const std::string& key, int64_t min, int64_t max) {
  if (!v.is_integer()) Fail(v, "'" + key + "' must be a whole number");
  int64_t n = v.as_integer();
  if (n < min || n > max)
    Fail(v, "'" + key + "' must be from " + std::to_string(min) + " to " + std::to_string(max));
  return n;
}

bool Boolean(const toml::value& v, const std::string& key) {
  if (!v.is_boolean()) Fail(v, "'" + key + "' must be true or false");
  return v.as_boolean();
}

std::vector<std::string> Strings(const toml::value& v, const std::string& key) {
  if (!v.is_array()) Fail(v, "'" + key + "' must be a list of strings");
  std::vector<std::string> out;
  for (const auto& item : v.as_array()) out.push_back(String(item, key));
  return out;
}

// The keys of an inline table such as { com = 1, sent = "HI" }: every one required, no other.
std::vector<toml::value> Fields(const toml::value& v, const std::string& key,
                                const std::vector<std::string>& names) {
  if (!v.is_table()) Fail(v, "'" + key + "' must be a table like { " + names[0] + " = ... }");
  const auto& table = v.as_table();
  for (const auto& [name, value] : table) {
    bool known = false;
    for (const auto& n : names) known = known || n == name;
    if (!known) Fail(value, "'" + key + "' has no field '" + name + "'");
  }
  std::vector<toml::value> out;
  for (const auto& n : names) {
    auto it = table.find(n);
    if (it == table.end()) Fail(v, "'" + key + "' needs the field '" + n + "'");
    out.push_back(it->second);
  }
  return out;
}

// One [[step]] table: exactly one of the step keys.
void ReadStep(const toml::value& step, const fs::path& folder, Scenario& s) {
  if (!step.is_table()) Fail(step, "each step must be a table ([[step]])");
  const auto& table = step.as_table();
  if (table.size() != 1)
    Fail(step,
         "a step has exactly one of keys, wait_ms, send, screen, memory, serial, file, "
         "exit_code, exit_message, restart");
  const auto& [key, v] = *table.begin();
  const int line = LineOf(v);
  if (s.runs.empty()) s.runs.push_back(Run{"", {}, {}, line});
  Run& run = s.runs.back();
  auto input = [&](const std::string& what) {
    if (!run.checks.empty())
      Fail(v, what +
                  " after a check: checks look at the end of a run, so input that follows "
                  "them belongs to a new run (add a step 'restart = true' before it)");
  };
  auto add_check = [&](Check c) {
    c.line = line;
    run.checks.push_back(std::move(c));
  };
  if (key == "keys") {
    input("keys");
    run.keys += (run.keys.empty() ? "" : " ") + String(v, key);
  } else if (key == "wait_ms") {
    input("a wait");
    run.keys +=
        (run.keys.empty() ? "" : " ") + ("wait:" + std::to_string(Integer(v, key, 0, 86400000)));
  } else if (key == "send") {
    input("serial input");
    auto f = Fields(v, key, {"com", "text"});
    run.serial_send.emplace_back(static_cast<int>(Integer(f[0], "com", 1, 4)),
                                 String(f[1], "text"));
  } else if (key == "screen") {
    Check c;
    c.kind = Check::kScreen;
    c.where = (folder / String(v, key)).lexically_normal().string();
    add_check(c);
  } else if (key == "memory") {
    auto f = Fields(v, key, {"at", "bytes"});
    Check c;
    c.kind = Check::kMemory;
    c.where = String(f[0], "at");
    c.expected = String(f[1], "bytes");
    std::vector<uint8_t> bytes;
    if (!ParseHexBytes(c.expected, bytes) || bytes.empty())
      Fail(f[1], "'bytes' must be hex pairs separated by blanks, like \"02 00 00 00\"");
    add_check(c);
  } else if (key == "serial") {
    auto f = Fields(v, key, {"com", "sent"});
    Check c;
    c.kind = Check::kSerial;
    c.number = static_cast<int>(Integer(f[0], "com", 1, 4));
    c.expected = String(f[1], "sent");
    add_check(c);
  } else if (key == "file") {
    if (!v.is_table() || (v.as_table().count("contains") == 0 && v.as_table().count("equals") == 0))
      Fail(v,
           "'file' must be a table like { path = \"C:NAME\", contains = \"TEXT\" } "
           "(or equals = \"TEXT\")");
    const bool whole = v.as_table().count("equals") != 0;
    auto f = Fields(v, key, {"path", whole ? "equals" : "contains"});
    Check c;
    c.kind = Check::kFile;
    c.where = String(f[0], "path");
    if (c.where.size() < 3 || !std::isalpha(static_cast<unsigned char>(c.where[0])) ||
        c.where[1] != ':')
      Fail(f[0], "'path' must start with a drive letter and a colon, like \"C:DEMO.TXT\"");
    c.expected = String(f[1], whole ? "equals" : "contains");
    c.whole = whole;
    add_check(c);
  } else if (key == "exit_code") {
    Check c;
    c.kind = Check::kExitCode;
    c.number = static_cast<int>(Integer(v, key, 0, 3));
    add_check(c);
  } else if (key == "exit_message") {
    Check c;
    c.kind = Check::kExitMessage;
    c.expected = String(v, key);
    add_check(c);
  } else if (key == "restart") {
    if (!Boolean(v, key)) Fail(v, "'restart' can only be true");
    s.runs.push_back(Run{"", {}, {}, line});
  } else {
    Fail(v, "unknown step '" + key + "'");
  }
}

void ReadScenario(const toml::value& root, const std::string& path, Scenario& s) {
  const fs::path folder = fs::path(path).parent_path();
  s.file = path;
  s.name = fs::path(path).stem().string();
  bool have_project = false;
  const toml::value* steps = nullptr;
  for (const auto& [key, v] : root.as_table()) {
    if (key == "name") {
      s.name = String(v, key);
      if (s.name.empty()) Fail(v, "'name' must not be empty");
    } else if (key == "project") {
      s.project = String(v, key);
      have_project = true;
    } else if (key == "options") {
      s.options = Strings(v, key);
      for (const auto& o : s.options)
        if (o.empty() || o[0] != '-' || o.find_first_of(" \t\r\n") != std::string::npos)
          Fail(v,
               "'options' are emulator options, one word each starting with '-', not '" + o + "'");
    } else if (key == "tags") {
      s.tags = Strings(v, key);
    } else if (key == "virtual_time") {
      s.virtual_time = static_cast<uint32_t>(Integer(v, key, 0, 0xFFFFFFFFll));
    } else if (key == "max_instructions") {
      s.max_instructions =
          static_cast<uint64_t>(Integer(v, key, 1, std::numeric_limits<int64_t>::max()));
    } else if (key == "timeout_ms") {
      s.timeout_ms = Integer(v, key, 1, 24ll * 3600 * 1000);
    } else if (key == "fresh_memory") {
      s.fresh_memory = Boolean(v, key);
    } else if (key == "step") {
      steps = &v;
    } else {
      Fail(v, "unknown key '" + key + "'");
    }
  }
  if (!have_project) throw ScenarioError{1, "no 'project' (the project file the scenario runs)"};
  if (!steps || !steps->is_array() || steps->as_array().empty())
    throw ScenarioError{steps ? LineOf(*steps) : 1, "no steps: add at least one [[step]] table"};
  for (const auto& step : steps->as_array()) ReadStep(step, folder, s);
  if (s.runs.back().keys.empty() && s.runs.back().checks.empty() &&
      s.runs.back().serial_send.empty() && s.runs.size() > 1)
    throw ScenarioError{s.runs.back().first_line,
                        "'restart' at the end starts a run with nothing in it"};
}

constexpr int kMaxNesting = 32;
constexpr int kMaxItems = 4096;
constexpr size_t kMaxFileBytes = 1u << 20;

// toml11 reads nested arrays and inline tables recursively, so a file nested thousands deep
// would exhaust the stack, and its time grows with the square of the number of tables, list
// items and dotted-key parts. Files beyond sane limits for a scenario are refused before parsing:
// returns the problem, with `line` where it starts, or "".
std::string BeyondLimits(const std::string& text, int& line) {
  if (text.size() > kMaxFileBytes) {
    line = 1;
    return "the file is larger than " + std::to_string(kMaxFileBytes) + " bytes";
  }
  int depth = 0, items = 0;
  line = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') {
      ++line;
    } else if (c == '#') {
      while (i + 1 < text.size() && text[i + 1] != '\n') ++i;
    } else if (c == '"' || c == '\'') {
      // A string, basic or literal, on one line or (tripled quotes) on several.
      const bool multi = text.compare(i, 3, std::string(3, c)) == 0;
      i += multi ? 3 : 1;
      for (; i < text.size(); ++i) {
        if (c == '"' && text[i] == '\\') {
          ++i;
        } else if (text[i] == '\n') {
          ++line;
          if (!multi) break;
        } else if (text[i] == c && (!multi || text.compare(i, 3, std::string(3, c)) == 0)) {
          if (multi) i += 2;
          break;
        }
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
    if ((c == '[' || c == '{') && ++depth > kMaxNesting)
      return "arrays and tables nested more than " + std::to_string(kMaxNesting) + " deep";
    if ((c == '[' || c == '{' || c == ',' || c == '.') && ++items > kMaxItems)
      return "more than " + std::to_string(kMaxItems) + " tables, list items and dotted-key parts";
  }
  return "";
}

}  // namespace

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  std::istringstream in(text);
  std::string pair;
  while (in >> pair) {
    if (pair.size() != 2 || !std::isxdigit(static_cast<unsigned char>(pair[0])) ||
        !std::isxdigit(static_cast<unsigned char>(pair[1])))
      return false;
    bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
  }
  return true;
}

bool LoadScenario(const std::string& path, Scenario& scenario, std::string& error) {
  scenario = Scenario{};
  std::ifstream in(path, std::ios::binary);
  if (!in || fs::is_directory(path)) {
    error = path + ": cannot read the scenario file";
    return false;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int line = 0;
  const std::string too_much = BeyondLimits(text, line);
  if (!too_much.empty()) {
    error = path + ":" + std::to_string(line) + ": " + too_much;
    return false;
  }
  try {
    std::istringstream text_in(text);
    toml::value root = toml::parse(text_in, path);
    ReadScenario(root, path, scenario);
    return true;
  } catch (const ScenarioError& e) {
    error = path + ":" + std::to_string(e.line) + ": " + e.what;
  } catch (const toml::exception& e) {
    // toml11 explains over several lines; the first says what is wrong.
    std::string what = e.what();
    what = what.substr(0, what.find('\n'));
    if (what.rfind("[error] ", 0) == 0) what.erase(0, 8);
    error = path + ":" + std::to_string(e.location().line()) + ": " + what;
  } catch (const std::exception& e) {
    error = path + ": " + e.what();
  }
  return false;
}

}  // namespace korvane::test_tool
