// Decoded instruction records of the fast core: one record per text word, decoded from the
// word (and the displacement word of the long MEM forms) the first time it runs.
//
// A record stands for the 8 text bytes it was decoded from (its word and the next). Every path
// that writes into the text marks the pages it wrote (TextMarks in memory_map.h: store
// instructions, services writing guest memory through their pointers, the debugger); before the
// next instruction runs, the fast core compares the records of marked pages with their bytes
// and decodes again those that differ. So a store into the text takes effect the next time the
// word runs.
#pragma once

#include <cstdint>

namespace korvane {

struct RunState;

// Where a decoded operand lives in the fast core's register file: the local registers of the
// current frame at offsets 0-60, the globals at 64-124 and the literals 0-31 from 128 on (a
// literal is read like a register).
constexpr uint8_t kGlobalsBase = 64;
constexpr uint8_t kLiteralBase = 128;

struct Operand {
  uint8_t offset = kLiteralBase;  // byte offset in the register file; the default reads 0
};

// The register forms that run as either half of a pair record, which stands for two
// consecutive words run by one dispatch: X(name, statistics counter, result) with the operand
// values s1 (src1) and s2 (src2).
#define KORVANE_FAST_PAIR_OPS(X)                                          \
  X(AddReg, CountUp(cpu.fast_reg), s2 + s1)                               \
  X(AddLit, CountUp(cpu.fast_lit), s2 + s1)                               \
  X(Addo, CountUp(cpu.addo_count), s2 + s1)                               \
  X(Addi, CountUp(cpu.addi_count), s2 + s1)                               \
  X(Sub, , s2 - s1)                                                       \
  X(Mul, , s2* s1)                                                        \
  X(And, , s2& s1)                                                        \
  X(Or, , s2 | s1)                                                        \
  X(Xor, , s2 ^ s1)                                                       \
  X(Shlo, , s2 << (s1 & 31))                                              \
  X(Shro, , s2 >> (s1 & 31))                                              \
  X(Shri, , static_cast<uint32_t>(static_cast<int32_t>(s2) >> (s1 & 31))) \
  X(Mov, , s1)

// The loads and stores without an index that run as either half of a pair whose other half is
// one of the register forms above: X(name, bytes, loaded value of p) and X(name, bytes, store of
// `value` at p).
#define KORVANE_FAST_PAIR_LOADS(X)                                                     \
  X(LdBase, 4, Load32(p))                                                              \
  X(LdobBase, 1, *p)                                                                   \
  X(LdibBase, 1, static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(*p)))) \
  X(LdosBase, 2, Load16(p))                                                            \
  X(LdisBase, 2, static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(Load16(p)))))
#define KORVANE_FAST_PAIR_STORES(X)                \
  X(StBase, 4, Store32(p, value))                  \
  X(StobBase, 1, *p = static_cast<uint8_t>(value)) \
  X(StosBase, 2, Store16(p, value))

// Whether the decoder forms pair records. The fast core has code of its own for every pair of
// halves; clang (the fuzz build, with its sanitizers) takes very long over that much
// computed-goto code, so its builds run the two words as records of their own.
#if defined(__clang__)
constexpr bool kFormPairs = false;
#else
constexpr bool kFormPairs = true;
#endif

// Handlers of the fast core. kFastGeneric runs the instruction through the generic decoder and
// handlers: every form without a handler of its own, and every word that would fault.
enum FastOp : uint8_t {
  kFastGeneric = 0,
  // REG forms: dst = f(src2, src1); the add forms also keep the statistics counters.
  kFastAddReg,  // addo/addi with three local registers (counts fast_reg)
  kFastAddLit,  // addo/addi of a literal 0-15 to a local register (counts fast_lit)
  kFastAddo,    // counts addo_count
  kFastAddi,    // counts addi_count
  kFastSub,
  kFastMul,
  kFastAnd,
  kFastAndnot,
  kFastNotand,
  kFastXor,
  kFastOr,
  kFastNor,
  kFastXnor,
  kFastNot,
  kFastOrnot,
  kFastNotor,
  kFastNand,
  kFastSetbit,
  kFastClrbit,
  kFastNotbit,
  kFastAlterbit,
  kFastChkbit,
  kFastShlo,
  kFastShro,
  kFastShri,
  kFastMov,
  kFastCmpo,
  kFastCmpi,
  kFastCmpinco,
  kFastCmpdeco,
  kFastDivo,
  kFastRemo,
  kFastDivi,
  kFastRemi,
  // COBR forms.
  kFastCmpoThenBranch,  // cmpo, then the conditional branch in the next word (aux: its mask)
  kFastCmpiThenBranch,
  kFastTest,        // dst = condition (aux: the conditions table)
  kFastCmpoBranch,  // aux: condition mask; imm: displacement
  kFastCmpiBranch,
  kFastBbc,
  kFastBbs,
  // CTRL forms.
  kFastB,
  kFastBranchIf,  // aux: the conditions table
  kFastCall,
  kFastRet,
  // MEM forms: ea = src1 + (src2 << aux) + imm.
  kFastLda,
  kFastLd,
  kFastSt,
  kFastLdob,
  kFastLdib,
  kFastLdos,
  kFastLdis,
  kFastStob,  // also stib
  kFastStos,  // also stis
  // The same without an index: ea = src1 + imm.
  kFastLdaBase,
  kFastLdBase,
  kFastStBase,
  kFastLdobBase,
  kFastLdibBase,
  kFastLdosBase,
  kFastLdisBase,
  kFastStobBase,
  kFastStosBase,
  kFastLdGroup,  // ldl/ldt/ldq: count holds the word count
  kFastStGroup,
  kFastCallx,     // to a procedure; the service numbers take the generic path
  kFastMovGroup,  // movl/movt/movq: count holds the word count, aux 1 for a literal source
  kFastEmul,      // with the full instruction set only
// Pairs: the first half below, then the second half (op2) in the next word, one dispatch.
#define KORVANE_PAIR_ENUM(name, x, y) kFastPair##name,
  KORVANE_FAST_PAIR_OPS(KORVANE_PAIR_ENUM) KORVANE_FAST_PAIR_LOADS(KORVANE_PAIR_ENUM)
      KORVANE_FAST_PAIR_STORES(KORVANE_PAIR_ENUM)
#undef KORVANE_PAIR_ENUM
          kFastOpCount
};

// 32 bytes per text word: 8 bytes of host memory per text byte.
struct Decoded {
  const void* fn = nullptr;  // the handler's entry in the fast core, derived from op
  uint64_t raw = 0;          // the text bytes decoded: the word, then the next word
  uint32_t imm = 0;          // MEM displacement or offset; COBR/CTRL branch displacement
  uint8_t op = kFastGeneric;
  uint8_t length = 4;  // 4 or 8
  // A condition mask; the conditions table of a mask (bit c set when the branch is taken
  // with condition code c); the index scale shift.
  uint8_t aux = 0;
  Operand dst;
  Operand src1;        // MEM: abase
  Operand src2;        // MEM: index
  uint8_t region = 0;  // MEM: the region the last access went to, tried first next time
  uint8_t valid = 0;   // 1 once decoded (the record is kept up to date from then on)
  union {
    // A pair's second half: its handler and operands (a load or store half uses imm and
    // region as well, which a register half leaves alone).
    uint8_t op2 = kFastGeneric;
    uint8_t count;  // registers of a group load or store; 1 on a call the hook intercepts
  };
  Operand dst2;
  Operand src1b;
  Operand src2b;
};

static_assert(sizeof(Decoded) <= 32, "a record takes at most 8 bytes per text byte");

// Decodes the text bytes `raw` (the word at the record's address and the word after it) into
// `d`, leaving d.fn to the caller. A form the fast core does not handle, or a word that faults
// (undefined opcode, reserved mode, bad operand), becomes a kFastGeneric record, which faults
// exactly as the generic path does, and only when it runs.
void DecodeRecord(const RunState& run, uint64_t raw, Decoded& d);

}  // namespace korvane
