// How the window ends a run that went wrong: a fatal fault stops in the debugger window (with
// Restart, the log and Close), a start error names its file, forgets the project and offers the
// project chooser.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "as/assembler.h"
#include "shell/debugger_window.h"
#include "shell/main_window.h"
#include "shell_support.h"
#include "support/snippet.h"

namespace korvane::shell {
namespace {

// emul is refused without -xi: a fatal E_INSTR.
const char* const kFaulting = R"(
	mov 3, g0
	mov 5, g1
	emul g0, g1, g2
)";

class RunEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(test::MakeFirmware(dir_, kFaulting, exe_));
    std::ofstream(Path("good.tvx")) << "korvane -v1 -sp- x\n";
    std::ofstream(Path("x.tvx")) << "korvane -v1 -sp- x\n";
  }
  std::string Path(const char* name) const { return dir_.filePath(name).toStdString(); }
  SettingsStore Store() const { return SettingsStore(dir_.filePath("store.ini")); }

  std::unique_ptr<MainWindow> Start(const QString& project) {
    auto window = std::make_unique<MainWindow>(test::RunConfig(dir_, &keys_, project));
    window->show_message = [this](QMessageBox::Icon, const QString& text) {
      messages_.push_back(text);
    };
    window->chooser = {[this](const QString& initial) {
                         asked_in_ = initial;
                         return QString();
                       },
                       [] { return false; }};
    window->open_file = [this](const QString& path) { opened_ = path; };
    window->show();
    window->Start();
    return window;
  }
  static bool Ended(MainWindow& window) {
    DebuggerWindow* w = window.debugger_window();
    return w->isVisible() && w->ended();
  }

  QTemporaryDir dir_;
  as::Executable exe_;
  test::RecordingKeys keys_;
  std::vector<QString> messages_;
  QString asked_in_ = QStringLiteral("not asked");
  QString opened_;
};

TEST_F(RunEndTest, FatalFaultStopsInTheDebuggerWithRestartLogAndClose) {
  auto owner = Start(dir_.filePath("x.tvx"));
  MainWindow& window = *owner;
  ASSERT_TRUE(test::WaitUntil([&] { return Ended(window); }));
  EXPECT_TRUE(messages_.empty()) << "no box: the window says it";
  EXPECT_TRUE(window.isVisible()) << "a fault never closes the program";
  DebuggerWindow* w = window.debugger_window();
  const uint32_t ip = window.emulator().cpu.ip;
  EXPECT_TRUE(w->state_label()->text().startsWith(QStringLiteral("Error forced exit at 0x")));
  EXPECT_TRUE(w->end_details()->text().contains(QStringLiteral("E_INSTR")));
  EXPECT_TRUE(w->end_details()->text().contains(
      QStringLiteral("emul needs the option -xi (execute the full instruction set)")));
  EXPECT_EQ(w->registers()->item(16, 1)->text(), QStringLiteral("%1").arg(ip, 8, 16, QChar('0')));
  EXPECT_TRUE(w->disassembly()->isEnabled());
  EXPECT_FALSE(w->action(DebugCommand::kStep)->isEnabled()) << "nothing runs on after a fault";
  // The instructions that led to the fault, although the firmware ran at full speed.
  ASSERT_GE(w->history()->count(), 3);
  EXPECT_TRUE(
      w->history()->item(w->history()->count() - 1)->text().contains(QStringLiteral("emul")));

  // The log button opens the run's log.
  w->open_log();
  EXPECT_EQ(opened_, dir_.filePath("aaa.txt"));

  // Restart runs the project again, to the same fault.
  Session* first = &window.session();
  w->restart();
  EXPECT_NE(&window.session(), first);
  ASSERT_TRUE(test::WaitUntil([&] { return Ended(window); }));
  ASSERT_GE(w->history()->count(), 3);
  EXPECT_TRUE(
      w->history()->item(w->history()->count() - 1)->text().contains(QStringLiteral("emul")));

  w->close_program();
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(window.session().thread.state(), EmuThreadState::kEnded);
}

TEST_F(RunEndTest, StartErrorsNameTheFileForgetTheProjectAndOfferTheChooser) {
  struct Row {
    const char* project;  // the command line's project
    const char* remove;   // a file of the project removed first, or ""
    const char* message;  // part of the error box
    const char* why;
  } rows[] = {
      {"x.tvx", "x.xcl", "exclude file not found", "a missing exclude list"},
      {"x.tvx", "x.out", "emulate file not found", "a missing executable"},
      {"missing.tvx", "", "Param file not found: ", "a project file that is not there"},
  };
  for (const Row& r : rows) {
    SetUp();
    Store().WriteParameters(dir_.filePath("good.tvx"));
    if (*r.remove) std::remove(Path(r.remove).c_str());
    messages_.clear();
    asked_in_ = QStringLiteral("not asked");
    auto window = Start(dir_.filePath(QString::fromLatin1(r.project)));
    ASSERT_TRUE(test::WaitUntil([&] { return messages_.size() >= 2; })) << r.why;
    EXPECT_TRUE(messages_[0].contains(QString::fromLatin1(r.message))) << r.why;
    EXPECT_TRUE(messages_[0].contains(QString::fromLatin1(*r.remove ? r.remove : r.project)))
        << r.why << ": the box names the file";
    EXPECT_EQ(messages_[1], QStringLiteral("New Project not opened")) << r.why;
    EXPECT_EQ(asked_in_, dir_.path()) << r.why << ": the chooser opens in the project's folder";
    EXPECT_TRUE(window->isVisible()) << r.why;
    EXPECT_EQ(Store().ReadParameters(), dir_.filePath("good.tvx"))
        << r.why << ": the project remembered before comes back";
    window->close();
  }
  // Without an earlier project, none stays remembered.
  SetUp();
  std::remove(Path("x.xcl").c_str());
  Store().RemoveParameters();
  messages_.clear();
  auto window = Start(dir_.filePath("x.tvx"));
  ASSERT_TRUE(test::WaitUntil([&] { return messages_.size() >= 2; }));
  EXPECT_EQ(Store().ReadParameters(), std::nullopt);
}

}  // namespace
}  // namespace korvane::shell
