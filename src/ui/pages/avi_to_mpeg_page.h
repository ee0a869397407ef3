// The "AVI --> MPE&G" page: frame rate, picture size, data rate and the audio layer, channels and
// bitrate of the selected AVI entries.
#pragma once

#include <QWidget>
#include <optional>

#include "core/settings.h"
#include "ui/pages/page_widgets.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;

namespace calvex::ui {

// What the page needs to know of the selection besides the merged record.
struct AviPageFlags {
  bool hasAudio = false;            // any selected AVI has sound
  bool stereo = false;              // any selected AVI's sound has more than one channel
  bool aspectDiffers = false;       // the pictures' width : height differ
  std::int32_t referenceWidth = 0;  // picture size of the first selected AVI
  std::int32_t referenceHeight = 0;
  std::uint32_t packedRate = 0;  // frame rate of the first selected AVI
  bool ratesDiffer = false;      // the selected AVIs' frame rates differ
};

class AviToMpegPage : public QWidget {
  Q_OBJECT
 public:
  explicit AviToMpegPage(QWidget* parent = nullptr);

  void Fill(const AviToMpegParams& merged, const AviPageFlags& flags);
  // The page's values over `record` (the merged record of the last Fill); the first failed
  // check, if any.
  std::optional<PageFailure> Read(AviToMpegParams& record) const;

  QComboBox* frameRate = nullptr;       // 103
  QCheckBox* keepAspect = nullptr;      // 104
  SpinField* width = nullptr;           // 106 / 107
  SpinField* height = nullptr;          // 109 / 110
  SpinField* dataRate = nullptr;        // 113 / 114
  QRadioButton* layer1 = nullptr;       // 125
  QRadioButton* layer2 = nullptr;       // 126
  QRadioButton* stereo = nullptr;       // 128
  QRadioButton* jointStereo = nullptr;  // 129
  QLabel* bitrateLabel = nullptr;       // 130
  SpinField* bitrate = nullptr;         // 131 / 132
  // A Video CD stream: fills in its format and locks the fields that it fixes.
  QCheckBox* videoCd = nullptr;

 private:
  void LinkSize(SpinField* edited);
  void UpdateAudioEnabling();
  // The record's values in the fields (blank where mixed).
  void ShowFields(const AviToMpegParams& p);
  // Checked: the Video CD's values (blank where the selection's frame rates differ) and the
  // fields locked; unchecked: the fields open again.
  void ShowVideoCd(bool on);

  QButtonGroup* layers_ = nullptr;
  QButtonGroup* channels_ = nullptr;
  AviPageFlags flags_;
  bool keepAspectFlag_ = false;  // kept while the program runs, not saved
  bool updating_ = false;        // the program itself writes a width or height
};

}  // namespace calvex::ui
