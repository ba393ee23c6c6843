// Load, store and address instructions.
#include <cstring>

#include "core/handlers.h"
#include "core/processor.h"

namespace korvane {

namespace {

// Host location of the effective address and how many bytes from there belong to its storage.
// Bytes of an access beyond that read as zero and are dropped on writes, so no access reaches
// host memory outside the region (or scratch area) of its first byte.
struct Target {
  uint8_t* p;
  uint32_t avail;
};

inline Target Translate(Processor& emu) {
  Target t;
  t.p = TranslateAddress(emu.mem, emu.cpu.ea, &t.avail);
  return t;
}

// n is a constant at every call, so the common whole access is a single move.
inline uint32_t ReadBounded(const Target& t, uint32_t n) {
  uint32_t v = 0;
  if (__builtin_expect(n <= t.avail, 1))
    std::memcpy(&v, t.p, n);
  else
    std::memcpy(&v, t.p, t.avail);
  return v;
}

inline void WriteBounded(MemoryMap& mem, const Target& t, uint32_t v, uint32_t n) {
  if (__builtin_expect(n <= t.avail, 1)) {
    std::memcpy(t.p, &v, n);
    NoteHostWrite(mem, t.p, n);
  } else {
    std::memcpy(t.p, &v, t.avail);
    NoteHostWrite(mem, t.p, t.avail);
  }
}

inline uint32_t IoRead8(const IoHandlers& io, uint32_t where) {
  return io.read8 ? io.read8(io.ctx, where) : 0;
}
inline uint32_t IoRead16(const IoHandlers& io, uint32_t where) {
  return io.read16 ? io.read16(io.ctx, where) : 0;
}
inline void IoWrite8(const IoHandlers& io, uint32_t where, uint32_t v) {
  if (io.write8) io.write8(io.ctx, where, v);
}
inline void IoWrite16(const IoHandlers& io, uint32_t where, uint32_t v) {
  if (io.write16) io.write16(io.ctx, where, v);
}

// Byte and short forms look at both parts of the access report, so both are cleared first.
inline Target TranslateForDisplay(Processor& emu) {
  emu.mem.report.port = 0;
  emu.mem.report.routine = 0;
  return Translate(emu);
}

inline void SetData(Processor& emu, uint32_t v) { WriteReg(emu.cpu, emu.cpu.dst, v); }
inline uint32_t Data(const Processor& emu) { return ReadReg(emu.cpu, emu.cpu.dst); }

uint32_t LoadByte(Processor& emu) {
  Target t = TranslateForDisplay(emu);
  const AccessReport& r = emu.mem.report;
  if (r.routine) return IoRead8(emu.mem.routine_io, r.offset);
  if (r.port) return IoRead8(emu.mem.port_io, r.port);
  return *t.p;
}

// Ports have no short read: the display registers none, so a port address reads 0.
uint32_t LoadShort(Processor& emu) {
  Target t = TranslateForDisplay(emu);
  const AccessReport& r = emu.mem.report;
  if (r.routine) return IoRead16(emu.mem.routine_io, r.offset);
  if (r.port) return IoRead16(emu.mem.port_io, r.port);
  return ReadBounded(t, 2);
}

void StoreByte(Processor& emu) {
  Target t = TranslateForDisplay(emu);
  const AccessReport& r = emu.mem.report;
  uint32_t v = Data(emu);
  if (r.routine) return IoWrite8(emu.mem.routine_io, r.offset, v);
  if (r.port) return IoWrite8(emu.mem.port_io, r.port, v);
  *t.p = static_cast<uint8_t>(v);
  NoteHostWrite(emu.mem, t.p, 1);
}

void StoreShort(Processor& emu) {
  Target t = TranslateForDisplay(emu);
  const AccessReport& r = emu.mem.report;
  uint32_t v = Data(emu);
  if (r.routine) return IoWrite16(emu.mem.routine_io, r.offset, v);
  if (r.port) return IoWrite16(emu.mem.port_io, r.port, v);
  WriteBounded(emu.mem, t, v, 2);
}

// ldl/ldt/ldq and stl/stt/stq: one translation, words in ascending order, no display
// distinction. A group that would run past r15 or g15 is refused.
inline Target TranslateGroup(Processor& emu, unsigned count) {
  if (!RegGroupFits(emu.cpu.dst, count)) ReportFault(emu, E_OPERAND, true);
  return Translate(emu);
}

// Word k of a group: what is left of the storage from its byte 4k on (nothing past its end).
inline Target GroupWord(const Target& t, unsigned k) {
  uint32_t skip = 4 * k;
  return Target{t.p + (skip < t.avail ? skip : t.avail), skip < t.avail ? t.avail - skip : 0};
}

void LoadGroup(Processor& emu, unsigned count) {
  Target t = TranslateGroup(emu, count);
  for (unsigned k = 0; k < count; ++k)
    WriteReg(emu.cpu, emu.cpu.dst + k, ReadBounded(GroupWord(t, k), 4));
}

void StoreGroup(Processor& emu, unsigned count) {
  Target t = TranslateGroup(emu, count);
  for (unsigned k = 0; k < count; ++k)
    WriteBounded(emu.mem, GroupWord(t, k), ReadReg(emu.cpu, emu.cpu.dst + k), 4);
}

}  // namespace

void Op_lda(Processor& emu) { SetData(emu, emu.cpu.ea); }

void Op_ldob(Processor& emu) { SetData(emu, LoadByte(emu)); }
void Op_ldib(Processor& emu) {
  SetData(emu, static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(LoadByte(emu)))));
}
void Op_ldos(Processor& emu) { SetData(emu, LoadShort(emu)); }
void Op_ldis(Processor& emu) {
  SetData(emu, static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(LoadShort(emu)))));
}

// stib and stis truncate exactly like stob and stos; no overflow is detected.
void Op_stob(Processor& emu) { StoreByte(emu); }
void Op_stib(Processor& emu) { StoreByte(emu); }
void Op_stos(Processor& emu) { StoreShort(emu); }
void Op_stis(Processor& emu) { StoreShort(emu); }

// Words: display memory reads 0 and ignores stores; a port address counts as scratch.
void Op_ld(Processor& emu) {
  emu.mem.report.routine = 0;
  Target t = Translate(emu);
  SetData(emu, emu.mem.report.routine ? 0 : ReadBounded(t, 4));
}

void Op_st(Processor& emu) {
  emu.mem.report.routine = 0;
  Target t = Translate(emu);
  if (!emu.mem.report.routine) WriteBounded(emu.mem, t, Data(emu), 4);
}

void Op_ldl(Processor& emu) { LoadGroup(emu, 2); }
void Op_ldt(Processor& emu) { LoadGroup(emu, 3); }
void Op_ldq(Processor& emu) { LoadGroup(emu, 4); }
void Op_stl(Processor& emu) { StoreGroup(emu, 2); }
void Op_stt(Processor& emu) { StoreGroup(emu, 3); }
void Op_stq(Processor& emu) { StoreGroup(emu, 4); }

}  // namespace korvane
