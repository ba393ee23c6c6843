// Decoding of text words into the fast core's records.
#include "core/decode.h"
#include "core/decoded.h"
#include "core/handlers.h"
#include "core/processor.h"

namespace korvane {

namespace {

constexpr uint32_t kOpcodeMovl = 0x5DC, kOpcodeMovt = 0x5EC, kOpcodeMovq = 0x5FC,
                   kOpcodeEmul = 0x670;

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

// The REG handlers with word operands, by opcode; kFastGeneric for the rest.
FastOp RegOp(uint32_t opcode) {
  switch (opcode) {
    case 0x580:
      return kFastNotbit;
    case 0x581:
      return kFastAnd;
    case 0x582:
      return kFastAndnot;
    case 0x583:
      return kFastSetbit;
    case 0x584:
      return kFastNotand;
    case 0x586:
      return kFastXor;
    case 0x587:
      return kFastOr;
    case 0x588:
      return kFastNor;
    case 0x589:
      return kFastXnor;
    case 0x58A:
      return kFastNot;
    case 0x58B:
      return kFastOrnot;
    case 0x58C:
      return kFastClrbit;
    case 0x58D:
      return kFastNotor;
    case 0x58E:
      return kFastNand;
    case 0x58F:
      return kFastAlterbit;
    case 0x590:
      return kFastAddo;
    case 0x591:
      return kFastAddi;
    case 0x592:
    case 0x593:
      return kFastSub;
    case 0x598:
      return kFastShro;
    case 0x59B:
      return kFastShri;
    case 0x59C:
    case 0x59E:
      return kFastShlo;
    case 0x5A0:
      return kFastCmpo;
    case 0x5A1:
      return kFastCmpi;
    case 0x5A4:
      return kFastCmpinco;
    case 0x5A6:
      return kFastCmpdeco;
    case 0x5AE:
      return kFastChkbit;
    case 0x5CC:
      return kFastMov;
    case 0x701:
    case 0x741:
      return kFastMul;
    case 0x708:
      return kFastRemo;
    case 0x70B:
      return kFastDivo;
    case 0x748:
      return kFastRemi;
    case 0x74B:
      return kFastDivi;
    default:
      return kFastGeneric;
  }
}

FastOp MemOp(uint32_t opcode, uint8_t& count) {
  switch (opcode) {
    case 0x080:
      return kFastLdob;
    case 0x082:
    case 0x0C2:
      return kFastStob;
    case 0x088:
      return kFastLdos;
    case 0x08A:
    case 0x0CA:
      return kFastStos;
    case 0x08C:
      return kFastLda;
    case 0x086:
      return kFastCallx;
    case 0x090:
      return kFastLd;
    case 0x092:
      return kFastSt;
    case 0x0C0:
      return kFastLdib;
    case 0x0C8:
      return kFastLdis;
    case 0x098:
      count = 2;
      return kFastLdGroup;
    case 0x0A0:
      count = 3;
      return kFastLdGroup;
    case 0x0B0:
      count = 4;
      return kFastLdGroup;
    case 0x09A:
      count = 2;
      return kFastStGroup;
    case 0x0A2:
      count = 3;
      return kFastStGroup;
    case 0x0B2:
      count = 4;
      return kFastStGroup;
    default:
      return kFastGeneric;
  }
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
void DecodeWide(const RunState& run, uint32_t w, uint32_t opcode, Decoded& d) {
  const uint32_t dst = (w >> 19) & 31, src1 = w & 31, src2 = (w >> 14) & 31;
  const bool literal = w & kM1;
  if (opcode == kOpcodeEmul) {
    if (!run.full_set || (dst & 1) != 0) return;
    d.op = kFastEmul;
    d.src2 = Source(src2, w & kM2);
  } else {
    const unsigned count = EntryOf(run, opcode).size / 4;
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
  if (opcode == kOpcodeMovl || opcode == kOpcodeMovt || opcode == kOpcodeMovq ||
      opcode == kOpcodeEmul)
    return DecodeWide(run, w, opcode, d);
  if (EntryOf(run, opcode).size != 4) return;
  FastOp op = RegOp(opcode);
  if (op == kFastGeneric) return;
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

void DecodeMemForm(uint64_t raw, uint32_t opcode, Decoded& d) {
  const uint32_t w = static_cast<uint32_t>(raw);
  uint8_t count = 0;
  const FastOp op = MemOp(opcode, count);
  if (op == kFastGeneric) return;
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
      DecodeMemForm(raw, opcode, d);
      break;
    default:
      break;
  }
  // Two register forms in a row run as one pair record (the second word alone decodes with a
  // zero word after it, so it is never a pair itself).
  const FastOp first = PairOf(d.op);
  if (!kFormPairs || first == kFastGeneric || d.length != 4) return;
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
