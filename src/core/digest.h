// Digests for state files: SHA-256 (which firmware a state belongs to) and CRC-32 (whether a
// file arrived whole).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  void Update(const void* data, size_t n);
  Sha256Digest Finish();

 private:
  void Block(const uint8_t* p);
  uint32_t h_[8];
  uint8_t buf_[64];
  size_t used_ = 0;
  uint64_t total_ = 0;
};

Sha256Digest Sha256Of(const void* data, size_t n);
std::string DigestHex(const Sha256Digest& d);

// CRC-32 (the polynomial of zip and PNG), continued from `crc` (0 to start).
uint32_t Crc32(uint32_t crc, const void* data, size_t n);

}  // namespace korvane
