// The project file's first line turned into the emulation thread's argument vector, as both
// front-ends (window and headless runner) read it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvane {

constexpr size_t kProjectLineChars = 127;

// Splits the first line of `text` (at most 127 characters, line feed included, a carriage
// return before the line feed dropped as a text-mode read drops it) at blanks into at most 10
// words. A run of blanks separates like one; tabs do not separate; the line feed
// stays attached to the last word (file names made from a word are cut there later).
// `more_words`, when given, tells whether the line held further words beyond the ten.
std::vector<std::string> SplitProjectLine(std::string_view text, bool* more_words = nullptr);

// Reads the first line of the project file at `path` and splits it. Returns false with a
// message in `error` when the file cannot be read or its line holds more than ten words (the
// window refuses such a line too); an empty line gives no words.
bool ReadProjectFile(const std::string& path, std::vector<std::string>& words, std::string& error);

}  // namespace korvane
