// Display emulation: display memory and ports in five video modes, drawn into two picture pages.
#pragma once

#include <cstdint>

namespace korvane {

struct Emulator;

constexpr int kPageWidth = 640;
constexpr int kPageHeight = 820;
constexpr int kPageBytes = kPageWidth * kPageHeight;
constexpr int kShownHeight = 480;

// The seven display access routines, installed per video mode by DisplayInstall.
struct DisplayRoutines {
  uint8_t (*vmem_read_byte)(Emulator&, uint32_t offset);
  uint16_t (*vmem_read_short)(Emulator&, uint32_t offset);
  void (*vmem_write_byte)(Emulator&, uint32_t offset, uint32_t value);
  void (*vmem_write_short)(Emulator&, uint32_t offset, uint32_t value);
  uint8_t (*port_read_byte)(Emulator&, uint32_t port);
  void (*port_write_byte)(Emulator&, uint32_t port, uint32_t value);
  void (*port_write_short)(Emulator&, uint32_t port, uint32_t value);
};

struct DisplayState {
  DisplayRoutines routines;  // valid from construction (routines that do nothing)
  uint8_t* page_a = nullptr; // picture pages of kPageBytes, bottom-up rows
  uint8_t* page_b = nullptr;
  DisplayState();
};

// Installs the access routines of the video mode (options).
void DisplayInstall(Emulator& emu);
// Hands the shell's two picture pages to the display; both drawing and shown page become A.
void DisplayInit(Emulator& emu, uint8_t* page_a, uint8_t* page_b);
// Called on every refresh tick: renders the LCD in mode 5; returns 1 when page B is shown.
int DisplayRefresh(Emulator& emu);
// Copies the shown page's top 480 rows, row 0 first, as 640 x 480 palette indices. Safe to call
// from the window thread while the emulation runs.
void CopyShownPicture(Emulator& emu, uint8_t* out);

}  // namespace korvane
