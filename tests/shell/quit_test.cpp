// Ending the program in every state of the run (running, paused, at a breakpoint, after a
// fault, without a project) by every way (File > Exit, File > Save and Exit, closing the main
// window, SIGTERM): the window closes, the run's thread has ended, no window is left, and the
// memory file is written only where the run's state says so.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "as/assembler.h"
#include "shell/debugger_window.h"
#include "shell/main_window.h"
#include "shell/quit_signals.h"
#include "shell_support.h"
#include "support/snippet.h"

namespace korvane::shell {
namespace {

namespace fs = std::filesystem;

enum class State { kRunning, kPaused, kBreakpoint, kFault, kNoProject };
enum class Way { kExit, kSaveAndExit, kCloseWindow, kSigterm };

MainWindow* g_window = nullptr;  // the window SIGTERM closes

bool AnyWindowVisible() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible()) return true;
  return false;
}

class QuitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    static bool installed = QuitOnSignals(&test::App(), [] {
      if (g_window) g_window->close();
    });
    ASSERT_TRUE(installed);
  }
  // The demo (it reads keys, so the exit chords reach it) or a firmware that faults at once.
  bool MakeProject(const fs::path& dir, bool faulting) {
    const fs::path demo(KORVANE_DEMO_DIR);
    if (faulting) {
      as::Executable exe = as::AssembleAndLink(
          {{"demo.s", korvane::test::SnippetSource("\tmov 3, g0\n\temul g0, g0, g2\n", true)}}, {});
      if (!exe.ok()) return false;
      test::WriteFirmware(dir.string(), "demo", exe);
    } else {
      if (!fs::exists(demo / "demo.out")) return false;
      for (const char* name : {"demo.out", "demo.xcl"}) fs::copy_file(demo / name, dir / name);
      std::ofstream(dir / "demo.mem").close();
    }
    fs::create_directories(dir / "drives" / "C");
    std::ofstream(dir / "demo.tvx") << "korvane -v1 -sp- demo\n";
    return true;
  }
};

TEST_F(QuitTest, EveryWayEndsTheProgramInEveryState) {
  const State states[] = {State::kRunning, State::kPaused, State::kBreakpoint, State::kFault,
                          State::kNoProject};
  const Way ways[] = {Way::kExit, Way::kSaveAndExit, Way::kCloseWindow, Way::kSigterm};
  const char* const state_names[] = {"running", "paused", "breakpoint", "fault", "no project"};
  const char* const way_names[] = {"Exit", "Save and Exit", "close", "SIGTERM"};
  for (State state : states) {
    for (Way way : ways) {
      const std::string why = std::string(state_names[static_cast<int>(state)]) + " x " +
                              way_names[static_cast<int>(way)];
      QTemporaryDir tmp;
      const fs::path dir(tmp.path().toStdString());
      if (state != State::kNoProject && !MakeProject(dir, state == State::kFault))
        GTEST_SKIP() << "the demo was not built";
      WindowConfig config;
      config.store_path = tmp.filePath("store.ini");
      config.screen_height = 2000;
      config.command_line_path =
          state == State::kNoProject ? tmp.filePath("none.tvx") : tmp.filePath("demo.tvx");
      MainWindow window(config);
      std::vector<QString> messages;
      window.show_message = [&](QMessageBox::Icon, const QString& t) { messages.push_back(t); };
      window.chooser = {[](const QString&) { return QString(); }, [] { return false; }};
      bool closed = false;
      QObject::connect(&window, &MainWindow::Closed, [&] { closed = true; });
      g_window = &window;
      window.show();
      window.Start();
      QTest::qWait(1);  // the chooser offered after a failed start

      Emulator& emu = window.emulator();
      auto standing = [&] { return emu.debugger && emu.debugger->paused_in_stop(); };
      switch (state) {
        case State::kRunning:
          QTest::qWait(300);
          break;
        case State::kPaused:
          QTest::qWait(100);
          window.Command(kMenuDebugPause);
          ASSERT_TRUE(test::WaitUntil(standing)) << why;
          break;
        case State::kBreakpoint: {
          // Symbols are known once the run loop runs (the executable has been read).
          ASSERT_TRUE(test::WaitUntil([&] { return emu.run.control.running(); })) << why;
          std::string error;
          ASSERT_NE(emu.debugger->AddBreakpoint(BreakKind::kCode, "main_loop", "", 0, false, error),
                    0)
              << error;
          ASSERT_TRUE(test::WaitUntil(standing)) << why;
          break;
        }
        case State::kFault:
          ASSERT_TRUE(test::WaitUntil([&] { return window.debugger_window()->ended(); })) << why;
          break;
        case State::kNoProject:
          ASSERT_FALSE(window.thread_started()) << why;
          break;
      }
      QTest::qWait(10);  // the window has taken in the stop

      switch (way) {
        case Way::kExit:
          window.Command(kMenuExit);
          break;
        case Way::kSaveAndExit:
          window.Command(kMenuSaveExit);
          break;
        case Way::kCloseWindow:
          window.close();
          break;
        case Way::kSigterm:
          std::raise(SIGTERM);
          break;
      }
      EXPECT_TRUE(test::WaitUntil([&] { return closed; })) << why;
      g_window = nullptr;
      EXPECT_FALSE(AnyWindowVisible()) << why;
      EXPECT_TRUE(!window.thread_started() ||
                  window.session().thread.state() == EmuThreadState::kEnded)
          << why;
      const bool saved =
          way == Way::kSaveAndExit && state != State::kFault && state != State::kNoProject;
      if (state != State::kNoProject) {
        EXPECT_EQ(fs::file_size(dir / "demo.mem") > 0, saved) << why;
      }
    }
  }
}

}  // namespace
}  // namespace korvane::shell
