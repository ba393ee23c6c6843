// A small dependency-free PNG writer (8-bit RGB, stored deflate blocks) and a reader for its output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

// CRC-32 as PNG chunks use it; pass the previous result to continue a running checksum.
uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc = 0);
// Adler-32 as the zlib stream inside IDAT uses it.
uint32_t Adler32(const uint8_t* data, size_t n);

// Encodes width x height pixels of 3 bytes (red, green, blue), rows top first.
std::vector<uint8_t> EncodePngRgb(int width, int height, const uint8_t* rgb);
// Encodes and writes the file; on failure returns false with a message naming the path.
bool WritePngRgb(const std::string& path, int width, int height, const uint8_t* rgb,
                 std::string* error);

// Decodes what EncodePngRgb produces (8-bit RGB, no interlace, filter 0, stored deflate
// blocks), checking every CRC and the Adler sum. Anything else is refused with a message.
bool DecodeStoredPngRgb(const std::vector<uint8_t>& png, int* width, int* height,
                        std::vector<uint8_t>* rgb, std::string* error);

}  // namespace korvane
