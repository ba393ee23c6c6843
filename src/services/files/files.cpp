// File and directory services on host folders.
#include "services/files/files.h"

#include "core/emulator.h"
#include "services/native_handlers.h"

namespace korvane {

void InitFileServices(Emulator& emu) { emu.files.initialised = true; }

void NativeFileFormat(Emulator& emu) { (void)emu; }
void NativeFileOpen(Emulator& emu) { (void)emu; }
void NativeFileCreate(Emulator& emu) { (void)emu; }
void NativeFileRead(Emulator& emu) { (void)emu; }
void NativeFileReadline(Emulator& emu) { (void)emu; }
void NativeFileWrite(Emulator& emu) { (void)emu; }
void NativeFileSeek(Emulator& emu) { (void)emu; }
void NativeFileClose(Emulator& emu) { (void)emu; }
void NativeFileShutdown(Emulator& emu) { (void)emu; }
void NativeFileDelete(Emulator& emu) { (void)emu; }
void NativeFileRename(Emulator& emu) { (void)emu; }
void NativeFileChangeDir(Emulator& emu) { (void)emu; }
void NativeFileStartParseDir(Emulator& emu) { (void)emu; }
void NativeFileChangeParseDir(Emulator& emu) { (void)emu; }
void NativeFileMakeDir(Emulator& emu) { (void)emu; }
void NativeFileReadDir(Emulator& emu) { (void)emu; }
void NativeFileStringDir(Emulator& emu) { (void)emu; }
void NativeFileExists(Emulator& emu) { (void)emu; }
void NativeFileDefineDrive(Emulator& emu) { (void)emu; }
void NativeFileInit(Emulator& emu) { (void)emu; }

}  // namespace korvane
