// SHA-256 through libcrypto's EVP interface and CRC-32 through zlib.
#include "platform/digest.h"

#include <openssl/evp.h>
#include <openssl/sha.h>
#include <zlib.h>

#include <new>

namespace korvane {

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx_);
    throw std::bad_alloc();
  }
}

Sha256::~Sha256() { EVP_MD_CTX_free(ctx_); }

void Sha256::Update(const void* data, size_t n) { EVP_DigestUpdate(ctx_, data, n); }

Sha256Digest Sha256::Finish() {
  Sha256Digest d{};
  EVP_DigestFinal_ex(ctx_, d.data(), nullptr);
  return d;
}

Sha256Digest Sha256Of(const void* data, size_t n) {
  Sha256Digest d{};
  SHA256(static_cast<const unsigned char*>(data), n, d.data());
  return d;
}

std::string DigestHex(const Sha256Digest& d) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (uint8_t b : d) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}

uint32_t Crc32(const void* data, size_t n, uint32_t crc) {
  return static_cast<uint32_t>(crc32_z(crc, static_cast<const Bytef*>(data), n));
}

}  // namespace korvane
