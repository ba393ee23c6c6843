// The pictures of the keypad's symbol keys and the program's icon, drawn by our own code.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace korvane::shell {

constexpr int kPictureWidth = 45;
constexpr int kPictureHeight = 34;

// Picture 80-93 of the keypad (grey face, black symbol); a null pixmap for other numbers.
QPixmap KeyPicture(int picture);

// The program's icon (large and small sizes).
QIcon ProgramIcon();

}  // namespace korvane::shell
