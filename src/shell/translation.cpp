// The window's texts in the system language: Qt Linguist translations built into the program.
#include "shell/translation.h"

#include <QCoreApplication>

namespace korvane::shell {

QTranslator* InstallTranslator(const QLocale& locale) {
  auto* translator = new QTranslator(QCoreApplication::instance());
  // The build compiles translations/korvane_*.ts and embeds them under :/i18n.
  if (!translator->load(locale, QStringLiteral("korvane"), QStringLiteral("_"),
                        QStringLiteral(":/i18n"))) {
    delete translator;
    return nullptr;
  }
  QCoreApplication::installTranslator(translator);
  return translator;
}

}  // namespace korvane::shell
