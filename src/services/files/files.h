// File and directory services on host folders: state, request layout and name helpers.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host_fs.h"

namespace korvane {

struct Machine;

constexpr int kDriveCount = 10;          // A B C D P Q R S T U
constexpr int kOpenFileSlots = 10;
constexpr uint32_t kNoHandle = 99;
constexpr int kPackedNameBytes = 11;     // 8 name bytes and 3 extension bytes, blank-filled
constexpr uint32_t kDirEntryBytes = 44;  // one DirEntryRecord
constexpr uint32_t kStringDirBytes = 128;

// Byte offsets of the firmware's request record; offsets 0 and 16 belong to the firmware.
struct FileRequest {
  static constexpr uint32_t kDrive = 4;       // ASCII drive letter
  static constexpr uint32_t kAddress = 8;     // packed name, data buffer or entry array
  static constexpr uint32_t kCount = 12;      // signed count, seek target, new name, entries
  static constexpr uint32_t kSize = 20;
  static constexpr uint32_t kPosition = 24;
  static constexpr uint32_t kDate = 28;       // DOS date to stamp on close, -1 none
  static constexpr uint32_t kTime = 32;       // DOS time to stamp on close, -1 none
  static constexpr uint32_t kPattern = 36;    // packed search pattern of read_dir
  static constexpr uint32_t kAttributes = 40; // 8-bit attribute mask of read_dir
  static constexpr uint32_t kHandle = 44;
};

// Byte offsets of one directory entry delivered by read_dir.
struct DirEntryRecord {
  static constexpr uint32_t kName = 0;
  static constexpr uint32_t kAttrByte = 11;
  static constexpr uint32_t kAttrWord = 12;
  static constexpr uint32_t kStamp = 16;     // date << 16 | time
  static constexpr uint32_t kTime = 22;
  static constexpr uint32_t kDate = 24;
  static constexpr uint32_t kZero = 26;
  static constexpr uint32_t kDateWord = 28;
  static constexpr uint32_t kSize = 40;
};

// One emulated drive: paths are DOS-style host paths ("C:", "C:\*.*", "C:\WORK").
struct DriveEntry {
  std::string root;
  std::string search;
  std::string current;
};

struct OpenFileSlot {
  int fd = -1;       // host descriptor, -1 when the slot is free
  int mode = 0;      // 0 opened for reading, 1 created for writing
  std::string path;  // the DOS path it was opened by
};

struct FileState {
  FileState() = default;
  FileState(const FileState&) = delete;
  FileState& operator=(const FileState&) = delete;
  ~FileState();  // closes what the firmware left open

  bool initialised = false;
  HostFsSettings host;  // where the host drive letters live (tests point them at temp folders)
  DriveEntry drives[kDriveCount];
  int parse_drive = 0;
  // Paths are kept whole however long they grow: a path longer than the host accepts fails
  // at the host instead of being cut into a different path.
  std::string parse_path;
  OpenFileSlot slots[kOpenFileSlots];
  uint32_t string_dir_block = 0;     // guest address of string_dir's heap block, 0 until taken
  uint8_t errnum_fallback[4] = {};   // file_errnum when the firmware does not define it
};

// Initialises the file services once at start-up (the routine behind x$init_filemem).
void InitFileServices(Machine& emu);

// Packed 8.3 name to host name: "\" for blanks, "." and "..", else NAME.EXT without blanks.
std::string PackedNameToHost(const uint8_t packed[kPackedNameBytes]);
// Host name to packed name, cut to 11 positions (the rule read_dir applies to host entries).
void HostNameToPacked(const std::string& name, uint8_t packed[kPackedNameBytes]);
// Appends "\" unless the path is empty or already ends with one, then the name.
std::string JoinPath(const std::string& path, const std::string& name);
// Removes each "\.." together with the component before it; never removes the drive ("C:").
std::string NormalisePath(const std::string& path);
// The 11-position match of read_dir: "*" matches one position, "?" any but a blank.
bool PatternMatches(const uint8_t entry[kPackedNameBytes], const uint8_t pattern[kPackedNameBytes]);

}  // namespace korvane
