// File > Recent Projects: the last projects opened, kept in the settings store, and project
// files dropped on the window.
#include "shell/recent_projects.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QSettings>
#include <QUrl>
#include <QWidget>

#include "shell/stored_params.h"

namespace korvane::shell {

namespace {

QString Key(const char* value) {
  return QString::fromLatin1(kStoreGroup) + '/' + QString::fromLatin1(value);
}

}  // namespace

QStringList ReadRecentProjects(const QString& store_path) {
  QSettings settings(store_path, QSettings::IniFormat);
  QStringList list = settings.value(Key("RecentProjects")).toStringList();
  list.removeAll(QString());
  while (list.size() > kMaxRecentProjects) list.removeLast();
  return list;
}

void WriteRecentProjects(const QString& store_path, const QStringList& projects) {
  QSettings settings(store_path, QSettings::IniFormat);
  settings.setValue(Key("RecentProjects"), projects);
  settings.sync();  // a store that cannot be written only loses the list
}

QStringList WithRecentProject(QStringList list, const QString& path) {
  list.removeAll(path);
  list.prepend(path);
  while (list.size() > kMaxRecentProjects) list.removeLast();
  return list;
}

QString RecentProjectText(int index, const QString& path) {
  const QFileInfo info(path);
  QString folder = QDir::cleanPath(info.absolutePath());
  const QString home = QDir::cleanPath(QDir::homePath());
  if (folder == home || folder.startsWith(home + QLatin1Char('/')))
    folder = QLatin1Char('~') + folder.mid(home.size());
  // A single '&' in a menu text marks a mnemonic; the file's own ones are doubled.
  auto literal = [](QString text) { return text.replace(QLatin1Char('&'), QStringLiteral("&&")); };
  return QStringLiteral("&%1 %2  (%3)")
      .arg(index + 1)
      .arg(literal(info.fileName()), literal(QDir::toNativeSeparators(folder)));
}

QStringList PruneMissingProjects(QStringList& list) {
  QStringList removed;
  for (auto it = list.begin(); it != list.end();) {
    QFileInfo info(*it);
    if (info.exists() && !info.isDir()) {
      ++it;
    } else {
      removed.append(*it);
      it = list.erase(it);
    }
  }
  return removed;
}

int ReadZoomSetting(const QString& store_path) {
  QSettings settings(store_path, QSettings::IniFormat);
  bool ok = false;
  int zoom = settings.value(Key("Zoom"), 1).toInt(&ok);
  return ok && zoom >= 0 && zoom <= 4 ? zoom : 1;
}

void WriteZoomSetting(const QString& store_path, int zoom) {
  QSettings settings(store_path, QSettings::IniFormat);
  settings.setValue(Key("Zoom"), zoom);
  settings.sync();
}

QString DroppedProjectFile(const QMimeData* mime) {
  if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return QString();
  const QUrl url = mime->urls().first();
  if (!url.isLocalFile()) return QString();
  QFileInfo info(url.toLocalFile());
  if (!info.isFile() || info.suffix().compare(QLatin1String("tvx"), Qt::CaseInsensitive) != 0)
    return QString();
  return info.absoluteFilePath();
}

ProjectDropTarget::ProjectDropTarget(QWidget* window, std::function<void(const QString&)> open)
    : QObject(window), open_(std::move(open)) {
  window->setAcceptDrops(true);
  window->installEventFilter(this);
}

bool ProjectDropTarget::eventFilter(QObject*, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDropEvent*>(event);
      if (DroppedProjectFile(drag->mimeData()).isEmpty()) {
        drag->ignore();
      } else {
        drag->acceptProposedAction();
      }
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      QString path = DroppedProjectFile(drop->mimeData());
      if (path.isEmpty()) {
        drop->ignore();
        return true;
      }
      drop->acceptProposedAction();
      open_(path);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace korvane::shell
