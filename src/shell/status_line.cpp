// The status line under the display: run state, guest speed, system_timer, project name.
#include "shell/status_line.h"

namespace korvane::shell {

void RateMeter::Add(int64_t ms, uint64_t instructions) {
  samples_.emplace_back(ms, instructions);
  // Keep the newest sample that is at least a second old as the start of the window.
  while (samples_.size() > 2 && samples_[1].first <= ms - kWindowMs) samples_.pop_front();
}

double RateMeter::Mips() const {
  if (samples_.size() < 2) return 0.0;
  const auto& [t0, n0] = samples_.front();
  const auto& [t1, n1] = samples_.back();
  if (t1 <= t0 || n1 < n0) return 0.0;
  return static_cast<double>(n1 - n0) / static_cast<double>(t1 - t0) / 1000.0;
}

QString StatusLine::Text(RunStatus status, const QString& exit_message, double mips,
                         uint32_t timer_ms, const QString& project) {
  QString state;
  switch (status) {
    case RunStatus::kNoProject:
      return tr("No project running");
    case RunStatus::kRunning:
      state = tr("Running");
      break;
    case RunStatus::kPaused:
      state = tr("Paused");
      break;
    case RunStatus::kEnded:
      state = exit_message.isEmpty() ? tr("Ended") : tr("Ended: %1").arg(exit_message.trimmed());
      break;
  }
  return tr("%1 | %2 MIPS | system_timer %3 s | %4")
      .arg(state)
      .arg(mips, 0, 'f', 1)
      .arg(timer_ms / 1000.0, 0, 'f', 1)
      .arg(project);
}

}  // namespace korvane::shell
