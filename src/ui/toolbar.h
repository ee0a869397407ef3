// The toolbar: "Convert", "Help" and "Exit" buttons with their tool tips, and the inert logo.
#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QTimer>
#include <functional>

class QLabel;

namespace calvex::ui {

class ToolBarButton : public QAbstractButton {
  Q_OBJECT
 public:
  enum class Face { kConvert, kHelp, kExit };
  ToolBarButton(Face face, const QString& text, QWidget* parent = nullptr);

  QSize sizeHint() const override { return {58, 42}; }

  // Whether tips may show now (the "ToolTip" preference); set by the main window.
  std::function<bool()> tipsAllowed;
  bool tipVisible() const;
  QString tipText() const;

  static constexpr int kTipTickMs = 100;
  static constexpr int kTipTicks = 8;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void DrawFace(QPainter& p, const QRect& area) const;
  void Tick();
  void HideTip();

  Face face_;
  QTimer tipTimer_;
  int ticks_ = 0;
  QPointer<QLabel> tip_;
};

// The logo at the right end of the toolbar (69 x 35 pixels); it never reacts.
class ToolBarLogo : public QWidget {
  Q_OBJECT
 public:
  explicit ToolBarLogo(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace calvex::ui
