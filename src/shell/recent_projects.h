// File > Recent Projects: the last projects opened, kept in the settings store, and project
// files dropped on the window.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QMimeData;
class QWidget;

namespace korvane::shell {

constexpr int kMaxRecentProjects = 8;

// The list in the settings store (an INI file at `store_path`), newest first.
QStringList ReadRecentProjects(const QString& store_path);
void WriteRecentProjects(const QString& store_path, const QStringList& projects);
// `list` with `path` moved or added to the front, at most kMaxRecentProjects long.
QStringList WithRecentProject(QStringList list, const QString& path);
// The menu text of entry `index` (0 first): its number as the mnemonic, the file name and, since
// projects of one name in several folders are common, the folder (the home folder as "~").
QString RecentProjectText(int index, const QString& path);
// Removes the entries whose file no longer exists; returns the removed ones.
QStringList PruneMissingProjects(QStringList& list);

// The zoom choice of View > Zoom in the settings store: 0 Fit, 1-4 the scale; 1 when unset.
int ReadZoomSetting(const QString& store_path);
void WriteZoomSetting(const QString& store_path, int zoom);

// The local project file (.tvx) a drag carries, or "" when it carries anything else.
QString DroppedProjectFile(const QMimeData* mime);

// Accepts project files dragged onto `window` and calls `open` with the dropped path.
class ProjectDropTarget : public QObject {
 public:
  ProjectDropTarget(QWidget* window, std::function<void(const QString&)> open);
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<void(const QString&)> open_;
};

}  // namespace korvane::shell
