// The display area: the shown picture scaled by a whole number with sharp pixels, and clicks
// mapped back through the scale onto the device's 640 x 480 display.
#include "shell/display_view.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace korvane::shell {

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

// Division rounding towards minus infinity, so points left of or above the picture stay there.
int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

int ZoomScale(int zoom, QSize area) {
  if (zoom >= 1 && zoom <= kMaxZoom) return zoom;
  return std::max(1, std::min(area.width() / kWidth, area.height() / kHeight));
}

QRect PictureRect(QSize area, int scale) {
  const int w = kWidth * scale, h = kHeight * scale;
  return QRect(std::max(0, (area.width() - w) / 2), std::max(0, (area.height() - h) / 2), w, h);
}

std::optional<QPoint> DevicePoint(QPoint pos, QSize area, int scale) {
  const QRect picture = PictureRect(area, scale);
  if (!picture.contains(pos)) return std::nullopt;
  return QPoint(FloorDiv(pos.x() - picture.x(), scale), FloorDiv(pos.y() - picture.y(), scale));
}

QImage ScalePicture(const QImage& picture, int scale) {
  if (scale <= 1) return picture;
  return picture.scaled(picture.width() * scale, picture.height() * scale, Qt::IgnoreAspectRatio,
                        Qt::FastTransformation);
}

DisplayView::DisplayView(Hooks hooks, QWidget* parent) : QWidget(parent), hooks_(std::move(hooks)) {
  // Painted whole on every tick without erasing first, so it never flickers.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
}

QImage DisplayView::LastPicture() {
  if (last_.isNull()) last_ = hooks_.picture();
  return last_;
}

void DisplayView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  last_ = hooks_.picture();
  const int s = scale();
  const QRect target = PictureRect(size(), s);
  // The border around a centred picture (Fit) is black, like the device's frame.
  QRegion border = QRegion(rect()).subtracted(QRegion(target));
  for (const QRect& r : border) painter.fillRect(r, Qt::black);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(target.topLeft(), ScalePicture(last_, s));
}

void DisplayView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    if (std::optional<QPoint> p = DevicePoint(event->position().toPoint(), size(), scale()))
      hooks_.left_click(p->x(), p->y());
    event->accept();
  } else if (event->button() == Qt::RightButton) {
    hooks_.right_click();
    event->accept();
  } else {
    QWidget::mousePressEvent(event);
  }
}

ResizeWatcher::ResizeWatcher(QWidget* watched, std::function<void()> on_resize)
    : QObject(watched), on_resize_(std::move(on_resize)) {
  watched->installEventFilter(this);
}

bool ResizeWatcher::eventFilter(QObject*, QEvent* event) {
  if (event->type() == QEvent::Resize) on_resize_();
  return false;
}

}  // namespace korvane::shell
