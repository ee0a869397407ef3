#include "ui/player/player_widgets.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace calvex::ui {
namespace {

// A raised or sunken bevel over the button face colour.
void DrawBevel(QPainter& p, const QRect& area, const QPalette& pal, bool sunken) {
  p.fillRect(area, pal.color(QPalette::Button));
  const QRect r = area.adjusted(0, 0, -1, -1);
  p.setPen(sunken ? pal.color(QPalette::Dark) : pal.color(QPalette::Light));
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(sunken ? pal.color(QPalette::Light) : pal.color(QPalette::Shadow));
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
}

// A triangle pointing right (or left) in the box.
void Triangle(QPainterPath& path, const QRectF& box, bool right) {
  if (right) {
    path.moveTo(box.left(), box.top());
    path.lineTo(box.right(), box.center().y());
    path.lineTo(box.left(), box.bottom());
  } else {
    path.moveTo(box.right(), box.top());
    path.lineTo(box.left(), box.center().y());
    path.lineTo(box.right(), box.bottom());
  }
  path.closeSubpath();
}

}  // namespace

// --- PictureView ---------------------------------------------------------------------------

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::ShowPicture(const QImage& picture) {
  picture_ = picture;
  update();
}

QRect PictureView::PictureRect() const {
  const QRect inner = rect().adjusted(1, 1, -1, -1);
  if (picture_.isNull() || inner.isEmpty()) return {};
  const QSize size = picture_.size().scaled(inner.size(), Qt::KeepAspectRatio);
  return QRect(inner.x() + (inner.width() - size.width()) / 2,
               inner.y() + (inner.height() - size.height()) / 2, size.width(), size.height());
}

void PictureView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  if (picture_.isNull()) {
    p.fillRect(rect(), pal.color(QPalette::Button));
  } else {
    p.fillRect(rect(), Qt::black);
    p.setRenderHint(QPainter::SmoothPixmapTransform, picture_.width() < width());
    p.drawImage(PictureRect(), picture_);
  }
  p.setPen(pal.color(QPalette::Dark));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

// --- TransportButton -----------------------------------------------------------------------

TransportButton::TransportButton(Face face, const QString& text, QWidget* parent)
    : QAbstractButton(parent), face_(face) {
  setText(text);
  setAccessibleName(text);
  setFocusPolicy(Qt::TabFocus);
  setFixedSize(sizeHint());
}

void TransportButton::setFace(Face face) {
  face_ = face;
  update();
}

QSize TransportButton::sizeHint() const {
  switch (face_) {
    case Face::kPlay:
    case Face::kPause:
      return {42, 28};
    case Face::kMarkIn:
    case Face::kMarkOut:
      return {19, 28};
    default:
      return {26, 28};
  }
}

void TransportButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QPalette& pal = palette();
  DrawBevel(p, rect(), pal, isDown() || isChecked());
  const qreal shift = isDown() ? 1 : 0;
  const QColor ink = isEnabled() ? pal.color(QPalette::ButtonText) : pal.color(QPalette::Mid);
  const QPointF c = QRectF(rect()).center() + QPointF(shift, shift);
  QPainterPath path;
  const auto box = [&](qreal dx, qreal w, qreal h = 10) {
    return QRectF(c.x() + dx, c.y() - h / 2, w, h);
  };
  switch (face_) {
    case Face::kPlay:
      Triangle(path, box(-4, 9), true);
      break;
    case Face::kPause:
      path.addRect(box(-5, 3));
      path.addRect(box(2, 3));
      break;
    case Face::kStop:
      path.addRect(box(-4, 8, 8));
      break;
    case Face::kForward:
      Triangle(path, box(-7, 7), true);
      Triangle(path, box(0, 7), true);
      break;
    case Face::kRewind:
      Triangle(path, box(-7, 7), false);
      Triangle(path, box(0, 7), false);
      break;
    case Face::kNext:
      Triangle(path, box(-5, 7), true);
      path.addRect(box(3, 2));
      break;
    case Face::kPrevious:
      path.addRect(box(-5, 2));
      Triangle(path, box(-2, 7), false);
      break;
    case Face::kBegin:
      path.addRect(box(-8, 2));
      Triangle(path, box(-5, 6), false);
      Triangle(path, box(1, 6), false);
      break;
    case Face::kEnd:
      Triangle(path, box(-7, 6), true);
      Triangle(path, box(-1, 6), true);
      path.addRect(box(6, 2));
      break;
    case Face::kMarkIn:
    case Face::kMarkOut: {
      // A bracket opening towards the marked frames.
      const bool in = face_ == Face::kMarkIn;
      const qreal x = in ? c.x() - 3 : c.x() + 1;
      path.addRect(QRectF(x, c.y() - 7, 2, 14));
      path.addRect(QRectF(in ? x : x - 3, c.y() - 7, 5, 2));
      path.addRect(QRectF(in ? x : x - 3, c.y() + 5, 5, 2));
      p.fillPath(path, isEnabled() ? QColor(180, 20, 20) : ink);
      return;
    }
    case Face::kEject: {
      QPainterPath up;
      up.moveTo(c.x() - 6, c.y() + 1);
      up.lineTo(c.x(), c.y() - 6);
      up.lineTo(c.x() + 6, c.y() + 1);
      up.closeSubpath();
      path.addPath(up);
      path.addRect(QRectF(c.x() - 6, c.y() + 3, 12, 3));
      break;
    }
  }
  p.fillPath(path, ink);
}

// --- PositionTrack -------------------------------------------------------------------------

PositionTrack::PositionTrack(QWidget* parent) : QWidget(parent) {
  setMinimumHeight(22);
}

void PositionTrack::setFrameCount(std::int32_t count) {
  count_ = count;
  update();
}

void PositionTrack::setPosition(std::int32_t frame) {
  if (frame == position_) return;
  position_ = frame;
  if (dragX_ < 0) update();
}

void PositionTrack::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  p.fillRect(rect(), pal.color(QPalette::Button));
  const int mid = height() / 2;
  // The groove, sunken.
  p.setPen(pal.color(QPalette::Dark));
  p.drawLine(kTrackInset, mid - 1, width() - kTrackInset, mid - 1);
  p.setPen(pal.color(QPalette::Light));
  p.drawLine(kTrackInset, mid + 1, width() - kTrackInset, mid + 1);
  const int x = dragX_ >= 0 ? std::clamp(dragX_, kTrackInset, width() - kTrackInset)
                            : TrackX(position_, width(), count_);
  DrawBevel(p, QRect(x - 5, mid - 8, 11, 16), pal, false);
}

void PositionTrack::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !isEnabled()) return;
  dragX_ = event->position().toPoint().x();
  update();
}

void PositionTrack::mouseMoveEvent(QMouseEvent* event) {
  if (dragX_ < 0) return;
  dragX_ = event->position().toPoint().x();
  update();
}

void PositionTrack::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || dragX_ < 0) return;
  const std::int32_t frame = TrackFrameAt(event->position().toPoint().x(), width(), count_);
  dragX_ = -1;
  position_ = frame;
  update();
  emit released(frame);
}

// --- SectionBar ----------------------------------------------------------------------------

SectionBar::SectionBar(const SectionMarks& marks, QWidget* parent)
    : QWidget(parent), marks_(marks) {
  setMinimumHeight(14);
}

void SectionBar::setFrameCount(std::int32_t count) {
  count_ = count;
  update();
}

void SectionBar::setHighlighted(int section) {
  highlighted_ = section;
  update();
}

void SectionBar::setScanProgress(int thousandths) {
  scan_ = thousandths;
  update();
}

QString SectionBar::scanText() const {
  return scan_ < 0 ? QString() : QString::asprintf("%2d%c", scan_ / 10, '%');
}

void SectionBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  const QRect inner = rect().adjusted(1, 1, -1, -1);
  p.fillRect(rect(), pal.color(QPalette::Base));
  p.setPen(pal.color(QPalette::Dark));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  if (scan_ >= 0) {
    p.fillRect(QRect(inner.x(), inner.y(), inner.width() * std::clamp(scan_, 0, 1000) / 1000,
                     inner.height()),
               pal.color(QPalette::Highlight));
    p.setPen(pal.color(QPalette::Text));
    p.drawText(inner, Qt::AlignCenter, scanText());
    return;
  }
  const auto& sections = marks_.sections();
  for (int i = 0; i < static_cast<int>(sections.size()); ++i) {
    int x1 = inner.x() + BarX(sections[i].first, inner.width(), count_);
    int x2 = inner.x() + BarX(sections[i].last, inner.width(), count_);
    // The dragged edge follows the pointer.
    if (i == highlighted_ && drag_ == BarClick::Action::kDragFirst) x1 = inner.x() + dragX_;
    if (i == highlighted_ && drag_ == BarClick::Action::kDragLast) x2 = inner.x() + dragX_;
    if (x2 < x1) std::swap(x1, x2);
    const QRect r(x1, inner.y(), std::max(x2 - x1, 1) + 1, inner.height());
    if (i == highlighted_) {
      p.fillRect(r, QColor(230, 160, 20));
      p.fillRect(QRect(x1, inner.y(), 2, inner.height()), QColor(120, 60, 0));
      p.fillRect(QRect(r.right() - 1, inner.y(), 2, inner.height()), QColor(120, 60, 0));
    } else {
      p.fillRect(r, QColor(40, 90, 200));
    }
  }
  if (const auto in = marks_.pendingIn()) {
    const int x = inner.x() + BarX(*in, inner.width(), count_);
    p.fillRect(QRect(x, inner.y(), 2, inner.height()), QColor(200, 20, 20));
  }
}

void SectionBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || scan_ >= 0 || count_ <= 0) return;
  const int x = event->position().toPoint().x() - 1;
  const BarClick click = ClickOnBar(x, width() - 2, count_, marks_, highlighted_);
  if (click.action == BarClick::Action::kDragFirst || click.action == BarClick::Action::kDragLast) {
    drag_ = click.action;
    dragX_ = x;
    setCursor(Qt::SizeHorCursor);
    return;
  }
  setHighlighted(click.section);
  emit highlightChanged(click.section);
}

void SectionBar::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging()) return;
  dragX_ = std::clamp(event->position().toPoint().x() - 1, 0, width() - 2);
  update();
  emit edgeDragged(BarFrameAt(dragX_, width() - 2, count_));
}

void SectionBar::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !dragging()) return;
  const bool last = drag_ == BarClick::Action::kDragLast;
  drag_ = BarClick::Action::kClear;
  unsetCursor();
  const int x = std::clamp(event->position().toPoint().x() - 1, 0, width() - 2);
  const int section = highlighted_;
  highlighted_ = -1;
  update();
  emit edgeDropped(section, last, BarFrameAt(x, width() - 2, count_));
}

}  // namespace calvex::ui
