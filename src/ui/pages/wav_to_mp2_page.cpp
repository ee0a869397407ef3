#include "ui/pages/wav_to_mp2_page.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>

#include "ui/pages/field_rules.h"

namespace calvex::ui {

WavToMp2Page::WavToMp2Page(QWidget* parent) : QWidget(parent) {
  auto* audio = new QGroupBox(QStringLiteral("Audio"), this);
  const MpegAudioChoices choices = BuildMpegAudioChoices(audio, this);
  QGroupBox* layerBox = choices.layerBox;
  QGroupBox* channelBox = choices.channelBox;
  layer1 = choices.layer1;
  layer2 = choices.layer2;
  stereo = choices.stereo;
  jointStereo = choices.jointStereo;
  layers_ = choices.layers;
  channels_ = choices.channels;
  bitrate = new SpinField(audio, 3);
  bitrateLabel = new QLabel(BitrateLabelText(kMixedValue), audio);
  bitrateLabel->setBuddy(bitrate->edit());

  auto* grid = new QGridLayout(audio);
  grid->addWidget(layerBox, 0, 0, 1, 3);
  grid->addWidget(channelBox, 0, 3, 1, 3);
  grid->addWidget(bitrateLabel, 1, 0);
  grid->addWidget(bitrate, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("KBits/Sec"), audio), 1, 2);
  grid->setColumnStretch(5, 1);
  auto* outer = new QHBoxLayout(this);
  outer->addWidget(audio);

  connect(layers_, &QButtonGroup::idClicked, this,
          [this](int id) { bitrateLabel->setText(BitrateLabelText(id)); });
  connect(bitrate, &SpinField::stepped, this, [this](int d) {
    bitrate->setValue(StepBitrate(bitrate->value(), CheckedRadio(layers_), d));
  });
}

void WavToMp2Page::Fill(const WavToMp2Params& p, bool isStereo) {
  CheckRadio(layers_, p.audioLayer);
  bitrateLabel->setText(BitrateLabelText(p.audioLayer));
  CheckRadio(channels_, p.jointStereo);
  stereo->setEnabled(isStereo);
  jointStereo->setEnabled(isStereo);
  bitrate->setValue(p.audioBitrateKbps);
}

std::optional<PageFailure> WavToMp2Page::Read(WavToMp2Params& r) const {
  r.audioLayer = CheckedRadio(layers_);
  r.jointStereo = CheckedRadio(channels_);
  r.audioBitrateKbps = bitrate->value();
  if (const auto error = ValidateWavToMp2(r)) return PageFailure{*error, bitrate};
  return std::nullopt;
}

}  // namespace calvex::ui
