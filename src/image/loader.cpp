// The image phase: guest memory regions built from the executable, the memory file, the heap
// header, the first stack frame, the display routines and the opcode index.
#include <sys/stat.h>

#include <cstring>

#include "services/machine.h"
#include "image/memory_file.h"

namespace korvane {

namespace {

constexpr uint32_t kOnchBase = 4;
constexpr uint32_t kOnchSize = 1020;
constexpr uint32_t kSystBase = 0x1C70;
constexpr uint32_t kSystSize = 1024;
constexpr int kSystWords = 255;
constexpr uint32_t kAbsdExtra = 16;
constexpr uint32_t kHeapGap = 0x10000;
constexpr uint32_t kHeapSize = 0x80000;
constexpr uint32_t kHeapFreeTag = 0x19;
constexpr uint32_t kStackSize = 4096;
constexpr uint32_t kVmemSize = 307200;
constexpr uint32_t kVregSize = 27;
constexpr uint16_t kVmemRoutineFlag = 0xA000;  // any non-zero value marks it routine-served
// No real firmware area comes near this; a header that asks for more is malformed, and
// zero-filling gigabytes of host memory for it would only exhaust the host.
constexpr uint64_t kMaxRegionBytes = 256u << 20;

bool ColourModes(int v) { return v == 1 || v == 3; }
bool DisplayModes(int v) { return v >= 1 && v <= 4; }

void Define(Machine& emu, int n, const char* tag, uint32_t base, uint64_t size, bool allocate,
            int32_t delta = 0, int routine = 0) {
  if (allocate && size > kMaxRegionBytes) MsgExit(emu, " DefineRegion PCHeapAlloc() ");
  DefineRegion(emu, n, tag, base, static_cast<uint32_t>(size), allocate, delta, 0, routine);
}

void PutWord(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Defines TEXT or DATA and fills it with its section's raw data, read as one record.
void LoadSection(Machine& emu, int n, const char* tag, uint32_t base, uint32_t size,
                 const CoffSectionHeader& section) {
  ImageState& im = emu.image;
  // A section that the file cannot deliver is refused before its storage is obtained.
  struct stat st {};
  if (fstat(fileno(im.exe), &st) != 0 ||
      static_cast<uint64_t>(section.data_offset) + size > static_cast<uint64_t>(st.st_size)) {
    MsgExit(emu, "ReadFile");
  }
  int32_t delta = static_cast<int32_t>(section.data_offset - section.vaddr);
  Define(emu, n, tag, base, size, true, delta);
  if (fseeko(im.exe, static_cast<off_t>(section.data_offset), SEEK_SET) != 0)
    MsgExit(emu, "SeekFile");
  // One record of the full size: a zero-sized section counts as a short read too.
  if (size == 0 || std::fread(emu.mem.regions[n].host, size, 1, im.exe) != 1)
    MsgExit(emu, "ReadFile");
}

}  // namespace

bool InitEmuExec(Machine& emu) {
  ImageState& im = emu.image;
  const CoffOptionalHeader& o = im.opt_header;
  const int video = emu.opt.video;
  if (!im.exe) MsgExit(emu, "EMUEXEC: no executable open");

  emu.cpu.ip = o.entry;

  if (ColourModes(video)) {
    Define(emu, kRegionOnch, "ONCH", kOnchBase, kOnchSize, true);
    Define(emu, kRegionSyst, "SYST", kSystBase, kSystSize, true);
    // Word k holds 4 x k, so callx through the table reaches service number k.
    uint8_t* syst = emu.mem.regions[kRegionSyst].host;
    for (int k = 0; k < kSystWords; ++k) PutWord(syst + 4 * k, static_cast<uint32_t>(4 * k));
  }

  LoadSection(emu, kRegionText, "TEXT", o.text_start, o.text_size, im.sections[0]);
  LoadSection(emu, kRegionData, "DATA", o.data_start, o.data_size, im.sections[1]);
  Define(emu, kRegionBss, "BSS ", o.data_start + o.data_size, o.bss_size, true);

  const CoffSectionHeader& absd = im.sections[3];
  Define(emu, kRegionAbsd, "ABSD", absd.vaddr, static_cast<uint64_t>(absd.size) + kAbsdExtra, true);
  RestoreMemoryFile(emu);

  // One free block over the whole heap.
  Define(emu, kRegionHeap, "HEAP", absd.vaddr + absd.size + kHeapGap, kHeapSize, true);
  uint8_t* heap = emu.mem.regions[kRegionHeap].host;
  PutWord(heap, kHeapSize - 8);
  PutWord(heap + 4, kHeapFreeTag);

  // The stack ends just below the text; the first frame's r0 (previous frame) and r1 (stack
  // pointer) make a return from it well defined.
  const uint32_t stack_base = o.text_start - kStackSize;
  Define(emu, kRegionStck, "STCK", stack_base, kStackSize, true);
  emu.cpu.g[15] = stack_base;
  emu.cpu.frame = emu.mem.regions[kRegionStck].host;
  PutWord(emu.cpu.frame, stack_base - kFrameBytes);
  PutWord(emu.cpu.frame + 4, stack_base + kFrameBytes);

  DisplayInstall(emu);
  if (DisplayModes(video)) {
    const bool colour = ColourModes(video);
    Define(emu, kRegionVmem, "VMEM", colour ? 0x900A0000u : 0x030A0000u, kVmemSize, false, 0,
           kVmemRoutineFlag);
    Define(emu, kRegionVreg, "VREG", colour ? 0x800003C0u : 0x024003C0u, kVregSize, false);
  }

  if (!BuildOpcodeIndex(emu.run.opcode_index)) MsgExit(emu, "opcode table lists an opcode twice");
  std::memset(emu.mem.scratch, 0, sizeof emu.mem.scratch);

  uint32_t version = GuestRead32(emu.mem, LookupIdent(emu, "korvane_version"));
  emu.log.Printf("Project Version= %d\n", static_cast<int32_t>(version));
  return true;
}

}  // namespace korvane
