// Debug > Profile: the procedures of the running firmware that ran the most instructions,
// refreshed while it runs, with a button that starts the counts afresh.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

namespace korvane {
struct Emulator;
class RunCounts;
}  // namespace korvane

namespace korvane::shell {

class ProfileWindow : public QWidget {
  Q_OBJECT

 public:
  explicit ProfileWindow(QWidget* parent = nullptr);
  ~ProfileWindow() override;

  // The machine to profile, or null. Counting starts at its next system_timer check point and
  // lasts as long as its run; attaching the same machine again changes nothing.
  void Attach(Emulator* emu);
  // Shows the last copy of the counts and asks for the next one.
  void Refresh();

  // A row was activated: the procedure's address, for the debugger window.
  std::function<void(uint32_t address)> show_procedure;

  QTableWidget* table() const { return table_; }
  QPushButton* reset_button() const { return reset_; }
  QLabel* total_label() const { return total_; }

 private:
  Emulator* emu_ = nullptr;
  RunCounts* counts_ = nullptr;
  // Every run's counts stay until the window goes: the emulation thread of an earlier run may
  // still be counting into them while the next one starts.
  std::vector<std::unique_ptr<RunCounts>> all_counts_;
  QTableWidget* table_ = nullptr;
  QPushButton* reset_ = nullptr;
  QLabel* total_ = nullptr;
  QTimer* timer_ = nullptr;
};

}  // namespace korvane::shell
