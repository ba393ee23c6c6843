// File services common to all operations: drive table, drive check, names, paths, init.
#include "services/files/files.h"

#include <unistd.h>

#include <cstring>

#include "services/files/file_common.h"
#include "services/machine.h"
#include "services/native_handlers.h"

namespace korvane {

namespace files {

uint32_t ReadField(Machine& emu, uint32_t offset) {
  return GuestRead32(emu.mem, emu.cpu.g[7] + offset);
}

void WriteField(Machine& emu, uint32_t offset, uint32_t value) {
  GuestWrite32(emu.mem, emu.cpu.g[7] + offset, value);
}

static uint8_t* ErrnumLocation(Machine& emu) {
  return emu.vars.file_errnum ? emu.vars.file_errnum : emu.files.errnum_fallback;
}

uint32_t GetErrnum(Machine& emu) {
  uint32_t v;
  std::memcpy(&v, ErrnumLocation(emu), 4);
  return v;
}

void SetErrnum(Machine& emu, uint32_t code) {
  uint8_t* const at = ErrnumLocation(emu);
  if (emu.mem.host_watch.armed && emu.vars.file_errnum && emu.vars.file_errnum != emu.mem.scratch)
    NoteHostAccess(emu.mem, LookupIdent(emu, "file_errnum"), 4, true);
  std::memcpy(at, &code, 4);
  NoteHostWrite(emu.mem, at, 4);
}

void SetResult(Machine& emu, bool ok) { emu.cpu.g[9] = ok ? 1 : 0; }

int DriveCheck(Machine& emu) {
  uint32_t letter = ReadField(emu, FileRequest::kDrive);
  int drive = -1;
  if (letter >= 'A' && letter <= 'D') {
    drive = static_cast<int>(letter - 'A');
  } else if (letter >= 'P' && letter <= 'U') {
    drive = 4 + static_cast<int>(letter - 'P');
  } else {
    SetErrnum(emu, kErrDrive);
  }
  // An error left by an earlier call fails every checking operation until the firmware
  // clears it.
  bool pass = GetErrnum(emu) == 0;
  SetResult(emu, pass);
  return pass ? drive : -1;
}

std::string ReadPackedName(Machine& emu, uint32_t a) {
  uint8_t packed[kPackedNameBytes];
  GuestRead(emu.mem, a, packed, kPackedNameBytes);
  return PackedNameToHost(packed);
}

OpenFileSlot* RequestSlot(Machine& emu) {
  uint32_t handle = ReadField(emu, FileRequest::kHandle);
  if (handle >= static_cast<uint32_t>(kOpenFileSlots)) return nullptr;
  OpenFileSlot& slot = emu.files.slots[handle];
  return slot.fd >= 0 ? &slot : nullptr;
}

int OpenIntoSlot(Machine& emu, const std::string& path) {
  for (int i = 0; i < kOpenFileSlots; ++i) {
    OpenFileSlot& slot = emu.files.slots[i];
    if (slot.fd >= 0) continue;
    int fd = HostOpenRead(emu.files.host, path);
    if (fd < 0) return -1;
    slot.fd = fd;
    slot.mode = 0;
    slot.path = path;
    return i;
  }
  return -1;
}

void FreeSlot(OpenFileSlot& slot) {
  if (slot.fd >= 0) ::close(slot.fd);
  slot.fd = -1;
  slot.mode = 0;
  slot.path.clear();
}

}  // namespace files

FileState::~FileState() {
  for (OpenFileSlot& slot : slots) files::FreeSlot(slot);
}

std::string PackedNameToHost(const uint8_t packed[kPackedNameBytes]) {
  static const uint8_t kDot[kPackedNameBytes] = {'.', ' ', ' ', ' ', ' ', ' ',
                                                 ' ', ' ', ' ', ' ', ' '};
  static const uint8_t kDotDot[kPackedNameBytes] = {'.', '.', ' ', ' ', ' ', ' ',
                                                    ' ', ' ', ' ', ' ', ' '};
  bool blank = true;
  for (int i = 0; i < kPackedNameBytes; ++i) blank = blank && packed[i] == ' ';
  if (blank) return "\\";
  if (std::memcmp(packed, kDot, kPackedNameBytes) == 0) return ".";
  if (std::memcmp(packed, kDotDot, kPackedNameBytes) == 0) return "..";
  std::string name;
  for (int i = 0; i < 8; ++i)
    if (packed[i] != ' ') name += static_cast<char>(packed[i]);
  bool has_ext = packed[8] != ' ' || packed[9] != ' ' || packed[10] != ' ';
  if (has_ext) {
    name += '.';
    for (int i = 8; i < 11; ++i)
      if (packed[i] != ' ') name += static_cast<char>(packed[i]);
  }
  return name;
}

void HostNameToPacked(const std::string& name, uint8_t packed[kPackedNameBytes]) {
  std::memset(packed, ' ', kPackedNameBytes);
  if (name == "\\") return;
  if (name == "." || name == "..") {
    std::memcpy(packed, name.data(), name.size());
    return;
  }
  int pos = 0;
  for (char c : name) {
    if (pos >= kPackedNameBytes) break;
    if (c == '.') {
      if (pos < 8) pos = 8;  // the blanks are already there
      continue;
    }
    packed[pos++] = static_cast<uint8_t>(c);
  }
}

std::string JoinPath(const std::string& path, const std::string& name) {
  std::string r = path;
  if (!r.empty() && r.back() != '\\') r += '\\';
  return r + name;
}

std::string NormalisePath(const std::string& path) {
  if (path.size() == 5 && path[1] == ':' && path.compare(2, 3, "\\..") == 0)
    return path.substr(0, 2);
  std::string out;
  size_t i = 0;
  while (i < path.size()) {
    // Only a whole ".." component goes up: a name such as "..X" is an ordinary name.
    bool up = path[i] == '\\' && path.compare(i + 1, 2, "..") == 0 &&
              (i + 3 == path.size() || path[i + 3] == '\\');
    if (!up) {
      out += path[i++];
      continue;
    }
    size_t bs = out.rfind('\\');
    std::string prev = out.substr(bs == std::string::npos ? 0 : bs + 1);
    if (prev == "." || prev == "..") {
      out += path[i++];  // a ".." after "." or ".." is kept as it is
      continue;
    }
    if (bs == std::string::npos && out.size() == 2 && out[1] == ':') {
      i += 3;  // the drive root stays the drive root
      continue;
    }
    out.resize(bs == std::string::npos ? 0 : bs);
    i += 3;
  }
  return out;
}

bool PatternMatches(const uint8_t entry[kPackedNameBytes],
                    const uint8_t pattern[kPackedNameBytes]) {
  for (int i = 0; i < kPackedNameBytes; ++i) {
    uint8_t e = entry[i], p = pattern[i];
    if (e >= 'a' && e <= 'z') e = static_cast<uint8_t>(e - 32);
    if (p >= 'a' && p <= 'z') p = static_cast<uint8_t>(p - 32);
    bool ok = e == p || e == '*' || p == '*' || (e == '?' && p != ' ') || (p == '?' && e != ' ');
    if (!ok) return false;
  }
  return true;
}

void InitFileServices(Machine& emu) {
  // Drive folders resolve from the project's folder unless a caller chose another.
  if (emu.files.host.base_folder.empty()) emu.files.host.base_folder = emu.base_folder;
  NativeFileInit(emu);
  emu.files.initialised = true;
}

void NativeFileInit(Machine& emu) {
  const char* list = emu.opt.drive_list;
  size_t len = strnlen(list, kDriveListSize);
  for (int i = 0; i < kDriveCount; ++i) {
    char letter = '?';
    if (static_cast<size_t>(i) < len) {
      char c = list[i];
      letter = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    }
    DriveEntry& d = emu.files.drives[i];
    d.root = std::string(1, letter) + ":";
    d.search = d.root + "\\*.*";
    d.current = d.root;
  }
}

void NativeFileFormat(Machine& emu) {
  files::SetErrnum(emu, files::kErrFormat);
  files::SetResult(emu, false);
}

void NativeFileShutdown(Machine& emu) { files::SetResult(emu, true); }

void NativeFileDefineDrive(Machine& emu) { files::DriveCheck(emu); }

}  // namespace korvane
