// Reading the executable's COFF headers from the open file, field by field, little-endian.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/image.h"

namespace korvane {

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Outcome of reading the three headers.
enum class HeaderResult {
  kOk,
  kTruncated,      // the file ends inside the headers
  kNotExecutable,  // flag 0x0002 is clear
  kShortOptional,  // the declared optional header is shorter than the 32 bytes we read
};

// Reads file header, optional header (skipping declared extra bytes) and five section headers
// from the current position of `f`, and sets the text and bss ranges of `image`.
HeaderResult ReadCoffHeaders(std::FILE* f, ImageState& image);

}  // namespace korvane
