// The fixed part of the identifier table: the guest names the emulator resolves, with the
// native handlers that stand in for intercepted firmware routines.
#include "image/ident_table.h"

#include <cstdio>
#include <iterator>

#include "services/native_handlers.h"

namespace korvane {

namespace {

constexpr uint32_t kRunsGuestToo = 2;  // the firmware's routine still runs after the handler

// One row of the fixed table. Rows without a handler are variables, or routines that are
// skipped outright when they are intercepted.
struct FixedIdent {
  const char* name;
  NativeHandler handler;
  uint32_t flags;
};

// The twenty file operations, in table order; each exists with three suffixes and the three
// names share one handler.
struct FileOperation {
  const char* name;
  NativeHandler handler;
};
constexpr FileOperation kFileOperations[] = {
    {"format", NativeFileFormat},
    {"open", NativeFileOpen},
    {"create", NativeFileCreate},
    {"read", NativeFileRead},
    {"readline", NativeFileReadline},
    {"write", NativeFileWrite},
    {"seek", NativeFileSeek},
    {"close", NativeFileClose},
    {"shutdown", NativeFileShutdown},
    {"delete", NativeFileDelete},
    {"rename", NativeFileRename},
    {"change_dir", NativeFileChangeDir},
    {"start_parse_dir", NativeFileStartParseDir},
    {"change_parse_dir", NativeFileChangeParseDir},
    {"make_dir", NativeFileMakeDir},
    {"read_dir", NativeFileReadDir},
    {"string_dir", NativeFileStringDir},
    {"exists", NativeFileExists},
    {"define_drive", NativeFileDefineDrive},
    {"init", NativeFileInit},
};
constexpr const char* kFileSuffixes[] = {"_filemem", "_filedsk", "_fileport"};

// Rows 0-18: placeholder, start-up variables, key reading, clock.
constexpr FixedIdent kHead[] = {
    {"<------>", nullptr, 0},  // placeholder: index 0 means "no entry"
    {"s.showfn", nullptr, 0},
    {"navigate_msg_mode", nullptr, 0},
    {"x$cleartext", NativeClearText, kRunsGuestToo},
    {"x$readkeys", NativeReadKeys, 0},
    {"system_timer", nullptr, 0},
    {"readkeys_ch", nullptr, 0},
    {"onkey", nullptr, 0},
    {"newonkey", nullptr, 0},
    {"file_errnum", nullptr, 0},
    {"korvane_version", nullptr, 0},
    {"korvane_active", nullptr, 0},
    {"rtc_present", nullptr, 0},
    {"rtc_backup_ok", nullptr, 0},
    {"x$init_rtc", NativeInitRtc, 0},
    {"x$read_rtc", nullptr, 0},
    {"x$write_rtc", nullptr, 0},
    {"x$stop_rtc", nullptr, 0},
    {"x$start_rtc", nullptr, 0},
};

// Rows 79-95: serial ports, pixel read-back, port and display variables, the key twin T_0.
constexpr FixedIdent kTail[] = {
    {"x$init_ports", NativeInitPorts, kRunsGuestToo},
    {"x$init_port", NativeInitPort, 0},
    {"x$read_port", NativeReadPort, 0},
    {"x$write_port", NativeWritePort, 0},
    {"x$status_port", NativeStatusPort, 0},
    {"x$insert_spy_ports_INIT", nullptr, 0},
    {"x$insert_spy_ports_READ", nullptr, 0},
    {"x$insert_spy_ports_WRITE", nullptr, 0},
    {"x$get_pixel_2graph", NativeGetPixel2Graph, 0},
    {"port1", nullptr, 0},
    {"port2", nullptr, 0},
    {"port3", nullptr, 0},
    {"port4", nullptr, 0},
    {"display_ram0", nullptr, 0},
    {"display_ram1", nullptr, 0},
    {"v.visual", nullptr, 0},
    {"T_0", nullptr, 0},
};

// Rows 96-151: the key identifiers, variables the keyboard emulation sets.
constexpr const char* kKeyNames[] = {
    "N_NOKEY",       "N_SOFT_LEVEL_NEXT",
    "N_BLANK",       "N_CLEAR",
    "N_Fn1",         "N_Fn2",
    "N_Fn3",         "N_Fn4",
    "N_Fn5",         "N_Fn6",
    "N_Fn7",         "N_Fn8",
    "N_Fn9",         "N_Fn10",
    "N_EXIT",        "N_UP",
    "N_DOWN",        "N_LEFT",
    "N_RIGHT",       "N_PAGEUP",
    "N_PAGEDOWN",    "N_HOME",
    "N_ENTER",       "N_JUMP",
    "N_0",           "N_1",
    "N_2",           "N_3",
    "N_4",           "N_5",
    "N_6",           "N_7",
    "N_8",           "N_9",
    "N_POINT",       "N_MINUS",
    "N_TABDEC",      "N_TABINC",
    "N_SCREENDUMP1", "N_SCREENDUMP2",
    "N_SCREENDUMP3", "N_PARAMETER1",
    "N_PARAMETER2",  "N_PARAMETER3",
    "N_HELP",        "N_CALC",
    "N_STATUS",      "N_STATUS_NEXT",
    "N_START",       "N_STOP",
    "N_REMAP_A1",    "N_REMAP_A2",
    "N_REMAP_B1",    "N_REMAP_B2",
    "N_REMAP_C1",    "N_REMAP_C2",
};

static_assert(std::size(kHead) + 3 * std::size(kFileOperations) + std::size(kTail) +
                      std::size(kKeyNames) ==
                  kFixedIdentCount,
              "the fixed identifier table has 152 entries");

void Put(IdentEntry* table, int& n, const char* name, NativeHandler handler, uint32_t flags) {
  IdentEntry& e = table[n++];
  e = IdentEntry{};
  for (size_t i = 0; name[i] != '\0' && i + 1 < sizeof e.name; ++i) e.name[i] = name[i];
  e.handler = handler;
  e.flags = flags;
}

}  // namespace

void FillFixedIdents(IdentEntry (&table)[kIdentCapacity]) {
  for (auto& e : table) e = IdentEntry{};
  int n = 0;
  for (const auto& row : kHead) Put(table, n, row.name, row.handler, row.flags);
  for (const char* suffix : kFileSuffixes) {
    for (const auto& op : kFileOperations) {
      char name[32];
      std::snprintf(name, sizeof name, "x$%s%s", op.name, suffix);
      Put(table, n, name, op.handler, 0);
    }
  }
  for (const auto& row : kTail) Put(table, n, row.name, row.handler, row.flags);
  for (const char* key : kKeyNames) Put(table, n, key, nullptr, 0);
}

}  // namespace korvane
