// The status strip along the bottom of the main window: sunken text fields for the time code,
// the stage, the progress bar, the output size and the output frame rate.
#pragma once

#include <QWidget>

namespace calvex::ui {

// One sunken field ("3DText"). A field whose text is exactly "int" draws a progress bar with the
// percentage text of message 67 (the main window's bar) or 40 (any other bar).
class StatusCell : public QWidget {
  Q_OBJECT
 public:
  explicit StatusCell(const QString& text, QWidget* parent = nullptr);

  QString text() const { return text_; }
  void setText(const QString& text);

  // The bar value in thousandths (0..1000). Repaints only when the whole percent changes, or at 0.
  void setBarValue(int thousandths);
  int barValue() const { return value_; }
  bool isBar() const { return text_ == QLatin1String("int"); }
  // The text drawn over the bar for the current value.
  QString barText() const;
  void setMainBar(bool main) { mainBar_ = main; }
  // How many times the bar was repainted for a value change (tests read it).
  int barRepaints() const { return barRepaints_; }

 signals:
  void infoClicked();  // a left click on a field whose text is "info"

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QString text_;
  int value_ = -1;
  int drawnValue_ = -1;
  int barRepaints_ = 0;
  bool mainBar_ = false;
};

class StatusStrip : public QWidget {
  Q_OBJECT
 public:
  explicit StatusStrip(QWidget* parent = nullptr);

  static constexpr int kHeight = 22;

  StatusCell* time = nullptr;       // 10
  StatusCell* stage = nullptr;      // 11
  StatusCell* bar = nullptr;        // 12
  StatusCell* frameRate = nullptr;  // 14
  StatusCell* frameSize = nullptr;  // 15
  StatusCell* wideTime = nullptr;   // 16, normally hidden

  // Shows the time and stage fields, hides the wide time field and empties every text.
  void Reset();

 protected:
  void resizeEvent(QResizeEvent* event) override;
};

}  // namespace calvex::ui
