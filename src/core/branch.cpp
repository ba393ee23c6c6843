// Branch, test and compare-and-branch instructions.
#include "core/emulator.h"
#include "core/handlers.h"

namespace korvane {

void Op_b(Emulator& emu) { (void)emu; }
void Op_bno(Emulator& emu) { (void)emu; }
void Op_bg(Emulator& emu) { (void)emu; }
void Op_be(Emulator& emu) { (void)emu; }
void Op_bge(Emulator& emu) { (void)emu; }
void Op_bl(Emulator& emu) { (void)emu; }
void Op_bne(Emulator& emu) { (void)emu; }
void Op_ble(Emulator& emu) { (void)emu; }
void Op_bo(Emulator& emu) { (void)emu; }
void Op_testno(Emulator& emu) { (void)emu; }
void Op_testg(Emulator& emu) { (void)emu; }
void Op_teste(Emulator& emu) { (void)emu; }
void Op_testge(Emulator& emu) { (void)emu; }
void Op_testl(Emulator& emu) { (void)emu; }
void Op_testne(Emulator& emu) { (void)emu; }
void Op_testle(Emulator& emu) { (void)emu; }
void Op_testo(Emulator& emu) { (void)emu; }
void Op_bbc(Emulator& emu) { (void)emu; }
void Op_cmpobg(Emulator& emu) { (void)emu; }
void Op_cmpobe(Emulator& emu) { (void)emu; }
void Op_cmpobge(Emulator& emu) { (void)emu; }
void Op_cmpobl(Emulator& emu) { (void)emu; }
void Op_cmpobne(Emulator& emu) { (void)emu; }
void Op_cmpoble(Emulator& emu) { (void)emu; }
void Op_bbs(Emulator& emu) { (void)emu; }
void Op_cmpibno(Emulator& emu) { (void)emu; }
void Op_cmpibg(Emulator& emu) { (void)emu; }
void Op_cmpibe(Emulator& emu) { (void)emu; }
void Op_cmpibge(Emulator& emu) { (void)emu; }
void Op_cmpibl(Emulator& emu) { (void)emu; }
void Op_cmpibne(Emulator& emu) { (void)emu; }
void Op_cmpible(Emulator& emu) { (void)emu; }
void Op_cmpibo(Emulator& emu) { (void)emu; }

}  // namespace korvane
