// File operations: open, create, read, readline, write, seek, close, delete and rename.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "services/files/file_common.h"
#include "services/machine.h"
#include "services/native_handlers.h"

namespace korvane {

using namespace files;

namespace {

constexpr uint8_t kCR = 13;
constexpr uint8_t kLF = 10;

void FailOpen(Machine& emu, uint32_t code) {
  WriteField(emu, FileRequest::kHandle, kNoHandle);
  WriteField(emu, FileRequest::kSize, 0);
  WriteField(emu, FileRequest::kPosition, 0);
  SetErrnum(emu, code);
  SetResult(emu, false);
}

// The request's data buffer as host memory, clipped at the end of the region that holds its
// first byte; a negative count gives an empty buffer.
uint8_t* TransferBuffer(Machine& emu, uint32_t* length) {
  int32_t count = static_cast<int32_t>(ReadField(emu, FileRequest::kCount));
  uint32_t avail = 0;
  uint8_t* p = TranslateAddress(emu.mem, ReadField(emu, FileRequest::kAddress), &avail);
  *length = count <= 0 ? 0 : std::min(static_cast<uint32_t>(count), avail);
  return p;
}

void Advance(Machine& emu, uint32_t transferred, uint32_t consumed) {
  WriteField(emu, FileRequest::kCount, transferred);
  uint32_t pos = ReadField(emu, FileRequest::kPosition);
  WriteField(emu, FileRequest::kPosition, pos + transferred + consumed);
}

// Reads up to n bytes at the descriptor's position; the number read.
uint32_t ReadFully(int fd, uint8_t* p, uint32_t n) {
  uint32_t done = 0;
  while (done < n) {
    ssize_t r = ::read(fd, p + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<uint32_t>(r);
  }
  return done;
}

uint32_t WriteFully(int fd, const uint8_t* p, uint32_t n) {
  uint32_t done = 0;
  while (done < n) {
    ssize_t r = ::write(fd, p + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<uint32_t>(r);
  }
  return done;
}

// The byte at offset `at`, or -1 at the end of the file.
int ByteAt(int fd, off_t at) {
  uint8_t b;
  return ::pread(fd, &b, 1, at) == 1 ? b : -1;
}

}  // namespace

void NativeFileOpen(Machine& emu) {
  if (DriveCheck(emu) < 0) return;
  std::string name = ReadPackedName(emu, ReadField(emu, FileRequest::kAddress));
  int slot = OpenIntoSlot(emu, JoinPath(emu.files.parse_path, name));
  if (slot < 0) {
    FailOpen(emu, kErrHost);
    return;
  }
  struct stat st;
  uint32_t size =
      ::fstat(emu.files.slots[slot].fd, &st) == 0 ? static_cast<uint32_t>(st.st_size) : 0;
  WriteField(emu, FileRequest::kHandle, static_cast<uint32_t>(slot));
  WriteField(emu, FileRequest::kSize, size);
  WriteField(emu, FileRequest::kPosition, 0);
  SetResult(emu, true);
}

void NativeFileCreate(Machine& emu) {
  if (DriveCheck(emu) < 0) return;
  std::string name = ReadPackedName(emu, ReadField(emu, FileRequest::kAddress));
  std::string path = JoinPath(emu.files.parse_path, name);
  int existing = OpenIntoSlot(emu, path);
  if (existing >= 0) {
    FreeSlot(emu.files.slots[existing]);
    FailOpen(emu, kErrExists);
    return;
  }
  for (int i = 0; i < kOpenFileSlots; ++i) {
    OpenFileSlot& slot = emu.files.slots[i];
    if (slot.fd >= 0) continue;
    int fd = HostCreateFile(emu.files.host, path);
    if (fd < 0) break;
    slot.fd = fd;
    slot.mode = 1;
    slot.path = path;
    WriteField(emu, FileRequest::kHandle, static_cast<uint32_t>(i));
    WriteField(emu, FileRequest::kSize, 0);
    WriteField(emu, FileRequest::kPosition, 0);
    SetResult(emu, true);
    return;
  }
  FailOpen(emu, kErrHost);
}

void NativeFileRead(Machine& emu) {
  if (DriveCheck(emu) < 0) return;
  OpenFileSlot* slot = RequestSlot(emu);
  uint32_t n = 0;
  uint8_t* p = TransferBuffer(emu, &n);
  uint32_t got = 0;
  if (slot && emu.mem.host_watch.armed) {
    // A watching debugger is told of exactly the bytes that arrive, before they are stored.
    std::vector<uint8_t> bytes(n);
    got = ReadFully(slot->fd, bytes.data(), n);
    NoteHostAccess(emu.mem, ReadField(emu, FileRequest::kAddress), got, true);
    if (got) std::memcpy(p, bytes.data(), got);
  } else if (slot) {
    got = ReadFully(slot->fd, p, n);
  }
  NoteHostWrite(emu.mem, p, got);
  Advance(emu, got, 0);
}

void NativeFileReadline(Machine& emu) {
  if (DriveCheck(emu) < 0) return;
  OpenFileSlot* slot = RequestSlot(emu);
  if (slot == nullptr || static_cast<int32_t>(ReadField(emu, FileRequest::kCount)) < 0) {
    Advance(emu, 0, 0);
    return;
  }
  uint32_t limit = 0;
  uint8_t* p = TransferBuffer(emu, &limit);
  off_t start = ::lseek(slot->fd, 0, SEEK_CUR);
  if (start < 0) {
    Advance(emu, 0, 0);
    return;
  }
  // The line runs to the first CR or LF or the end of the file; only what fits is stored.
  uint32_t stored = 0;
  uint8_t chunk[4096];
  bool ended = false;
  while (stored < limit && !ended) {
    size_t want = std::min<size_t>(sizeof chunk, limit - stored);
    ssize_t got = ::pread(slot->fd, chunk, want, start + stored);
    if (got <= 0) break;
    for (ssize_t i = 0; i < got && !ended; ++i) {
      if (chunk[i] == kCR || chunk[i] == kLF) {
        ended = true;
      } else {
        ++stored;
      }
    }
  }
  NoteHostAccess(emu.mem, ReadField(emu, FileRequest::kAddress), stored, true);
  stored = ReadFully(slot->fd, p, stored);
  NoteHostWrite(emu.mem, p, stored);
  // A CR ends the line, and an LF right after it belongs to it; an LF alone stays unread.
  uint32_t consumed = 0;
  if (ByteAt(slot->fd, start + stored) == kCR) {
    consumed = 1;
    if (ByteAt(slot->fd, start + stored + 1) == kLF) consumed = 2;
  }
  ::lseek(slot->fd, start + stored + consumed, SEEK_SET);
  Advance(emu, stored, consumed);
}

void NativeFileWrite(Machine& emu) {
  if (DriveCheck(emu) < 0) return;
  OpenFileSlot* slot = RequestSlot(emu);
  uint32_t n = 0;
  const uint8_t* p = TransferBuffer(emu, &n);
  if (slot && slot->mode == 1)
    NoteHostAccess(emu.mem, ReadField(emu, FileRequest::kAddress), n, false);
  Advance(emu, (slot && slot->mode == 1) ? WriteFully(slot->fd, p, n) : 0, 0);
}

void NativeFileSeek(Machine& emu) {
  if (DriveCheck(emu) < 0) return;
  OpenFileSlot* slot = RequestSlot(emu);
  int32_t target = static_cast<int32_t>(ReadField(emu, FileRequest::kCount));
  uint32_t result = 0;
  if (slot && target >= 0 && ::lseek(slot->fd, target, SEEK_SET) == target)
    result = static_cast<uint32_t>(target);
  WriteField(emu, FileRequest::kCount, result);
  WriteField(emu, FileRequest::kPosition, result);
}

void NativeFileClose(Machine& emu) {
  if (DriveCheck(emu) < 0) return;
  OpenFileSlot* slot = RequestSlot(emu);
  if (slot == nullptr) return;
  uint32_t date = ReadField(emu, FileRequest::kDate);
  uint32_t time = ReadField(emu, FileRequest::kTime);
  if (date == 0xFFFFFFFFu) date = 0xFFFF;
  if (time == 0xFFFFFFFFu) time = 0xFFFF;
  if (date == 0xFFFF || time == 0xFFFF) date = time = 0xFFFF;
  // Only the low 16 bits of each take part, so a stray high bit of the time cannot reach the
  // date.
  uint32_t stamp = ((date & 0xFFFF) << 16) | (time & 0xFFFF);
  std::time_t when;
  if (stamp != 0xFFFFFFFFu && stamp != 0 && slot->mode == 1 &&
      DosToHostTime(static_cast<uint16_t>(stamp >> 16), static_cast<uint16_t>(stamp), &when))
    HostStampFile(slot->fd, when);  // before the close: nothing is written after it
  FreeSlot(*slot);
}

void NativeFileDelete(Machine& emu) {
  if (DriveCheck(emu) < 0) return;
  std::string name = ReadPackedName(emu, ReadField(emu, FileRequest::kAddress));
  HostDeleteFile(emu.files.host, JoinPath(emu.files.parse_path, name));
}

void NativeFileRename(Machine& emu) {
  if (DriveCheck(emu) < 0) return;
  std::string old_name = ReadPackedName(emu, ReadField(emu, FileRequest::kAddress));
  std::string new_name = ReadPackedName(emu, ReadField(emu, FileRequest::kCount));
  std::string from = JoinPath(emu.files.parse_path, old_name);
  // The parse path stays extended by the new name: the firmware's next open looks there.
  emu.files.parse_path = JoinPath(emu.files.parse_path, new_name);
  HostRename(emu.files.host, from, emu.files.parse_path);
}

}  // namespace korvane
