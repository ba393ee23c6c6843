// Tests of the directory operations against temporary drive folders: parse path, current
// directories, make_dir, read_dir records, masks and patterns, string_dir, exists, and
// confinement to the drive folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files_fixture.h"

namespace korvane::test {
namespace {

class DirOps : public FilesTest {
 public:
  static constexpr uint32_t kArray = kData + 0x2000;

  // Lists the parse path with a pattern and mask; returns the packed names delivered.
  std::vector<std::string> List(const char (&pattern)[12], uint8_t mask, int32_t maximum = 20) {
    GuestWrite(emu().mem, kPatternAddr, pattern, 11);
    Set(FileRequest::kPattern, kPatternAddr);
    GuestWrite8(emu().mem, kRequest + FileRequest::kAttributes, mask);
    Set(FileRequest::kAddress, kArray);
    Set(FileRequest::kCount, static_cast<uint32_t>(maximum));
    Call(NativeFileReadDir);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < Get(FileRequest::kCount); ++i)
      names.push_back(GetBytes(kArray + i * kDirEntryBytes, 11));
    return names;
  }
  uint32_t Rec32(int i, uint32_t off) {
    return GuestRead32(emu().mem, kArray + i * kDirEntryBytes + off);
  }
  uint16_t Rec16(int i, uint32_t off) {
    return GuestRead16(emu().mem, kArray + i * kDirEntryBytes + off);
  }
  void ChangeParse(const char (&packed)[12]) {
    SetPacked(packed);
    Call(NativeFileChangeParseDir);
  }
  void ChangeDir(const char (&packed)[12]) {
    SetPacked(packed);
    Call(NativeFileChangeDir);
  }
};

TEST_F(DirOps, ParsePathMovesByNamesDotsAndRoot) {
  StartParse();
  EXPECT_EQ(emu().files.parse_path, "C:");
  struct Row {
    const char* packed;
    const char* after;
    const char* why;
  } rows[] = {
      {"WORK       ", "C:\\WORK", "a name is joined"},
      {"SUB     DIR", "C:\\WORK\\SUB.DIR", "with its extension"},
      {".          ", "C:\\WORK\\SUB.DIR", "\".\" changes nothing"},
      {"..         ", "C:\\WORK", "\"..\" drops the last name"},
      {"           ", "C:\\", "the root name goes to drive and backslash"},
      {"..         ", "C:", "\"..\" at the root stays at the drive"},
  };
  for (const Row& r : rows) {
    char packed[12];
    std::memcpy(packed, r.packed, 12);
    GuestWrite(emu().mem, kName, packed, 11);
    Set(FileRequest::kAddress, kName);
    Call(NativeFileChangeParseDir);
    EXPECT_EQ(G9(), 1u) << r.why;
    EXPECT_EQ(emu().files.parse_path, r.after) << r.why;
  }
  // Nothing was asked of the host: no directory appeared.
  EXPECT_TRUE(Tree(drive_c_).empty());
}

TEST_F(DirOps, ChangeDirActsOnTheParseDriveAndStaysAtTheRoot) {
  StartParse('C');
  ChangeParse("WORK       ");
  Set(FileRequest::kDrive, 'A');  // serves only the drive check
  ChangeDir("SUB        ");
  EXPECT_EQ(G9(), 1u);
  EXPECT_EQ(emu().files.drives[2].current, "C:\\WORK\\SUB");
  EXPECT_EQ(emu().files.drives[0].current, "A:");
  EXPECT_EQ(emu().files.parse_path, "C:\\WORK") << "change_dir leaves the parse path";
  ChangeDir(".          ");
  EXPECT_EQ(emu().files.drives[2].current, "C:\\WORK");
  ChangeDir("           ");
  EXPECT_EQ(emu().files.drives[2].current, "C:");
  StartParse('C');
  ChangeDir("..         ");
  EXPECT_EQ(emu().files.drives[2].current, "C:") << "C: stays C:";
  // start_parse_dir starts from the current directory.
  ChangeParse("A          ");
  ChangeDir(".          ");
  StartParse('C');
  EXPECT_EQ(emu().files.parse_path, "C:\\A");
  EXPECT_EQ(emu().files.parse_drive, 2);
}

TEST_F(DirOps, MakeDirCreatesAndExtendsTheParsePath) {
  StartParse();
  SetPacked("NEWDIR     ");
  Call(NativeFileMakeDir);
  EXPECT_EQ(G9(), 1u);
  EXPECT_TRUE(stdfs::is_directory(drive_c_ + "/NEWDIR"));
  EXPECT_EQ(emu().files.parse_path, "C:\\NEWDIR");
  // Again, in another case: the host refuses, the firmware is told success.
  StartParse();
  SetPacked("newdir     ");
  Call(NativeFileMakeDir);
  EXPECT_EQ(G9(), 1u);
  EXPECT_FALSE(stdfs::exists(drive_c_ + "/newdir"));
}

TEST_F(DirOps, ReadDirMasksSelectFilesOrDirectories) {
  stdfs::create_directories(drive_c_ + "/WORK/SUBA");
  stdfs::create_directories(drive_c_ + "/WORK/SUBB");
  WriteHostFile(drive_c_ + "/WORK/one.txt", "12345");
  WriteHostFile(drive_c_ + "/WORK/TWO.DAT", "");
  WriteHostFile(drive_c_ + "/ROOT.TXT", "r");
  StartParse();
  ChangeParse("WORK       ");
  EXPECT_EQ(List("***********", 0x00),
            (std::vector<std::string>{"one     txt", "TWO     DAT"}))
      << "mask 0 lists plain files only";
  EXPECT_EQ(G9(), 1u);
  EXPECT_EQ(emu().files.parse_path, "C:\\WORK");
  EXPECT_EQ(List("***********", 0x10),
            (std::vector<std::string>{".          ", ".          ", "..         ",
                                      "SUBA       ", "SUBB       "}))
      << "mask 0x10: the made-up \".\", then the folder's own \".\" and \"..\", then folders";
  EXPECT_EQ(List("SUB?       ", 0x10),
            (std::vector<std::string>{".          ", "SUBA       ", "SUBB       "}))
      << "the made-up \".\" comes whatever the pattern";
  StartParse();
  EXPECT_EQ(List("***********", 0x10), (std::vector<std::string>{"WORK       "}))
      << "no \".\" at a drive root";
  EXPECT_EQ(List("***********", 0x01), (std::vector<std::string>{"ROOT    TXT"}))
      << "read-only and archive bits are ignored";
}

TEST_F(DirOps, ReadDirRecordsCarryAttributesTimesAndSizes) {
  stdfs::create_directories(drive_c_ + "/W/D");
  WriteHostFile(drive_c_ + "/W/F.TXT", "12345");
  struct tm tm {};
  tm.tm_year = 99;
  tm.tm_mon = 11;
  tm.tm_mday = 31;
  tm.tm_hour = 23;
  tm.tm_min = 59;
  tm.tm_sec = 58;
  tm.tm_isdst = -1;
  struct timespec times[2] = {{::mktime(&tm), 0}, {::mktime(&tm), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (drive_c_ + "/W/F.TXT").c_str(), times, 0), 0);
  const uint16_t date = ((1999 - 1980) << 9) | (12 << 5) | 31;
  const uint16_t time = (23 << 11) | (59 << 5) | 29;
  StartParse();
  ChangeParse("W          ");
  // Bytes the records must not write keep their marks.
  std::string marks(3 * kDirEntryBytes, '\xAB');
  PutBytes(kArray, marks);
  ASSERT_EQ(List("F       TXT", 0x00).size(), 1u);
  EXPECT_EQ(GuestRead8(emu().mem, kArray + 11), 0x20);
  EXPECT_EQ(Rec32(0, 12), 0x20u);
  EXPECT_EQ(Rec32(0, 16), (uint32_t{date} << 16) | time);
  EXPECT_EQ(Rec16(0, 20), 0xABABu) << "bytes 20-21 are not written";
  EXPECT_EQ(Rec16(0, 22), time);
  EXPECT_EQ(Rec16(0, 24), date);
  EXPECT_EQ(Rec16(0, 26), 0u);
  EXPECT_EQ(Rec32(0, 28), date);
  EXPECT_EQ(Rec32(0, 32), 0xABABABABu) << "bytes 32-39 are not written";
  EXPECT_EQ(Rec32(0, 40), 5u);

  PutBytes(kArray, marks);
  ASSERT_EQ(List("D          ", 0x10).size(), 2u);
  // The made-up "." entry.
  EXPECT_EQ(GetBytes(kArray, 11), ".          ");
  EXPECT_EQ(GuestRead8(emu().mem, kArray + 11), 0x10);
  EXPECT_EQ(Rec32(0, 16), 0xFFFFFFFFu);
  EXPECT_EQ(GetBytes(kArray + 22, 6), std::string(6, '\xFF'));
  EXPECT_EQ(Rec32(0, 28), 0xFFFFFFFFu);
  EXPECT_EQ(Rec32(0, 40), 0x80000000u);
  // A real directory.
  EXPECT_EQ(GetBytes(kArray + kDirEntryBytes, 11), "D          ");
  EXPECT_EQ(Rec32(1, 12), 0x10u);
  EXPECT_EQ(Rec32(1, 40), 0x80000000u);
}

TEST_F(DirOps, ReadDirPatternsMatchPositionByPosition) {
  WriteHostFile(drive_c_ + "/readme.txt", "");
  struct Row {
    const char* pattern;
    bool match;
    const char* why;
  } rows[] = {
      {"README  TXT", true, "case does not matter"},
      {"????????TXT", false, "\"?\" does not match the blanks after README"},
      {"********TXT", true, "\"*\" matches one position, blanks included"},
      {"READ**  ???", true, "mixed"},
      {"READ*   ???", false, "one \"*\" stands for one position only"},
      {"README  TX ", false, "a blank is not \"?\""},
      {"***********", true, "all"},
  };
  for (const Row& r : rows) {
    StartParse();
    char pattern[12];
    std::memcpy(pattern, r.pattern, 12);
    GuestWrite(emu().mem, kPatternAddr, pattern, 11);
    Set(FileRequest::kPattern, kPatternAddr);
    GuestWrite8(emu().mem, kRequest + FileRequest::kAttributes, 0);
    Set(FileRequest::kAddress, kArray);
    Set(FileRequest::kCount, 5);
    Call(NativeFileReadDir);
    EXPECT_EQ(Get(FileRequest::kCount), r.match ? 1u : 0u) << r.why;
  }
}

TEST_F(DirOps, ReadDirCountsAndLimits) {
  for (char c = 'A'; c <= 'E'; ++c) WriteHostFile(drive_c_ + "/" + c + ".TXT", "");
  WriteHostFile(drive_c_ + "/.hidden", "");
  StartParse();
  EXPECT_TRUE(List("***********", 0x00, 0).empty()) << "maximum 0 delivers nothing";
  EXPECT_EQ(Get(FileRequest::kCount), 0u);
  EXPECT_TRUE(List("***********", 0x00, -3).empty()) << "a negative maximum too";
  EXPECT_EQ(List("***********", 0x00, 2).size(), 2u);
  EXPECT_EQ(List("***********", 0x00).size(), 5u) << "the hidden dot file is not listed";
  EXPECT_TRUE(List("***********", 0x02).empty())
      << "hidden entries are gathered with mask 0x02 but stop the delivery";
  // An array near the end of its region gets only the records that fit whole.
  GuestWrite(emu().mem, kPatternAddr, "***********", 11);
  Set(FileRequest::kPattern, kPatternAddr);
  GuestWrite8(emu().mem, kRequest + FileRequest::kAttributes, 0);
  Set(FileRequest::kAddress, kData + kDataSize - 2 * kDirEntryBytes - 10);
  Set(FileRequest::kCount, 20);
  Call(NativeFileReadDir);
  EXPECT_EQ(Get(FileRequest::kCount), 2u);
}

TEST_F(DirOps, ReadDirOfAVanishedDirectoryListsTheRoot) {
  stdfs::create_directories(drive_c_ + "/TEMP");
  WriteHostFile(drive_c_ + "/ROOT.TXT", "");
  StartParse();
  ChangeParse("TEMP       ");
  ChangeDir(".          ");
  StartParse();
  ASSERT_EQ(emu().files.parse_path, "C:\\TEMP");
  stdfs::remove(drive_c_ + "/TEMP");
  EXPECT_EQ(List("***********", 0x00), (std::vector<std::string>{"ROOT    TXT"}));
  EXPECT_EQ(G9(), 1u);
  EXPECT_EQ(emu().files.parse_path, "C:");
  EXPECT_EQ(emu().files.drives[2].current, "C:");
}

TEST_F(DirOps, StringDirReportsTheCurrentDirectoryOfTheRequestedDrive) {
  std::strcpy(emu().opt.drive_list, "ABCDE");
  Call(NativeFileInit);
  emu().files.host.drive_folder['E' - 'A'] = drive_c_;
  StartParse('P');
  ChangeParse("WORK       ");
  ChangeDir(".          ");
  Set(FileRequest::kDrive, 'P');
  Call(NativeFileStringDir);
  EXPECT_EQ(G9(), 1u);
  uint32_t block = emu().cpu.g[6];
  ASSERT_NE(block, 0u);
  EXPECT_GE(block, kHeap);
  EXPECT_EQ(GetBytes(block, 8), std::string("E:\\WORK\0", 8));
  // The same block serves every call.
  Set(FileRequest::kDrive, 'C');
  Call(NativeFileStringDir);
  EXPECT_EQ(emu().cpu.g[6], block);
  EXPECT_EQ(GetBytes(block, 3), std::string("C:\0", 3));
  // A failing drive check answers 0.
  Set(FileRequest::kDrive, 'Z');
  Call(NativeFileStringDir);
  EXPECT_EQ(emu().cpu.g[6], 0u);
  EXPECT_EQ(G9(), 0u);
}

TEST_F(DirOps, StringDirRetriesWhenTheHeapIsFull) {
  // Take the whole heap, so the first call finds no 128 bytes.
  uint32_t all = HeapLargestFree(emu());
  uint32_t hog = HeapAllocate(emu(), all);
  ASSERT_NE(hog, 0u);
  Call(NativeFileStringDir);
  EXPECT_EQ(emu().cpu.g[6], 0u);
  EXPECT_EQ(G9(), 0u);
  HeapReset(emu());
  Call(NativeFileStringDir);
  EXPECT_NE(emu().cpu.g[6], 0u);
  EXPECT_EQ(G9(), 1u);
}

TEST_F(DirOps, ExistsTellsWhetherTheDriveHasAnEntry) {
  struct Row {
    uint32_t drive;
    const char* add;  // a host entry made in drive C's folder before the call, or null
    uint32_t g9;
    const char* why;
  } rows[] = {
      {'C', nullptr, 0, "C's folder is there but empty: the search finds no first entry"},
      {'C', "SUB", 1, "a directory is an entry"},
      {'A', nullptr, 0, "A has no folder (no drives/A in the project folder)"},
      {'P', nullptr, 0, "P is mapped to \"?\""},
  };
  for (const Row& r : rows) {
    if (r.add) stdfs::create_directories(drive_c_ + "/" + r.add);
    Set(FileRequest::kDrive, r.drive);
    Call(NativeFileExists);
    EXPECT_EQ(G9(), r.g9) << r.why;
    EXPECT_EQ(Errnum(), 0u) << r.why;
  }
  // A drive with no folder fails its operations at the host.
  StartParse('A');
  SetPacked("X       TXT");
  Call(NativeFileCreate);
  EXPECT_EQ(Errnum(), 11u);
}

TEST_F(DirOps, NothingOutsideTheDriveFolderIsEverTouched) {
  WriteHostFile(outside_ + "/secret.txt", "secret");
  ::symlink(outside_.c_str(), (drive_c_ + "/LINKOUT").c_str());
  ::symlink((outside_ + "/secret.txt").c_str(), (drive_c_ + "/SECRET.TXT").c_str());
  ::symlink((outside_ + "/made.txt").c_str(), (drive_c_ + "/DANGLE.TXT").c_str());
  stdfs::create_directories(drive_c_ + "/INSIDE");
  ::symlink((drive_c_ + "/INSIDE").c_str(), (drive_c_ + "/LINKIN").c_str());
  const std::vector<std::string> outside_before = Tree(top_ + "/outside");

  // ".." far beyond the root stays at the root: the file lands in the drive folder.
  StartParse();
  for (int i = 0; i < 5; ++i) ChangeParse("..         ");
  EXPECT_EQ(emu().files.parse_path, "C:");
  ASSERT_EQ(OpenName("ROOTED  TXT", true), 0u);
  Call(NativeFileClose);
  EXPECT_TRUE(stdfs::exists(drive_c_ + "/ROOTED.TXT"));

  // Names built to climb out: backslashes inside a packed name, a slash, a NUL byte.
  struct Row {
    const char* packed;
    const char* why;
  } rows[] = {
      {"..\\..\\ESC  ", "backslashes and dots in the name"},
      {"../outs/x  ", "a slash"},
      {"A\0B     TXT", "a NUL byte"},
  };
  for (const Row& r : rows) {
    char packed[12];
    std::memcpy(packed, r.packed, 12);
    GuestWrite(emu().mem, kName, packed, 11);
    Set(FileRequest::kAddress, kName);
    // Each may only ever act inside the drive folder (checked at the end).
    for (auto op : {NativeFileCreate, NativeFileClose, NativeFileMakeDir, NativeFileDelete}) {
      ClearErrnum();
      StartParse();
      Set(FileRequest::kAddress, kName);
      Call(op);
    }
    (void)r.why;
  }
  // Through the links that lead out: no open, no create, no listing, no delete.
  ClearErrnum();
  StartParse();
  EXPECT_EQ(OpenName("SECRET  TXT"), 99u);
  ClearErrnum();
  EXPECT_EQ(OpenName("DANGLE  TXT", true), 99u) << "a dangling link is not followed";
  ClearErrnum();
  StartParse();
  ChangeParse("LINKOUT    ");
  EXPECT_EQ(OpenName("SECRET  TXT"), 99u);
  ClearErrnum();
  EXPECT_EQ(OpenName("NEW     TXT", true), 99u);
  ClearErrnum();
  StartParse();
  std::vector<std::string> names = List("***********", 0x00);
  EXPECT_EQ(std::count(names.begin(), names.end(), "SECRET  TXT"), 0);
  // A link that stays inside works like the folder it names.
  StartParse();
  ChangeParse("LINKIN     ");
  ASSERT_EQ(OpenName("VIA     TXT", true), 0u);
  Call(NativeFileClose);
  EXPECT_TRUE(stdfs::exists(drive_c_ + "/INSIDE/VIA.TXT"));

  // Deleting a link removes the link, never what it leads to.
  StartParse();
  SetPacked("SECRET  TXT");
  Call(NativeFileDelete);
  EXPECT_FALSE(stdfs::is_symlink(drive_c_ + "/SECRET.TXT"));

  EXPECT_EQ(Tree(top_ + "/outside"), outside_before);
  EXPECT_EQ(ReadHostFile(outside_ + "/secret.txt"), "secret");
  EXPECT_FALSE(stdfs::exists(outside_ + "/made.txt"));
  for (const std::string& p : Tree(top_))
    EXPECT_TRUE(p.rfind(drive_c_, 0) == 0 || p.rfind(outside_, 0) == 0) << p << " appeared";
}

TEST_F(DirOps, PathsLongerThanTheHostAcceptsFailInsteadOfBeingCut) {
  StartParse();
  // Twelve names of 11 characters make a parse path of 146 characters.
  for (int i = 0; i < 12; ++i) ChangeParse("ABCDEFGHIJK");
  ASSERT_GT(emu().files.parse_path.size(), 127u);
  EXPECT_EQ(OpenName("FILE    TXT", true), 99u);
  EXPECT_EQ(Errnum(), 11u);
  ClearErrnum();
  SetPacked("NEWDIR     ");
  Call(NativeFileMakeDir);
  EXPECT_EQ(G9(), 1u);
  EXPECT_TRUE(Tree(drive_c_).empty()) << "nothing was created under a shortened path";
  // Coming back under the limit works again.
  for (int i = 0; i < 13; ++i) ChangeParse("..         ");
  EXPECT_EQ(emu().files.parse_path, "C:");
  for (int i = 0; i < 12; ++i) ChangeParse("ABCDEFGHIJK");
  ChangeDir(".          ");
  ASSERT_GT(emu().files.drives[2].current.size(), 127u);
  Call(NativeFileStringDir);
  EXPECT_EQ(emu().cpu.g[6], 0u) << "a directory too long for the block gives no answer";
  EXPECT_EQ(G9(), 0u);
}

}  // namespace
}  // namespace korvane::test
