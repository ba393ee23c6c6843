// The window's desktop conveniences: zoom, screenshots, the status line, recent projects,
// dropped project files and the first start.
#include <gtest/gtest.h>

#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <fstream>

#include "shell/display_view.h"
#include "shell/main_window.h"
#include "shell/recent_projects.h"
#include "shell/welcome.h"
#include "shell_support.h"

namespace korvane::shell {
namespace {

using Calls = std::vector<std::string>;

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override { test::App(); }
  std::unique_ptr<MainWindow> MakeWindow(const QString& project = QString()) {
    WindowConfig config;
    config.store_path = dir_.filePath("store.ini");
    config.screen_height = 2000;
    config.keys = &keys_;
    config.start_thread = false;
    config.command_line_path = project;
    config.demo_folder = dir_.path();
    auto window = std::make_unique<MainWindow>(config);
    window->show_message = [this](QMessageBox::Icon, const QString& text) {
      messages_.push_back(text);
    };
    return window;
  }
  QString Project(const QString& name) {
    QString path = dir_.filePath(name);
    std::ofstream(path.toStdString()) << "prog " << QFileInfo(name).baseName().toStdString();
    return path;
  }
  QTemporaryDir dir_;
  test::RecordingKeys keys_;
  std::vector<QString> messages_;
};

TEST(Zoom, ScaleAndClickMapping) {
  struct Row {
    int zoom;
    QSize area;
    QPoint click;
    std::optional<QPoint> device;
    const char* why;
  };
  const Row rows[] = {
      {1, {640, 480}, {200, 450}, QPoint(200, 450), "1x: positions unchanged"},
      {3, {1920, 1440}, {602, 1352}, QPoint(200, 450), "3x: divided by the scale"},
      {kZoomFit, {1360, 1000}, {40, 100}, QPoint(0, 40), "Fit 2x, picture centred at 40, 20"},
      {kZoomFit, {1360, 1000}, {39, 100}, std::nullopt, "left of the centred picture"},
      {kZoomFit, {700, 500}, {699, 10}, std::nullopt, "Fit never goes below 1x"},
  };
  for (const Row& r : rows) {
    int scale = ZoomScale(r.zoom, r.area);
    EXPECT_EQ(DevicePoint(r.click, r.area, scale), r.device) << r.why;
  }
  EXPECT_EQ(ZoomScale(kZoomFit, {3840, 2000}), 4) << "4K screen, panel below";
}

TEST_F(DesktopTest, ZoomSizesTheWindowMapsClicksAndIsRemembered) {
  auto window = MakeWindow();
  window->SetZoom(2);
  EXPECT_EQ(window->display()->size(), QSize(1280, 960));
  EXPECT_EQ(window->maximumWidth(), 1280);
  EXPECT_EQ(window->panel()->geometry(), QRect(320, 960, 640, kPanelHeight)) << "centred below";
  QTest::mouseClick(window->display(), Qt::LeftButton, Qt::NoModifier, QPoint(400, 900));
  EXPECT_EQ(keys_.calls, (Calls{"down 115"})) << "F4 as at (200, 450) at 1x";
  EXPECT_TRUE(MakeWindow()->Action(kMenuZoom1 + 1)->isChecked()) << "the next start keeps 2x";

  window->Command(kMenuZoomFit);
  window->show();
  window->resize(2100, 1800);
  QTest::qWait(1);
  EXPECT_EQ(window->display()->width(), window->centralWidget()->width());
  EXPECT_EQ(static_cast<DisplayView*>(window->display())->scale(), 3);
}

TEST_F(DesktopTest, ZoomsLargerThanTheScreenAreGreyAndAStoredOneFallsBack) {
  WriteZoomSetting(dir_.filePath("store.ini"), 4);
  struct Row {
    QSize area;
    int largest;  // the largest zoom left enabled, and the one a stored 4x starts at
    const char* why;
  } rows[] = {
      {QSize(5000, 5000), 4, "a large screen takes every zoom"},
      {QSize(1950, 5000), 3, "4x is too wide"},
      {QSize(5000, 1300), 2, "3x is too high"},
      {QSize(1000, 700), 1, "a small screen: 1x only"},
  };
  for (const Row& r : rows) {
    WindowConfig config;
    config.store_path = dir_.filePath("store.ini");
    config.screen_area = r.area;
    config.keys = &keys_;
    config.start_thread = false;
    MainWindow window(config);
    for (int zoom = 1; zoom <= kMaxZoom; ++zoom)
      EXPECT_EQ(window.Action(kMenuZoomFit + zoom)->isEnabled(), zoom <= r.largest)
          << r.why << ", zoom " << zoom;
    EXPECT_EQ(window.zoom(), r.largest) << r.why << ": the stored 4x falls back";
    EXPECT_LE(window.frameGeometry().height(), r.area.height() + 40) << r.why;
    EXPECT_EQ(ReadZoomSetting(config.store_path), 4) << "kept for a larger screen";
    // Fit takes the screen's area (here without a window manager's frame).
    window.Command(kMenuZoomFit);
    EXPECT_LE(window.width(), r.area.width()) << r.why;
    EXPECT_LE(window.height(), r.area.height()) << r.why;
    WriteZoomSetting(config.store_path, 4);
  }
}

TEST_F(DesktopTest, HelpShowsTheUserGuideAndAboutNamesTheVersion) {
  const QString guide = dir_.filePath("README.md");
  QFile file(guide);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("# Korvane\n\n## User guide\n\nProjects are `NAME.tvx` files.\n");
  file.close();
  struct Row {
    QString user_guide;
    bool shown;
    const char* why;
  } rows[] = {
      {guide, true, "the guide, read as Markdown"},
      {dir_.filePath("gone.md"), false, "no guide: the menu's old message"},
  };
  for (const Row& r : rows) {
    messages_.clear();
    WindowConfig config;
    config.store_path = dir_.filePath("store.ini");
    config.screen_height = 2000;
    config.keys = &keys_;
    config.start_thread = false;
    config.user_guide = r.user_guide;
    MainWindow window(config);
    window.show_message = [this](QMessageBox::Icon, const QString& text) {
      messages_.push_back(text);
    };
    window.Command(kMenuHelp);
    QWidget* shown = window.user_guide_window();
    EXPECT_EQ(shown && shown->isVisible(), r.shown) << r.why;
    if (r.shown) {
      const QString text = static_cast<QTextBrowser*>(shown)->toPlainText();
      EXPECT_TRUE(text.contains(QStringLiteral("Projects are NAME.tvx files."))) << r.why;
      EXPECT_FALSE(text.contains(QStringLiteral("##"))) << "headings, not Markdown source";
      EXPECT_TRUE(messages_.empty());
    } else {
      EXPECT_EQ(messages_, std::vector<QString>{QStringLiteral("Help is not yet implemented!")});
    }
    window.close();
    EXPECT_FALSE(shown && shown->isVisible()) << "the guide goes with the window";
  }

  QCoreApplication::setApplicationVersion(QStringLiteral("9.8.7"));
  auto window = MakeWindow();
  QStringList about_texts;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    if (!box) return;
    for (QLabel* label : box->findChildren<QLabel*>()) about_texts << label->text();
    static_cast<QDialog*>(box)->accept();
  });
  window->Command(kMenuAbout);
  EXPECT_TRUE(about_texts.contains(QStringLiteral("Korvane Emulator application.")));
  EXPECT_TRUE(about_texts.contains(QStringLiteral("Version 9.8.7")));
  QCoreApplication::setApplicationVersion(QString());
}

TEST_F(DesktopTest, ScreenshotAtOneAndAtTheZoom) {
  auto window = MakeWindow();
  Session& s = window->session();
  std::memset(s.page_a.data() + 819 * 640, 224, 640);  // top row red
  window->SetZoom(3);
  window->display()->grab();
  bool at_zoom = false;
  QString path;
  window->choose_screenshot = [&](bool* z) {
    *z = at_zoom;
    return path;
  };
  struct Row {
    bool at_zoom;
    QSize size;
  } rows[] = {{false, {640, 480}}, {true, {1920, 1440}}};
  for (const Row& r : rows) {
    path = dir_.filePath(r.at_zoom ? "zoom.png" : "one.png");
    at_zoom = r.at_zoom;
    window->Command(kMenuScreenshot);
    QImage shot(path);
    EXPECT_EQ(shot.size(), r.size);
    const int scale = r.size.width() / 640;
    EXPECT_EQ(shot.pixel(0, scale - 1), qRgb(255, 0, 0));
    EXPECT_EQ(shot.pixel(0, scale), qRgb(0, 0, 0)) << "sharp pixels, no smoothing";
  }
  // Alt+S saves too, and reaches nothing of the device; a path that cannot be written says so.
  path = dir_.filePath("missing-folder/x.png");
  QTest::keyClick(window.get(), Qt::Key_S, Qt::AltModifier);
  EXPECT_TRUE(keys_.calls.empty());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].startsWith("Screenshot not saved: " + path));
}

TEST(StatusLine, TextsAndSpeed) {
  EXPECT_EQ(StatusLine::Text(RunStatus::kRunning, "", 12.34, 61500, "demo"),
            QStringLiteral("Running | 12.3 MIPS | system_timer 61.5 s | demo"));
  EXPECT_EQ(StatusLine::Text(RunStatus::kEnded, " MsgExit: bad \n", 0, 0, "demo"),
            QStringLiteral("Ended: MsgExit: bad | 0.0 MIPS | system_timer 0.0 s | demo"));
  RateMeter meter;
  for (int64_t t = 0; t <= 3000; t += 250) meter.Add(t, t < 2000 ? t * 1000 : t * 5000);
  EXPECT_DOUBLE_EQ(meter.Mips(), 5.0) << "only the last second counts";
}

TEST_F(DesktopTest, RecentProjectsKeptPrunedAndOpened) {
  QStringList paths;
  for (int i = 0; i < 10; ++i) paths.append(Project(QStringLiteral("p%1.tvx").arg(i)));
  for (const QString& p : paths) MakeWindow(p)->Start();
  auto window = MakeWindow(paths[9]);
  QFile::remove(paths[8]);
  window->Start();
  ASSERT_EQ(messages_.size(), 1u) << "the missing file is reported";
  EXPECT_TRUE(messages_[0].endsWith(paths[8]));
  QStringList recent = ReadRecentProjects(dir_.filePath("store.ini"));
  EXPECT_EQ(recent,
            (QStringList{paths[9], paths[7], paths[6], paths[5], paths[4], paths[3], paths[2]}));
  EXPECT_EQ(window->recent_menu()->actions().size(), 7);

  window->show();
  window->recent_menu()->actions()[2]->trigger();
  EXPECT_EQ(SettingsStore(dir_.filePath("store.ini")).ReadParameters(), paths[6]);
  EXPECT_TRUE(window->isVisible()) << "the project runs in this window";
  EXPECT_EQ(window->emulator().args.back(), "p6");
}

TEST_F(DesktopTest, RecentProjectsOfOneNameShowTheirFolders) {
  const QString home = QDir::homePath();
  struct Row {
    int index;
    QString path;
    QString text;
    const char* why;
  } rows[] = {
      {0, home + "/a/demo.tvx", "&1 demo.tvx  (~/a)", "below the home folder: ~"},
      {1, home + "/b/demo.tvx", "&2 demo.tvx  (~/b)", "the same name in another folder"},
      {2, "/srv/c/demo.tvx", "&3 demo.tvx  (/srv/c)", "outside the home folder: the whole path"},
      {3, "/srv/R&D/a&b.tvx", "&4 a&&b.tvx  (/srv/R&&D)", "an '&' is no mnemonic"},
  };
  for (const Row& r : rows) EXPECT_EQ(RecentProjectText(r.index, r.path), r.text) << r.why;
}

TEST_F(DesktopTest, DroppedProjectFileOpens) {
  auto window = MakeWindow();
  window->chooser = {[](const QString&) { return QString(); }, [] { return true; }};
  QMimeData other, project;
  other.setUrls({QUrl::fromLocalFile(dir_.filePath("store.ini"))});
  project.setUrls({QUrl::fromLocalFile(Project("dropped.tvx"))});
  EXPECT_TRUE(DroppedProjectFile(&other).isEmpty()) << "only project files";
  EXPECT_FALSE(DroppedProjectFile(&project).isEmpty());
  // The drag is offered first; only a project file is taken, and dropping it opens it.
  for (QMimeData* mime : {&other, &project}) {
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &enter);
    EXPECT_EQ(enter.isAccepted(), mime == &project);
  }
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &project, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window.get(), &drop);
  EXPECT_EQ(SettingsStore(dir_.filePath("store.ini")).ReadParameters(),
            dir_.filePath("dropped.tvx"));
}

// A first start (nothing remembered) says nothing about the settings store: it welcomes with
// the demo, Open Project (in the demo's folder) and the recent projects.
TEST_F(DesktopTest, FirstStartWelcomesWithTheDemoOpenProjectAndTheRecentList) {
  const QString demo = Project("demo.tvx");
  auto window = MakeWindow();
  QString asked_in = "not asked";
  window->chooser = {[&](const QString& initial) {
                       asked_in = initial;
                       return QString();
                     },
                     [] { return false; }};
  window->show();
  window->Start();
  EXPECT_TRUE(messages_.empty()) << "no message about the store";
  ASSERT_NE(window->welcome(), nullptr);
  EXPECT_TRUE(window->welcome()->isVisible());
  EXPECT_TRUE(window->welcome()->demo_button()->isVisible());
  EXPECT_EQ(window->welcome()->recent_list()->item(0)->data(Qt::UserRole), QVariant());

  window->welcome()->open_button()->click();
  EXPECT_EQ(asked_in, dir_.path());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "New Project not opened") << "cancelled";

  window->welcome()->demo_button()->click();
  EXPECT_FALSE(window->welcome()->isVisible()) << "the demo runs";
  EXPECT_EQ(SettingsStore(dir_.filePath("store.ini")).ReadParameters(), demo);

  // The next start without a remembered project lists the demo among the recent ones.
  SettingsStore(dir_.filePath("store.ini")).RemoveParameters();
  auto again = MakeWindow();
  again->Start();
  ASSERT_NE(again->welcome(), nullptr);
  EXPECT_EQ(again->welcome()->recent_list()->item(0)->data(Qt::UserRole).toString(), demo);
}

}  // namespace
}  // namespace korvane::shell
