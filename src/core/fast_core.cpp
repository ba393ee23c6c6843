// The fast core: the plain run loop over decoded records with direct dispatch.
//
// Every text word gets a record (decoded.h) the first time it runs; the records of text that
// is written are checked again before the next instruction runs (see apply_text_marks). Handlers
// jump straight to the next instruction's handler (computed goto). The state the rest of the system
// sees between instructions - cpu.ip, cpu.length, cpu.instr_word, cpu.icount, cpu.frame - lives in
// locals and is written back before anything else may look at it: the generic path (forms without a
// handler of their own, services, faults), calls and returns, and the check points.
#include "core/fast_core.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "core/calls.h"
#include "core/decode.h"
#include "core/decoded.h"
#include "core/handlers.h"
#include "core/loop_control.h"
#include "core/processor.h"
#include "core/run_counts.h"

// Builds without pair records (clang) leave the pair helpers unused in the loop's instances.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wunneeded-internal-declaration"
#endif

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
  DataRegion hint[kRegionSlots + 1];
  DataRegion exact[kRegionSlots + 1];

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

struct FreeRecords {
  void operator()(Decoded* d) const { std::free(d); }
};

// A record keeps the region its last access went to as the byte offset of its slot.
constexpr uint8_t RegionMark(int slot) { return static_cast<uint8_t>(slot * sizeof(DataRegion)); }
static_assert(RegionMark(kRegionSlots) / sizeof(DataRegion) == kRegionSlots);

// Host location of the n bytes at ea when they all lie in the storage of one region as
// TranslateAddress finds it, else null: the access then takes the generic path, which knows
// display routing, bounded accesses and unmapped addresses. d.region then names that region.
inline uint8_t* FindStorage(const DataRegions& regions, const MemoryMap& mem, Decoded& d,
                            uint32_t ea, uint32_t n) {
  const DataRegion& h = *reinterpret_cast<const DataRegion*>(
      reinterpret_cast<const uint8_t*>(regions.hint) + d.region);
  if (__builtin_expect(uint64_t{ea - h.base} + n <= h.size, 1)) return h.host + (ea - h.base);
  const uint8_t b = mem.buckets[BucketOf(ea)];
  const DataRegion& r = regions.exact[b];
  if (uint64_t{ea - r.base} + n <= r.size) {
    d.region = RegionMark(b);
    return r.host + (ea - r.base);
  }
  // A region that overlaps no other holds the address whichever region owns the bucket.
  for (int m = 1; m <= kRegionSlots; ++m) {
    const DataRegion& o = regions.hint[m];
    if (uint64_t{ea - o.base} + n <= o.size) {
      d.region = RegionMark(m);
      return o.host + (ea - o.base);
    }
  }
  return nullptr;
}

// FindStorage, except for accesses that touch the 64 bytes of the frame whose registers the
// fast core keeps in its register file: those take the generic path as well. Frames lie in the
// stack's storage, so only accesses there are compared with the frame.
inline uint8_t* Direct(const DataRegions& regions, const MemoryMap& mem, const uint8_t* frame,
                       Decoded& d, uint32_t ea, uint32_t n) {
  uint8_t* p = FindStorage(regions, mem, d, ea, n);
  if (d.region != RegionMark(kRegionStck)) return p;
  const uintptr_t from_frame = reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(frame);
  if (from_frame + (n - 1) < kFrameBytes + (n - 1)) return nullptr;
  return p;
}

// Prepares the branch of the record at text offset pos (records stand only for offsets that are
// multiples of 4, and displacements are too): a branch whose taken target lies outside the text
// becomes generic, and the displacement of one inside becomes the distance in bytes between the
// two records, so a taken branch takes one addition. The branch of a fused compare and branch
// is the record's second word.
inline void PrepareBranch(Decoded& d, uint32_t pos, uint32_t text_size) {
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
      return;
  }
  const uint32_t target = from + d.imm;
  if (target >= text_size) {
    d.op = kFastGeneric;
    return;
  }
  d.imm = static_cast<uint32_t>((static_cast<int64_t>(target) - pos) / 4 *
                                static_cast<int64_t>(sizeof(Decoded)));
}

// Whether the next instruction after a record never is the record after it in the text: the
// instruction jumps, calls, returns or runs on the generic path. (A conditional branch does not
// end a run: its run goes on with the instruction after it.)
// Whether a record stands for its word and the next (a form with a displacement word, a pair, a
// compare fused with its branch) or for its word alone; only the bytes it stands for are
// compared when the text is written.
inline bool TwoWords(const Decoded& d) {
  return d.length == 8 || d.op >= kFastPairAddReg || d.op == kFastCmpoThenBranch ||
         d.op == kFastCmpiThenBranch;
}
inline uint64_t BytesOf(const Decoded& d) { return TwoWords(d) ? ~uint64_t{0} : 0xFFFFFFFFu; }

constexpr bool EndsRun(uint8_t op) {
  return op == kFastGeneric || op == kFastB || op == kFastCall || op == kFastCallx ||
         op == kFastRet;
}

// How many records straight-line execution goes on by after a record of each handler, or 0
// when the record ends a run. A pair or a compare and branch covers two words; a MEM form with a
// displacement word goes one record further than the table says (see RunStep).
constexpr std::array<uint8_t, kFastOpCount> kRunSteps = [] {
  std::array<uint8_t, kFastOpCount> steps{};
  for (int op = 0; op < kFastOpCount; ++op) {
    const bool two_words =
        op >= kFastPairAddReg || op == kFastCmpoThenBranch || op == kFastCmpiThenBranch;
    steps[op] = EndsRun(static_cast<uint8_t>(op)) ? 0 : two_words ? 2 : 1;
  }
  return steps;
}();
inline uint32_t RunStep(const Decoded& d) {
  const uint32_t step = kRunSteps[d.op];
  return step == 0 ? 0 : step + d.length / 8;
}

// Comparisons without branches.
// Less is 4, equal 2 and greater 1: 2 + 2 * less - greater.
static_assert(kCcLess == 4 && kCcEqual == 2 && kCcGreater == 1);
inline uint32_t Ordinal(uint32_t a, uint32_t b) {
  return kCcEqual + kCcEqual * (a < b) - kCcGreater * (a > b);
}
inline uint32_t Integer(uint32_t a, uint32_t b) {
  const int32_t x = static_cast<int32_t>(a), y = static_cast<int32_t>(b);
  return kCcEqual + kCcEqual * (x < y) - kCcGreater * (x > y);
}

// The halves of pair records by opcode of the single form: the value of a register form (with
// its statistics counter), the bytes and access of a load or store without an index.
template <uint8_t Op>
inline uint32_t PairValue(CpuState& cpu, uint32_t s1, uint32_t s2);
#define KORVANE_PAIR_VALUE(name, counter, value)                                     \
  template <>                                                                        \
  inline uint32_t PairValue<kFast##name>(CpuState & cpu, uint32_t s1, uint32_t s2) { \
    (void)cpu;                                                                       \
    (void)s1;                                                                        \
    (void)s2;                                                                        \
    counter;                                                                         \
    return value;                                                                    \
  }
KORVANE_FAST_PAIR_OPS(KORVANE_PAIR_VALUE)
#undef KORVANE_PAIR_VALUE

template <uint8_t Op>
constexpr uint32_t kPairBytes = 0;  // 0: a register form
template <uint8_t Op>
inline uint32_t PairLoad(const uint8_t* p);
template <uint8_t Op>
inline void PairStore(uint8_t* p, uint32_t value);
#define KORVANE_PAIR_LOAD(name, bytes, loaded)              \
  template <>                                               \
  constexpr uint32_t kPairBytes<kFast##name> = bytes;       \
  template <>                                               \
  inline uint32_t PairLoad<kFast##name>(const uint8_t* p) { \
    return loaded;                                          \
  }
#define KORVANE_PAIR_STORE(name, bytes, store)                      \
  template <>                                                       \
  constexpr uint32_t kPairBytes<kFast##name> = bytes;               \
  template <>                                                       \
  inline void PairStore<kFast##name>(uint8_t * p, uint32_t value) { \
    store;                                                          \
  }
KORVANE_FAST_PAIR_LOADS(KORVANE_PAIR_LOAD)
KORVANE_FAST_PAIR_STORES(KORVANE_PAIR_STORE)
#undef KORVANE_PAIR_LOAD
#undef KORVANE_PAIR_STORE

template <uint8_t Op>
constexpr bool kPairStore = false;
#define KORVANE_PAIR_IS_STORE(name, bytes, store) \
  template <>                                     \
  constexpr bool kPairStore<kFast##name> = true;
KORVANE_FAST_PAIR_STORES(KORVANE_PAIR_IS_STORE)
#undef KORVANE_PAIR_IS_STORE

// Every pair of halves has code of its own, so the second half follows the first without an
// indirect jump: C(first, second) for each second half. The same halves as the lists in
// decoded.h, in their order.
// clang-format off
#define KORVANE_PAIR_SECONDS(C, first)                                                       \
  C(first, AddReg) C(first, AddLit) C(first, Addo) C(first, Addi) C(first, Sub)             \
  C(first, Mul) C(first, And) C(first, Or) C(first, Xor) C(first, Shlo) C(first, Shro)       \
  C(first, Shri) C(first, Mov) C(first, LdBase) C(first, LdobBase) C(first, LdibBase)        \
  C(first, LdosBase) C(first, LdisBase) C(first, StBase) C(first, StobBase) C(first, StosBase)
// clang-format on
constexpr int kPairHalves = kFastOpCount - kFastPairAddReg;
#define KORVANE_PAIR_ONE(first, second) +1
static_assert(0 KORVANE_PAIR_SECONDS(KORVANE_PAIR_ONE, x) == kPairHalves);
#undef KORVANE_PAIR_ONE

// The place of a single form among the halves, or -1.
constexpr int PairHalfIndex(uint8_t op) {
  switch (op) {
#define KORVANE_PAIR_INDEX(name, x, y) \
  case kFast##name:                    \
    return kFastPair##name - kFastPairAddReg;
    KORVANE_FAST_PAIR_OPS(KORVANE_PAIR_INDEX)
    KORVANE_FAST_PAIR_LOADS(KORVANE_PAIR_INDEX)
    KORVANE_FAST_PAIR_STORES(KORVANE_PAIR_INDEX)
#undef KORVANE_PAIR_INDEX
    default:
      return -1;
  }
}
#define KORVANE_PAIR_ORDER(first, second) \
  static_assert(PairHalfIndex(kFast##second) == kFastPair##second - kFastPairAddReg);
KORVANE_PAIR_SECONDS(KORVANE_PAIR_ORDER, x)
#undef KORVANE_PAIR_ORDER

// The loop, compiled as it is, keeping the trail (kTrail, see FastTrail), and counting for
// profiles and coverage (kCount, with the trail): every instruction it runs adds one to its
// word's count, and every call, return and run of other code tells run.counts where the frame
// went. Each copy has only the work of its own parameters, so the plain one has nothing to test.
// Returns true when counting was asked for while a copy without it ran: the counting loop goes
// on from the check point where it returned.
template <bool kCount, bool kTrail>
bool FastLoopWith(Processor& emu, uint32_t& count_ref, uint32_t& check_point) {
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
  labels[kFastCallx] = &&callx;
  labels[kFastMovGroup] = &&mov_group;
  labels[kFastEmul] = &&emul;
  // pair_labels[first][second]: the code of a pair of halves, by their places.
  const void* pair_labels[kPairHalves][kPairHalves];
#define PAIR_LABEL(first, second)                                                        \
  pair_labels[kFastPair##first - kFastPairAddReg][kFastPair##second - kFastPairAddReg] = \
      &&pair_##first##_##second;
#define PAIR_LABELS(name, x, y) KORVANE_PAIR_SECONDS(PAIR_LABEL, name)
  KORVANE_FAST_PAIR_OPS(PAIR_LABELS)
  KORVANE_FAST_PAIR_LOADS(PAIR_LABELS)
  KORVANE_FAST_PAIR_STORES(PAIR_LABELS)
#undef PAIR_LABELS
#undef PAIR_LABEL
  auto label_of = [&](const Decoded& d) {
    return d.op >= kFastPairAddReg ? pair_labels[d.op - kFastPairAddReg][PairHalfIndex(d.op2)]
                                   : labels[d.op];
  };

  // Regions never change once the loop runs, so the text window is cached. Records exist for
  // the whole words of the text (indexes 0 to last_index; the bytes past the text's end read as
  // zeros), followed by two that are never up to date: a branch to a word the text holds only in
  // part reaches one of them and goes on at the generic path.
  const MemRegion& text = mem.regions[kRegionText];
  const uint8_t* const text_host = text.host;
  const uint32_t text_base = text.base;
  const uint64_t text_size = text_host ? text.size : 0;
  const int64_t last_index = static_cast<int64_t>(text_size / 4) - 1;
  const size_t record_count = static_cast<size_t>(last_index + 3);
  // The records come zeroed from calloc, whose large blocks the system hands out as zero pages
  // on first touch, so a text of megabytes costs nothing until its words run. A record with
  // `valid` 0 has never been decoded; once decoded it stays up to date: every path that writes
  // into the text marks the pages it wrote (TextMarks), and the records of marked pages are
  // checked again (apply_text_marks) before the next instruction runs, after other code (the
  // generic path, intercepted calls, check points) and after a fast store into the text.
  // Records are decoded a straight run at a time (see check_run), where execution enters a run
  // that was never decoded: after a taken branch, a call or return, and after other code.
  // Within a run the records follow one another without a look.
  std::unique_ptr<Decoded, FreeRecords> records(
      static_cast<Decoded*>(std::calloc(record_count, sizeof(Decoded))));
  if (!records) throw std::bad_alloc();
  Decoded* const recs = records.get();
  ClearTextMarks(mem);
  RunCounts* const counts = run.counts;
  FastTrail& trail = run.fast_trail;
  uint64_t* const hits = kCount ? counts->WordsFor(text_base, record_count) : nullptr;

  // Brings the straight run of records from r on up to date: each is checked against its text
  // bytes and decoded again when they differ, until the run ends at a record after which the
  // next instruction is not the next record (a jump, call or return, or the generic path) or at
  // a record already up to date, whose run is. A record whose straight successor would lie past
  // the records ends the run on the generic path, so straight-line execution never leaves them.
  Decoded* const last_rec = recs + last_index;
  // The 8 text bytes of the record at index i; those past the text's end read as zeros.
  auto text_bytes = [&](int64_t i) {
    const uint64_t at = static_cast<uint64_t>(i) * 4;
    uint64_t bytes = 0;
    if (__builtin_expect(at + 8 <= text_size, 1))
      std::memcpy(&bytes, text_host + at, 8);
    else
      std::memcpy(&bytes, text_host + at, text_size - at);
    return bytes;
  };
  auto check_run = [&](Decoded * r) __attribute__((noinline)) {
    while (r <= last_rec && !r->valid) {
      const int64_t i = r - recs;
      DecodeRecord(run, text_bytes(i), *r);
      // The word's place is known here: a branch whose target is not inside the text (E_GOTO
      // when taken) runs on the generic path, so the handlers jump without looking.
      PrepareBranch(*r, static_cast<uint32_t>(i * 4), static_cast<uint32_t>(text.size));
      r->fn = label_of(*r);
      r->valid = 1;
      const uint32_t step = RunStep(*r);
      if (step == 0) return;
      // The instruction after it lies past the text's whole words (which covers a record of two
      // words at the last one).
      if (r + step > last_rec) {
        r->op = kFastGeneric;
        r->fn = labels[kFastGeneric];
        return;
      }
      r += step;
    }
  };

  // After a fast store of n bytes into the text at `offset`: whether it wrote bytes that a
  // decoded record stands for (its word, and the next for a record of two words), which are
  // then marked. Bytes no record stands for yet (data kept in the text, code that has not run) need
  // nothing: their records are decoded from the text when they first run.
  auto stored_over_records = [&](uintptr_t offset, uint32_t n) {
    const int64_t first = static_cast<int64_t>(offset / 4);
    const int64_t last = std::min<int64_t>(static_cast<int64_t>((offset + n - 1) / 4), last_index);
    for (int64_t i = std::max<int64_t>(first - 1, 0); i <= last; ++i) {
      if (recs[i].valid && (i >= first || TwoWords(recs[i]))) {
        MarkTextWrite(mem, offset, n);
        return true;
      }
    }
    return false;
  };

  // Checks the records of the marked text pages against their bytes (a record may stand for its
  // word and the next, so a page concerns the record before it too). One whose bytes changed is
  // decoded again, with the run after it, so straight-line execution never reaches a stale
  // record. Takes time in proportion to what was written, never to the text.
  auto apply_text_marks = [&]() __attribute__((noinline)) {
    const TextMarks& marks = mem.text_marks;
    constexpr int64_t kPerPage = (int64_t{1} << TextMarks::kPageShift) / 4;
    for (const uint32_t page : marks.pages) {
      const int64_t first = std::max<int64_t>(page * kPerPage - 1, 0);
      const int64_t last = std::min<int64_t>(page * kPerPage + kPerPage - 1, last_index);
      for (int64_t i = first; i <= last; ++i) {
        Decoded& r = recs[i];
        if (!r.valid || ((text_bytes(i) ^ r.raw) & BytesOf(r)) == 0) continue;
        r.valid = 0;
        check_run(&r);
      }
    }
    ClearTextMarks(mem);
  };
#define APPLY_TEXT_MARKS() \
  if (__builtin_expect(mem.text_marks.pending(), 0)) apply_text_marks()

  const DataRegions regions(mem);
  const MemRegion& stack = mem.regions[kRegionStck];
  const ProcessorHooks& hooks = emu.hooks;
  // The register file: while the loop runs, the current frame's local registers and the globals
  // are kept here, followed by the literals 0-31, so every operand is read and written at a fixed
  // offset from one base. They are written back whenever other code may look at them, and loads
  // and stores that touch the current frame's 64 bytes take the generic path.
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

  // The record of the instruction running, or of the last one run, and of the next one.
  Decoded* rec = nullptr;
  Decoded* next = nullptr;
  uint32_t count = count_ref;
  // The one per-instruction test: a countdown to the next check point. It is brought forward
  // to the next instruction when the attention flag is up; the flag is looked at after every
  // instruction that ran other code (the generic path, which runs the services that ask for an
  // exit, calls and returns) and at check points. So a host request made while the firmware
  // runs only fast instructions takes effect at the next check point, within 32768
  // instructions.
  uint32_t left = check_point - count;
  uint32_t countdown_end = check_point;  // count = countdown_end - left
  uint32_t a = 0, v = 0, ea = 0;
  uint32_t next_pos = 0, index = 0;
  uint64_t new_fp = 0, wide = 0;
  uint8_t fixed_target = 0;
  uint8_t* p = nullptr;

#define GET(o) Load32(file_bytes + (o).offset)
#define PUT(o, value) Store32(file_bytes + (o).offset, (value))
#define PUT_AT(offset, value) Store32(file_bytes + (offset), (value))
#define SRC1 GET(rec->src1)
#define SRC2 GET(rec->src2)
#define POS(r) (static_cast<uint32_t>((r)-recs) * 4u)
  // Every handler ends with its own copy of the dispatch, so each has its own indirect jump.
  // `kind` names what was run last, for the cold paths that tell the rest of the system about
  // it: fall (the record rec, with its length), second (the second word of the pair rec), jump
  // and jump_second (the same, after a taken branch to next).
  // Within a straight run (see check_run):
  // Counting: the record about to run, and the run's instruction total after `done` more
  // instructions than the countdown says.
#define COUNT(r) \
  if constexpr (kCount) ++hits[(r)-recs]
  // The trail (kTrail): a stretch of instructions begins at `at` after `done` instructions.
#define TRAIL(at, done)                                                                   \
  do {                                                                                    \
    if constexpr (kTrail) {                                                               \
      const uint32_t slot = static_cast<uint32_t>(trail.next++) & (FastTrail::kSize - 1); \
      trail.ip[slot] = (at);                                                              \
      trail.count[slot] = (done);                                                         \
    }                                                                                     \
  } while (0)
#define TOTAL(done) \
  (run.executed + static_cast<uint32_t>(countdown_end - left + (done)-run.executed_mark))
#define GO(kind)     \
  do {               \
    rec = next;      \
    COUNT(rec);      \
    goto * next->fn; \
  } while (0)
  // Where a run may begin:
#define GO_CHECKED(kind)                                           \
  do {                                                             \
    TRAIL(text_base + POS(next), countdown_end - left);            \
    if (__builtin_expect(!next->valid, 0)) goto revalidate_##kind; \
    rec = next;                                                    \
    COUNT(rec);                                                    \
    goto * next->fn;                                               \
  } while (0)
#define NEXT_BY_THEN(step, kind, go)                         \
  do {                                                       \
    if (__builtin_expect(--left == 0, 0)) goto event_##kind; \
    next = rec + (step);                                     \
    go(kind);                                                \
  } while (0)
#define NEXT_BY(step, kind) NEXT_BY_THEN(step, kind, GO)
#define NEXT NEXT_BY(1, fall)
  // After a form of 4 or 8 bytes: a record per 4 bytes.
#define MEM_STEP (rec->length / 4)
#define NEXT_MEM NEXT_BY(MEM_STEP, fall)
  // A taken branch. Its target is a multiple of 4 inside the text: a record whose target lies
  // elsewhere is made generic when it is decoded (see revalidate), and faults there when taken.
  // imm holds the distance to the target's record.
#define JUMP(kind)                                                      \
  do {                                                                  \
    next = reinterpret_cast<Decoded*>(reinterpret_cast<uint8_t*>(rec) + \
                                      static_cast<int32_t>(rec->imm));  \
    if (__builtin_expect(--left == 0, 0)) goto event_##kind;            \
    GO_CHECKED(kind);                                                   \
  } while (0)
#define ALU(expr)        \
  PUT(rec->dst, (expr)); \
  NEXT
#define MEM_ALU(expr)    \
  PUT(rec->dst, (expr)); \
  NEXT_MEM
  // After a fast store of n bytes at p: a store over decoded records marks what it wrote, and
  // the instruction (`kind`: the record rec, the first or the second word of the pair rec) ends
  // at text_stored, which brings the records up to date before the next one runs.
#define STORED(n, kind)                                                                    \
  do {                                                                                     \
    const uintptr_t from_text =                                                            \
        reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(text_host);           \
    if (__builtin_expect(from_text < text_size, 0) && stored_over_records(from_text, (n))) \
      goto text_stored_##kind;                                                             \
  } while (0)
  // What the generic loop keeps in cpu between instructions, for code outside the fast core
  // (cpu.ip, cpu.length and cpu.instr_word are set by the caller).
#define SYNC()                                \
  do {                                        \
    count = countdown_end - left;             \
    cpu.icount = static_cast<int32_t>(count); \
    store_registers();                        \
  } while (0)
#define EFFECTIVE_ADDRESS() (SRC1 + (SRC2 << rec->aux) + rec->imm)
#define BASE_ADDRESS() (SRC1 + rec->imm)
  // Brings the countdown's end forward to the next instruction when the flag is up.
#define POLL_BEFORE_START()                     \
  do {                                          \
    if (control.attention() && left != 1) {     \
      countdown_end = countdown_end - left + 1; \
      left = 1;                                 \
    }                                           \
  } while (0)

  POLL_BEFORE_START();
  goto dispatch_cpu;

  // The next instruction is at cpu.ip + cpu.length, after one that cpu describes.
dispatch_cpu:
  next_pos = cpu.ip + cpu.length - text_base;
  TRAIL(text_base + next_pos, countdown_end - left);
  // A position that is not a multiple of 4 rotates to an index beyond the last record.
  index = (next_pos >> 2) | (next_pos << 30);
  if (int64_t{index} > last_index) goto outside_records;
  next = recs + index;
  if (next->valid) {
    rec = next;
    COUNT(rec);
    goto * next->fn;
  }
  goto revalidate;

  // The record next was never decoded: its run is decoded now (dispatch_cpu has made sure it is
  // a record).
  // Where next lies beyond the records, cpu must first describe the last instruction run.
#define REVALIDATE(kind, last_length, word_shift)                     \
  revalidate_##kind : if (next - recs <= last_index) goto revalidate; \
  cpu.length = (last_length);                                         \
  cpu.instr_word = static_cast<uint32_t>(rec->raw >> (word_shift));   \
  next_pos = POS(next);                                               \
  goto outside_records;
  REVALIDATE(jump, 0, 0)
  REVALIDATE(jump_second, 0, 32)
#undef REVALIDATE
revalidate:
  check_run(next);
  rec = next;
  COUNT(rec);
  goto * next->fn;

  // An instruction without a record (the text's last word, or outside the text) runs on the
  // generic path; its fetch reports a place outside the text with cpu as it stands.
outside_records:
  cpu.ip = text_base + next_pos;
  SYNC();
  cpu.instr_word = uint64_t{next_pos} + 4 <= text_size ? Load32(text_host + next_pos)
                                                       : FetchTextSlow(emu, cpu.ip);
  goto generic_cpu;

generic_second:
  cpu.ip = text_base + POS(rec) + 4;
  cpu.instr_word = static_cast<uint32_t>(rec->raw >> 32);
  goto generic_cpu;
generic:
  cpu.ip = text_base + POS(rec);
  cpu.instr_word = static_cast<uint32_t>(rec->raw);
generic_cpu:
  SYNC();
  // Instructions on the generic path in a row run one after the other with the registers left
  // in cpu, as the stepping loop runs them; the register file is loaded when a record with a
  // handler of its own comes next.
generic_run:
  cpu.length = 4;
  ExecuteWord(emu, table, cpu.instr_word);
  if constexpr (kCount) counts->AfterInstruction(cpu, TOTAL(1));
  APPLY_TEXT_MARKS();
  if (__builtin_expect((--left == 0) || control.attention(), 0)) goto event_cpu;
  // One that transferred control (length 0: the next instruction is at cpu.ip) starts a stretch.
  if (cpu.length == 0) TRAIL(cpu.ip, countdown_end - left);
  next_pos = cpu.ip + cpu.length - text_base;
  index = (next_pos >> 2) | (next_pos << 30);
  if (int64_t{index} <= last_index && recs[index].valid && recs[index].op == kFastGeneric) {
    rec = recs + index;
    COUNT(rec);
    cpu.ip = text_base + next_pos;
    cpu.instr_word = static_cast<uint32_t>(rec->raw);
    cpu.icount = static_cast<int32_t>(countdown_end - left);
    goto generic_run;
  }
  load_registers();
  goto dispatch_cpu;

  // call and ret run their own handlers (frames, the intercept check) with the slots they read.
  // Frames lie in the stack's storage, so only code the intercept hook ran may have written
  // into the text.
#define CONTROL_TRANSFER(opcode_value, handler, instruction_length) \
  cpu.ip = text_base + POS(rec);                                    \
  cpu.instr_word = static_cast<uint32_t>(rec->raw);                 \
  SYNC();                                                           \
  cpu.length = (instruction_length);                                \
  cpu.opcode = opcode_value;                                        \
  cpu.opsize = 4;                                                   \
  handler(emu);                                                     \
  cpu.instr_word = static_cast<uint32_t>(rec->raw);                 \
  load_registers();                                                 \
  APPLY_TEXT_MARKS();                                               \
  goto after_transfer
  // Calls to a procedure the intercept hook leaves alone, and returns, whose new frame lies in
  // the stack and whose target is a record, run here: the current frame's registers go to
  // memory and the new frame's come into the register file. The rest runs the handlers above.
#define FAST_CALL(target, instruction_length, handler_path)                                   \
  v = (target);                                                                               \
  if (hooks.intercept_call &&                                                                 \
      (rec->count != 0 || !hooks.intercepts || hooks.intercepts(hooks.ctx, v))) {             \
    rec->count = fixed_target;                                                                \
    goto handler_path;                                                                        \
  }                                                                                           \
  new_fp = (uint64_t{Load32(file_bytes + 4)} + kFrameAlign - 1) & ~uint64_t{kFrameAlign - 1}; \
  next_pos = v - text_base;                                                                   \
  if (!frame || !FrameUsable(stack, new_fp) || (next_pos & 3) || next_pos >= text_size)       \
    goto handler_path;                                                                        \
  PUT_AT(8, text_base + POS(rec) + (instruction_length)); /* rip in the caller's r2 */        \
  std::memcpy(frame, file, kFrameBytes);                                                      \
  a = Load32(file_bytes + kGlobalsBase + 60);                                                 \
  frame = stack.host + (new_fp - stack.base);                                                 \
  cpu.frame = frame;                                                                          \
  PUT_AT(kGlobalsBase + 60, static_cast<uint32_t>(new_fp));                                   \
  std::memcpy(file, frame, kFrameBytes);                                                      \
  PUT_AT(0, a);                                                                               \
  PUT_AT(4, static_cast<uint32_t>(new_fp) + kFrameBytes);                                     \
  if constexpr (kCount) counts->Call(v, static_cast<uint32_t>(new_fp), TOTAL(1));             \
  goto transferred
  // A call whose target does not depend on registers and that the hook intercepted once is
  // marked (count 1), so it goes to the handlers without asking the hook first.
call:
  fixed_target = 1;
  FAST_CALL(text_base + POS(rec) + rec->imm, 4, call_handler);
call_handler:
  cpu.ea = rec->imm;
  CONTROL_TRANSFER(0x09, Op_call, 4);
callx:
  ea = EFFECTIVE_ADDRESS();
  if (ea < kServiceAddressLimit) goto generic;
  fixed_target = rec->src1.offset == kLiteralBase && rec->src2.offset == kLiteralBase;
  FAST_CALL(ea, rec->length, callx_handler);
callx_handler:
  cpu.ea = ea;
  cpu.dst = static_cast<uint8_t>((rec->raw >> 19) & 31);
  CONTROL_TRANSFER(0x86, Op_callx, rec->length);
ret:
  a = Load32(file_bytes);  // pfp
  if (!frame || !FrameUsable(stack, a)) goto ret_handler;
  std::memcpy(frame, file, kFrameBytes);
  p = stack.host + (a - stack.base);
  next_pos = Load32(p + 8) - text_base;  // the return ip in the caller's r2
  if ((next_pos & 3) || next_pos >= text_size) goto ret_handler;
  frame = p;
  cpu.frame = frame;
  PUT_AT(kGlobalsBase + 60, a);
  std::memcpy(file, frame, kFrameBytes);
  if constexpr (kCount) counts->Return(a, TOTAL(1));
  goto transferred;
ret_handler:
  cpu.ea = rec->imm;
  CONTROL_TRANSFER(0x0A, Op_ret, 4);
transferred:
  next = recs + next_pos / 4;
  if (__builtin_expect(--left == 0, 0)) goto event_jump;
  GO_CHECKED(jump);
#undef FAST_CALL
#undef CONTROL_TRANSFER

after_transfer:
  if constexpr (kCount) counts->AfterInstruction(cpu, TOTAL(1));
  if (__builtin_expect((--left == 0) || control.attention(), 0)) goto event_cpu;
  goto dispatch_cpu;

  // cpu describes the instruction at `at` of `length` bytes whose word is raw >> shift.
#define DESCRIBE(at, instruction_length, shift) \
  cpu.ip = text_base + (at);                    \
  cpu.length = (instruction_length);            \
  cpu.instr_word = static_cast<uint32_t>(rec->raw >> (shift))

  // A fast store wrote into the text; cpu describes the instruction.
text_stored_fall:
  DESCRIBE(POS(rec), rec->length, 0);
  goto text_stored;
text_stored_first:
  DESCRIBE(POS(rec), 4, 0);
  goto text_stored;
text_stored_second:
  DESCRIBE(POS(rec) + 4, 4, 32);
text_stored:
  apply_text_marks();
  if (__builtin_expect((--left == 0) || control.attention(), 0)) goto event_sync;
  goto dispatch_cpu;

  // A check point, or the attention flag: cpu is brought up to date first.
event_fall:
  DESCRIBE(POS(rec), rec->length, 0);
  goto event_sync;
event_second:
  DESCRIBE(POS(rec) + 4, 4, 32);
  goto event_sync;
event_jump:
  DESCRIBE(POS(next), 0, 0);
  goto event_sync;
event_jump_second:
  DESCRIBE(POS(next), 0, 32);
  goto event_sync;
#undef DESCRIBE
event_sync:
  SYNC();
event_cpu:
  count = countdown_end - left;
  cpu.icount = static_cast<int32_t>(count);
  TRAIL(FastTrail::kLeft, count);
  if (LoopEvent(emu, count, check_point)) {
    count_ref = count;
    return false;
  }
  if constexpr (!kCount) {
    if (run.counts) {
      count_ref = count;
      return true;
    }
  }
  load_registers();
  APPLY_TEXT_MARKS();
  left = check_point - count;
  countdown_end = check_point;
  POLL_BEFORE_START();
  goto dispatch_cpu;

  // The handlers with operands.
#define L(name) name
#include "core/fast_handlers.inc"
#undef L

  // CTRL forms.
b:
  JUMP(jump);
branch_if:
  if (cpu.cc > 7) goto generic;
  if ((rec->aux >> cpu.cc) & 1) JUMP(jump);
  NEXT;

  // Pairs. The first half counts as an instruction of its own (a check point may fall between
  // the two); the second half is the word after it. A load or store half whose access the fast
  // path cannot make runs its word on the generic path. After a store into the text by the
  // first half, the second word runs from its own record, which is checked against the text
  // first. Two memory halves never form a pair.
#define PAIR_HALF(op, dst, src1, src2, generic_label)                                     \
  if constexpr (kPairBytes<op> == 0) {                                                    \
    PUT(rec->dst, PairValue<op>(cpu, GET(rec->src1), GET(rec->src2)));                    \
  } else {                                                                                \
    ea = GET(rec->src1) + rec->imm;                                                       \
    if (!(p = Direct(regions, mem, frame, *rec, ea, kPairBytes<op>))) goto generic_label; \
    if constexpr (kPairStore<op>) {                                                       \
      PairStore<op>(p, GET(rec->dst));                                                    \
    } else {                                                                              \
      PUT(rec->dst, PairLoad<op>(p));                                                     \
    }                                                                                     \
  }
#define PAIR_CODE(one, two)                                                          \
  pair_##one##_##two : if constexpr (!kFormPairs || (kPairBytes<kFast##one> != 0 &&  \
                                                     kPairBytes<kFast##two> != 0)) { \
    goto generic;                                                                    \
  }                                                                                  \
  else {                                                                             \
    PAIR_HALF(kFast##one, dst, src1, src2, generic)                                  \
    if constexpr (kPairStore<kFast##one>) {                                          \
      STORED(kPairBytes<kFast##one>, first);                                         \
    }                                                                                \
    if (__builtin_expect(--left == 0, 0)) goto event_fall;                           \
    COUNT(rec + 1);                                                                  \
    PAIR_HALF(kFast##two, dst2, src1b, src2b, generic_second)                        \
    if constexpr (kPairStore<kFast##two>) STORED(kPairBytes<kFast##two>, second);    \
    NEXT_BY(2, second);                                                              \
  }
#define PAIR_CODES(name, x, y) KORVANE_PAIR_SECONDS(PAIR_CODE, name)
  KORVANE_FAST_PAIR_OPS(PAIR_CODES)
  KORVANE_FAST_PAIR_LOADS(PAIR_CODES)
  KORVANE_FAST_PAIR_STORES(PAIR_CODES)
#undef PAIR_CODES
#undef PAIR_CODE
#undef PAIR_HALF

  // Register groups: word by word in ascending order, as the generic path moves them (so an
  // overlapping movq copies the same way); a literal source gives its value, then zeros.
mov_group:
  for (unsigned k = 0; k < rec->count; ++k)
    PUT_AT(rec->dst.offset + 4 * k,
           rec->aux ? (k == 0 ? SRC1 : 0) : Load32(file_bytes + rec->src1.offset + 4 * k));
  NEXT;
emul:
  wide = uint64_t{SRC1} * SRC2;
  PUT_AT(rec->dst.offset, static_cast<uint32_t>(wide));
  PUT_AT(rec->dst.offset + 4, static_cast<uint32_t>(wide >> 32));
  NEXT;

  // Groups: words in ascending order, each register read or written right after its word.
ld_group:
  ea = EFFECTIVE_ADDRESS();
  if (!(p = Direct(regions, mem, frame, *rec, ea, 4u * rec->count))) goto generic;
  for (unsigned k = 0; k < rec->count; ++k)
    Store32(file_bytes + rec->dst.offset + 4 * k, Load32(p + 4 * k));
  NEXT_MEM;
st_group:
  ea = EFFECTIVE_ADDRESS();
  if (!(p = Direct(regions, mem, frame, *rec, ea, 4u * rec->count))) goto generic;
  for (unsigned k = 0; k < rec->count; ++k)
    Store32(p + 4 * k, Load32(file_bytes + rec->dst.offset + 4 * k));
  STORED(4u * rec->count, fall);
  NEXT_MEM;

#undef GET
#undef PUT
#undef PUT_AT
#undef SRC1
#undef SRC2
#undef POS
#undef GO
#undef NEXT_BY
#undef NEXT
#undef NEXT_MEM
#undef MEM_STEP
#undef NEXT_BY_THEN
#undef GO_CHECKED
#undef JUMP
#undef ALU
#undef MEM_ALU
#undef STORED
#undef SYNC
#undef EFFECTIVE_ADDRESS
#undef BASE_ADDRESS
#undef POLL_BEFORE_START
#undef COUNT
#undef TRAIL
#undef TOTAL
}

}  // namespace

void FastLoop(Processor& emu, uint32_t& count_ref, uint32_t& check_point) {
  // The counting copy keeps the trail too; the plain one only when it is asked for.
  const bool counting =
      emu.run.counts ||
      (emu.run.fast_trail.on ? FastLoopWith<false, true>(emu, count_ref, check_point)
                             : FastLoopWith<false, false>(emu, count_ref, check_point));
  if (counting) FastLoopWith<true, true>(emu, count_ref, check_point);
}

}  // namespace korvane
