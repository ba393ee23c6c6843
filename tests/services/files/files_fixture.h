// Test fixture for the file services: a fresh Emulator with guest memory and drive C on a
// temporary host folder, plus helpers to fill request records and call the handlers.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "driver/emulator.h"
#include "core/heap.h"
#include "services/files/files.h"
#include "services/native_handlers.h"

namespace korvane::test {

namespace stdfs = std::filesystem;

class FilesTest : public ::testing::Test {
 public:
  static constexpr uint32_t kData = 0x100000;     // region DATA
  static constexpr uint32_t kDataSize = 0x10000;
  static constexpr uint32_t kRequest = kData + 0x100;
  static constexpr uint32_t kName = kData + 0x200;
  static constexpr uint32_t kName2 = kData + 0x220;
  static constexpr uint32_t kPatternAddr = kData + 0x240;
  static constexpr uint32_t kErrnum = kData + 0x10;
  static constexpr uint32_t kBuffer = kData + 0x1000;
  static constexpr uint32_t kHeap = 0x300000;     // region HEAP
  static constexpr uint32_t kHeapSize = 0x1000;

  void SetUp() override {
    char tmpl[] = "/tmp/korvane-files-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    top_ = tmpl;
    drive_c_ = top_ + "/drive-c";
    outside_ = top_ + "/outside";
    stdfs::create_directories(drive_c_);
    stdfs::create_directories(outside_);
    emu_ = std::make_unique<Emulator>();
    Emulator& e = *emu_;
    e.files.host.use_environment = false;
    e.files.host.base_folder = top_ + "/no-project";  // holds no drives/ folder
    e.files.host.drive_folder['C' - 'A'] = drive_c_;
    DefineRegion(e, kRegionData, "DATA", kData, kDataSize, true, 0, 0, 0);
    DefineRegion(e, kRegionHeap, "HEAP", kHeap, kHeapSize, true, 0, 0, 0);
    HeapReset(e);
    e.vars.file_errnum = TranslateAddress(e.mem, kErrnum);
    InitFileServices(e);
    e.cpu.g[7] = kRequest;
    Set(FileRequest::kDrive, 'C');
  }

  void TearDown() override {
    emu_.reset();  // closes what the tests left open
    std::error_code ec;
    stdfs::remove_all(top_, ec);
  }

  Emulator& emu() { return *emu_; }
  uint32_t Get(uint32_t field) { return GuestRead32(emu().mem, kRequest + field); }
  void Set(uint32_t field, uint32_t v) { GuestWrite32(emu().mem, kRequest + field, v); }
  uint32_t Errnum() { return GuestRead32(emu().mem, kErrnum); }
  void ClearErrnum() { GuestWrite32(emu().mem, kErrnum, 0); }
  uint32_t G9() { return emu().cpu.g[9]; }

  // Stores an 11-byte packed name at `at` and points the request's address field at it.
  void SetPacked(const char (&packed)[12], uint32_t at = kName) {
    GuestWrite(emu().mem, at, packed, 11);
    Set(FileRequest::kAddress, at);
  }
  void PutBytes(uint32_t at, const std::string& s) {
    GuestWrite(emu().mem, at, s.data(), static_cast<uint32_t>(s.size()));
  }
  std::string GetBytes(uint32_t at, uint32_t n) {
    std::string s(n, '\0');
    GuestRead(emu().mem, at, s.data(), n);
    return s;
  }

  // Runs a handler the way the intercept does: g9 starts as something else.
  void Call(void (*handler)(Machine&)) {
    emu().cpu.g[9] = 0xBAD;
    handler(emu());
  }

  // Opens (or creates) the packed name in the parse path; returns the handle.
  uint32_t OpenName(const char (&packed)[12], bool create = false) {
    SetPacked(packed);
    Call(create ? NativeFileCreate : NativeFileOpen);
    return Get(FileRequest::kHandle);
  }
  void StartParse(char drive = 'C') {
    Set(FileRequest::kDrive, static_cast<uint32_t>(drive));
    Call(NativeFileStartParseDir);
  }

  static void WriteHostFile(const std::string& path, const std::string& content) {
    std::ofstream f(path, std::ios::binary);
    f << content;
  }
  static std::string ReadHostFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  // Every path below `folder`, for checks that nothing appeared where it must not.
  static std::vector<std::string> Tree(const std::string& folder) {
    std::vector<std::string> out;
    for (auto& e : stdfs::recursive_directory_iterator(folder)) out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  std::string top_, drive_c_, outside_;
  std::unique_ptr<Emulator> emu_;
};

}  // namespace korvane::test
