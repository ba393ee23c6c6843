// The Linux host layer of the file services: drive folders, DOS paths to host paths, DOS times.
#include "platform/host_fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace korvane {

namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

// Case-insensitive order as a FAT or NTFS volume lists names; exact order breaks ties.
bool LessNoCase(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(UpperAscii(a[i]));
    unsigned char y = static_cast<unsigned char>(UpperAscii(b[i]));
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  if (::realpath(path.c_str(), buf) == nullptr) return {};
  return buf;
}

bool Inside(const std::string& root, const std::string& path) {
  if (path == root) return true;
  if (root == "/") return !path.empty() && path[0] == '/';
  return path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
         path[root.size()] == '/';
}

// The existing entry of `dir` whose name equals `name` without regard to case (an exact
// match wins), or `name` itself when there is none.
std::string LookupNoCase(const std::string& dir, const std::string& name) {
  struct stat st;
  if (::lstat((dir + "/" + name).c_str(), &st) == 0) return name;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return name;
  std::string best;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (EqualNoCase(n, name) && (best.empty() || LessNoCase(n, best))) best = n;
  }
  ::closedir(d);
  return best.empty() ? name : best;
}

// The real path of the drive folder, or "" when it is missing or not a directory.
std::string DriveRoot(const HostFsSettings& fs, char letter) {
  std::string folder = HostDriveFolder(fs, letter);
  if (folder.empty()) return {};
  std::string real = RealPath(folder);
  struct stat st;
  if (real.empty() || ::stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return real;
}

// DOS path resolution that also reports the drive root and the stack of visited folders.
// With `follow_last` false a link in the last place is named itself (delete, rename).
bool Resolve(const HostFsSettings& fs, const std::string& dos, std::string* host, std::string* root,
             bool* is_root, bool follow_last = true) {
  if (dos.size() > kMaxDosPath || dos.size() < 2 || dos[1] != ':') return false;
  if (dos.find('\0') != std::string::npos) return false;
  std::string real_root = DriveRoot(fs, dos[0]);
  if (real_root.empty()) return false;
  std::vector<std::string> stack{real_root};
  std::vector<std::string> named{real_root};  // the same places with links not followed
  std::vector<std::string> comps;
  for (size_t pos = 2; pos <= dos.size();) {
    size_t end = dos.find('\\', pos);
    if (end == std::string::npos) end = dos.size();
    std::string comp = dos.substr(pos, end - pos);
    pos = end + 1;
    if (comp.empty() || comp == ".") continue;
    if (comp.find('/') != std::string::npos) return false;
    comps.push_back(comp);
  }
  for (size_t i = 0; i < comps.size(); ++i) {
    const std::string& comp = comps[i];
    if (comp == "..") {
      if (stack.size() > 1) {
        stack.pop_back();
        named.pop_back();
      }
      continue;
    }
    const std::string& cur = stack.back();
    std::string cand = (cur == "/" ? "" : cur) + "/" + LookupNoCase(cur, comp);
    bool last = i + 1 == comps.size();
    struct stat st;
    if (!(last && !follow_last) && ::lstat(cand.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      // A link is followed only when it ends inside the drive folder.
      std::string target = RealPath(cand);
      if (target.empty() || !Inside(real_root, target)) return false;
      stack.push_back(target);
    } else {
      stack.push_back(cand);
    }
    named.push_back(cand);
  }
  if (host) *host = follow_last ? stack.back() : named.back();
  if (root) *root = real_root;
  if (is_root) *is_root = (stack.back() == real_root);
  return true;
}

uint8_t AttributesOf(const std::string& name, const struct stat& st) {
  uint8_t a = 0;
  if (S_ISDIR(st.st_mode)) {
    a |= kAttrDirectory;
  } else if (S_ISREG(st.st_mode)) {
    a |= kAttrArchive;
  } else {
    a |= kAttrSystem;  // devices, pipes and sockets are no files for the firmware
  }
  if ((st.st_mode & S_IWUSR) == 0) a |= kAttrReadOnly;
  if (name.size() > 1 && name[0] == '.' && name != "..") a |= kAttrHidden;
  return a;
}

HostDirEntry EntryOf(const std::string& name, const struct stat& st) {
  HostDirEntry e;
  e.name = name;
  e.attributes = AttributesOf(name, st);
  HostTimeToDos(st.st_mtime, &e.dos_date, &e.dos_time);
  e.size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  return e;
}

}  // namespace

std::string HostDriveFolder(const HostFsSettings& fs, char letter) {
  char up = UpperAscii(letter);
  if (up < 'A' || up > 'Z') return {};
  const std::string& set = fs.drive_folder[up - 'A'];
  if (!set.empty()) return set[0] == '/' ? set : std::string();
  if (fs.use_environment) {
    std::string var = std::string("KORVANE_DRIVE_") + up;
    if (const char* v = std::getenv(var.c_str()); v != nullptr && *v != '\0')
      return v[0] == '/' ? std::string(v) : std::string();
  }
  std::string base = fs.base_folder;
  if (base.empty()) {
    char buf[PATH_MAX];
    if (::getcwd(buf, sizeof buf) == nullptr) return {};
    base = buf;
  }
  if (base.back() != '/') base += '/';
  return base + "drives/" + up;
}

bool ResolveDosPath(const HostFsSettings& fs, const std::string& dos, std::string* host,
                    bool* is_root) {
  return Resolve(fs, dos, host, nullptr, is_root);
}

namespace {

// An existing regular file opened with `access` (O_RDONLY or O_WRONLY, never truncated).
int OpenExistingFile(const HostFsSettings& fs, const std::string& dos, int access) {
  std::string host;
  if (!ResolveDosPath(fs, dos, &host)) return -1;
  // O_NONBLOCK keeps a named pipe from stalling the emulation; such files are refused below.
  int fd = ::open(host.c_str(), access | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

}  // namespace

int HostOpenRead(const HostFsSettings& fs, const std::string& dos) {
  return OpenExistingFile(fs, dos, O_RDONLY);
}

int HostReopenWrite(const HostFsSettings& fs, const std::string& dos) {
  return OpenExistingFile(fs, dos, O_WRONLY);
}

int HostCreateFile(const HostFsSettings& fs, const std::string& dos) {
  std::string host;
  bool is_root = false;
  if (!ResolveDosPath(fs, dos, &host, &is_root) || is_root) return -1;
  struct stat st;
  if (::stat(host.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return -1;
  return ::open(host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
}

bool HostDeleteFile(const HostFsSettings& fs, const std::string& dos) {
  std::string host;
  bool is_root = false;
  if (!Resolve(fs, dos, &host, nullptr, &is_root, false) || is_root) return false;
  return ::unlink(host.c_str()) == 0;
}

bool HostRename(const HostFsSettings& fs, const std::string& from, const std::string& to) {
  std::string src, root;
  bool src_root = false;
  if (!Resolve(fs, from, &src, &root, &src_root, false) || src_root) return false;
  struct stat src_st;
  if (::lstat(src.c_str(), &src_st) != 0) return false;
  // The target's folder is resolved as usual; its own name is taken as given, so that a
  // rename may change the case of a name.
  if (to.size() < 2) return false;
  size_t cut = to.rfind('\\');
  std::string folder_dos = cut == std::string::npos ? to.substr(0, 2) : to.substr(0, cut);
  std::string name = cut == std::string::npos ? to.substr(2) : to.substr(cut + 1);
  if (to.size() > kMaxDosPath || name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
    return false;
  std::string folder, to_root;
  if (!Resolve(fs, folder_dos, &folder, &to_root, nullptr) || to_root != root) return false;
  std::string existing = LookupNoCase(folder, name);
  std::string dst = (folder == "/" ? "" : folder) + "/" + name;
  struct stat dst_st;
  std::string existing_path = (folder == "/" ? "" : folder) + "/" + existing;
  if (::lstat(existing_path.c_str(), &dst_st) == 0) {
    // Only the same entry under another case may stand in the way.
    if (dst_st.st_dev != src_st.st_dev || dst_st.st_ino != src_st.st_ino) return false;
    return ::rename(src.c_str(), dst.c_str()) == 0;
  }
  return ::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0;
}

bool HostMakeDir(const HostFsSettings& fs, const std::string& dos) {
  std::string host;
  bool is_root = false;
  if (!ResolveDosPath(fs, dos, &host, &is_root) || is_root) return false;
  return ::mkdir(host.c_str(), 0777) == 0;
}

bool HostListDir(const HostFsSettings& fs, const std::string& dos,
                 std::vector<HostDirEntry>* entries) {
  entries->clear();
  std::string host, root;
  bool is_root = false;
  if (!Resolve(fs, dos, &host, &root, &is_root)) return false;
  DIR* d = ::opendir(host.c_str());
  if (d == nullptr) return false;
  std::vector<HostDirEntry> found;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = host + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      std::string target = RealPath(path);
      if (target.empty() || !Inside(root, target) || ::stat(target.c_str(), &st) != 0) continue;
    }
    found.push_back(EntryOf(name, st));
  }
  ::closedir(d);
  std::sort(found.begin(), found.end(), [](const HostDirEntry& a, const HostDirEntry& b) {
    return LessNoCase(a.name, b.name);
  });
  if (!is_root) {
    struct stat self, parent;
    if (::stat(host.c_str(), &self) != 0) return false;
    std::string up = host.substr(0, host.rfind('/'));
    if (up.empty() || ::stat(up.c_str(), &parent) != 0) parent = self;
    entries->push_back(EntryOf(".", self));
    entries->push_back(EntryOf("..", parent));
  }
  entries->insert(entries->end(), found.begin(), found.end());
  return true;
}

bool HostDriveExists(const HostFsSettings& fs, char letter) {
  return !DriveRoot(fs, letter).empty();
}

void HostTimeToDos(std::time_t t, uint16_t* date, uint16_t* time) {
  std::tm tm{};
  if (::localtime_r(&t, &tm) == nullptr || tm.tm_year < 80) {
    *date = (1 << 5) | 1;  // 1980-01-01
    *time = 0;
    return;
  }
  if (tm.tm_year > 80 + 127) {
    *date = static_cast<uint16_t>((127 << 9) | (12 << 5) | 31);
    *time = static_cast<uint16_t>((23 << 11) | (59 << 5) | 29);
    return;
  }
  *date = static_cast<uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  *time = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

bool DosToHostTime(uint16_t date, uint16_t time, std::time_t* t) {
  std::tm tm{};
  tm.tm_year = 80 + (date >> 9);
  tm.tm_mon = ((date >> 5) & 15) - 1;
  tm.tm_mday = date & 31;
  tm.tm_hour = time >> 11;
  tm.tm_min = (time >> 5) & 63;
  tm.tm_sec = (time & 31) * 2;
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 ||
      tm.tm_sec > 59)
    return false;
  std::tm check = tm;
  check.tm_isdst = -1;
  std::time_t r = std::mktime(&check);
  // mktime moves impossible days (30 February) into the next month: such dates are refused.
  if (r == static_cast<std::time_t>(-1) || check.tm_mday != tm.tm_mday || check.tm_mon != tm.tm_mon)
    return false;
  *t = r;
  return true;
}

bool HostStampFile(int fd, std::time_t t) {
  struct timespec times[2];
  times[0].tv_sec = t;
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return ::futimens(fd, times) == 0;
}

}  // namespace korvane
