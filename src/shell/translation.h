// The window's texts in the system language: Qt Linguist translations built into the program.
#pragma once

#include <QLocale>
#include <QTranslator>

namespace korvane::shell {

// Loads the translation for `locale` (German: korvane_de) from the program's resources and
// installs it on the application; returns the translator (owned by the application), or
// nullptr when there is none for that language. Qt's own texts in that language (file dialogs,
// buttons) come with it when the system has them; removing the translator removes them too.
QTranslator* InstallTranslator(const QLocale& locale);

}  // namespace korvane::shell
