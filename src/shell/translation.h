// German texts of the window: a small built-in translator used when the system language is
// German.
#pragma once

#include <QLocale>
#include <QTranslator>

namespace korvane::shell {

// The translation context of every text of the window.
inline constexpr char kTextContext[] = "Korvane";

class GermanTranslator : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* source_text, const char* disambiguation,
                    int n) const override;
};

// Installs the German texts on the application when `locale` is German; returns the translator
// (owned by the application), or nullptr for other languages.
GermanTranslator* InstallTranslator(QLocale locale);

// A text of the window in the current language.
QString Text(const char* english);

}  // namespace korvane::shell
