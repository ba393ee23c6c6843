// The remembered project: the settings store, reading the project file's first line into the
// emulation's argument vector, and choosing another project.
#include "shell/stored_params.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>

#include "driver/project_line.h"

namespace korvane::shell {

namespace {

constexpr char kParametersValue[] = "Parameters";
constexpr char kKeyboardValue[] = "Keyboard";

QString KeyName() { return QString::fromLatin1(kStoreKeyName); }

QString GroupKey(const char* value) {
  return QString::fromLatin1(kStoreGroup) + '/' + QString::fromLatin1(value);
}

// Reads the bytes that can belong to the first 127 characters of the first line.
std::string ReadFileStart(QFile& file) {
  // A carriage return is dropped only before a line feed, so one byte more than the line may be
  // needed to decide; the line feed itself is kept.
  QByteArray bytes = file.read(2 * kMaxLineChars + 2);
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace

QString DefaultStorePath() {
  QSettings settings(QSettings::IniFormat, QSettings::UserScope, kOrganisation, kApplication);
  return settings.fileName();
}

bool SettingsStore::CanOpen() const {
  QSettings settings(path_, QSettings::IniFormat);
  return settings.status() == QSettings::NoError && settings.isWritable();
}

std::optional<QString> SettingsStore::ReadParameters() const {
  QSettings settings(path_, QSettings::IniFormat);
  QVariant value = settings.value(GroupKey(kParametersValue));
  if (settings.status() != QSettings::NoError || !value.isValid()) return std::nullopt;
  return value.toString();
}

bool SettingsStore::WriteParameters(const QString& value) const {
  QSettings settings(path_, QSettings::IniFormat);
  settings.setValue(GroupKey(kParametersValue), value);
  settings.sync();
  return settings.status() == QSettings::NoError;
}

bool SettingsStore::RemoveParameters() const {
  QSettings settings(path_, QSettings::IniFormat);
  settings.remove(GroupKey(kParametersValue));
  settings.sync();
  return settings.status() == QSettings::NoError;
}

std::optional<int> SettingsStore::ReadKeyboard() const {
  QSettings settings(path_, QSettings::IniFormat);
  QVariant value = settings.value(GroupKey(kKeyboardValue));
  if (settings.status() != QSettings::NoError || !value.isValid()) return std::nullopt;
  bool ok = false;
  int shown = value.toInt(&ok);
  if (!ok) return std::nullopt;
  return shown != 0 ? 1 : 0;
}

bool SettingsStore::WriteKeyboard(int shown) const {
  QSettings settings(path_, QSettings::IniFormat);
  settings.setValue(GroupKey(kKeyboardValue), shown != 0 ? 1 : 0);
  settings.sync();
  return settings.status() == QSettings::NoError;
}

std::optional<std::vector<std::string>> SplitParameterLine(const std::string& file_start) {
  // The one project-line reader that korvane-run uses too; a line of more than ten words is
  // refused rather than run with a project name that is not the line's last word.
  bool more_words = false;
  std::vector<std::string> words = SplitProjectLine(file_start, &more_words);
  if (more_words) return std::nullopt;
  return words;
}

QString ReadStoredParameters(const SettingsStore& store, StoredParameters& params) {
  if (!store.CanOpen()) return QStringLiteral("Unable to open key: ") + KeyName();
  if (!params.param_path.isEmpty()) {
    store.WriteParameters(params.param_path);  // a failed write only loses the memory of it
  } else {
    std::optional<QString> stored = store.ReadParameters();
    if (!stored) return QStringLiteral("Unable to open key: ") + KeyName() + "+Parameters";
    params.param_path = *stored;
  }
  if (!store.CanOpen()) return QStringLiteral("Unable to close key: ") + KeyName();

  params.words.clear();
  QFile file(params.param_path);
  if (params.param_path.isEmpty() || QFileInfo(params.param_path).isDir() ||
      !file.open(QIODevice::ReadOnly)) {
    return QCoreApplication::translate("korvane::shell::StoredParams", "Param file not found: %1")
        .arg(params.param_path);
  }
  std::optional<std::vector<std::string>> words = SplitParameterLine(ReadFileStart(file));
  if (!words) {
    return QCoreApplication::translate("korvane::shell::StoredParams",
                                       "Param file has more than %1 words on its first line: %2")
        .arg(kMaxWords)
        .arg(params.param_path);
  }
  params.words = std::move(*words);
  return QString();
}

QString ParamPathFromArgument(const QString& argument) {
  QFileInfo info(argument);
  if (info.exists() && !info.isDir()) return info.absoluteFilePath();
  return argument;
}

int OpenProjectFile(const SettingsStore& store, const QString& current_path,
                    const ProjectChooser& chooser) {
  QString chosen = chooser.choose_file(current_path);
  if (chosen.isEmpty()) return -1;
  if (chosen != current_path) store.WriteParameters(chosen);  // failures are ignored
  return chooser.start_instance() ? 1 : 0;
}

ProjectChooser DesktopProjectChooser(QWidget* parent) {
  ProjectChooser chooser;
  chooser.choose_file = [parent](const QString& initial) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(
        QCoreApplication::translate("korvane::shell::StoredParams", "Korvane projects (*.tvx)"));
    dialog.setDefaultSuffix(QStringLiteral("tvx"));
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    if (QFileInfo(initial).isDir()) {
      dialog.setDirectory(initial);  // a first start looks in the demo's folder
    } else if (!initial.isEmpty()) {
      dialog.selectFile(initial);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().first();
  };
  chooser.start_instance = [] {
    // Our own executable, never a program of that name found in the working directory.
    return QProcess::startDetached(QCoreApplication::applicationFilePath(), QStringList());
  };
  return chooser;
}

}  // namespace korvane::shell
