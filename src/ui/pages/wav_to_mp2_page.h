// The "WAV --> MP&2" page: the audio layer, channels and bitrate of the selected WAV entries.
#pragma once

#include <QWidget>
#include <optional>

#include "core/settings.h"
#include "ui/pages/page_widgets.h"

class QButtonGroup;
class QLabel;
class QRadioButton;

namespace calvex::ui {

class WavToMp2Page : public QWidget {
  Q_OBJECT
 public:
  explicit WavToMp2Page(QWidget* parent = nullptr);

  // `stereo`: any selected WAV has more than one channel.
  void Fill(const WavToMp2Params& merged, bool stereo);
  std::optional<PageFailure> Read(WavToMp2Params& record) const;

  QRadioButton* layer1 = nullptr;       // 204
  QRadioButton* layer2 = nullptr;       // 205
  QRadioButton* stereo = nullptr;       // 207
  QRadioButton* jointStereo = nullptr;  // 208
  QLabel* bitrateLabel = nullptr;       // 250
  SpinField* bitrate = nullptr;         // 209 / 210

 private:
  QButtonGroup* layers_ = nullptr;
  QButtonGroup* channels_ = nullptr;
};

}  // namespace calvex::ui
