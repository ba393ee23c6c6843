#include "core/state_archive.h"

#include <cstring>

namespace korvane {

void StateArchive::Append(const void* p, size_t n) { out_.append(static_cast<const char*>(p), n); }

bool StateArchive::Take(void* p, size_t n) {
  if (!ok()) return false;
  if (left_ < n) {
    FailDamaged("the section ends early");
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

void StateArchive::OutOfRange(const char* field, long long value, long long lo, long long hi) {
  FailDamaged(std::string("field ") + field + " is " + std::to_string(value) + ", outside " +
              std::to_string(lo) + " to " + std::to_string(hi));
}

void StateArchive::TakeString(std::string& s) {
  uint32_t n = 0;
  if (!Take(&n, sizeof n)) return;
  if (n > left_) {
    FailDamaged("the section ends early");
    return;
  }
  s.assign(reinterpret_cast<const char*>(in_), n);
  Take(nullptr, n);
}

void StateArchive::String(std::string& s) {
  if (saving()) {
    const uint32_t n = static_cast<uint32_t>(s.size());
    Append(&n, sizeof n);
    Append(s.data(), n);
    return;
  }
  // The length comes from the file in every mode: the running machine's string may be of
  // any length (drive paths appear once the firmware used its file routines).
  std::string text;
  TakeString(text);
  if (loading() && ok()) s = std::move(text);
}

}  // namespace korvane
