// Fault codes, the fault reporter and the state report.
#include "core/faults.h"

#include "core/emulator.h"

namespace korvane {

const char* FaultName(int code) {
  static const char* const kNames[] = {"E_NONE",    "E_OPCODE", "E_ENCODING", "E_AMODE",
                                       "E_MEM",     "E_OPERAND", "E_INSTR",   "E_REG",
                                       "E_STACKU",  "E_STACKO", "E_GOTO",     "E_DIV0"};
  return (code >= 0 && code <= E_DIV0) ? kNames[code] : "?";
}

void ReportFault(Emulator& emu, int code, bool fatal) {
  (void)code;
  if (fatal) MsgExit(emu, " Error forced exit ");
}

void PrintStateReport(Emulator& emu) { (void)emu; }

}  // namespace korvane
