// Soft keys, the keypad's buttons and layout, the palette and the key-code table.
#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <set>

#include "platform/vk_keys.h"
#include "shell/key_panel.h"
#include "shell/keypad.h"
#include "shell/palette.h"
#include "shell/soft_keys.h"
#include "shell_support.h"

namespace korvane::shell {
namespace {

using test::RecordingKeys;

TEST(SoftKeys, ClickGivesKeyOfItsField) {
  struct Row {
    int x, y, soft_keys, video;
    int want;
    const char* why;
  } rows[] = {
      {200, 450, 10, 1, kVkF1 + 3, "fourth field of ten"},
      {200, 450, 8, 1, kVkF1 + 2, "eight keys start one field to the right"},
      {30, 450, 8, 1, kVkTab, "left of the eight keys is Tab"},
      {200, 399, 10, 1, 0, "above the soft-key row"},
      {200, 400, 10, 1, kVkF1 + 3, "first pixel row of the soft keys"},
      {0, 450, 10, 1, kVkTab, "x 0 is Tab even with ten keys"},
      {639, 479, 10, 1, kVkF1 + 9, "last field is F10"},
      {700, 450, 10, 1, 0, "beyond F10 nothing"},
      {64, 450, 8, 1, kVkTab, "first field of eight: x becomes 0"},
      {600, 299, 10, 5, kVkF1 + 6, "mode 5: y and x shifted, 96-pixel keys"},
      {10, 291, 10, 5, 0, "mode 5: 291 + 108 is still above the row"},
  };
  for (const Row& r : rows) {
    int width = kSoftKeyWidth;
    EXPECT_EQ(SoftKeyForClick(r.x, r.y, r.soft_keys, r.video, &width), r.want) << r.why;
  }
}

TEST(SoftKeys, Mode5WidthStaysForTheRun) {
  int width = kSoftKeyWidth;
  SoftKeyForClick(10, 10, 10, 5, &width);  // even a click that presses nothing
  EXPECT_EQ(width, kSoftKeyWidthMode5);
  EXPECT_EQ(SoftKeyForClick(200, 450, 10, 1, &width), kVkF1 + 2);  // 200 / 96
}

TEST(KeypadLayout, GridNumbers) {
  // The panel's own size: 48-pixel buttons fit eleven columns with normal spacing.
  PanelGrid grid = ComputePanelGrid(kPanelHeight, kButtonWidth);
  EXPECT_EQ(grid.row_step, (172 - 30) / 4);
  EXPECT_EQ(grid.col_step, 53);
  EXPECT_EQ(grid.gap, 16);
  EXPECT_EQ(grid.margin, (597 - 11 * 53) / 2);
  struct Row {
    int col, row, x, y;
    const char* why;
  } rows[] = {
      {0, 0, 7, 20, "NXT: margin only"},
      {1, 0, 7 + 53 + 16, 20, "first gap after NXT"},
      {5, 3, 7 + 5 * 53 + 16, 20 + 3 * 35, "last of the service block"},
      {6, 0, 7 + 6 * 53 + 32, 20, "numeric block: two gaps"},
      {10, 0, 7 + 10 * 53 + 48, 20, "Esc: three gaps"},
  };
  for (const Row& r : rows) {
    GridPosition p = PanelButtonPosition(grid, r.col, r.row);
    EXPECT_EQ(p.x, r.x) << r.why;
    EXPECT_EQ(p.y, r.y) << r.why;
  }
  // The Esc key still ends inside the panel.
  EXPECT_LE(PanelButtonPosition(grid, 10, 0).x + kButtonWidth, kPanelWidth);
}

TEST(KeypadLayout, TooWideButtonsUseTightSpacing) {
  // 11 x 55 = 605 > 597: the margin would be negative.
  PanelGrid grid = ComputePanelGrid(100, 50);
  EXPECT_EQ(grid.col_step, 52);
  EXPECT_EQ(grid.gap, 6);
  EXPECT_EQ(grid.margin, 0);
  EXPECT_EQ(grid.row_step, 17);
  EXPECT_EQ(PanelButtonPosition(grid, 0, 0).x, 0);
  EXPECT_EQ(PanelButtonPosition(grid, 10, 1).x, 520 + 18);
}

TEST(KeypadLayout, ButtonsOccupyDistinctCellsAndLeaveTheDocumentedOnesEmpty) {
  std::set<std::pair<int, int>> cells;
  std::set<int> ids;
  int pictures = 0;
  for (const KeypadButton& b : KeypadButtons()) {
    EXPECT_TRUE(cells.insert({b.column, b.row}).second) << "cell used twice by " << b.id;
    EXPECT_TRUE(ids.insert(b.id).second) << "id used twice " << b.id;
    if (b.picture) ++pictures;
  }
  EXPECT_EQ(cells.size(), 37u);
  EXPECT_EQ(pictures, 14);
  for (auto empty : {std::pair{4, 2}, {0, 1}, {0, 2}, {0, 3}, {10, 1}, {10, 2}, {10, 3}})
    EXPECT_EQ(cells.count(empty), 0u) << empty.first << "," << empty.second;
}

TEST(KeyPanel, EveryButtonMakesItsCall) {
  test::App();
  RecordingKeys keys;
  QWidget home;
  KeyPanel panel(keys, &home, nullptr);
  struct Row {
    int id;
    std::vector<std::string> calls;
  } rows[] = {
      {67, {"down 9"}},  {40, {"down 33"}},  {41, {"down 37"}},  {42, {"down 34"}},
      {73, {"dev 202"}}, {43, {"down 38"}},  {44, {"down 36"}},  {45, {"down 40"}},
      {74, {"dev 201"}}, {47, {}},           {48, {"down 39"}},  {49, {}},
      {75, {"dev 220"}}, {69, {"dev 212"}},  {76, {"dev 219"}},  {70, {"dev 206"}},
      {71, {"dev 213"}}, {77, {"dev 218"}},  {54, {"down 103"}}, {53, {"down 100"}},
      {52, {"down 97"}}, {51, {"down 110"}}, {58, {"down 104"}}, {57, {"down 101"}},
      {56, {"down 98"}}, {55, {"down 96"}},  {62, {"down 105"}}, {61, {"down 102"}},
      {60, {"down 99"}}, {59, {"down 109"}}, {66, {"down 46"}},  {65, {"down 46"}},
      {64, {"down 8"}},  {63, {"down 13"}},  {72, {"down 27"}},
      // DEC and INC: Shift, the US key of "(" (9) or ")" (0), Shift released.
      {46, {"down 16", "down 57", "up 16"}},
      {50, {"down 16", "down 48", "up 16"}},
  };
  ASSERT_EQ(std::size(rows), static_cast<size_t>(kKeypadButtonCount));
  for (const Row& r : rows) {
    keys.calls.clear();
    QPushButton* button = panel.Button(r.id);
    ASSERT_NE(button, nullptr) << r.id;
    button->click();  // the real click path, not just the command table
    EXPECT_EQ(keys.calls, r.calls) << "button " << r.id;
  }
}

TEST(KeyPanel, RightClickSendsEscapeAndCancelAsksToHide) {
  test::App();
  RecordingKeys keys;
  KeyPanel panel(keys, nullptr, nullptr);
  int hide_requests = 0;
  QObject::connect(&panel, &KeyPanel::KeyboardCommand, [&] { ++hide_requests; });
  QTest::mouseClick(&panel, Qt::RightButton, Qt::NoModifier, QPoint(3, 3));
  // A right click on a button falls through to the panel as well.
  QTest::mouseClick(panel.Button(55), Qt::RightButton);
  EXPECT_EQ(keys.calls, (std::vector<std::string>{"down 27", "down 27"}));
  panel.Command(kCancelCommand);
  EXPECT_EQ(hide_requests, 1);
  panel.Command(999);  // not a button: nothing
  EXPECT_EQ(keys.calls.size(), 2u);
}

TEST(Palette, ColourCube) {
  struct Row {
    int index;
    QRgb rgb;
    const char* why;
  } rows[] = {
      {255, qRgb(255, 255, 255), "white"},
      {0, qRgb(0, 0, 0), "black"},
      {224, qRgb(255, 0, 0), "pure red: top three bits"},
      {28, qRgb(0, 255, 0), "pure green: middle three bits"},
      {3, qRgb(0, 0, 255), "pure blue: low two bits"},
      {0x25, qRgb(36, 36, 85), "lowest non-zero level of each"},
      {0x92, qRgb(146, 146, 171), "middle levels"},
  };
  for (const Row& r : rows) EXPECT_EQ(PaletteRgb(r.index), r.rgb) << r.why;
  EXPECT_EQ(PaletteColorTable().size(), 256);
}

TEST(VkKeys, ToolkitKeysToVirtualKeys) {
  struct Row {
    int key;
    bool keypad;
    int vk;
    const char* why;
  } rows[] = {
      {Qt::Key_F1, false, 0x70, "F1"},
      {Qt::Key_F10, false, 0x79, "F10"},
      {Qt::Key_Tab, false, kVkTab, "Tab"},
      {Qt::Key_Backtab, false, kVkTab, "Shift+Tab is still the Tab key"},
      {Qt::Key_Return, false, kVkEnter, "Return"},
      {Qt::Key_Enter, true, kVkEnter, "keypad Enter"},
      {Qt::Key_A, false, 'A', "letters are their own codes"},
      {Qt::Key_7, false, '7', "top-row digit"},
      {Qt::Key_7, true, 0x67, "keypad digit"},
      {Qt::Key_Period, true, 0x6E, "keypad decimal point"},
      {Qt::Key_Minus, true, 0x6D, "keypad minus"},
      {Qt::Key_Minus, false, 0xBD, "main minus key"},
      {Qt::Key_ParenLeft, false, '9', "( is typed with the 9 key"},
      {Qt::Key_ParenRight, false, '0', ") is typed with the 0 key"},
      {Qt::Key_Shift, false, kVkShift, "Shift"},
      {Qt::Key_Control, false, kVkControl, "Ctrl"},
      {Qt::Key_Alt, false, kVkAlt, "Alt"},
      {Qt::Key_Home, true, kVkHome, "keypad Home without Num Lock"},
      {Qt::Key_Delete, false, kVkDelete, "Delete"},
      {Qt::Key_Escape, false, kVkEscape, "Escape"},
      {Qt::Key_unknown, false, 0, "no code"},
  };
  for (const Row& r : rows) EXPECT_EQ(VkFromToolkitKey(r.key, r.keypad), r.vk) << r.why;
}

}  // namespace
}  // namespace korvane::shell
