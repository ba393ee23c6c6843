// Decoder set-up and the slow text fetch.
#include "core/decode.h"

namespace korvane {

namespace {

[[noreturn]] void IpOutOfRange(Processor& emu) {
  PrintStateReport(emu);
  MsgExit(emu, "IP out of range");
}

// Word of the text region at guest address a; a word that runs past the region's end reads
// zeros for the missing bytes, and an address outside the region ends the run.
}  // namespace

uint32_t FetchTextSlow(Processor& emu, uint32_t a) {
  const MemRegion& text = emu.mem.regions[kRegionText];
  uint32_t off = a - text.base;
  if (!text.host || off >= text.size) IpOutOfRange(emu);
  uint32_t w = 0;
  uint32_t n = text.size - off < 4 ? text.size - off : 4;
  std::memcpy(&w, text.host + off, n);
  return w;
}

void BuildDecodeInfo(RunState& run) {
  const OpcodeEntry* table = OpcodeTable();
  for (int op = 0; op < kOpcodeIndexSize; ++op) {
    const OpcodeEntry& e = table[run.opcode_index[op]];
    DecodeInfo& d = run.decode[op];
    d = DecodeInfo{};
    if (op == 0 || e.opcode != op || !e.handler) continue;  // undefined: E_OPCODE
    d.handler = e.handler;
    d.size = e.size;
    switch (e.format) {
      case kFormatReg:
        d.kind = (e.has_src1 && e.has_src2 && e.has_dst && e.size <= 4) ? kDecodeRegSrc1Src2Dst
                                                                        : kDecodeRegOther;
        break;
      case kFormatCobr:
        d.kind = op <= 0x27 ? kDecodeCobrTest : kDecodeCobrCompare;
        break;
      case kFormatCtrl:
        d.kind = kDecodeCtrl;
        break;
      case kFormatMem:
        d.kind = kDecodeMem;
        break;
    }
  }
}

}  // namespace korvane
