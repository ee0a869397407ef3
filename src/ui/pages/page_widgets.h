// Small widgets shared by the parameter pages.
#pragma once

#include <QLineEdit>
#include <QWidget>
#include <cstdint>

class QToolButton;

namespace calvex::ui {

// A text field with an up-down spin beside it. The spin (or the Up and Down keys in the field)
// only reports the step; the page decides the new value, since each field has its own rule.
class SpinField : public QWidget {
  Q_OBJECT
 public:
  explicit SpinField(QWidget* parent = nullptr, int maxLength = 6);

  QLineEdit* edit() const { return edit_; }
  QString text() const { return edit_->text(); }
  // Sets the text as the program (no textEdited signal).
  void setText(const QString& text) { edit_->setText(text); }
  std::int32_t value() const;         // ParseIntField of the text
  void setValue(std::int32_t value);  // blank for kMixedValue
  void setEnabled(bool enabled);

  QToolButton* upButton() const { return up_; }
  QToolButton* downButton() const { return down_; }

 signals:
  void stepped(int direction);  // +1 up, -1 down
  void textEdited(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* edit_;
  QToolButton* up_;
  QToolButton* down_;
};

}  // namespace calvex::ui

#include <optional>

#include "core/settings.h"

class QButtonGroup;
class QGroupBox;
class QRadioButton;

namespace calvex::ui {

// A failed check of a page: the message to show and the control that gets the focus.
struct PageFailure {
  ValidationError error;
  QWidget* control = nullptr;
};

// Checks the button of `id` in an exclusive group, or none for kMixedValue.
void CheckRadio(QButtonGroup* group, std::int32_t id);
// The id of the checked button, or kMixedValue when none is.
std::int32_t CheckedRadio(const QButtonGroup* group);

// The Layer and Channels boxes of the pages that code MPEG audio, with their exclusive groups:
// layers by number (1, 2), channels 0 = stereo, 1 = joint stereo.
struct MpegAudioChoices {
  QGroupBox* layerBox;
  QGroupBox* channelBox;
  QRadioButton* layer1;
  QRadioButton* layer2;
  QRadioButton* stereo;
  QRadioButton* jointStereo;
  QButtonGroup* layers;
  QButtonGroup* channels;
};
// Builds them inside `audio`; the groups belong to `page`.
MpegAudioChoices BuildMpegAudioChoices(QWidget* audio, QWidget* page);

// The label of the bitrate field for a layer (Layer I or mixed: 32-448, Layer II: 32-384).
QString BitrateLabelText(std::int32_t layer);

}  // namespace calvex::ui
