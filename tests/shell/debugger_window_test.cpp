// The window's debugger on a firmware with nested calls: a breakpoint from the project line
// opens the debugger window, which shows registers, disassembly with markers, the call stack,
// memory and watches; stepping, step out, a watchpoint from the dialog, and closing the window
// while the firmware stands in a stop.
#include "shell/debugger_window.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QScreen>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "as/assembler.h"
#include "core/debugger.h"
#include "shell/main_window.h"
#include "shell_support.h"
#include "support/snippet.h"

namespace korvane::shell {
namespace {

// main -> outer -> inner; inner adds to `counter` and returns.
const char* const kNested = R"(
again:
	call outer
	b again
outer:
	mov 0, r4
	call inner
	addo 1, r4, r4
	ret
inner:
	ld counter, r3
	addo 1, r3, r3
	st r3, counter
	ret
	.data
	.globl counter
counter:
	.word 0
)";

class DebuggerWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(test::MakeFirmware(dir_, kNested, exe_));
  }
  std::unique_ptr<MainWindow> Start(const std::string& options) {
    const QString project = dir_.filePath("x.tvx");
    std::ofstream(project.toStdString()) << "korvane -v1 -sp- " << options << " x\n";
    auto window = std::make_unique<MainWindow>(test::RunConfig(dir_, &keys_, project));
    window->show_message = [](QMessageBox::Icon, const QString& text) {
      ADD_FAILURE() << text.toStdString();
    };
    window->show();
    window->Start();
    return window;
  }
  // Waits until the debugger holds the firmware and the window has shown the stop.
  bool WaitForStop(MainWindow& window, const QString& summary_part) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
      QTest::qWait(10);
      Debugger* d = window.emulator().debugger.get();
      DebuggerWindow* w = window.debugger_window();
      if (d && d->paused_in_stop() && w->isVisible() &&
          w->state_label()->text().contains(summary_part))
        return true;
    }
    return false;
  }
  uint32_t Sym(const char* name) { return exe_.symbols.at(name); }
  static QString Hex(uint32_t v) { return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')); }
  // The disassembly row of `address`, or -1.
  static int Row(QTableWidget* t, uint32_t address) {
    for (int r = 0; r < t->rowCount(); ++r)
      if (t->item(r, 1) && t->item(r, 1)->text() == Hex(address)) return r;
    return -1;
  }

  QTemporaryDir dir_;
  as::Executable exe_;
  test::RecordingKeys keys_;
};

TEST_F(DebuggerWindowTest, BreakStepWatchAndCloseWhileStopped) {
  const uint32_t inner = Sym("inner");
  char bc[32];
  std::snprintf(bc, sizeof bc, "-bc%X:%X", inner, inner);
  auto owner = Start(bc);
  MainWindow& window = *owner;
  ASSERT_TRUE(WaitForStop(window, QStringLiteral("Breakpoint 1")));
  DebuggerWindow* w = window.debugger_window();
  EXPECT_EQ(window.Action(kMenuDebugPause)->text(), QStringLiteral("&Continue"));
  EXPECT_TRUE(window.Action(kMenuDebugStep)->isEnabled());

  // Registers, disassembly with the ip and breakpoint markers and a label, call stack.
  EXPECT_EQ(w->registers()->item(16, 1)->text(), Hex(inner));
  const int row = Row(w->disassembly(), inner);
  ASSERT_GE(row, 0);
  EXPECT_TRUE(w->disassembly()->item(row, 0)->text().contains(QStringLiteral("●")));
  EXPECT_TRUE(w->disassembly()->item(row, 0)->text().contains(QStringLiteral("→")));
  EXPECT_EQ(w->disassembly()->item(row - 1, 2)->text(), QStringLiteral("inner:"));
  ASSERT_GE(w->call_stack()->count(), 3);
  EXPECT_TRUE(w->call_stack()->item(0)->text().contains(QStringLiteral("inner")));
  EXPECT_TRUE(w->call_stack()->item(1)->text().contains(QStringLiteral("outer")));

  // Memory by symbol, edited while the firmware stands; a watch on the same word.
  ASSERT_TRUE(w->ShowMemory(QStringLiteral("counter")));
  EXPECT_FALSE(w->ShowMemory(QStringLiteral("no_such_symbol")));
  ASSERT_TRUE(w->AddWatch(QStringLiteral("counter")));
  const int column = 1 + static_cast<int>(Sym("counter") & 15);
  w->memory()->item(0, column)->setText(QStringLiteral("40"));
  EXPECT_EQ(GuestRead32(window.emulator().mem, Sym("counter")), 0x40u);
  EXPECT_EQ(w->watches()->item(0, 2)->text(), Hex(0x40));

  // Step: one instruction (the load), r3 changes and is highlighted.
  window.Command(kMenuDebugStep);
  ASSERT_TRUE(WaitForStop(window, QStringLiteral("Stepped")));
  EXPECT_EQ(w->registers()->item(16, 1)->text(), Hex(inner + 8)) << "ld counter is 8 bytes";
  EXPECT_EQ(w->registers()->item(3, 1)->text(), Hex(0x40));
  EXPECT_TRUE(w->registers()->item(3, 1)->font().bold());
  // Step out: back in outer, after its call.
  window.Command(kMenuDebugStepOut);
  ASSERT_TRUE(WaitForStop(window, QStringLiteral("Returned")));
  EXPECT_TRUE(w->call_stack()->item(0)->text().contains(QStringLiteral("outer")));
  EXPECT_EQ(GuestRead32(window.emulator().mem, Sym("counter")), 0x41u);

  // The breakpoint marker toggles it off; a write watchpoint added in the dialog stops next.
  w->ToggleBreakpoint(inner);
  window.Command(kMenuDebugBreakpoints);
  ASSERT_NE(window.breakpoints_dialog(), nullptr);
  EXPECT_EQ(window.breakpoints_dialog()->table()->rowCount(), 0);
  EXPECT_FALSE(window.breakpoints_dialog()->Add(2, QStringLiteral("nowhere"), QString()));
  EXPECT_FALSE(window.breakpoints_dialog()->status()->text().isEmpty());
  ASSERT_TRUE(window.breakpoints_dialog()->Add(2, QStringLiteral("counter"), QString()));
  EXPECT_EQ(window.breakpoints_dialog()->table()->rowCount(), 1);
  window.Command(kMenuDebugPause);  // Continue
  ASSERT_TRUE(WaitForStop(window, QStringLiteral("Watchpoint")));
  EXPECT_EQ(GuestRead32(window.emulator().mem, Sym("counter")), 0x42u);
  EXPECT_TRUE(w->watches()->item(0, 2)->font().bold()) << "the watched value changed";

  // The debugger's keys act only in its window: the main window's Debug menu has none.
  for (int id = kMenuDebugPause; id <= kMenuDebugWindow; ++id)
    EXPECT_TRUE(window.Action(id)->shortcut().isEmpty());
  EXPECT_EQ(w->action(DebugCommand::kStepOver)->shortcutContext(), Qt::WindowShortcut);

  // Closing the window ends the run at once, although the firmware stands in a stop.
  QElapsedTimer t;
  t.start();
  window.close();
  EXPECT_EQ(window.session().thread.state(), EmuThreadState::kEnded);
  EXPECT_LT(t.elapsed(), 2000);
  EXPECT_FALSE(w->isVisible());
}

TEST_F(DebuggerWindowTest, PauseFromTheMenuOpensTheDebuggerAndContinueRunsOn) {
  auto owner = Start("");
  MainWindow& window = *owner;
  QTest::qWait(100);
  EXPECT_FALSE(window.debugger_window()->isVisible()) << "nothing stopped the firmware";
  window.Command(kMenuDebugPause);
  ASSERT_TRUE(WaitForStop(window, QStringLiteral("Paused")));
  const uint32_t before = GuestRead32(window.emulator().mem, Sym("counter"));
  window.Command(kMenuDebugPause);  // Continue
  QTest::qWait(100);
  EXPECT_FALSE(window.emulator().debugger->paused_in_stop());
  EXPECT_EQ(window.debugger_window()->state_label()->text(), QStringLiteral("Running"));
  window.Command(kMenuDebugPause);
  ASSERT_TRUE(WaitForStop(window, QStringLiteral("Paused")));
  EXPECT_GT(GuestRead32(window.emulator().mem, Sym("counter")), before);
  window.close();
}

// Registers are edited while the firmware stands, the firmware runs to the disassembly's current
// line, Go to shows an address or symbol, and a long message wraps instead of widening the window
// past the screen.
TEST_F(DebuggerWindowTest, RegisterEditsRunToCursorGoToAndTheScreen) {
  const uint32_t inner = Sym("inner");
  char bc[32];
  std::snprintf(bc, sizeof bc, "-bc%X:%X", inner, inner);
  auto owner = Start(bc);
  MainWindow& window = *owner;
  ASSERT_TRUE(WaitForStop(window, QStringLiteral("Breakpoint 1")));
  DebuggerWindow* w = window.debugger_window();
  QTableWidget* regs = w->registers();

  struct Edit {
    int n;
    const char* text;
    bool ok;
    const char* why;
  } edits[] = {
      {20, "cafe", true, "g4"},
      {20, "0x12345678", true, "g4 with 0x"},
      {20, "123456789", false, "nine digits"},
      {20, "xyz", false, "not hex"},
      {31, "0", false, "fp moves with calls"},
      {32, "3", false, "ip outside the text"},
  };
  for (const Edit& e : edits) {
    EXPECT_EQ(w->EditRegister(e.n, QString::fromLatin1(e.text)), e.ok) << e.why;
    EXPECT_EQ(w->edit_status()->text().isEmpty(), e.ok) << e.why;
  }
  EXPECT_EQ(window.emulator().cpu.g[4], 0x12345678u);
  regs->item(5, 3)->setText(QStringLiteral("beef"));  // g5, typed into its cell
  EXPECT_EQ(window.emulator().cpu.g[5], 0xbeefu);

  // Go to: the disassembly shows outer; a name that is nowhere is refused.
  EXPECT_FALSE(w->GoTo(QStringLiteral("nowhere")));
  ASSERT_TRUE(w->GoTo(QStringLiteral("outer")));
  EXPECT_EQ(w->disassembly()->currentRow(), Row(w->disassembly(), Sym("outer")));

  // Run to cursor: the store after the addition, in inner.
  ASSERT_TRUE(w->GoTo(Hex(inner)));
  const int store = Row(w->disassembly(), inner + 12);
  ASSERT_GE(store, 0);
  w->disassembly()->setCurrentCell(store, 2);
  w->RunToCursor();
  ASSERT_TRUE(WaitForStop(window, QStringLiteral("Reached")));
  EXPECT_EQ(window.emulator().cpu.ip, inner + 12);
  EXPECT_EQ(w->registers()->item(16, 1)->text(), Hex(inner + 12));

  // A message as long as a fault's can be stays inside the screen.
  const QSize area = w->screen()->availableGeometry().size();
  w->Refresh(QString(4000, QLatin1Char('x')));
  QTest::qWait(20);
  EXPECT_LE(w->width(), area.width());
  EXPECT_LE(w->minimumSizeHint().width(), area.width());
  window.close();
}

}  // namespace
}  // namespace korvane::shell
