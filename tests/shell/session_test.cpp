// The window's runs in one process: File > Restart, Reload offered when the firmware file
// changes, and File > Exit with a firmware that never reads keys.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "shell/debugger_window.h"
#include "shell/main_window.h"
#include "shell_support.h"

namespace korvane::shell {
namespace {

class WindowSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(test::MakeFirmware(dir_, "", exe_));  // parks in a loop; reads no keys
    std::ofstream(dir_.filePath("x.tvx").toStdString()) << "korvane -v1 -sp- x\n";
    window_ = std::make_unique<MainWindow>(test::RunConfig(dir_, &keys_, dir_.filePath("x.tvx")));
    window_->show_message = [](QMessageBox::Icon, const QString& text) {
      ADD_FAILURE() << text.toStdString();
    };
    window_->show();
    window_->Start();
    ASSERT_TRUE(test::WaitUntil(
        [this] { return window_->session().thread.state() == EmuThreadState::kRunning; }));
  }

  QTemporaryDir dir_;
  as::Executable exe_;
  test::RecordingKeys keys_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(WindowSessionTest, RestartAndReloadRunInThisProcess) {
  MainWindow& window = *window_;
  Session* first = &window.session();
  window.Action(kMenuRestart)->trigger();
  EXPECT_NE(&window.session(), first) << "a fresh machine";
  EXPECT_EQ(first == &window.session(), false);
  ASSERT_TRUE(
      test::WaitUntil([&] { return window.session().thread.state() == EmuThreadState::kRunning; }));
  window.CheckFirmware();
  EXPECT_FALSE(window.reload_offer()->isVisible()) << "the file has not changed";

  // A new firmware that faults at once: Reload is offered and runs it.
  as::Executable faulting;
  ASSERT_TRUE(test::MakeFirmware(dir_, "\tmov 3, g0\n\temul g0, g0, g2\n", faulting));
  window.CheckFirmware();
  ASSERT_TRUE(window.reload_offer()->isVisible());
  Q_EMIT window.reload_offer()->linkActivated(QStringLiteral("reload"));
  EXPECT_FALSE(window.reload_offer()->isVisible());
  ASSERT_TRUE(test::WaitUntil(
      [&] { return window.debugger_window()->isVisible() && window.debugger_window()->ended(); }));
  EXPECT_TRUE(window.isVisible());
  window.close();
  EXPECT_EQ(window.session().thread.state(), EmuThreadState::kEnded);
}

TEST_F(WindowSessionTest, ExitEndsAFirmwareThatNeverReadsKeys) {
  MainWindow& window = *window_;
  EXPECT_FALSE(window.FirmwareTakesKeys()) << "it never read a key";
  window.Action(kMenuExit)->trigger();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.session().thread.state(), EmuThreadState::kEnded);
}

}  // namespace
}  // namespace korvane::shell
