// The main window: the device's display, the keypad panel, menus, the timer, and the emulation
// thread it starts and watches.
#include "shell/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QProxyStyle>
#include <QScreen>
#include <QVBoxLayout>
#include <chrono>
#include <cstring>

#include "driver/options.h"
#include "platform/vk_keys.h"
#include "services/display.h"
#include "shell/key_pictures.h"
#include "shell/palette.h"
#include "shell/soft_keys.h"
#include "shell/translation.h"

namespace korvane::shell {

// The display area: the top 640 x 480 pixels of the shown picture page, painted on every tick
// without erasing the background first (so it never flickers).
class DisplayView : public QWidget {
 public:
  DisplayView(MainWindow* window, QWidget* parent) : QWidget(parent), window_(window) {
    setFixedSize(kDisplayWidth, kDisplayHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    window_->PaintDisplay(painter);
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) {
      QPoint pos = event->position().toPoint();
      window_->DisplayClick(pos.x(), pos.y());
      event->accept();
    } else if (event->button() == Qt::RightButton) {
      window_->RightClick();
      event->accept();
    } else {
      QWidget::mousePressEvent(event);
    }
  }

 private:
  MainWindow* window_;
};

namespace {

// A desktop window's height counts the title bar (about one menu height) and a 12-pixel frame
// on top of the client area.
constexpr int kFrameExtra = 12;
constexpr int kClientBase = 480 + kFrameExtra;

// The letters of the menu's key chords.
constexpr int kLetterI = 73, kLetterO = 79, kLetterX = 88, kLetterQ = 81;


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
    : config_(std::move(config)),
      store_(config_.store_path),
      session_(std::make_unique<Session>()),
      soft_key_width_(kSoftKeyWidth) {
  if (config_.keys) {
    keys_ = config_.keys;
  } else {
    own_keys_ = std::make_unique<EmulatorKeyTarget>(session_->emu);
    keys_ = own_keys_.get();
  }
  params_.param_path = config_.command_line_path;
  show_message = [this](QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, QString::fromLatin1(kMessageCaption), text, QMessageBox::Ok, this);
    box.exec();
  };
  chooser = DesktopProjectChooser(this);

  setWindowTitle(QString::fromLatin1(kWindowTitle));
  setWindowIcon(ProgramIcon());
  setFocusPolicy(Qt::StrongFocus);
  BuildMenus();
  auto* menu_style = new NoAltMenuStyle;
  menu_style->setParent(menuBar());
  menuBar()->setStyle(menu_style);

  auto* client = new QWidget(this);
  client->setFocusPolicy(Qt::NoFocus);
  display_ = new DisplayView(this, client);
  display_->move(0, 0);
  setCentralWidget(client);

  // The panel is made at once and stays hidden unless the keyboard is shown.
  panel_ = new KeyPanel(*keys_, this, client);
  panel_->hide();
  connect(panel_, &KeyPanel::KeyboardCommand, this, [this] { Command(kMenuKeyboard); });

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
  ResizeToHeight();
  move(0, 0);  // the top left corner of the screen, where display and panel fit

  connect(&timer_, &QTimer::timeout, this, &MainWindow::Tick);
  timer_.start(kTimerPeriodMs);

  DisplayInit(session_->emu, session_->page_a.data(), session_->page_b.data());

  connect(qApp, &QGuiApplication::applicationStateChanged, this,
          [this](Qt::ApplicationState state) { ApplicationActive(state == Qt::ApplicationActive); });
}

MainWindow::~MainWindow() { StopEmulation(); }

QWidget* MainWindow::display() const { return display_; }

QAction* MainWindow::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::BuildMenus() {
  auto add = [this](QMenu* menu, int id, const char* text) {
    QAction* action = menu->addAction(Text(text));
    action->setData(id);
    actions_[id] = action;
    connect(action, &QAction::triggered, this, [this, id] { Command(id); });
    return action;
  };
  QMenu* file = menuBar()->addMenu(Text("&File"));
  add(file, kMenuOpenProject, "&Open Project File ...");
  file->addSeparator();
  add(file, kMenuSaveExit, "&Save and Exit\tCtrl+X");
  add(file, kMenuExit, "E&xit\tCtrl+Q");
  QMenu* view = menuBar()->addMenu(Text("&View"));
  add(view, kMenuKeyboard, "Keyboard")->setCheckable(true);
  add(view, kMenuStatus, "Status\tCtrl+I")->setCheckable(true);
  add(view, kMenuStatusNext, "Status Next\tCtrl+O");
  QMenu* help = menuBar()->addMenu(Text("&Help"));
  add(help, kMenuHelp, "&Help\tCtrl+H");
  add(help, kMenuAbout, "&About korvane ...");
}

void MainWindow::PlacePanel() {
  panel_->setGeometry(0, kDisplayHeight, kPanelWidth, kPanelHeight);
  panel_->show();
}

void MainWindow::ResizeToHeight() {
  // The client area below the menu: the display, plus the panel when it is shown.
  max_height_ = window_height_ - menu_height_ - kFrameExtra;
  centralWidget()->setMinimumSize(0, 0);
  setMaximumSize(kDisplayWidth, max_height_);
  resize(kDisplayWidth, max_height_);
}

void MainWindow::Start() {
  QString error = ReadStoredParameters(store_, params_);
  if (!error.isEmpty()) {
    // The window stays open with an empty display; File > Open Project File still works.
    show_message(QMessageBox::Critical, error);
    return;
  }
  StartEmulation(params_);
}

void MainWindow::StartEmulation(const StoredParameters& params) {
  Emulator& emu = session_->emu;
  // Relative names of the project line and the drive folders resolve next to the project, and
  // the log is written there.
  emu.base_folder = QFileInfo(params.param_path).absolutePath().toStdString();
  emu.log.OpenFile(ResolveInBase(emu, "aaa.txt"));  // without a writable folder: no log
  emu.SetArgs(params.words);

  // The window needs a few options (soft keys, video mode, -sp) before the emulation thread
  // has read them; the pure option reader gives them without touching the emulator. A line that
  // does not read is reported by the emulation thread itself.
  if (!params.words.empty()) {
    OptionsRead read = ReadOptionWords(params.words, emu.base_folder);
    if (read.ok) SetWindowOptions(read.options.soft_keys, read.options.video, read.options.suspend);
  }
  if (!config_.start_thread) return;
  session_->thread.Start();
}

void MainWindow::SetWindowOptions(int soft_keys, int video, bool suspend) {
  soft_keys_ = soft_keys;
  video_ = video;
  suspend_ = suspend;
}

void MainWindow::StopEmulation() {
  if (!session_ || !session_->thread.started()) return;
  // Closing the window ends the run without saving the memory file, as ending the process
  // would; the end report is written as for any stop.
  session_->thread.Stop();
  session_->thread.Wait();
}

void MainWindow::Tick() {
  if (display_) display_->repaint();
  if (!session_ || !session_->emu.exit.finished.load(std::memory_order_acquire)) return;
  timer_.stop();
  session_->thread.Wait();  // the run has ended: this only joins
  QString message = QString::fromLocal8Bit(session_->emu.exit.message);
  if (!message.isEmpty()) show_message(QMessageBox::Warning, message);
  close();
}

void MainWindow::PaintDisplay(QPainter& painter) {
  if (!session_) return;
  Emulator& emu = session_->emu;
  int page = DisplayRefresh(emu);
  if (page != shown_page_) {
    shown_page_ = page;
    Action(kMenuStatus)->setChecked(page == 1);
  }
  static const QList<QRgb> kColors = PaletteColorTable();
  QImage picture(kDisplayWidth, kDisplayHeight, QImage::Format_Indexed8);
  picture.setColorTable(kColors);
  std::vector<uint8_t> rows(static_cast<size_t>(kDisplayWidth) * kDisplayHeight);
  CopyShownPicture(emu, rows.data());
  for (int y = 0; y < kDisplayHeight; ++y)
    std::memcpy(picture.scanLine(y), rows.data() + static_cast<size_t>(y) * kDisplayWidth,
                kDisplayWidth);
  painter.drawImage(0, 0, picture);
}

void MainWindow::KeyChord(int letter) {
  keys_->KeyDown(kVkControl);
  keys_->KeyDown(letter);
  keys_->KeyUp(kVkControl);
}

void MainWindow::Command(int id) {
  switch (id) {
    case kMenuOpenProject: {
      int result = OpenProjectFile(store_, params_.param_path, chooser);
      if (result == -1) {
        show_message(QMessageBox::Warning, QStringLiteral("New Project not opened"));
      } else if (result == 0) {
        show_message(QMessageBox::Warning, QStringLiteral("Problem creating new emulation"));
      } else {
        timer_.stop();
        close();  // the new instance takes over
      }
      break;
    }
    case kMenuStatus:  // the check mark has already toggled with the click
      KeyChord(kLetterI);
      break;
    case kMenuStatusNext:
      KeyChord(kLetterO);
      break;
    case kMenuSaveExit:
      KeyChord(kLetterX);
      break;
    case kMenuExit:
      KeyChord(kLetterQ);
      break;
    case kMenuKeyboard:
      ToggleKeyboard();
      break;
    case kMenuHelp:
      show_message(QMessageBox::Information, QStringLiteral("Help is not yet implemented!"));
      break;
    case kMenuAbout:
      ShowAbout();
      break;
    default:
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
    connect(panel_, &KeyPanel::KeyboardCommand, this, [this] { Command(kMenuKeyboard); });
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
  about.setWindowTitle(QStringLiteral("About Korvane"));
  auto* layout = new QVBoxLayout(&about);
  auto* row = new QHBoxLayout;
  auto* icon = new QLabel(&about);
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  row->addWidget(icon);
  row->addWidget(new QLabel(QStringLiteral("Korvane Emulator application."), &about));
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &about);
  connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
  layout->addWidget(buttons);
  about.exec();
}

void MainWindow::DisplayClick(int x, int y) {
  int vk = SoftKeyForClick(x, y, soft_keys_, video_, &soft_key_width_);
  if (vk != 0) keys_->KeyDown(vk);
}

void MainWindow::RightClick() { keys_->KeyDown(kVkEscape); }

void MainWindow::ApplicationActive(bool active) {
  if (!session_) return;
  if (active) {
    session_->thread.Resume();
  } else if (suspend_) {
    session_->thread.Pause();
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
    // alone is passed on.
    if (vk == kVkF10) keys_->KeyDown(kVkF10);
    event->accept();
    return;
  }
  if (vk != 0) keys_->KeyDown(vk);
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
    StopEmulation();
  }
  event->accept();
}

}  // namespace korvane::shell
