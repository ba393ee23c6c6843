// The window's texts in the system language: Qt Linguist translations built into the program.
#include "shell/translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>

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
  // Qt's own texts (the file dialogs, the message boxes' buttons) from the system's Qt
  // translations, when they are installed; they go with ours.
  auto* qt = new QTranslator(translator);
  if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(qt);
  return translator;
}

}  // namespace korvane::shell
