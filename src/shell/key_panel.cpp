// The keypad panel under the display: 37 buttons that press device keys.
#include "shell/key_panel.h"

#include <QMouseEvent>

#include "platform/keyboard_layout.h"
#include "platform/vk_keys.h"
#include "shell/key_pictures.h"
#include "shell/keypad.h"

namespace korvane::shell {

namespace {
constexpr char kIdProperty[] = "korvane_id";
}

KeyPanel::KeyPanel(KeyTarget& keys, QWidget* focus_home, QWidget* parent)
    : QWidget(parent), keys_(keys), focus_home_(focus_home) {
  setFixedSize(kPanelWidth, kPanelHeight);
  setFocusPolicy(Qt::NoFocus);
  setAutoFillBackground(true);
  PanelGrid grid = ComputePanelGrid(height(), kButtonWidth);
  for (const KeypadButton& b : KeypadButtons()) {
    auto* button = new QPushButton(QString::fromLatin1(b.text), this);
    button->setObjectName(QStringLiteral("key%1").arg(b.id));
    button->setProperty(kIdProperty, b.id);
    // The buttons never keep the focus: typing on the PC keyboard must keep reaching the
    // device.
    button->setFocusPolicy(Qt::NoFocus);
    GridPosition pos = PanelButtonPosition(grid, b.column, b.row);
    button->setGeometry(pos.x, pos.y, kButtonWidth, kButtonHeight);
    if (b.picture != 0) {
      button->setText(QString());
      button->setIcon(QIcon(KeyPicture(b.picture)));
      button->setIconSize(QSize(kButtonWidth - 6, kButtonHeight - 6));
      button->setToolTip(QString::fromLatin1(b.text));
    }
    int id = b.id;
    connect(button, &QPushButton::clicked, this, [this, id] { Command(id); });
  }
}

QPushButton* KeyPanel::Button(int id) const {
  return findChild<QPushButton*>(QStringLiteral("key%1").arg(id));
}

void KeyPanel::ShiftChord(char ch) {
  // The key that types the character on the keyboard layout, held with Shift.
  int scan = VkKeyScanA(ch);
  keys_.KeyDown(kVkShift);
  if (scan >= 0) Press(scan & 0xFF);
  keys_.KeyUp(kVkShift);
}

void KeyPanel::Press(int virtual_key) {
  if (!keys_.KeyDown(virtual_key)) Q_EMIT KeyRefused();
}

void KeyPanel::Command(int id) {
  if (id == kCancelCommand) {
    Q_EMIT KeyboardCommand();
    if (focus_home_) focus_home_->setFocus();
    return;
  }
  const KeypadButton* b = FindKeypadButton(id);
  if (!b) return;  // other commands are not ours
  switch (b->action) {
    case KeyAction::kNone:
      break;
    case KeyAction::kHostKey:
    case KeyAction::kHostKeyZero:
      Press(b->code);
      break;
    case KeyAction::kDeviceKey:
      if (!keys_.DeviceKey(b->code)) Q_EMIT KeyRefused();
      break;
    case KeyAction::kShiftChar:
      ShiftChord(static_cast<char>(b->code));
      break;
  }
  if (focus_home_) focus_home_->setFocus();
}

void KeyPanel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    Press(kVkEscape);
    if (focus_home_) focus_home_->setFocus();
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

}  // namespace korvane::shell
