// The debugger window beside the display: registers, disassembly around ip with breakpoint
// markers, a memory view, the call stack and a watch list. It reads the machine only while the
// emulation thread waits in a debugger stop; while the firmware runs it shows that it runs.
#pragma once

#include <QDialog>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QTableWidget;
class QComboBox;

namespace korvane {
struct Emulator;
class Debugger;
}  // namespace korvane

namespace korvane::shell {

class SourcePane;
class SymbolBrowser;

// The commands the window's buttons and shortcuts give; the main window carries them out.
enum class DebugCommand { kPauseContinue, kStep, kStepOver, kStepOut };

class DebuggerWindow : public QWidget {
  Q_OBJECT

 public:
  explicit DebuggerWindow(QWidget* parent = nullptr);

  // The machine to show; null when there is none (no project, or between runs).
  void Attach(Emulator* emu);
  // Brings every view up to date: from the machine when it stands in a stop, otherwise a
  // "running" notice. `stop_summary` is the stop's one-line description, or "".
  void Refresh(const QString& stop_summary = QString());
  // Whether the firmware stands in a stop the window was told of; a command that resumes it
  // clears this at once, before the emulation thread has woken.
  void SetStanding(bool standing) {
    standing_ = standing;
    if (standing && code_focus_shown_) code_focus_.reset();  // later stops show their own ip
  }
  // The run has ended with a fault or an exit message: the machine stays where it ended and is
  // shown read-only, with `summary` as the state, `details` (the fault, its hint) and the
  // Restart, Open Log and Close buttons. Attach leaves this mode.
  void ShowEnded(const QString& summary, const QString& details);
  bool ended() const { return ended_; }
  // Shows the memory view from a guest address or symbol; false (and a message in the view's
  // status) when it does not read.
  bool ShowMemory(const QString& where);
  // Adds a symbol or address to the watch list.
  bool AddWatch(const QString& where);
  // Shows the disassembly from a guest address or symbol (the next stop shows ip again); false
  // (and a message in the window) when it does not read.
  bool GoTo(const QString& where);
  // Sets register n (0-15 r0-r15, 16-31 g0-g15, 32 ip, 33 cc) from hex text while the firmware
  // stands; false with the reason in the window. Editing a value cell does the same.
  bool EditRegister(int n, const QString& text);
  // Runs the firmware until the disassembly's current line (or another stop).
  void RunToCursor();
  // Clicks the breakpoint marker of the disassembly's line for `address`: sets a breakpoint
  // there, or deletes the one there.
  void ToggleBreakpoint(uint32_t address);
  // Shows the disassembly from `address` (a procedure chosen in the profile) until the next
  // stop; while the firmware runs, from the next time it stands.
  void ShowCode(uint32_t address);
  // Reads the sources again (their folders changed); shown at once while the firmware stands.
  void ReloadSources();

  // Set by the main window.
  std::function<void(DebugCommand)> command;
  std::function<void()> restart, open_log, close_program;
  std::function<void(uint32_t address)> run_to;

  QTableWidget* registers() const { return registers_; }
  QTableWidget* disassembly() const { return disassembly_; }
  QTableWidget* memory() const { return memory_; }
  QListWidget* call_stack() const { return stack_; }
  QTableWidget* watches() const { return watches_; }
  QLabel* state_label() const { return state_; }
  QLabel* end_details() const { return end_details_; }
  QLabel* edit_status() const { return edit_status_; }
  QListWidget* history() const { return history_; }
  QWidget* end_panel() const { return end_panel_; }
  QAction* action(DebugCommand c) const { return actions_.at(static_cast<int>(c)); }
  SourcePane* source_pane() const { return source_; }
  SymbolBrowser* symbol_browser() const { return symbols_; }
  QLineEdit* watch_field() const { return watch_where_; }
  QLineEdit* memory_field() const { return memory_where_; }

 private:
  bool Standing() const;
  void RefreshRegisters();
  void RefreshDisassembly();
  void RefreshMemory();
  void RefreshStack();
  void RefreshWatches();
  void RefreshHistory();
  void MemoryEdited(int row, int column);
  void RegisterEdited(int row, int column);
  // Keeps the window inside its screen's available area.
  void FitScreen();
  // The source pane and symbol browser (source_view.h), in a third column.
  void AddSourceViews(QWidget* split);
  void RefreshSourceViews();

  Emulator* emu_ = nullptr;
  QLabel* state_ = nullptr;
  QTableWidget* registers_ = nullptr;
  QTableWidget* disassembly_ = nullptr;
  QLineEdit* goto_where_ = nullptr;
  QLabel* edit_status_ = nullptr;
  QLineEdit* memory_where_ = nullptr;
  QLabel* memory_status_ = nullptr;
  QTableWidget* memory_ = nullptr;
  QListWidget* stack_ = nullptr;
  QLineEdit* watch_where_ = nullptr;
  QTableWidget* watches_ = nullptr;
  QListWidget* history_ = nullptr;
  QWidget* end_panel_ = nullptr;
  QLabel* end_details_ = nullptr;
  std::map<int, QAction*> actions_;
  SourcePane* source_ = nullptr;
  SymbolBrowser* symbols_ = nullptr;
  bool symbols_filled_ = false;  // the browser and completions hold this machine's symbols

  uint32_t memory_base_ = 0;
  bool memory_shown_ = false;
  bool goto_shown_ = false;  // the disassembly shows goto_address_ instead of ip
  uint32_t goto_address_ = 0;
  bool standing_ = false;
  std::optional<uint32_t> code_focus_;  // ShowCode's address
  bool code_focus_shown_ = false;       // the disassembly has shown it
  bool ended_ = false;    // the emulation thread has ended: nothing changes the machine any more
  bool filling_ = false;  // views being filled: edits are not the user's
  uint32_t last_regs_[34] = {};  // r0-r15, g0-g15, ip, cc at the previous stop
  bool have_last_regs_ = false;
  std::map<std::string, uint32_t> last_watch_;  // watch text -> value at the previous stop
};

// Debug > Breakpoints...: the list with enable boxes, and adding or deleting breakpoints and
// watchpoints.
class BreakpointsDialog : public QDialog {
  Q_OBJECT

 public:
  BreakpointsDialog(Debugger& debugger, QWidget* parent = nullptr);
  // Adds a breakpoint of the kind picked (0 code, 1 read, 2 write, 3 access) at `where` with an
  // optional condition; false with the engine's error in the dialog's status.
  bool Add(int kind, const QString& where, const QString& condition);
  void Fill();
  QTableWidget* table() const { return table_; }
  QLabel* status() const { return status_; }
  QLineEdit* where_field() const { return where_; }

 private:
  Debugger& debugger_;
  QTableWidget* table_ = nullptr;
  QComboBox* kind_ = nullptr;
  QLineEdit* where_ = nullptr;
  QLineEdit* condition_ = nullptr;
  QLabel* status_ = nullptr;
};

}  // namespace korvane::shell
