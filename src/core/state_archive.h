// Saving and loading machine state: one archive type that each component's serialize routine
// walks in the same order for saving, checking and loading, so a field is listed once.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

namespace korvane {

// The state format this build writes, and the oldest it still reads: a serialize routine
// reads an older file's fields the way that version wrote them (see ar.version()).
constexpr uint32_t kStateVersion = 3;
constexpr uint32_t kOldestStateVersion = 1;

// Values are saved as they lie in memory, and the format is little-endian.
static_assert(std::endian::native == std::endian::little, "state files are little-endian");

class StateArchive {
 public:
  enum Mode { kSave, kCheck, kLoad };

  // An archive that appends to its own buffer.
  StateArchive() = default;
  // An archive over `size` saved bytes: kCheck reads every value as kLoad does, so counts and
  // lengths steer the walk the same way, but stores nothing; kLoad stores what it reads.
  StateArchive(Mode mode, const uint8_t* data, size_t size, uint32_t version)
      : mode_(mode), version_(version), in_(data), left_(size) {}

  Mode mode() const { return mode_; }
  // The format version of the bytes read, or kStateVersion when saving.
  uint32_t version() const { return version_; }
  bool saving() const { return mode_ == kSave; }
  bool loading() const { return mode_ == kLoad; }

  // A plain value (an integer, or an array of them) that any bit pattern makes valid, in host
  // byte order. Bools and values with a range go through Flag and Ranged instead.
  template <typename T>
  void Value(T& v) {
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert(!std::is_same_v<std::remove_all_extents_t<T>, bool>, "use Flag");
    if (mode_ == kCheck) {
      T scratch;
      Take(&scratch, sizeof scratch);
    } else {
      Bytes(&v, sizeof v);
    }
  }
  // A value that steers the rest of the walk (a count, a flag): returns the saved value in
  // every mode (the given one when saving) without storing it anywhere.
  template <typename T>
  T Scalar(const T& v) {
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert(!std::is_same_v<T, bool>, "use ScalarFlag");
    T copy = v;
    if (saving()) {
      Append(&copy, sizeof copy);
    } else {
      Take(&copy, sizeof copy);
    }
    return copy;
  }
  // A bool saved as one byte, which must be 0 or 1 (another byte is no bool).
  void Flag(bool& b, const char* field) {
    const bool saved = ScalarFlag(b, field);
    if (loading() && ok()) b = saved;
  }
  bool ScalarFlag(bool b, const char* field) {
    const uint8_t byte = Scalar(static_cast<uint8_t>(b));
    if (byte > 1) OutOfRange(field, byte, 0, 1);
    return byte == 1;
  }
  // An integer that must lie in [lo, hi]; a value outside fails the archive naming `field`,
  // and on a load leaves the target as it was.
  template <typename T>
  void Ranged(T& v, T lo, T hi, const char* field) {
    const T saved = ScalarRanged(v, lo, hi, field);
    if (loading() && ok()) v = saved;
  }
  template <typename T>
  T ScalarRanged(const T& v, T lo, T hi, const char* field) {
    static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool>);
    const T saved = Scalar(v);
    if (saved < lo || saved > hi)
      OutOfRange(field, static_cast<long long>(saved), static_cast<long long>(lo),
                 static_cast<long long>(hi));
    return saved;
  }
  // Raw bytes, saved as they are; kCheck only skips them.
  void Bytes(void* p, size_t n);
  // A string with its length.
  void String(std::string& s);
  // A string that steers the walk: the saved text in every mode (the given one when saving).
  std::string Text(const std::string& s) {
    std::string copy = s;
    if (saving()) {
      String(copy);
    } else {
      TakeString(copy);
    }
    return copy;
  }
  // A value the running machine must already have (the memory layout, the video mode): saved
  // as it is, compared on check and load; a difference fails the archive with `what`.
  template <typename T>
  void Match(const T& v, const std::string& what) {
    static_assert(std::is_trivially_copyable_v<T>);
    T copy = v;
    if (saving()) {
      Append(&copy, sizeof copy);
    } else if (Take(&copy, sizeof copy) && std::memcmp(&copy, &v, sizeof copy) != 0) {
      Fail(what);
    }
  }

  void Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
  }
  // A failure because the file holds what no machine could have saved (a value out of its
  // range, a section cut short or too long), as against one that does not fit this machine.
  void FailDamaged(const std::string& why) {
    if (error_.empty()) damaged_ = true;
    Fail(why);
  }
  bool ok() const { return error_.empty(); }
  bool damaged() const { return damaged_; }
  const std::string& error() const { return error_; }
  // Bytes not yet read (check and load).
  size_t left() const { return left_; }
  std::string& buffer() { return out_; }

 private:
  void Append(const void* p, size_t n);
  bool Take(void* p, size_t n);     // false (and a failure) when fewer than n bytes are left
  void TakeString(std::string& s);  // the saved length and text, in check mode too
  void OutOfRange(const char* field, long long value, long long lo, long long hi);

  Mode mode_ = kSave;
  uint32_t version_ = kStateVersion;
  std::string out_;
  const uint8_t* in_ = nullptr;
  size_t left_ = 0;
  std::string error_;
  bool damaged_ = false;
};

}  // namespace korvane
