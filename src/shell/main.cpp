// korvane: the desktop application: the emulator's window on the project given as the first
// argument, or the project remembered from the last start.
#include <QApplication>
#include <QLocale>

#include "shell/main_window.h"
#include "shell/stored_params.h"
#include "shell/translation.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QString::fromLatin1(korvane::shell::kOrganisation));
  QApplication::setApplicationName(QString::fromLatin1(korvane::shell::kApplication));
  korvane::shell::InstallTranslator(QLocale::system());

  korvane::shell::WindowConfig config;
  config.store_path = korvane::shell::DefaultStorePath();
  QStringList args = QApplication::arguments();
  if (args.size() > 1) config.command_line_path = korvane::shell::ParamPathFromArgument(args[1]);

  korvane::shell::MainWindow window(config);
  window.show();
  window.Start();
  return app.exec();
}
