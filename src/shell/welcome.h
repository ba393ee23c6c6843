// The welcome a first start shows over the display: the demo, Open Project and the recent
// projects, instead of a message about a project nobody has chosen yet.
#pragma once

#include <QFrame>
#include <QString>
#include <QStringList>
#include <functional>

class QListWidget;
class QPushButton;

namespace korvane::shell {

class WelcomePanel : public QFrame {
  Q_OBJECT

 public:
  explicit WelcomePanel(QWidget* parent = nullptr);

  // The demo's project file ("" when none is installed: its button is hidden) and the recent
  // projects, newest first.
  void Fill(const QString& demo_project, const QStringList& recent);

  // Set by the main window: run a project file, or choose one in the open dialog.
  std::function<void(const QString& path)> open_path;
  std::function<void()> choose;

  QPushButton* demo_button() const { return demo_; }
  QPushButton* open_button() const { return open_; }
  QListWidget* recent_list() const { return recent_; }

 private:
  QString demo_project_;
  QPushButton* demo_ = nullptr;
  QPushButton* open_ = nullptr;
  QListWidget* recent_ = nullptr;
};

}  // namespace korvane::shell
