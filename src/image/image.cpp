// The identifier table, symbols and modules.
#include "image/image.h"

#include "core/emulator.h"

namespace korvane {

ImageState::~ImageState() {
  if (exe) std::fclose(exe);
}

bool InitEmuIdents(Emulator& emu) {
  (void)emu;
  return true;
}

bool InitEmuExec(Emulator& emu) {
  (void)emu;
  return true;
}

uint32_t LookupIdent(const Emulator& emu, const char* name) {
  (void)emu;
  (void)name;
  return 0;
}

void DescribeAddress(Emulator& emu, uint32_t address) {
  (void)emu;
  (void)address;
}

std::string ReplaceExtension(const std::string& name, const char* ext) {
  size_t slash = name.rfind('\\');
  size_t dot = name.find('.', slash == std::string::npos ? 0 : slash);
  return (dot == std::string::npos ? name : name.substr(0, dot)) + "." + ext;
}

}  // namespace korvane
