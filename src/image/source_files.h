// The source files that line numbers name, found beside the project file, beside the
// executable and in the folders given with --source-dir, read once and kept by line.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvane {

struct Machine;

class SourceFiles {
 public:
  explicit SourceFiles(std::vector<std::string> folders) : folders_(std::move(folders)) {}

  // The lines of `file` (without line ends), nullptr when no folder holds it. A name is
  // looked up as written (absolute, or inside each folder), then by its part after the last '/'.
  const std::vector<std::string>* Lines(const std::string& file);
  const std::vector<std::string>& folders() const { return folders_; }

 private:
  std::vector<std::string> folders_;
  std::map<std::string, std::optional<std::vector<std::string>>> cache_;
};

// The folders an emulator's sources are looked for in, in that order: the project file's
// folder, the executable's folder, then the --source-dir folders (resolved in the base folder).
std::vector<std::string> SourceFolders(const Machine& emu);

}  // namespace korvane
