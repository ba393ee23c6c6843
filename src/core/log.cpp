// Log output of one emulator.
#include "core/log.h"

#include <cstdarg>
#include <vector>

namespace korvane {

Log::~Log() {
  if (owned_ && file_) std::fclose(file_);
}

void Log::SetFile(std::FILE* file, bool owned) {
  if (owned_ && file_ && file_ != file) std::fclose(file_);
  file_ = file;
  owned_ = owned;
}

bool Log::OpenFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  SetFile(f, true);
  return true;
}

void Log::Printf(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) {
    va_end(copy);
    return;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    va_end(copy);
    Write(std::string_view(small, n));
    return;
  }
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), format, copy);
  va_end(copy);
  Write(std::string_view(big.data(), n));
}

void Log::Write(std::string_view text) {
  if (file_) std::fwrite(text.data(), 1, text.size(), file_);  // output errors are ignored
  if (capture_) captured_.append(text);
}

void Log::Flush() {
  if (file_) std::fflush(file_);
}

}  // namespace korvane
