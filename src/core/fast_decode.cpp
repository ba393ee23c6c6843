// Decoding of text words into the fast core's records.
#include "core/decode.h"
#include "core/decoded.h"
#include "core/handlers.h"
#include "core/processor.h"

namespace korvane {

namespace {

// Bit c is set when a branch with this mask is taken at condition code c (0-7).
uint8_t ConditionsTable(uint32_t mask) {
  uint8_t t = 0;
  for (uint32_t c = 0; c < 8; ++c)
    if (mask == 0 ? c == kCcNone : (mask & c) != 0) t = static_cast<uint8_t>(t | 1u << c);
  return t;
}

Operand Reg(uint32_t n) {
  return n < 16 ? Operand{static_cast<uint8_t>(4 * n)}
                : Operand{static_cast<uint8_t>(kGlobalsBase + 4 * (n - 16))};
}

Operand Source(uint32_t field, bool literal) {
  return literal ? Operand{static_cast<uint8_t>(kLiteralBase + 4 * field)} : Reg(field);
}

// The handler the table gives the opcode, so a record never runs anything else.
const OpcodeEntry& EntryOf(const RunState& run, uint32_t opcode) {
  return OpcodeTable()[run.opcode_index[opcode]];
}

// cmpo or cmpi followed by a conditional branch other than bno runs as one record, which
// covers both words.
void FuseBranch(uint64_t raw, Decoded& d) {
  const uint32_t next = static_cast<uint32_t>(raw >> 32);
  const uint32_t op = next >> 24;
  if (op < 0x11 || op > 0x17) return;
  d.op = d.op == kFastCmpo ? kFastCmpoThenBranch : kFastCmpiThenBranch;
  d.aux = static_cast<uint8_t>(op & 7);
  d.imm = Sext(next & 0xFFFFFC, 24);
}

// movl, movt and movq (the word count from the table's operand size) between register groups
// that fit, and emul into an even pair when the full instruction set runs; other operands
// fault on the generic path.
void DecodeWide(const RunState& run, uint32_t w, const OpcodeEntry& entry, Decoded& d) {
  const uint32_t dst = (w >> 19) & 31, src1 = w & 31, src2 = (w >> 14) & 31;
  const bool literal = w & kM1;
  if (entry.fast == kFastEmul) {
    if (!run.full_set || (dst & 1) != 0) return;
    d.op = kFastEmul;
    d.src2 = Source(src2, w & kM2);
  } else {
    const unsigned count = entry.size / 4;
    if ((w & kM2) || !RegGroupFits(dst, count) || (!literal && !RegGroupFits(src1, count))) return;
    d.op = kFastMovGroup;
    d.count = static_cast<uint8_t>(count);
    d.aux = literal;
  }
  d.src1 = Source(src1, literal);
  d.dst = Reg(dst);
}

void DecodeReg(const RunState& run, uint64_t raw, uint32_t opcode, Decoded& d) {
  const uint32_t w = static_cast<uint32_t>(raw);
  if (w & (kS1 | kS2)) return;  // special operands fault on the generic path
  const OpcodeEntry& entry = EntryOf(run, opcode);
  uint8_t op = entry.fast;
  if (op == kFastMovGroup || op == kFastEmul) return DecodeWide(run, w, entry, d);
  if (op == kFastGeneric || entry.size != 4) return;
  const uint32_t fast = w & 0xFF843F70;  // the add fast paths of the generic loop
  if (fast == 0x59000000) op = kFastAddReg;
  if (fast == 0x59000800) op = kFastAddLit;
  d.op = op;
  if (op == kFastCmpo || op == kFastCmpi) FuseBranch(raw, d);
  d.src1 = Source(w & 31, w & kM1);
  d.src2 = Source((w >> 14) & 31, w & kM2);
  d.dst = Reg((w >> 19) & 31);
}

void DecodeCobr(uint32_t w, uint32_t opcode, Decoded& d) {
  if (w & 1) return;  // S2: an operand fault on the generic path
  d.imm = Sext(w & 0x1FFC, 13);
  d.aux = static_cast<uint8_t>(opcode & 7);
  if (opcode <= 0x27) {
    d.aux = ConditionsTable(opcode & 7);
    d.op = kFastTest;
    d.dst = Reg((w >> 19) & 31);
    return;
  }
  d.src1 = Source((w >> 19) & 31, w & (1u << 13));
  d.src2 = Reg((w >> 14) & 31);
  if (opcode == 0x30)
    d.op = kFastBbc;
  else if (opcode == 0x37)
    d.op = kFastBbs;
  else
    d.op = opcode < 0x38 ? kFastCmpoBranch : kFastCmpiBranch;
}

void DecodeCtrl(uint32_t w, uint32_t opcode, Decoded& d) {
  d.imm = Sext(w & 0xFFFFFC, 24);
  d.aux = static_cast<uint8_t>(opcode & 7);
  if (opcode == 0x08) d.op = kFastB;
  if (opcode == 0x09) d.op = kFastCall;
  if (opcode == 0x0A) d.op = kFastRet;
  if (opcode >= 0x10 && opcode <= 0x17) {
    d.op = kFastBranchIf;
    d.aux = ConditionsTable(opcode & 7);
  }
}

void DecodeMemForm(const RunState& run, uint64_t raw, uint32_t opcode, Decoded& d) {
  const uint32_t w = static_cast<uint32_t>(raw);
  const OpcodeEntry& entry = EntryOf(run, opcode);
  const uint8_t op = entry.fast;
  if (op == kFastGeneric) return;
  // A group load or store moves the table's operand size in words.
  const uint8_t count =
      op == kFastLdGroup || op == kFastStGroup ? static_cast<uint8_t>(entry.size / 4) : 0;
  const uint32_t dst = (w >> 19) & 31;
  if (count != 0 && !RegGroupFits(dst, count)) return;  // an operand fault
  const uint32_t mode = (w >> 10) & 0xF;
  const Operand abase = Reg((w >> 14) & 31);
  const Operand index = Reg(w & 31);
  const uint32_t disp = static_cast<uint32_t>(raw >> 32);
  uint8_t scale = 0;
  for (uint32_t s = kScale[(w >> 7) & 7]; s > 1; s >>= 1) ++scale;
  d.imm = 0;
  switch (mode) {
    case 0:
    case 1:
    case 2:
    case 3:
      d.imm = w & 0xFFF;
      break;
    case 4:
      d.src1 = abase;
      break;
    case 7:
      d.src1 = abase;
      d.src2 = index;
      break;
    case 8:
    case 9:
    case 10:
    case 11:
      d.src1 = abase;
      d.imm = w & 0xFFF;
      break;
    case 12:
      d.imm = disp;
      break;
    case 13:
      d.src1 = abase;
      d.imm = disp;
      break;
    case 14:
      d.src2 = index;
      d.imm = disp;
      break;
    case 15:
      d.src1 = abase;
      d.src2 = index;
      d.imm = disp;
      break;
    default:
      return;  // 5 (relative to ip) runs on the generic path; 6 is reserved and faults there
  }
  if (mode >= 12) d.length = 8;
  d.aux = scale;
  d.count = count;
  d.dst = Reg(dst);
  d.op = op;
  const bool indexed = mode == 7 || mode == 14 || mode == 15;
  if (!indexed && op >= kFastLda && op <= kFastStos)
    d.op = static_cast<uint8_t>(op - kFastLda + kFastLdaBase);
}

// Whether a single form is a load or store (the two halves of a pair share imm and region, so
// at most one of them may be).
bool IsMemoryForm(uint8_t op) { return op >= kFastLda && op <= kFastStGroup; }

// The first half of a pair for a single form that may be one, else kFastGeneric.
FastOp PairOf(uint8_t op) {
  switch (op) {
#define KORVANE_PAIR_CASE(name, x, y) \
  case kFast##name:                   \
    return kFastPair##name;
    KORVANE_FAST_PAIR_OPS(KORVANE_PAIR_CASE)
    KORVANE_FAST_PAIR_LOADS(KORVANE_PAIR_CASE)
    KORVANE_FAST_PAIR_STORES(KORVANE_PAIR_CASE)
#undef KORVANE_PAIR_CASE
    default:
      return kFastGeneric;
  }
}

}  // namespace

void DecodeRecord(const RunState& run, uint64_t raw, Decoded& d) {
  const void* fn = d.fn;
  d = Decoded{};
  d.fn = fn;
  d.raw = raw;
  const uint32_t w = static_cast<uint32_t>(raw);
  const uint32_t opcode = OpcodeOf(w);
  const DecodeInfo& info = run.decode[opcode];
  switch (info.kind) {
    case kDecodeRegSrc1Src2Dst:
    case kDecodeRegOther:
      DecodeReg(run, raw, opcode, d);
      break;
    case kDecodeCobrTest:
    case kDecodeCobrCompare:
      DecodeCobr(w, opcode, d);
      break;
    case kDecodeCtrl:
      DecodeCtrl(w, opcode, d);
      break;
    case kDecodeMem:
      DecodeMemForm(run, raw, opcode, d);
      break;
    default:
      break;
  }
  // Two register forms in a row run as one pair record (the second word alone decodes with a
  // zero word after it, so it is never a pair itself).
  const FastOp first = PairOf(d.op);
  if (!kFormPairs || !run.form_pairs || first == kFastGeneric || d.length != 4) return;
  Decoded second;
  DecodeRecord(run, raw >> 32, second);
  if (PairOf(second.op) == kFastGeneric || second.length != 4) return;
  if (IsMemoryForm(second.op)) {
    if (IsMemoryForm(d.op)) return;
    d.imm = second.imm;
  }
  d.op = first;
  d.op2 = second.op;
  d.dst2 = second.dst;
  d.src1b = second.src1;
  d.src2b = second.src2;
}

}  // namespace korvane
