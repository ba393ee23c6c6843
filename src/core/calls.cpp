// Procedure calls, returns, jumps through registers, rejected control instructions and the
// dispatch of service numbers.
#include "core/calls.h"

#include "core/handlers.h"
#include "core/processor.h"

namespace korvane {

namespace {

const MemRegion& Stack(const Processor& emu) { return emu.mem.regions[kRegionStck]; }

// Points the current frame at fp, which the caller has checked with FrameUsable.
void MoveFrame(Processor& emu, uint32_t fp) {
  const MemRegion& s = Stack(emu);
  emu.cpu.g[15] = fp;
  emu.cpu.frame = s.host + (fp - s.base);
}

void JumpTo(Processor& emu, uint32_t t) {
  emu.cpu.length = 0;
  if (!IsValidTarget(emu, t)) {
    ReportFault(emu, E_GOTO, true);
    return;
  }
  emu.cpu.ip = t;
}

}  // namespace

bool IsValidTarget(const Processor& emu, uint32_t t) { return IsCodeTarget(emu.mem, t); }

void CallProcedure(Processor& emu, uint32_t target) {
  // The intercept check comes first: a skipped routine builds no frame, and execution goes
  // on after the calling instruction with its length untouched.
  uint32_t t = emu.hooks.intercept_call ? emu.hooks.intercept_call(emu.hooks.ctx, target) : target;
  if (t == 0) return;

  CpuState& cpu = emu.cpu;
  uint32_t sp = ReadReg(cpu, 1);
  uint64_t new_fp = (uint64_t{sp} + kFrameAlign - 1) & ~uint64_t{kFrameAlign - 1};
  // A new frame whose 64 bytes reach the end of STCK overflows the stack. An sp that points
  // below STCK (guest code may store anything in r1) would put the frame outside the stack
  // storage as well, so it is refused the same way rather than followed.
  if (!FrameUsable(Stack(emu), new_fp)) {
    ReportFault(emu, E_STACKO, true);
    return;
  }

  uint32_t old_fp = cpu.g[15];
  if (__builtin_expect(emu.mem.host_watch.armed, 0)) {
    // The frame words the call writes, for a debugger that watches them.
    if (cpu.frame) NoteHostAccess(emu.mem, old_fp + 8, 4, true);
    NoteHostAccess(emu.mem, static_cast<uint32_t>(new_fp), 8, true);
  }
  WriteReg(cpu, 2, cpu.ip + cpu.length);  // rip lives in the caller's frame
  MoveFrame(emu, static_cast<uint32_t>(new_fp));
  WriteReg(cpu, 0, old_fp);
  WriteReg(cpu, 1, static_cast<uint32_t>(new_fp) + kFrameBytes);
  JumpTo(emu, t);
}

void RunService(Processor& emu, uint32_t n) {
  if (RunNativeService(emu, n)) return;
  // Numbers past the table are treated as empty entries.
  uint32_t e = n < kServiceTableSize ? emu.cpu.service_table[n] : 0;
  if (e != 0) {
    CallProcedure(emu, e & ~3u);
    return;
  }
  emu.cpu.g[0] = 0;
  emu.cpu.g[6] = 0;
  emu.cpu.g[9] = 0;
}

// call: displacement relative to the call instruction itself.
void Op_call(Processor& emu) { CallProcedure(emu, emu.cpu.ip + emu.cpu.ea); }

void Op_ret(Processor& emu) {
  CpuState& cpu = emu.cpu;
  uint32_t pfp = ReadReg(cpu, 0);
  // Below STCK is a return from the first frame. A pfp above the last frame a call can build
  // (new FP + 64 below STCK last) was damaged by guest code and is refused too, so the current
  // frame never leaves the stack.
  if (!FrameUsable(Stack(emu), pfp)) {
    ReportFault(emu, E_STACKU, true);
    return;
  }
  MoveFrame(emu, pfp);
  JumpTo(emu, ReadReg(cpu, 2));
}

void Op_bx(Processor& emu) { JumpTo(emu, emu.cpu.ea); }

void Op_callx(Processor& emu) {
  uint32_t a = emu.cpu.ea;
  if (a < kServiceAddressLimit) {
    RunService(emu, a >> 2);  // the low two bits are ignored
  } else {
    CallProcedure(emu, a);
  }
}

void Op_calls(Processor& emu) { RunService(emu, emu.cpu.src1); }

// bal, modac, modpc, fmark and flushreg run with the option -xi: extended.cpp.
// sysctl is reported but harmless: firmware start-up code issues it and runs on.
void Op_sysctl(Processor& emu) { ReportFault(emu, E_INSTR, false); }

}  // namespace korvane
