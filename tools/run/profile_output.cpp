// korvane-run's profile and coverage files.
#include "profile_output.h"

#include "core/run_loop.h"
#include "driver/emulator.h"
#include "image/profile_report.h"

namespace korvane::run {

namespace {

bool WriteAll(std::FILE* f, const std::string& text, const std::string& name, std::string& error) {
  if (std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fflush(f) != 0) {
    error = "cannot write " + name;
    return false;
  }
  return true;
}

}  // namespace

bool CountsOutput::Open(const std::string& profile, bool folded, const std::string& coverage,
                        std::string& error) {
  folded_ = folded;
  for (auto [name, file, what] : {std::tuple{&profile, &profile_, "profile"},
                                  std::tuple{&coverage, &coverage_, "coverage file"}}) {
    if (name->empty()) continue;
    file->reset(std::fopen(name->c_str(), "w"));
    if (!*file) {
      error = std::string("cannot write the ") + what + " " + *name;
      return false;
    }
  }
  profile_name_ = profile;
  coverage_name_ = coverage;
  return true;
}

void CountsOutput::Attach(Emulator& emu) {
  if (profile_ || coverage_) emu.run.counts = &counts_;
}

bool CountsOutput::Write(Emulator& emu, std::string& error) {
  if (!profile_ && !coverage_) return true;
  emu.run.counts = nullptr;
  // A run that ended with a fatal error left the loop without settling its last instructions.
  counts_.Settle(CurrentInstructionTotal(emu));
  if (profile_) {
    const std::string text =
        folded_ ? FoldedStacks(emu, counts_) : FormatProfile(BuildProfile(emu, counts_));
    if (!WriteAll(profile_.get(), text, profile_name_, error)) return false;
  }
  if (coverage_) {
    // Source lines come from the executable's line numbers; without them each procedure stands
    // as one line of its module.
    LineLookup lines;
    if (!emu.image.lines.empty()) {
      lines = [&emu](uint32_t a, std::string& file, uint32_t& line) {
        const SourcePlace* p = emu.image.lines.Find(a);
        if (!p) return false;
        file = p->file;
        line = p->line;
        return true;
      };
    }
    const Coverage cov = BuildCoverage(emu, counts_, lines);
    if (!WriteAll(coverage_.get(), cov.Text(), coverage_name_, error)) return false;
  }
  return true;
}

}  // namespace korvane::run
