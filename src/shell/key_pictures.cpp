// The pictures of the keypad's symbol keys and the program's icon, drawn by our own code.
#include "shell/key_pictures.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace korvane::shell {

namespace {

const QColor kFace(192, 192, 192);

// A filled arrow head at `tip`, pointing along (dx, dy) (one of the four directions).
void Head(QPainter& p, QPointF tip, int dx, int dy, double size = 5.0) {
  QPointF back(tip.x() - dx * size, tip.y() - dy * size);
  QPointF side(dy * size * 0.8, dx * size * 0.8);
  p.drawPolygon(QPolygonF({tip, back + side, back - side}));
}

// A straight arrow from `from` to `to` along one axis.
void Arrow(QPainter& p, QPointF from, QPointF to) {
  int dx = to.x() > from.x() ? 1 : to.x() < from.x() ? -1 : 0;
  int dy = to.y() > from.y() ? 1 : to.y() < from.y() ? -1 : 0;
  p.drawLine(from, QPointF(to.x() - dx * 4, to.y() - dy * 4));
  Head(p, to, dx, dy);
}

void Label(QPainter& p, const QRectF& box, const char* text, int pixel_size = 9) {
  QFont font(QStringLiteral("Sans"));
  font.setPixelSize(pixel_size);
  font.setBold(true);
  p.setFont(font);
  p.drawText(box, Qt::AlignCenter, QString::fromLatin1(text));
}

void Draw(QPainter& p, int picture) {
  const double w = kPictureWidth, h = kPictureHeight, cx = w / 2;
  const QRectF lower(0, h * 0.55, w, h * 0.45);
  const QRectF upper(0, 0, w, h * 0.55);
  switch (picture) {
    case 80:  // F with a right arrow over NEXT
      Label(p, QRectF(4, 0, 16, h * 0.55), "F", 13);
      Arrow(p, QPointF(19, h * 0.28), QPointF(38, h * 0.28));
      Label(p, lower, "NEXT");
      break;
    case 81:  // plus over INC
      Label(p, upper, "+", 16);
      Label(p, lower, "INC");
      break;
    case 82:  // minus over DEC
      p.drawLine(QPointF(cx - 7, h * 0.28), QPointF(cx + 7, h * 0.28));
      Label(p, lower, "DEC");
      break;
    case 83:  // double up arrow
      Arrow(p, QPointF(cx, h - 4), QPointF(cx, 4));
      Head(p, QPointF(cx, 12), 0, -1);
      break;
    case 84:  // double down arrow
      Arrow(p, QPointF(cx, 4), QPointF(cx, h - 4));
      Head(p, QPointF(cx, h - 12), 0, 1);
      break;
    case 85:  // arrow into the upper left corner
      p.drawLine(QPointF(8, 5), QPointF(w - 8, 5));
      p.drawLine(QPointF(8, 5), QPointF(8, h - 5));
      p.drawLine(QPointF(w - 10, h - 6), QPointF(13, 10));
      Head(p, QPointF(11, 8), -1, 0, 4);
      Head(p, QPointF(11, 8), 0, -1, 4);
      break;
    case 86:  // up arrow
      Arrow(p, QPointF(cx, h - 5), QPointF(cx, 5));
      break;
    case 87:  // down arrow
      Arrow(p, QPointF(cx, 5), QPointF(cx, h - 5));
      break;
    case 88:  // left arrow
      Arrow(p, QPointF(w - 8, h / 2), QPointF(8, h / 2));
      break;
    case 89:  // right arrow
      Arrow(p, QPointF(8, h / 2), QPointF(w - 8, h / 2));
      break;
    case 90:  // up arrow over ENTER over a double bar
      Arrow(p, QPointF(cx, 14), QPointF(cx, 2));
      Label(p, QRectF(0, 13, w, 11), "ENTER");
      p.drawLine(QPointF(8, h - 7), QPointF(w - 8, h - 7));
      p.drawLine(QPointF(8, h - 4), QPointF(w - 8, h - 4));
      break;
    case 91:  // CLEAR
      Label(p, QRectF(0, 0, w, h), "CLEAR");
      break;
    case 92:  // BLANK
      Label(p, QRectF(0, 0, w, h), "BLANK");
      break;
    case 93: {  // U-turn arrow over UNDO
      QPainterPath path;
      path.moveTo(30, 15);
      path.lineTo(30, 8);
      path.arcTo(QRectF(16, 3, 14, 10), 0, 180);
      path.lineTo(16, 13);
      p.setBrush(Qt::NoBrush);
      p.drawPath(path);
      p.setBrush(Qt::black);
      Head(p, QPointF(16, 17), 0, 1, 4);
      Label(p, lower, "UNDO");
      break;
    }
    default:
      break;
  }
}

}  // namespace

QPixmap KeyPicture(int picture) {
  if (picture < 80 || picture > 93) return QPixmap();
  QPixmap pixmap(kPictureWidth, kPictureHeight);
  pixmap.fill(kFace);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::black, 2));
  p.setBrush(Qt::black);
  Draw(p, picture);
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(QColor(0, 64, 160));
    QPainter p(&pixmap);
    p.setPen(Qt::white);
    QFont font(QStringLiteral("Sans"));
    font.setPixelSize(size * 3 / 4);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("K"));
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace korvane::shell
