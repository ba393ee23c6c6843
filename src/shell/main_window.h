// The main window: the device's display, the keypad panel, menus, the timer, and the emulation
// thread it starts and watches.
#pragma once

#include <QAction>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "driver/emulator.h"
#include "driver/run_session.h"
#include "shell/key_panel.h"
#include "shell/key_target.h"
#include "shell/status_line.h"
#include "shell/stored_params.h"

namespace korvane::shell {

inline constexpr char kWindowTitle[] = "TAVEX Intel Korvane Emulator";
inline constexpr char kMessageCaption[] = "Korvane";
constexpr int kDisplayWidth = 640;
constexpr int kDisplayHeight = 480;
constexpr int kTimerPeriodMs = 250;

// Menu command identifiers.
enum MenuId {
  kMenuOpenProject = 1,
  kMenuHelp = 3,
  kMenuAbout = 4,
  kMenuKeyboard = 5,
  kMenuStatus = 6,
  kMenuStatusNext = 7,
  kMenuSaveExit = 8,
  kMenuExit = 9,
  kMenuScreenshot = 10,
  kMenuSaveState = 11,
  kMenuLoadState = 12,
  kMenuRecordInput = 13,
  kMenuRestart = 14,
  // Debug menu.
  kMenuDebugPause = 30,  // Pause, or Continue while the debugger holds the firmware
  kMenuDebugStep = 31,
  kMenuDebugStepOver = 32,
  kMenuDebugStepOut = 33,
  kMenuDebugBreakpoints = 34,
  kMenuDebugWindow = 35,
  kMenuDebugProfile = 36,
  kMenuDebugSourceFolders = 37,
  // View > Zoom: kMenuZoomFit + the zoom (0 Fit, 1-4 the scale).
  kMenuZoomFit = 20,
  kMenuZoom1 = 21,
  kMenuZoom4 = 24,
};

struct WindowConfig {
  QString store_path;         // the settings store (INI file)
  QString command_line_path;  // parameter-file path from the command line, or ""
  int screen_height = 0;      // 0: the primary screen's height
  // The screen's area for windows, which no zoom may exceed; empty: the primary screen's
  // available area, or, with a screen_height, that height and any width.
  QSize screen_area;
  KeyTarget* keys = nullptr;  // nullptr: the emulator's keyboard
  bool start_thread = true;   // false: tests drive the end of a run themselves
  QString demo_folder;        // where the first start's open dialog looks, or ""
  QString user_guide;         // the user guide (Markdown) Help > Help shows, or ""
};

class DisplayView;
class DebuggerWindow;
class WelcomePanel;
class ProfileWindow;
class BreakpointsDialog;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(WindowConfig config);
  ~MainWindow() override;

  // Reads the project and starts the emulation thread, or shows why it cannot.
  void Start();

  // Shows a message box with caption "Korvane"; tests replace it to see the messages.
  std::function<void(QMessageBox::Icon, const QString&)> show_message;
  // Chooses the next project, which then runs in this window; tests replace it.
  ProjectChooser chooser;
  // Opens a file (the log) in the desktop's viewer; tests replace it.
  std::function<void(const QString& path)> open_file;

  Emulator& emulator() { return runs_.emu(); }
  Session& session() { return runs_.session(); }
  RunController& runs() { return runs_; }
  QAction* Action(int id) const;
  KeyPanel* panel() const { return panel_; }
  bool keyboard_shown() const { return keyboard_shown_; }
  QWidget* display() const;
  int max_height() const { return max_height_; }
  bool thread_started() { return runs_.session().thread.started(); }
  bool timer_active() const { return timer_.isActive(); }

  // One tick of the 250 ms timer: repaint, and when the emulation has ended: close after a
  // normal end, show a start error and the project chooser, or stop in the debugger window at
  // a fault.
  void Tick();
  // Starts the project's run again in a fresh machine in this process (File > Restart, the
  // debugger window's Restart, Reload after the firmware changed); after a fault the new run
  // keeps the instruction history.
  void RestartRun();
  // Runs the project file `path` in this window in place of the current run (File > Open
  // Project File, Recent Projects, a dropped file); a file that does not read is reported and
  // the current run goes on.
  void OpenProjectPath(const QString& path);
  // Looks whether the firmware file changed on disk and offers Reload in the status bar.
  void CheckFirmware();
  // The offer to reload (a label with a link in the status bar); hidden until the file changes.
  QLabel* reload_offer() const { return reload_offer_; }
  // Ends the program in any state: a firmware that reads keys gets the exit chord (Ctrl+X with
  // `save`, else Ctrl+Q) and ends itself; otherwise (paused, stopped in the debugger, ended,
  // no project) the run is stopped here, the memory file written when `save` asks for it and
  // the run had started and not failed, and the window closes.
  void EndProgram(bool save);
  // Whether a running firmware takes the keys now (not paused, not held by the debugger) and
  // reads them at all.
  bool FirmwareTakesKeys() const;

 Q_SIGNALS:
  // The window has closed: the run has ended and nothing of it is left; the program ends.
  void Closed();

 public:
  void Command(int id);
  void ToggleKeyboard();
  // Left click at display position (x, y): the soft keys.
  void DisplayClick(int x, int y);
  // Right click anywhere on the window: Escape.
  void RightClick();
  // The paint of the display: page selection, Status mark, the picture.
  void PaintDisplay(QPainter& painter);
  // Activation of the application: -sp pauses the emulation while another program is active.
  void ApplicationActive(bool active);
  // The options of the run that the window uses (soft keys, video mode, -sp).
  void SetWindowOptions(int soft_keys, int video, bool suspend);

  // View > Zoom: 0 Fit to window, 1-4 the scale; remembered in the settings store.
  void SetZoom(int zoom);
  int zoom() const;
  // Whether the window at zoom 1-4 fits the screen's area for windows.
  bool ZoomFits(int zoom) const;
  // The shown 640 x 480 picture, with the page selection and Status mark brought up to date.
  QImage ShownPicture();
  // Writes the shown picture as PNG at 1x or at the current zoom; false with a message box when
  // it cannot be written.
  bool SaveScreenshot(const QString& path, bool at_zoom);
  // Asks where to save a screenshot and whether at the zoom; "" when cancelled. Tests replace it.
  std::function<QString(bool* at_zoom)> choose_screenshot;
  // Opens a project of File > Recent Projects or a dropped file as Open Project File would.
  void OpenRecentProject(const QString& path);
  StatusLine* status_line() const { return status_line_; }

  // File > Save State, Load State and Record Input. The emulation is brought to a stand between
  // two instructions (paused) for each and goes on afterwards if it was running.
  enum class StateDialog { kSave, kLoad, kRecord };
  // Asks for a state or recording file in the last folder used; "" when cancelled. Tests
  // replace it.
  std::function<QString(StateDialog kind)> choose_state_file;
  // Debug > Source Folders...: the folders sources are also looked for in, one per line; the
  // list as edited, or nullopt when the user cancels.
  std::function<std::optional<QStringList>(const QStringList& folders)> choose_source_folders;
  bool SaveStateFile(const QString& path);
  // Checks the file against the running machine (which stays as it is on any mismatch), then
  // starts the run again from the state.
  bool LoadStateFile(const QString& path);
  // Starts recording into `path` (the state it starts from goes to `path` + ".state"), or,
  // with an empty path, ends the recording and writes it.
  bool RecordInput(const QString& path);
  bool recording() const { return runs_.recording(); }
  QMenu* recent_menu() const { return recent_menu_; }
  // The debugger window (made on first use) and the breakpoints dialog (null until opened).
  DebuggerWindow* debugger_window();
  BreakpointsDialog* breakpoints_dialog() const { return breakpoints_; }
  // The first start's welcome over the display (null until shown; hidden once a project runs).
  WelcomePanel* welcome() const { return welcome_; }
  // Debug > Profile (made on first use).
  ProfileWindow* profile_window();
  // Help > Help's window (null until opened).
  QWidget* user_guide_window() const { return guide_; }

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool focusNextPrevChild(bool next) override;

 private:
  void BuildMenus();
  void KeyChord(int letter);
  // Passes a key press on; a refused key is counted and shown in the status line.
  void Press(int virtual_key);
  void KeyRefused();
  void ConnectPanel();
  void ShowAbout();
  void ShowUserGuide();
  // Debug > Source Folders...: the folders kept in the settings store, and their editor.
  std::vector<std::string> StoredSourceFolders() const;
  void EditSourceFolders();
  void ShowWelcome();
  void PlacePanel();
  void ResizeToHeight();
  QSize ScreenArea() const;
  // Greys the zooms that would make the window larger than the screen.
  void UpdateZoomActions();
  // Prepares a fresh machine for `params` in place of the current run and starts it.
  void StartEmulation(const StoredParameters& params);
  // What every freshly prepared machine gets before it starts: the window's options, the debug
  // engine, the timer; then its thread starts.
  void StartPrepared(const std::string& prepare_error);
  // The run ended with a message before or after its start-up phases finished.
  void StartFailed(const QString& message);
  void FaultStopped(const QString& message);
  // A project that did not start is not the remembered one any more: the one remembered
  // before it comes back, or none.
  void ForgetProject();
  QString LogPath() const;
  // Ends the run without writing the memory file (closing the window, the end of the program).
  void StopEmulation();
  void OpenProject(const ProjectChooser& project_chooser);
  void LayoutClient();
  void UpdateStatus();
  void RememberProject();
  void PruneRecentProjects();
  void RebuildRecentMenu();
  void FinishRecording();
  // Gives the session's emulator a debug engine whose stops open the debugger window.
  void AttachDebugger();
  // A stop of the engine, forwarded from the emulation thread.
  void DebugStopped(const QString& summary);
  void DebugCommandGiven(int id);
  void UpdateDebugActions();

  WindowConfig config_;
  SettingsStore store_;
  RunController runs_;
  std::unique_ptr<KeyTarget> own_keys_;
  KeyTarget* keys_;
  std::map<int, QAction*> actions_;
  DisplayView* display_ = nullptr;
  KeyPanel* panel_ = nullptr;
  QTimer timer_;
  StoredParameters params_;

  int menu_height_ = 0;    // M
  int window_height_ = 0;  // H, counted as the frame of a desktop window counts it
  int max_height_ = 0;     // the client height matching H
  bool keyboard_shown_ = false;
  int shown_page_ = 0;
  int soft_key_width_;
  int soft_keys_ = 10;
  int video_ = 1;
  bool suspend_ = true;
  bool closed_ = false;

  StatusLine* status_line_ = nullptr;
  QMenu* recent_menu_ = nullptr;
  RateMeter rate_;
  QElapsedTimer clock_;
  int refused_keys_ = 0;       // keys refused since the status line last said none were
  int64_t refused_at_ms_ = 0;  // clock_ time of the last refusal
  QLabel* reload_offer_ = nullptr;
  WelcomePanel* welcome_ = nullptr;
  QTimer firmware_timer_;
  DebuggerWindow* debugger_window_ = nullptr;
  BreakpointsDialog* breakpoints_ = nullptr;
  ProfileWindow* profile_window_ = nullptr;
  QWidget* guide_ = nullptr;
  QString last_stop_;
  bool debug_standing_ = false;  // the firmware stands in a debugger stop the window was told of
  int run_number_ = 0;           // counts the runs the debugger was attached to
  std::optional<QString> previous_project_;  // the remembered project before this start
};

}  // namespace korvane::shell
