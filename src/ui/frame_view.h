// The frame view of the "Converting" page: the picture being converted, scaled to the view's
// height, centred horizontally and top aligned.
#pragma once

#include <QImage>
#include <QWidget>

#include "core/bitmap.h"

namespace calvex::ui {

// A copy of a 24-bit bottom-up bitmap as an image (empty for anything else).
QImage ImageFromBitmap(const BitmapInfoHeader& header, const std::uint8_t* bits);

class FrameView : public QWidget {
  Q_OBJECT
 public:
  explicit FrameView(QWidget* parent = nullptr);

  void ShowFrame(const QImage& frame);
  void Clear();
  const QImage& frame() const { return frame_; }
  // Where the frame is drawn for the view's current size.
  QRect FrameRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage frame_;
};

}  // namespace calvex::ui
