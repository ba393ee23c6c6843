// Tests of the PNG writer: checksums, block splitting, and the decoder's refusal of damage.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/png.h"

namespace korvane {
namespace {

std::vector<uint8_t> Pattern(int w, int h) {
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7 + i / 3);
  return rgb;
}

TEST(PngChecksums, KnownValues) {
  const char* check = "123456789";
  EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(check), 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(check + 4), 5,
                  Crc32(reinterpret_cast<const uint8_t*>(check), 4)),
            0xCBF43926u)
      << "a running CRC continues across pieces";
  const char* wiki = "Wikipedia";
  EXPECT_EQ(Adler32(reinterpret_cast<const uint8_t*>(wiki), 9), 0x11E60398u);
  EXPECT_EQ(Adler32(nullptr, 0), 1u);
}

TEST(PngEncode, RoundTripsAcrossStoredBlockSizes) {
  struct Row { int w, h; const char* why; };
  const Row rows[] = {
      {1, 1, "smallest image: one short final block"},
      {1456, 15, "raw data of exactly 65535 bytes: one full block"},
      {1456, 16, "one byte row more than a full block: a second block"},
      {640, 480, "a screenshot: fifteen blocks"},
  };
  for (const Row& r : rows) {
    const std::vector<uint8_t> rgb = Pattern(r.w, r.h);
    const std::vector<uint8_t> png = EncodePngRgb(r.w, r.h, rgb.data());
    ASSERT_GE(png.size(), 8u + 25u);
    EXPECT_EQ(std::memcmp(png.data(), "\x89PNG\r\n\x1A\n", 8), 0) << r.why;
    EXPECT_EQ(std::memcmp(&png[12], "IHDR", 4), 0) << r.why;
    int w = 0, h = 0;
    std::vector<uint8_t> back;
    std::string error;
    ASSERT_TRUE(DecodeStoredPngRgb(png, &w, &h, &back, &error)) << r.why << ": " << error;
    EXPECT_EQ(w, r.w);
    EXPECT_EQ(h, r.h);
    EXPECT_TRUE(back == rgb) << r.why;
  }
}

TEST(PngDecode, RefusesDamagedFiles) {
  const std::vector<uint8_t> rgb = Pattern(20, 10);
  const std::vector<uint8_t> good = EncodePngRgb(20, 10, rgb.data());
  struct Row { size_t at; int delta; size_t cut; const char* why; };
  const Row rows[] = {
      {0, 1, 0, "bad signature"},
      {20, 1, 0, "IHDR width changed: its CRC no longer matches"},
      {60, 1, 0, "a pixel byte changed inside IDAT: the chunk CRC catches it"},
      {0, 0, 30, "file cut inside the IHDR chunk"},
      {0, 0, 12, "file cut before the IEND chunk"},
  };
  for (const Row& r : rows) {
    std::vector<uint8_t> bad = good;
    if (r.delta) bad[r.at] = static_cast<uint8_t>(bad[r.at] + r.delta);
    if (r.cut) bad.resize(r.cut < 13 ? bad.size() - r.cut : r.cut);
    int w = 0, h = 0;
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_FALSE(DecodeStoredPngRgb(bad, &w, &h, &out, &error)) << r.why;
    EXPECT_FALSE(error.empty()) << r.why;
  }
}

TEST(PngWrite, ReportsAnUnwritablePath) {
  const std::vector<uint8_t> rgb = Pattern(2, 2);
  std::string error;
  EXPECT_FALSE(WritePngRgb("/nonexistent-dir/x.png", 2, 2, rgb.data(), &error));
  EXPECT_NE(error.find("/nonexistent-dir/x.png"), std::string::npos);
}

}  // namespace
}  // namespace korvane
