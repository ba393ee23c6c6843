// The keypad panel under the display: 37 buttons that press device keys.
#pragma once

#include <QPushButton>
#include <QWidget>

#include "shell/key_target.h"

namespace korvane::shell {

constexpr int kPanelWidth = 640;
constexpr int kPanelHeight = 172;  // K: the panel's height in pixels
constexpr int kButtonWidth = 48;   // size of the NXT button, taken by every button
constexpr int kButtonHeight = 34;

class KeyPanel : public QWidget {
  Q_OBJECT

 public:
  // `focus_home` gets the keyboard focus back after every press.
  KeyPanel(KeyTarget& keys, QWidget* focus_home, QWidget* parent);

  // Performs the command of button `id` (or 2, cancel), as a click does.
  void Command(int id);
  QPushButton* Button(int id) const;

 Q_SIGNALS:
  // The panel asks the main window to hide it (the cancel command).
  void KeyboardCommand();
  // A pressed key was refused: the emulator's key queue is full.
  void KeyRefused();

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void ShiftChord(char ch);
  void Press(int virtual_key);

  KeyTarget& keys_;
  QWidget* focus_home_;
};

}  // namespace korvane::shell
