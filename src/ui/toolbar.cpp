#include "ui/toolbar.h"

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOption>

namespace calvex::ui {

ToolBarButton::ToolBarButton(Face face, const QString& text, QWidget* parent)
    : QAbstractButton(parent), face_(face) {
  setText(text);
  setFixedSize(sizeHint());
  setFocusPolicy(Qt::NoFocus);
  setMouseTracking(true);
  tipTimer_.setInterval(kTipTickMs);
  connect(&tipTimer_, &QTimer::timeout, this, &ToolBarButton::Tick);
}

bool ToolBarButton::tipVisible() const {
  return tip_ && tip_->isVisible();
}

QString ToolBarButton::tipText() const {
  return tip_ ? tip_->text() : QString();
}

void ToolBarButton::enterEvent(QEnterEvent* event) {
  QAbstractButton::enterEvent(event);
  const bool allowed = !tipsAllowed || tipsAllowed();
  if (!allowed || isDown() || QApplication::mouseButtons() != Qt::NoButton ||
      !window()->isActiveWindow())
    return;
  ticks_ = 0;
  tipTimer_.start();
}

void ToolBarButton::leaveEvent(QEvent* event) {
  HideTip();
  QAbstractButton::leaveEvent(event);
}

void ToolBarButton::mousePressEvent(QMouseEvent* event) {
  HideTip();
  QAbstractButton::mousePressEvent(event);
}

void ToolBarButton::mouseMoveEvent(QMouseEvent* event) {
  if (!rect().contains(event->position().toPoint())) HideTip();
  QAbstractButton::mouseMoveEvent(event);
}

void ToolBarButton::Tick() {
  if (++ticks_ < kTipTicks) return;
  tipTimer_.stop();
  if (!tip_) {
    tip_ = new QLabel(text(), nullptr, Qt::ToolTip);
    tip_->setAttribute(Qt::WA_DeleteOnClose);
    QFont font = tip_->font();
    font.setPixelSize(12);
    tip_->setFont(font);
    tip_->setAlignment(Qt::AlignCenter);
    tip_->setStyleSheet(QStringLiteral(
        "QLabel { background: rgb(255,255,128); color: black; border: 1px solid black; }"));
  }
  const QSize extent = tip_->fontMetrics().size(Qt::TextSingleLine, text());
  tip_->resize(extent.width() + 10, extent.height() + 6);
  tip_->move(QCursor::pos() + QPoint(10, 10));
  tip_->show();
  tip_->raise();
}

void ToolBarButton::HideTip() {
  tipTimer_.stop();
  ticks_ = 0;
  if (tip_) tip_->close();
}

void ToolBarButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QPalette& pal = palette();
  const bool down = isDown();
  p.fillRect(rect(), pal.color(QPalette::Button));
  // Raised (up) or sunken (down) bevel.
  const QRect r = rect().adjusted(0, 0, -1, -1);
  p.setPen(down ? pal.color(QPalette::Dark) : pal.color(QPalette::Light));
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(down ? pal.color(QPalette::Light) : pal.color(QPalette::Shadow));
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
  const int shift = down ? 1 : 0;
  const QRect face(shift + 17, shift + 4, 24, 22);
  if (isEnabled()) {
    p.save();  // the faces set their own pens and fonts
    DrawFace(p, face);
    p.restore();
  } else {
    // Greyed as the style greys a disabled icon.
    QPixmap colour(face.size() * devicePixelRatio());
    colour.setDevicePixelRatio(devicePixelRatio());
    colour.fill(Qt::transparent);
    QPainter fp(&colour);
    fp.setRenderHint(QPainter::Antialiasing);
    DrawFace(fp, QRect(QPoint(0, 0), face.size()));
    fp.end();
    QStyleOption option;
    option.initFrom(this);
    p.drawPixmap(face.topLeft(), style()->generatedIconPixmap(QIcon::Disabled, colour, &option));
  }
  QFont font = p.font();
  font.setPixelSize(10);
  p.setFont(font);
  p.setPen(isEnabled() ? pal.color(QPalette::ButtonText) : pal.color(QPalette::Mid));
  p.drawText(QRect(shift, shift + 27, width(), 13), Qt::AlignCenter, text());
}

void ToolBarButton::DrawFace(QPainter& p, const QRect& a) const {
  switch (face_) {
    case Face::kConvert: {
      // A film strip turning into an arrow.
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(40, 40, 40));
      p.drawRect(a.left(), a.top() + 3, 10, 16);
      p.setBrush(Qt::white);
      for (int y = a.top() + 5; y < a.top() + 18; y += 4) {
        p.drawRect(a.left() + 1, y, 2, 2);
        p.drawRect(a.left() + 7, y, 2, 2);
      }
      QPainterPath arrow;
      arrow.moveTo(a.left() + 11, a.top() + 8);
      arrow.lineTo(a.left() + 17, a.top() + 8);
      arrow.lineTo(a.left() + 17, a.top() + 3);
      arrow.lineTo(a.right(), a.top() + 11);
      arrow.lineTo(a.left() + 17, a.top() + 19);
      arrow.lineTo(a.left() + 17, a.top() + 14);
      arrow.lineTo(a.left() + 11, a.top() + 14);
      arrow.closeSubpath();
      p.setBrush(QColor(20, 130, 40));
      p.drawPath(arrow);
      break;
    }
    case Face::kHelp: {
      p.setPen(QPen(QColor(20, 60, 160), 1.5));
      p.setBrush(QColor(230, 240, 255));
      p.drawEllipse(a.adjusted(1, 0, -1, 0));
      QFont font = p.font();
      font.setPixelSize(16);
      font.setBold(true);
      p.setFont(font);
      p.drawText(a, Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
    case Face::kExit: {
      // A door, half open.
      p.setPen(QPen(QColor(60, 40, 20), 1));
      p.setBrush(QColor(120, 80, 40));
      p.drawRect(a.left() + 4, a.top() + 1, 16, 20);
      QPolygon leaf;
      leaf << QPoint(a.left() + 4, a.top() + 1) << QPoint(a.left() + 13, a.top() + 4)
           << QPoint(a.left() + 13, a.top() + 24) << QPoint(a.left() + 4, a.top() + 21);
      p.setBrush(QColor(200, 150, 90));
      p.drawPolygon(leaf);
      p.setBrush(Qt::black);
      p.drawEllipse(QPoint(a.left() + 11, a.top() + 13), 1, 1);
      break;
    }
  }
}

ToolBarLogo::ToolBarLogo(QWidget* parent) : QWidget(parent) {
  setFixedSize(69, 35);
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ToolBarLogo::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, height());
  g.setColorAt(0, QColor(30, 60, 140));
  g.setColorAt(1, QColor(10, 20, 60));
  p.setBrush(g);
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(rect().adjusted(0, 0, -1, -1), 4, 4);
  QFont font = p.font();
  font.setPixelSize(15);
  font.setBold(true);
  font.setItalic(true);
  p.setFont(font);
  p.setPen(QColor(255, 210, 60));
  p.drawText(rect().adjusted(0, -6, 0, 0), Qt::AlignCenter, QStringLiteral("Calvex"));
  font.setPixelSize(8);
  font.setItalic(false);
  font.setBold(false);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(rect().adjusted(0, 18, 0, 0), Qt::AlignCenter, QStringLiteral("MPEG-1"));
}

}  // namespace calvex::ui
