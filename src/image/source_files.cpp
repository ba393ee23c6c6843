// Finding and reading the source files that line numbers name.
#include "image/source_files.h"

#include <sys/stat.h>

#include <fstream>

#include "services/machine.h"

namespace korvane {

namespace {

// Sources larger than this are no firmware sources; they are not read.
constexpr std::streamoff kMaxSourceBytes = 64 << 20;

bool ReadLines(const std::string& path, std::vector<std::string>& out) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxSourceBytes)
    return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.clear();
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(std::move(line));
  }
  return true;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

const std::vector<std::string>* SourceFiles::Lines(const std::string& file) {
  auto known = cache_.find(file);
  if (known != cache_.end()) return known->second ? &*known->second : nullptr;
  std::optional<std::vector<std::string>>& slot = cache_[file];
  std::vector<std::string> lines;
  std::vector<std::string> names{file};
  const size_t slash = file.find_last_of('/');
  if (slash != std::string::npos) names.push_back(file.substr(slash + 1));
  for (const std::string& name : names) {
    if (name.empty()) continue;
    if (name[0] == '/') {
      if (ReadLines(name, lines)) return &slot.emplace(std::move(lines));
      continue;
    }
    for (const std::string& folder : folders_)
      if (ReadLines(Join(folder, name), lines)) return &slot.emplace(std::move(lines));
  }
  return nullptr;
}

std::vector<std::string> SourceFolders(const Machine& emu) {
  std::vector<std::string> folders;
  auto add = [&folders](const std::string& f) {
    const std::string folder = f.empty() ? "." : f;
    for (const std::string& known : folders)
      if (known == folder) return;
    folders.push_back(folder);
  };
  add(emu.base_folder);
  const std::string exe = ResolveInBase(emu, emu.image.exe_path);
  const size_t slash = exe.find_last_of('/');
  if (slash != std::string::npos) add(exe.substr(0, slash == 0 ? 1 : slash));
  for (const std::string& dir : emu.image.source_dirs) add(ResolveInBase(emu, dir));
  return folders;
}

}  // namespace korvane
