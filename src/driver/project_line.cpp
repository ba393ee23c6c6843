// The project file's first line turned into the emulation thread's argument vector.
#include "driver/project_line.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/options.h"

namespace korvane {

std::vector<std::string> SplitProjectLine(std::string_view text) {
  std::string_view line = text.substr(0, kProjectLineChars);
  size_t lf = line.find('\n');
  if (lf != std::string_view::npos) line = line.substr(0, lf + 1);
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size() && words.size() < static_cast<size_t>(kMaxArgs)) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    std::string_view word = line.substr(start, i - start);
    // A blank before the line end would otherwise leave the line end alone as the last word,
    // which would become an empty project name.
    if (!word.empty() && word.find_first_not_of("\r\n") != std::string_view::npos)
      words.emplace_back(word);
  }
  return words;
}

bool ReadProjectFile(const std::string& path, std::vector<std::string>& words, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = "cannot open project file " + path + ": " + std::strerror(errno);
    return false;
  }
  char buf[kProjectLineChars + 1] = {};
  size_t n = std::fread(buf, 1, kProjectLineChars, f);
  std::fclose(f);
  words = SplitProjectLine(std::string_view(buf, n));
  if (words.empty()) {
    error = "project file " + path + " has no command line in its first line";
    return false;
  }
  return true;
}

}  // namespace korvane
