// The audio format chooser of the "&Audio..." button: the PCM format of the AVI's sound.
#pragma once

#include <QDialog>

#include "engine/wave_format.h"

class QComboBox;

namespace calvex::ui {

class HelpSystem;

class AudioFormatDialog : public QDialog {
  Q_OBJECT
 public:
  AudioFormatDialog(const WaveFormat& start, HelpSystem* help, QWidget* parent = nullptr);

  WaveFormat Chosen() const;

  QComboBox* rate = nullptr;
  QComboBox* channels = nullptr;
  QComboBox* bits = nullptr;
};

}  // namespace calvex::ui
