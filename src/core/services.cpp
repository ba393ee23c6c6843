// The native run-time services: single and double arithmetic, conversions, the guest heap and
// the service table that the firmware fills itself.
#include <cmath>

#include "core/calls.h"
#include "core/processor.h"
#include "core/heap.h"

namespace korvane {

namespace {

constexpr uint32_t kInterfaceVersion = 101;

float G0Single(const CpuState& cpu) { return BitsToSingle(cpu.g[0]); }
float G1Single(const CpuState& cpu) { return BitsToSingle(cpu.g[1]); }
double G01Double(const CpuState& cpu) { return PairToDouble(cpu.g[0], cpu.g[1]); }
double G23Double(const CpuState& cpu) { return PairToDouble(cpu.g[2], cpu.g[3]); }
void SetG0Single(CpuState& cpu, float v) { cpu.g[0] = SingleToBits(v); }
void SetG01Double(CpuState& cpu, double v) { DoubleToPair(v, &cpu.g[0], &cpu.g[1]); }

// Unordered operands read as less, like the compare instructions.
template <typename T>
uint32_t CompareReals(T a, T b) {
  if (a < b || std::isnan(a) || std::isnan(b)) return kCcLess;
  return a == b ? kCcEqual : kCcGreater;
}

}  // namespace

bool RunNativeService(Processor& emu, uint32_t n) {
  CpuState& cpu = emu.cpu;
  switch (n) {
    case 12:  // register a procedure in the service table
      if (cpu.g[0] < static_cast<uint32_t>(kServiceTableSize)) cpu.service_table[cpu.g[0]] = cpu.g[1];
      return true;
    case 13:
      cpu.g[0] = kInterfaceVersion;
      return true;
    case 21:
      SetG0Single(cpu, G0Single(cpu) + G1Single(cpu));
      return true;
    case 22:
      SetG0Single(cpu, G0Single(cpu) - G1Single(cpu));
      return true;
    case 23:
      SetG0Single(cpu, G0Single(cpu) * G1Single(cpu));
      return true;
    case 24: {
      float divisor = G1Single(cpu);
      if (divisor == 0.0f || std::isnan(divisor)) {
        ReportFault(emu, E_DIV0, false);
        SetG0Single(cpu, 0.0f);
      } else {
        SetG0Single(cpu, G0Single(cpu) / divisor);
      }
      return true;
    }
    case 25:
      cpu.cc = CompareReals(G0Single(cpu), G1Single(cpu));
      return true;
    case 26:
      SetG0Single(cpu, static_cast<float>(static_cast<int32_t>(cpu.g[0])));
      return true;
    case 27: {
      float v = G0Single(cpu);  // zero and NaN give 0 through RealToInt32 as well
      cpu.g[0] = static_cast<uint32_t>(RealToInt32(RoundHalfAway(v)));
      return true;
    }
    case 38:
      HeapReset(emu);
      return true;
    case 40:
      return true;
    case 42:
      cpu.g[9] = HeapLargestFree(emu);
      return true;
    case 43:
      cpu.g[6] = HeapAllocate(emu, cpu.g[0]);
      return true;
    case 44:
      HeapFree(emu, cpu.g[0]);
      return true;
    case 57:
      SetG01Double(cpu, G01Double(cpu) + G23Double(cpu));
      return true;
    case 58:
      SetG01Double(cpu, G01Double(cpu) - G23Double(cpu));
      return true;
    case 59:
      SetG01Double(cpu, G01Double(cpu) * G23Double(cpu));
      return true;
    case 60: {
      double divisor = G23Double(cpu);
      if (divisor == 0.0 || std::isnan(divisor)) {
        ReportFault(emu, E_DIV0, false);
        SetG01Double(cpu, 0.0);
      } else {
        SetG01Double(cpu, G01Double(cpu) / divisor);
      }
      return true;
    }
    case 61:
      cpu.cc = CompareReals(G01Double(cpu), G23Double(cpu));
      return true;
    case 62:
      SetG01Double(cpu, static_cast<double>(static_cast<int32_t>(cpu.g[0])));
      return true;
    case 63:
      cpu.g[0] = static_cast<uint32_t>(RealToInt32(std::trunc(G01Double(cpu))));
      return true;
    case 64:
      cpu.g[0] = static_cast<uint32_t>(RealToInt32(std::trunc(double{G0Single(cpu)})));
      return true;
    case 65:
      cpu.g[0] = static_cast<uint32_t>(RealToInt32(std::floor(G01Double(cpu))));
      return true;
    case 66:
      SetG01Double(cpu, double{G0Single(cpu)});
      return true;
    case 67:
      SetG0Single(cpu, static_cast<float>(G01Double(cpu)));
      return true;
    default:
      return false;
  }
}

}  // namespace korvane
