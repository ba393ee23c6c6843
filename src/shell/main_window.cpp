// The main window: the device's display, the keypad panel, menus, the timer, and the emulation
// thread it starts and watches.
#include "shell/main_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QProxyStyle>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/debugger.h"
#include "core/run_loop.h"
#include "driver/options.h"
#include "driver/save_state.h"
#include "image/memory_file.h"
#include "platform/vk_keys.h"
#include "services/display.h"
#include "services/keyboard.h"
#include "shell/debugger_window.h"
#include "shell/display_view.h"
#include "shell/key_pictures.h"
#include "shell/palette.h"
#include "shell/profile_window.h"
#include "shell/recent_projects.h"
#include "shell/soft_keys.h"
#include "shell/source_view.h"
#include "shell/welcome.h"

namespace korvane::shell {

namespace {

// A desktop window's height counts the title bar (about one menu height) and a 12-pixel frame
// on top of the client area.
constexpr int kFrameExtra = 12;
constexpr int kClientBase = 480 + kFrameExtra;

// The letters of the menu's key chords.
constexpr int kLetterI = 73, kLetterO = 79, kLetterX = 88, kLetterQ = 81;
// How long the status line keeps saying that typed keys were refused.
constexpr int64_t kRefusedKeyNoticeMs = 5000;
// How often the firmware file is looked at; it goes on after the run has ended, when a fixed
// firmware is most wanted.
constexpr int kFirmwareWatchMs = 1000;

// The menu bar's look without its Alt navigation: Alt pressed alone must not move the keyboard
// into the menus, since every key belongs to the device.
class NoAltMenuStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == QStyle::SH_MenuBar_AltKeyNavigation) return 0;
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};

}  // namespace

MainWindow::MainWindow(WindowConfig config)
    : config_(std::move(config)), store_(config_.store_path), soft_key_width_(kSoftKeyWidth) {
  if (config_.keys) {
    keys_ = config_.keys;
  } else {
    own_keys_ = std::make_unique<EmulatorKeyTarget>([this]() -> Emulator& { return runs_.emu(); });
    keys_ = own_keys_.get();
  }
  // Every fresh machine draws into its own pages and looks for sources in the chosen folders.
  runs_.prepare = [this](Session& s) {
    DisplayInit(s.emu, s.page_a.data(), s.page_b.data());
    s.emu.image.source_dirs = StoredSourceFolders();
    // A run counts for the profile while its window is open (from the start for a restart).
    // The fresh machine may sit where the last one did, so the window lets go of that first.
    if (profile_window_) {
      profile_window_->Attach(nullptr);
      if (profile_window_->isVisible()) profile_window_->Attach(&s.emu);
    }
  };
  params_.param_path = config_.command_line_path;
  show_message = [this](QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, QString::fromLatin1(kMessageCaption), text, QMessageBox::Ok, this);
    box.exec();
  };
  chooser = DesktopProjectChooser(this);
  open_file = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
  choose_source_folders = [this](const QStringList& folders) -> std::optional<QStringList> {
    bool ok = false;
    const QString text = QInputDialog::getMultiLineText(
        this, tr("Source Folders"),
        tr("Folders to look for source files in, one per line (after the project's and the "
           "executable's folders):"),
        folders.join(QLatin1Char('\n')), &ok);
    if (!ok) return std::nullopt;
    QStringList list;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
      if (!line.trimmed().isEmpty()) list << line.trimmed();
    return list;
  };
  choose_state_file = [this](StateDialog kind) {
    // The last folder used is remembered in the settings store.
    QSettings settings(store_.path(), QSettings::IniFormat);
    const QString key = QStringLiteral("Korvane/StateFolder");
    const QString folder = settings.value(key).toString();
    const QString filter =
        kind == StateDialog::kRecord ? tr("Input recordings (*.krec)") : tr("State files (*.kst)");
    QString path = kind == StateDialog::kLoad
                       ? QFileDialog::getOpenFileName(this, QString(), folder, filter)
                       : QFileDialog::getSaveFileName(this, QString(), folder, filter);
    if (!path.isEmpty()) settings.setValue(key, QFileInfo(path).absolutePath());
    return path;
  };
  choose_screenshot = [this](bool* at_zoom) {
    QFileDialog dialog(this, tr("Save Screenshot"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("png"));
    const QString at_1x = tr("PNG picture at 1x (*.png)");
    dialog.setNameFilters({at_1x, tr("PNG picture at the current zoom (*.png)")});
    QString folder = params_.param_path.isEmpty() ? QDir::homePath()
                                                  : QFileInfo(params_.param_path).absolutePath();
    dialog.setDirectory(folder);
    dialog.selectFile(QStringLiteral("screenshot.png"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    *at_zoom = dialog.selectedNameFilter() != at_1x;
    return dialog.selectedFiles().first();
  };

  setWindowTitle(QString::fromLatin1(kWindowTitle));
  setWindowIcon(ProgramIcon());
  setFocusPolicy(Qt::StrongFocus);
  BuildMenus();
  auto* menu_style = new NoAltMenuStyle;
  menu_style->setParent(menuBar());
  menuBar()->setStyle(menu_style);

  auto* client = new QWidget(this);
  client->setFocusPolicy(Qt::NoFocus);
  DisplayView::Hooks hooks;
  hooks.picture = [this] { return ShownPicture(); };
  hooks.left_click = [this](int x, int y) { DisplayClick(x, y); };
  hooks.right_click = [this] { RightClick(); };
  display_ = new DisplayView(std::move(hooks), client);
  setCentralWidget(client);
  new ResizeWatcher(client, [this] { LayoutClient(); });
  status_line_ = new StatusLine(this);
  statusBar()->addWidget(status_line_, 1);
  // A link in a label, no taller than the status line, so the window keeps its size.
  reload_offer_ = new QLabel(this);
  reload_offer_->setText(tr("The firmware file has changed. <a href=\"reload\">Reload</a>"));
  reload_offer_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
  connect(reload_offer_, &QLabel::linkActivated, this, [this] { RestartRun(); });
  statusBar()->addPermanentWidget(reload_offer_);
  reload_offer_->hide();
  statusBar()->setSizeGripEnabled(false);
  UpdateStatus();
  new ProjectDropTarget(this, [this](const QString& path) { OpenRecentProject(path); });
  clock_.start();

  // The panel is made at once and stays hidden unless the keyboard is shown.
  panel_ = new KeyPanel(*keys_, this, client);
  panel_->hide();
  ConnectPanel();

  menu_height_ = menuBar()->sizeHint().height();
  window_height_ = kPanelHeight + 2 * menu_height_ + kClientBase;

  int shown = 1;
  if (std::optional<int> stored = store_.ReadKeyboard()) {
    shown = *stored;
  } else {
    store_.WriteKeyboard(1);  // first run: the panel is shown; failures are ignored
  }
  int screen_height = config_.screen_height;
  if (screen_height <= 0 && QGuiApplication::primaryScreen())
    screen_height = QGuiApplication::primaryScreen()->geometry().height();

  if (window_height_ < screen_height && shown == 1) {
    keyboard_shown_ = true;
    Action(kMenuKeyboard)->setChecked(true);
    PlacePanel();
  } else {
    if (screen_height < window_height_) Action(kMenuKeyboard)->setEnabled(false);
    window_height_ -= kPanelHeight;
    Action(kMenuKeyboard)->setChecked(false);
    keyboard_shown_ = false;
  }
  // A remembered zoom that no longer fits the screen (a smaller one now) gives way to the
  // largest that does; the remembered choice stays for a larger screen.
  int zoom = ReadZoomSetting(store_.path());
  while (zoom > 1 && !ZoomFits(zoom)) --zoom;
  display_->SetZoom(zoom);
  Action(kMenuZoomFit + zoom)->setChecked(true);
  ResizeToHeight();
  move(0, 0);  // the top left corner of the screen, where display and panel fit

  connect(&timer_, &QTimer::timeout, this, &MainWindow::Tick);
  timer_.start(kTimerPeriodMs);

  DisplayInit(runs_.emu(), runs_.session().page_a.data(), runs_.session().page_b.data());
  connect(&firmware_timer_, &QTimer::timeout, this, &MainWindow::CheckFirmware);
  firmware_timer_.start(kFirmwareWatchMs);

  connect(
      qApp, &QGuiApplication::applicationStateChanged, this,
      [this](Qt::ApplicationState state) { ApplicationActive(state == Qt::ApplicationActive); });
}

MainWindow::~MainWindow() { StopEmulation(); }

QWidget* MainWindow::display() const { return display_; }

QAction* MainWindow::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::BuildMenus() {
  auto add = [this](QMenu* menu, int id, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setData(id);
    actions_[id] = action;
    connect(action, &QAction::triggered, this, [this, id] { Command(id); });
    return action;
  };
  QMenu* file = menuBar()->addMenu(tr("&File"));
  add(file, kMenuOpenProject, tr("&Open Project File ..."));
  recent_menu_ = file->addMenu(tr("&Recent Projects"));
  add(file, kMenuRestart, tr("R&estart"));
  // Alt chords never reach the device (the window consumes them), so Alt+S takes nothing away.
  add(file, kMenuScreenshot, tr("Save Screensho&t...\tAlt+S"));
  file->addSeparator();
  add(file, kMenuSaveState, tr("Save St&ate..."));
  add(file, kMenuLoadState, tr("&Load State..."));
  add(file, kMenuRecordInput, tr("Record &Input..."))->setCheckable(true);
  file->addSeparator();
  add(file, kMenuSaveExit, tr("&Save and Exit\tCtrl+X"));
  add(file, kMenuExit, tr("E&xit\tCtrl+Q"));
  QMenu* view = menuBar()->addMenu(tr("&View"));
  add(view, kMenuKeyboard, tr("Keyboard"))->setCheckable(true);
  add(view, kMenuStatus, tr("Status\tCtrl+I"))->setCheckable(true);
  add(view, kMenuStatusNext, tr("Status Next\tCtrl+O"));
  QMenu* zoom = view->addMenu(tr("&Zoom"));
  auto* zoom_group = new QActionGroup(this);
  for (int id = kMenuZoom1; id <= kMenuZoom4; ++id) {
    QAction* action = add(zoom, id, tr("%1x").arg(id - kMenuZoomFit));
    action->setCheckable(true);
    zoom_group->addAction(action);
  }
  QAction* fit = add(zoom, kMenuZoomFit, tr("&Fit to Window"));
  fit->setCheckable(true);
  zoom_group->addAction(fit);
  // The debugger's keys are not on this window: every key here belongs to the device. They act
  // in the debugger window.
  QMenu* debug = menuBar()->addMenu(tr("&Debug"));
  add(debug, kMenuDebugPause, tr("&Pause"));
  add(debug, kMenuDebugStep, tr("&Step"));
  add(debug, kMenuDebugStepOver, tr("Step &Over"));
  add(debug, kMenuDebugStepOut, tr("Step O&ut"));
  debug->addSeparator();
  add(debug, kMenuDebugBreakpoints, tr("&Breakpoints..."));
  add(debug, kMenuDebugWindow, tr("Debu&gger"));
  add(debug, kMenuDebugProfile, tr("P&rofile"));
  add(debug, kMenuDebugSourceFolders, tr("Source &Folders..."));
  QMenu* help = menuBar()->addMenu(tr("&Help"));
  add(help, kMenuHelp, tr("&Help\tCtrl+H"));
  add(help, kMenuAbout, tr("&About korvane ..."));
  RebuildRecentMenu();
}

void MainWindow::PlacePanel() {
  LayoutClient();
  panel_->show();
}

void MainWindow::ResizeToHeight() {
  // The client area below the menu: the display, plus the panel when it is shown; at 1x the
  // window is no larger than that (and the status line).
  max_height_ = window_height_ - menu_height_ - kFrameExtra;
  const int status = statusBar()->sizeHint().height();
  centralWidget()->setMinimumSize(0, 0);
  if (display_->zoom() == kZoomFit) {
    setMinimumSize(kDisplayWidth, max_height_ + status);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  } else {
    const int scale = display_->zoom();
    const QSize size(kDisplayWidth * scale, max_height_ + kDisplayHeight * (scale - 1) + status);
    setMinimumSize(0, 0);
    setMaximumSize(size);
    resize(size);
  }
  UpdateZoomActions();  // the keypad's height counts too
  LayoutClient();
}

void MainWindow::LayoutClient() {
  if (!display_) return;
  QWidget* client = centralWidget();
  const int panel = keyboard_shown_ ? kPanelHeight : 0;
  QSize area(kDisplayWidth * display_->zoom(), kDisplayHeight * display_->zoom());
  if (display_->zoom() == kZoomFit)
    area = QSize(std::max(kDisplayWidth, client->width()),
                 std::max(kDisplayHeight, client->height() - panel));
  display_->setGeometry(0, 0, area.width(), area.height());
  if (welcome_) welcome_->setGeometry(display_->geometry());
  // The keypad keeps its size and sits centred under the display.
  if (panel_)
    panel_->setGeometry((area.width() - kPanelWidth) / 2, area.height(), kPanelWidth, kPanelHeight);
}

void MainWindow::SetZoom(int zoom) {
  if (zoom < kZoomFit || zoom > kMaxZoom) return;
  display_->SetZoom(zoom);
  Action(kMenuZoomFit + zoom)->setChecked(true);
  WriteZoomSetting(store_.path(), zoom);  // a store that cannot be written only forgets it
  ResizeToHeight();
  if (zoom == kZoomFit) {
    // Fit takes the screen's area (less the frame), and the display the largest whole scale
    // in it.
    const QSize area = ScreenArea();
    const int frame = window_height_ - max_height_;
    resize(std::max(kDisplayWidth, area.width() - kFrameExtra),
           std::max(minimumHeight(), area.height() - frame));
  }
  display_->update();
}

QSize MainWindow::ScreenArea() const {
  if (!config_.screen_area.isEmpty()) return config_.screen_area;
  if (config_.screen_height > 0) return QSize(QWIDGETSIZE_MAX, config_.screen_height);
  if (QScreen* screen = QGuiApplication::primaryScreen()) return screen->availableGeometry().size();
  return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

bool MainWindow::ZoomFits(int zoom) const {
  if (zoom <= 1) return true;  // the display at 1x is the least the window shows
  // The window at this zoom, as ResizeToHeight makes it, with its title bar and frame.
  const int status = statusBar()->sizeHint().height();
  const QSize area = ScreenArea();
  return kDisplayWidth * zoom + kFrameExtra <= area.width() &&
         window_height_ + kDisplayHeight * (zoom - 1) + status <= area.height();
}

void MainWindow::UpdateZoomActions() {
  for (int zoom = 2; zoom <= kMaxZoom; ++zoom)
    if (QAction* a = Action(kMenuZoomFit + zoom)) a->setEnabled(ZoomFits(zoom));
}

int MainWindow::zoom() const { return display_->zoom(); }

bool MainWindow::SaveScreenshot(const QString& path, bool at_zoom) {
  QImage picture = display_->LastPicture().convertToFormat(QImage::Format_RGB888);
  if (at_zoom) picture = ScalePicture(picture, display_->scale());
  QImageWriter writer(path, "png");
  if (!writer.write(picture)) {
    show_message(QMessageBox::Warning,
                 tr("Screenshot not saved: %1 (%2)").arg(path, writer.errorString()));
    return false;
  }
  return true;
}

void MainWindow::UpdateStatus() {
  if (!status_line_) return;
  RunStatus status = RunStatus::kNoProject;
  QString message;
  Emulator& emu = runs_.emu();
  if (emu.exit.finished.load(std::memory_order_acquire)) {
    status = RunStatus::kEnded;
    message = QString::fromLocal8Bit(emu.exit.message);
  } else if (runs_.session().thread.started()) {
    status = emu.run.control.pause_requested() ? RunStatus::kPaused : RunStatus::kRunning;
  }
  uint32_t timer_ms = 0;
  if (status != RunStatus::kNoProject) {
    rate_.Add(clock_.elapsed(), PublishedInstructionTotal(emu));
    timer_ms = PublishedSystemTimer(emu);
  }
  // The project name is the project line's last word.
  QString project = params_.words.empty() ? QFileInfo(params_.param_path).completeBaseName()
                                          : QString::fromLocal8Bit(params_.words.back()).trimmed();
  status_line_->Show(status, message, status == RunStatus::kRunning ? rate_.Mips() : 0.0, timer_ms,
                     project);
  // Refused keys stay in the status line for a few seconds after the last one.
  if (refused_keys_ > 0 && clock_.elapsed() - refused_at_ms_ < kRefusedKeyNoticeMs) {
    status_line_->setText(
        tr("%1 | %n typed key(s) refused: the device has not read the %2 keys before them", "",
           refused_keys_)
            .arg(status_line_->text())
            .arg(kKeyQueueCapacity));
  } else {
    refused_keys_ = 0;
  }
}

void MainWindow::RememberProject() {
  WriteRecentProjects(store_.path(),
                      WithRecentProject(ReadRecentProjects(store_.path()), params_.param_path));
  RebuildRecentMenu();
}

void MainWindow::PruneRecentProjects() {
  QStringList list = ReadRecentProjects(store_.path());
  QStringList removed = PruneMissingProjects(list);
  if (removed.isEmpty()) return;
  WriteRecentProjects(store_.path(), list);
  RebuildRecentMenu();
  show_message(QMessageBox::Information,
               tr("These project files no longer exist and were removed from the recent "
                  "projects:\n%1")
                   .arg(removed.join(QLatin1Char('\n'))));
}

void MainWindow::RebuildRecentMenu() {
  recent_menu_->clear();
  const QStringList list = ReadRecentProjects(store_.path());
  for (int i = 0; i < list.size(); ++i) {
    const QString path = list[i];
    QAction* action = recent_menu_->addAction(RecentProjectText(i, path));
    action->setToolTip(path);
    action->setData(path);
    connect(action, &QAction::triggered, this, [this, path] { OpenRecentProject(path); });
  }
  recent_menu_->setEnabled(!list.isEmpty());
}

void MainWindow::OpenRecentProject(const QString& path) {
  QFileInfo info(path);
  if (!info.exists() || info.isDir()) {
    PruneRecentProjects();
    return;
  }
  ProjectChooser fixed = chooser;
  fixed.choose_file = [path](const QString&) { return path; };
  OpenProject(fixed);
}

void MainWindow::OpenProject(const ProjectChooser& project_chooser) {
  const QString chosen = project_chooser.choose_file(params_.param_path);
  if (chosen.isEmpty()) {
    show_message(QMessageBox::Warning, tr("New Project not opened"));
    return;
  }
  OpenProjectPath(chosen);
}

void MainWindow::OpenProjectPath(const QString& path) {
  const std::optional<QString> remembered = store_.ReadParameters();
  StoredParameters next;
  next.param_path = path;
  const QString error = ReadStoredParameters(store_, next);
  if (!error.isEmpty()) {
    // The current run goes on and stays the remembered project.
    if (remembered)
      store_.WriteParameters(*remembered);
    else
      store_.RemoveParameters();
    show_message(QMessageBox::Critical, error);
    return;
  }
  previous_project_ = remembered;
  StartEmulation(next);
  RememberProject();
  UpdateStatus();
}

void MainWindow::Start() {
  PruneRecentProjects();
  previous_project_ = store_.ReadParameters();
  // Nothing chosen yet (a first start, or the remembered project failed): the welcome offers
  // the demo, the open dialog and the recent projects.
  if (params_.param_path.isEmpty() && !previous_project_ && store_.CanOpen()) {
    ShowWelcome();
    UpdateStatus();
    return;
  }
  QString error = ReadStoredParameters(store_, params_);
  if (!error.isEmpty()) {
    // The window stays open with an empty display; File > Open Project File still works.
    show_message(QMessageBox::Critical, error);
    if (store_.CanOpen()) {
      ForgetProject();
      // The open dialog follows at once, from the event loop: in the failed project's folder,
      // or, when that folder is gone, in the installed demo's folder.
      QFileInfo failed(params_.param_path);
      const QString folder = !params_.param_path.isEmpty() && failed.absoluteDir().exists()
                                 ? failed.absolutePath()
                                 : config_.demo_folder;
      QTimer::singleShot(0, this, [this, folder] {
        ProjectChooser next = chooser;
        next.choose_file = [this, folder](const QString&) { return chooser.choose_file(folder); };
        OpenProject(next);
      });
    }
    UpdateStatus();
    return;
  }
  StartEmulation(params_);
  RememberProject();
  UpdateStatus();
}

void MainWindow::StartEmulation(const StoredParameters& params) {
  params_ = params;
  // Relative names of the project line and the drive folders resolve next to the project, and
  // the log is written there (without a writable folder: no log).
  RunSetup setup;
  setup.base_folder = QFileInfo(params.param_path).absolutePath().toStdString();
  setup.words = params.words;
  std::string error;
  runs_.Prepare(setup, nullptr, error);
  StartPrepared(error);
}

void MainWindow::StartPrepared(const std::string& prepare_error) {
  // The run before this one may have left a recording or a memory file that could not be
  // written.
  if (!prepare_error.empty())
    show_message(QMessageBox::Warning, QString::fromStdString(prepare_error));
  if (QAction* action = Action(kMenuRecordInput)) action->setChecked(false);
  reload_offer_->hide();
  if (welcome_) welcome_->hide();
  // The window needs a few options (soft keys, video mode, -sp) before the emulation thread
  // has read them; the pure option reader gives them without touching the emulator. A line that
  // does not read is reported by the emulation thread itself.
  const RunSetup& setup = runs_.setup();
  if (!setup.words.empty()) {
    OptionsRead read = ReadOptionWords(setup.words, setup.base_folder);
    if (read.ok) SetWindowOptions(read.options.soft_keys, read.options.video, read.options.suspend);
  }
  AttachDebugger();
  if (!timer_.isActive()) timer_.start(kTimerPeriodMs);
  if (config_.start_thread) runs_.Start();
  UpdateStatus();
}

void MainWindow::ShowWelcome() {
  if (!welcome_) {
    welcome_ = new WelcomePanel(centralWidget());
    welcome_->open_path = [this](const QString& path) { OpenProjectPath(path); };
    welcome_->choose = [this] {
      // The open dialog starts in the installed demo's folder.
      ProjectChooser in_demo = chooser;
      const QString folder = config_.demo_folder;
      in_demo.choose_file = [this, folder](const QString&) { return chooser.choose_file(folder); };
      OpenProject(in_demo);
    };
  }
  const QString demo = config_.demo_folder.isEmpty()
                           ? QString()
                           : QDir(config_.demo_folder).filePath(QStringLiteral("demo.tvx"));
  welcome_->Fill(QFileInfo(demo).isFile() ? demo : QString(), ReadRecentProjects(store_.path()));
  LayoutClient();
  welcome_->show();
  welcome_->raise();
}

void MainWindow::CheckFirmware() {
  if (!closed_ && runs_.FirmwareChanged()) reload_offer_->show();
}

void MainWindow::AttachDebugger() {
  Emulator& emu = runs_.emu();
  // A fatal fault at full speed shows the instructions that led to it, from the fast core's
  // trail (a little work per taken branch) rather than the stepping loop's history.
  emu.run.fast_trail.on = true;
  emu.debugger = std::make_unique<Debugger>(emu);
  debug_standing_ = false;
  // Runs on the emulation thread, which then waits in the stop until a command resumes it.
  // A stop still on its way when the run is replaced belongs to the old run: it is dropped.
  const int run = ++run_number_;
  emu.debugger->SetStopHandler([this, run](const DebugStop& stop) {
    const QString summary = QString::fromStdString(stop.summary);
    QMetaObject::invokeMethod(
        this,
        [this, run, summary] {
          if (run == run_number_) DebugStopped(summary);
        },
        Qt::QueuedConnection);
  });
  if (debugger_window_) debugger_window_->Attach(&emu);
  if (breakpoints_) {
    breakpoints_->close();
    breakpoints_->deleteLater();
    breakpoints_ = nullptr;
  }
  UpdateDebugActions();
}

DebuggerWindow* MainWindow::debugger_window() {
  if (!debugger_window_) {
    debugger_window_ = new DebuggerWindow(this);
    debugger_window_->command = [this](DebugCommand c) {
      static const int kIds[] = {kMenuDebugPause, kMenuDebugStep, kMenuDebugStepOver,
                                 kMenuDebugStepOut};
      DebugCommandGiven(kIds[static_cast<int>(c)]);
    };
    debugger_window_->run_to = [this](uint32_t address) {
      Debugger* d = runs_.emu().debugger.get();
      if (!d || !debug_standing_ || !d->paused_in_stop()) return;
      debug_standing_ = false;
      debugger_window_->SetStanding(false);
      d->Resume({ResumeKind::kRunTo, 1, address});
      debugger_window_->Refresh(last_stop_);
      UpdateDebugActions();
    };
    debugger_window_->restart = [this] { RestartRun(); };
    debugger_window_->open_log = [this] { open_file(LogPath()); };
    debugger_window_->close_program = [this] { close(); };
    debugger_window_->Attach(&runs_.emu());
    // Beside the display.
    debugger_window_->move(frameGeometry().topRight() + QPoint(8, 0));
  }
  return debugger_window_;
}

ProfileWindow* MainWindow::profile_window() {
  if (!profile_window_) {
    profile_window_ = new ProfileWindow(this);
    profile_window_->show_procedure = [this](uint32_t address) {
      DebuggerWindow* w = debugger_window();
      w->show();
      w->raise();
      w->ShowCode(address);
    };
  }
  return profile_window_;
}

void MainWindow::DebugStopped(const QString& summary) {
  if (closed_) return;  // a stop that was on its way when the window closed
  last_stop_ = summary;
  debug_standing_ = true;
  DebuggerWindow* w = debugger_window();
  w->SetStanding(true);
  w->show();
  w->raise();
  w->Refresh(summary);
  UpdateDebugActions();
}

void MainWindow::DebugCommandGiven(int id) {
  if (!runs_.emu().debugger) return;
  Debugger& d = *runs_.emu().debugger;
  const bool standing = debug_standing_ && d.paused_in_stop();
  auto resume = [&](ResumeKind kind) {
    debug_standing_ = false;
    if (debugger_window_) debugger_window_->SetStanding(false);
    d.Resume({kind});
  };
  switch (id) {
    case kMenuDebugPause:
      if (standing)
        resume(ResumeKind::kContinue);
      else
        d.RequestPause();
      break;
    case kMenuDebugStep:
    case kMenuDebugStepOver:
    case kMenuDebugStepOut:
      if (!standing) return;
      // Step and Step Over go by source line where the executable has line numbers.
      resume(id == kMenuDebugStep       ? ResumeKind::kStepLine
             : id == kMenuDebugStepOver ? ResumeKind::kNextLine
                                        : ResumeKind::kStepOut);
      break;
    case kMenuDebugBreakpoints:
      if (!breakpoints_) breakpoints_ = new BreakpointsDialog(d, this);
      CompleteSymbols(breakpoints_->where_field(), emulator());
      breakpoints_->Fill();
      breakpoints_->show();
      breakpoints_->raise();
      return;
    case kMenuDebugWindow: {
      DebuggerWindow* w = debugger_window();
      w->setVisible(!w->isVisible());
      if (w->isVisible()) w->Refresh(last_stop_);
      return;
    }
  }
  if (debugger_window_) debugger_window_->Refresh(last_stop_);
  UpdateDebugActions();
}

void MainWindow::UpdateDebugActions() {
  const bool standing =
      debug_standing_ && runs_.emu().debugger && runs_.emu().debugger->paused_in_stop();
  if (QAction* a = Action(kMenuDebugPause)) a->setText(standing ? tr("&Continue") : tr("&Pause"));
  for (int id : {kMenuDebugStep, kMenuDebugStepOver, kMenuDebugStepOut})
    if (QAction* a = Action(id)) a->setEnabled(standing);
}

void MainWindow::SetWindowOptions(int soft_keys, int video, bool suspend) {
  soft_keys_ = soft_keys;
  video_ = video;
  suspend_ = suspend;
}

bool MainWindow::FirmwareTakesKeys() const {
  const Session& s = runs_.session();
  if (!s.thread.started()) return false;
  const Emulator& emu = s.emu;
  if (emu.exit.finished.load(std::memory_order_acquire) || emu.run.control.pause_requested() ||
      emu.keys.reads.load(std::memory_order_relaxed) == 0)
    return false;
  return !(emu.debugger && emu.debugger->paused_in_stop());
}

void MainWindow::EndProgram(bool save) {
  KeyChord(save ? kLetterX : kLetterQ);
  if (FirmwareTakesKeys() || closed_) return;  // the firmware ends itself; the tick closes
  // A host stop writes no memory file; the exit chord would have, so the controller writes it
  // from the machine standing between two instructions. A run that failed keeps its file.
  std::string error;
  if (!runs_.End(save, error) && !error.empty())
    show_message(QMessageBox::Warning, QString::fromStdString(error));
  close();
}

void MainWindow::StopEmulation() {
  // Closing the window ends the run without saving the memory file, as ending the process
  // would; the end report is written as for any stop.
  std::string error;
  if (!runs_.End(false, error) && !error.empty() && !closed_)
    show_message(QMessageBox::Warning, QString::fromStdString(error));
  if (QAction* action = Action(kMenuRecordInput)) action->setChecked(false);
}

void MainWindow::Tick() {
  if (display_) display_->repaint();
  UpdateStatus();
  UpdateDebugActions();
  Emulator& emu = runs_.emu();
  if (!emu.exit.finished.load(std::memory_order_acquire)) return;
  timer_.stop();
  runs_.session().thread.Wait();  // the run has ended: this only joins
  FinishRecording();
  const QString message = QString::fromLocal8Bit(emu.exit.message);
  if (message.isEmpty()) {
    close();  // a normal end
  } else if (!emu.exit.run_started) {
    StartFailed(message);
  } else {
    FaultStopped(message);
  }
}

QString MainWindow::LogPath() const {
  return QString::fromStdString(ResolveInBase(runs_.session().emu, "aaa.txt"));
}

void MainWindow::StartFailed(const QString& message) {
  ForgetProject();
  show_message(QMessageBox::Warning, tr("The project %1 did not start:\n%2\n\nThe log is %3.")
                                         .arg(params_.param_path, message, LogPath()));
  ProjectChooser next = chooser;
  const QString folder = QFileInfo(params_.param_path).absolutePath();
  next.choose_file = [this, folder](const QString&) { return chooser.choose_file(folder); };
  OpenProject(next);
}

void MainWindow::FaultStopped(const QString& message) {
  const Emulator& emu = runs_.emu();
  const uint32_t ip = emu.cpu.ip;
  const std::string where = emu.debugger ? emu.debugger->NameAddress(ip) : std::string();
  const QString summary = tr("%1 at 0x%2 %3")
                              .arg(message.trimmed())
                              .arg(ip, 8, 16, QLatin1Char('0'))
                              .arg(QString::fromStdString(where));
  QStringList details;
  if (emu.exit.fault[0] != '\0') details << QString::fromLocal8Bit(emu.exit.fault);
  if (emu.exit.hint[0] != '\0') details << QString::fromLocal8Bit(emu.exit.hint);
  details << QStringLiteral("MsgExit: %1, IP=%2")
                 .arg(message, QStringLiteral("%1").arg(ip, 8, 16, QLatin1Char('0')).toUpper());
  last_stop_ = summary;
  DebuggerWindow* w = debugger_window();
  w->ShowEnded(summary, details.join(QLatin1Char('\n')));
  w->show();
  w->raise();
  UpdateDebugActions();
}

void MainWindow::RestartRun() {
  if (params_.words.empty()) return;  // no project has run
  std::string error;
  runs_.Restart(error);
  StartPrepared(error);
}

void MainWindow::ForgetProject() {
  const std::optional<QString> stored = store_.ReadParameters();
  if (!stored || *stored != params_.param_path) return;
  if (previous_project_ && *previous_project_ != params_.param_path &&
      QFileInfo(*previous_project_).isFile())
    store_.WriteParameters(*previous_project_);
  else
    store_.RemoveParameters();
}

void MainWindow::PaintDisplay(QPainter& painter) { painter.drawImage(0, 0, ShownPicture()); }

QImage MainWindow::ShownPicture() {
  static const QList<QRgb> kColors = PaletteColorTable();
  QImage picture(kDisplayWidth, kDisplayHeight, QImage::Format_Indexed8);
  picture.setColorTable(kColors);
  Emulator& emu = runs_.emu();
  int page = DisplayRefresh(emu);
  if (page != shown_page_) {
    shown_page_ = page;
    Action(kMenuStatus)->setChecked(page == 1);
  }
  std::vector<uint8_t> rows(static_cast<size_t>(kDisplayWidth) * kDisplayHeight);
  CopyShownPicture(emu, rows.data());
  for (int y = 0; y < kDisplayHeight; ++y)
    std::memcpy(picture.scanLine(y), rows.data() + static_cast<size_t>(y) * kDisplayWidth,
                kDisplayWidth);
  return picture;
}

void MainWindow::KeyChord(int letter) {
  keys_->KeyDown(kVkControl);
  Press(letter);
  keys_->KeyUp(kVkControl);
}

void MainWindow::Press(int virtual_key) {
  if (!keys_->KeyDown(virtual_key)) KeyRefused();
}

void MainWindow::KeyRefused() {
  ++refused_keys_;
  refused_at_ms_ = clock_.elapsed();
  UpdateStatus();
}

void MainWindow::ConnectPanel() {
  connect(panel_, &KeyPanel::KeyboardCommand, this, [this] { Command(kMenuKeyboard); });
  connect(panel_, &KeyPanel::KeyRefused, this, &MainWindow::KeyRefused);
}

void MainWindow::Command(int id) {
  switch (id) {
    case kMenuOpenProject:
      OpenProject(chooser);
      break;
    case kMenuRestart:
      RestartRun();
      break;
    case kMenuScreenshot: {
      bool at_zoom = false;
      QString path = choose_screenshot(&at_zoom);
      if (!path.isEmpty()) SaveScreenshot(path, at_zoom);
      break;
    }
    case kMenuSaveState:
    case kMenuLoadState: {
      const bool save = id == kMenuSaveState;
      QString path = choose_state_file(save ? StateDialog::kSave : StateDialog::kLoad);
      if (!path.isEmpty()) save ? SaveStateFile(path) : LoadStateFile(path);
      break;
    }
    case kMenuRecordInput: {  // the check mark has already toggled with the click
      const bool recording = runs_.recording();
      QString path = recording ? QString() : choose_state_file(StateDialog::kRecord);
      if (recording || !path.isEmpty()) RecordInput(path);
      Action(kMenuRecordInput)->setChecked(runs_.recording());
      break;
    }
    case kMenuStatus:  // the check mark has already toggled with the click
      KeyChord(kLetterI);
      break;
    case kMenuStatusNext:
      KeyChord(kLetterO);
      break;
    case kMenuSaveExit:
      EndProgram(true);
      break;
    case kMenuExit:
      EndProgram(false);
      break;
    case kMenuKeyboard:
      ToggleKeyboard();
      break;
    case kMenuDebugProfile:
      profile_window()->Attach(params_.words.empty() ? nullptr : &runs_.emu());
      profile_window()->show();
      profile_window()->raise();
      break;
    case kMenuDebugSourceFolders:
      EditSourceFolders();
      break;
    case kMenuHelp:
      ShowUserGuide();
      break;
    case kMenuAbout:
      ShowAbout();
      break;
    default:
      if (id >= kMenuZoomFit && id <= kMenuZoom4) SetZoom(id - kMenuZoomFit);
      if (id >= kMenuDebugPause && id <= kMenuDebugWindow) DebugCommandGiven(id);
      break;
  }
}

void MainWindow::ToggleKeyboard() {
  if (keyboard_shown_) {
    window_height_ -= kPanelHeight;
    keyboard_shown_ = false;
    Action(kMenuKeyboard)->setChecked(false);
    panel_->hide();
    panel_->deleteLater();
    panel_ = nullptr;
    ResizeToHeight();
  } else {
    window_height_ += kPanelHeight;
    keyboard_shown_ = true;
    Action(kMenuKeyboard)->setChecked(true);
    if (panel_) panel_->deleteLater();
    panel_ = new KeyPanel(*keys_, this, centralWidget());
    ConnectPanel();
    ResizeToHeight();
    PlacePanel();
    setFocus();
  }
}

namespace {

// The About box closes only through its OK button.
class AboutBox : public QDialog {
 public:
  using QDialog::QDialog;
  void reject() override {}
};

}  // namespace

void MainWindow::ShowAbout() {
  AboutBox about(this);
  about.setWindowTitle(tr("About Korvane"));
  auto* layout = new QVBoxLayout(&about);
  auto* row = new QHBoxLayout;
  auto* icon = new QLabel(&about);
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  row->addWidget(icon);
  row->addWidget(new QLabel(tr("Korvane Emulator application."), &about));
  layout->addLayout(row);
  if (!QCoreApplication::applicationVersion().isEmpty())
    layout->addWidget(
        new QLabel(tr("Version %1").arg(QCoreApplication::applicationVersion()), &about));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &about);
  connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
  layout->addWidget(buttons);
  about.exec();
}

void MainWindow::ShowUserGuide() {
  QFile file(config_.user_guide);
  if (config_.user_guide.isEmpty() || !file.open(QIODevice::ReadOnly)) {
    // Without the guide (not installed, not beside the program) the menu says what it always
    // said.
    show_message(QMessageBox::Information, tr("Help is not yet implemented!"));
    return;
  }
  if (!guide_) {
    auto* browser = new QTextBrowser(this);
    browser->setWindowFlag(Qt::Window);
    browser->setWindowTitle(tr("Korvane User Guide"));
    browser->setOpenExternalLinks(true);
    browser->resize(820, 700);
    guide_ = browser;
  }
  auto* browser = static_cast<QTextBrowser*>(guide_);
  browser->setSearchPaths({QFileInfo(config_.user_guide).absolutePath()});
  browser->setMarkdown(QString::fromUtf8(file.readAll()));
  browser->show();
  browser->raise();
}

void MainWindow::DisplayClick(int x, int y) {
  int vk = SoftKeyForClick(x, y, soft_keys_, video_, &soft_key_width_);
  if (vk != 0) Press(vk);
}

void MainWindow::RightClick() { Press(kVkEscape); }

void MainWindow::ApplicationActive(bool active) {
  if (active) {
    // A firmware held by the debugger stays held until a debugger command resumes it.
    const Debugger* d = runs_.emu().debugger.get();
    if (!d || !d->paused_in_stop()) runs_.session().thread.Resume();
  } else if (suspend_) {
    runs_.session().thread.Pause();
  }
}

bool MainWindow::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    // Every key belongs to the device: no menu mnemonics or shortcuts take it first.
    event->accept();
    return true;
  }
  return QMainWindow::event(event);
}

bool MainWindow::focusNextPrevChild(bool) {
  return false;  // Tab is a device key, not focus movement
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  int key = event->key();
  int vk = VkFromToolkitKey(key, event->modifiers() & Qt::KeypadModifier);
  bool system_key = (event->modifiers() & Qt::AltModifier) || vk == kVkAlt || vk == kVkF10;
  if (system_key) {
    // Alt combinations are consumed so Alt neither opens the menu nor closes the window; F10
    // alone is passed on. Alt+S, which the device never receives, saves a screenshot.
    if (vk == kVkF10) Press(kVkF10);
    if (key == Qt::Key_S && (event->modifiers() & Qt::AltModifier) && !event->isAutoRepeat())
      Command(kMenuScreenshot);
    event->accept();
    return;
  }
  // The exit chords end the program also while the firmware reads no keys.
  const bool control = event->modifiers() & Qt::ControlModifier;
  if (control && (key == Qt::Key_X || key == Qt::Key_M || key == Qt::Key_Q) &&
      !FirmwareTakesKeys()) {
    EndProgram(key != Qt::Key_Q);
    event->accept();
    return;
  }
  if (vk != 0) Press(vk);
  event->accept();
}

void MainWindow::keyReleaseEvent(QKeyEvent* event) {
  if (event->isAutoRepeat()) {
    event->accept();
    return;
  }
  int vk = VkFromToolkitKey(event->key(), event->modifiers() & Qt::KeypadModifier);
  bool system_key = (event->modifiers() & Qt::AltModifier) || vk == kVkAlt || vk == kVkF10;
  if (!system_key && vk != 0) keys_->KeyUp(vk);
  event->accept();
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    RightClick();
    event->accept();
    return;
  }
  QMainWindow::mousePressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!closed_) {
    closed_ = true;
    timer_.stop();
    store_.WriteKeyboard(keyboard_shown_ ? 1 : 0);  // failures are ignored
    StopEmulation();                                // also ends a debugger stop's wait
    if (debugger_window_) debugger_window_->close();
    if (breakpoints_) breakpoints_->close();
    if (guide_) guide_->close();
    Q_EMIT Closed();
  }
  event->accept();
}

}  // namespace korvane::shell

namespace korvane::shell {

bool MainWindow::SaveStateFile(const QString& path) {
  std::string error;
  const bool ok = runs_.SaveStateTo(path.toStdString(), error);
  if (!ok) show_message(QMessageBox::Warning, QString::fromStdString(error));
  return ok;
}

bool MainWindow::LoadStateFile(const QString& path) {
  // A fresh machine with the same project line starts from the state.
  std::string error;
  if (!runs_.LoadStateFrom(path.toStdString(), error)) {
    show_message(QMessageBox::Warning, QString::fromStdString(error));
    return false;
  }
  StartPrepared(std::string());
  return true;
}

bool MainWindow::RecordInput(const QString& path) {
  if (path.isEmpty()) {
    FinishRecording();
    return true;
  }
  std::string error;
  const bool ok = runs_.StartRecording(path.toStdString(), error);
  if (!ok) show_message(QMessageBox::Warning, QString::fromStdString(error));
  return ok;
}

void MainWindow::FinishRecording() {
  std::string error;
  const bool ok = runs_.FinishRecording(error);
  if (QAction* action = Action(kMenuRecordInput)) action->setChecked(runs_.recording());
  if (!ok) show_message(QMessageBox::Warning, QString::fromStdString(error));
}

std::vector<std::string> MainWindow::StoredSourceFolders() const {
  QSettings settings(store_.path(), QSettings::IniFormat);
  std::vector<std::string> folders;
  for (const QString& f : settings.value(QStringLiteral("Korvane/SourceFolders")).toStringList())
    folders.push_back(f.toStdString());
  return folders;
}

void MainWindow::EditSourceFolders() {
  QSettings settings(store_.path(), QSettings::IniFormat);
  const QString key = QStringLiteral("Korvane/SourceFolders");
  const std::optional<QStringList> folders =
      choose_source_folders(settings.value(key).toStringList());
  if (!folders) return;
  settings.setValue(key, *folders);
  settings.sync();
  // The running machine looks there from now on; the debugger window reads its sources again.
  runs_.emu().image.source_dirs = StoredSourceFolders();
  if (debugger_window_) debugger_window_->ReloadSources();
}

}  // namespace korvane::shell
