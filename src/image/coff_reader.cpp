// Reading the executable's COFF headers from the open file, field by field, little-endian.
#include "image/coff_reader.h"

#include <cstring>

namespace korvane {

HeaderResult ReadCoffHeaders(std::FILE* f, ImageState& image) {
  uint8_t fh[kFileHeaderBytes];
  if (std::fread(fh, 1, sizeof fh, f) != sizeof fh) return HeaderResult::kTruncated;
  CoffFileHeader& h = image.file_header;
  h.magic = Le16(fh + 0);
  h.section_count = Le16(fh + 2);
  h.time_stamp = Le32(fh + 4);
  h.symbol_offset = Le32(fh + 8);
  h.symbol_count = Le32(fh + 12);
  h.optional_size = Le16(fh + 16);
  h.flags = Le16(fh + 18);
  if ((h.flags & kCoffExecutable) == 0) return HeaderResult::kNotExecutable;
  // A shorter optional header would make us read its successor's bytes as header fields and
  // then read the section headers from the wrong place.
  if (h.optional_size < kOptionalHeaderBytes) return HeaderResult::kShortOptional;

  uint8_t oh[kOptionalHeaderBytes];
  if (std::fread(oh, 1, sizeof oh, f) != sizeof oh) return HeaderResult::kTruncated;
  CoffOptionalHeader& o = image.opt_header;
  o.magic = Le16(oh + 0);
  o.version = Le16(oh + 2);
  o.text_size = Le32(oh + 4);
  o.data_size = Le32(oh + 8);
  o.bss_size = Le32(oh + 12);
  o.entry = Le32(oh + 16);
  o.text_start = Le32(oh + 20);
  o.data_start = Le32(oh + 24);
  o.tag_entries = Le32(oh + 28);
  for (int skip = h.optional_size - kOptionalHeaderBytes; skip > 0; --skip) {
    if (std::fgetc(f) == EOF) return HeaderResult::kTruncated;
  }

  for (auto& s : image.sections) {
    uint8_t sh[kSectionHeaderBytes];
    if (std::fread(sh, 1, sizeof sh, f) != sizeof sh) return HeaderResult::kTruncated;
    s = CoffSectionHeader{};
    std::memcpy(s.name, sh, 8);
    s.paddr = Le32(sh + 8);
    s.vaddr = Le32(sh + 12);
    s.size = Le32(sh + 16);
    s.data_offset = Le32(sh + 20);
    s.reloc_offset = Le32(sh + 24);
    s.line_offset = Le32(sh + 28);
    s.reloc_count = Le16(sh + 32);
    s.line_count = Le16(sh + 34);
    s.flags = Le32(sh + 36);
    s.alignment = Le32(sh + 40);
  }

  image.text_first = o.text_start;
  image.text_last = o.text_start + o.text_size - 1;
  image.bss_first = o.data_start + o.data_size;
  image.bss_last = image.bss_first + o.bss_size - 1;
  return HeaderResult::kOk;
}

}  // namespace korvane
