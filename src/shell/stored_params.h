// The remembered project: the settings store, reading the project file's first line into the
// emulation's argument vector, and choosing another project.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace korvane::shell {

// The store's name as users and messages know it.
inline constexpr char kStoreKeyName[] = "SOFTWARE\\Tavex electronic\\Korvane Emulator\\1.00";
inline constexpr char kOrganisation[] = "Tavex electronic";
inline constexpr char kApplication[] = "Korvane Emulator";
inline constexpr char kStoreGroup[] = "1.00";

constexpr int kMaxLineChars = 127;  // characters of the project line that are read
constexpr int kMaxWords = 10;       // words of the argument vector

// Where the settings live by default: an INI file in the user's configuration folder.
QString DefaultStorePath();

// Reads and writes the values of the store (an INI file at `path`, group "1.00").
class SettingsStore {
 public:
  explicit SettingsStore(QString path) : path_(std::move(path)) {}
  const QString& path() const { return path_; }

  // True when the store can be read and written (it is created on first use).
  bool CanOpen() const;
  std::optional<QString> ReadParameters() const;
  bool WriteParameters(const QString& value) const;
  // Forgets the remembered project: the next start without an argument remembers none.
  bool RemoveParameters() const;
  // The "Keyboard" value: 1 panel shown, 0 hidden; nullopt when it is not stored yet.
  std::optional<int> ReadKeyboard() const;
  bool WriteKeyboard(int shown) const;

 private:
  QString path_;
};

// The project file's path and the words of its first line.
struct StoredParameters {
  QString param_path;              // empty until the command line or the store gives one
  std::vector<std::string> words;  // the argument vector for the emulation thread
};

// Splits the start of a project file into words: the first line only, at most 127 characters
// (a carriage return before the line feed does not count), blanks separate words, tabs and the
// line feed stay part of the word they touch (a line feed alone after a blank is no word).
// Returns nullopt when there are more than 10 words.
std::optional<std::vector<std::string>> SplitParameterLine(const std::string& file_start);

// Fills params.words from the project file. When params.param_path is set (from the command
// line) it is remembered in the store; otherwise the remembered path is taken. Returns the
// text for the error box, or an empty text on success.
QString ReadStoredParameters(const SettingsStore& store, StoredParameters& params);

// The command-line argument as the parameter-file path: made absolute when it names an
// existing file (the store must find it from anywhere later); otherwise kept exactly as given, so
// the error box shows what was typed.
QString ParamPathFromArgument(const QString& argument);

// What choosing another project needs from the desktop; tests replace both. The window uses
// choose_file only: the chosen project runs in the same window and process.
struct ProjectChooser {
  // Shows the open dialog with `initial` selected; returns "" when cancelled.
  std::function<QString(const QString& initial)> choose_file;
  // Starts a new instance of this program without arguments; true when it started.
  std::function<bool()> start_instance;
};

// Lets the user choose a project file; remembers it (when it differs from the current one) and
// starts a new instance. Returns -1 when cancelled, 1 when the new instance started, else 0.
int OpenProjectFile(const SettingsStore& store, const QString& current_path,
                    const ProjectChooser& chooser);

// The real chooser: the open-file dialog owned by `parent` and this program's own executable.
ProjectChooser DesktopProjectChooser(QWidget* parent);

}  // namespace korvane::shell
