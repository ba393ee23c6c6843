// Display emulation: display memory and ports in five video modes, drawn into two picture pages.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace korvane {

struct Machine;

constexpr int kPageWidth = 640;
constexpr int kPageHeight = 820;
constexpr int kPageBytes = kPageWidth * kPageHeight;
constexpr int kShownHeight = 480;

// Level tables of the 3-3-2 colour cube in 8-bit colour: the three-bit red and green components
// and the two-bit blue. The window's palette and the screenshots share them.
inline constexpr uint8_t kRgbLevel3[8] = {0, 36, 73, 109, 146, 182, 219, 255};
inline constexpr uint8_t kRgbLevel2[4] = {0, 85, 171, 255};

// The seven display access routines, installed per video mode by DisplayInstall.
struct DisplayRoutines {
  uint8_t (*vmem_read_byte)(Machine&, uint32_t offset);
  uint16_t (*vmem_read_short)(Machine&, uint32_t offset);
  void (*vmem_write_byte)(Machine&, uint32_t offset, uint32_t value);
  void (*vmem_write_short)(Machine&, uint32_t offset, uint32_t value);
  uint8_t (*port_read_byte)(Machine&, uint32_t port);
  void (*port_write_byte)(Machine&, uint32_t port, uint32_t value);
  void (*port_write_short)(Machine&, uint32_t port, uint32_t value);
};

// Geometry of the monochrome LCD of video mode 5, doubled on screen inside a dotted frame.
constexpr int kLcdWidth = 240;
constexpr int kLcdHeight = 128;
constexpr int kLcdRowBytes = kLcdWidth / 8;
constexpr int kLcdBytes = kLcdRowBytes * kLcdHeight;
constexpr int kLcdRefreshDelay = 10;  // refresh ticks that render nothing after start

// Where the LCD's guest arrays live in host memory, resolved on the emulation thread once the
// image is loaded. Each is cut at the end of the region holding its first byte.
struct LcdSource {
  const uint8_t* ram[2] = {nullptr, nullptr};  // display_ram0, display_ram1
  uint32_t ram_bytes[2] = {0, 0};              // at most kLcdBytes each
  const uint8_t* visual = nullptr;             // v.visual
};

// The LCD as the emulation thread last copied it from guest memory. The refreshing thread
// renders from this copy only, so it never reads guest memory that the firmware is storing to.
// The words are touched only through relaxed atomic accesses; a render that overlaps a copy may
// mix old and new words, which the next refresh repairs.
struct LcdSnapshot {
  static constexpr int kWords = kLcdBytes / 8;
  uint64_t ram[2][kWords] = {};    // display_ram0, display_ram1 in guest byte order
  std::atomic<uint8_t> visual{0};  // v.visual
};
static_assert(kLcdBytes % 8 == 0, "the LCD copy is made of whole words");

struct DisplayState {
  DisplayRoutines routines;   // valid from construction (routines that do nothing)
  uint8_t* page_a = nullptr;  // picture pages of kPageBytes, bottom-up rows
  uint8_t* page_b = nullptr;
  DisplayState();

  // Pages used when no window handed its own (the headless runner, tests). From calloc, so
  // pages never drawn on cost no host memory.
  struct FreePages {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t[], FreePages> own_pages;

  // Page contents are only touched through relaxed atomic byte accesses, so the window thread
  // may copy the shown page while the emulation thread draws (a partly drawn picture may show).
  uint8_t* draw = nullptr;    // drawing page: emulation thread only
  std::atomic<int> shown{0};  // shown page: 0 page A, 1 page B

  int mode = 0;         // video mode the routines were installed for
  bool packed = false;  // modes 3 and 4

  // Controller registers (emulation thread only).
  uint8_t seq_index = 0;
  uint8_t seq[256] = {};
  uint8_t gfx_index = 0;
  uint8_t gfx[256] = {};
  uint8_t crt_index = 0;
  uint8_t latch[8] = {};
  uint8_t write_mode = 0;
  uint8_t set_reset = 0;
  uint8_t mapped_set_reset = 0;
  uint8_t dac[256][3] = {};
  uint8_t dac_write_index = 0, dac_write_component = 0;
  uint8_t dac_read_index = 0, dac_read_component = 0;
  uint8_t colour_map[16] = {0, 1, 12, 13, 96, 97, 108, 109, 146, 3, 28, 31, 224, 227, 252, 255};
  bool eight_pixel = false;
  // Modes 3 and 4: the routine that writes display-memory bytes, chosen by the last write to
  // the graphics mode or pixel-group register (a latch copy of the kind eight_pixel says).
  enum PackedWrite : uint8_t { kPlaneWrite, kLatchCopy, kColourExpand, kTwoColourExpand };
  uint8_t packed_write = kPlaneWrite;

  // Mode 5: the arrays' location (emulation thread only) and the copy rendered from, published
  // with its first contents by the emulation thread (release) for the refreshing thread.
  LcdSource lcd;
  LcdSnapshot lcd_snapshot;
  std::atomic<bool> lcd_ready{false};
  int lcd_countdown = kLcdRefreshDelay;  // refreshing thread only
};

// Installs the access routines of the video mode (options).
void DisplayInstall(Machine& emu);
// The byte-write routine of modes 3 and 4 that the graphics mode register's value selects.
uint8_t PackedWriteOfModeRegister(const DisplayState& d);
// Sets the routines that depend on controller registers (modes 3 and 4: eight_pixel and
// packed_write) from those registers, as after a loaded state.
void DisplayRestoreRoutines(Machine& emu);
// Hands the shell's two picture pages to the display; both drawing and shown page become A.
// Call it before the emulation thread starts.
void DisplayInit(Machine& emu, uint8_t* page_a, uint8_t* page_b);
// Called on every refresh tick: renders the LCD's latest copy in mode 5 (see
// DisplaySnapshotLcd); returns 1 when page B is shown.
int DisplayRefresh(Machine& emu);
// Mode 5, emulation thread: copies display_ram0, display_ram1 and v.visual from guest memory into
// the copy that DisplayRefresh renders. The run loop calls it when it starts, every 32768
// instructions and when it ends; DisplayResolveLcd makes the first copy. Does nothing in other
// modes.
void DisplaySnapshotLcd(Machine& emu) noexcept;
// Copies the shown page's top 480 rows, row 0 first, as 640 x 480 palette indices. Safe to call
// from the window thread while the emulation runs.
void CopyShownPicture(Machine& emu, uint8_t* out);
// Finds the LCD arrays of mode 5 in guest memory; DisplayInstall calls it, on the emulation
// thread, after the image's data regions exist.
void DisplayResolveLcd(Machine& emu);

// Red, green and blue of a palette index in the window's 3-3-2 colour cube.
struct Rgb {
  uint8_t r, g, b;
};
Rgb PaletteColour(uint8_t index);

}  // namespace korvane
