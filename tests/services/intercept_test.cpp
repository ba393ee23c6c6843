// Tests of intercept dispatch: the four outcomes of a call to an intercepted routine, the spy
// redirect, module entries from the exclude list, and the x$cleartext and clock services.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "image/coff_builder.h"
#include "services/native_handlers.h"
#include "support/snippet.h"

namespace korvane::test {
namespace {

using ::testing::HasSubstr;

// Text layout of the test image: each routine is four instructions long.
constexpr uint32_t kPlain = 0x10000;      // a routine of the firmware's own
constexpr uint32_t kReadRtc = 0x10010;    // no handler: skipped, 0 in g0, g6, g9
constexpr uint32_t kInitRtc = 0x10020;    // handler only
constexpr uint32_t kClearText = 0x10030;  // handler, then the guest routine (flags 2)
constexpr uint32_t kWritePort = 0x10040;  // handler that asks for a spy routine
constexpr uint32_t kSpyWrite = 0x10050;   // x$insert_spy_ports_WRITE
constexpr uint32_t kLibStart = 0x10060;   // a module named in the exclude list
constexpr uint32_t kLibSize = 0x20;

struct Fixture {
  ProjectDir dir;
  Emulator emu;
  uint32_t bss = 0;

  explicit Fixture(bool with_spy, const std::string& options = "") {
    CoffImage image;
    image.text.assign(0x80, 0);
    bss = image.BssStart();
    image.bss_size = 32;
    image.AddModule("main.s", 0x10000, 0x60);
    image.AddSymbol("x$read_rtc", kReadRtc);
    image.AddSymbol("x$init_rtc", kInitRtc);
    image.AddSymbol("x$cleartext", kClearText);
    image.AddSymbol("x$write_port", kWritePort);
    if (with_spy) image.AddSymbol("x$insert_spy_ports_WRITE", kSpyWrite);
    image.AddSymbol("rtc_present", bss + 0);
    image.AddSymbol("rtc_backup_ok", bss + 1);
    image.AddSymbol("korvane_active", bss + 2);
    image.AddSymbol("navigate_msg_mode", bss + 4);
    image.AddModule("slowlib.s", kLibStart, kLibSize);
    dir.WriteProject(image, "^_slowli\n");
    std::vector<std::string> words{"korvane"};
    if (!options.empty()) words.push_back(options);
    words.push_back(dir.Path("x"));
    if (!LoadProject(emu, words)) ADD_FAILURE() << emu.exit.message;
    ResolveGuestVars(emu);
    // Stand-in for the serial handler: reports success and asks for the spy routine.
    for (auto& e : emu.image.idents) {
      if (std::string(e.name) == "x$write_port") {
        e.handler = [](Machine& em) {
          em.cpu.g[9] = 1;
          em.intercept.spy_redirect = "x$insert_spy_ports_WRITE";
        };
      }
    }
    emu.log.ClearCaptured();
  }
};

TEST(Intercept, OutcomesOfACall) {
  struct Row {
    const char* why;
    uint32_t target;
    uint32_t proceeds_at;  // 0: the call is skipped
    bool zeroed;           // g0, g6 and g9 set to 0
  };
  const Row rows[] = {
      {"a routine that is not intercepted runs", kPlain, kPlain, false},
      {"a call to the second instruction of a routine is not intercepted", kReadRtc + 4,
       kReadRtc + 4, false},
      {"a routine without handler is skipped and returns 0", kReadRtc, 0, true},
      {"a handler alone: the firmware's routine is skipped, registers as the handler left them",
       kInitRtc, 0, false},
      {"flags 2: the handler runs, then the firmware's routine", kClearText, kClearText, false},
      {"any address inside an excluded module is skipped", kLibStart + 0x14, 0, true},
      {"the module's last byte still belongs to it", kLibStart + kLibSize - 1, 0, true},
      {"the first address after the module does not", kLibStart + kLibSize, kLibStart + kLibSize,
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    Fixture f(false);
    f.emu.cpu.g[0] = f.emu.cpu.g[6] = f.emu.cpu.g[9] = 0x55;
    // The hook the run loop asks before a call it would make itself says yes exactly for the
    // calls the intercept check then counts as handled.
    const bool said = f.emu.hooks.intercepts(f.emu.hooks.ctx, row.target);
    const uint64_t handled = f.emu.run.intercepted_calls;
    EXPECT_EQ(CheckInterceptCall(f.emu, row.target), row.proceeds_at);
    EXPECT_EQ(said, f.emu.run.intercepted_calls == handled + 1);
    EXPECT_EQ(said, row.proceeds_at != row.target || row.target == kClearText);
    const uint32_t expected = row.zeroed ? 0u : 0x55u;
    EXPECT_EQ(f.emu.cpu.g[0], expected);
    EXPECT_EQ(f.emu.cpu.g[6], expected);
    EXPECT_EQ(f.emu.cpu.g[9], expected);
  }
}

TEST(Intercept, HandlersOfClearTextAndClock) {
  Fixture f(false);
  EXPECT_EQ(CheckInterceptCall(f.emu, kClearText), kClearText);
  EXPECT_EQ(GuestRead32(f.emu.mem, f.bss + 4), 1u);  // navigate_msg_mode, 32-bit
  EXPECT_EQ(GuestRead8(f.emu.mem, f.bss + 2), 3u);   // korvane_active, 8-bit
  EXPECT_EQ(GuestRead8(f.emu.mem, f.bss + 3), 0u);   // nothing written past it
  EXPECT_EQ(CheckInterceptCall(f.emu, kInitRtc), 0u);
  EXPECT_EQ(GuestRead8(f.emu.mem, f.bss + 0), 1u);  // rtc_present
  EXPECT_EQ(GuestRead8(f.emu.mem, f.bss + 1), 1u);  // rtc_backup_ok
}

TEST(Intercept, SpyRedirect) {
  {
    SCOPED_TRACE("the firmware has the spy routine: the call goes there, g9 as the handler set it");
    Fixture f(true);
    EXPECT_EQ(CheckInterceptCall(f.emu, kWritePort), kSpyWrite);
    EXPECT_EQ(f.emu.cpu.g[9], 1u);
    EXPECT_TRUE(f.emu.intercept.spy_redirect.empty());
  }
  {
    SCOPED_TRACE("no spy routine: the call is skipped after the handler, the request is dropped");
    Fixture f(false);
    EXPECT_EQ(CheckInterceptCall(f.emu, kWritePort), 0u);
    EXPECT_EQ(f.emu.cpu.g[9], 1u);
    EXPECT_TRUE(f.emu.intercept.spy_redirect.empty());
  }
}

TEST(Intercept, SingleEntryAndEmptyLists) {
  Fixture f(false);
  IdentEntry* only = nullptr;
  for (IdentEntry* e : f.emu.image.intercepts)
    if (e->start == kReadRtc) only = e;
  ASSERT_NE(only, nullptr);
  f.emu.image.intercepts = {only};
  f.emu.image.intercept_last = 0;
  EXPECT_EQ(CheckInterceptCall(f.emu, kReadRtc), 0u);
  EXPECT_EQ(CheckInterceptCall(f.emu, kReadRtc - 4), kReadRtc - 4);
  f.emu.image.intercepts.clear();
  f.emu.image.intercept_last = -1;
  EXPECT_EQ(CheckInterceptCall(f.emu, kReadRtc), kReadRtc);
}

TEST(Intercept, DebugOptionLogsEveryInterceptedCall) {
  Fixture f(true, "-di");
  f.emu.cpu.ip = 0x10004;
  f.emu.cpu.g[7] = 0x1234;
  CheckInterceptCall(f.emu, kReadRtc);
  CheckInterceptCall(f.emu, kWritePort);
  CheckInterceptCall(f.emu, kPlain);  // not intercepted: no line
  EXPECT_EQ(f.emu.log.captured(),
            "INTERCEPT x$read_rtc at IP=00010004 target=00010010 (skipped) g0=00000000 "
            "g6=00000000 g7=00001234 g9=00000000\n"
            "INTERCEPT x$write_port at IP=00010004 target=00010040 (handler) g0=00000000 "
            "g6=00000000 g7=00001234 g9=00000000\n"
            "INTERCEPT x$write_port redirected to x$insert_spy_ports_WRITE at 00010050\n");
}

// Through the processor: a skipped routine returns at once with 0 in g0, and no frame is
// built, so FP and the local registers stay as they were.
TEST(Intercept, FirmwareCallToASkippedRoutine) {
  auto run = RunSnippet(R"(
	mov	7,g0
	mov	3,r5
	callx	x$read_rtc
	mov	g15,g2
	mov	r5,g3
	b	done
	.globl	x$read_rtc
x$read_rtc:
	mov	5,g0
	ret
done:
)",
                        40);
  ASSERT_TRUE(run->assembled);
  EXPECT_FALSE(run->ended_by_exit) << run->ExitMessage();
  EXPECT_EQ(run->G(0), 0u);
  EXPECT_EQ(run->G(2), run->exe.text_address - 4096);
  EXPECT_EQ(run->G(3), 3u);
}

}  // namespace
}  // namespace korvane::test
