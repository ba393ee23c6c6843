// The main window: sizes, menus, clicks, keys, the keypad toggle, painting, the end of a run.
#include "shell/main_window.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMenuBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "as/assembler.h"
#include "platform/vk_keys.h"
#include "services/keyboard.h"
#include "shell/keypad.h"
#include "shell/translation.h"
#include "shell_support.h"
#include "support/serial_poll_firmware.h"
#include "support/snippet.h"

extern char** environ;

namespace korvane::shell {
namespace {

using Calls = std::vector<std::string>;

struct Message {
  QMessageBox::Icon icon;
  QString text;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    ASSERT_TRUE(dir_.isValid());
    old_dir_ = QDir::currentPath();
  }
  void TearDown() override { QDir::setCurrent(old_dir_); }

  std::unique_ptr<MainWindow> MakeWindow(int screen_height = 2000, bool start_thread = false) {
    WindowConfig config;
    config.store_path = dir_.filePath("store.ini");
    config.screen_height = screen_height;
    config.keys = &keys_;
    config.start_thread = start_thread;
    config.command_line_path = command_line_;
    auto window = std::make_unique<MainWindow>(config);
    window->show_message = [this](QMessageBox::Icon icon, const QString& text) {
      messages_.push_back({icon, text});
    };
    return window;
  }
  QString WriteProject(const std::string& line) {
    QString path = dir_.filePath("demo.tvx");
    std::ofstream(path.toStdString(), std::ios::binary) << line;
    return path;
  }
  SettingsStore Store() const { return SettingsStore(dir_.filePath("store.ini")); }

  QTemporaryDir dir_;
  QString old_dir_;
  QString command_line_;
  test::RecordingKeys keys_;
  std::vector<Message> messages_;
};

TEST_F(MainWindowTest, TitleSizesAndFirstRunKeyboard) {
  auto window = MakeWindow();
  EXPECT_EQ(window->windowTitle(), QStringLiteral("TAVEX Intel Korvane Emulator"));
  int menu = window->menuBar()->sizeHint().height();
  // The first run stores "Keyboard" = 1 and shows the panel under the display.
  EXPECT_EQ(Store().ReadKeyboard(), 1);
  EXPECT_TRUE(window->keyboard_shown());
  EXPECT_TRUE(window->Action(kMenuKeyboard)->isChecked());
  EXPECT_EQ(window->max_height(), menu + 480 + kPanelHeight);
  int status = window->statusBar()->sizeHint().height();
  EXPECT_EQ(window->maximumSize(), QSize(640, menu + 480 + kPanelHeight + status));
  EXPECT_EQ(window->display()->size(), QSize(640, 480));
  ASSERT_NE(window->panel(), nullptr);
  EXPECT_EQ(window->panel()->geometry(), QRect(0, 480, 640, kPanelHeight));
  EXPECT_FALSE(window->panel()->isHidden());
  EXPECT_TRUE(window->timer_active());
}

// The window opens in the top left corner of the screen, where the whole display and the panel
// below it fit on the lowest screens that still show the panel.
TEST_F(MainWindowTest, OpensAtTheTopLeftCorner) {
  auto window = MakeWindow();
  EXPECT_TRUE(window->testAttribute(Qt::WA_Moved)) << "placed, not left to the window manager";
  EXPECT_EQ(window->pos(), QPoint(0, 0));
}

// Alt pressed and released alone must not put the menu bar into keyboard mode, where the keys
// that follow would move through the menus instead of reaching the device.
TEST_F(MainWindowTest, AltAloneLeavesTheKeysWithTheDevice) {
  auto window = MakeWindow();
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  window->setFocus();
  QTest::keyClick(window.get(), Qt::Key_Alt);
  QTest::keyClick(window.get(), Qt::Key_Down);
  EXPECT_EQ(window->menuBar()->activeAction(), nullptr);
  EXPECT_EQ(keys_.calls, (Calls{"down 40", "up 40"})) << "Alt consumed, Down reaches the device";
}

TEST_F(MainWindowTest, KeyboardHiddenWhenScreenTooLowOrStoredOff) {
  {
    auto window = MakeWindow(/*screen_height=*/500);
    int menu = window->menuBar()->sizeHint().height();
    EXPECT_FALSE(window->Action(kMenuKeyboard)->isEnabled()) << "greyed: it cannot fit";
    EXPECT_FALSE(window->Action(kMenuKeyboard)->isChecked());
    EXPECT_FALSE(window->keyboard_shown());
    EXPECT_TRUE(window->panel()->isHidden());
    EXPECT_EQ(window->max_height(), menu + 480);
  }
  Store().WriteKeyboard(0);
  auto window = MakeWindow();
  EXPECT_TRUE(window->Action(kMenuKeyboard)->isEnabled()) << "fits, merely switched off";
  EXPECT_FALSE(window->keyboard_shown());
}

TEST_F(MainWindowTest, MenuTextsAndIds) {
  auto window = MakeWindow();
  struct Popup {
    const char* title;
    std::vector<std::pair<int, const char*>> items;  // id 0: separator, -1: submenu
  } popups[] = {
      {"&File",
       {{1, "&Open Project File ..."},
        {-1, "&Recent Projects"},
        {14, "R&estart"},
        {10, "Save Screensho&t...\tAlt+S"},
        {0, ""},
        {11, "Save St&ate..."},
        {12, "&Load State..."},
        {13, "Record &Input..."},
        {0, ""},
        {8, "&Save and Exit\tCtrl+X"},
        {9, "E&xit\tCtrl+Q"}}},
      {"&View",
       {{5, "Keyboard"}, {6, "Status\tCtrl+I"}, {7, "Status Next\tCtrl+O"}, {-1, "&Zoom"}}},
      {"&Debug",
       {{30, "&Pause"},
        {31, "&Step"},
        {32, "Step &Over"},
        {33, "Step O&ut"},
        {0, ""},
        {34, "&Breakpoints..."},
        {35, "Debu&gger"},
        {36, "P&rofile"},
        {37, "Source &Folders..."}}},
      {"&Help", {{3, "&Help\tCtrl+H"}, {4, "&About korvane ..."}}},
  };
  QList<QAction*> tops = window->menuBar()->actions();
  ASSERT_EQ(tops.size(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(tops[i]->text(), QString::fromUtf8(popups[i].title));
    QList<QAction*> items = tops[i]->menu()->actions();
    ASSERT_EQ(items.size(), static_cast<qsizetype>(popups[i].items.size()));
    for (size_t j = 0; j < popups[i].items.size(); ++j) {
      auto [id, text] = popups[i].items[j];
      if (id == 0) {
        EXPECT_TRUE(items[j]->isSeparator());
        continue;
      }
      if (id == -1) {
        EXPECT_NE(items[j]->menu(), nullptr) << text;
      } else {
        EXPECT_EQ(items[j]->data().toInt(), id);
      }
      EXPECT_EQ(items[j]->text(), QString::fromUtf8(text));
    }
  }
}

TEST_F(MainWindowTest, GermanMenuTexts) {
  EXPECT_EQ(InstallTranslator(QLocale(QLocale::English)), nullptr);
  QTranslator* german = InstallTranslator(QLocale(QLocale::German, QLocale::Germany));
  ASSERT_NE(german, nullptr) << "the build embeds the German translation";
  auto window = MakeWindow();
  const char* refused =
      "%1 | %n typed key(s) refused: the device has not read the %2 keys before them";
  EXPECT_EQ(german->translate("korvane::shell::MainWindow", refused, "", 1),
            QString::fromUtf8("%1 | %n getippte Taste abgewiesen: das Gerät hat die %2 Tasten "
                              "davor noch nicht gelesen"));
  EXPECT_TRUE(german->translate("korvane::shell::MainWindow", refused, "", 3)
                  .contains(QStringLiteral("Tasten abgewiesen")));
  // The texts of a failed run and of the debugger window's end, and Qt's own dialogs.
  EXPECT_EQ(german->translate("korvane::shell::DebuggerWindow", "&Restart"),
            QStringLiteral("&Neu starten"));
  EXPECT_EQ(german->translate("korvane::shell::MainWindow", "Version %1"),
            QStringLiteral("Version %1"));
  if (QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_de.qm")) {
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
  }
  QCoreApplication::removeTranslator(german);
  delete german;
  QList<QAction*> tops = window->menuBar()->actions();
  EXPECT_EQ(tops[0]->text(), QStringLiteral("&Datei"));
  EXPECT_EQ(tops[1]->text(), QStringLiteral("&Ansicht"));
  EXPECT_EQ(tops[2]->text(), QStringLiteral("&Debuggen"));
  EXPECT_EQ(tops[3]->text(), QStringLiteral("&Hilfe"));
  EXPECT_EQ(window->Action(kMenuDebugStepOver)->text(), QStringLiteral("Prozedur&schritt"));
  EXPECT_EQ(window->Action(1)->text(), QString::fromUtf8("Project Datei Ö&ffnen..."));
  EXPECT_EQ(window->Action(7)->text(), QStringLiteral("Naechste Status\tStrg+O"));
  EXPECT_EQ(window->Action(3)->text(), QStringLiteral("&Hilfthemen\tCtrl+H"));
  EXPECT_EQ(window->Action(4)->text(), QStringLiteral("Inf&o ..."));
  EXPECT_EQ(window->Action(5)->text(), QStringLiteral("Tastatur"));
  EXPECT_EQ(window->Action(8)->text(), QStringLiteral("&Speicher und Exit\tStrg+X"));
  EXPECT_EQ(window->Action(kMenuZoomFit)->text(), QStringLiteral("An &Fenster anpassen"));
  EXPECT_EQ(MakeWindow()->Action(5)->text(), QStringLiteral("Keyboard")) << "removed again";
}

TEST_F(MainWindowTest, MenuCommandsSendChordsAndMessages) {
  auto window = MakeWindow();
  struct Row {
    int id;
    Calls calls;
    const char* why;
  } rows[] = {
      {kMenuStatus, {"down 17", "down 73", "up 17"}, "Ctrl+I"},
      {kMenuStatusNext, {"down 17", "down 79", "up 17"}, "Ctrl+O"},
      {kMenuSaveExit, {"down 17", "down 88", "up 17"}, "Ctrl+X: save and exit"},
      {kMenuExit, {"down 17", "down 81", "up 17"}, "Ctrl+Q: exit"},
  };
  for (const Row& r : rows) {
    keys_.calls.clear();
    window->Action(r.id)->trigger();
    EXPECT_EQ(keys_.calls, r.calls) << r.why;
  }
  EXPECT_TRUE(window->Action(kMenuStatus)->isChecked()) << "Status toggles its mark at once";
  window->Action(kMenuStatus)->trigger();
  EXPECT_FALSE(window->Action(kMenuStatus)->isChecked());

  window->Action(kMenuHelp)->trigger();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].icon, QMessageBox::Information);
  EXPECT_EQ(messages_[0].text, QStringLiteral("Help is not yet implemented!"));
}

TEST_F(MainWindowTest, OpenProjectFileResults) {
  auto window = MakeWindow();
  window->show();
  QString chosen;
  window->chooser = {[&](const QString&) { return chosen; }, [] { return false; }};

  window->Command(kMenuOpenProject);  // cancelled
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, QStringLiteral("New Project not opened"));
  EXPECT_EQ(messages_[0].icon, QMessageBox::Warning);

  // The chosen project runs in this window, in this process, and is remembered.
  chosen = WriteProject("prog demo\n");
  window->Command(kMenuOpenProject);
  EXPECT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(window->isVisible()) << "no new instance: this window runs it";
  EXPECT_TRUE(window->timer_active());
  EXPECT_EQ(Store().ReadParameters(), chosen);
  EXPECT_EQ(window->emulator().args, (std::vector<std::string>{"prog", "demo\n"}));

  // A project file that does not read is reported; the remembered project stays.
  chosen = dir_.filePath("missing.tvx");
  window->Command(kMenuOpenProject);
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_TRUE(messages_[1].text.startsWith(QStringLiteral("Param file not found: ")));
  EXPECT_EQ(Store().ReadParameters(), dir_.filePath("demo.tvx"));
}

TEST_F(MainWindowTest, SoftKeyClicksAndRightClick) {
  auto window = MakeWindow();
  QWidget* display = window->display();
  QTest::mouseClick(display, Qt::LeftButton, Qt::NoModifier, QPoint(200, 450));
  QTest::mouseClick(display, Qt::LeftButton, Qt::NoModifier, QPoint(200, 399));  // nothing
  QTest::mouseClick(display, Qt::RightButton, Qt::NoModifier, QPoint(10, 10));
  EXPECT_EQ(keys_.calls, (Calls{"down 115", "down 27"}));

  // Eight soft keys from the project line.
  command_line_ = WriteProject("prog -sk8 -sp- demo\n");
  auto eight = MakeWindow();
  eight->Start();
  EXPECT_TRUE(messages_.empty());
  keys_.calls.clear();
  QTest::mouseClick(eight->display(), Qt::LeftButton, Qt::NoModifier, QPoint(200, 450));
  QTest::mouseClick(eight->display(), Qt::LeftButton, Qt::NoModifier, QPoint(30, 450));
  EXPECT_EQ(keys_.calls, (Calls{"down 114", "down 9"}));
}

// Soft-key counts other than 8 from the project line act like ten keys in the window.
TEST_F(MainWindowTest, OddSoftKeyCountsClickLikeTenKeys) {
  for (const char* sk : {"-sk0", "-sk-3", "-sk2147483647", "-sk-2147483648"}) {
    command_line_ = WriteProject(std::string("prog ") + sk + " -sp- demo\n");
    auto window = MakeWindow();
    window->Start();
    EXPECT_TRUE(messages_.empty()) << sk;
    keys_.calls.clear();
    for (QPoint p : {QPoint(200, 450), QPoint(0, 450), QPoint(639, 479)})
      QTest::mouseClick(window->display(), Qt::LeftButton, Qt::NoModifier, p);
    EXPECT_EQ(keys_.calls, (Calls{"down 115", "down 9", "down 121"})) << sk;
  }
}

TEST_F(MainWindowTest, KeyboardEvents) {
  auto window = MakeWindow();
  window->show();
  struct Row {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    Calls calls;
    const char* why;
  } rows[] = {
      {Qt::Key_F1, Qt::NoModifier, {"down 112", "up 112"}, "plain key: down and up"},
      {Qt::Key_Tab, Qt::NoModifier, {"down 9", "up 9"}, "Tab reaches the device, not focus"},
      {Qt::Key_A, Qt::AltModifier, {}, "Alt combinations are consumed"},
      {Qt::Key_F4, Qt::AltModifier, {}, "Alt+F4 does not close the window"},
      {Qt::Key_F10, Qt::NoModifier, {"down 121"}, "F10 is a system key passed on"},
      {Qt::Key_7, Qt::KeypadModifier, {"down 103", "up 103"}, "keypad 7"},
  };
  for (const Row& r : rows) {
    keys_.calls.clear();
    QTest::keyClick(window.get(), r.key, r.mods);
    EXPECT_EQ(keys_.calls, r.calls) << r.why;
  }
  EXPECT_TRUE(window->isVisible()) << "still open after Alt+F4";
}

// Keys refused by a full key queue, from the keyboard, a soft key or the panel, are counted in
// the status line.
TEST_F(MainWindowTest, RefusedKeysAreShownInTheStatusLine) {
  auto window = MakeWindow();
  window->show();
  EXPECT_FALSE(window->status_line()->text().contains("refused"));
  keys_.refuse = true;
  QTest::keyClick(window.get(), Qt::Key_F1);
  QTest::mouseClick(window->display(), Qt::LeftButton, Qt::NoModifier, QPoint(200, 450));
  window->panel()->Command(73);  // Stop, a device key
  EXPECT_TRUE(window->status_line()->text().contains("3 typed key(s) refused"))
      << window->status_line()->text().toStdString();
}

TEST_F(MainWindowTest, KeyboardToggleKeepsDisplayAndStoresState) {
  auto window = MakeWindow();
  int full = window->max_height();
  window->Command(kMenuKeyboard);
  EXPECT_FALSE(window->keyboard_shown());
  EXPECT_FALSE(window->Action(kMenuKeyboard)->isChecked());
  EXPECT_EQ(window->panel(), nullptr);
  EXPECT_EQ(window->max_height(), full - kPanelHeight);
  EXPECT_EQ(window->maximumWidth(), 640);

  window->Command(kMenuKeyboard);
  EXPECT_TRUE(window->keyboard_shown());
  ASSERT_NE(window->panel(), nullptr);
  EXPECT_EQ(window->panel()->geometry(), QRect(0, 480, 640, kPanelHeight));
  EXPECT_EQ(window->max_height(), full);
  EXPECT_EQ(window->display()->geometry(), QRect(0, 0, 640, 480));

  // The panel's keys go to the same target, and its cancel hides it again.
  keys_.calls.clear();
  window->panel()->Button(55)->click();
  EXPECT_EQ(keys_.calls, (Calls{"down 96"}));
  window->panel()->Command(kCancelCommand);
  EXPECT_FALSE(window->keyboard_shown());

  window->close();
  EXPECT_EQ(Store().ReadKeyboard(), 0) << "closing remembers the hidden panel";
}

TEST_F(MainWindowTest, PaintShowsPaletteColoursAtTheirRowsAndStatusFollowsPage) {
  auto window = MakeWindow();
  Session& s = window->session();
  // Pages are stored bottom-up: picture row y is page row 819 - y.
  auto row = [](std::vector<uint8_t>& page, int y) { return page.data() + (819 - y) * 640; };
  struct Row {
    int y, index;
    QRgb rgb;
  } rows[] = {{0, 255, qRgb(255, 255, 255)},
              {1, 0, qRgb(0, 0, 0)},
              {2, 224, qRgb(255, 0, 0)},
              {240, 28, qRgb(0, 255, 0)},
              {479, 3, qRgb(0, 0, 255)}};
  for (const Row& r : rows) std::memset(row(s.page_a, r.y), r.index, 640);
  std::memset(row(s.page_a, 480), 224, 640);  // beyond the shown rows
  QImage shot = window->display()->grab().toImage();
  for (const Row& r : rows) {
    EXPECT_EQ(shot.pixel(0, r.y), r.rgb) << "row " << r.y;
    EXPECT_EQ(shot.pixel(639, r.y), r.rgb) << "row " << r.y;
  }
  EXPECT_FALSE(window->Action(kMenuStatus)->isChecked());

  // The firmware shows page B: the next paint shows it and checks Status.
  std::memset(row(s.page_b, 0), 3, 640);
  s.emu.display.shown.store(1);
  shot = window->display()->grab().toImage();
  EXPECT_EQ(shot.pixel(5, 0), qRgb(0, 0, 255));
  EXPECT_TRUE(window->Action(kMenuStatus)->isChecked());

  // A toggle by hand is not undone until the page changes again.
  window->Action(kMenuStatus)->setChecked(false);
  window->display()->grab();
  EXPECT_FALSE(window->Action(kMenuStatus)->isChecked());
  s.emu.display.shown.store(0);
  window->Action(kMenuStatus)->setChecked(true);
  window->display()->grab();
  EXPECT_FALSE(window->Action(kMenuStatus)->isChecked());
}

TEST_F(MainWindowTest, EndOfRunWithAndWithoutMessage) {
  // A normal end closes the window; a start-up phase that fails keeps it open, shows the
  // message and offers the project chooser (cancelled here).
  struct Row {
    const char* message;
    size_t boxes;
  } rows[] = {{" InitEmuIdents ", 2}, {"", 0}};
  for (const Row& r : rows) {
    messages_.clear();
    auto window = MakeWindow();
    window->chooser = {[](const QString&) { return QString(); }, [] { return false; }};
    window->show();
    window->Tick();
    EXPECT_TRUE(window->isVisible()) << "still running";
    std::strcpy(window->emulator().exit.message, r.message);
    window->emulator().exit.finished.store(1);
    window->Tick();
    EXPECT_EQ(window->isVisible(), r.boxes != 0);
    EXPECT_FALSE(window->timer_active());
    EXPECT_TRUE(
        window->status_line()->text().startsWith(r.boxes ? "Ended: InitEmuIdents |" : "Ended |"))
        << "the status line shows the end before the box";
    ASSERT_EQ(messages_.size(), r.boxes);
    if (r.boxes) {
      EXPECT_EQ(messages_[0].icon, QMessageBox::Warning);
      EXPECT_TRUE(messages_[0].text.contains(QString::fromLatin1(r.message)));
      EXPECT_EQ(messages_[1].text, QStringLiteral("New Project not opened"));
    }
  }
}

TEST_F(MainWindowTest, StartFailureShowsErrorAndStartsNothing) {
  command_line_ = dir_.filePath("missing.tvx");
  auto window = MakeWindow();
  window->Start();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].icon, QMessageBox::Critical);
  EXPECT_EQ(messages_[0].text, QStringLiteral("Param file not found: ") + command_line_);
  EXPECT_FALSE(window->thread_started());
}

TEST_F(MainWindowTest, StartRunsInTheProjectFolderWithItsLog) {
  command_line_ = WriteProject("prog -sp demo\n");
  auto window = MakeWindow();
  const QString before = QDir::currentPath();
  window->Start();
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(QDir::currentPath(), before) << "the process's directory is never changed";
  EXPECT_EQ(QFileInfo(QString::fromStdString(window->emulator().base_folder)).canonicalFilePath(),
            QFileInfo(dir_.path()).canonicalFilePath());
  EXPECT_TRUE(QFileInfo::exists(dir_.filePath("aaa.txt")));
  EXPECT_EQ(window->emulator().args, (std::vector<std::string>{"prog", "-sp", "demo\n"}));

  // -sp on: leaving the application pauses the run, coming back resumes it.
  window->ApplicationActive(false);
  EXPECT_TRUE(window->emulator().run.control.pause_requested());
  window->ApplicationActive(true);
  EXPECT_FALSE(window->emulator().run.control.pause_requested());
  window->SetWindowOptions(10, 1, /*suspend=*/false);
  window->ApplicationActive(false);
  EXPECT_FALSE(window->emulator().run.control.pause_requested()) << "-sp- keeps running";
}

TEST_F(MainWindowTest, EmulationThreadEndsAndClosesTheWindow) {
  // A real thread on a project whose files do not exist: a start-up phase fails, the thread
  // finishes with a message, and the next tick shows it and offers another project.
  command_line_ = WriteProject("prog nothing_here\n");
  auto window_owner = MakeWindow(2000, /*start_thread=*/true);
  MainWindow& window = *window_owner;
  window.show();
  window.Start();
  EXPECT_TRUE(window.thread_started());
  for (int i = 0; i < 500 && !window.emulator().exit.finished.load(); ++i) QTest::qWait(10);
  ASSERT_EQ(window.emulator().exit.finished.load(), 1);
  window.chooser = {[](const QString&) { return QString(); }, [] { return false; }};
  window.Tick();
  EXPECT_TRUE(window.isVisible()) << "the project chooser follows the message";
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_TRUE(messages_[0].text.contains(QStringLiteral("nothing_here")));
}

TEST_F(MainWindowTest, ClosingStopsARunningPausedEmulation) {
  // A firmware that loops for ever: closing the window must end the thread (paused or not)
  // without a message box and without hanging.
  as::Executable exe =
      as::AssembleAndLink({{"loop.s", korvane::test::SnippetSource("", true)}}, {});
  ASSERT_TRUE(exe.ok());
  auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
    std::ofstream f(dir_.filePath(name).toStdString(), std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  };
  write("x.out", exe.file);
  write("x.xcl", {});
  write("x.mem", {});
  command_line_ = WriteProject("korvane -v1 x\n");
  auto window_owner = MakeWindow(2000, /*start_thread=*/true);
  MainWindow& window = *window_owner;
  window.show();
  window.Start();
  ASSERT_TRUE(window.thread_started());
  QTest::qWait(200);
  ASSERT_EQ(window.emulator().exit.finished.load(), 0)
      << "the loop should still run: " << window.emulator().exit.message;
  window.Tick();
  EXPECT_TRUE(window.status_line()->text().startsWith(QStringLiteral("Running | ")))
      << window.status_line()->text().toStdString();
  EXPECT_TRUE(window.status_line()->text().endsWith(QStringLiteral(" | x")));
  window.ApplicationActive(false);  // -sp is on by default: paused
  EXPECT_TRUE(window.emulator().run.control.pause_requested());
  window.Tick();
  EXPECT_TRUE(window.status_line()->text().startsWith(QStringLiteral("Paused | ")));
  window.close();
  EXPECT_EQ(window.emulator().exit.finished.load(), 1);
  EXPECT_EQ(window.session().thread.state(), EmuThreadState::kEnded) << "joined";
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(Store().ReadKeyboard(), 1);
}

TEST_F(MainWindowTest, ClosingStopsAFirmwareWaitingOnASerialPortAtOnce) {
  // The firmware spends its time in x$read_port on an unconnected pseudo-terminal; closing the
  // window wakes that wait instead of waiting for the next check point (minutes away).
  as::Executable exe = as::AssembleAndLink({{"poll.s", korvane::test::SerialPollFirmware()}}, {});
  ASSERT_TRUE(exe.ok());
  for (const char* name : {"x.out", "x.xcl", "x.mem"}) {
    std::ofstream f(dir_.filePath(name).toStdString(), std::ios::binary);
    if (std::string(name) == "x.out")
      f.write(reinterpret_cast<const char*>(exe.file.data()),
              static_cast<std::streamsize>(exe.file.size()));
  }
  qputenv("KORVANE_COM1", "pty");
  command_line_ = WriteProject("korvane -por1 -sp- x\n");
  auto window_owner = MakeWindow(2000, /*start_thread=*/true);
  MainWindow& window = *window_owner;
  window.show();
  window.Start();
  QTest::qWait(300);
  ASSERT_EQ(window.emulator().exit.finished.load(), 0) << window.emulator().exit.message;
  QElapsedTimer timer;
  timer.start();
  window.close();
  qunsetenv("KORVANE_COM1");
  EXPECT_EQ(window.session().thread.state(), EmuThreadState::kEnded);
  EXPECT_LT(timer.elapsed(), 2000) << "closing waited for the firmware";
}

// Save State and Load State on a running firmware: a bad file leaves the run alone, a good one
// restarts it from the state.
TEST_F(MainWindowTest, SaveAndLoadStateWhileRunning) {
  as::Executable exe =
      as::AssembleAndLink({{"loop.s", korvane::test::SnippetSource("", true)}}, {});
  ASSERT_TRUE(exe.ok());
  std::ofstream(dir_.filePath("x.out").toStdString(), std::ios::binary)
      .write(reinterpret_cast<const char*>(exe.file.data()),
             static_cast<std::streamsize>(exe.file.size()));
  std::ofstream(dir_.filePath("x.xcl").toStdString()).close();
  std::ofstream(dir_.filePath("x.mem").toStdString()).close();
  command_line_ = WriteProject("korvane -v1 -sp- x\n");
  auto window_owner = MakeWindow(2000, /*start_thread=*/true);
  MainWindow& window = *window_owner;
  window.show();
  window.Start();
  QTest::qWait(200);
  QString next = dir_.filePath("s.kst");
  window.choose_state_file = [&](MainWindow::StateDialog) { return next; };
  window.Command(kMenuSaveState);
  ASSERT_TRUE(messages_.empty()) << messages_[0].text.toStdString();
  EXPECT_FALSE(window.emulator().run.control.pause_requested()) << "resumed";

  std::ifstream in(next.toStdString(), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bytes[0] = 'X';
  std::ofstream(dir_.filePath("bad.kst").toStdString(), std::ios::binary) << bytes;
  Session* before = &window.session();
  next = dir_.filePath("bad.kst");
  window.Command(kMenuLoadState);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].text.contains(QStringLiteral("is not a Korvane state file")));
  EXPECT_EQ(&window.session(), before);
  EXPECT_FALSE(window.emulator().run.control.pause_requested());
  EXPECT_EQ(window.emulator().exit.finished.load(), 0);

  next = dir_.filePath("s.kst");
  window.Command(kMenuLoadState);
  EXPECT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(window.thread_started());
  EXPECT_NE(window.emulator().start_state, nullptr);
  QTest::qWait(200);
  EXPECT_EQ(window.emulator().exit.finished.load(), 0) << window.emulator().exit.message;
  window.close();
}

// Keys recorded in the window from a saved state replay headless to the same machine.
TEST_F(MainWindowTest, RecordedWindowSessionReplaysHeadless) {
  namespace fs = std::filesystem;
  const fs::path demo(KORVANE_DEMO_DIR);
  if (!fs::exists(demo / "demo.out")) GTEST_SKIP() << "the demo was not built";
  const fs::path dir(dir_.path().toStdString());
  for (const char* name : {"demo.out", "demo.xcl"}) fs::copy_file(demo / name, dir / name);
  std::ofstream(dir / "demo.mem").close();
  fs::create_directories(dir / "drives" / "C");
  command_line_ = WriteProject("korvane -v1 -sp- demo\n");
  auto window_owner = MakeWindow(2000, /*start_thread=*/true);
  MainWindow& window = *window_owner;
  window.show();
  window.Start();
  QTest::qWait(300);
  QString next;
  window.choose_state_file = [&](MainWindow::StateDialog) { return next; };
  next = dir_.filePath("keys.krec");
  window.Command(kMenuRecordInput);
  ASSERT_TRUE(window.recording());
  Emulator& emu = window.emulator();
  for (int vk : {kVkRight, int{'4'}, int{'2'}}) {
    HostKeyDown(emu, vk);
    for (int i = 0; i < 500 && emu.keys.pending_host_key.load() != 0; ++i) QTest::qWait(10);
    HostKeyUp(emu, vk);
    QTest::qWait(400);
  }
  window.session().thread.Pause();
  for (int i = 0; i < 500 && !emu.run.control.paused(); ++i) QTest::qWait(10);
  window.Command(kMenuRecordInput);  // ends the recording at the paused instruction
  EXPECT_FALSE(window.recording());
  next = dir_.filePath("window.kst");
  window.Command(kMenuSaveState);
  window.close();
  ASSERT_TRUE(messages_.empty()) << messages_[0].text.toStdString();

  std::vector<std::string> args = {KORVANE_RUN_PATH,
                                   "--load-state",
                                   (dir / "keys.krec.state").string(),
                                   "--replay",
                                   (dir / "keys.krec").string(),
                                   "--save-state",
                                   (dir / "replay.kst").string(),
                                   "--log",
                                   (dir / "replay.log").string(),
                                   (dir / "demo.tvx").string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  int status = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(WEXITSTATUS(status), 3);
  auto slurp = [](const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  };
  EXPECT_NE(slurp(dir / "keys.krec").find("\nkey "), std::string::npos);
  EXPECT_TRUE(slurp(dir / "window.kst") == slurp(dir / "replay.kst"));
}

// Debug > Source Folders...: the list is kept in the settings store, offered for the next edit
// and given to the running machine and to every machine prepared afterwards.
TEST_F(MainWindowTest, SourceFoldersAreKeptAndGivenToEveryRun) {
  const QStringList chosen{QStringLiteral("/srv/fw/src"), QStringLiteral("/srv/fw/lib")};
  const std::vector<std::string> folders{"/srv/fw/src", "/srv/fw/lib"};
  {
    auto window = MakeWindow();
    window->choose_source_folders = [&](const QStringList& current) {
      EXPECT_TRUE(current.isEmpty());
      return std::optional<QStringList>(chosen);
    };
    window->Action(kMenuDebugSourceFolders)->trigger();
    EXPECT_EQ(window->runs().emu().image.source_dirs, folders);
  }
  command_line_ = WriteProject("prog demo\n");
  auto window = MakeWindow();
  window->Start();
  EXPECT_EQ(window->runs().emu().image.source_dirs, folders) << "a fresh run looks there too";
  window->choose_source_folders = [&](const QStringList& current) {
    EXPECT_EQ(current, chosen);
    return std::optional<QStringList>();  // cancelled: nothing changes
  };
  window->Action(kMenuDebugSourceFolders)->trigger();
  EXPECT_EQ(window->runs().emu().image.source_dirs, folders);
}

}  // namespace
}  // namespace korvane::shell
