// The audio format chooser of the "&Audio..." button: the format of the AVI's sound, from the
// formats the AVI writer can make on this machine, with the sampling rates, channels and sample
// sizes each of them takes.
#pragma once

#include <QDialog>

#include "core/wave_format.h"

class QComboBox;

namespace calvex::ui {

class HelpSystem;

class AudioFormatDialog : public QDialog {
  Q_OBJECT
 public:
  AudioFormatDialog(const WaveFormat& start, HelpSystem* help, QWidget* parent = nullptr);

  // The chosen format with the writer's block alignment and byte rate.
  WaveFormat Chosen() const;

  QComboBox* format = nullptr;
  QComboBox* rate = nullptr;
  QComboBox* channels = nullptr;
  QComboBox* bits = nullptr;

 private:
  std::uint16_t Tag() const;
  // Rebuild the lists below a choice, keeping the values chosen so far where they still apply.
  void FillRates();
  void FillChannels();
  void FillBits();
};

}  // namespace calvex::ui
