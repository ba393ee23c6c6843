// Procedure calls, the run-time services reached through service numbers, and the real-number
// conversions that the services and the floating-point instructions share.
#pragma once

#include <cstdint>

#include "core/cpu_state.h"
#include "core/memory_map.h"

namespace korvane {

struct Processor;

// A new frame starts at sp rounded up to 16 bytes.
constexpr uint32_t kFrameAlign = 16;

// Whether a call or return may make the frame at fp the current one: inside the stack's
// storage, with its 64 bytes ending below the stack's last byte (else E_STACKO or E_STACKU).
inline bool FrameUsable(const MemRegion& stack, uint64_t fp) {
  return stack.host != nullptr && fp >= stack.base && fp + kFrameBytes < stack.last;
}

// Service numbers below this many words reach services through callx (A < 1020).
constexpr uint32_t kServiceAddressLimit = 1020;

// The common call operation of call, callx and the service-table path.
void CallProcedure(Processor& emu, uint32_t target);
// Runs service number n as calls does (native service or service-table call).
void RunService(Processor& emu, uint32_t n);
// Runs the native service n (12, 13, 21-27, 38, 40, 42-44, 57-67); false when n is none of
// them, so the caller takes the service-table path.
bool RunNativeService(Processor& emu, uint32_t n);

// True when t may be the target of a call, return or bx: inside TEXT and a multiple of 4.
bool IsValidTarget(const Processor& emu, uint32_t t);

// Real to integer: the low 32 bits of the exact 64-bit integer of an already rounded value.
// NaN, the infinities and magnitudes of 2^63 or more give 0.
int32_t RealToInt32(double rounded);
// The roundings used by the conversions; each returns the value still as a double.
double RoundHalfAway(double v);  // integer part of v + 0.5 (v > 0) or v - 0.5 (v < 0)

// Bit-pattern views of the register forms of reals.
float BitsToSingle(uint32_t bits);
uint32_t SingleToBits(float v);
double PairToDouble(uint32_t low, uint32_t high);
void DoubleToPair(double v, uint32_t* low, uint32_t* high);

}  // namespace korvane
