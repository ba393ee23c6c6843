// The on-screen keypad's buttons (what each one presses) and their grid layout.
#include "shell/keypad.h"

#include "platform/vk_keys.h"

namespace korvane::shell {

namespace {

using enum KeyAction;

// Device codes of the service keys that no PC key produces.
constexpr int kDevStart = 201;
constexpr int kDevStop = 202;
constexpr int kDevStatusNext = 206;
constexpr int kDevStatus = 212;
constexpr int kDevHelp = 213;
constexpr int kDevRemapC = 218;
constexpr int kDevRemapB = 219;
constexpr int kDevRemapA = 220;

constexpr KeypadButton kButtons[kKeypadButtonCount] = {
    {67, "NXT", 80, 0, 0, kHostKey, kVkTab},
    {40, "PgU", 83, 1, 0, kHostKey, kVkPageUp},
    {41, "<", 88, 1, 1, kHostKey, kVkLeft},
    {42, "PgD", 84, 1, 2, kHostKey, kVkPageDown},
    {73, "Stop", 0, 1, 3, kDeviceKey, kDevStop},
    {43, "^", 86, 2, 0, kHostKey, kVkUp},
    {44, "H", 85, 2, 1, kHostKey, kVkHome},
    {45, "v", 87, 2, 2, kHostKey, kVkDown},
    {74, "Start", 0, 2, 3, kDeviceKey, kDevStart},
    {47, "", 0, 3, 0, kNone, 0},
    {48, ">", 89, 3, 1, kHostKey, kVkRight},
    {49, "", 0, 3, 2, kNone, 0},
    {75, "Re-A", 0, 3, 3, kDeviceKey, kDevRemapA},
    {46, "DEC", 82, 4, 0, kShiftChar, '('},
    {69, "Serv", 0, 4, 1, kDeviceKey, kDevStatus},
    {76, "Re-B", 0, 4, 3, kDeviceKey, kDevRemapB},
    {50, "INC", 81, 5, 0, kShiftChar, ')'},
    {70, "Serv+", 0, 5, 1, kDeviceKey, kDevStatusNext},
    {71, "Help", 0, 5, 2, kDeviceKey, kDevHelp},
    {77, "Re-C", 0, 5, 3, kDeviceKey, kDevRemapC},
    {54, "7", 0, 6, 0, kHostKey, kVkNumpad0 + 7},
    {53, "4", 0, 6, 1, kHostKey, kVkNumpad0 + 4},
    {52, "1", 0, 6, 2, kHostKey, kVkNumpad0 + 1},
    {51, ".", 0, 6, 3, kHostKey, kVkNumpadDecimal},
    {58, "8", 0, 7, 0, kHostKey, kVkNumpad0 + 8},
    {57, "5", 0, 7, 1, kHostKey, kVkNumpad0 + 5},
    {56, "2", 0, 7, 2, kHostKey, kVkNumpad0 + 2},
    {55, "0", 0, 7, 3, kHostKey, kVkNumpad0},
    {62, "9", 0, 8, 0, kHostKey, kVkNumpad0 + 9},
    {61, "6", 0, 8, 1, kHostKey, kVkNumpad0 + 6},
    {60, "3", 0, 8, 2, kHostKey, kVkNumpad0 + 3},
    {59, "+/-", 0, 8, 3, kHostKey, kVkNumpadSubtract},
    {66, "<-|", 93, 9, 0, kHostKey, kVkDelete},
    {65, "___", 92, 9, 1, kHostKey, kVkDelete},
    {64, "CLR", 91, 9, 2, kHostKey, kVkBackspace},
    {63, "ENT", 90, 9, 3, kHostKey, kVkEnter},
    {72, "Esc", 0, 10, 0, kHostKeyZero, kVkEscape},
};

constexpr int kRowTop = 20;
constexpr int kRowSlack = 30;      // panel height not shared by the four rows
constexpr int kGridWidth = 597;    // width the eleven columns are centred in
constexpr int kColumns = 11;

}  // namespace

std::span<const KeypadButton> KeypadButtons() { return kButtons; }

const KeypadButton* FindKeypadButton(int id) {
  for (const KeypadButton& b : kButtons)
    if (b.id == id) return &b;
  return nullptr;
}

PanelGrid ComputePanelGrid(int panel_height, int button_width) {
  PanelGrid grid;
  grid.row_step = (panel_height - kRowSlack) / 4;
  grid.col_step = button_width + 5;
  grid.gap = 16;
  grid.margin = (kGridWidth - kColumns * grid.col_step) / 2;
  if (grid.margin < 0) {
    // Too narrow for the normal spacing: tighter columns and gaps from the left edge.
    grid.col_step = button_width + 2;
    grid.gap = 6;
    grid.margin = 0;
  }
  return grid;
}

GridPosition PanelButtonPosition(const PanelGrid& grid, int column, int row) {
  int groups = column == 0 ? 0 : column <= 5 ? 1 : column <= 9 ? 2 : 3;
  return {grid.margin + grid.col_step * column + grid.gap * groups, kRowTop + row * grid.row_step};
}

}  // namespace korvane::shell
