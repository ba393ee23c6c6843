// Every text the window shows through tr() has a finished German translation: lupdate lists the
// texts of the sources, and each must be in the German .ts file with its translation.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <map>
#include <set>

namespace {

// (class, source) -> translated: the context without its namespace, since lupdate names the
// contexts of a nested namespace without it.
std::map<std::pair<QString, QString>, bool> ReadTs(const QString& path) {
  std::map<std::pair<QString, QString>, bool> texts;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return texts;
  QXmlStreamReader xml(&file);
  QString context, source;
  bool finished = false, in_message = false;
  QString translation;
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isStartElement()) {
      const auto name = xml.name();
      if (name == QLatin1String("name")) {
        context = xml.readElementText().section(QStringLiteral("::"), -1);
      } else if (name == QLatin1String("message")) {
        in_message = true;
        source.clear();
        translation.clear();
        finished = true;
      } else if (name == QLatin1String("source") && in_message) {
        source = xml.readElementText();
      } else if (name == QLatin1String("translation") && in_message) {
        const auto type = xml.attributes().value(QLatin1String("type"));
        finished = type != QLatin1String("unfinished") && type != QLatin1String("vanished") &&
                   type != QLatin1String("obsolete");
        translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
      }
    } else if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
      in_message = false;
      texts[{context, source}] = finished && !translation.trimmed().isEmpty();
    }
  }
  return texts;
}

TEST(Translations, EveryWindowTextHasItsGermanTranslation) {
#ifndef KORVANE_LUPDATE
  GTEST_SKIP() << "lupdate is not installed (Debian: qt6-l10n-tools)";
#else
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString listed = dir.filePath(QStringLiteral("sources.ts"));
  QProcess lupdate;
  lupdate.start(QStringLiteral(KORVANE_LUPDATE),
                {QStringLiteral("-silent"), QStringLiteral(KORVANE_SHELL_SOURCES),
                 QStringLiteral("-ts"), listed});
  ASSERT_TRUE(lupdate.waitForFinished(60000)) << "lupdate did not end";
  ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAllStandardError().toStdString();
  const auto sources = ReadTs(listed);
  ASSERT_GT(sources.size(), 50u) << "lupdate found the window's texts";
  const auto german = ReadTs(QStringLiteral(KORVANE_SHELL_SOURCES "/translations/korvane_de.ts"));
  std::set<std::string> missing;
  for (const auto& [key, unused] : sources) {
    auto it = german.find(key);
    if (it == german.end() || !it->second)
      missing.insert(key.first.toStdString() + ": " + key.second.toStdString());
  }
  std::string list;
  for (const std::string& m : missing) list += "\n  " + m;
  EXPECT_TRUE(missing.empty()) << missing.size() << " texts without German:" << list;
#endif
}

}  // namespace
