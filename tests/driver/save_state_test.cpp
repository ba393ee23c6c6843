// Loaded fields are checked against their ranges: a state file with a value no machine could
// have saved is refused naming its section and field, and the machine stays as it was.
#include "driver/save_state.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/digest.h"
#include "services/machine_state.h"
#include "support/firmware_project.h"
#include "support/snippet.h"

namespace korvane {
namespace {

// The byte at which a section's contents start in a state file.
size_t SectionStart(const std::string& bytes, const char* name) {
  StateFile file;
  file.bytes = bytes;
  std::string error;
  if (!ParseStateFile(file, error)) return std::string::npos;
  for (const auto& s : file.sections)
    if (s.name == name) return s.offset;
  return std::string::npos;
}

std::string Resealed(std::string s) {
  const uint32_t crc = Crc32(s.data(), s.size() - 4);
  for (int i = 0; i < 4; ++i) s[s.size() - 4 + i] = static_cast<char>(crc >> (8 * i));
  return s;
}

TEST(SaveState, OutOfRangeFieldsAreRefusedNamingSectionAndField) {
  test::SnippetOptions options;
  options.keep_project_dir = true;
  auto emu = test::RunSnippet("loop: addo 1,g0,g0\n b loop\n", 1000, options);
  ASSERT_TRUE(emu->assembled);
  const std::string path = emu->project_dir + "/s.kst";
  std::string error;
  ASSERT_TRUE(SaveState(*emu, path, error)) << error;
  const std::string good = test::ReadHostFile(path);

  // Offsets inside each section follow its fields in the order the format lists them.
  struct Case {
    const char* section;
    size_t offset;
    uint8_t value;
    const char* message;
  } cases[] = {
      {"CPU ", 4 + 64 + 1020, 9, "(section \"CPU \": field cc is 9, outside 0 to 7)"},
      {"RUN ", 8 + 4, 20, "(section \"RUN \": field fault_count is 20, outside 0 to 19)"},
      {"KEYS", 16, 2, "(section \"KEYS\": field slot used is 2, outside 0 to 1)"},
      {"KEYS", 16 + 12 * 9, 255, "field first_call is 255"},
      {"DISP", 1300, 3, "(section \"DISP\": field dac_write_component is 3, outside 0 to 2)"},
      {"DISP", 1302, 200, "field dac_read_component is 200"},
      {"DISP", 528, 4, "field write_mode is 4"},
      {"DISP", 1319, 2, "field eight_pixel is 2"},
      {"DISP", 1320, 4, "field packed_write is 4"},
      {"FILE", 0, 7, "(section \"FILE\": field initialised is 7, outside 0 to 1)"},
  };
  for (const Case& c : cases) {
    const size_t at = SectionStart(good, c.section);
    ASSERT_NE(at, std::string::npos) << c.section;
    std::string bad = good;
    bad[at + c.offset] = static_cast<char>(c.value);
    StateFile state;
    state.path = "bad.kst";
    state.bytes = Resealed(bad);
    ASSERT_TRUE(ParseStateFile(state, error)) << error;
    EXPECT_FALSE(CheckState(*emu, state, error)) << c.message;
    EXPECT_NE(error.find("bad.kst is damaged"), std::string::npos) << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    // Nothing of the machine moved: it saves the same bytes as before.
    ASSERT_TRUE(SaveState(*emu, path, error)) << error;
    EXPECT_TRUE(test::ReadHostFile(path) == good) << c.message;
  }
  // A redirect left between two calls (the section grows, so the file is made by saving one).
  emu->intercept.spy_redirect = "x$init_port";
  StateArchive saved;
  SerializeIntercept(*emu, saved);
  emu->intercept.spy_redirect.clear();
  StateArchive check(StateArchive::kCheck, reinterpret_cast<const uint8_t*>(saved.buffer().data()),
                     saved.buffer().size(), kStateVersion);
  SerializeIntercept(*emu, check);
  EXPECT_TRUE(check.damaged());
  EXPECT_NE(check.error().find("field spy_redirect"), std::string::npos) << check.error();
  std::filesystem::remove_all(emu->project_dir);
}

}  // namespace
}  // namespace korvane
