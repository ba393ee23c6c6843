// Directory operations: parse path walking, current directories, make_dir, read_dir,
// string_dir and exists.
#include <algorithm>
#include <cstring>
#include <vector>

#include "services/machine.h"
#include "core/heap.h"
#include "services/files/file_common.h"
#include "services/native_handlers.h"

namespace korvane {

using namespace files;

namespace {

constexpr const char* kAllFiles = "\\*.*";
constexpr size_t kAllFilesLength = 4;
constexpr uint32_t kDirectorySize = 0x80000000u;

// One record gathered by read_dir before it is written to guest memory.
struct Gathered {
  uint8_t name[kPackedNameBytes];
  uint8_t attributes = 0;
  uint16_t date = 0;
  uint16_t time = 0;
  uint32_t size = 0;
  bool synthetic = false;
};

// The DOS date widened to a word; the all-ones date stands for "none" and widens to -1.
uint32_t WideDate(uint16_t date) { return date == 0xFFFF ? 0xFFFFFFFFu : date; }

void WriteRecord(Machine& emu, uint32_t a, const Gathered& g) {
  MemoryMap& m = emu.mem;
  GuestWrite(m, a + DirEntryRecord::kName, g.name, kPackedNameBytes);
  GuestWrite8(m, a + DirEntryRecord::kAttrByte, g.attributes);
  GuestWrite32(m, a + DirEntryRecord::kAttrWord, g.attributes);
  if (g.synthetic) {
    GuestWrite32(m, a + DirEntryRecord::kStamp, 0xFFFFFFFFu);
    static const uint8_t kOnes[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    GuestWrite(m, a + DirEntryRecord::kTime, kOnes, sizeof kOnes);
    GuestWrite32(m, a + DirEntryRecord::kDateWord, 0xFFFFFFFFu);
  } else {
    uint32_t stamp = g.date == 0xFFFF ? 0xFFFFFFFFu
                                      : (static_cast<uint32_t>(g.date) << 16) | g.time;
    GuestWrite32(m, a + DirEntryRecord::kStamp, stamp);
    GuestWrite16(m, a + DirEntryRecord::kTime, g.time);
    GuestWrite16(m, a + DirEntryRecord::kDate, g.date);
    GuestWrite16(m, a + DirEntryRecord::kZero, 0);
    GuestWrite32(m, a + DirEntryRecord::kDateWord, WideDate(g.date));
  }
  GuestWrite32(m, a + DirEntryRecord::kSize, g.size);
}

}  // namespace

void NativeFileStartParseDir(Machine& emu) {
  int drive = DriveCheck(emu);
  if (drive < 0) return;
  emu.files.parse_drive = drive;
  emu.files.parse_path = emu.files.drives[drive].current;
}

void NativeFileChangeParseDir(Machine& emu) {
  if (DriveCheck(emu) < 0) return;
  std::string name = ReadPackedName(emu, ReadField(emu, FileRequest::kAddress));
  std::string& path = emu.files.parse_path;
  if (name == "\\") {
    path = (path.size() >= 2 && path[1] == ':') ? path.substr(0, 2) + "\\" : "\\";
  } else if (name != ".") {
    path = NormalisePath(JoinPath(path, name));
  }
}

void NativeFileChangeDir(Machine& emu) {
  // The request's drive serves only the check: the parse drive is the one that changes.
  if (DriveCheck(emu) < 0) return;
  std::string name = ReadPackedName(emu, ReadField(emu, FileRequest::kAddress));
  DriveEntry& d = emu.files.drives[emu.files.parse_drive];
  d.current = emu.files.parse_path;
  if (name == "\\") {
    d.current = d.root;
  } else if (name != ".") {
    d.current = NormalisePath(JoinPath(d.current, name));
  }
}

void NativeFileMakeDir(Machine& emu) {
  if (DriveCheck(emu) < 0) return;
  std::string name = ReadPackedName(emu, ReadField(emu, FileRequest::kAddress));
  emu.files.parse_path = JoinPath(emu.files.parse_path, name);
  HostMakeDir(emu.files.host, emu.files.parse_path);
}

void NativeFileReadDir(Machine& emu) {
  if (DriveCheck(emu) < 0) return;
  FileState& fs = emu.files;
  int32_t maximum = static_cast<int32_t>(ReadField(emu, FileRequest::kCount));
  uint8_t pattern[kPackedNameBytes];
  GuestRead(emu.mem, ReadField(emu, FileRequest::kPattern), pattern, kPackedNameBytes);
  uint8_t mask = GuestRead8(emu.mem, emu.cpu.g[7] + FileRequest::kAttributes);

  // A directory that cannot be listed (gone, unreadable, or a path too long once "\*.*" is
  // appended) sends the listing to the drive root.
  std::string search = fs.parse_path + kAllFiles;
  std::vector<HostDirEntry> entries;
  bool listed = search.size() <= kMaxDosPath && HostListDir(fs.host, fs.parse_path, &entries) &&
                !entries.empty();
  DriveEntry& drive = fs.drives[fs.parse_drive];
  if (!listed) {
    drive.current = drive.root;
    search = drive.search;
    if (!HostListDir(fs.host, drive.root, &entries)) entries.clear();
  }

  std::vector<Gathered> records;
  size_t limit = maximum > 0 ? static_cast<size_t>(maximum) : 0;
  bool at_root = search.size() >= 1 && search.compare(1, std::string::npos, ":\\*.*") == 0;
  if (!at_root && limit > 0 && (mask & kAttrDirectory)) {
    Gathered dot;
    HostNameToPacked(".", dot.name);
    dot.attributes = kAttrDirectory;
    dot.size = kDirectorySize;
    dot.synthetic = true;
    records.push_back(dot);
  }
  constexpr uint8_t kExact = kAttrHidden | kAttrSystem | kAttrVolume | kAttrDirectory;
  for (const HostDirEntry& e : entries) {
    if (records.size() >= limit) break;
    Gathered g;
    HostNameToPacked(e.name, g.name);
    if ((e.attributes & kExact) != (mask & kExact) || !PatternMatches(g.name, pattern)) continue;
    g.attributes = e.attributes;
    g.date = e.dos_date;
    g.time = e.dos_time;
    g.size = (e.attributes & kAttrDirectory) ? kDirectorySize : static_cast<uint32_t>(e.size);
    records.push_back(g);
  }
  fs.parse_path = search.substr(0, search.size() - kAllFilesLength);

  // Records go out only as far as whole records fit in the region that holds the array, and
  // stop at the first hidden, system or volume entry.
  uint32_t array = ReadField(emu, FileRequest::kAddress);
  uint32_t avail = 0;
  TranslateAddress(emu.mem, array, &avail);
  size_t room = avail / kDirEntryBytes;
  uint32_t delivered = 0;
  for (const Gathered& g : records) {
    if (delivered >= room || (g.attributes & (kAttrHidden | kAttrSystem | kAttrVolume))) break;
    WriteRecord(emu, array + delivered * kDirEntryBytes, g);
    ++delivered;
  }
  WriteField(emu, FileRequest::kCount, delivered);
}

void NativeFileStringDir(Machine& emu) {
  FileState& fs = emu.files;
  if (fs.string_dir_block == 0) fs.string_dir_block = HeapAllocate(emu, kStringDirBytes);
  uint32_t result = 0;
  int drive = DriveCheck(emu);
  if (fs.string_dir_block != 0 && drive >= 0) {
    const std::string& cur = fs.drives[drive].current;
    // A directory too long for the block is not cut into a different one: no answer.
    if (cur.size() < kStringDirBytes) {
      GuestWrite(emu.mem, fs.string_dir_block, cur.c_str(), static_cast<uint32_t>(cur.size() + 1));
      result = fs.string_dir_block;
    }
  }
  emu.cpu.g[6] = result;
  SetResult(emu, result != 0);
}

void NativeFileExists(Machine& emu) {
  int drive = DriveCheck(emu);
  if (drive < 0) return;
  // The drive counts only when a search of its root finds a first entry: an empty drive
  // answers like an absent one.
  std::vector<HostDirEntry> entries;
  SetResult(emu, HostListDir(emu.files.host, emu.files.drives[drive].root, &entries) &&
                     !entries.empty());
}

}  // namespace korvane
