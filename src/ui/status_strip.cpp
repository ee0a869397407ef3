#include "ui/status_strip.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/user_dialogs.h"

namespace calvex::ui {

StatusCell::StatusCell(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void StatusCell::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  drawnValue_ = -1;
  update();
}

void StatusCell::setBarValue(int thousandths) {
  value_ = thousandths;
  if (!isBar()) return;
  if (thousandths / 10 == drawnValue_ / 10 && thousandths != 0 && drawnValue_ >= 0) return;
  drawnValue_ = thousandths;
  ++barRepaints_;
  update();
}

QString StatusCell::barText() const {
  const std::string format(Message(mainBar_ ? 67 : 40).toStdString());
  return QString::asprintf(format.c_str(), std::max(value_, 0) / 10, '%');
}

void StatusCell::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  p.fillRect(rect(), pal.color(QPalette::Button));
  // Sunken frame: dark top and left, light bottom and right, inset by 2 pixels.
  const QRect r = rect().adjusted(2, 2, -3, -3);
  p.setPen(pal.color(QPalette::Dark));
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(pal.color(QPalette::Light));
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());

  if (!isBar()) {
    p.setPen(pal.color(QPalette::ButtonText));
    p.drawText(r.adjusted(4, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
               text_);
    return;
  }
  const int value = std::clamp(value_, 0, 1000);
  const QRect inner(6, 3, std::max(width() - 11, 0), std::max(height() - 5, 0));
  const int fill = static_cast<int>((width() - 10) * value * 0.001);
  const QRect filled(inner.left(), inner.top(), std::min(fill, inner.width()), inner.height());
  QFont font = p.font();
  font.setPixelSize(12);
  p.setFont(font);
  const QColor fillColour = pal.color(QPalette::Highlight);
  // The text in black over the empty part and inverted over the filled part.
  p.setPen(Qt::black);
  p.drawText(inner.adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, barText());
  p.fillRect(filled, fillColour);
  p.setClipRect(filled);
  p.setPen(pal.color(QPalette::HighlightedText));
  p.drawText(inner.adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, barText());
}

void StatusCell::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && text_ == QLatin1String("info")) emit infoClicked();
  QWidget::mousePressEvent(event);
}

StatusStrip::StatusStrip(QWidget* parent) : QWidget(parent) {
  time = new StatusCell(QStringLiteral("Time"), this);
  stage = new StatusCell(QStringLiteral("Track"), this);
  bar = new StatusCell(QStringLiteral("Bar"), this);
  frameRate = new StatusCell(QStringLiteral("Frm Rate"), this);
  frameSize = new StatusCell(QStringLiteral("Frm Size"), this);
  wideTime = new StatusCell(QStringLiteral("Time"), this);
  bar->setMainBar(true);
  wideTime->hide();
  setFixedHeight(kHeight);
}

void StatusStrip::Reset() {
  time->show();
  stage->show();
  wideTime->hide();
  for (StatusCell* f : {time, stage, bar, frameSize, frameRate}) f->setText(QString());
}

void StatusStrip::resizeEvent(QResizeEvent*) {
  const int w = width();
  time->setGeometry(0, 0, 86, kHeight);
  stage->setGeometry(86, 0, 90, kHeight);
  wideTime->setGeometry(0, 0, 176, kHeight);
  bar->setGeometry(176, 0, std::max(w - 334, 0), kHeight);
  frameSize->setGeometry(w - 158, 0, 80, kHeight);
  frameRate->setGeometry(w - 78, 0, 78, kHeight);
  time->show();
}

}  // namespace calvex::ui
