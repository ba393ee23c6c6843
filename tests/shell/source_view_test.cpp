// The debugger window's source pane, symbol browser and symbol completion on a program
// assembled with line numbers, its source beside the project.
#include "shell/source_view.h"

#include <gtest/gtest.h>

#include <QCompleter>
#include <QLineEdit>
#include <QListWidget>
#include <QStringListModel>

#include "as/assembler.h"
#include "image/coff_builder.h"
#include "shell_support.h"

namespace korvane::shell {
namespace {

TEST(SourceView, MixedSourceSymbolsAndCompletion) {
  test::App();
  const std::string source =
      "\t.text\n\t.globl _start\n_start:\n\tcall square\ndone:\tb done\n"
      "square:\n\tmulo g0,g0,g1\n\tret\n\t.data\nsquare_count:\t.word 0\n";
  as::LinkOptions link;
  link.line_numbers = true;
  const as::Executable exe = as::AssembleAndLink({{"x.s", source}}, link);
  ASSERT_TRUE(exe.ok());
  korvane::test::ProjectDir dir;
  dir.Write("x.out", exe.file);
  dir.Write("x.xcl", std::string());
  dir.Write("x.mem", std::string());
  dir.Write("x.s", source);
  Emulator emu;
  ASSERT_TRUE(korvane::test::LoadProject(emu, {"korvane", dir.Path("x")})) << emu.exit.message;

  SourcePane pane;
  pane.Show(emu, exe.symbols.at("square") + 4);
  const QStringList shown = pane.toPlainText().split(QLatin1Char('\n'));
  EXPECT_EQ(shown,
            QStringList({"square (x.s)", "x.s:7  \tmulo g0,g0,g1", "   00010008  mulo     g0,g0,g1",
                         "x.s:8  \tret", "=> 0001000c  ret"}));

  SymbolBrowser browser;
  browser.Fill(emu);
  browser.filter()->setText(QStringLiteral("SQU"));
  QStringList visible;
  for (int i = 0; i < browser.list()->count(); ++i)
    if (!browser.list()->item(i)->isHidden()) visible << browser.list()->item(i)->text();
  EXPECT_EQ(visible, QStringList({"00010008  square  x.s:7", "00010010  square_count"}));

  QLineEdit field;
  CompleteSymbols(&field, emu);
  ASSERT_NE(field.completer(), nullptr);
  field.completer()->setCompletionPrefix(QStringLiteral("squ"));
  EXPECT_EQ(field.completer()->completionCount(), 2);
}

}  // namespace
}  // namespace korvane::shell
