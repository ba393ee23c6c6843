// PNG files of screenshots through libpng: compressed 8-bit RGB out, any 8-bit PNG back in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/digest.h"  // Crc32, as PNG chunks use it

namespace korvane {

// Adler-32 as the zlib stream inside IDAT uses it.
uint32_t Adler32(const uint8_t* data, size_t n);

// Encodes width x height pixels of 3 bytes (red, green, blue), rows top first, as a compressed
// PNG. Returns an empty vector when libpng refuses (a size of 0 or beyond its limits).
std::vector<uint8_t> EncodePngRgb(int width, int height, const uint8_t* rgb);
// Encodes and writes the file; on failure returns false with a message naming the path.
bool WritePngRgb(const std::string& path, int width, int height, const uint8_t* rgb,
                 std::string* error);

// Decodes any PNG that libpng reads (grey, palette, RGB or RGBA; 8 or 16 bits) into 8-bit RGB,
// rows top first; alpha is composed onto black. Damaged files (bad signature, CRC, truncation)
// are refused with a message.
bool DecodePngRgb(const std::vector<uint8_t>& png, int* width, int* height,
                  std::vector<uint8_t>* rgb, std::string* error);

// The decoder under its earlier name, for callers that still use it.
inline bool DecodeStoredPngRgb(const std::vector<uint8_t>& png, int* width, int* height,
                               std::vector<uint8_t>* rgb, std::string* error) {
  return DecodePngRgb(png, width, height, rgb, error);
}

}  // namespace korvane
