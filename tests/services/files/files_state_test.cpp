// Open guest files in a saved state: reopened by host path at their position, or left closed
// with one log line when the file is gone.
#include <unistd.h>

#include "files_fixture.h"
#include "services/machine_state.h"

namespace korvane::test {
namespace {

TEST_F(FilesTest, StateReopensOpenFilesAtTheirPositionOrLeavesGoneOnesClosed) {
  std::ofstream(drive_c_ + "/KEEP.TXT") << "0123456789";
  std::ofstream(drive_c_ + "/GONE.TXT") << "abc";
  StartParse();
  const uint32_t keep = OpenName("KEEP    TXT");
  const uint32_t gone = OpenName("GONE    TXT");
  ASSERT_LT(keep, 10u);
  ASSERT_LT(gone, 10u);
  ASSERT_EQ(::lseek(emu().files.slots[keep].fd, 4, SEEK_SET), 4);
  StateArchive saved;
  SerializeFiles(emu(), saved);
  ASSERT_TRUE(saved.ok());

  stdfs::remove(drive_c_ + "/GONE.TXT");
  ::lseek(emu().files.slots[keep].fd, 0, SEEK_SET);
  emu().log.SetCapture(true);
  for (auto mode : {StateArchive::kCheck, StateArchive::kLoad}) {
    StateArchive ar(mode, reinterpret_cast<const uint8_t*>(saved.buffer().data()),
                    saved.buffer().size(), kStateVersion);
    SerializeFiles(emu(), ar);
    EXPECT_TRUE(ar.ok()) << ar.error();
    EXPECT_EQ(ar.left(), 0u);
  }
  char c = 0;
  ASSERT_GE(emu().files.slots[keep].fd, 0);
  EXPECT_EQ(::read(emu().files.slots[keep].fd, &c, 1), 1);
  EXPECT_EQ(c, '4');
  EXPECT_EQ(emu().files.slots[gone].fd, -1);
  EXPECT_NE(emu().log.captured().find("GONE.TXT) did not reopen"), std::string::npos)
      << emu().log.captured();
}

}  // namespace
}  // namespace korvane::test
