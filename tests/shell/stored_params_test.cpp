// The remembered project: the settings store, the project line's words, choosing a project.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fstream>

#include "shell/stored_params.h"
#include "shell_support.h"

namespace korvane::shell {
namespace {

using Words = std::vector<std::string>;

const QString kOpenKeyError =
    QStringLiteral("Unable to open key: SOFTWARE\\Tavex electronic\\Korvane Emulator\\1.00");

class StoredParamsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    ASSERT_TRUE(dir_.isValid());
  }
  QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
  QString WriteFile(const char* name, const std::string& content) const {
    QString path = Path(name);
    std::ofstream(path.toStdString(), std::ios::binary) << content;
    return path;
  }
  SettingsStore Store() const { return SettingsStore(Path("store.ini")); }

  QTemporaryDir dir_;
};

TEST(SplitParameterLine, WordsOfTheFirstLine) {
  std::string long_line = "prog " + std::string(130, 'x');
  struct Row {
    std::string file;
    std::optional<Words> want;
    const char* why;
  } rows[] = {
      {"prog -v3 demo.tvx\n", Words{"prog", "-v3", "demo.tvx\n"}, "line feed stays on last word"},
      {"prog -v3 demo.tvx\r\nnext\n", Words{"prog", "-v3", "demo.tvx\n"},
       "CR before LF is dropped, second line never read"},
      {"prog  -v3   demo", Words{"prog", "-v3", "demo"}, "two blanks give no empty word"},
      {"  prog demo\n", Words{"prog", "demo\n"}, "leading blanks skipped"},
      {"prog\t-v3 demo\n", Words{"prog\t-v3", "demo\n"}, "a tab is part of a word"},
      {"prog demo \n", Words{"prog", "demo"}, "a blank before the LF leaves no LF-only word"},
      {long_line, Words{"prog", std::string(122, 'x')}, "cut after 127 characters"},
      {"", Words{}, "empty file: no words"},
      {"a b c d e f g h i j\n", Words{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j\n"},
       "ten words fit"},
      {"a b c d e f g h i j k\n", std::nullopt, "eleven words are refused"},
      {"a\rb\n", Words{"a\rb\n"}, "a lone CR is an ordinary character"},
  };
  for (const Row& r : rows) EXPECT_EQ(SplitParameterLine(r.file), r.want) << r.why;
}

TEST_F(StoredParamsTest, CommandLinePathIsRememberedAndUsedNextTime) {
  QString project = WriteFile("demo.tvx", "prog -v3 demo\n");
  StoredParameters first;
  first.param_path = project;
  EXPECT_EQ(ReadStoredParameters(Store(), first), QString());
  EXPECT_EQ(first.words, (Words{"prog", "-v3", "demo\n"}));

  StoredParameters second;  // started without a command line
  EXPECT_EQ(ReadStoredParameters(Store(), second), QString());
  EXPECT_EQ(second.param_path, project);
  EXPECT_EQ(second.words, first.words);
}

TEST_F(StoredParamsTest, FailureTexts) {
  StoredParameters none;
  EXPECT_EQ(ReadStoredParameters(Store(), none), kOpenKeyError + "+Parameters")
      << "nothing remembered yet";

  StoredParameters quoted;
  quoted.param_path = QStringLiteral("\"") + Path("demo.tvx") + "\"";
  WriteFile("demo.tvx", "prog demo\n");
  EXPECT_EQ(ReadStoredParameters(Store(), quoted),
            QStringLiteral("Param file not found: ") + quoted.param_path)
      << "quotes stay part of the path";

  StoredParameters folder;
  folder.param_path = dir_.path();
  EXPECT_EQ(ReadStoredParameters(Store(), folder),
            QStringLiteral("Param file not found: ") + dir_.path());

  // A store that cannot be created: its folder is a file.
  WriteFile("blocker", "");
  SettingsStore blocked(Path("blocker") + "/store.ini");
  StoredParameters any;
  any.param_path = Path("demo.tvx");
  EXPECT_EQ(ReadStoredParameters(blocked, any), kOpenKeyError);

  StoredParameters crowded;
  crowded.param_path = WriteFile("many.tvx", "a b c d e f g h i j k\n");
  EXPECT_TRUE(ReadStoredParameters(Store(), crowded).startsWith("Param file has more than 10"));
  EXPECT_TRUE(crowded.words.empty());
}

TEST_F(StoredParamsTest, VeryLongPathIsKeptWhole) {
  // Longer than the 259 characters a fixed buffer would hold; nothing is cut or overrun.
  QString path = Path("") + QString(300, 'p') + ".tvx";
  StoredParameters params;
  params.param_path = path;
  EXPECT_EQ(ReadStoredParameters(Store(), params), QStringLiteral("Param file not found: ") + path);
  EXPECT_EQ(Store().ReadParameters(), path);
}

// The store keeps a remembered path exactly, whatever characters the settings format gives a
// meaning of its own (lists, comments, escapes, surrounding blanks).
TEST_F(StoredParamsTest, RememberedPathKeepsEveryCharacter) {
  const char* paths[] = {
      "/home/dev/a,b/demo.tvx",     // a comma separates list items
      "/home/dev/a;b=c/demo.tvx",   // comment and assignment characters
      "@Variant(x)/demo.tvx",       // the marker of a stored variant
      " /home/dev/demo.tvx ",       // blanks around the value
      "/home/dev/#x/\\d\"q\".tvx",  // comment sign, backslashes and quotes
      "/home/dev/\xC3\xA4\xC3\xB6/demo.tvx",  // non-ASCII folder name
  };
  for (const char* p : paths) {
    QString path = QString::fromUtf8(p);
    ASSERT_TRUE(Store().WriteParameters(path)) << p;
    EXPECT_EQ(Store().ReadParameters(), path) << p;
  }
}

TEST_F(StoredParamsTest, ArgumentBecomesAbsoluteOnlyWhenTheFileExists) {
  QString project = WriteFile("demo.tvx", "prog demo\n");
  QString old = QDir::currentPath();
  QDir::setCurrent(dir_.path());
  EXPECT_EQ(ParamPathFromArgument("demo.tvx"), project);
  EXPECT_EQ(ParamPathFromArgument("\"demo.tvx\""), QStringLiteral("\"demo.tvx\""));
  QDir::setCurrent(old);
}

TEST_F(StoredParamsTest, OpenProjectFileOutcomes) {
  QString current = WriteFile("a.tvx", "prog a\n");
  QString other = WriteFile("b.tvx", "prog b\n");
  int starts = 0;
  bool start_ok = true;
  QString choice;
  ProjectChooser chooser{[&](const QString& initial) {
                           EXPECT_EQ(initial, current);
                           return choice;
                         },
                         [&] {
                           ++starts;
                           return start_ok;
                         }};
  SettingsStore store = Store();

  choice = "";
  EXPECT_EQ(OpenProjectFile(store, current, chooser), -1) << "cancelled";
  EXPECT_EQ(starts, 0);

  choice = current;
  EXPECT_EQ(OpenProjectFile(store, current, chooser), 1) << "same project still relaunches";
  EXPECT_EQ(store.ReadParameters(), std::nullopt) << "without writing the store";

  choice = other;
  start_ok = false;
  EXPECT_EQ(OpenProjectFile(store, current, chooser), 0) << "new instance failed";
  EXPECT_EQ(store.ReadParameters(), other) << "the choice is remembered anyway";
  EXPECT_EQ(starts, 2);
}

}  // namespace
}  // namespace korvane::shell
