#include "driver/save_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "core/processor_state.h"
#include "driver/emulator.h"
#include "services/machine_state.h"

namespace korvane {

namespace {

constexpr char kMagic[8] = {'K', 'O', 'R', 'V', 'S', 'T', 'A', 'T'};
constexpr size_t kHeaderBytes = 8 + 4 + 32 + 4;
constexpr size_t kSectionHeadBytes = 4 + 8;

// The components of a state, in the order they are saved and loaded: memory before the
// devices that read their settings from it (serial ports).
struct Component {
  const char* name;  // four characters
  void (*serialize)(Emulator& emu, StateArchive& ar);
};
constexpr Component kComponents[] = {
    {"MEMY", [](Emulator& e, StateArchive& ar) { SerializeMemory(e, ar); }},
    {"CPU ", [](Emulator& e, StateArchive& ar) { SerializeCpu(e, ar); }},
    {"RUN ", [](Emulator& e, StateArchive& ar) { SerializeRun(e, ar); }},
    {"KEYS", [](Emulator& e, StateArchive& ar) { SerializeKeyboard(e, ar); }},
    {"DISP", [](Emulator& e, StateArchive& ar) { SerializeDisplay(e, ar); }},
    {"SERL", [](Emulator& e, StateArchive& ar) { SerializeSerial(e, ar); }},
    {"FILE", [](Emulator& e, StateArchive& ar) { SerializeFiles(e, ar); }},
    {"INTC", [](Emulator& e, StateArchive& ar) { SerializeIntercept(e, ar); }},
};

void PutLe(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

uint64_t GetLe(const std::string& in, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint64_t{static_cast<uint8_t>(in[at + i])} << (8 * i);
  return v;
}

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

const StateFile::Section* FindSection(const StateFile& state, const char* name) {
  for (const auto& s : state.sections)
    if (s.name == name) return &s;
  return nullptr;
}

}  // namespace

bool FirmwareDigest(const Emulator& emu, Sha256Digest& out, std::string& error) {
  const std::string path = ResolveInBase(emu, emu.image.exe_path);
  std::ifstream f(path, std::ios::binary);
  if (emu.image.exe_path.empty() || !f) {
    error = "cannot read the firmware executable " + path;
    return false;
  }
  Sha256 sha;
  char buf[65536];
  while (f) {
    f.read(buf, sizeof buf);
    sha.Update(buf, static_cast<size_t>(f.gcount()));
  }
  out = sha.Finish();
  return true;
}

bool SaveState(Emulator& emu, const std::string& path, std::string& error) {
  Sha256Digest firmware;
  if (!FirmwareDigest(emu, firmware, error)) return false;
  // One buffer for the whole file, sized up front, filled by the components in turn.
  size_t expected = 64 * 1024;
  for (const MemRegion& r : emu.mem.regions)
    if (r.host) expected += r.size;
  std::string out;
  out.reserve(expected);
  out.append(kMagic, sizeof kMagic);
  PutLe(out, kStateVersion, 4);
  out.append(reinterpret_cast<const char*>(firmware.data()), firmware.size());
  PutLe(out, std::size(kComponents), 4);
  for (const Component& c : kComponents) {
    out.append(c.name, 4);
    const size_t length_at = out.size();
    PutLe(out, 0, 8);
    StateArchive ar;
    ar.buffer() = std::move(out);
    c.serialize(emu, ar);
    out = std::move(ar.buffer());
    if (!ar.ok()) {
      error = "no state written: " + ar.error();
      return false;
    }
    const uint64_t length = out.size() - length_at - 8;
    for (int i = 0; i < 8; ++i) out[length_at + i] = static_cast<char>(length >> (8 * i));
  }
  PutLe(out, Crc32(out.data(), out.size()), 4);

  std::string temp = FolderOf(path) + "/.korvane-state-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = "cannot write the state file " + path + ": " + std::strerror(errno);
    return false;
  }
  ::fchmod(fd, 0644);
  bool ok = WriteAll(fd, out.data(), out.size());
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    const int err = errno;
    ::unlink(temp.c_str());
    error = "cannot write the state file " + path + ": " + std::strerror(err);
    return false;
  }
  return true;
}

bool ReadStateFile(const std::string& path, StateFile& out, std::string& error) {
  out = StateFile{};
  out.path = path;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  bool read_ok = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (read_ok) {
    out.bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (read_ok && done < out.bytes.size()) {
      ssize_t r = ::read(fd, out.bytes.data() + done, out.bytes.size() - done);
      if (r < 0 && errno == EINTR) continue;
      read_ok = r > 0;
      if (r > 0) done += static_cast<size_t>(r);
    }
  }
  const int err = fd < 0 || read_ok ? errno : (errno ? errno : EIO);
  if (fd >= 0) ::close(fd);
  if (!read_ok) {
    error = "cannot read the state file " + path + ": " +
            (fd >= 0 && !S_ISREG(st.st_mode) ? std::string("not a regular file")
                                             : std::string(std::strerror(err)));
    return false;
  }
  return ParseStateFile(out, error);
}

bool ParseStateFile(StateFile& out, std::string& error) {
  const std::string& path = out.path;
  const std::string& b = out.bytes;
  out.sections.clear();
  if (b.size() < kHeaderBytes + 4 || std::memcmp(b.data(), kMagic, sizeof kMagic) != 0) {
    error = path + " is not a Korvane state file";
    return false;
  }
  out.version = static_cast<uint32_t>(GetLe(b, 8, 4));
  if (out.version < kOldestStateVersion || out.version > kStateVersion) {
    error = path + " was made by version " + std::to_string(out.version) + "; this is version " +
            std::to_string(kStateVersion) +
            (out.version < kOldestStateVersion
                 ? ", which reads versions from " + std::to_string(kOldestStateVersion) + " on"
                 : "");
    return false;
  }
  const size_t body = b.size() - 4;
  if (Crc32(b.data(), body) != GetLe(b, body, 4)) {
    error = path + " is damaged (its checksum does not match its contents)";
    return false;
  }
  std::memcpy(out.firmware.data(), b.data() + 12, 32);
  const uint64_t count = GetLe(b, 44, 4);
  size_t at = kHeaderBytes;
  for (uint64_t i = 0; i < count; ++i) {
    if (body - at < kSectionHeadBytes) {
      error = path + " is damaged (its section table runs past the end)";
      return false;
    }
    StateFile::Section s;
    s.name = b.substr(at, 4);
    const uint64_t size = GetLe(b, at + 4, 8);
    at += kSectionHeadBytes;
    if (size > body - at) {
      error = path + " is damaged (section \"" + s.name + "\" runs past the end)";
      return false;
    }
    s.offset = at;
    s.size = static_cast<size_t>(size);
    at += s.size;
    out.sections.push_back(s);
  }
  if (at != body) {
    error = path + " is damaged (bytes after its last section)";
    return false;
  }
  return true;
}

bool CheckState(Emulator& emu, const StateFile& state, std::string& error) {
  Sha256Digest firmware;
  if (!FirmwareDigest(emu, firmware, error)) return false;
  if (firmware != state.firmware) {
    error = state.path + " belongs to another firmware than " + emu.image.exe_path + " (SHA-256 " +
            DigestHex(state.firmware).substr(0, 16) + "..., not " +
            DigestHex(firmware).substr(0, 16) + "...)";
    return false;
  }
  for (const Component& c : kComponents) {
    const StateFile::Section* s = FindSection(state, c.name);
    if (!s) {
      error = state.path + " lacks the section \"" + c.name + "\"";
      return false;
    }
    StateArchive ar(StateArchive::kCheck,
                    reinterpret_cast<const uint8_t*>(state.bytes.data()) + s->offset, s->size,
                    state.version);
    c.serialize(emu, ar);
    if (ar.ok() && ar.left() != 0) ar.FailDamaged("the section is longer than its contents");
    if (!ar.ok()) {
      error = state.path + (ar.damaged() ? " is damaged" : " does not fit this machine") +
              " (section \"" + c.name + "\": " + ar.error() + ")";
      return false;
    }
  }
  return true;
}

void ApplyState(Emulator& emu, const StateFile& state) {
  for (const Component& c : kComponents) {
    const StateFile::Section* s = FindSection(state, c.name);
    StateArchive ar(StateArchive::kLoad,
                    reinterpret_cast<const uint8_t*>(state.bytes.data()) + s->offset, s->size,
                    state.version);
    c.serialize(emu, ar);
  }
  DisplaySnapshotLcd(emu);
}

}  // namespace korvane
