// Fuzz target: the project line, option words and option file. The input's first line is a
// project line; the rest is the option file. The line's words are parsed as options, then the
// option phase runs over them with the last word naming the scratch project (whose option file
// holds the rest of the input).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/project_line.h"
#include "fuzz_support.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ScratchFolder folder("opt");
  std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t eol = text.find('\n');
  std::string_view line = text.substr(0, eol == std::string_view::npos ? text.size() : eol + 1);
  std::string_view rest = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);

  bool more = false;
  std::vector<std::string> words = SplitProjectLine(line, &more);
  {
    Emulator emu;
    try {
      for (const auto& w : words) ParseOpt(emu, w.c_str());
    } catch (const EmuExitSignal&) {
    }
  }

  fuzz::WriteBytes(folder.File("x.opt"), rest.data(), rest.size());
  if (words.empty()) words.push_back("korvane");
  if (words.size() == 1) words.push_back("x");
  words.back() = folder.File("x");
  Emulator emu;
  emu.SetArgs(words);
  try {
    ReadOptions(emu, static_cast<int>(emu.argv.size()), emu.argv.data());
  } catch (const EmuExitSignal&) {
  }
  return 0;
}
