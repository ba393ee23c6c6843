#include "core/state_archive.h"

#include <cstring>

namespace korvane {

void StateArchive::Append(const void* p, size_t n) { out_.append(static_cast<const char*>(p), n); }

bool StateArchive::Take(void* p, size_t n) {
  if (!ok()) return false;
  if (left_ < n) {
    Fail("the section ends early");
    return false;
  }
  if (p) std::memcpy(p, in_, n);
  in_ += n;
  left_ -= n;
  return true;
}

void StateArchive::Bytes(void* p, size_t n) {
  if (saving()) {
    Append(p, n);
  } else {
    Take(loading() ? p : nullptr, n);
  }
}

void StateArchive::String(std::string& s) {
  uint32_t n = static_cast<uint32_t>(s.size());
  Value(n);
  if (saving()) {
    Append(s.data(), n);
    return;
  }
  if (!ok() || n > left_) {
    Fail("the section ends early");
    return;
  }
  std::string text(reinterpret_cast<const char*>(in_), n);
  Take(nullptr, n);
  if (loading()) s = std::move(text);
}

}  // namespace korvane
