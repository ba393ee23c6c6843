// Tests of the identifier phase: exclude list, symbol walk, key-code range, intercept list,
// and a walk that stops cleanly on a damaged symbol or string table.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "image/coff_builder.h"

namespace korvane::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const IdentEntry* Find(const Emulator& emu, const std::string& name) {
  for (int i = 0; i < emu.image.ident_count; ++i)
    if (name == emu.image.idents[i].name) return &emu.image.idents[i];
  return nullptr;
}

bool Load(Emulator& emu, const ProjectDir& dir, const CoffImage& image,
          const std::string& xcl = "") {
  dir.WriteProject(image, xcl);
  return LoadProject(emu, {"korvane", dir.Path("x")});
}

TEST(ExcludeList, LinesBecomeEntriesBehindTheFixedOnes) {
  struct Row {
    const char* why;
    std::string xcl;
    std::vector<std::string> entries;  // the names appended after entry 151
  };
  const std::string c29(29, 'a'), c35 = std::string(29, 'b') + "cdefgh";
  const Row rows[] = {
      {"one name per line", "one\ntwo\n", {"one", "two"}},
      {"no line end after the last line", "one\ntwo", {"one", "two"}},
      {"a line longer than 29 characters is read as two entries",
       c35 + "\nz\n",
       {std::string(29, 'b'), "cdefgh", "z"}},
      {"a line of exactly 29 characters stays one entry", c29 + "\nz\n", {c29, "z"}},
      {"an empty line ends the table: later lines are not used", "one\n\ntwo\n", {"one"}},
      {"Windows line ends", "one\r\ntwo\r\n", {"one", "two"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    ProjectDir dir;
    Emulator emu;
    ASSERT_TRUE(Load(emu, dir, CoffImage{}, row.xcl)) << emu.exit.message;
    ASSERT_EQ(emu.image.ident_count, kFixedIdentCount + static_cast<int>(row.entries.size()));
    for (size_t k = 0; k < row.entries.size(); ++k) {
      const IdentEntry& e = emu.image.idents[kFixedIdentCount + k];
      EXPECT_EQ(std::string(e.name), row.entries[k]);
      EXPECT_EQ(e.handler, nullptr);
      EXPECT_EQ(e.flags, 0u);
    }
  }
}

TEST(ExcludeList, ModuleEntryCoversTheWholeTextOfItsModule) {
  CoffImage image;
  image.text.assign(0x40, 0);
  image.AddModule("startup.s", 0x10000, 0x20);
  image.AddModule("c:\\src\\graphics_lib.s", 0x10020, 0x20);  // name through the string table
  ProjectDir dir;
  Emulator emu;
  // "^_graphi" names the second module by the first six characters of its base name; "^_"
  // alone names none.
  ASSERT_TRUE(Load(emu, dir, image, "^_\n^_graphi\n")) << emu.exit.message;
  const IdentEntry* bare = Find(emu, "^_");
  const IdentEntry* mod = Find(emu, "^_graphi");
  ASSERT_TRUE(bare && mod);
  EXPECT_EQ(bare->start, 0u);
  EXPECT_EQ(mod->start, 0x10020u);
  EXPECT_EQ(mod->end, 0x1003Fu);
  ASSERT_EQ(emu.image.intercept_last, 0);
  EXPECT_EQ(emu.image.intercepts[0], mod);
}

TEST(Symbols, ResolutionRules) {
  CoffImage image;
  image.text.assign(0x40, 0);
  const uint32_t bss = image.BssStart();
  image.AddModule("a.s", 0x10000, 0x40);
  image.AddSymbol("onkey", bss + 1, 6);        // a static in one module ...
  image.AddSymbol("onkey", bss + 2, 6);        // ... and in the next: the later one wins
  image.AddSymbol("N_UP", image.DataStart());  // initialised key flag: outside the bss
  image.AddSymbol("N_NOKEY", bss + 0);         // never part of the range
  image.AddSymbol("N_ENTER", bss + 9);
  image.AddSymbol("N_" + std::string(40, 'Q'), bss + 12);  // cut to 31 characters in s_max
  image.AddSymbol("N_EXIT", bss + 4);
  image.AddSymbol("x$read_rtc", image.DataStart() + 4);  // a routine name on data
  image.AddSymbol("x$stop_rtc", 0x10030);
  image.AddSymbol("x$init_rtc", 0x10010);
  ProjectDir dir;
  Emulator emu;
  ASSERT_TRUE(Load(emu, dir, image)) << emu.exit.message;

  EXPECT_EQ(Find(emu, "onkey")->start, bss + 2);
  EXPECT_EQ(Find(emu, "N_UP")->start, image.DataStart());
  EXPECT_EQ(emu.image.n_min, bss + 4);
  EXPECT_STREQ(emu.image.s_min, "N_EXIT");
  EXPECT_EQ(emu.image.n_max, bss + 12);
  EXPECT_EQ(std::string(emu.image.s_max), "N_" + std::string(29, 'Q'));
  // Only routines inside the text enter the intercept list, sorted by address.
  EXPECT_EQ(Find(emu, "x$read_rtc")->start, image.DataStart() + 4);
  ASSERT_EQ(emu.image.intercept_last, 1);
  EXPECT_STREQ(emu.image.intercepts[0]->name, "x$init_rtc");
  EXPECT_STREQ(emu.image.intercepts[1]->name, "x$stop_rtc");
  EXPECT_EQ(LookupIdent(emu, "x$stop_rtc"), 0x10030u);
  EXPECT_EQ(LookupIdent(emu, "X$STOP_RTC"), 0u);  // names compare with case
  EXPECT_EQ(LookupIdent(emu, "no_such_name"), 0u);
}

// A damaged symbol or string table stops the walk with a log line; what was read before
// stays resolved, nothing after it is, and the image still loads.
TEST(Symbols, DamagedTablesStopTheWalkCleanly) {
  struct Row {
    const char* why;
    std::function<void(CoffImage&)> damage;
    const char* log_line;
    bool late_resolved;  // port1, an in-place name after the damage point
  };
  const Row rows[] = {
      {"string table longer than the 1 MiB name pool",
       [](CoffImage& i) { i.string_length_override = 0x100000 + 64; }, "does not fit the name pool",
       false},
      {"string table length larger than the rest of the file",
       [](CoffImage& i) { i.string_length_override = 5000; }, "string table cut short", true},
      {"symbol count past the end of the file (in-place names only, so the misplaced string "
       "table does not matter)",
       [](CoffImage& i) {
         i.symbols.erase(i.symbols.begin(), i.symbols.begin() + 2);
         i.symbol_count_override = 100000;
       },
       "symbol table ends at entry 2 of 100000", true},
      {"name offset outside the string table",
       [](CoffImage& i) {
         i.symbols[0].name = std::string(12, 'z');
         i.string_length_override = 6;
       },
       "outside the table, walk stopped", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    CoffImage image;
    image.text.assign(0x40, 0);
    image.AddSymbol("long_symbol_name", 0x10004);  // through the string table
    image.AddSymbol("x$read_rtc", 0x10008);        // ten characters: string table too
    image.AddSymbol("onkey", image.BssStart());    // in place, after them
    image.AddSymbol("port1", 0x10010);
    row.damage(image);
    ProjectDir dir;
    Emulator emu;
    ASSERT_TRUE(Load(emu, dir, image)) << emu.exit.message;
    EXPECT_THAT(emu.log.captured(), HasSubstr(row.log_line));
    EXPECT_EQ(LookupIdent(emu, "port1") != 0, row.late_resolved);
    EXPECT_THAT(emu.log.captured(), HasSubstr("Project Version= 0\n"));
  }
}

TEST(Symbols, UndamagedTablesLogNoWalkProblem) {
  CoffImage image;
  image.AddSymbol("x$readkeys", 0x10004);
  ProjectDir dir;
  Emulator emu;
  ASSERT_TRUE(Load(emu, dir, image)) << emu.exit.message;
  EXPECT_THAT(emu.log.captured(), Not(HasSubstr("walk stopped")));
  EXPECT_EQ(LookupIdent(emu, "x$readkeys"), 0x10004u);
}

}  // namespace
}  // namespace korvane::test
