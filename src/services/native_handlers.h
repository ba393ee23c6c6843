// Native handlers of the identifier table, by service family. Registered in the fixed
// identifier table in one place (image).
#pragma once

namespace korvane {

struct Machine;

// Intercept dispatch and clock.
void NativeClearText(Machine& emu);
void NativeInitRtc(Machine& emu);

// Keyboard.
void NativeReadKeys(Machine& emu);

// Display.
void NativeGetPixel2Graph(Machine& emu);

// Serial ports.
void NativeInitPorts(Machine& emu);
void NativeInitPort(Machine& emu);
void NativeReadPort(Machine& emu);
void NativeWritePort(Machine& emu);
void NativeStatusPort(Machine& emu);

// File and directory services: one handler per operation, shared by the _filemem, _filedsk
// and _fileport names.
void NativeFileFormat(Machine& emu);
void NativeFileOpen(Machine& emu);
void NativeFileCreate(Machine& emu);
void NativeFileRead(Machine& emu);
void NativeFileReadline(Machine& emu);
void NativeFileWrite(Machine& emu);
void NativeFileSeek(Machine& emu);
void NativeFileClose(Machine& emu);
void NativeFileShutdown(Machine& emu);
void NativeFileDelete(Machine& emu);
void NativeFileRename(Machine& emu);
void NativeFileChangeDir(Machine& emu);
void NativeFileStartParseDir(Machine& emu);
void NativeFileChangeParseDir(Machine& emu);
void NativeFileMakeDir(Machine& emu);
void NativeFileReadDir(Machine& emu);
void NativeFileStringDir(Machine& emu);
void NativeFileExists(Machine& emu);
void NativeFileDefineDrive(Machine& emu);
void NativeFileInit(Machine& emu);

}  // namespace korvane
