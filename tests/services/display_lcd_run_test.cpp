// Tests of the mode-5 LCD copy made by the run loop: what the window renders while and after a
// firmware draws, with the refreshing done on a second thread as the window does.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "services/display.h"
#include "support/lcd_firmware.h"
#include "support/snippet.h"

namespace korvane {
namespace {

using test::RunSnippet;
using test::SnippetOptions;

using test::kLcdData;

// Endless drawing: every byte of both arrays gets a running value, then v.visual gets it too,
// so the arrays and the page choice change all the time.
const char* const kDrawForever = R"(
	lda	display_ram0,r4
	lda	display_ram1,r5
	lda	v.visual,r10
	mov	0,r7
outer:
	ldconst	3840,r6
inner:
	subo	1,r6,r6
	addo	r4,r6,r8
	stob	r7,(r8)
	addo	r5,r6,r8
	stob	r7,(r8)
	addo	1,r7,r7
	cmpobne	0,r6,inner
	stob	r7,(r10)
	b	outer
)";

uint8_t PagePixel(const Emulator& emu, int page, int x, int y) {
  const uint8_t* p = page ? emu.display.page_b : emu.display.page_a;
  return p[kPageWidth * (kPageHeight - 1 - y) + x];
}

// Refreshes until the LCD is drawn and checks the shown page against the guest arrays as the
// firmware left them.
void ExpectShowsGuestArrays(test::SnippetRun& run) {
  while (run.display.lcd_countdown > 0) DisplayRefresh(run);
  const int visual = run.Read8(run.Sym("v.visual")) != 0 ? 1 : 0;
  ASSERT_EQ(DisplayRefresh(run), visual) << "v.visual chooses the page";
  const uint32_t ram = run.Sym(visual ? "display_ram1" : "display_ram0");
  int wrong = 0;
  for (int sy = 0; sy < kLcdHeight; ++sy) {
    for (int sx = 0; sx < kLcdWidth; ++sx) {
      const uint8_t byte = run.Read8(ram + static_cast<uint32_t>(sy * kLcdRowBytes + sx / 8));
      const uint8_t want = ((byte >> (7 - sx % 8)) & 1) ? 255 : 0;
      if (PagePixel(run, visual, 80 + 2 * sx, 112 + 2 * sy) != want) ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0) << "LCD pixels differing from the firmware's last stores";
}

// The window thread refreshes and copies the picture while the emulation thread draws. Under
// ThreadSanitizer this must report nothing; in any build the final picture must match the
// arrays.
TEST(LcdCopy, WindowThreadRefreshesWhileTheFirmwareDraws) {
  std::atomic<Emulator*> running{nullptr};
  std::atomic<bool> done{false};
  std::atomic<int> refreshes{0};
  std::thread window([&] {
    Emulator* emu;
    while (!(emu = running.load()) && !done.load()) std::this_thread::yield();
    std::vector<uint8_t> picture(static_cast<size_t>(kPageWidth) * kShownHeight);
    while (emu && !done.load()) {
      DisplayRefresh(*emu);
      CopyShownPicture(*emu, picture.data());
      refreshes.fetch_add(1);
    }
  });
  SnippetOptions options;
  options.options = "-v5";
  options.before_run = [&](Emulator& emu) {
    running.store(&emu);
    // Start drawing only once the window renders (its first ten ticks draw nothing).
    while (refreshes.load() < 12) std::this_thread::yield();
  };
  // Not a multiple of 32768: the loop ends between two check points.
  auto run = RunSnippet(std::string(kDrawForever) + kLcdData, 1000003, options);
  done.store(true);
  window.join();
  ASSERT_TRUE(run->assembled);
  EXPECT_FALSE(run->ended_by_exit) << run->ExitMessage();
  EXPECT_GE(refreshes.load(), 12);
  ExpectShowsGuestArrays(*run);
}

// A pause requested by the window takes effect after the current instruction; the picture drawn
// so far must be the one shown during the pause, not the one of the loop's start.
TEST(LcdCopy, PausedLoopShowsThePictureDrawnSoFar) {
  std::atomic<Emulator*> running{nullptr};
  std::atomic<bool> saw_picture{false};
  std::thread window([&] {
    Emulator* emu;
    while (!(emu = running.load())) std::this_thread::yield();
    // Generous bound so a missing copy fails instead of hanging the test.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < give_up) {
      DisplayRefresh(*emu);
      if (PagePixel(*emu, 0, 80, 112) == 255) {
        saw_picture.store(true);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    emu->run.control.RequestStop();
  });
  SnippetOptions options;
  options.options = "-v5";
  // The firmware draws, then asks for the pause itself through a display port write that the
  // test routes to the host control, as the window's request would arrive.
  options.before_run = [&](Emulator& emu) {
    emu.display.routines.port_write_byte = [](Machine& m, uint32_t, uint32_t) {
      m.run.control.SetPause(true);
    };
    running.store(&emu);
  };
  auto run = RunSnippet(R"(
	ldconst	0x80,r7
	stob	r7,display_ram0		# source pixel (0, 0)
	ldconst	0x800003C4,r8
	stob	r7,(r8)			# a port write: the pause request
)" + std::string(kLcdData), 0, options);
  window.join();
  ASSERT_TRUE(run->assembled);
  EXPECT_TRUE(saw_picture.load()) << "the paused loop left the window an old copy";
  EXPECT_TRUE(run->run.stopped_by_host);
}

// A run that ends by a fatal condition (here: running off the text region) leaves its last
// picture on the screen too.
TEST(LcdCopy, FatalEndStillShowsTheLastPicture) {
  SnippetOptions options;
  options.options = "-v5";
  options.park_at_end = false;
  auto run = RunSnippet(std::string(kLcdData) + R"(
	ldconst	0x41,r7
	stob	r7,display_ram0+30	# source pixels (1, 1) and (7, 1)
	mov	1,r7
	stob	r7,v.visual
	ldconst	0x01,r7
	stob	r7,display_ram1+29	# source pixel (239, 0)
)", 100, options);
  ASSERT_TRUE(run->assembled);
  EXPECT_TRUE(run->ended_by_exit);
  EXPECT_EQ(run->ExitMessage(), "IP out of range");
  ExpectShowsGuestArrays(*run);
  EXPECT_EQ(PagePixel(*run, 1, 80 + 2 * 239, 112), 255) << "the last store is shown";
}

}  // namespace
}  // namespace korvane
