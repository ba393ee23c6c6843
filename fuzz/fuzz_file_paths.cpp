// Fuzz target: the file and directory services' path handling (drive letters, "..", long
// names, odd bytes in packed names). Each input is a list of requests; after them nothing
// outside drive C's folder may have been touched.
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/heap.h"
#include "driver/emulator.h"
#include "fuzz_support.h"
#include "services/files/files.h"
#include "services/native_handlers.h"

using namespace korvane;
namespace stdfs = std::filesystem;

namespace {

constexpr uint32_t kData = 0x100000;
constexpr uint32_t kDataSize = 0x10000;
constexpr uint32_t kRequest = kData + 0x100;
constexpr uint32_t kName = kData + 0x200;
constexpr uint32_t kName2 = kData + 0x220;
constexpr uint32_t kErrnum = kData + 0x10;
constexpr uint32_t kBuffer = kData + 0x1000;
constexpr uint32_t kHeap = 0x300000;
constexpr uint32_t kHeapSize = 0x1000;
constexpr size_t kOpBytes = 28;
constexpr int kMaxOps = 16;

void (*const kHandlers[])(Machine&) = {
    NativeFileOpen,        NativeFileCreate,    NativeFileRead,          NativeFileReadline,
    NativeFileWrite,       NativeFileSeek,      NativeFileClose,         NativeFileDelete,
    NativeFileRename,      NativeFileChangeDir, NativeFileStartParseDir, NativeFileChangeParseDir,
    NativeFileMakeDir,     NativeFileReadDir,   NativeFileStringDir,     NativeFileExists,
    NativeFileDefineDrive, NativeFileInit,      NativeFileFormat,        NativeFileShutdown,
};
constexpr size_t kHandlerCount = sizeof kHandlers / sizeof kHandlers[0];

const char kDriveLetters[] = "CCCCDAPUZc?\\.";

// Every path below `folder` except `skip` and what it holds, with the content of each regular
// file.
std::vector<std::string> Snapshot(const std::string& folder, const std::string& skip) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = stdfs::recursive_directory_iterator(folder, ec);
       !ec && it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
    std::string entry = it->path().string();
    if (entry == skip) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file()) {
      std::FILE* f = std::fopen(entry.c_str(), "rb");
      char buf[64] = {};
      size_t n = f ? std::fread(buf, 1, sizeof buf, f) : 0;
      if (f) std::fclose(f);
      entry += "=" + std::string(buf, n);
    }
    out.push_back(entry);
  }
  std::sort(out.begin(), out.end());
  return out;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "file services touched something outside drive C: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // top/ holds the drive folder and, beside it, a folder the services must never touch; the
  // project folder (for drives/X) does not exist.
  static fuzz::ScratchFolder top("files");
  static const std::string drive_c = top.File("c/drive");
  static const std::string outside = top.File("outside");
  static const std::vector<std::string> before = [] {
    stdfs::create_directories(outside + "/inner");
    stdfs::create_directories(drive_c);
    fuzz::WriteBytes(outside + "/KEEP.TXT", "keep", 4);
    fuzz::WriteBytes(top.File("c/SIBLING.TXT"), "sib", 3);
    return Snapshot(top.path(), drive_c);
  }();

  stdfs::create_directories(drive_c + "/SUB");
  fuzz::WriteBytes(drive_c + "/READ.ME", "line one\nline two\n", 18);
  fuzz::WriteBytes(drive_c + "/SUB/A.TXT", "a", 1);
  {
    Emulator emu;
    emu.files.host.use_environment = false;
    emu.files.host.base_folder = top.File("no-project");
    emu.files.host.drive_folder['C' - 'A'] = drive_c;
    DefineRegion(emu, kRegionData, "DATA", kData, kDataSize, true, 0, 0, 0);
    DefineRegion(emu, kRegionHeap, "HEAP", kHeap, kHeapSize, true, 0, 0, 0);
    HeapReset(emu);
    emu.vars.file_errnum = TranslateAddress(emu.mem, kErrnum);
    InitFileServices(emu);

    for (int n = 0; n < kMaxOps && size >= kOpBytes; ++n, data += kOpBytes, size -= kOpBytes) {
      const uint8_t* op = data;
      // Byte 0: handler; bit 7 keeps an earlier error in file_errnum (it fails every checking
      // call until the firmware clears it). Byte 1: drive. Bytes 2-12 and 13-23: packed names.
      // Bytes 24-27: the count (bit 31 set: the second name's address, as rename takes it).
      if (!(op[0] & 0x80)) GuestWrite32(emu.mem, kErrnum, 0);
      uint32_t drive = op[1] < 0xF0 ? static_cast<uint8_t>(kDriveLetters[op[1] % 13]) : op[1];
      GuestWrite32(emu.mem, kRequest + FileRequest::kDrive, drive);
      GuestWrite(emu.mem, kName, op + 2, kPackedNameBytes);
      GuestWrite(emu.mem, kName2, op + 13, kPackedNameBytes);
      uint32_t count = static_cast<uint32_t>(op[24] | op[25] << 8 | op[26] << 16) |
                       static_cast<uint32_t>(op[27]) << 24;
      uint32_t address = kName;
      uint32_t handler = op[0] & 0x7F;
      if (handler % kHandlerCount == 2 || handler % kHandlerCount == 3 ||
          handler % kHandlerCount == 4 || handler % kHandlerCount == 13)
        address = kBuffer;
      GuestWrite32(emu.mem, kRequest + FileRequest::kAddress, address);
      GuestWrite32(emu.mem, kRequest + FileRequest::kCount,
                   (count & 0x80000000u) ? kName2 : (count & 0x3FFF));
      GuestWrite32(emu.mem, kRequest + FileRequest::kPattern, kName2);
      GuestWrite32(emu.mem, kRequest + FileRequest::kAttributes, op[27]);
      GuestWrite32(emu.mem, kRequest + FileRequest::kDate, 0xFFFFFFFFu);
      GuestWrite32(emu.mem, kRequest + FileRequest::kTime, 0xFFFFFFFFu);
      if (handler >= 64) GuestWrite32(emu.mem, kRequest + FileRequest::kHandle, op[24] % 12);
      emu.cpu.g[7] = kRequest;
      kHandlers[handler % kHandlerCount](emu);
    }
  }  // the emulator closes what the requests left open

  std::vector<std::string> after = Snapshot(top.path(), drive_c);
  Check(after == before, "the folders beside the drive changed");
  std::error_code ec;
  stdfs::remove_all(drive_c, ec);
  return 0;
}
