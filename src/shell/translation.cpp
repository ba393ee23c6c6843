// German texts of the window: a small built-in translator used when the system language is
// German.
#include "shell/translation.h"

#include <QCoreApplication>
#include <cstring>

namespace korvane::shell {

namespace {

struct TextPair {
  const char* english;
  const char* german;
};

// The menus of the window carry the same identifiers in both languages.
constexpr TextPair kGermanTexts[] = {
    {"&File", "&Datei"},
    {"&Open Project File ...", "Project Datei \xC3\x96&" "ffnen..."},
    {"&Save and Exit\tCtrl+X", "&Speicher und Exit\tStrg+X"},
    {"E&xit\tCtrl+Q", "E&xit\tStrg+Q"},
    {"&View", "&Ansicht"},
    {"Keyboard", "Tastatur"},
    {"Status\tCtrl+I", "Status\tStrg+I"},
    {"Status Next\tCtrl+O", "Naechste Status\tStrg+O"},
    {"&Help", "&Hilfe"},
    {"&Help\tCtrl+H", "&Hilfthemen\tCtrl+H"},
    {"&About korvane ...", "Inf&o ..."},
};

}  // namespace

QString GermanTranslator::translate(const char* context, const char* source_text,
                                    const char* disambiguation, int n) const {
  (void)disambiguation;
  (void)n;
  if (!context || !source_text || std::strcmp(context, kTextContext) != 0) return QString();
  // "&Help" is both a popup and an item; the item carries its shortcut label, so the two
  // texts differ and one table serves both.
  for (const TextPair& pair : kGermanTexts)
    if (std::strcmp(pair.english, source_text) == 0) return QString::fromUtf8(pair.german);
  return QString();
}

GermanTranslator* InstallTranslator(QLocale locale) {
  if (locale.language() != QLocale::German) return nullptr;
  auto* translator = new GermanTranslator(QCoreApplication::instance());
  QCoreApplication::installTranslator(translator);
  return translator;
}

QString Text(const char* english) { return QCoreApplication::translate(kTextContext, english); }

}  // namespace korvane::shell
