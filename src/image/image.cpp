// The identifier table lookups by name and by address, and the project's derived file names.
#include "image/image.h"

#include <algorithm>
#include <cstring>

#include "services/machine.h"

namespace korvane {

ImageState::~ImageState() {
  if (exe) std::fclose(exe);
}

uint32_t LookupIdent(const Machine& emu, const char* name) {
  const ImageState& im = emu.image;
  for (int i = 0; i < im.ident_count && i < kIdentCapacity; ++i) {
    if (im.idents[i].name[0] == '\0') break;
    if (std::strcmp(im.idents[i].name, name) == 0) return im.idents[i].start;
  }
  return 0;
}

void DescribeAddress(Machine& emu, uint32_t address) {
  const ImageState& im = emu.image;
  int last = im.module_count < kModuleCapacity ? im.module_count : kModuleCapacity;
  for (int m = 1; m <= last; ++m) {
    const Module& mod = im.modules[m];
    if (mod.text_start <= address && address <= im.modules[m + 1].text_start) {
      emu.log.Printf("IP=%08lX=%s+0x%lX", static_cast<unsigned long>(address), mod.name,
                     static_cast<unsigned long>(address - mod.text_start));
      return;
    }
  }
}

bool NameAddress(const Machine& emu, uint32_t address, std::string& name, uint32_t& offset) {
  const auto& list = emu.image.symbols_by_address;
  auto it = std::upper_bound(list.begin(), list.end(), address,
                             [](uint32_t a, const auto& entry) { return a < entry.first; });
  // The nearest symbol in the address's own region, so that absolute constants (symbols whose
  // values only look like addresses) do not name memory elsewhere.
  const int region = FindRegion(emu.mem, address);
  for (int tries = 0; it != list.begin() && tries < 256; ++tries) {
    if (FindRegion(emu.mem, std::prev(it)->first) == region) break;
    it = std::prev(it);
  }
  if (it == list.begin() || FindRegion(emu.mem, std::prev(it)->first) != region) return false;
  --it;
  // Of several symbols at one address the first by name that does not start with "_" or "."
  // (the linker's _etext, section names), else the first; with the module of a text address.
  const uint32_t at = it->first;
  while (it != list.begin() && std::prev(it)->first == at) --it;
  name = it->second;
  for (auto k = it; k != list.end() && k->first == at; ++k) {
    if (k->second[0] != '_' && k->second[0] != '.') {
      name = k->second;
      break;
    }
  }
  offset = address - at;
  const ImageState& im = emu.image;
  int last = im.module_count < kModuleCapacity ? im.module_count : kModuleCapacity;
  for (int m = 1; m <= last; ++m) {
    const Module& mod = im.modules[m];
    if (mod.text_length > 0 && mod.text_start <= address &&
        address - mod.text_start < mod.text_length) {
      name = std::string(mod.name) + ":" + name;
      break;
    }
  }
  return true;
}

std::string ReplaceExtension(const std::string& name, const char* ext) {
  std::string cut = name.substr(0, name.find_first_of("\r\n"));
  size_t slash = cut.find_last_of("\\/");
  size_t dot = cut.find('.', slash == std::string::npos ? 0 : slash);
  return (dot == std::string::npos ? cut : cut.substr(0, dot)) + "." + ext;
}

std::string ResolveInBase(const Machine& emu, const std::string& name) {
  if (emu.base_folder.empty() || name.empty() || name[0] == '/') return name;
  std::string path = emu.base_folder;
  if (path.back() != '/') path += '/';
  return path + name;
}

std::string ProjectFilePath(Machine& emu, const char* ext) {
  return ResolveInBase(emu, ProjectFileName(emu, ext));
}

std::string ProjectFileName(Machine& emu, const char* ext) {
  std::string name = ReplaceExtension(emu.opt.project_name, ext);
  if (name.size() >= static_cast<size_t>(kProjectNameSize))
    MsgExitDetail(emu, "EMUOPT: file name longer than 67 characters - ", name.c_str());
  return name;
}

}  // namespace korvane
