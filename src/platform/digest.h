// Checksums from the host's libraries: SHA-256 from libcrypto (which firmware a state belongs
// to) and CRC-32 from zlib (whether a state file or a PNG chunk arrived whole).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

struct evp_md_ctx_st;  // libcrypto's EVP_MD_CTX

namespace korvane {

using Sha256Digest = std::array<uint8_t, 32>;

// SHA-256 of data fed in pieces.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const void* data, size_t n);
  Sha256Digest Finish();

 private:
  evp_md_ctx_st* ctx_;
};

Sha256Digest Sha256Of(const void* data, size_t n);
std::string DigestHex(const Sha256Digest& d);

// CRC-32 with the polynomial of zip and PNG; pass the previous result to continue a running
// checksum.
uint32_t Crc32(const void* data, size_t n, uint32_t crc = 0);

}  // namespace korvane
