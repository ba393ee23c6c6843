// The on-screen keypad's buttons (what each one presses) and their grid layout.
#pragma once

#include <span>

namespace korvane::shell {

enum class KeyAction {
  kNone,        // an empty button: only gives the focus back
  kHostKey,     // HostKeyDown(code)
  kHostKeyZero, // HostKeyDown(code) with a zero message parameter (Esc)
  kDeviceKey,   // PushDeviceKey(code): a device service key without a PC key
  kShiftChar,   // Shift chord for the character `code`, looked up on the keyboard layout
};

struct KeypadButton {
  int id;           // command identifier of the button
  const char* text; // its label when it shows no picture
  int picture;      // 80-93: the picture shown instead of the text; 0 for none
  int column;       // grid column 0-10
  int row;          // grid row 0-3
  KeyAction action;
  int code;         // virtual key, device code or character, after `action`
};

constexpr int kKeypadButtonCount = 37;
constexpr int kNxtButtonId = 67;  // every button takes the size of this one
constexpr int kCancelCommand = 2;

std::span<const KeypadButton> KeypadButtons();
const KeypadButton* FindKeypadButton(int id);

// Spacing of the grid, from the panel height and the size of the NXT button.
struct PanelGrid {
  int row_step;  // a
  int col_step;  // s
  int gap;       // g: the space between the groups of columns
  int margin;    // m: left margin
};

PanelGrid ComputePanelGrid(int panel_height, int button_width);

struct GridPosition {
  int x;
  int y;
};

// Top-left corner of the button at `column`, `row`. Gaps separate the NXT key, the navigation
// and service block, the numeric block with the editing column, and the Esc key.
GridPosition PanelButtonPosition(const PanelGrid& grid, int column, int row);

}  // namespace korvane::shell
