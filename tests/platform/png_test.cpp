// Tests of the PNG files: checksums, round trips, compression, other PNG kinds, refusal of damage.
#include "platform/png.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <string>
#include <vector>

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
  struct Row {
    int w, h;
    const char* why;
  };
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
  struct Row {
    size_t at;
    int delta;
    size_t cut;
    const char* why;
  };
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

TEST(PngEncode, ScreenOfFewColoursIsCompressed) {
  // A 640 x 480 screen of a few flat areas, as a firmware menu draws it.
  std::vector<uint8_t> rgb(640 * 480 * 3, 255);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x)
      if (y < 40 || (y >= 400 && x % 64 < 60)) rgb[(y * 640 + x) * 3 + 2] = 0;
  const std::vector<uint8_t> png = EncodePngRgb(640, 480, rgb.data());
  EXPECT_LT(png.size(), 20000u);
  EXPECT_TRUE(EncodePngRgb(0, 5, rgb.data()).empty()) << "an empty picture is refused";
}

TEST(PngDecode, ReadsOtherKindsOfPng) {
  // Pictures written by libpng in other formats come back as 8-bit RGB.
  const uint8_t rgba[] = {10, 20, 30, 255, 200, 100, 50, 255, 1, 2, 3, 0, 4, 5, 6, 255};
  const uint8_t grey[] = {0, 128, 255, 7};
  struct Row {
    uint32_t format;
    const uint8_t* pixels;
    std::vector<uint8_t> want;
    const char* why;
  };
  const Row rows[] = {
      {PNG_FORMAT_RGBA,
       rgba,
       {10, 20, 30, 200, 100, 50, 0, 0, 0, 4, 5, 6},
       "RGBA: a transparent pixel is composed onto black"},
      {PNG_FORMAT_GRAY, grey, {0, 0, 0, 128, 128, 128, 255, 255, 255, 7, 7, 7}, "grey"},
  };
  for (const Row& r : rows) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 2;
    image.height = 2;
    image.format = r.format;
    std::vector<uint8_t> file(4096);
    png_alloc_size_t size = file.size();
    ASSERT_TRUE(png_image_write_to_memory(&image, file.data(), &size, 0, r.pixels, 0, nullptr));
    file.resize(size);
    int w = 0, h = 0;
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(DecodePngRgb(file, &w, &h, &out, &error)) << r.why << ": " << error;
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(out, r.want) << r.why;
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
