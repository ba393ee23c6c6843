// Debug > Profile on a running firmware: the top procedures fill in while it runs, Reset starts
// the counts afresh, and a row shows its procedure in the debugger window.
#include "shell/profile_window.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <fstream>
#include <map>

#include "core/debugger.h"
#include "shell/debugger_window.h"
#include "shell/main_window.h"
#include "shell_support.h"

namespace korvane::shell {
namespace {

// main -> outer -> inner, forever.
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
	addo 1, g3, g3
	addo 2, g4, g4
	ret
)";

// The table's rows as "name self calls"; the instruction total from the label.
std::map<std::string, uint64_t> Selves(ProfileWindow& p) {
  std::map<std::string, uint64_t> out;
  for (int r = 0; r < p.table()->rowCount(); ++r)
    out[p.table()->item(r, 0)->text().toStdString()] = p.table()->item(r, 1)->text().toULongLong();
  return out;
}
uint64_t Total(ProfileWindow& p) {
  return p.total_label()->text().split(QLatin1Char(' '))[0].toULongLong();
}

TEST(ProfileWindow, TopProceduresWhileRunningResetAndJumpToTheDebugger) {
  test::App();
  QTemporaryDir dir;
  as::Executable exe;
  ASSERT_TRUE(test::MakeFirmware(dir, kNested, exe));
  const QString project = dir.filePath("x.tvx");
  std::ofstream(project.toStdString()) << "korvane -v1 -sp- x\n";
  test::RecordingKeys keys;
  MainWindow window(test::RunConfig(dir, &keys, project));
  window.show();
  window.Start();
  ASSERT_TRUE(test::WaitUntil([&] { return window.thread_started(); }));

  // Opened while the firmware runs: counting starts at its next check point.
  window.Command(kMenuDebugProfile);
  ProfileWindow& p = *window.profile_window();
  ASSERT_TRUE(p.isVisible());
  ASSERT_TRUE(test::WaitUntil([&] { return Selves(p)["inner"] > 3000; }));
  // inner runs 3 instructions a call, outer 4 and the loop around them 2 (the run's first
  // frame, named by where it was when counting began): their shares stay in that ratio.
  auto selves = Selves(p);
  EXPECT_NEAR(static_cast<double>(selves["outer"]) / selves["inner"], 4.0 / 3, 0.01);
  EXPECT_NEAR(static_cast<double>(selves["again"]) / selves["inner"], 2.0 / 3, 0.01);

  // Reset: the counts start again, so the total falls below what it was after a longer time.
  QTest::qWait(1500);
  const uint64_t before = Total(p);
  p.reset_button()->click();
  ASSERT_TRUE(test::WaitUntil([&] { return Total(p) > 0 && Total(p) < before; }));

  // A row chosen while the firmware runs shows its procedure in the debugger window at the
  // next stop.
  int row = 0;
  while (row < p.table()->rowCount() && p.table()->item(row, 0)->text() != QStringLiteral("outer"))
    ++row;
  ASSERT_LT(row, p.table()->rowCount());
  Q_EMIT p.table()->cellActivated(row, 0);
  window.Command(kMenuDebugPause);
  ASSERT_TRUE(test::WaitUntil([&] {
    return window.emulator().debugger && window.emulator().debugger->paused_in_stop() &&
           window.debugger_window()->state_label()->text().contains(QStringLiteral("Paused"));
  }));
  QTableWidget* code = window.debugger_window()->disassembly();
  ASSERT_GT(code->rowCount(), 1);
  EXPECT_EQ(code->item(0, 2)->text(), QStringLiteral("outer:"));
  window.close();
}

}  // namespace
}  // namespace korvane::shell
