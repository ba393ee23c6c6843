// The display area: the shown picture scaled by a whole number with sharp pixels, and clicks
// mapped back through the scale onto the device's 640 x 480 display.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <optional>

namespace korvane::shell {

// View > Zoom: a fixed scale of 1 to 4, or the largest whole scale that fits the window.
constexpr int kZoomFit = 0;
constexpr int kMaxZoom = 4;

// The scale of `zoom` (kZoomFit or 1-4) in a display area of `area`: Fit gives the largest whole
// number that fits, at least 1.
int ZoomScale(int zoom, QSize area);
// Where a picture of `scale` lies in a display area of `area`: centred.
QRect PictureRect(QSize area, int scale);
// The display position of widget position `pos`, or nothing when it lies outside the picture.
std::optional<QPoint> DevicePoint(QPoint pos, QSize area, int scale);
// A picture enlarged by a whole number without smoothing.
QImage ScalePicture(const QImage& picture, int scale);

class DisplayView : public QWidget {
 public:
  struct Hooks {
    std::function<QImage()> picture;               // the shown 640 x 480 picture, refreshed
    std::function<void(int x, int y)> left_click;  // at a display position
    std::function<void()> right_click;
  };
  DisplayView(Hooks hooks, QWidget* parent);

  int zoom() const { return zoom_; }
  void SetZoom(int zoom) { zoom_ = zoom; }
  int scale() const { return ZoomScale(zoom_, size()); }
  // The picture of the last paint at 1x (a fresh one when nothing was painted yet).
  QImage LastPicture();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  Hooks hooks_;
  int zoom_ = 1;
  QImage last_;
};

// Calls `on_resize` whenever the watched widget changes its size.
class ResizeWatcher : public QObject {
 public:
  ResizeWatcher(QWidget* watched, std::function<void()> on_resize);
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<void()> on_resize_;
};

}  // namespace korvane::shell
