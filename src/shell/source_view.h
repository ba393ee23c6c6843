// The debugger window's source-level views: the source pane (each source line of the procedure
// at ip over its instructions), the symbol browser with a filter, and symbol-name completion
// for the window's location fields.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>
#include <cstdint>
#include <memory>

class QCompleter;
class QLineEdit;
class QListWidget;

namespace korvane {
struct Emulator;
class SourceFiles;
}  // namespace korvane

namespace korvane::shell {

// Read-only mixed view: for the procedure holding ip (or the instructions around it when it has
// no line numbers), each source line followed by its instructions; "=>" marks ip.
class SourcePane : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit SourcePane(QWidget* parent = nullptr);
  ~SourcePane() override;
  // Shows the code around `ip` of `emu` (which stands in a stop, or has ended).
  void Show(Emulator& emu, uint32_t ip);
  // Forgets the sources read for the previous machine.
  void Reset();

 private:
  std::unique_ptr<SourceFiles> sources_;
};

// Every symbol of the executable, with its address and source line, narrowed by a filter (a
// part of the name). Activating one reports its name.
class SymbolBrowser : public QWidget {
  Q_OBJECT

 public:
  explicit SymbolBrowser(QWidget* parent = nullptr);
  void Fill(const Emulator& emu);
  void SetFilter(const QString& text);
  QListWidget* list() const { return list_; }
  QLineEdit* filter() const { return filter_; }

 Q_SIGNALS:
  void symbolActivated(const QString& name);

 private:
  QLineEdit* filter_ = nullptr;
  QListWidget* list_ = nullptr;
};

// Completes symbol names in `field` from the executable of `emu` (replacing what the field
// completed before).
void CompleteSymbols(QLineEdit* field, const Emulator& emu);

}  // namespace korvane::shell
