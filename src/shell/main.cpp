// korvane: the desktop application: the emulator's window on the project given as the first
// argument, or the project remembered from the last start.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <cstdio>
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
    "project remembered from the last start. On a first start the project file is chosen in\n"
    "an open dialog, which starts in the installed demo's folder. The first line of a project\n"
    "file is the emulator's command line; see korvane-run(1) for its options.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this text and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "The remembered project, the keypad's state, the zoom and the recent projects are kept in\n"
    "~/.config/Tavex electronic/Korvane Emulator.ini; the log of a run is aaa.txt in the\n"
    "project's folder.\n";

// The installed demo's folder (or the build tree's, when started from there), or "".
QString DemoFolder() {
  const QDir app(QCoreApplication::applicationDirPath());
  for (const char* relative : {"../share/korvane/examples/demo", "../../examples/demo"}) {
    QFileInfo project(app.filePath(QString::fromLatin1(relative) + "/demo.tvx"));
    if (project.isFile()) return project.absolutePath();
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

  QApplication app(argc, argv);
  QApplication::setOrganizationName(QString::fromLatin1(korvane::shell::kOrganisation));
  QApplication::setApplicationName(QString::fromLatin1(korvane::shell::kApplication));
  korvane::shell::InstallTranslator(QLocale::system());

  korvane::shell::WindowConfig config;
  config.store_path = korvane::shell::DefaultStorePath();
  config.demo_folder = DemoFolder();
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
