// PNG files of screenshots through libpng's simplified interface, which reports every failure
// as a message instead of jumping out of our code.
#include "platform/png.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <limits>

namespace korvane {

namespace {

png_image RgbImage(int width, int height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  return image;
}

bool SizeOk(int width, int height) {
  return width > 0 && height > 0 &&
         static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3 <=
             static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
}

}  // namespace

uint32_t Adler32(const uint8_t* data, size_t n) {
  uLong a = adler32(0L, Z_NULL, 0);
  while (n > 0) {
    uInt part = n > (1u << 30) ? (1u << 30) : static_cast<uInt>(n);
    a = adler32(a, data, part);
    data += part;
    n -= part;
  }
  return static_cast<uint32_t>(a);
}

std::vector<uint8_t> EncodePngRgb(int width, int height, const uint8_t* rgb) {
  if (!SizeOk(width, height) || !rgb) return {};
  png_image image = RgbImage(width, height);
  png_alloc_size_t size = 0;
  // The first call measures, the second writes.
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, rgb, 0, nullptr)) {
    png_image_free(&image);
    return {};
  }
  std::vector<uint8_t> out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, rgb, 0, nullptr)) {
    png_image_free(&image);
    return {};
  }
  out.resize(size);
  return out;
}

bool WritePngRgb(const std::string& path, int width, int height, const uint8_t* rgb,
                 std::string* error) {
  std::vector<uint8_t> png = EncodePngRgb(width, height, rgb);
  if (png.empty()) {
    if (error)
      *error = "cannot encode a " + std::to_string(width) + "x" + std::to_string(height) +
               " picture for " + path;
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    if (error) *error = "cannot create " + path;
    return false;
  }
  bool ok = std::fwrite(png.data(), 1, png.size(), file) == png.size();
  ok = (std::fclose(file) == 0) && ok;
  if (!ok) {
    std::remove(path.c_str());  // no half-written picture is left behind
    if (error) *error = "cannot write " + path;
  }
  return ok;
}

bool DecodePngRgb(const std::vector<uint8_t>& png, int* width, int* height,
                  std::vector<uint8_t>* rgb, std::string* error) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + image.message;
    png_image_free(&image);
    return false;
  };
  if (png.empty()) {
    if (error) *error = "not a PNG file: it is empty";
    return false;
  }
  // libpng stops reading after the last picture row; a file cut after that point still has to
  // count as damaged, so the closing IEND chunk is checked here.
  static constexpr uint8_t kEnd[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  if (png.size() < sizeof kEnd ||
      !std::equal(std::begin(kEnd), std::end(kEnd), png.end() - sizeof kEnd)) {
    if (error) *error = "damaged PNG file: it does not end with an IEND chunk";
    return false;
  }
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size()))
    return fail("not a readable PNG file");
  image.format = PNG_FORMAT_RGB;
  if (!SizeOk(static_cast<int>(std::min<png_uint_32>(image.width, 1u << 30)),
              static_cast<int>(std::min<png_uint_32>(image.height, 1u << 30)))) {
    png_image_free(&image);
    if (error) *error = "PNG picture too large";
    return false;
  }
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
    return fail("damaged PNG file");
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  *rgb = std::move(pixels);
  png_image_free(&image);
  return true;
}

}  // namespace korvane
