// The project file's first line turned into the emulation thread's argument vector.
#include "driver/project_line.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/options.h"

namespace korvane {

std::vector<std::string> SplitProjectLine(std::string_view text, bool* more_words) {
  // The first line as a text-mode read delivers it: a carriage return right before the line
  // feed is dropped, the line feed ends the line and stays, at most 127 characters are taken.
  std::string line;
  for (size_t k = 0; k < text.size() && line.size() < kProjectLineChars; ++k) {
    if (text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n') continue;
    line.push_back(text[k]);
    if (text[k] == '\n') break;
  }
  std::vector<std::string> words;
  if (more_words) *more_words = false;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    std::string_view word = std::string_view(line).substr(start, i - start);
    // A blank before the line end would otherwise leave the line end alone as the last word,
    // which would become an empty project name.
    if (word.empty() || word.find_first_not_of("\r\n") == std::string_view::npos) continue;
    if (words.size() == static_cast<size_t>(kMaxArgs)) {
      if (more_words) *more_words = true;
      break;
    }
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
  // One byte more than the line: a carriage return dropped before the line feed may need it.
  char buf[kProjectLineChars + 1] = {};
  size_t n = std::fread(buf, 1, sizeof buf, f);
  const bool failed = std::ferror(f) != 0;  // a folder, say, opens but does not read
  const int err = errno;
  std::fclose(f);
  if (failed) {
    error = "cannot read project file " + path + ": " + std::strerror(err);
    return false;
  }
  // A line without words is run like any other, as the window runs it: the emulation then
  // ends with the usage text.
  bool more = false;
  words = SplitProjectLine(std::string_view(buf, n), &more);
  if (more) {
    // Refused as the window refuses it: cut to ten words, the line would run without its
    // project name, the last word.
    error = "project file " + path + " has more than 10 words on its first line";
    return false;
  }
  return true;
}

}  // namespace korvane
