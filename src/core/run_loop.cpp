// The run loop: fetch, decode, execute, system_timer, statistics.
#include "core/run_loop.h"

#include <chrono>
#include <cstring>
#include <ctime>

#include "core/processor.h"

namespace korvane {

namespace {

constexpr uint32_t kTimerInterval = 32768;  // system_timer is written every 32768 instructions
constexpr uint32_t kS1 = 1u << 5, kS2 = 1u << 6, kM1 = 1u << 11, kM2 = 1u << 12;
constexpr uint32_t kScale[8] = {1, 2, 4, 8, 16, 1, 1, 1};  // codes 5-7 are reserved: 1

int64_t WallMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t ProcessMs() { return static_cast<int64_t>(std::clock()) * 1000 / CLOCKS_PER_SEC; }

void WriteSystemTimer(Processor& emu, uint32_t ms) {
  RunState& run = emu.run;
  if (!run.system_timer) return;
  uint32_t n = run.system_timer_avail < 4 ? run.system_timer_avail : 4;
  std::memcpy(run.system_timer, &ms, n);  // bytes past the variable's region are dropped
}

uint32_t TimerValue(Processor& emu) {
  RunState& run = emu.run;
  const uint32_t ms =
      run.virtual_time_instructions > 0
          ? static_cast<uint32_t>(CurrentInstructionTotal(emu) / run.virtual_time_instructions)
          : static_cast<uint32_t>(WallMs() - run.wall_start_ms);
  if (emu.hooks.clock_reading)
    return emu.hooks.clock_reading(emu.hooks.clock_ctx, CurrentInstructionTotal(emu), ms);
  return ms;
}

[[noreturn]] void IpOutOfRange(Processor& emu) {
  PrintStateReport(emu);
  MsgExit(emu, "IP out of range");
}

// Word of the text region at guest address a; a word that runs past the region's end reads
// zeros for the missing bytes, and an address outside the region ends the run.
uint32_t FetchTextSlow(Processor& emu, uint32_t a) {
  const MemRegion& text = emu.mem.regions[kRegionText];
  uint32_t off = a - text.base;
  if (!text.host || off >= text.size) IpOutOfRange(emu);
  uint32_t w = 0;
  uint32_t n = text.size - off < 4 ? text.size - off : 4;
  std::memcpy(&w, text.host + off, n);
  return w;
}

// The run counters are 32-bit signed and wrap like the guest-visible count; the increment is
// done unsigned so a long run never overflows a signed integer.
inline void CountUp(int32_t& counter) {
  counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + 1u);
}

inline uint32_t Sext(uint32_t v, int bits) {
  return static_cast<uint32_t>(static_cast<int32_t>(v << (32 - bits)) >> (32 - bits));
}

// One REG or COBR source: a literal (M bit), a register's contents, or for operand sizes above 4
// the number of the group's first register.
inline void DecodeSource(Processor& emu, uint32_t field, bool special, bool literal,
                         uint32_t& value, uint8_t& reg, bool& is_literal) {
  if (special) ReportFault(emu, E_OPERAND, true);
  reg = static_cast<uint8_t>(field);
  is_literal = literal;
  if (literal) {
    value = field;
  } else if (emu.cpu.opsize <= 4) {
    value = ReadReg(emu.cpu, field);
  }
}

inline uint32_t MemDisplacement(Processor& emu) {
  CpuState& cpu = emu.cpu;
  cpu.length = 8;
  const MemRegion& text = emu.mem.regions[kRegionText];
  const uint32_t off = cpu.ip + 4 - text.base;
  if (__builtin_expect(static_cast<uint64_t>(off) + 4 <= text.size && text.host != nullptr, 1)) {
    uint32_t w;
    std::memcpy(&w, text.host + off, 4);
    return w;
  }
  return FetchTextSlow(emu, cpu.ip + 4);
}

void DecodeMem(Processor& emu, uint8_t size, uint32_t w) {
  CpuState& cpu = emu.cpu;
  const uint32_t mode = (w >> 10) & 0xF;
  const uint32_t abase = (w >> 14) & 31;
  const uint32_t offset = w & 0xFFF;
  auto index_scaled = [&] { return ReadReg(cpu, w & 31) * kScale[(w >> 7) & 7]; };
  uint32_t ea = 0;
  switch (mode) {
    case 0: case 1: case 2: case 3: ea = offset; break;
    case 8: case 9: case 10: case 11: ea = ReadReg(cpu, abase) + offset; break;
    case 4: ea = ReadReg(cpu, abase); break;
    case 5: ea = MemDisplacement(emu) + cpu.ip + 8; break;
    case 7: ea = ReadReg(cpu, abase) + index_scaled(); break;
    case 12: ea = MemDisplacement(emu); break;
    case 13: ea = ReadReg(cpu, abase) + MemDisplacement(emu); break;
    case 14: ea = index_scaled() + MemDisplacement(emu); break;
    case 15: ea = ReadReg(cpu, abase) + index_scaled() + MemDisplacement(emu); break;
    default: ReportFault(emu, E_AMODE, true);  // mode 6 is reserved
  }
  cpu.ea = ea;
  cpu.opsize = size;
  cpu.dst = static_cast<uint8_t>((w >> 19) & 31);
}

// Decoder kinds: the REG forms by their operands, then the other formats.
enum DecodeKind : uint8_t {
  kDecodeUndefined = 0,
  kDecodeRegSrc1Src2Dst,  // the common REG form with word operands
  kDecodeRegOther,        // any other operand combination or size
  kDecodeCobrTest,
  kDecodeCobrCompare,
  kDecodeCtrl,
  kDecodeMem,
};

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
      case kFormatCobr: d.kind = op <= 0x27 ? kDecodeCobrTest : kDecodeCobrCompare; break;
      case kFormatCtrl: d.kind = kDecodeCtrl; break;
      case kFormatMem: d.kind = kDecodeMem; break;
    }
  }
}

// Operands of any REG form, following the entry's operand flags.
void DecodeRegOther(Processor& emu, const OpcodeEntry& e, uint32_t w) {
  CpuState& cpu = emu.cpu;
  cpu.opsize = e.size;
  if (e.has_src1)
    DecodeSource(emu, w & 31, w & kS1, w & kM1, cpu.src1, cpu.src1_reg, cpu.src1_lit);
  if (e.has_src2)
    DecodeSource(emu, (w >> 14) & 31, w & kS2, w & kM2, cpu.src2, cpu.src2_reg, cpu.src2_lit);
  if (e.has_dst) cpu.dst = static_cast<uint8_t>((w >> 19) & 31);
}

// Decodes the operands of an instruction whose opcode is defined, then runs its handler.
inline void DecodeAndExecute(Processor& emu, const OpcodeEntry* table, const DecodeInfo& d,
                             uint32_t w) {
  CpuState& cpu = emu.cpu;
  switch (d.kind) {
    case kDecodeRegSrc1Src2Dst: {
      cpu.opsize = d.size;
      if (w & (kS1 | kS2)) ReportFault(emu, E_OPERAND, true);
      const uint32_t f1 = w & 31, f2 = (w >> 14) & 31;
      cpu.src1_reg = static_cast<uint8_t>(f1);
      cpu.src2_reg = static_cast<uint8_t>(f2);
      cpu.src1_lit = (w & kM1) != 0;
      cpu.src2_lit = (w & kM2) != 0;
      cpu.src1 = cpu.src1_lit ? f1 : ReadReg(cpu, f1);
      cpu.src2 = cpu.src2_lit ? f2 : ReadReg(cpu, f2);
      cpu.dst = static_cast<uint8_t>((w >> 19) & 31);
      break;
    }
    case kDecodeRegOther:
      DecodeRegOther(emu, table[emu.run.opcode_index[cpu.opcode]], w);
      break;
    case kDecodeCobrTest:
      cpu.opsize = 4;
      cpu.ea = Sext(w & 0x1FFC, 13);
      cpu.dst = static_cast<uint8_t>((w >> 19) & 31);
      DecodeSource(emu, (w >> 14) & 31, w & 1, false, cpu.src2, cpu.src2_reg, cpu.src2_lit);
      break;
    case kDecodeCobrCompare:
      cpu.opsize = 4;
      cpu.ea = Sext(w & 0x1FFC, 13);
      DecodeSource(emu, (w >> 19) & 31, false, w & (1u << 13), cpu.src1, cpu.src1_reg,
                   cpu.src1_lit);
      DecodeSource(emu, (w >> 14) & 31, w & 1, false, cpu.src2, cpu.src2_reg, cpu.src2_lit);
      break;
    case kDecodeCtrl:
      cpu.opsize = 4;
      cpu.ea = Sext(w & 0xFFFFFC, 24);
      break;
    case kDecodeMem:
      DecodeMem(emu, d.size, w);
      break;
    default:
      ReportFault(emu, E_OPCODE, true);
  }
  d.handler(emu);
}

void PrintStatistics(Processor& emu, int64_t ms) {
  const CpuState& cpu = emu.cpu;
  double seconds = static_cast<double>(ms) * 0.001;
  long dtime = static_cast<long>(seconds * 100.0);
  emu.log.Printf("Elapsed time: %2.1f seconds (dtime=%ld)\n", seconds, dtime);
  emu.log.Printf("\n%ld  %ld  %ld  %ld  Instructions= %ld, Time/Instr= %ld ns\n",
                 static_cast<long>(cpu.fast_reg), static_cast<long>(cpu.addi_count),
                 static_cast<long>(cpu.addo_count), static_cast<long>(cpu.fast_lit),
                 static_cast<long>(cpu.icount),
                 static_cast<long>(TimePerInstruction(dtime, cpu.icount)));
}

// Host controls, looked at every 32768 instructions. Returns true when the host wants the loop
// to stop; while a pause is requested the thread waits until it is resumed or stopped.
bool HostWantsStop(Processor& emu) { return emu.run.control.WaitWhilePaused(); }

// Instruction count at which the loop must next look beyond the exit request: the next
// system_timer point, or the end of the instruction budget if that comes first.
uint32_t NextCheckPoint(const Processor& emu, uint32_t count) {
  const RunState& run = emu.run;
  uint64_t step = kTimerInterval - (count & (kTimerInterval - 1));
  if (run.max_instructions > 0) {
    uint64_t left = run.max_instructions > run.executed ? run.max_instructions - run.executed : 0;
    if (left < step) step = left;
  }
  return count + static_cast<uint32_t>(step);
}

}  // namespace

int64_t TimePerInstruction(int64_t dtime, int32_t count) {
  if (count == 0) return 0;
  if (count < 1000) return dtime * 10000000 / count;
  return dtime * 10000 / (count / 1000);
}

uint64_t CurrentInstructionTotal(const Processor& emu) {
  return emu.run.executed + (static_cast<uint32_t>(emu.cpu.icount) - emu.run.executed_mark);
}

uint64_t PublishedInstructionTotal(const Processor& emu) {
  return emu.run.published_executed.load(std::memory_order_relaxed);
}

uint32_t PublishedSystemTimer(const Processor& emu) {
  return emu.run.published_timer_ms.load(std::memory_order_relaxed);
}

uint32_t ReadSystemTimer(Processor& emu) {
  RunState& run = emu.run;
  if (!run.system_timer) return 0;
  if (run.virtual_time_instructions > 0) WriteSystemTimer(emu, TimerValue(emu));
  uint32_t v = 0;
  std::memcpy(&v, run.system_timer, run.system_timer_avail < 4 ? run.system_timer_avail : 4);
  return v;
}

void RunLoop(Processor& emu) {
  CpuState& cpu = emu.cpu;
  RunState& run = emu.run;
  MemoryMap& mem = emu.mem;

  // The image phase builds the index; a caller that skipped it still gets a working loop.
  if (run.opcode_index[0x08] == 0) BuildOpcodeIndex(run.opcode_index);
  BuildDecodeInfo(run);
  const OpcodeEntry* const table = OpcodeTable();

  run.wall_start_ms = WallMs() - run.start_timer_ms;
  run.process_start_ms = ProcessMs();
  cpu.length = 0;
  run.trigger_count = static_cast<int32_t>(emu.opt.tc);
  run.stopped_by_host = false;
  run.executed = run.start_executed;
  run.executed_mark = static_cast<uint32_t>(cpu.icount);
  if (emu.opt.dm) {
    mem.unmapped_log = &emu.log;
    mem.unmapped_ip = &cpu.ip;
  }

  const ProcessorHooks hooks = emu.hooks;
  HostControl& control = run.control;

  // Regions never change once the loop runs, so the text window is cached.
  const MemRegion& text = mem.regions[kRegionText];
  const uint8_t* const text_host = text.host;
  const uint32_t text_base = text.base;
  const uint64_t text_size = text_host ? text.size : 0;

  uint32_t count = static_cast<uint32_t>(cpu.icount);
  uint32_t check_point = NextCheckPoint(emu, count);

  for (;;) {
    cpu.ip += cpu.length;
    const uint32_t off = cpu.ip - text_base;
    uint32_t w;
    if (__builtin_expect(static_cast<uint64_t>(off) + 4 <= text_size, 1)) {
      std::memcpy(&w, text_host + off, 4);
    } else {
      w = FetchTextSlow(emu, cpu.ip);
    }
    cpu.instr_word = w;
    cpu.length = 4;

    const uint32_t fast = w & 0xFF843F70;
    if (fast == 0x59000000) {
      // addo/addi with three local registers.
      uint32_t a, b;
      std::memcpy(&a, cpu.frame + 4 * (w & 15), 4);
      std::memcpy(&b, cpu.frame + 4 * ((w >> 14) & 15), 4);
      a += b;
      std::memcpy(cpu.frame + 4 * ((w >> 19) & 15), &a, 4);
      CountUp(cpu.fast_reg);
    } else if (fast == 0x59000800) {
      // addo/addi of a literal 0-15 to a local register.
      uint32_t b;
      std::memcpy(&b, cpu.frame + 4 * ((w >> 14) & 15), 4);
      b += w & 15;
      std::memcpy(cpu.frame + 4 * ((w >> 19) & 15), &b, 4);
      CountUp(cpu.fast_lit);
    } else {
      const uint32_t opcode = OpcodeOf(w);
      cpu.opcode = opcode;
      if (opcode == 0x591) CountUp(cpu.addi_count);
      if (opcode == 0x590) CountUp(cpu.addo_count);
      DecodeAndExecute(emu, table, run.decode[opcode], w);
    }

    ++count;
    cpu.icount = static_cast<int32_t>(count);
    // The one per-instruction test: a check point (timer, instruction budget) reached, or the
    // attention flag (an exit request, or a request of the host).
    if (__builtin_expect((count == check_point) | control.attention(), 0)) {
      if (count == check_point) {
        run.executed += count - run.executed_mark;
        run.executed_mark = count;
        bool stop = false;
        if ((count & (kTimerInterval - 1)) == 0) {
          const uint32_t timer = TimerValue(emu);
          WriteSystemTimer(emu, timer);
          run.published_timer_ms.store(timer, std::memory_order_relaxed);
          run.published_executed.store(run.executed, std::memory_order_relaxed);
          if (hooks.check_point) hooks.check_point(hooks.ctx);  // before a pause
          stop = HostWantsStop(emu);
        }
        if (run.max_instructions > 0 && run.executed >= run.max_instructions) stop = true;
        if (stop && emu.exit.code == 0) {
          run.stopped_by_host = true;
          break;
        }
        check_point = NextCheckPoint(emu, count);
      }
      if (emu.exit.code != 0) break;
      if (control.attention()) {
        // A host request between check points: stop or pause at the end of this instruction.
        control.ClearAttention();
        if (control.stop_requested() || control.pause_requested()) {
          run.executed += count - run.executed_mark;
          run.executed_mark = count;
          run.published_executed.store(run.executed, std::memory_order_relaxed);
          if (hooks.check_point) hooks.check_point(hooks.ctx);  // a paused window is current
          if (HostWantsStop(emu)) {
            run.stopped_by_host = true;
            break;
          }
        }
      }
    }
  }

  run.executed += count - run.executed_mark;
  run.executed_mark = count;
  run.published_executed.store(run.executed, std::memory_order_relaxed);
  mem.unmapped_log = nullptr;

  PrintStateReport(emu);
  emu.log.Printf(" EXIT REQUESTED\n");
  int64_t process_end = ProcessMs();
  PrintStatistics(emu, process_end - run.process_start_ms);
}

}  // namespace korvane
