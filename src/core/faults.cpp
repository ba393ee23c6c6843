// Fault codes, the fault reporter and the state report.
#include "core/faults.h"

#include <cstdio>
#include <string>

#include "core/processor.h"

namespace korvane {

namespace {

unsigned long Word(uint32_t v) { return static_cast<unsigned long>(v); }

void DescribeCodeAddress(Processor& emu, uint32_t address) {
  if (emu.hooks.describe_address) emu.hooks.describe_address(emu.hooks.ctx, address);
}

void PrintRow(Processor& emu, char label, int row, const uint32_t (&w)[4]) {
  emu.log.Printf("%c%2d: %08lX %08lX %08lX %08lX\n", label, row, Word(w[0]), Word(w[1]), Word(w[2]),
                 Word(w[3]));
}

void PrintRegisterDump(Processor& emu) {
  CpuState& cpu = emu.cpu;
  emu.log.Printf("- - - - - - - - - - - - - - - - - - - - - - - - - - - -\n");
  for (int row = 0; row < 16; row += 4) {
    uint32_t w[4] = {};
    // Before the loader has made the first frame there are no local registers to show.
    if (cpu.frame)
      for (int i = 0; i < 4; ++i) w[i] = ReadReg(cpu, static_cast<unsigned>(row + i));
    PrintRow(emu, 'r', row, w);
  }
  emu.log.Printf("\n");
  for (int row = 0; row < 16; row += 4) {
    uint32_t w[4] = {cpu.g[row], cpu.g[row + 1], cpu.g[row + 2], cpu.g[row + 3]};
    PrintRow(emu, 'g', row, w);
  }
  emu.log.Printf("\n");
  uint32_t x[4] = {cpu.reserved0[0], cpu.reserved0[1], cpu.ip, cpu.reserved1};
  PrintRow(emu, 'x', 32, x);
  emu.log.Printf("\n");
  DescribeCodeAddress(emu, cpu.ip);
  emu.log.Printf("\n");
}

}  // namespace

const char* FaultName(int code) {
  static const char* const kNames[] = {"E_NONE",   "E_OPCODE",  "E_ENCODING", "E_AMODE",
                                       "E_MEM",    "E_OPERAND", "E_INSTR",    "E_REG",
                                       "E_STACKU", "E_STACKO",  "E_GOTO",     "E_DIV0"};
  return (code >= 0 && code <= E_DIV0) ? kNames[code] : "?";
}

void ReportFault(Processor& emu, int code, bool fatal, const char* note) {
  emu.log.Printf(" ERR %d %s, Opcode %04X %s\n", code, FaultName(code),
                 static_cast<unsigned>(emu.cpu.opcode), "?");
  if (note) emu.log.Printf("%s\n", note);
  ++emu.run.fault_count;
  PrintStateReport(emu);
  emu.log.Printf("\n");
  DescribeCodeAddress(emu, emu.cpu.ip);
  // Where the executable has line numbers, the module line ends with the source line.
  std::string place;
  uint32_t start = 0, end = 0;
  if (emu.hooks.source_line &&
      emu.hooks.source_line(emu.hooks.ctx, emu.cpu.ip, &place, &start, &end))
    emu.log.Printf(" at %s", place.c_str());
  emu.log.Printf("\n");
  // The 20th fault ends the run even when it is not fatal itself.
  if (fatal || emu.run.fault_count >= kFaultLimit) {
    std::snprintf(emu.exit.fault, sizeof emu.exit.fault, "ERR %d %s, Opcode %04X", code,
                  FaultName(code), static_cast<unsigned>(emu.cpu.opcode));
    std::snprintf(emu.exit.hint, sizeof emu.exit.hint, "%s", note ? note : "");
    MsgExit(emu, " Error forced exit ");
  }
}

void PrintStateReport(Processor& emu) {
  if (emu.opt.dr) PrintRegisterDump(emu);
  emu.log.Printf("IP=%08lX  %08lX (%08lX)  %8llu %-8.8s", Word(emu.cpu.ip),
                 Word(emu.cpu.instr_word), 0ul,
                 static_cast<unsigned long long>(CurrentInstructionTotal(emu)), "?");
  if (emu.run.trigger_count > 0) --emu.run.trigger_count;
}

}  // namespace korvane
