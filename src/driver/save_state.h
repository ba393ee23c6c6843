// State files: the whole machine between two instructions, in one file. docs/state-format.md
// describes every section's fields and the versions.
//
// Layout (integers little-endian):
//   "KORVSTAT"  magic, 8 bytes
//   u32         format version (kStateVersion)
//   32 bytes    SHA-256 of the firmware executable the state belongs to
//   u32         number of sections, then per section: 4-byte name, u64 length, contents
//   u32         CRC-32 of everything before it
// Each section is one component's serialize routine; a file is written to a temporary file
// beside the target and renamed over it, so an interrupted save never leaves a torn file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/state_archive.h"
#include "platform/digest.h"

namespace korvane {

struct Emulator;

// A state file read into memory, its framing checked (magic, version, section table,
// checksum) but not yet compared with a machine.
struct StateFile {
  std::string path;
  std::string bytes;
  uint32_t version = 0;
  Sha256Digest firmware{};
  struct Section {
    std::string name;
    size_t offset = 0;
    size_t size = 0;
  };
  std::vector<Section> sections;
};

// The SHA-256 of the emulator's executable file; false with `error` when it cannot be read.
bool FirmwareDigest(const Emulator& emu, Sha256Digest& out, std::string& error);

// Writes the state of `emu`; the caller makes sure the emulation thread stands between two
// instructions (ended, or paused). Nothing of `emu` changes.
bool SaveState(Emulator& emu, const std::string& path, std::string& error);

// Reads and checks a file's framing; on failure `error` says what is wrong.
bool ReadStateFile(const std::string& path, StateFile& out, std::string& error);
// Checks the framing of the bytes already in `out.bytes` (named out.path in messages) and
// fills in the firmware digest and the section table.
bool ParseStateFile(StateFile& out, std::string& error);
// Compares a state with the machine (firmware, memory layout, video mode, every section's
// size) and checks every field against its range, without changing anything: a state that
// passes loads whole.
bool CheckState(Emulator& emu, const StateFile& state, std::string& error);
// Loads a checked state into the machine: memory, processor, devices; files and serial
// ports are reopened.
void ApplyState(Emulator& emu, const StateFile& state);

}  // namespace korvane
