// korvane-as: assemble and link i960 sources into a firmware executable, or disassemble one.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "as/assembler.h"
#include "as/coff.h"
#include "core/disassembler.h"

namespace {

constexpr const char* kUsage =
    "Usage: korvane-as [-o OUT] [-g] [--text ADDR] [--absd ADDR] [--entry SYMBOL] [--listing] "
    "FILE.s "
    "...\n"
    "  or:  korvane-as --disassemble FILE.out\n"
    "\n"
    "Assembles i960 sources in GNU assembler syntax, each as one module, and links them in order\n"
    "into a COFF executable (default a.out).\n"
    "  -o OUT           write the executable to OUT\n"
    "  -g               write line numbers (each instruction's source line) and the procedures'\n"
    "                   debugging symbols; sources with .ln directives get theirs always\n"
    "  --text ADDR      text start (default 0x10000); data and bss follow the text\n"
    "  --absd ADDR      start of the absolute-data area .absd (default 0x200000)\n"
    "  --entry SYMBOL   entry point (default _start; without it, the text start)\n"
    "  --listing        print address, bytes and source line of every statement\n"
    "  --disassemble    print the text section of an executable, one instruction per line\n"
    "  --help           show this text\n"
    "  --version        print the version and end\n";

constexpr size_t kMaxInputBytes = 256u << 20;

int Fail(const std::string& msg) {
  std::cerr << "korvane-as: " << msg << "\n";
  return 1;
}

bool ReadFile(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0 || static_cast<uint64_t>(size) > kMaxInputBytes) return false;
  in.seekg(0);
  out->assign(static_cast<size_t>(size), '\0');
  in.read(out->data(), size);
  return static_cast<bool>(in) || size == 0;
}

bool ParseAddress(const std::string& text, uint32_t* out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

// Writes through a temporary file and renames it, so that a failed write never leaves a
// partial executable under the output name.
bool WriteOutput(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::string tmp = path + ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::remove(tmp.c_str());
      return false;
    }
  }
  chmod(tmp.c_str(), 0755);
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

int Disassemble(const std::string& path) {
  std::string raw;
  if (!ReadFile(path, &raw)) return Fail("cannot read " + path);
  std::vector<uint8_t> file(raw.begin(), raw.end());
  korvane::as::CoffFile coff;
  std::string error;
  if (!korvane::as::ReadCoff(file, &coff, &error)) return Fail(path + ": " + error);
  std::vector<uint8_t> text = coff.SectionData(file, 0);
  if (text.empty() && coff.sections[0].size != 0)
    return Fail(path + ": text section outside the file");

  // Annotate targets with the nearest symbol at or below them.
  std::vector<std::pair<uint32_t, std::string>> symbols;
  for (const korvane::as::CoffSymbol& s : coff.symbols) {
    if (s.section <= 0 || s.name.empty() || s.name == ".file") continue;
    if (s.storage_class != korvane::as::kClassExternal &&
        s.storage_class != korvane::as::kClassLabel && s.storage_class != korvane::as::kClassStatic)
      continue;
    symbols.emplace_back(s.value, s.name);
  }
  std::stable_sort(symbols.begin(), symbols.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  auto namer = [&symbols](uint32_t addr) -> std::string {
    auto it = std::upper_bound(symbols.begin(), symbols.end(), addr,
                               [](uint32_t a, const auto& s) { return a < s.first; });
    if (it == symbols.begin()) return "";
    --it;
    // Prefer a non-section symbol at the same address.
    auto best = it;
    while (best != symbols.begin() && std::prev(best)->first == it->first && best->second[0] == '.')
      --best;
    uint32_t off = addr - best->first;
    char buf[32];
    std::snprintf(buf, sizeof buf, "+0x%x", off);
    return "<" + best->second + (off ? buf : "") + ">";
  };
  std::cout << korvane::DisassembleText(text.data(), text.size(), coff.sections[0].vaddr, namer);
  return 0;
}

int Main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  korvane::as::LinkOptions options;
  std::string output = "a.out";
  std::vector<std::string> inputs;
  std::string disassemble;
  bool want_disassemble = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--version") {
      std::cout << "korvane-as " << KORVANE_VERSION << "\n";
      return 0;
    } else if (a == "-o") {
      if (!value(&output) || output.empty()) return Fail("-o needs a file name");
    } else if (a == "--text" || a == "--absd") {
      uint32_t addr;
      if (!value(&v) || !ParseAddress(v, &addr))
        return Fail(a + " needs an address (like 0x10000)");
      (a == "--text" ? options.text_address : options.absd_address) = addr;
    } else if (a == "--entry") {
      if (!value(&options.entry) || options.entry.empty())
        return Fail("--entry needs a symbol name");
    } else if (a == "-g") {
      options.line_numbers = true;
    } else if (a == "--listing") {
      options.listing = true;
    } else if (a == "--disassemble") {
      want_disassemble = true;
      if (!value(&disassemble)) return Fail("--disassemble needs a file name");
    } else if (!a.empty() && a[0] == '-') {
      std::cerr << "korvane-as: unknown option " << a << "\n" << kUsage;
      return 2;
    } else {
      inputs.push_back(a);
    }
  }
  if (want_disassemble) {
    if (!inputs.empty()) return Fail("--disassemble takes one executable and no sources");
    return Disassemble(disassemble);
  }
  if (inputs.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  std::vector<korvane::as::SourceFile> sources;
  for (const std::string& path : inputs) {
    korvane::as::SourceFile src;
    src.name = path;
    if (!ReadFile(path, &src.text)) return Fail("cannot read " + path);
    sources.push_back(std::move(src));
  }
  korvane::as::Executable exe = korvane::as::AssembleAndLink(sources, options);
  if (!exe.ok()) {
    for (const auto& d : exe.errors) {
      if (d.file.empty())
        std::cerr << "korvane-as: " << d.message << "\n";
      else
        std::cerr << d.ToString() << "\n";
    }
    return 1;
  }
  if (options.listing) std::cout << exe.listing;
  if (!WriteOutput(output, exe.file)) return Fail("cannot write " + output);
  return 0;
}

}  // namespace

// A source too large for the host's memory ends with a message, like any other bad input,
// rather than an abort; the output is only ever written at the very end, so none is left.
int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
