#include "ui/pages/avi_to_mpeg_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>

#include "ui/pages/field_rules.h"
#include "ui/user_dialogs.h"

namespace calvex::ui {
namespace {

QLabel* Buddy(const QString& text, QWidget* field, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(field);
  return label;
}

}  // namespace

AviToMpegPage::AviToMpegPage(QWidget* parent) : QWidget(parent) {
  auto* video = new QGroupBox(QStringLiteral("Video"), this);
  frameRate = new QComboBox(video);
  for (const FrameRateRow& row : FrameRateTable) frameRate->addItem(Message(row.textMessage));
  keepAspect = new QCheckBox(QStringLiteral("&Keep Aspect Ratio"), video);
  width = new SpinField(video, 3);
  height = new SpinField(video, 3);
  dataRate = new SpinField(video, 3);
  videoCd = new QCheckBox(QStringLiteral("&Video CD"), video);

  auto* vg = new QGridLayout(video);
  vg->addWidget(Buddy(QStringLiteral("&Frame Rate:"), frameRate, video), 0, 0);
  vg->addWidget(frameRate, 0, 1, 1, 2);
  vg->addWidget(keepAspect, 1, 0, 1, 3);
  vg->addWidget(Buddy(QStringLiteral("&Width:"), width->edit(), video), 2, 0);
  vg->addWidget(width, 2, 1);
  vg->addWidget(Buddy(QStringLiteral("&Height:"), height->edit(), video), 3, 0);
  vg->addWidget(height, 3, 1);
  vg->addWidget(Buddy(QStringLiteral("&Data Transfer Rate:"), dataRate->edit(), video), 4, 0);
  vg->addWidget(dataRate, 4, 1);
  vg->addWidget(new QLabel(QStringLiteral("KB/Sec"), video), 4, 2);
  vg->addWidget(videoCd, 5, 0, 1, 3);

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
  bitrateLabel = Buddy(BitrateLabelText(kMixedValue), bitrate->edit(), audio);

  auto* ag = new QGridLayout(audio);
  ag->addWidget(layerBox, 0, 0, 1, 3);
  ag->addWidget(channelBox, 1, 0, 1, 3);
  ag->addWidget(bitrateLabel, 2, 0);
  ag->addWidget(bitrate, 2, 1);
  ag->addWidget(new QLabel(QStringLiteral("KBits/Sec"), audio), 2, 2);

  auto* row = new QHBoxLayout(this);
  row->addWidget(video);
  row->addWidget(audio);

  connect(layers_, &QButtonGroup::idClicked, this,
          [this](int id) { bitrateLabel->setText(BitrateLabelText(id)); });
  connect(keepAspect, &QCheckBox::clicked, this, [this](bool on) { keepAspectFlag_ = on; });
  connect(videoCd, &QCheckBox::clicked, this, [this](bool on) {
    videoCd->setTristate(false);
    ShowVideoCd(on);
  });
  connect(width, &SpinField::textEdited, this, [this] { LinkSize(width); });
  connect(height, &SpinField::textEdited, this, [this] { LinkSize(height); });
  connect(width, &SpinField::stepped, this, [this](int d) {
    width->setValue(StepAviSize(width->value(), d));
    LinkSize(width);
  });
  connect(height, &SpinField::stepped, this, [this](int d) {
    height->setValue(StepAviSize(height->value(), d));
    LinkSize(height);
  });
  connect(dataRate, &SpinField::stepped, this,
          [this](int d) { dataRate->setValue(StepAviDataRate(dataRate->value(), d)); });
  connect(bitrate, &SpinField::stepped, this, [this](int d) {
    bitrate->setValue(StepBitrate(bitrate->value(), CheckedRadio(layers_), d));
  });
}

void AviToMpegPage::LinkSize(SpinField* edited) {
  if (updating_ || !keepAspect->isChecked()) return;
  const bool isWidth = edited == width;
  SpinField* other = isWidth ? height : width;
  const std::int32_t refThis = isWidth ? flags_.referenceWidth : flags_.referenceHeight;
  const std::int32_t refOther = isWidth ? flags_.referenceHeight : flags_.referenceWidth;
  const std::int32_t linked = LinkedSize(edited->value(), refThis, refOther);
  if (linked == kMixedValue) return;
  updating_ = true;
  other->setValue(linked);
  updating_ = false;
}

void AviToMpegPage::UpdateAudioEnabling() {
  const bool open = videoCd->checkState() != Qt::Checked;
  for (QWidget* w : std::initializer_list<QWidget*>{layer1, layer2, bitrate, bitrateLabel})
    w->setEnabled(flags_.hasAudio && open);
  const bool channels = flags_.hasAudio && flags_.stereo && open;
  stereo->setEnabled(channels);
  jointStereo->setEnabled(channels);
}

void AviToMpegPage::ShowFields(const AviToMpegParams& p) {
  frameRate->setCurrentIndex(p.frameRateIndex >= 0 && p.frameRateIndex < 5 ? p.frameRateIndex : -1);
  updating_ = true;
  width->setValue(p.width);
  height->setValue(p.height);
  updating_ = false;
  dataRate->setValue(p.dataRateKBps);
  CheckRadio(layers_, p.audioLayer);
  bitrateLabel->setText(BitrateLabelText(p.audioLayer));
  CheckRadio(channels_, p.jointStereo);
  bitrate->setValue(p.audioBitrateKbps);
}

void AviToMpegPage::ShowVideoCd(bool on) {
  if (on) {
    AviToMpegParams cd;
    ApplyVideoCdFormat(cd, flags_.packedRate);
    if (flags_.ratesDiffer) cd.frameRateIndex = cd.height = kMixedValue;
    ShowFields(cd);
  }
  for (QWidget* w : std::initializer_list<QWidget*>{frameRate, width, height, dataRate})
    w->setEnabled(!on);
  keepAspect->setEnabled(!on && !flags_.aspectDiffers);
  UpdateAudioEnabling();
}

void AviToMpegPage::Fill(const AviToMpegParams& p, const AviPageFlags& flags) {
  flags_ = flags;
  if (flags.aspectDiffers) {
    keepAspect->setEnabled(false);
    keepAspect->setChecked(false);
  } else {
    keepAspect->setEnabled(true);
    keepAspect->setChecked(keepAspectFlag_);
  }
  ShowFields(p);
  videoCd->setTristate(p.videoCd == kMixedValue);
  videoCd->setCheckState(p.videoCd == kMixedValue ? Qt::PartiallyChecked
                         : p.videoCd == 1         ? Qt::Checked
                                                  : Qt::Unchecked);
  ShowVideoCd(p.videoCd == 1);
}

std::optional<PageFailure> AviToMpegPage::Read(AviToMpegParams& r) const {
  r.frameRateIndex = frameRate->currentIndex() < 0 ? kMixedValue : frameRate->currentIndex();
  r.width = width->value();
  r.height = height->value();
  r.dataRateKBps = dataRate->value();
  r.audioLayer = CheckedRadio(layers_);
  r.jointStereo = CheckedRadio(channels_);
  r.audioBitrateKbps = bitrate->value();
  r.videoCd = videoCd->checkState() == Qt::PartiallyChecked ? kMixedValue
              : videoCd->isChecked()                        ? 1
                                                            : 0;
  const auto error = ValidateAviToMpeg(r);
  if (!error) return std::nullopt;
  QWidget* control = bitrate;
  if (error->field == "width") control = width;
  if (error->field == "height") control = height;
  if (error->field == "dataRateKBps") control = dataRate;
  return PageFailure{*error, control};
}

}  // namespace calvex::ui
