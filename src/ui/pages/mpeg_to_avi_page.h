// The "MPEG --> A&VI" page: frame rate, picture size, interleaving, target drive and data rate,
// and the audio format of the AVIs made from the selected MPEG entries.
#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <optional>

#include "core/settings.h"
#include "ui/pages/page_widgets.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace calvex::ui {

struct MpegPageFlags {
  bool noAudio = true;         // no selected MPEG file has sound
  bool aspectDiffers = false;  // the pictures' width : height differ
  std::int32_t referenceWidth = 0;
  std::int32_t referenceHeight = 0;
};

class MpegToAviPage : public QWidget {
  Q_OBJECT
 public:
  explicit MpegToAviPage(QWidget* parent = nullptr);

  void Fill(const MpegToAviParams& merged, const MpegPageFlags& flags);
  // The audio format goes into the record only when one was chosen with "&Audio..." since the
  // last Fill.
  std::optional<PageFailure> Read(MpegToAviParams& record) const;

  // Asks the user for an audio format, starting from the given one; true when one was chosen.
  // The program sets it to the audio format dialog; tests set their own.
  std::function<bool(WaveFormat&)> chooseAudioFormat;
  // Shows the video compression dialog on a copy of the page's record; true (with the copy
  // changed) on "OK". The program sets it; tests set their own.
  std::function<bool(MpegToAviParams&)> chooseCompression;

  SpinField* frameRate = nullptr;      // 303 / 304
  QCheckBox* keepAspect = nullptr;     // 306
  SpinField* width = nullptr;          // 308 / 309
  SpinField* height = nullptr;         // 311 / 312
  QCheckBox* interleave = nullptr;     // 313
  QLabel* packLabel = nullptr;         // 314
  SpinField* packEvery = nullptr;      // 315 / 316
  QLabel* framesLabel = nullptr;       // 317
  QComboBox* targetDrive = nullptr;    // 319
  QCheckBox* limitDataRate = nullptr;  // 320
  SpinField* dataRate = nullptr;       // 321 / 322
  QLabel* dataRateUnit = nullptr;      // 323
  QCheckBox* padFrames = nullptr;      // 324
  QPushButton* audioButton = nullptr;  // 325
  QPushButton* videoButton = nullptr;  // 326

 private:
  void LinkSize(SpinField* edited);
  void DriveChosen(int choice);
  void UpdateDriveEnabling();

  MpegPageFlags flags_;
  MpegToAviParams compression_{};  // the video compression fields, as Fill gave or the dialog set
  std::array<std::uint8_t, 512> audioFormat_{};
  bool audioFormatChosen_ = false;
  bool keepAspectFlag_ = false;
  bool updating_ = false;
};

}  // namespace calvex::ui
