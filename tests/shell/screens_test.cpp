// The screens a user sees first, as pictures: the welcome, a fault's stop in the debugger, the
// debugger window at its default size and a zoom that fell back for a small screen. Each picture
// is written to screens/NAME.png (beside the test's working folder) and checked for its
// essentials. ctest runs these under Xvfb too (a real X server) when xvfb-run is there.
#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "shell/debugger_window.h"
#include "shell/main_window.h"
#include "shell/recent_projects.h"
#include "shell/welcome.h"
#include "shell_support.h"

namespace korvane::shell {
namespace {

QImage Save(QWidget* w, const char* name) {
  QImage picture = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
  QDir().mkpath(QStringLiteral("screens"));
  picture.save(QStringLiteral("screens/%1.png").arg(QString::fromLatin1(name)));
  return picture;
}

// The ink of a rectangle: its dark columns, as the first one, the last one and how many runs of
// adjacent dark columns there are (one or more per glyph, the same for the same text and font).
struct Ink {
  int left = -1, right = -1, runs = 0;
  bool operator==(const Ink& o) const { return right - left == o.right - o.left && runs == o.runs; }
};

Ink InkOf(const QImage& image, const QRect& rect) {
  Ink ink;
  bool in_run = false;
  for (int x = rect.left(); x <= rect.right(); ++x) {
    bool dark = false;
    for (int y = rect.top(); y <= rect.bottom() && !dark; ++y)
      dark = QColor(image.pixel(x, y)).lightness() < 128;
    if (dark) {
      if (ink.left < 0) ink.left = x;
      ink.right = x;
      if (!in_run) ++ink.runs;
    }
    in_run = dark;
  }
  return ink;
}

// `text` drawn whole in `font`, as a table cell draws it.
Ink InkOfText(const QString& text, const QFont& font) {
  const QFontMetrics fm(font);
  QImage image(fm.horizontalAdvance(text) + 8, fm.height() + 4, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setFont(font);
  p.setPen(Qt::black);
  p.drawText(2, 2 + fm.ascent(), text);
  p.end();
  return InkOf(image, image.rect());
}

// Checks that every register value of `w` is in view and drawn whole in `picture` (a grab of
// `w`): its ink is that of its eight digits drawn alone in the table's font.
void ExpectRegistersWhole(DebuggerWindow* w, const QImage& picture) {
  QTableWidget* regs = w->registers();
  for (int row = 0; row < regs->rowCount(); ++row) {
    for (int column : {1, 3}) {
      QTableWidgetItem* item = regs->item(row, column);
      const QRect rect = regs->visualItemRect(item);
      EXPECT_TRUE(regs->viewport()->rect().contains(rect)) << "row " << row << " is in view";
      const QRect cell(regs->viewport()->mapTo(w, rect.topLeft()), rect.size());
      EXPECT_EQ(InkOf(picture, cell.adjusted(1, 1, -1, -1)), InkOfText(item->text(), regs->font()))
          << "row " << row << " column " << column << ": " << item->text().toStdString();
    }
  }
}

class ScreensTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    ASSERT_TRUE(dir_.isValid());
  }
  std::unique_ptr<MainWindow> Window(const QString& project) {
    auto window = std::make_unique<MainWindow>(test::RunConfig(dir_, &keys_, project));
    window->show_message = [](QMessageBox::Icon, const QString& text) {
      ADD_FAILURE() << text.toStdString();
    };
    window->show();
    window->Start();
    return window;
  }
  QString Project(const char* body, const char* options) {
    as::Executable exe;
    EXPECT_TRUE(test::MakeFirmware(dir_, body, exe));
    symbols_ = exe.symbols;
    const QString path = dir_.filePath("x.tvx");
    std::ofstream(path.toStdString()) << "korvane -v1 -sp- " << options << " x\n";
    return path;
  }

  QTemporaryDir dir_;
  test::RecordingKeys keys_;
  std::map<std::string, uint32_t> symbols_;
};

TEST_F(ScreensTest, Welcome) {
  std::ofstream(dir_.filePath("demo.tvx").toStdString()) << "korvane demo\n";
  WindowConfig config = test::RunConfig(dir_, &keys_, QString());
  config.demo_folder = dir_.path();
  MainWindow window(config);
  window.show_message = [](QMessageBox::Icon, const QString& text) {
    ADD_FAILURE() << "a first start says nothing: " << text.toStdString();
  };
  window.show();
  window.Start();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  const QImage picture = Save(&window, "welcome");
  WelcomePanel* welcome = window.welcome();
  ASSERT_NE(welcome, nullptr);
  for (QWidget* w : {static_cast<QWidget*>(welcome->demo_button()),
                     static_cast<QWidget*>(welcome->open_button())}) {
    ASSERT_TRUE(w->isVisible());
    const QRect rect(w->mapTo(&window, QPoint(0, 0)), w->size());
    EXPECT_TRUE(picture.rect().contains(rect)) << "the button lies inside the window";
    EXPECT_GT(InkOf(picture, rect.adjusted(4, 4, -4, -4)).runs, 3) << "its text is drawn";
  }
}

TEST_F(ScreensTest, FaultStopAndTheDebuggerAtItsDefaultSize) {
  auto owner = Window(Project("\tmov 3, g0\n\tmov 5, g1\n\temul g0, g1, g2\n", ""));
  MainWindow& window = *owner;
  DebuggerWindow* w = window.debugger_window();
  ASSERT_TRUE(test::WaitUntil([&] { return w->isVisible() && w->ended(); }));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  w->registers()->clearSelection();
  w->registers()->setCurrentItem(nullptr);
  const QImage picture = Save(w, "fault_stop");
  EXPECT_TRUE(w->end_details()->text().contains(QStringLiteral("-xi")));
  const QRect details(w->end_details()->mapTo(w, QPoint(0, 0)), w->end_details()->size());
  EXPECT_GT(InkOf(picture, details).runs, 10) << "the fault's text and hint are drawn";
  EXPECT_LE(w->width(), w->screen()->availableGeometry().width());

  ExpectRegistersWhole(w, picture);
  window.close();
}

TEST_F(ScreensTest, DebuggerAtItsDefaultSize) {
  auto owner = Window(Project("again:\n\taddo 1, g4, g4\n\tb again\n", ""));
  MainWindow& window = *owner;
  window.Command(kMenuDebugPause);
  DebuggerWindow* w = window.debugger_window();
  ASSERT_TRUE(test::WaitUntil([&] {
    return w->isVisible() && window.emulator().debugger->paused_in_stop() &&
           w->registers()->isEnabled();
  }));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  w->registers()->clearSelection();
  w->registers()->setCurrentItem(nullptr);
  const QImage picture = Save(w, "debugger");
  ExpectRegistersWhole(w, picture);
  window.close();
}

TEST_F(ScreensTest, ZoomFallback) {
  WriteZoomSetting(dir_.filePath("store.ini"), 4);
  WindowConfig config = test::RunConfig(dir_, &keys_, QString());
  config.screen_area = QSize(1400, 1500);
  config.start_thread = false;
  MainWindow window(config);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.zoom(), 2) << "the stored 4x does not fit: the largest that does";
  EXPECT_FALSE(window.Action(kMenuZoomFit + 3)->isEnabled());
  const QImage picture = Save(&window, "zoom_fallback");
  EXPECT_LE(picture.width(), config.screen_area.width());
  EXPECT_LE(picture.height(), config.screen_area.height());
  EXPECT_EQ(window.display()->size(), QSize(1280, 960)) << "the display at 2x";
}

}  // namespace
}  // namespace korvane::shell
