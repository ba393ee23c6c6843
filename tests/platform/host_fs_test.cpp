// Tests of the Linux host layer of the file services: drive folders, DOS path resolution,
// listings and DOS date/time conversion (links and renames are covered through the services).
#include "platform/host_fs.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace korvane {
namespace {

namespace stdfs = std::filesystem;

class HostFs : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/korvane-hostfs-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    top_ = tmpl;
    stdfs::create_directories(top_ + "/c/Work/Deep");
    stdfs::create_directories(top_ + "/outside");
    std::ofstream(top_ + "/c/Work/Notes.txt") << "n";
    fs_.use_environment = false;
    fs_.base_folder = top_ + "/project";
    fs_.drive_folder['C' - 'A'] = top_ + "/c";
  }
  void TearDown() override {
    std::error_code ec;
    stdfs::remove_all(top_, ec);
  }
  std::string Real(const std::string& p) { return stdfs::canonical(p).string(); }

  std::string top_;
  HostFsSettings fs_;
};

TEST_F(HostFs, DriveFoldersComeFromSettingEnvironmentOrProjectFolder) {
  ::setenv("KORVANE_DRIVE_Q", "/env/q", 1);
  ::setenv("KORVANE_DRIVE_R", "relative/r", 1);
  fs_.drive_folder['S' - 'A'] = "also/relative";
  EXPECT_EQ(HostDriveFolder(fs_, 'C'), top_ + "/c") << "the setting wins";
  EXPECT_EQ(HostDriveFolder(fs_, 'Q'), top_ + "/project/drives/Q")
      << "the environment is not consulted when switched off";
  fs_.use_environment = true;
  EXPECT_EQ(HostDriveFolder(fs_, 'Q'), "/env/q");
  EXPECT_EQ(HostDriveFolder(fs_, 'q'), "/env/q") << "letters are upper-cased";
  EXPECT_EQ(HostDriveFolder(fs_, 'R'), "") << "a relative variable names no drive";
  EXPECT_EQ(HostDriveFolder(fs_, 'S'), "") << "a relative setting names no drive";
  EXPECT_EQ(HostDriveFolder(fs_, '?'), "") << "\"?\" names no drive";
  EXPECT_EQ(HostDriveFolder(fs_, '1'), "");
  ::unsetenv("KORVANE_DRIVE_Q");
  ::unsetenv("KORVANE_DRIVE_R");
  fs_.base_folder.clear();
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(HostDriveFolder(fs_, 'T'), std::string(cwd) + "/drives/T");
}

TEST_F(HostFs, DosPathsResolveWithoutRegardToCaseAndStayInside) {
  const std::string c = Real(top_ + "/c");
  struct Row {
    const char* dos;
    bool ok;
    std::string host;
    const char* why;
  } rows[] = {
      {"C:", true, c, "the drive root"},
      {"C:\\", true, c, "root with a backslash"},
      {"c:\\WORK\\deep", true, c + "/Work/Deep", "case-insensitive per component"},
      {"C:\\WORK\\NEW.TXT", true, c + "/Work/NEW.TXT", "a new name is used as given"},
      {"C:\\WORK\\.\\NOTES.TXT", true, c + "/Work/Notes.txt", "\".\" is skipped"},
      {"C:\\..\\..\\X", true, c + "/X", "\"..\" never climbs above the root"},
      {"C:\\WORK\\..\\WORK", true, c + "/Work", "\"..\" inside the drive"},
      {"C:\\A/B", false, "", "a slash inside a name"},
      {"C:\\WORK\\", true, c + "/Work", "a trailing backslash"},
      {"D:\\", false, "", "a drive without a folder"},
      {"\\WORK", false, "", "no drive at all"},
      {"", false, "", "empty"},
  };
  for (const Row& r : rows) {
    std::string host;
    EXPECT_EQ(ResolveDosPath(fs_, r.dos, &host), r.ok) << r.why;
    if (r.ok) {
      EXPECT_EQ(host, r.host) << r.why;
    }
  }
  std::string with_nul("C:\\A\0B", 6);
  EXPECT_FALSE(ResolveDosPath(fs_, with_nul, nullptr)) << "a NUL byte inside a name";
  std::string at_limit = "C:\\" + std::string(kMaxDosPath - 3, 'x');
  EXPECT_TRUE(ResolveDosPath(fs_, at_limit, nullptr));
  EXPECT_FALSE(ResolveDosPath(fs_, at_limit + "x", nullptr)) << "longer than the host accepts";
}

TEST_F(HostFs, ListingsLookLikeAFatVolume) {
  std::ofstream(top_ + "/c/Work/b.txt") << "12";
  std::ofstream(top_ + "/c/Work/.hidden") << "";
  ::chmod((top_ + "/c/Work/b.txt").c_str(), 0444);
  std::vector<HostDirEntry> e;
  ASSERT_TRUE(HostListDir(fs_, "C:\\WORK", &e));
  ASSERT_EQ(e.size(), 6u);
  // "." and ".." first, then by name without regard to case.
  const char* names[] = {".", "..", ".hidden", "b.txt", "Deep", "Notes.txt"};
  const uint8_t attrs[] = {0x10, 0x10, 0x22, 0x21, 0x10, 0x20};
  for (size_t i = 0; i < e.size(); ++i) {
    EXPECT_EQ(e[i].name, names[i]) << i;
    EXPECT_EQ(e[i].attributes, attrs[i]) << names[i];
  }
  EXPECT_EQ(e[3].size, 2u);
  ASSERT_TRUE(HostListDir(fs_, "C:", &e));
  ASSERT_EQ(e.size(), 1u) << "a drive root has no \".\" or \"..\"";
  EXPECT_EQ(e[0].name, "Work");
  EXPECT_FALSE(HostListDir(fs_, "C:\\NOPE", &e));
  EXPECT_TRUE(HostDriveExists(fs_, 'C'));
  EXPECT_FALSE(HostDriveExists(fs_, 'D'));
}

TEST_F(HostFs, DosDatesAndTimesConvertInLocalTime) {
  struct Row {
    uint16_t date, time;
    bool ok;
    const char* why;
  } rows[] = {
      {(41 << 9) | (6 << 5) | 15, (13 << 11) | (45 << 5) | 15, true, "2021-06-15 13:45:30"},
      {(0 << 9) | (1 << 5) | 1, 0, true, "the first DOS day"},
      {(20 << 9) | (2 << 5) | 29, (23 << 11) | (59 << 5) | 29, true, "leap day 2000"},
      {(21 << 9) | (2 << 5) | 29, 0, false, "no 29 February in 2001"},
      {(41 << 9) | (0 << 5) | 1, 0, false, "month 0"},
      {(41 << 9) | (1 << 5) | 0, 0, false, "day 0"},
      {(41 << 9) | (1 << 5) | 1, (24 << 11), false, "hour 24"},
      {(41 << 9) | (1 << 5) | 1, (60 << 5), false, "minute 60"},
      {(41 << 9) | (1 << 5) | 1, 30, false, "second 60"},
  };
  for (const Row& r : rows) {
    std::time_t t = 0;
    ASSERT_EQ(DosToHostTime(r.date, r.time, &t), r.ok) << r.why;
    if (!r.ok) continue;
    uint16_t d = 0, tm = 0;
    HostTimeToDos(t, &d, &tm);
    EXPECT_EQ(d, r.date) << r.why;
    EXPECT_EQ(tm, r.time) << r.why;
  }
  uint16_t d = 0, t = 0;
  HostTimeToDos(0, &d, &t);  // 1970
  EXPECT_EQ(d, (1 << 5) | 1) << "times before 1980 become its first day";
  EXPECT_EQ(t, 0);
}

}  // namespace
}  // namespace korvane
