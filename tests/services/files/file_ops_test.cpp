// Tests of the file operations against a temporary drive folder: drive check, open-file
// table, transfers, readline, close stamping, delete, rename, names and paths.
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "files_fixture.h"

namespace korvane::test {
namespace {

class FileOps : public FilesTest {};

TEST_F(FileOps, DriveCheckAcceptsOnlyTheTenUpperCaseLetters) {
  struct Row {
    uint32_t drive;
    bool pass;
    const char* why;
  } rows[] = {
      {'A', true, "first drive"},
      {'D', true, "last of the first group"},
      {'P', true, "first of the second group"},
      {'U', true, "last drive"},
      {'a', false, "lower case is not a drive"},
      {'E', false, "the gap between D and P"},
      {'V', false, "past U"},
      {0x143, false, "the whole word counts, not its low byte"},
  };
  for (const Row& r : rows) {
    ClearErrnum();
    Set(FileRequest::kDrive, r.drive);
    Call(NativeFileDefineDrive);
    EXPECT_EQ(G9(), r.pass ? 1u : 0u) << r.why;
    EXPECT_EQ(Errnum(), r.pass ? 0u : 4u) << r.why;
  }
}

TEST_F(FileOps, BadDriveOrPendingErrorLeavesTheRequestAlone) {
  WriteHostFile(drive_c_ + "/A.TXT", "x");
  StartParse();
  Set(FileRequest::kHandle, 7);
  Set(FileRequest::kSize, 1234);
  Set(FileRequest::kPosition, 55);
  Set(FileRequest::kDrive, 'e');
  OpenName("A       TXT");
  EXPECT_EQ(G9(), 0u);
  EXPECT_EQ(Errnum(), 4u);
  EXPECT_EQ(Get(FileRequest::kHandle), 7u);
  EXPECT_EQ(Get(FileRequest::kSize), 1234u);
  EXPECT_EQ(Get(FileRequest::kPosition), 55u);
  // A good drive with an error still pending from an earlier call fails the same way and
  // keeps the old code.
  Set(FileRequest::kDrive, 'C');
  GuestWrite32(emu().mem, kErrnum, 10);
  OpenName("A       TXT");
  EXPECT_EQ(G9(), 0u);
  EXPECT_EQ(Errnum(), 10u);
  EXPECT_EQ(Get(FileRequest::kHandle), 7u);
}

TEST_F(FileOps, FormatFailsShutdownSucceedsAndKeepsFilesOpen) {
  Call(NativeFileFormat);
  EXPECT_EQ(G9(), 0u);
  EXPECT_EQ(Errnum(), 1u);
  ClearErrnum();
  WriteHostFile(drive_c_ + "/A.TXT", "abc");
  StartParse();
  uint32_t h = OpenName("A       TXT");
  ASSERT_EQ(h, 0u);
  Call(NativeFileShutdown);
  EXPECT_EQ(G9(), 1u);
  EXPECT_GE(emu().files.slots[0].fd, 0);
}

TEST_F(FileOps, OpenFindsNamesWithoutRegardToCase) {
  WriteHostFile(drive_c_ + "/readme.txt", "hello world");
  StartParse();
  uint32_t h = OpenName("README  TXT");
  EXPECT_EQ(G9(), 1u);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(Get(FileRequest::kSize), 11u);
  EXPECT_EQ(Get(FileRequest::kPosition), 0u);
  Set(FileRequest::kAddress, kBuffer);
  Set(FileRequest::kCount, 5);
  Call(NativeFileRead);
  EXPECT_EQ(Get(FileRequest::kCount), 5u);
  EXPECT_EQ(Get(FileRequest::kPosition), 5u);
  EXPECT_EQ(GetBytes(kBuffer, 5), "hello");
  // Also inside subdirectories reached through change_parse_dir.
  stdfs::create_directories(drive_c_ + "/Work/Sub");
  WriteHostFile(drive_c_ + "/Work/Sub/Data.Bin", "1234");
  SetPacked("WORK       ");
  Call(NativeFileChangeParseDir);
  SetPacked("SUB        ");
  Call(NativeFileChangeParseDir);
  EXPECT_EQ(emu().files.parse_path, "C:\\WORK\\SUB");
  OpenName("DATA    BIN");
  EXPECT_EQ(G9(), 1u);
  EXPECT_EQ(Get(FileRequest::kSize), 4u);
}

TEST_F(FileOps, FailedOpensGiveHandle99AndCode11) {
  stdfs::create_directories(drive_c_ + "/ADIR");
  ::mkfifo((drive_c_ + "/PIPE").c_str(), 0600);
  StartParse();
  // Rows: a missing file; a directory; a named pipe, which must not stall the emulation.
  for (auto name : {"MISSING TXT", "ADIR       ", "PIPE       "}) {
    ClearErrnum();
    Set(FileRequest::kSize, 9);
    Set(FileRequest::kPosition, 9);
    char packed[12];
    std::memcpy(packed, name, 12);
    GuestWrite(emu().mem, kName, packed, 11);
    Set(FileRequest::kAddress, kName);
    Call(NativeFileOpen);
    EXPECT_EQ(G9(), 0u) << name;
    EXPECT_EQ(Errnum(), 11u) << name;
    EXPECT_EQ(Get(FileRequest::kHandle), 99u) << name;
    EXPECT_EQ(Get(FileRequest::kSize), 0u) << name;
    EXPECT_EQ(Get(FileRequest::kPosition), 0u) << name;
  }
}

TEST_F(FileOps, EleventhOpenFailsAndFreedSlotIsReusedFirst) {
  WriteHostFile(drive_c_ + "/A.TXT", "a");
  StartParse();
  for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(OpenName("A       TXT"), i);
  EXPECT_EQ(OpenName("A       TXT"), 99u);
  EXPECT_EQ(Errnum(), 11u);
  ClearErrnum();
  Set(FileRequest::kHandle, 3);
  Call(NativeFileClose);
  EXPECT_EQ(G9(), 1u);
  EXPECT_EQ(OpenName("A       TXT"), 3u);
  // A full table also makes create fail with 11, even for an existing name.
  EXPECT_EQ(OpenName("A       TXT", true), 99u);
  EXPECT_EQ(Errnum(), 11u);
}

TEST_F(FileOps, CreateRefusesExistingFilesAndWritesNewOnes) {
  WriteHostFile(drive_c_ + "/keep.txt", "precious");
  StartParse();
  EXPECT_EQ(OpenName("KEEP    TXT", true), 99u);
  EXPECT_EQ(G9(), 0u);
  EXPECT_EQ(Errnum(), 10u);
  EXPECT_EQ(ReadHostFile(drive_c_ + "/keep.txt"), "precious");
  EXPECT_EQ(emu().files.slots[0].fd, -1) << "the probing open was closed again";
  ClearErrnum();

  uint32_t h = OpenName("NEW     DAT", true);
  ASSERT_EQ(h, 0u);
  EXPECT_EQ(G9(), 1u);
  EXPECT_EQ(Get(FileRequest::kSize), 0u);
  PutBytes(kBuffer, "line one\r\n");
  Set(FileRequest::kAddress, kBuffer);
  Set(FileRequest::kCount, 10);
  Set(FileRequest::kPosition, 0);
  Call(NativeFileWrite);
  EXPECT_EQ(G9(), 1u);
  EXPECT_EQ(Get(FileRequest::kCount), 10u);
  EXPECT_EQ(Get(FileRequest::kPosition), 10u);
  Set(FileRequest::kDate, 0xFFFFFFFF);
  Set(FileRequest::kTime, 0xFFFFFFFF);
  Call(NativeFileClose);
  // Created as given, without newline translation.
  EXPECT_EQ(ReadHostFile(drive_c_ + "/NEW.DAT"), "line one\r\n");
}

TEST_F(FileOps, TransfersAreClippedAtTheRegionEndAndNegativeCountsMoveNothing) {
  WriteHostFile(drive_c_ + "/BIG.BIN", std::string(64, 'Z'));
  StartParse();
  ASSERT_EQ(OpenName("BIG     BIN"), 0u);
  const uint32_t near_end = kData + kDataSize - 8;
  struct Row {
    int32_t count;
    uint32_t address;
    uint32_t expect;
    const char* why;
  } rows[] = {
      {16, near_end, 8, "only the 8 bytes left in DATA are filled"},
      {-5, kBuffer, 0, "a negative count transfers nothing"},
      {0, kBuffer, 0, "zero is zero"},
  };
  for (const Row& r : rows) {
    Set(FileRequest::kPosition, 0);
    Set(FileRequest::kAddress, r.address);
    Set(FileRequest::kCount, static_cast<uint32_t>(r.count));
    Call(NativeFileRead);
    EXPECT_EQ(Get(FileRequest::kCount), r.expect) << r.why;
    EXPECT_EQ(Get(FileRequest::kPosition), r.expect) << r.why;
    Set(FileRequest::kCount, static_cast<uint32_t>(r.count));
    Call(NativeFileReadline);
    EXPECT_EQ(Get(FileRequest::kCount), r.expect) << "readline: " << r.why;
  }
  EXPECT_EQ(GetBytes(near_end, 8), std::string(8, 'Z'));

  ASSERT_EQ(OpenName("OUT     BIN", true), 1u);
  PutBytes(near_end, "12345678");
  Set(FileRequest::kAddress, near_end);
  Set(FileRequest::kCount, 100);
  Call(NativeFileWrite);
  EXPECT_EQ(Get(FileRequest::kCount), 8u);
  Set(FileRequest::kCount, static_cast<uint32_t>(-1));
  Call(NativeFileWrite);
  EXPECT_EQ(Get(FileRequest::kCount), 0u);
  Call(NativeFileClose);
  EXPECT_EQ(ReadHostFile(drive_c_ + "/OUT.BIN"), "12345678");
}

TEST_F(FileOps, WrongHandlesTransferNothing) {
  WriteHostFile(drive_c_ + "/R.TXT", "data");
  StartParse();
  ASSERT_EQ(OpenName("R       TXT"), 0u);
  PutBytes(kBuffer, "XXXX");
  // Rows: a slot never opened; a number past the table; the "no file" handle; writing to a
  // file opened for reading.
  for (uint32_t handle : {5u, 10u, 99u, 0u}) {
    Set(FileRequest::kHandle, handle);
    Set(FileRequest::kAddress, kBuffer);
    Set(FileRequest::kCount, 4);
    Set(FileRequest::kPosition, 2);
    Call(NativeFileWrite);
    EXPECT_EQ(G9(), 1u);
    EXPECT_EQ(Get(FileRequest::kCount), 0u) << handle;
    EXPECT_EQ(Get(FileRequest::kPosition), 2u) << handle;
    if (handle == 0) continue;
    Set(FileRequest::kCount, 4);
    Call(NativeFileRead);
    EXPECT_EQ(Get(FileRequest::kCount), 0u) << handle;
    Set(FileRequest::kCount, 4);
    Call(NativeFileSeek);
    EXPECT_EQ(Get(FileRequest::kCount), 0u) << handle;
    EXPECT_EQ(Get(FileRequest::kPosition), 0u) << handle;
    Call(NativeFileClose);
    EXPECT_EQ(G9(), 1u) << "close of a bad handle still succeeds";
  }
  EXPECT_EQ(ReadHostFile(drive_c_ + "/R.TXT"), "data");
}

TEST_F(FileOps, SeekSetsAbsolutePositionsAndRefusesNegativeOnes) {
  WriteHostFile(drive_c_ + "/S.TXT", "0123456789");
  StartParse();
  ASSERT_EQ(OpenName("S       TXT"), 0u);
  Set(FileRequest::kCount, 7);
  Call(NativeFileSeek);
  EXPECT_EQ(Get(FileRequest::kCount), 7u);
  EXPECT_EQ(Get(FileRequest::kPosition), 7u);
  Set(FileRequest::kAddress, kBuffer);
  Set(FileRequest::kCount, 10);
  Call(NativeFileRead);
  EXPECT_EQ(Get(FileRequest::kCount), 3u);
  EXPECT_EQ(GetBytes(kBuffer, 3), "789");
  Set(FileRequest::kCount, 100);  // past the end is allowed
  Call(NativeFileSeek);
  EXPECT_EQ(Get(FileRequest::kPosition), 100u);
  Set(FileRequest::kCount, static_cast<uint32_t>(-1));
  Call(NativeFileSeek);
  EXPECT_EQ(Get(FileRequest::kCount), 0u);
  EXPECT_EQ(Get(FileRequest::kPosition), 0u);
}

// Reads lines from the open file with the given counts; returns "text/position" after each.
std::vector<std::string> ReadLines(Emulator& emu, const std::vector<int32_t>& counts) {
  std::vector<std::string> out;
  for (int32_t c : counts) {
    GuestWrite32(emu.mem, FilesTest::kRequest + FileRequest::kAddress, FilesTest::kBuffer);
    GuestWrite32(emu.mem, FilesTest::kRequest + FileRequest::kCount, static_cast<uint32_t>(c));
    NativeFileReadline(emu);
    uint32_t n = GuestRead32(emu.mem, FilesTest::kRequest + FileRequest::kCount);
    std::string text(n, '\0');
    GuestRead(emu.mem, FilesTest::kBuffer, text.data(), n);
    out.push_back(text + "/" +
                  std::to_string(GuestRead32(emu.mem, FilesTest::kRequest + FileRequest::kPosition)));
  }
  return out;
}

TEST_F(FileOps, ReadlineFollowsTheCrLfRules) {
  struct Row {
    std::string content;
    std::vector<int32_t> counts;
    std::vector<std::string> expect;  // text read / request position after each call
    const char* why;
  } rows[] = {
      {"AB\r\nC", {80, 80, 80}, {"AB/4", "C/5", "/5"}, "CR LF is consumed, then the tail"},
      {"AB\nC", {80, 80}, {"AB/2", "/2"}, "an LF alone stays unread and stops further lines"},
      {"ABCDE\r\nF", {3, 80, 80}, {"ABC/3", "DE/7", "F/8"},
       "a short count takes part of the line and no terminator"},
      {"A\rB", {80, 80}, {"A/2", "B/3"}, "a CR alone ends a line too"},
      {"\r\n\r\nX", {80, 80, 80}, {"/2", "/4", "X/5"}, "empty lines consume their ends"},
      {"A\r\rB", {80, 80, 80}, {"A/2", "/3", "B/4"}, "CR CR is two line ends"},
  };
  int k = 0;
  for (const Row& r : rows) {
    std::string name = "L" + std::to_string(k++);
    std::string path = drive_c_ + "/" + name + ".TXT";
    WriteHostFile(path, r.content);
    StartParse();
    char packed[12] = "           ";
    std::memcpy(packed, name.data(), name.size());
    std::memcpy(packed + 8, "TXT", 3);
    GuestWrite(emu().mem, kName, packed, 11);
    Set(FileRequest::kAddress, kName);
    Call(NativeFileOpen);
    ASSERT_EQ(G9(), 1u);
    EXPECT_EQ(ReadLines(emu(), r.counts), r.expect) << r.why;
    Call(NativeFileClose);
  }
}

TEST_F(FileOps, ReadlineStoresOnlyTheLineAndNoTerminator) {
  WriteHostFile(drive_c_ + "/T.TXT", "HI\r\nTHERE");
  StartParse();
  ASSERT_EQ(OpenName("T       TXT"), 0u);
  PutBytes(kBuffer, "########");
  Set(FileRequest::kAddress, kBuffer);
  Set(FileRequest::kCount, 8);
  Call(NativeFileReadline);
  EXPECT_EQ(GetBytes(kBuffer, 8), "HI######");
}

time_t HostMtime(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

TEST_F(FileOps, CloseStampsCreatedFilesOnlyWithAWholeValidStamp) {
  const uint32_t date = ((2021 - 1980) << 9) | (6 << 5) | 15;  // 2021-06-15
  const uint32_t time = (13 << 11) | (45 << 5) | (30 / 2);     // 13:45:30
  struct tm tm {};
  tm.tm_year = 121;
  tm.tm_mon = 5;
  tm.tm_mday = 15;
  tm.tm_hour = 13;
  tm.tm_min = 45;
  tm.tm_sec = 30;
  tm.tm_isdst = -1;
  const time_t stamped = ::mktime(&tm);
  struct Row {
    uint32_t date, time;
    bool stamps;
    const char* why;
  } rows[] = {
      {date, time, true, "both valid: local time 2021-06-15 13:45:30"},
      {0xFFFFFFFF, time, false, "date -1 means none"},
      {date, 0xFFFFFFFF, false, "time -1 means none"},
      {date, 0xFFFF, false, "0xFFFF counts as -1"},
      {0, 0, false, "a zero stamp is none"},
      {(13u << 5) | 1, 0, false, "month 13 is no date"},
      {((2021 - 1980) << 9) | (2 << 5) | 30, 0, false, "30 February is no date"},
  };
  StartParse();
  for (const Row& r : rows) {
    std::remove((drive_c_ + "/STAMP.TXT").c_str());
    ASSERT_EQ(OpenName("STAMP   TXT", true), 0u) << r.why;
    Set(FileRequest::kDate, r.date);
    Set(FileRequest::kTime, r.time);
    Call(NativeFileClose);
    EXPECT_EQ(G9(), 1u);
    EXPECT_EQ(emu().files.slots[0].fd, -1);
    time_t m = HostMtime(drive_c_ + "/STAMP.TXT");
    if (r.stamps) {
      EXPECT_EQ(m, stamped) << r.why;
    } else {
      EXPECT_NE(m, stamped) << r.why;
      EXPECT_GT(m, stamped) << r.why << ": the file keeps its fresh time";
    }
  }
  // A file opened for reading is never stamped.
  ASSERT_EQ(OpenName("STAMP   TXT"), 0u);
  time_t before = HostMtime(drive_c_ + "/STAMP.TXT");
  Set(FileRequest::kDate, date);
  Set(FileRequest::kTime, time);
  Call(NativeFileClose);
  EXPECT_EQ(HostMtime(drive_c_ + "/STAMP.TXT"), before);
}

TEST_F(FileOps, DeleteRemovesFilesButNeverDirectoriesAndAlwaysSucceeds) {
  WriteHostFile(drive_c_ + "/gone.txt", "x");
  stdfs::create_directories(drive_c_ + "/KEEPDIR");
  StartParse();
  SetPacked("GONE    TXT");
  Call(NativeFileDelete);
  EXPECT_EQ(G9(), 1u);
  EXPECT_FALSE(stdfs::exists(drive_c_ + "/gone.txt"));
  Call(NativeFileDelete);  // already gone: the host's answer is ignored
  EXPECT_EQ(G9(), 1u);
  SetPacked("KEEPDIR    ");
  Call(NativeFileDelete);
  EXPECT_EQ(G9(), 1u);
  EXPECT_TRUE(stdfs::is_directory(drive_c_ + "/KEEPDIR"));
  EXPECT_EQ(emu().files.parse_path, "C:") << "delete leaves the parse path as it was";
}

TEST_F(FileOps, RenameMovesTheFileAndLeavesTheParsePathExtended) {
  WriteHostFile(drive_c_ + "/old.txt", "content");
  WriteHostFile(drive_c_ + "/TAKEN.TXT", "other");
  StartParse();
  SetPacked("OLD     TXT");
  GuestWrite(emu().mem, kName2, "NEW     TXT", 11);
  Set(FileRequest::kCount, kName2);
  Call(NativeFileRename);
  EXPECT_EQ(G9(), 1u);
  EXPECT_EQ(ReadHostFile(drive_c_ + "/NEW.TXT"), "content");
  EXPECT_FALSE(stdfs::exists(drive_c_ + "/old.txt"));
  EXPECT_EQ(emu().files.parse_path, "C:\\NEW.TXT");
  // Without a new start_parse_dir, open looks inside C:\NEW.TXT and finds nothing.
  WriteHostFile(drive_c_ + "/X.TXT", "x");
  EXPECT_EQ(OpenName("X       TXT"), 99u);
  EXPECT_EQ(Errnum(), 11u);
  ClearErrnum();

  // A rename onto an existing name does not replace it (and still reports success).
  StartParse();
  SetPacked("NEW     TXT");
  GuestWrite(emu().mem, kName2, "TAKEN   TXT", 11);
  Set(FileRequest::kCount, kName2);
  Call(NativeFileRename);
  EXPECT_EQ(G9(), 1u);
  EXPECT_EQ(ReadHostFile(drive_c_ + "/TAKEN.TXT"), "other");
  EXPECT_EQ(ReadHostFile(drive_c_ + "/NEW.TXT"), "content");

  // Changing only the case of a name is allowed.
  StartParse();
  SetPacked("NEW     TXT");
  GuestWrite(emu().mem, kName2, "new     txt", 11);
  Set(FileRequest::kCount, kName2);
  Call(NativeFileRename);
  EXPECT_TRUE(stdfs::exists(drive_c_ + "/new.txt"));
  EXPECT_FALSE(stdfs::exists(drive_c_ + "/NEW.TXT"));

  // Before any start_parse_dir the names are no host paths: nothing happens, nothing breaks.
  emu().files.parse_path.clear();
  SetPacked("new     txt");
  GuestWrite(emu().mem, kName2, "B          ", 11);
  Call(NativeFileRename);
  EXPECT_EQ(G9(), 1u);
  EXPECT_EQ(emu().files.parse_path, "B");
  EXPECT_TRUE(stdfs::exists(drive_c_ + "/new.txt"));
}

TEST_F(FileOps, PackedNamesBecomeHostNames) {
  struct Row {
    const char* packed;
    const char* host;
    const char* why;
  } rows[] = {
      {"README  TXT", "README.TXT", "blanks before the extension go"},
      {"MAKEFILE   ", "MAKEFILE", "no extension, no dot"},
      {"           ", "\\", "all blanks name the root"},
      {".          ", ".", "current directory"},
      {"..         ", "..", "parent directory"},
      {"A B     C D", "AB.CD", "blanks inside a part are dropped too"},
      {"lower   ext", "lower.ext", "letters keep their case"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(PackedNameToHost(reinterpret_cast<const uint8_t*>(r.packed)), r.host) << r.why;
}

TEST_F(FileOps, HostNamesBecomePackedNames) {
  struct Row {
    const char* host;
    const char* packed;
    const char* why;
  } rows[] = {
      {"readme.txt", "readme  txt", "case kept, name padded"},
      {"MAKEFILE", "MAKEFILE   ", "no extension"},
      {"longfilename.txt", "longfilenam", "cut at 11 positions, no alias"},
      {"a.b.c", "a       bc ", "a dot at position 8 or later is skipped"},
      {".", ".          ", "current directory"},
      {"..", "..         ", "parent directory"},
      {".profile", "        pro", "a leading dot starts the extension"},
  };
  for (const Row& r : rows) {
    uint8_t out[11];
    HostNameToPacked(r.host, out);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 11), r.packed) << r.why;
  }
}

TEST_F(FileOps, JoinAndNormalise) {
  EXPECT_EQ(JoinPath("C:", "A"), "C:\\A");
  EXPECT_EQ(JoinPath("C:\\", "A"), "C:\\A");
  EXPECT_EQ(JoinPath("", "A"), "A");
  struct Row {
    const char* in;
    const char* out;
    const char* why;
  } rows[] = {
      {"C:\\A\\B\\..", "C:\\A", "drops the last component"},
      {"C:\\A\\..", "C:", "back to the drive root"},
      {"C:\\..", "C:", "the root stays the root"},
      {"C:\\A\\..\\..", "C:", "never climbs past the drive"},
      {"C:\\A\\..X", "C:\\A\\..X", "a name starting with two dots is a name"},
      {"C:\\A\\..\\B", "C:\\B", "continues after the cut"},
      {"..\\..", "..\\..", "a .. after .. is kept"},
      {"C:\\WORK", "C:\\WORK", "nothing to do"},
  };
  for (const Row& r : rows) EXPECT_EQ(NormalisePath(r.in), r.out) << r.why;
}

TEST_F(FileOps, InitBuildsTheDriveTableFromTheLetterList) {
  std::strcpy(emu().opt.drive_list, "cd?x");
  emu().files.parse_path = "C:\\KEEP";
  Call(NativeFileInit);
  EXPECT_EQ(G9(), 0xBADu) << "init leaves g9 alone";
  const char* roots[] = {"C:", "D:", "?:", "X:", "?:", "?:", "?:", "?:", "?:", "?:"};
  for (int i = 0; i < kDriveCount; ++i) {
    EXPECT_EQ(emu().files.drives[i].root, roots[i]) << i;
    EXPECT_EQ(emu().files.drives[i].search, std::string(roots[i]) + "\\*.*") << i;
    EXPECT_EQ(emu().files.drives[i].current, roots[i]) << i;
  }
  EXPECT_EQ(emu().files.parse_path, "C:\\KEEP");
}

}  // namespace
}  // namespace korvane::test
