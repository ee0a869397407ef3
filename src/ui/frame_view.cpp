#include "ui/frame_view.h"

#include <QPainter>
#include <cstring>

namespace calvex::ui {

QImage ImageFromBitmap(const BitmapInfoHeader& h, const std::uint8_t* bits) {
  if (bits == nullptr || h.bitCount != 24 || h.compression != 0 || h.width <= 0 || h.height == 0 ||
      h.width > 16384 || h.height > 16384 || h.height < -16384)
    return {};
  const int height = h.height < 0 ? -h.height : h.height;
  const int stride = BitmapStride(h.width, 24);
  QImage image(h.width, height, QImage::Format_RGB888);
  for (int y = 0; y < height; ++y) {
    // Positive heights are stored bottom-up.
    const int source = h.height > 0 ? height - 1 - y : y;
    const std::uint8_t* in = bits + static_cast<std::size_t>(source) * stride;
    std::uint8_t* out = image.scanLine(y);
    for (int x = 0; x < h.width; ++x) {  // BGR to RGB
      out[3 * x] = in[3 * x + 2];
      out[3 * x + 1] = in[3 * x + 1];
      out[3 * x + 2] = in[3 * x];
    }
  }
  return image;
}

FrameView::FrameView(QWidget* parent) : QWidget(parent) {
  setMinimumSize(120, 90);
}

void FrameView::ShowFrame(const QImage& frame) {
  frame_ = frame;
  update();
}

void FrameView::Clear() {
  frame_ = QImage();
  update();
}

QRect FrameView::FrameRect() const {
  if (frame_.isNull() || frame_.height() == 0) return {};
  // The view's height, centred and top aligned; a picture wider than the view is fitted to its
  // width instead of being cut at both sides.
  int h = height();
  int w = static_cast<int>(static_cast<long long>(frame_.width()) * h / frame_.height());
  if (w > width()) {
    w = width();
    h = static_cast<int>(static_cast<long long>(frame_.height()) * w / frame_.width());
  }
  return QRect((width() - w) / 2, 0, w, h);
}

void FrameView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Button));
  if (!frame_.isNull()) p.drawImage(FrameRect(), frame_);
}

}  // namespace calvex::ui
