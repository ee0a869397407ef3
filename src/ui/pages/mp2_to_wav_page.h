// The "MP2 --> &WAV" page: the format of the WAV files made from the selected MP2 entries
// (compression scheme, sampling rate, channels, sample size).
#pragma once

#include <QWidget>
#include <optional>

#include "core/settings.h"
#include "ui/pages/page_widgets.h"

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace calvex::ui {

class Mp2ToWavPage : public QWidget {
  Q_OBJECT
 public:
  explicit Mp2ToWavPage(QWidget* parent = nullptr);

  void Fill(const Mp2ToWavParams& merged);
  std::optional<PageFailure> Read(Mp2ToWavParams& record) const;

  QComboBox* scheme = nullptr;        // 403
  QRadioButton* rate11 = nullptr;     // 405
  QRadioButton* rate22 = nullptr;     // 406
  QRadioButton* rate44 = nullptr;     // 407
  QRadioButton* rateUser = nullptr;   // 408
  QLineEdit* userRate = nullptr;      // 409, kHz
  QRadioButton* mono = nullptr;       // 412
  QRadioButton* stereo = nullptr;     // 413
  QRadioButton* bits8 = nullptr;      // 415
  QRadioButton* bits16 = nullptr;     // 416
  QRadioButton* bitsOther = nullptr;  // 417
  QComboBox* otherBits = nullptr;     // 418

 private:
  void SchemeChosen(int index);
  void SetBits(std::int32_t bits);

  QButtonGroup* rates_ = nullptr;
  QButtonGroup* channels_ = nullptr;
  QButtonGroup* bits_ = nullptr;
};

}  // namespace calvex::ui
