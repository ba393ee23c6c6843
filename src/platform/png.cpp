// A small dependency-free PNG writer (8-bit RGB, stored deflate blocks) and a reader for its output.
#include "platform/png.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace korvane {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kStoredBlockMax = 65535;  // a stored deflate block holds at most this many

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

uint32_t Get32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void PutChunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, size_t n) {
  Put32(out, static_cast<uint32_t>(n));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  if (n) out.insert(out.end(), data, data + n);
  Put32(out, Crc32(out.data() + start, n + 4));
}

bool Fail(std::string* error, const char* text) {
  if (error) *error = text;
  return false;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc) {
  uint32_t c = crc ^ 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) c = kCrcTable[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

uint32_t Adler32(const uint8_t* data, size_t n) {
  constexpr uint32_t kMod = 65521;
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < n; ++i) {
    a = (a + data[i]) % kMod;
    b = (b + a) % kMod;
  }
  return (b << 16) | a;
}

std::vector<uint8_t> EncodePngRgb(int width, int height, const uint8_t* rgb) {
  const size_t row = static_cast<size_t>(width) * 3;
  // Raw scanlines: each row is preceded by filter type 0 (none).
  std::vector<uint8_t> raw;
  raw.reserve((row + 1) * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), rgb + row * y, rgb + row * (y + 1));
  }

  std::vector<uint8_t> z;
  z.reserve(raw.size() + raw.size() / kStoredBlockMax * 5 + 16);
  z.push_back(0x78);  // deflate, 32K window
  z.push_back(0x01);  // no preset dictionary; (0x78 * 256 + 0x01) is a multiple of 31
  size_t pos = 0;
  do {
    size_t n = std::min(kStoredBlockMax, raw.size() - pos);
    bool last = pos + n == raw.size();
    z.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00 = stored
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
    pos += n;
  } while (pos < raw.size());
  Put32(z, Adler32(raw.data(), raw.size()));

  std::vector<uint8_t> out(kSignature, kSignature + 8);
  std::vector<uint8_t> ihdr;
  Put32(ihdr, static_cast<uint32_t>(width));
  Put32(ihdr, static_cast<uint32_t>(height));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, filter 0, no interlace
  PutChunk(out, "IHDR", ihdr.data(), ihdr.size());
  PutChunk(out, "IDAT", z.data(), z.size());
  PutChunk(out, "IEND", nullptr, 0);
  return out;
}

bool WritePngRgb(const std::string& path, int width, int height, const uint8_t* rgb,
                 std::string* error) {
  std::vector<uint8_t> png = EncodePngRgb(width, height, rgb);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    if (error) *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok && error) *error = "cannot write " + path;
  return ok;
}

bool DecodeStoredPngRgb(const std::vector<uint8_t>& png, int* width, int* height,
                        std::vector<uint8_t>* rgb, std::string* error) {
  if (png.size() < 8 || std::memcmp(png.data(), kSignature, 8) != 0)
    return Fail(error, "not a PNG file");
  size_t pos = 8;
  std::vector<uint8_t> z;
  uint32_t w = 0, h = 0;
  bool have_header = false, have_end = false;
  while (!have_end) {
    if (png.size() - pos < 12) return Fail(error, "truncated chunk");
    uint32_t n = Get32(&png[pos]);
    if (n > png.size() - pos - 12) return Fail(error, "chunk runs past the end");
    const uint8_t* type = &png[pos + 4];
    const uint8_t* data = &png[pos + 8];
    if (Crc32(type, n + 4) != Get32(data + n)) return Fail(error, "chunk CRC mismatch");
    if (std::memcmp(type, "IHDR", 4) == 0) {
      if (n != 13) return Fail(error, "bad IHDR size");
      w = Get32(data);
      h = Get32(data + 4);
      if (data[8] != 8 || data[9] != 2 || data[10] || data[11] || data[12])
        return Fail(error, "only 8-bit RGB without interlace is read");
      if (w == 0 || h == 0 || w > 16384 || h > 16384) return Fail(error, "bad image size");
      have_header = true;
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      z.insert(z.end(), data, data + n);
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      have_end = true;
    }
    pos += 12 + n;
  }
  if (!have_header) return Fail(error, "no IHDR chunk");
  if (z.size() < 6 || (z[0] & 0x0F) != 8 || ((z[0] << 8) | z[1]) % 31 != 0)
    return Fail(error, "bad zlib header");
  std::vector<uint8_t> raw;
  size_t zp = 2;
  bool final_block = false;
  while (!final_block) {
    if (z.size() - zp < 5) return Fail(error, "truncated deflate block");
    if ((z[zp] & 0x06) != 0) return Fail(error, "only stored deflate blocks are read");
    final_block = z[zp] & 1;
    uint32_t len = z[zp + 1] | (z[zp + 2] << 8);
    uint32_t nlen = z[zp + 3] | (z[zp + 4] << 8);
    if ((len ^ 0xFFFF) != nlen) return Fail(error, "stored block length check failed");
    zp += 5;
    if (z.size() - zp < len) return Fail(error, "stored block runs past the data");
    raw.insert(raw.end(), z.begin() + zp, z.begin() + zp + len);
    zp += len;
  }
  if (z.size() - zp < 4 || Get32(&z[zp]) != Adler32(raw.data(), raw.size()))
    return Fail(error, "Adler-32 mismatch");
  const size_t row = size_t{w} * 3;
  if (raw.size() != (row + 1) * h) return Fail(error, "pixel data has the wrong size");
  rgb->clear();
  rgb->reserve(row * h);
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* line = &raw[(row + 1) * y];
    if (line[0] != 0) return Fail(error, "only filter type 0 is read");
    rgb->insert(rgb->end(), line + 1, line + 1 + row);
  }
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

}  // namespace korvane
