// Option variables of a run, read from the option file and the project line by the driver.
// Plain data: every layer reads the options that concern it.
#pragma once

#include <cstdint>

namespace korvane {

constexpr int kProjectNameSize = 68;
constexpr int kDriveListSize = 16;
constexpr int kMaxArgs = 10;

struct Options {
  uint32_t bc_start = 0, bc_end = 0;  // -bc code break range
  uint32_t bd_start = 0, bd_end = 0;  // -bd data break range
  int bd_kind = 2;                    // 0 read, 1 write, 2 both
  uint32_t bo_start = 0, bo_end = 0;  // -bo opcode break range
  bool dc = false;                    // -dc
  bool di = false;                    // -di log intercepted calls
  bool dk = false;                    // -dk log keys that reach the firmware
  bool dm = false;                    // -dm log accesses outside every region
  long dn = 0;                        // -dn
  int soft_keys = 10;                 // -sk
  long tc = 0;                        // -tc trigger count
  bool dr = false;                    // -dr register dump
  char drive_list[kDriveListSize] = "ABCD??????";  // -drv
  int com_map[4] = {0, 0, 0, 0};      // -por: COM number of port1..port4, 0 = not mapped
  long ic = 0;                        // -ic
  bool init_key = false;              // -i
  long kk = 0;                        // -kk
  long mo = 0;                        // -mo memory-file offset
  bool suspend = true;                // -sp
  int video = 1;                      // -v
  bool wait = false;                  // -w
  bool xi = false;                    // -xi execute the full instruction set
  char project_name[kProjectNameSize] = {};
};

}  // namespace korvane
