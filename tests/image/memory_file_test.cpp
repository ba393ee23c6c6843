// Tests of the memory file: restore and save with both signs of -mo, pieces of a large area,
// and a save killed half-way that must leave a whole old or new file.
#include "image/memory_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "image/coff_builder.h"

namespace korvane::test {
namespace {

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return v;
}

// Loads a project whose absolute-data area (ABSD) is `area` bytes, with `mem` as memory file.
bool LoadWithArea(Emulator& emu, const ProjectDir& dir, uint32_t area,
                  const std::vector<uint8_t>& mem, const std::string& mo) {
  CoffImage image;
  image.absd_size = area - 16;  // ABSD is the section + 16 bytes
  dir.Write("x.mem", mem);
  dir.WriteProject(image);
  std::vector<std::string> words{"korvane"};
  if (!mo.empty()) words.push_back(mo);
  words.push_back(dir.Path("x"));
  return LoadProject(emu, words);
}

std::vector<uint8_t> Area(Emulator& emu) {
  const MemRegion& r = emu.mem.regions[kRegionAbsd];
  return std::vector<uint8_t>(r.host, r.host + r.size);
}

void FillArea(Emulator& emu, const std::vector<uint8_t>& bytes) {
  std::copy(bytes.begin(), bytes.end(), emu.mem.regions[kRegionAbsd].host);
}

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(MemoryFile, RestoreAndSaveWithEveryKindOfOffset) {
  struct Row {
    const char* why;
    const char* mo;
    uint32_t area;
    size_t file_size;
    // Expected area after restore, and expected file after saving `saved` as the area.
    std::function<std::vector<uint8_t>(const std::vector<uint8_t>& file)> restored;
    std::function<std::vector<uint8_t>(const std::vector<uint8_t>& saved)> written;
  };
  const Row rows[] = {
      {"no offset: area byte k is file byte k", "", 64, 64, [](auto& f) { return f; },
       [](auto& s) { return s; }},
      {"an empty file leaves the area zero and receives the whole area", "", 64, 0,
       [](auto&) { return std::vector<uint8_t>(64, 0); }, [](auto& s) { return s; }},
      {"a short file fills the area's start and leaves the rest zero", "", 64, 10,
       [](auto& f) { return Cat(f, std::vector<uint8_t>(54, 0)); }, [](auto& s) { return s; }},
      {"-mo100: file bytes 100-163; the save has 100 zero bytes first", "-mo100", 64, 200,
       [](auto& f) { return std::vector<uint8_t>(f.begin() + 100, f.begin() + 164); },
       [](auto& s) { return Cat(std::vector<uint8_t>(100, 0), s); }},
      {"-mo-16: area bytes 0-15 are neither read nor written", "-mo-16", 64, 64,
       [](auto& f) {
         return Cat(std::vector<uint8_t>(16, 0), {f.begin(), f.begin() + 48});
       },
       [](auto& s) { return std::vector<uint8_t>(s.begin() + 16, s.end()); }},
      {"an area of several 0x7FF0-byte pieces", "", 0x7FF0 * 3 + 100, 0x7FF0 * 3 + 100,
       [](auto& f) { return f; }, [](auto& s) { return s; }},
      {"-mo-64 with a 64-byte area: nothing to transfer, the file is left as it was", "-mo-64", 64,
       64, [](auto&) { return std::vector<uint8_t>(64, 0); }, nullptr},
      {"-mo-1000 with a 64-byte area: the same", "-mo-1000", 64, 30,
       [](auto&) { return std::vector<uint8_t>(64, 0); }, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    ProjectDir dir;
    Emulator emu;
    const std::vector<uint8_t> file = Pattern(row.file_size, 1);
    ASSERT_TRUE(LoadWithArea(emu, dir, row.area, file, row.mo)) << emu.exit.message;
    EXPECT_EQ(Area(emu), row.restored(file));

    const std::vector<uint8_t> saved = Pattern(row.area, 99);
    FillArea(emu, saved);
    SaveMemoryFile(emu);
    EXPECT_EQ(dir.Read("x.mem"), row.written ? row.written(saved) : file);
  }
}

TEST(MemoryFile, SaveIntoAFolderThatCannotBeWrittenEndsTheRunAndKeepsTheOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: folder permissions do not apply";
  ProjectDir dir;
  Emulator emu;
  const std::vector<uint8_t> old = Pattern(64, 5);
  ASSERT_TRUE(LoadWithArea(emu, dir, 64, old, "")) << emu.exit.message;
  std::filesystem::permissions(
      dir.dir(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  FillArea(emu, Pattern(64, 9));
  EXPECT_THROW(SaveMemoryFile(emu), EmuExitSignal);
  std::filesystem::permissions(dir.dir(), std::filesystem::perms::owner_all);
  EXPECT_EQ(std::string(emu.exit.message), "EMUEXEC: write file not found - " + dir.Path("x.mem"));
  EXPECT_EQ(dir.Read("x.mem"), old);
}

// A memory file that may not be written is refused, as opening it for writing would be; the
// swap through a temporary file must not replace it anyway.
TEST(MemoryFile, ReadOnlyMemoryFileIsNotReplaced) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: file permissions do not apply";
  ProjectDir dir;
  Emulator emu;
  const std::vector<uint8_t> old = Pattern(64, 5);
  ASSERT_TRUE(LoadWithArea(emu, dir, 64, old, "")) << emu.exit.message;
  std::filesystem::permissions(dir.Path("x.mem"), std::filesystem::perms::owner_read);
  FillArea(emu, Pattern(64, 9));
  EXPECT_THROW(SaveMemoryFile(emu), EmuExitSignal);
  EXPECT_EQ(std::string(emu.exit.message), "EMUEXEC: write file not found - " + dir.Path("x.mem"));
  EXPECT_EQ(dir.Read("x.mem"), old);
}

// A memory file kept elsewhere and reached through a symbolic link is saved where the link
// points; the link stays a link.
TEST(MemoryFile, SaveThroughASymbolicLinkReachesItsTarget) {
  ProjectDir dir, store;
  Emulator emu;
  const std::vector<uint8_t> old = Pattern(64, 5), saved = Pattern(64, 9);
  ASSERT_TRUE(LoadWithArea(emu, dir, 64, old, "")) << emu.exit.message;
  store.Write("real.mem", old);
  std::filesystem::remove(dir.Path("x.mem"));
  std::filesystem::create_symlink(store.Path("real.mem"), dir.Path("x.mem"));
  FillArea(emu, saved);
  SaveMemoryFile(emu);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("x.mem")));
  EXPECT_EQ(store.Read("real.mem"), saved);
}

// A child process saves a large area again and again, alternating two contents, and is
// killed with SIGKILL in the middle; the memory file must then be one of the two whole
// contents, never a mixture or a short file.
TEST(MemoryFile, KillDuringSaveLeavesOldOrNewFile) {
  constexpr uint32_t kArea = 8u << 20;
  ProjectDir dir;
  const std::vector<uint8_t> a = Pattern(kArea, 1), b = Pattern(kArea, 2);
  for (int round = 0; round < 3; ++round) {
    dir.Write("x.mem", a);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Emulator emu;
      if (!LoadWithArea(emu, dir, kArea, a, "")) ::_exit(1);
      for (int i = 0;; ++i) {
        FillArea(emu, (i & 1) ? a : b);
        SaveMemoryFile(emu);
      }
    }
    // Let it get well into its saves (a few of them), then kill it without warning.
    ::usleep(150000 + 70000 * round);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child ended by itself";
    std::vector<uint8_t> now = dir.Read("x.mem");
    ASSERT_EQ(now.size(), kArea);
    EXPECT_TRUE(now == a || now == b) << "torn memory file in round " << round;
  }
}

}  // namespace
}  // namespace korvane::test
