// Native handlers of the identifier table, by service family. Registered in the fixed
// identifier table in one place (image).
#pragma once

namespace korvane {

struct Emulator;

// Intercept dispatch and clock.
void NativeClearText(Emulator& emu);
void NativeInitRtc(Emulator& emu);

// Keyboard.
void NativeReadKeys(Emulator& emu);

// Display.
void NativeGetPixel2Graph(Emulator& emu);

// Serial ports.
void NativeInitPorts(Emulator& emu);
void NativeInitPort(Emulator& emu);
void NativeReadPort(Emulator& emu);
void NativeWritePort(Emulator& emu);
void NativeStatusPort(Emulator& emu);

// File and directory services: one handler per operation, shared by the _filemem, _filedsk
// and _fileport names.
void NativeFileFormat(Emulator& emu);
void NativeFileOpen(Emulator& emu);
void NativeFileCreate(Emulator& emu);
void NativeFileRead(Emulator& emu);
void NativeFileReadline(Emulator& emu);
void NativeFileWrite(Emulator& emu);
void NativeFileSeek(Emulator& emu);
void NativeFileClose(Emulator& emu);
void NativeFileShutdown(Emulator& emu);
void NativeFileDelete(Emulator& emu);
void NativeFileRename(Emulator& emu);
void NativeFileChangeDir(Emulator& emu);
void NativeFileStartParseDir(Emulator& emu);
void NativeFileChangeParseDir(Emulator& emu);
void NativeFileMakeDir(Emulator& emu);
void NativeFileReadDir(Emulator& emu);
void NativeFileStringDir(Emulator& emu);
void NativeFileExists(Emulator& emu);
void NativeFileDefineDrive(Emulator& emu);
void NativeFileInit(Emulator& emu);

}  // namespace korvane
