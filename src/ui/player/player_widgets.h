// The pieces of the players' windows: the picture area, the tape-recorder buttons, the position
// track with its thumb and the section bar.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QWidget>

#include "ui/player/section_rules.h"

namespace calvex::ui {

// A picture fitted into the area, centred, keeping its shape; the button face where there is
// none.
class PictureView : public QWidget {
  Q_OBJECT
 public:
  explicit PictureView(QWidget* parent = nullptr);
  void ShowPicture(const QImage& picture);
  void Clear() { ShowPicture(QImage()); }
  const QImage& picture() const { return picture_; }
  QRect PictureRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
};

class TransportButton : public QAbstractButton {
  Q_OBJECT
 public:
  enum class Face {
    kPlay,
    kPause,
    kStop,
    kForward,
    kRewind,
    kNext,
    kPrevious,
    kMarkIn,
    kMarkOut,
    kBegin,
    kEnd,
    kEject
  };
  // The text is the button's tool tip (and its name for tests).
  TransportButton(Face face, const QString& text, QWidget* parent = nullptr);
  void setFace(Face face);
  Face face() const { return face_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Face face_;
};

// The position track ("Thumb"): a click or drag moves the thumb; on release the frame under it
// is reported.
class PositionTrack : public QWidget {
  Q_OBJECT
 public:
  explicit PositionTrack(QWidget* parent = nullptr);
  void setFrameCount(std::int32_t count);
  void setPosition(std::int32_t frame);
  std::int32_t position() const { return position_; }
  QSize sizeHint() const override { return {200, 22}; }

 signals:
  void released(int frame);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  std::int32_t count_ = 0;
  std::int32_t position_ = 0;
  int dragX_ = -1;  // while the mouse holds the thumb
};

// The section bar ("SelectBar"): the marked sections, the pending in point and the highlighted
// section; clicks highlight a section and drags move an edge of the highlighted one. While a file
// is scanned it shows the scan's percentage instead.
class SectionBar : public QWidget {
  Q_OBJECT
 public:
  explicit SectionBar(const SectionMarks& marks, QWidget* parent = nullptr);
  void setFrameCount(std::int32_t count);
  void setHighlighted(int section);
  int highlighted() const { return highlighted_; }
  // The scan's progress in thousandths; -1 ends it.
  void setScanProgress(int thousandths);
  QString scanText() const;
  bool dragging() const { return drag_ != BarClick::Action::kClear; }
  QSize sizeHint() const override { return {200, 14}; }

 signals:
  void highlightChanged(int section);
  // While an edge is dragged: the frame under the pointer.
  void edgeDragged(int frame);
  // On release: the edge goes to the frame.
  void edgeDropped(int section, bool lastEdge, int frame);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  const SectionMarks& marks_;
  std::int32_t count_ = 0;
  int highlighted_ = -1;
  int scan_ = -1;
  BarClick::Action drag_ = BarClick::Action::kClear;
  int dragX_ = 0;
};

}  // namespace calvex::ui
