// The status line under the display: run state, guest speed, system_timer, project name.
#pragma once

#include <QCoreApplication>
#include <QLabel>
#include <QString>
#include <cstdint>
#include <deque>
#include <utility>

namespace korvane::shell {

enum class RunStatus { kNoProject, kRunning, kPaused, kEnded };

// Guest instructions per second over the last second of samples.
class RateMeter {
 public:
  static constexpr int64_t kWindowMs = 1000;
  // A sample: the instruction total at host time `ms` (milliseconds, rising).
  void Add(int64_t ms, uint64_t instructions);
  // Millions of instructions per second between the oldest and newest sample of the last
  // second; 0 until two samples are apart in time.
  double Mips() const;
  void Clear() { samples_.clear(); }

 private:
  std::deque<std::pair<int64_t, uint64_t>> samples_;
};

class StatusLine : public QLabel {
  Q_DECLARE_TR_FUNCTIONS(korvane::shell::StatusLine)

 public:
  using QLabel::QLabel;

  // The text for one state: the exit message only for an ended run, speed and timer only once
  // a run has started.
  static QString Text(RunStatus status, const QString& exit_message, double mips, uint32_t timer_ms,
                      const QString& project);
  void Show(RunStatus status, const QString& exit_message, double mips, uint32_t timer_ms,
            const QString& project) {
    setText(Text(status, exit_message, mips, timer_ms, project));
  }
};

}  // namespace korvane::shell
