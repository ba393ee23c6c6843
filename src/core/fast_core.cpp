// The fast core: the plain run loop over decoded records with direct dispatch.
//
// Every text word gets a record (decoded.h) the first time it runs; a record whose text bytes
// have changed since is decoded again at dispatch. Handlers jump straight to the next
// instruction's handler (computed goto). The state the rest of the system sees between
// instructions - cpu.ip, cpu.length, cpu.instr_word, cpu.icount, cpu.frame - lives in locals
// and is written back before anything else may look at it: the generic path (forms without a
// handler of their own, services, faults), calls and returns, and the check points.
#include "core/fast_core.h"

#include <cstring>
#include <memory>

#include "core/calls.h"
#include "core/decode.h"
#include "core/decoded.h"
#include "core/handlers.h"
#include "core/loop_control.h"
#include "core/processor.h"

namespace korvane {

namespace {

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline uint32_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline void Store16(uint8_t* p, uint32_t v) {
  const uint16_t h = static_cast<uint16_t>(v);
  std::memcpy(p, &h, 2);
}

// A region as the fast loads and stores see it: storage-less regions have size 0.
struct DataRegion {
  uint32_t base = 1;
  uint32_t size = 0;
  uint8_t* host = nullptr;
};

// The regions of the memory map for the fast loads and stores. `exact` is what the common case
// of TranslateAddress finds through the bucket table. `hint` holds the regions that overlap no
// other region: an address inside one of them belongs to it whatever the bucket says, so a
// record may try the region its last access went to first.
struct DataRegions {
  DataRegion exact[kRegionSlots + 1];
  DataRegion hint[kRegionSlots + 1];

  explicit DataRegions(const MemoryMap& mem) {
    for (int n = 1; n <= kRegionSlots; ++n) {
      const MemRegion& r = mem.regions[n];
      if (!r.host) continue;
      exact[n] = DataRegion{r.base, r.size, r.host};
      bool alone = true;
      for (int m = 1; m <= kRegionSlots; ++m) {
        const MemRegion& o = mem.regions[m];
        if (m == n || !o.defined || o.size == 0) continue;
        const uint64_t rb = r.base, re = rb + r.size, ob = o.base, oe = ob + o.size;
        if (rb < oe && ob < re) alone = false;
        // A region over the top of the address space continues at 0.
        if (re > (uint64_t{1} << 32) || oe > (uint64_t{1} << 32)) alone = false;
      }
      if (alone) hint[n] = exact[n];
    }
  }
};

// Host location of the n bytes at ea when they all lie in the storage of one region as
// TranslateAddress finds it, else null: the access then takes the generic path, which knows
// display routing, bounded accesses and unmapped addresses.
inline uint8_t* FindStorage(const DataRegions& regions, const MemoryMap& mem, Decoded& d,
                            uint32_t ea, uint32_t n) {
  const DataRegion& h = regions.hint[d.region];
  if (__builtin_expect(uint64_t{ea - h.base} + n <= h.size, 1)) return h.host + (ea - h.base);
  const uint8_t b = mem.buckets[BucketOf(ea)];
  const DataRegion& r = regions.exact[b];
  if (uint64_t{ea - r.base} + n <= r.size) {
    d.region = b;
    return r.host + (ea - r.base);
  }
  // A region that overlaps no other holds the address whichever region owns the bucket.
  for (uint8_t m = 1; m <= kRegionSlots; ++m) {
    const DataRegion& o = regions.hint[m];
    if (uint64_t{ea - o.base} + n <= o.size) {
      d.region = m;
      return o.host + (ea - o.base);
    }
  }
  return nullptr;
}

// FindStorage, except for accesses that touch the 64 bytes of the frame whose registers the
// fast core keeps in its register file: those take the generic path as well.
inline uint8_t* Direct(const DataRegions& regions, const MemoryMap& mem, const uint8_t* frame,
                       Decoded& d, uint32_t ea, uint32_t n) {
  uint8_t* p = FindStorage(regions, mem, d, ea, n);
  const uintptr_t from_frame = reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(frame);
  if (from_frame + (n - 1) < kFrameBytes + (n - 1)) return nullptr;
  return p;
}

// Whether the record at text offset pos is a branch whose taken target lies outside the text
// (records stand only for offsets that are multiples of 4, and displacements are too). The
// branch of a fused compare and branch is the record's second word.
inline bool BranchTargetOutside(const Decoded& d, uint32_t pos, uint32_t text_size) {
  uint32_t from = pos;
  switch (d.op) {
    case kFastCmpoThenBranch:
    case kFastCmpiThenBranch:
      from += 4;
      break;
    case kFastCmpoBranch:
    case kFastCmpiBranch:
    case kFastBbc:
    case kFastBbs:
    case kFastB:
    case kFastBranchIf:
      break;
    default:
      return false;
  }
  return from + d.imm >= text_size;
}

// Comparisons without branches.
inline uint32_t Ordinal(uint32_t a, uint32_t b) {
  return kCcLess * (a < b) + kCcEqual * (a == b) + kCcGreater * (a > b);
}
inline uint32_t Integer(uint32_t a, uint32_t b) {
  const int32_t x = static_cast<int32_t>(a), y = static_cast<int32_t>(b);
  return kCcLess * (x < y) + kCcEqual * (x == y) + kCcGreater * (x > y);
}

}  // namespace

void FastLoop(Processor& emu, uint32_t& count_ref, uint32_t& check_point) {
  CpuState& cpu = emu.cpu;
  RunState& run = emu.run;
  MemoryMap& mem = emu.mem;
  HostControl& control = run.control;
  const OpcodeEntry* const table = OpcodeTable();

  const void* labels[kFastOpCount];
  for (const void*& l : labels) l = &&generic;
  labels[kFastAddReg] = &&add_reg;
  labels[kFastAddLit] = &&add_lit;
  labels[kFastAddo] = &&addo;
  labels[kFastAddi] = &&addi;
  labels[kFastSub] = &&sub;
  labels[kFastMul] = &&mul;
  labels[kFastAnd] = &&op_and;
  labels[kFastAndnot] = &&op_andnot;
  labels[kFastNotand] = &&op_notand;
  labels[kFastXor] = &&op_xor;
  labels[kFastOr] = &&op_or;
  labels[kFastNor] = &&op_nor;
  labels[kFastXnor] = &&op_xnor;
  labels[kFastNot] = &&op_not;
  labels[kFastOrnot] = &&op_ornot;
  labels[kFastNotor] = &&op_notor;
  labels[kFastNand] = &&op_nand;
  labels[kFastSetbit] = &&setbit;
  labels[kFastClrbit] = &&clrbit;
  labels[kFastNotbit] = &&notbit;
  labels[kFastAlterbit] = &&alterbit;
  labels[kFastChkbit] = &&chkbit;
  labels[kFastShlo] = &&shlo;
  labels[kFastShro] = &&shro;
  labels[kFastShri] = &&shri;
  labels[kFastMov] = &&mov;
  labels[kFastCmpo] = &&cmpo;
  labels[kFastCmpi] = &&cmpi;
  labels[kFastCmpinco] = &&cmpinco;
  labels[kFastCmpdeco] = &&cmpdeco;
  labels[kFastDivo] = &&divo;
  labels[kFastRemo] = &&remo;
  labels[kFastDivi] = &&divi;
  labels[kFastRemi] = &&remi;
  labels[kFastCmpoThenBranch] = &&cmpo_then_branch;
  labels[kFastCmpiThenBranch] = &&cmpi_then_branch;
  labels[kFastTest] = &&test;
  labels[kFastCmpoBranch] = &&cmpo_branch;
  labels[kFastCmpiBranch] = &&cmpi_branch;
  labels[kFastBbc] = &&bbc;
  labels[kFastBbs] = &&bbs;
  labels[kFastB] = &&b;
  labels[kFastBranchIf] = &&branch_if;
  labels[kFastCall] = &&call;
  labels[kFastRet] = &&ret;
  labels[kFastLda] = &&lda;
  labels[kFastLd] = &&ld;
  labels[kFastSt] = &&st;
  labels[kFastLdob] = &&ldob;
  labels[kFastLdib] = &&ldib;
  labels[kFastLdos] = &&ldos;
  labels[kFastLdis] = &&ldis;
  labels[kFastStob] = &&stob;
  labels[kFastStos] = &&stos;
  labels[kFastLdaBase] = &&lda_base;
  labels[kFastLdBase] = &&ld_base;
  labels[kFastStBase] = &&st_base;
  labels[kFastLdobBase] = &&ldob_base;
  labels[kFastLdibBase] = &&ldib_base;
  labels[kFastLdosBase] = &&ldos_base;
  labels[kFastLdisBase] = &&ldis_base;
  labels[kFastStobBase] = &&stob_base;
  labels[kFastStosBase] = &&stos_base;
  labels[kFastLdGroup] = &&ld_group;
  labels[kFastStGroup] = &&st_group;
#define PAIR_LABELS(name, counter, value)  \
  labels[kFastPair##name] = &&pair_##name; \
  second_labels[kFast##name] = &&second_##name;
  const void* second_labels[kFastOpCount] = {};
  KORVANE_FAST_PAIR_OPS(PAIR_LABELS)
  KORVANE_FAST_PAIR_LOADS(PAIR_LABELS)
  KORVANE_FAST_PAIR_STORES(PAIR_LABELS)
#undef PAIR_LABELS

  // Regions never change once the loop runs, so the text window is cached. Records exist for
  // the words whose 8 bytes lie inside the text; the last word runs on the generic path.
  const MemRegion& text = mem.regions[kRegionText];
  const uint8_t* const text_host = text.host;
  const uint32_t text_base = text.base;
  const uint64_t text_size = text_host ? text.size : 0;
  const size_t record_count = text_size / 4 + 1;
  // A record stands for the 8 text bytes from its word on (a change to the word after a short
  // instruction decodes it again, to the same result). A fresh record is a generic one for the
  // bytes 0: it runs whatever is there.
  std::unique_ptr<Decoded[]> records(new Decoded[record_count]);
  for (size_t i = 0; i < record_count; ++i) records[i].fn = &&generic;
  Decoded* const recs = records.get();
  // The record of an instruction outside the records (the text's last word): always generic.
  Decoded outside;
  outside.fn = &&generic;
  outside.raw = cpu.instr_word;
  // The record of the branch of a fused compare and branch while it runs: always generic.
  Decoded branch;
  branch.fn = &&generic;

  const DataRegions regions(mem);
  // The register file: while the loop runs, the current frame's local registers and the globals
  // are kept here, followed by the literals 0-31, so every operand is read and written at a fixed
  // offset from one base. They are written back whenever other code may look at them (SYNC),
  // and loads and stores that touch the current frame's 64 bytes take the generic path.
  uint32_t file[16 + 16 + 32];
  uint8_t* const file_bytes = reinterpret_cast<uint8_t*>(file);
  uint8_t* frame = nullptr;  // host location of the frame whose registers are in the file
  for (uint32_t n = 0; n < 32; ++n) file[32 + n] = n;
  auto load_registers = [&] {
    frame = cpu.frame;
    if (frame) std::memcpy(file, frame, kFrameBytes);  // no frame before the loader made one
    std::memcpy(file + 16, cpu.g, sizeof cpu.g);
  };
  auto store_registers = [&] {
    if (frame) std::memcpy(frame, file, kFrameBytes);
    std::memcpy(cpu.g, file + 16, sizeof cpu.g);
  };
  load_registers();

  Decoded* rec = &outside;  // the instruction running, or the last one run
  // The instruction's place as an offset into the text (ip = text_base + pos), and its length.
  uint32_t pos = cpu.ip - text_base;
  uint32_t len = cpu.length;
  // Records are indexed by pos rotated right by 2: a pos that is not a multiple of 4 gives an
  // index beyond the last, so one comparison sends it and the text's end to the generic path.
  const int64_t last_index = text_size >= 8 ? static_cast<int64_t>((text_size - 8) / 4) : -1;
  uint32_t count = count_ref;
  // The one per-instruction test: a countdown to the next check point. It is brought forward
  // to the next instruction when the attention flag is up; the flag is looked at after every
  // instruction that leaves the straight line (taken branches, calls, returns, the generic path,
  // which runs the services that ask for an exit) and after check points.
  uint32_t left = check_point - count;
  uint32_t countdown_end = check_point;  // count = countdown_end - left
  uint32_t index = 0;
  uint32_t a = 0, v = 0, ea = 0;
  uint8_t* p = nullptr;
  Decoded* next = nullptr;
  Decoded* pair = nullptr;  // a pair record while its second half runs
  uint32_t value = 0;
  uint64_t word = 0;

#define GET(o) Load32(file_bytes + (o).offset)
#define PUT(o, value) Store32(file_bytes + (o).offset, (value))
#define SRC1 GET(rec->src1)
#define SRC2 GET(rec->src2)
// Every handler ends with its own copy of the dispatch, so each has its own indirect jump.
#define DISPATCH_AFTER_TEST()                                                   \
  do {                                                                          \
    pos += len;                                                                 \
    index = (pos >> 2) | (pos << 30);                                           \
    if (__builtin_expect(int64_t{index} > last_index, 0)) goto outside_records; \
    next = recs + index;                                                        \
    std::memcpy(&word, text_host + pos, 8);                                     \
    if (__builtin_expect(word != next->raw, 0)) goto redecode;                  \
    rec = next;                                                                 \
    len = next->length;                                                         \
    goto * next->fn;                                                            \
  } while (0)
#define NEXT                                          \
  do {                                                \
    if (__builtin_expect(--left == 0, 0)) goto event; \
    DISPATCH_AFTER_TEST();                            \
  } while (0)
// After an instruction that left the straight line: the attention flag as well.
#define NEXT_AND_POLL                                                         \
  do {                                                                        \
    if (__builtin_expect((--left == 0) | control.attention(), 0)) goto event; \
    DISPATCH_AFTER_TEST();                                                    \
  } while (0)
#define ALU(expr)        \
  PUT(rec->dst, (expr)); \
  NEXT
  // What the generic loop keeps in cpu between instructions, for code outside the fast core.
#define SYNC()                                        \
  do {                                                \
    count = countdown_end - left;                     \
    cpu.ip = text_base + pos;                         \
    cpu.instr_word = static_cast<uint32_t>(rec->raw); \
    cpu.icount = static_cast<int32_t>(count);         \
    store_registers();                                \
  } while (0)
#define RELOAD()              \
  do {                        \
    pos = cpu.ip - text_base; \
    len = cpu.length;         \
    load_registers();         \
  } while (0)
#define EFFECTIVE_ADDRESS() (SRC1 + (SRC2 << rec->aux) + rec->imm)
#define BASE_ADDRESS() (SRC1 + rec->imm)
  // A taken branch. Its target is a multiple of 4 inside the text: a record whose target lies
  // elsewhere is made generic when it is decoded (see redecode), and faults there when taken.
#define JUMP(displacement) \
  do {                     \
    pos += (displacement); \
    len = 0;               \
    NEXT_AND_POLL;         \
  } while (0)
  // Brings the countdown's end forward to the next instruction when the flag is up.
#define POLL_BEFORE_START()                     \
  do {                                          \
    if (control.attention() && left != 1) {     \
      countdown_end = countdown_end - left + 1; \
      left = 1;                                 \
    }                                           \
  } while (0)

  POLL_BEFORE_START();
  goto dispatch;

dispatch:
  DISPATCH_AFTER_TEST();

redecode:
  DecodeRecord(run, word, *next);
  // The word's place is known here: a branch whose target is not inside the text (E_GOTO when
  // taken) runs on the generic path, so the handlers jump without looking.
  if (BranchTargetOutside(*next, pos, text.size)) next->op = kFastGeneric;
  next->fn = labels[next->op];
  rec = next;
  len = next->length;
  goto * next->fn;

outside_records:
  SYNC();
  cpu.length = len;
  outside.raw =
      uint64_t{pos} + 4 <= text_size ? Load32(text_host + pos) : FetchTextSlow(emu, cpu.ip);
  rec = &outside;
  goto generic;

generic:
  SYNC();
  cpu.length = 4;
  ExecuteWord(emu, table, static_cast<uint32_t>(rec->raw));
  RELOAD();
  NEXT_AND_POLL;

event:
  SYNC();
  cpu.length = len;
  if (LoopEvent(emu, count, check_point)) {
    count_ref = count;
    return;
  }
  RELOAD();
  left = check_point - count;
  countdown_end = check_point;
  POLL_BEFORE_START();
  goto dispatch;

  // The handlers with operands.
#define L(name) name
#include "core/fast_handlers.inc"
#undef L

  // CTRL forms.
b:
  JUMP(rec->imm);
  NEXT;
branch_if:
  if (cpu.cc > 7) goto generic;
  if ((rec->aux >> cpu.cc) & 1) JUMP(rec->imm);
  NEXT;
  // call and ret run their own handlers (frames, the intercept check) with the slots they read.
#define CONTROL_TRANSFER(opcode_value, handler) \
  SYNC();                                       \
  cpu.length = 4;                               \
  cpu.opcode = opcode_value;                    \
  cpu.opsize = 4;                               \
  cpu.ea = rec->imm;                            \
  handler(emu);                                 \
  RELOAD();                                     \
  NEXT_AND_POLL
call:
  CONTROL_TRANSFER(0x09, Op_call);
ret:
  CONTROL_TRANSFER(0x0A, Op_ret);
#undef CONTROL_TRANSFER

  // Pairs. The first half counts as an instruction of its own (a check point may fall between
  // the two); the second half then runs as the instruction `branch`, whose word is the second
  // half of raw.
#define PAIR_HANDLERS(name, counter, value)                                     \
  pair_##name : {                                                               \
    [[maybe_unused]] const uint32_t s1 = SRC1, s2 = SRC2;                       \
    counter;                                                                    \
    PUT(rec->dst, (value));                                                     \
    if (__builtin_expect(--left == 0, 0)) goto event;                           \
    pos += 4;                                                                   \
    goto* second_labels[rec->op2];                                              \
  }                                                                             \
  second_##name : {                                                             \
    [[maybe_unused]] const uint32_t s1 = GET(rec->src1b), s2 = GET(rec->src2b); \
    counter;                                                                    \
    PUT(rec->dst2, (value));                                                    \
    branch.raw = rec->raw >> 32;                                                \
    rec = &branch;                                                              \
    NEXT;                                                                       \
  }
  KORVANE_FAST_PAIR_OPS(PAIR_HANDLERS)
#undef PAIR_HANDLERS
  // Load and store halves: an access the fast path cannot make runs its word on the generic path
  // (rec is then the pair for the first half, `branch` for the second).
#define PAIR_SECOND_HALF()                          \
  if (__builtin_expect(--left == 0, 0)) goto event; \
  pos += 4;                                         \
  goto* second_labels[rec->op2]
#define PAIR_LOADS(name, bytes, loaded)                                   \
  pair_##name : ea = BASE_ADDRESS();                                      \
  if (!(p = Direct(regions, mem, frame, *rec, ea, bytes))) goto generic;  \
  PUT(rec->dst, (loaded));                                                \
  PAIR_SECOND_HALF();                                                     \
  second_##name : pair = rec;                                             \
  branch.raw = pair->raw >> 32;                                           \
  rec = &branch;                                                          \
  ea = GET(pair->src1b) + pair->imm;                                      \
  if (!(p = Direct(regions, mem, frame, *pair, ea, bytes))) goto generic; \
  PUT(pair->dst2, (loaded));                                              \
  NEXT;
#define PAIR_STORES(name, bytes, store)                                           \
  pair_##name : ea = BASE_ADDRESS();                                              \
  if (!(p = Direct(regions, mem, frame, *rec, ea, bytes))) goto generic;          \
  value = GET(rec->dst);                                                          \
  store;                                                                          \
  /* a store into the second word: that word runs from its own record */          \
  if (Load32(text_host + pos + 4) != static_cast<uint32_t>(rec->raw >> 32)) NEXT; \
  PAIR_SECOND_HALF();                                                             \
  second_##name : pair = rec;                                                     \
  branch.raw = pair->raw >> 32;                                                   \
  rec = &branch;                                                                  \
  ea = GET(pair->src1b) + pair->imm;                                              \
  if (!(p = Direct(regions, mem, frame, *pair, ea, bytes))) goto generic;         \
  value = GET(pair->dst2);                                                        \
  store;                                                                          \
  NEXT;
  KORVANE_FAST_PAIR_LOADS(PAIR_LOADS)
  KORVANE_FAST_PAIR_STORES(PAIR_STORES)
#undef PAIR_LOADS
#undef PAIR_STORES
#undef PAIR_SECOND_HALF

  // Groups: words in ascending order, each register read or written right after its word.
ld_group:
  ea = EFFECTIVE_ADDRESS();
  if (!(p = Direct(regions, mem, frame, *rec, ea, 4u * rec->count))) goto generic;
  for (unsigned k = 0; k < rec->count; ++k)
    Store32(file_bytes + rec->dst.offset + 4 * k, Load32(p + 4 * k));
  NEXT;
st_group:
  ea = EFFECTIVE_ADDRESS();
  if (!(p = Direct(regions, mem, frame, *rec, ea, 4u * rec->count))) goto generic;
  for (unsigned k = 0; k < rec->count; ++k)
    Store32(p + 4 * k, Load32(file_bytes + rec->dst.offset + 4 * k));
  NEXT;

#undef GET
#undef PUT
#undef SRC1
#undef SRC2
#undef NEXT
#undef NEXT_AND_POLL
#undef POLL_BEFORE_START
#undef DISPATCH_AFTER_TEST
#undef ALU
#undef SYNC
#undef RELOAD
#undef EFFECTIVE_ADDRESS
#undef BASE_ADDRESS
#undef JUMP
}

}  // namespace korvane
