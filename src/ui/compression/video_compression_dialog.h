// The "Video Compression" dialog ("COMPRESSION") of the MPEG to AVI page's "&Video...": the codec
// the AVI writer uses, its quality, key frame interval and data type, and for 8-bit output the
// common palette. The codecs and their defaults and capabilities come from the media layer.
#pragma once

#include <QDialog>

#include "core/settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollBar;

namespace calvex::ui {

class HelpSystem;
class SpinField;

class VideoCompressionDialog : public QDialog {
  Q_OBJECT
 public:
  VideoCompressionDialog(const MpegToAviParams& record, HelpSystem* help,
                         QWidget* parent = nullptr);

  // The record with the choices written in once "OK" was accepted (as given before that).
  const MpegToAviParams& chosen() const { return record_; }

  QComboBox* codecList = nullptr;          // 551
  QScrollBar* quality = nullptr;           // 552
  QLabel* qualityNumber = nullptr;         // 553
  QPushButton* configureButton = nullptr;  // 565
  QPushButton* aboutButton = nullptr;      // 569
  SpinField* keyFrame = nullptr;           // 554 / 555
  QComboBox* dataTypeList = nullptr;       // 558
  QCheckBox* useCommonPalette = nullptr;   // 567
  QComboBox* paletteList = nullptr;        // 568
  QPushButton* okButton = nullptr;
  QPushButton* cancelButton = nullptr;
  QPushButton* helpButton = nullptr;  // 570

 private:
  void CodecChosen();
  void FillDataTypes(std::int32_t current);
  void DataTypeChosen();
  void UpdatePaletteEnabling();
  void ShowQuality(int value);
  void ShowAbout();
  void Confirm();

  MpegToAviParams record_;
  std::int32_t dataType_ = 24;
};

}  // namespace calvex::ui
