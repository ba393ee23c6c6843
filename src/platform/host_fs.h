// The Linux host layer of the file services: drive folders, DOS paths to host paths, DOS times.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace korvane {

// The longest DOS path ("C:\WORK\FILE.TXT") the host accepts; longer ones fail at the host.
constexpr size_t kMaxDosPath = 127;

// DOS attribute bits as the firmware sees them.
constexpr uint8_t kAttrReadOnly = 0x01;
constexpr uint8_t kAttrHidden = 0x02;
constexpr uint8_t kAttrSystem = 0x04;
constexpr uint8_t kAttrVolume = 0x08;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrArchive = 0x20;

// Where host drive letters live. Host drive X is, in this order: the folder set in
// `drive_folder` for X; the folder named by the environment variable KORVANE_DRIVE_X (when
// `use_environment`); the folder "drives/X" inside `base_folder` (the working directory when
// empty). A set folder or variable must be absolute, otherwise the letter names no drive.
struct HostFsSettings {
  std::string drive_folder[26];
  bool use_environment = true;
  std::string base_folder;
};

// One entry of a host directory listing.
struct HostDirEntry {
  std::string name;        // the host name, used as given (there are no 8.3 aliases)
  uint8_t attributes = 0;  // DOS attribute bits
  uint16_t dos_date = 0;   // last modification, local time
  uint16_t dos_time = 0;
  uint64_t size = 0;
};

// The folder standing for host drive `letter`, or "" when the letter names no drive (not a
// letter, "?", or a relative setting). The folder is not checked for existence.
std::string HostDriveFolder(const HostFsSettings& fs, char letter);

// Maps a DOS path onto the host: "X:" then components separated by "\". Each component is
// looked up without regard to case and used as given when nothing matches; "." and empty
// components are skipped, ".." goes up but never above the drive folder. Fails (false) for a
// path longer than kMaxDosPath, a missing or unusable drive folder, a component holding "/"
// or a NUL byte, or a symbolic link that leads outside the drive folder or nowhere.
// `is_root` tells whether the path names the drive folder itself.
bool ResolveDosPath(const HostFsSettings& fs, const std::string& dos, std::string* host,
                    bool* is_root = nullptr);

// Opens an existing regular file for reading; -1 on failure.
int HostOpenRead(const HostFsSettings& fs, const std::string& dos);
// Opens an existing regular file for writing without truncating it (a file reopened from a
// saved state); -1 on failure.
int HostReopenWrite(const HostFsSettings& fs, const std::string& dos);
// Creates (or truncates) a regular file for writing; -1 on failure.
int HostCreateFile(const HostFsSettings& fs, const std::string& dos);
// Deletes a file (never a directory).
bool HostDeleteFile(const HostFsSettings& fs, const std::string& dos);
// Renames a file or directory; never replaces an existing entry other than `from` itself
// (a rename that changes only the case of the name is allowed).
bool HostRename(const HostFsSettings& fs, const std::string& from, const std::string& to);
// Creates a directory; fails when an entry of that name (in any case) exists.
bool HostMakeDir(const HostFsSettings& fs, const std::string& dos);
// Lists the directory at a DOS path. Directories other than the drive root begin with "."
// and "..", as on a FAT volume; the other entries follow in case-insensitive name order.
// Symbolic links that lead outside the drive folder are left out. False when the directory
// cannot be read.
bool HostListDir(const HostFsSettings& fs, const std::string& dos,
                 std::vector<HostDirEntry>* entries);
// True when host drive `letter` names an existing folder.
bool HostDriveExists(const HostFsSettings& fs, char letter);

// Host time (seconds since the epoch) to DOS date and time in local time. Times before 1980
// become 1980-01-01 00:00:00 and times after 2107 the last DOS second.
void HostTimeToDos(std::time_t t, uint16_t* date, uint16_t* time);
// DOS date and time taken as local time to a host time; false for an impossible date or time.
bool DosToHostTime(uint16_t date, uint16_t time, std::time_t* t);
// Sets access and modification time of an open file (Linux keeps no settable creation time).
bool HostStampFile(int fd, std::time_t t);

}  // namespace korvane
