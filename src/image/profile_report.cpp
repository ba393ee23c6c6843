// Profiles, folded stacks and lcov tracefiles from a run's counts.
#include "image/profile_report.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <sstream>
#include <unordered_map>

#include "core/run_counts.h"
#include "services/machine.h"

namespace korvane {

namespace {

std::string Hex8(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08" PRIx32, v);
  return b;
}

// The procedure an address lies in: its symbol (without the module) and where it starts.
struct Procedure {
  std::string name;
  uint32_t start = 0;
};

Procedure ProcedureAt(const Machine& emu, uint32_t address) {
  std::string name;
  uint32_t offset = 0;
  if (!NameAddress(emu, address, name, offset)) return {Hex8(address), address};
  const size_t colon = name.find(':');
  if (colon != std::string::npos) name.erase(0, colon + 1);
  return {name, address - offset};
}

// The procedure of every context: guest code by the procedure it lies in, native routines by
// their name.
std::vector<ProfileRow> ContextProcedures(const Machine& emu, const RunCounts& counts) {
  std::vector<ProfileRow> out(counts.nodes.size());
  std::unordered_map<uint32_t, Procedure> cache;
  for (size_t n = 0; n < counts.nodes.size(); ++n) {
    const CallNode& node = counts.nodes[n];
    ProfileRow& row = out[n];
    if (!node.native.empty()) {
      row.name = node.native + " [native]";
      row.address = node.address;
      row.native = true;
      continue;
    }
    auto it = cache.find(node.address);
    if (it == cache.end()) it = cache.emplace(node.address, ProcedureAt(emu, node.address)).first;
    row.name = it->second.name;
    row.address = it->second.start;
  }
  return out;
}

std::string PercentOf(uint64_t part, uint64_t total) {
  char b[16];
  std::snprintf(b, sizeof b, "%6.2f%%", total ? 100.0 * static_cast<double>(part) / total : 0.0);
  return b;
}

}  // namespace

Profile BuildProfile(const Machine& emu, const RunCounts& counts) {
  Profile profile;
  const std::vector<CallNode>& nodes = counts.nodes;
  if (nodes.empty()) return profile;
  const std::vector<ProfileRow> of = ContextProcedures(emu, counts);
  // Rows by procedure: guest code by its start, native routines by name.
  std::map<std::pair<std::string, uint32_t>, size_t> index;
  std::vector<size_t> row_of(nodes.size());
  for (size_t n = 0; n < nodes.size(); ++n) {
    const auto key =
        std::make_pair(of[n].native ? of[n].name : std::string(), of[n].native ? 0 : of[n].address);
    auto it = index.find(key);
    if (it == index.end()) {
      it = index.emplace(key, profile.rows.size()).first;
      profile.rows.push_back(of[n]);
    }
    row_of[n] = it->second;
    ProfileRow& row = profile.rows[it->second];
    row.self += nodes[n].self;
    row.calls += nodes[n].calls;
    row.host_ns += nodes[n].host_ns;
    profile.total += nodes[n].self;
  }
  // Instructions of each context with everything below it (children come after their parent).
  std::vector<uint64_t> subtree(nodes.size());
  for (size_t n = nodes.size(); n-- > 0;) {
    subtree[n] += nodes[n].self;
    if (n != 0) subtree[nodes[n].parent] += subtree[n];
  }
  // A procedure's inclusive count takes its outermost contexts only, so recursion counts once:
  // a walk down the tree keeps how often each procedure is on the path.
  std::vector<uint32_t> on_path(profile.rows.size());
  struct Step {
    uint32_t node;
    bool leaving;
  };
  std::vector<Step> walk{{0, false}};
  while (!walk.empty()) {
    const Step s = walk.back();
    walk.pop_back();
    const size_t r = row_of[s.node];
    if (s.leaving) {
      --on_path[r];
      continue;
    }
    if (on_path[r]++ == 0) profile.rows[r].inclusive += subtree[s.node];
    walk.push_back({s.node, true});
    for (uint32_t c = nodes[s.node].first_child; c != 0; c = nodes[c].next_sibling)
      walk.push_back({c, false});
  }
  std::map<std::pair<std::string, std::string>, uint64_t> edges;
  for (size_t n = 1; n < nodes.size(); ++n) {
    if (nodes[n].calls == 0) continue;  // a context the run started in was not called by it
    edges[{of[nodes[n].parent].name, of[n].name}] += nodes[n].calls;
  }
  for (const auto& [pair, calls] : edges) profile.edges.push_back({pair.first, pair.second, calls});
  std::stable_sort(profile.rows.begin(), profile.rows.end(),
                   [](const ProfileRow& a, const ProfileRow& b) {
                     if (a.self != b.self) return a.self > b.self;
                     if (a.inclusive != b.inclusive) return a.inclusive > b.inclusive;
                     return a.name < b.name;
                   });
  return profile;
}

std::string FormatProfile(const Profile& profile) {
  std::string out = "Flat profile: " + std::to_string(profile.total) + " instructions\n\n";
  char line[512];
  std::snprintf(line, sizeof line, "%14s %8s %14s %8s %12s %10s  %s\n", "self", "self%",
                "inclusive", "incl%", "calls", "host ms", "procedure");
  out += line;
  for (const ProfileRow& r : profile.rows) {
    const std::string host = r.native ? std::to_string(r.host_ns / 1000000) + "." +
                                            std::to_string(r.host_ns / 100000 % 10)
                                      : "-";
    std::snprintf(line, sizeof line, "%14" PRIu64 " %8s %14" PRIu64 " %8s %12" PRIu64 " %10s  %s\n",
                  r.self, PercentOf(r.self, profile.total).c_str(), r.inclusive,
                  PercentOf(r.inclusive, profile.total).c_str(), r.calls, host.c_str(),
                  r.name.c_str());
    out += line;
  }
  out += "\nCall graph: caller -> callee, calls\n\n";
  for (const CallEdge& e : profile.edges)
    out += "  " + e.caller + " -> " + e.callee + "  " + std::to_string(e.calls) + "\n";
  return out;
}

std::string FoldedStacks(const Machine& emu, const RunCounts& counts) {
  const std::vector<CallNode>& nodes = counts.nodes;
  const std::vector<ProfileRow> of = ContextProcedures(emu, counts);
  std::vector<std::string> path(nodes.size());
  std::map<std::string, uint64_t> lines;
  for (size_t n = 0; n < nodes.size(); ++n) {
    path[n] = n == 0 ? of[n].name : path[nodes[n].parent] + ";" + of[n].name;
    if (nodes[n].self > 0) lines[path[n]] += nodes[n].self;
  }
  std::string out;
  for (const auto& [stack, self] : lines) out += stack + " " + std::to_string(self) + "\n";
  return out;
}

void Coverage::Merge(const Coverage& other) {
  for (const auto& [file, src] : other.sources) {
    Source& into = sources[file];
    for (const auto& [name, fn] : src.functions) {
      Function& f = into.functions[name];
      f.line = fn.line;
      f.count += fn.count;
    }
    for (const auto& [line, count] : src.lines) into.lines[line] += count;
  }
}

std::string Coverage::Text() const {
  std::ostringstream out;
  for (const auto& [file, src] : sources) {
    out << "TN:\nSF:" << file << "\n";
    // Functions by line, then name, as genhtml lists them.
    std::vector<std::pair<uint32_t, std::string>> order;
    for (const auto& [name, fn] : src.functions) order.emplace_back(fn.line, name);
    std::sort(order.begin(), order.end());
    size_t hit = 0;
    for (const auto& [line, name] : order) out << "FN:" << line << "," << name << "\n";
    for (const auto& [line, name] : order) {
      const uint64_t count = src.functions.at(name).count;
      hit += count > 0;
      out << "FNDA:" << count << "," << name << "\n";
    }
    out << "FNF:" << order.size() << "\nFNH:" << hit << "\n";
    hit = 0;
    for (const auto& [line, count] : src.lines) {
      hit += count > 0;
      out << "DA:" << line << "," << count << "\n";
    }
    out << "LF:" << src.lines.size() << "\nLH:" << hit << "\nend_of_record\n";
  }
  return out.str();
}

Coverage BuildCoverage(const Machine& emu, const RunCounts& counts, const LineLookup& lines) {
  Coverage cov;
  const MemRegion& text = emu.mem.regions[kRegionText];
  auto count_at = [&](uint32_t address) -> uint64_t {
    const uint32_t i = (address - counts.text_base) / 4;
    return i < counts.words.size() ? counts.words[i] : 0;
  };
  // The procedures: the text's symbols, one name per address as NameAddress picks it.
  std::vector<Procedure> procs;
  for (const auto& [address, name] : emu.image.symbols_by_address) {
    if (address < text.base || address - text.base >= text.size || (address & 3)) continue;
    if (!procs.empty() && procs.back().start == address) continue;
    procs.push_back(ProcedureAt(emu, address));
  }
  const ImageState& im = emu.image;
  const int module_last = std::min(im.module_count, kModuleCapacity);
  auto module_of = [&](uint32_t address) -> const Module* {
    for (int m = 1; m <= module_last; ++m) {
      const Module& mod = im.modules[m];
      if (mod.text_length > 0 && address >= mod.text_start &&
          address - mod.text_start < mod.text_length)
        return &mod;
    }
    return nullptr;
  };
  std::string file;
  uint32_t line = 0;
  const bool have_lines = lines && [&] {
    for (uint32_t a = text.base; a - text.base < text.size; a += 4)
      if (lines(a, file, line)) return true;
    return false;
  }();
  if (have_lines) {
    for (uint32_t a = text.base; a - text.base + 4 <= text.size; a += 4) {
      if (!lines(a, file, line)) continue;
      uint64_t& da = cov.sources[file].lines[line];
      da = std::max(da, count_at(a));
    }
    for (const Procedure& p : procs) {
      if (!lines(p.start, file, line)) continue;
      cov.sources[file].functions[p.name] = {line, count_at(p.start)};
    }
    return cov;
  }
  std::map<const Module*, uint32_t> ordinal;
  for (size_t k = 0; k < procs.size(); ++k) {
    const Module* mod = module_of(procs[k].start);
    if (!mod) continue;
    const uint32_t end =
        std::min<uint64_t>(k + 1 < procs.size() ? procs[k + 1].start : text.base + text.size,
                           uint64_t{mod->text_start} + mod->text_length);
    uint64_t run = 0;
    for (uint32_t a = procs[k].start; a < end; a += 4) run += count_at(a);
    Coverage::Source& src = cov.sources[mod->name];
    const uint32_t at = ++ordinal[mod];
    src.functions[procs[k].name] = {at, count_at(procs[k].start)};
    src.lines[at] = run;
  }
  return cov;
}

bool ParseCoverage(const std::string& text, const std::string& name, Coverage& out,
                   std::string& error) {
  std::istringstream in(text);
  std::string row;
  int number = 0;
  Coverage::Source* src = nullptr;
  auto fail = [&](const std::string& why) {
    error = name + ":" + std::to_string(number) + ": " + why;
    return false;
  };
  auto parse_count = [](const std::string& s, uint64_t& v) {
    if (s.empty() || s.size() > 20 || s.find_first_not_of("0123456789") != std::string::npos)
      return false;
    v = std::stoull(s);
    return true;
  };
  while (std::getline(in, row)) {
    ++number;
    if (!row.empty() && row.back() == '\r') row.pop_back();
    if (row.empty() || row.rfind("TN:", 0) == 0) continue;
    const size_t colon = row.find(':');
    const std::string tag = row.substr(0, colon);
    const std::string value = colon == std::string::npos ? "" : row.substr(colon + 1);
    if (tag == "SF") {
      if (value.empty()) return fail("SF without a file name");
      src = &out.sources[value];
      continue;
    }
    if (tag == "end_of_record") {
      src = nullptr;
      continue;
    }
    if (!src) return fail("'" + tag + "' outside a record (SF first)");
    const size_t comma = value.find(',');
    const std::string first = value.substr(0, comma);
    const std::string rest = comma == std::string::npos ? "" : value.substr(comma + 1);
    uint64_t a = 0, b = 0;
    if (tag == "FN") {
      if (comma == std::string::npos || rest.empty() || !parse_count(first, a) || a > UINT32_MAX)
        return fail("FN needs LINE,NAME");
      src->functions[rest].line = static_cast<uint32_t>(a);
    } else if (tag == "FNDA") {
      if (comma == std::string::npos || rest.empty() || !parse_count(first, a))
        return fail("FNDA needs COUNT,NAME");
      src->functions[rest].count += a;
    } else if (tag == "DA") {
      // DA:LINE,COUNT[,CHECKSUM]
      const std::string count = rest.substr(0, rest.find(','));
      if (!parse_count(first, a) || a > UINT32_MAX || !parse_count(count, b))
        return fail("DA needs LINE,COUNT");
      src->lines[static_cast<uint32_t>(a)] += b;
    } else if (tag == "FNF" || tag == "FNH" || tag == "LF" || tag == "LH" || tag == "BRDA" ||
               tag == "BRF" || tag == "BRH") {
      // Totals are written again from the records; branch records are not kept.
    } else {
      return fail("unknown record '" + tag + "'");
    }
  }
  if (src) return fail("the last record has no end_of_record");
  return true;
}

}  // namespace korvane
