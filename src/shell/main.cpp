// korvane: the desktop application: the emulator's window on the project given as the first
// argument, or the project remembered from the last start.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/main_window.h"
#include "shell/quit_signals.h"
#include "shell/stored_params.h"
#include "shell/translation.h"

namespace {

constexpr char kUsage[] =
    "Usage: korvane [PROJECT.tvx]\n"
    "Runs the firmware of an Intel i960 device in a window: its display, its keypad and the\n"
    "emulator's menus.\n"
    "\n"
    "With PROJECT.tvx, runs that project and remembers it; without an argument, runs the\n"
    "project remembered from the last start. On a first start a welcome offers the installed\n"
    "demo, the open dialog and the recent projects. The first line of a project\n"
    "file is the emulator's command line (options such as -v1 -xi, last the project name); the\n"
    "user guide (Help > Help; README.md in share/doc/Korvane where korvane is installed)\n"
    "lists its options.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this text and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "The remembered project, the keypad's state, the zoom and the recent projects are kept in\n"
    "~/.config/Tavex electronic/Korvane Emulator.ini; the log of a run is aaa.txt in the\n"
    "project's folder.\n";

constexpr int kExitNoDisplay = 1;
constexpr int kExitUsage = 2;
constexpr char kNoDisplay[] =
    "korvane: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not set, or "
    "the display cannot be reached).\n"
    "korvane-run runs a project without a window.\n";

bool HasDisplay() {
  // QT_QPA_PLATFORM names a platform of its own choice (offscreen, vnc, ...).
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

void ExitOnFatalPlatformMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type != QtFatalMsg) {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    return;
  }
  std::fprintf(stderr, "%s\n%s", text.toLocal8Bit().constData(), kNoDisplay);
  std::_Exit(kExitNoDisplay);
}

// The installed demo's folder (or the build tree's, when started from there), or "".
QString DemoFolder() {
  const QDir app(QCoreApplication::applicationDirPath());
  for (const char* relative : {"../share/korvane/examples/demo", "../../examples/demo"}) {
    QFileInfo project(app.filePath(QString::fromLatin1(relative) + "/demo.tvx"));
    if (project.isFile()) return project.absolutePath();
  }
  return QString();
}

// The user guide: installed with the package, beside the executable, or in the source tree
// of a build folder; "" when there is none.
QString UserGuide() {
  const QDir app(QCoreApplication::applicationDirPath());
  for (const QString& candidate : {app.filePath(QStringLiteral("../share/doc/Korvane/README.md")),
                                   app.filePath(QStringLiteral("README.md")),
                                   QStringLiteral(KORVANE_SOURCE_DIR "/README.md")}) {
    if (QFileInfo(candidate).isFile()) return QFileInfo(candidate).absoluteFilePath();
  }
  return QString();
}

}  // namespace

int main(int argc, char** argv) {
  // These print and end before any window (or display) is needed.
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("korvane %s\n", KORVANE_VERSION);
    return 0;
  }
  // One project file or nothing; an option would otherwise be taken (and remembered) as a
  // project file name.
  if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
    if (argc > 2)
      std::fprintf(stderr, "korvane: one project file at most\n");
    else
      std::fprintf(stderr, "korvane: unknown option %s\n", argv[1]);
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  if (!HasDisplay()) {
    std::fputs(kNoDisplay, stderr);
    return kExitNoDisplay;
  }
  // A display that is named but cannot be reached ends in the platform plugin's fatal message;
  // it gets ours and an ordinary exit status instead of an abort.
  qInstallMessageHandler(ExitOnFatalPlatformMessage);
  QApplication app(argc, argv);
  qInstallMessageHandler(nullptr);
  QApplication::setOrganizationName(QString::fromLatin1(korvane::shell::kOrganisation));
  QApplication::setApplicationName(QString::fromLatin1(korvane::shell::kApplication));
  QApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION));
  korvane::shell::InstallTranslator(QLocale::system());

  korvane::shell::WindowConfig config;
  config.store_path = korvane::shell::DefaultStorePath();
  config.demo_folder = DemoFolder();
  config.user_guide = UserGuide();
  QStringList args = QApplication::arguments();
  if (args.size() > 1) config.command_line_path = korvane::shell::ParamPathFromArgument(args[1]);

  korvane::shell::MainWindow window(config);
  // The program ends with the main window, whatever other window (the debugger's) is open; a
  // termination signal closes it (ending the run without writing the memory file).
  QObject::connect(&window, &korvane::shell::MainWindow::Closed, &app, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  korvane::shell::QuitOnSignals(&window, [&window] { window.close(); });
  window.show();
  window.Start();
  return app.exec();
}
