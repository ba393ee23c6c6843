// Helpers shared by the file and directory handlers: request fields, drive check, file_errnum.
#pragma once

#include <cstdint>
#include <string>

#include "services/files/files.h"

namespace korvane::files {

// file_errnum codes.
constexpr uint32_t kErrFormat = 1;
constexpr uint32_t kErrDrive = 4;
constexpr uint32_t kErrExists = 10;
constexpr uint32_t kErrHost = 11;

uint32_t ReadField(Machine& emu, uint32_t offset);
void WriteField(Machine& emu, uint32_t offset, uint32_t value);
uint32_t GetErrnum(Machine& emu);
void SetErrnum(Machine& emu, uint32_t code);
void SetResult(Machine& emu, bool ok);

// Reads the drive word, sets g9 and returns the drive index 0-9 when the check passes,
// else -1 (the caller then stops and changes nothing).
int DriveCheck(Machine& emu);

// The host name of the packed name at guest address a.
std::string ReadPackedName(Machine& emu, uint32_t a);

// The open slot named by the request's handle, or null for an invalid or free handle.
OpenFileSlot* RequestSlot(Machine& emu);
// Opens `path` for reading in the lowest free slot; the slot number or -1.
int OpenIntoSlot(Machine& emu, const std::string& path);
// Closes a slot's descriptor and frees it, whatever the host says.
void FreeSlot(OpenFileSlot& slot);

}  // namespace korvane::files
