// Fault codes, the fault reporter and the state report.
#pragma once

#include <cstdint>

namespace korvane {

struct Processor;

enum FaultCode : int {
  E_NONE = 0,
  E_OPCODE = 1,
  E_ENCODING = 2,
  E_AMODE = 3,
  E_MEM = 4,
  E_OPERAND = 5,
  E_INSTR = 6,
  E_REG = 7,
  E_STACKU = 8,
  E_STACKO = 9,
  E_GOTO = 10,
  E_DIV0 = 11,
};

constexpr int kFaultLimit = 20;  // the 20th fault of a run ends it

const char* FaultName(int code);

// Prints the fault, counts it, prints the state report; ends the run (never returns) when the
// fault is fatal or the fault limit is reached. A `note` is logged as its own line right after
// the fault's line.
void ReportFault(Processor& emu, int code, bool fatal, const char* note = nullptr);

// Register dump (with -dr) and the trace line, which has no line end of its own.
void PrintStateReport(Processor& emu);

}  // namespace korvane
