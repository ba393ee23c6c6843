// The memory file: the absolute-data area kept between runs. A save goes to a temporary file
// in the same folder that then replaces the old file, so a crash never leaves a torn file.
#include "image/memory_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "services/machine.h"

namespace korvane {

namespace {

constexpr uint32_t kPieceBytes = 0x7FF0;  // each transfer is one record of at most this size

// Where the area meets the file: area bytes [first, first + length) correspond to file bytes
// [file_offset, file_offset + length).
struct Placement {
  uint32_t first = 0;
  uint32_t length = 0;
  uint64_t file_offset = 0;
};

// A negative offset leaves its first -N bytes out of the file; when that is the whole area
// there is nothing to transfer (length 0).
Placement Place(long offset, uint32_t size) {
  Placement p;
  if (offset >= 0) {
    p.file_offset = static_cast<uint64_t>(offset);
    p.length = size;
  } else {
    uint64_t skip = static_cast<uint64_t>(-static_cast<int64_t>(offset));
    if (skip < size) {
      p.first = static_cast<uint32_t>(skip);
      p.length = size - p.first;
    }
  }
  return p;
}

bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void RestoreMemoryFile(Machine& emu) {
  const std::string shown = ProjectFileName(emu, "mem");  // as messages name it
  const std::string name = ResolveInBase(emu, shown);
  std::FILE* f = std::fopen(name.c_str(), "rb");
  // A folder of that name opens here but holds no memory file.
  struct stat st {};
  if (f && ::fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);
    f = nullptr;
  }
  if (!f) MsgExitDetail(emu, "EMUEXEC: read file not found - ", shown.c_str());
  const MemRegion& absd = emu.mem.regions[kRegionAbsd];
  Placement p = Place(emu.opt.mo, absd.host ? absd.size : 0);
  if (p.file_offset > 0 && fseeko(f, static_cast<off_t>(p.file_offset), SEEK_SET) != 0) {
    std::fclose(f);
    MsgExit(emu, "file_seek MemFile");
  }
  // A file that ends early leaves the rest of the area as it was.
  for (uint32_t done = 0; done < p.length;) {
    uint32_t piece = p.length - done < kPieceBytes ? p.length - done : kPieceBytes;
    size_t got = std::fread(absd.host + p.first + done, 1, piece, f);
    done += static_cast<uint32_t>(got);
    if (got < piece) break;
  }
  std::fclose(f);
}

void SaveMemoryFile(Machine& emu) {
  const std::string shown = ProjectFileName(emu, "mem");  // as messages name it
  const std::string name = ResolveInBase(emu, shown);
  const MemRegion& absd = emu.mem.regions[kRegionAbsd];
  Placement p = Place(emu.opt.mo, absd.host ? absd.size : 0);
  if (p.length == 0 && emu.opt.mo < 0) {
    emu.log.Printf(
        "EMUEXEC: memory-file offset %ld leaves no part of the area in the file, "
        "%s is left as it was\n",
        emu.opt.mo, shown.c_str());
    return;
  }

  // A memory file that may not be written is refused as opening it for writing would refuse
  // it; the swap below must not get round its protection.
  if (::access(name.c_str(), F_OK) == 0 && ::access(name.c_str(), W_OK) != 0)
    MsgExitDetail(emu, "EMUEXEC: write file not found - ", shown.c_str());
  // A memory file reached through a symbolic link is saved where the link points, as writing
  // through the name would; replacing the link itself would leave the real file stale.
  std::string target = name;
  struct stat link {};
  if (::lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    char* real = ::realpath(name.c_str(), nullptr);
    if (real) {
      target = real;
      std::free(real);
    }
  }

  // The new contents go to a temporary file beside the old one; rename() then swaps them in
  // one step, so a crash or kill leaves either the old or the new file, never a torn one.
  std::string temp = FolderOf(target) + "/.korvane-mem-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) MsgExitDetail(emu, "EMUEXEC: write file not found - ", shown.c_str());
  struct stat old {};
  ::fchmod(fd, ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);

  // With a positive offset the bytes before the area read as zeros.
  if (p.file_offset > 0 && (::ftruncate(fd, static_cast<off_t>(p.file_offset)) != 0 ||
                            ::lseek(fd, static_cast<off_t>(p.file_offset), SEEK_SET) < 0)) {
    ::close(fd);
    ::unlink(temp.c_str());
    MsgExit(emu, "file_seek MemFile");
  }
  bool ok = true;
  for (uint32_t done = 0; ok && done < p.length; done += kPieceBytes) {
    uint32_t piece = p.length - done < kPieceBytes ? p.length - done : kPieceBytes;
    ok = WriteAll(fd, absd.host + p.first + done, piece);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    int err = errno;
    ::unlink(temp.c_str());
    // The old file is still intact; say so rather than report a save that did not happen.
    emu.log.Printf("EMUEXEC: memory file not written (%s), the old one is kept\n",
                   std::strerror(err));
    MsgExitDetail(emu, "EMUEXEC: memory file not written - ", shown.c_str());
  }
}

}  // namespace korvane
