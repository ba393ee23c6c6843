// The i960 assembler and linker: GNU-syntax sources to a COFF executable in the layout the
// emulator loads.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace korvane::as {

struct SourceFile {
  std::string name;  // used in diagnostics ("FILE:LINE: message")
  std::string text;
};

struct LinkOptions {
  uint32_t text_address = 0x10000;
  uint32_t absd_address = 0x200000;
  std::string entry = "_start";
  bool listing = false;
  // Line numbers and procedure symbols for every module; modules with .ln directives get
  // theirs in any case.
  bool line_numbers = false;
};

struct Diagnostic {
  std::string file;
  int line = 0;
  std::string message;
  std::string ToString() const;  // "FILE:LINE: message"
};

struct Executable {
  std::vector<Diagnostic> errors;  // empty on success
  std::vector<uint8_t> file;       // the COFF executable
  std::string listing;             // with LinkOptions::listing: address, bytes, source line

  // The linked layout, for tests and tools.
  uint32_t entry = 0;
  uint32_t text_address = 0, data_address = 0, bss_address = 0, absd_address = 0;
  std::vector<uint8_t> text, data;
  uint32_t bss_size = 0, absd_size = 0;
  std::map<std::string, uint32_t> symbols;  // global and local symbol values

  bool ok() const { return errors.empty(); }
};

// Assembles each source as one module and links them in order.
Executable AssembleAndLink(const std::vector<SourceFile>& sources, const LinkOptions& options);

}  // namespace korvane::as
