// korvane-test's suite: finding scenario files, choosing them by filter and shard, and the
// JUnit XML report.
#include "suite.h"

#include <fnmatch.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>

namespace korvane::test_tool {

namespace {

namespace fs = std::filesystem;

// Text for an XML attribute or element: the five special characters escaped, control
// characters other than tab and line ends (which XML 1.0 cannot carry at all) as '?'.
std::string Xml(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
          out += '?';
        else
          out += static_cast<char>(c);
    }
  }
  return out;
}

// Malformed UTF-8 would make the whole report unreadable; such bytes become '?'.
std::string ValidUtf8(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool ok = n > 0 && i + n <= s.size();
    for (size_t k = 1; ok && k < n; ++k) ok = (static_cast<unsigned char>(s[i + k]) >> 6) == 2;
    if (ok) {
      out.append(s, i, n);
      i += n;
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

std::string Seconds(double s) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", s);
  return buffer;
}

}  // namespace

bool CollectScenarioFiles(const std::vector<std::string>& args, std::vector<std::string>& files,
                          std::string& error) {
  for (const auto& arg : args) {
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      std::vector<std::string> found;
      for (fs::recursive_directory_iterator it(arg, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec) && it->path().extension() == ".toml")
          found.push_back(it->path().lexically_normal().string());
      if (ec) {
        error = "cannot read the folder " + arg + ": " + ec.message();
        return false;
      }
      std::sort(found.begin(), found.end());
      files.insert(files.end(), found.begin(), found.end());
    } else if (fs::exists(arg, ec)) {
      files.push_back(fs::path(arg).lexically_normal().string());
    } else {
      error = "no scenario file or folder " + arg;
      return false;
    }
  }
  return true;
}

std::vector<Entry> LoadEntries(const std::vector<std::string>& files) {
  std::vector<Entry> entries;
  std::map<std::string, std::string> seen;  // name -> file that has it
  for (const auto& file : files) {
    Entry e;
    if (!LoadScenario(file, e.scenario, e.load_error)) {
      e.scenario.file = file;
      e.scenario.name = fs::path(file).stem().string();
    }
    auto [it, fresh] = seen.emplace(e.scenario.name, file);
    if (!fresh) {
      // Shards are cut by name, so two scenarios of one name cannot both have a place.
      e.load_error = file + ":1: the scenario name '" + e.scenario.name + "' is taken by " +
                     it->second + "; give one of them another 'name'";
      e.scenario.name += " (" + file + ")";
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

bool ParseShard(const std::string& text, int& index, int& count, std::string& error) {
  int i = 0, n = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%d/%d%c", &i, &n, &tail) != 2 || n < 1 || i < 1 || i > n ||
      text.find_first_not_of("0123456789/") != std::string::npos) {
    error = "--shard needs I/N with 1 <= I <= N, like 2/3, not '" + text + "'";
    return false;
  }
  index = i;
  count = n;
  return true;
}

bool MatchesFilter(const Entry& entry, const std::vector<std::string>& filters) {
  if (filters.empty()) return true;
  for (const auto& f : filters) {
    if (fnmatch(f.c_str(), entry.scenario.name.c_str(), 0) == 0) return true;
    for (const auto& tag : entry.scenario.tags)
      if (fnmatch(f.c_str(), tag.c_str(), 0) == 0) return true;
  }
  return false;
}

std::vector<const Entry*> SelectEntries(const std::vector<Entry>& entries,
                                        const std::vector<std::string>& filters, int shard_index,
                                        int shard_count) {
  std::vector<const Entry*> chosen;
  for (const auto& e : entries)
    if (MatchesFilter(e, filters)) chosen.push_back(&e);
  // By name, not by where the files lie: every machine of a CI matrix sorts the same way.
  std::sort(chosen.begin(), chosen.end(),
            [](const Entry* a, const Entry* b) { return a->scenario.name < b->scenario.name; });
  std::vector<const Entry*> shard;
  for (size_t k = 0; k < chosen.size(); ++k)
    if (static_cast<int>(k % static_cast<size_t>(shard_count)) == shard_index - 1)
      shard.push_back(chosen[k]);
  return shard;
}

bool WriteJUnit(const std::string& path, const std::string& suite_name,
                const std::vector<const Entry*>& entries, const std::vector<Result>& results,
                double seconds, std::string& error) {
  int failures = 0, errors = 0;
  for (const auto& r : results) {
    failures += r.status == Result::kFailed;
    errors += r.status == Result::kError;
  }
  char host[256] = "localhost";
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0')
    std::snprintf(host, sizeof host, "localhost");
  host[sizeof host - 1] = '\0';
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);

  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const std::string counts = " tests=\"" + std::to_string(results.size()) + "\" failures=\"" +
                             std::to_string(failures) + "\" errors=\"" + std::to_string(errors) +
                             "\" time=\"" + Seconds(seconds) + "\"";
  // The common JUnit schema gives the outer element no attributes; the counts are the suite's.
  x += "<testsuites>\n";
  x += "  <testsuite name=\"" + Xml(suite_name) +
       "\" package=\"korvane-test\" id=\"0\" hostname=\"" + Xml(host) + "\" timestamp=\"" + stamp +
       "\"" + counts + ">\n";
  x += "    <properties/>\n";
  std::string all_output;
  for (size_t i = 0; i < entries.size() && i < results.size(); ++i) {
    const Scenario& s = entries[i]->scenario;
    const Result& r = results[i];
    std::string classname = fs::path(s.file).parent_path().filename().string();
    if (classname.empty()) classname = suite_name;
    x += "    <testcase name=\"" + Xml(ValidUtf8(s.name)) + "\" classname=\"" +
         Xml(ValidUtf8(classname)) + "\" time=\"" + Seconds(r.seconds) + "\"";
    if (r.status == Result::kPassed) {
      x += "/>\n";
    } else {
      std::string text;
      for (const auto& p : r.problems) text += p + "\n";
      const char* element = r.status == Result::kFailed ? "failure" : "error";
      const char* type = r.status == Result::kError ? "ScenarioError"
                         : r.hung                   ? "Hang"
                                                    : "CheckFailed";
      x += ">\n      <" + std::string(element) + " type=\"" + type + "\" message=\"" +
           Xml(ValidUtf8(r.problems.empty() ? "" : r.problems[0])) + "\">" + Xml(ValidUtf8(text)) +
           "</" + element + ">\n    </testcase>\n";
    }
    if (!r.output.empty()) all_output += "[" + s.name + "]\n" + r.output;
  }
  x += "    <system-out>" + Xml(ValidUtf8(all_output)) + "</system-out>\n";
  x += "    <system-err/>\n";
  x += "  </testsuite>\n</testsuites>\n";

  std::error_code ec;
  if (fs::path(path).has_parent_path()) fs::create_directories(fs::path(path).parent_path(), ec);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f && std::fwrite(x.data(), 1, x.size(), f) == x.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok) error = "cannot write the JUnit report " + path;
  return ok;
}

}  // namespace korvane::test_tool
