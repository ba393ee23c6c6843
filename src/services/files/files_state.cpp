// The file services' part of a saved state: drives, the parse state and the open files.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "services/files/file_common.h"
#include "services/files/files.h"
#include "services/machine.h"
#include "services/machine_state.h"

namespace korvane {

void SerializeFiles(Machine& emu, StateArchive& ar) {
  FileState& f = emu.files;
  ar.Flag(f.initialised, "initialised");
  for (DriveEntry& d : f.drives) {
    ar.String(d.root);
    ar.String(d.search);
    ar.String(d.current);
  }
  ar.Ranged(f.parse_drive, 0, kDriveCount - 1, "parse_drive");
  ar.String(f.parse_path);
  ar.Value(f.string_dir_block);
  ar.Value(f.errnum_fallback);
  for (int i = 0; i < kOpenFileSlots; ++i) {
    OpenFileSlot& slot = f.slots[i];
    const bool open = ar.ScalarFlag(slot.fd >= 0, "open");
    if (!open) {
      if (ar.loading()) files::FreeSlot(slot);
      continue;
    }
    int64_t position = 0;
    if (ar.saving()) position = ::lseek(slot.fd, 0, SEEK_CUR);
    const std::string dos = ar.Text(slot.path);
    if (ar.version() < 2) ar.Text("");  // version 1 kept a host path, which no load trusts now
    const int mode = ar.ScalarRanged(slot.mode, 0, 1, "mode");
    position = ar.ScalarRanged(position, int64_t{0}, INT64_MAX, "position");
    if (!ar.loading() || !ar.ok()) continue;
    // Reopened by its DOS path in this machine's drives, never by a host path from the file:
    // a state may come from another folder or another person, and reaches only what the
    // firmware itself could. A file that is gone leaves the handle closed.
    files::FreeSlot(slot);
    const int fd = mode == 1 ? HostReopenWrite(f.host, dos) : HostOpenRead(f.host, dos);
    if (fd >= 0 && ::lseek(fd, position, SEEK_SET) == position) {
      slot.fd = fd;
      slot.mode = mode;
      slot.path = dos;
      continue;
    }
    const int err = fd >= 0 ? EINVAL : errno;
    if (fd >= 0) ::close(fd);
    emu.log.Printf("state: file handle %d (%s) did not reopen (%s); it stays closed\n", i,
                   dos.c_str(), std::strerror(err));
  }
}

}  // namespace korvane
