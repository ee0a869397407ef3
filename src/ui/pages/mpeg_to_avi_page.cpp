#include "ui/pages/mpeg_to_avi_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <cstring>

#include "ui/pages/field_rules.h"
#include "ui/user_dialogs.h"

namespace calvex::ui {
namespace {

constexpr int kCustomDrive = 6;

QLabel* Buddy(const QString& text, QWidget* field, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(field);
  return label;
}

std::int32_t PackedThousandths(std::int32_t packed) {
  if (packed == kMixedValue) return kMixedValue;
  const auto u = static_cast<std::uint32_t>(packed);
  const std::uint32_t scale = u & 0xFFFF;
  if (scale == 0) return kMixedValue;
  return static_cast<std::int32_t>(static_cast<std::uint64_t>(u >> 16) * 1000 / scale);
}

}  // namespace

MpegToAviPage::MpegToAviPage(QWidget* parent) : QWidget(parent) {
  auto* video = new QGroupBox(QStringLiteral("Video"), this);
  frameRate = new SpinField(video, 6);
  keepAspect = new QCheckBox(QStringLiteral("&Keep Aspect Ratio"), video);
  width = new SpinField(video, 3);
  height = new SpinField(video, 3);
  videoButton = new QPushButton(QStringLiteral("&Video..."), video);
  auto* vg = new QGridLayout(video);
  vg->addWidget(Buddy(QStringLiteral("&Frame Rate:"), frameRate->edit(), video), 0, 0);
  vg->addWidget(frameRate, 0, 1);
  vg->addWidget(new QLabel(QStringLiteral("Frames/Sec"), video), 0, 2);
  vg->addWidget(keepAspect, 1, 0, 1, 3);
  vg->addWidget(Buddy(QStringLiteral("&Width:"), width->edit(), video), 2, 0);
  vg->addWidget(width, 2, 1);
  vg->addWidget(Buddy(QStringLiteral("&Height:"), height->edit(), video), 3, 0);
  vg->addWidget(height, 3, 1);
  vg->addWidget(videoButton, 4, 0, 1, 2);

  auto* output = new QGroupBox(QStringLiteral("Output"), this);
  interleave = new QCheckBox(QStringLiteral("&Interleave Audio and Video"), output);
  packEvery = new SpinField(output, 2);
  packLabel = Buddy(QStringLiteral("&Pack Audio Data for Every:"), packEvery->edit(), output);
  framesLabel = new QLabel(QStringLiteral("Frames"), output);
  targetDrive = new QComboBox(output);
  for (int id = 91; id <= 97; ++id) targetDrive->addItem(Message(id));
  limitDataRate = new QCheckBox(QStringLiteral("&Data Transfer Rate:"), output);
  dataRate = new SpinField(output, 4);
  dataRateUnit = new QLabel(QStringLiteral("KB/Sec"), output);
  padFrames = new QCheckBox(QStringLiteral("&Pad Frames for CD-ROM"), output);
  audioButton = new QPushButton(QStringLiteral("&Audio..."), output);
  auto* og = new QGridLayout(output);
  og->addWidget(interleave, 0, 0, 1, 3);
  og->addWidget(packLabel, 1, 0);
  og->addWidget(packEvery, 1, 1);
  og->addWidget(framesLabel, 1, 2);
  og->addWidget(Buddy(QStringLiteral("&Target Playback Drive:"), targetDrive, output), 2, 0);
  og->addWidget(targetDrive, 2, 1, 1, 2);
  og->addWidget(limitDataRate, 3, 0);
  og->addWidget(dataRate, 3, 1);
  og->addWidget(dataRateUnit, 3, 2);
  og->addWidget(padFrames, 4, 0, 1, 2);
  og->addWidget(audioButton, 4, 2);

  auto* row = new QHBoxLayout(this);
  row->addWidget(video);
  row->addWidget(output, 1);

  connect(keepAspect, &QCheckBox::clicked, this, [this](bool on) { keepAspectFlag_ = on; });
  connect(width, &SpinField::textEdited, this, [this] { LinkSize(width); });
  connect(height, &SpinField::textEdited, this, [this] { LinkSize(height); });
  connect(width, &SpinField::stepped, this, [this](int d) {
    width->setValue(StepInRange(width->value(), d, 64, 640));
    LinkSize(width);
  });
  connect(height, &SpinField::stepped, this, [this](int d) {
    height->setValue(StepInRange(height->value(), d, 64, 480));
    LinkSize(height);
  });
  connect(frameRate, &SpinField::stepped, this, [this](int d) {
    frameRate->setText(
        ThousandthsText(StepMpegFrameRate(ParseThousandthsField(frameRate->text()), d)));
  });
  connect(packEvery, &SpinField::stepped, this,
          [this](int d) { packEvery->setValue(StepInRange(packEvery->value(), d, 1, 30)); });
  connect(dataRate, &SpinField::stepped, this,
          [this](int d) { dataRate->setValue(StepInRange(dataRate->value(), d, 10, 600)); });
  connect(targetDrive, &QComboBox::activated, this, &MpegToAviPage::DriveChosen);
  connect(limitDataRate, &QCheckBox::clicked, this, [this] { UpdateDriveEnabling(); });
  connect(videoButton, &QPushButton::clicked, this, [this] {
    MpegToAviParams copy = compression_;
    if (chooseCompression && chooseCompression(copy)) compression_ = copy;
  });
  connect(audioButton, &QPushButton::clicked, this, [this] {
    WaveFormat f;
    std::memcpy(&f, audioFormat_.data(), sizeof f);
    if (f.formatTag == kMixedValue16 || f.channels == kMixedValue16 ||
        f.samplesPerSec == static_cast<std::uint32_t>(kMixedValue) ||
        f.bitsPerSample == kMixedValue16)
      f = MakePcmFormat(1, 11025, 8);
    if (!chooseAudioFormat || !chooseAudioFormat(f)) return;
    audioFormat_.fill(0);
    std::memcpy(audioFormat_.data(), &f, sizeof f);
    audioFormatChosen_ = true;
  });
}

void MpegToAviPage::LinkSize(SpinField* edited) {
  if (updating_ || !keepAspect->isChecked()) return;
  const bool isWidth = edited == width;
  SpinField* other = isWidth ? height : width;
  const std::int32_t linked =
      LinkedSize(edited->value(), isWidth ? flags_.referenceWidth : flags_.referenceHeight,
                 isWidth ? flags_.referenceHeight : flags_.referenceWidth);
  if (linked == kMixedValue) return;
  updating_ = true;
  other->setValue(linked);
  updating_ = false;
}

void MpegToAviPage::DriveChosen(int choice) {
  dataRate->setValue(TargetDriveDataRate(choice, std::max(dataRate->value(), 0)));
  if (choice != kCustomDrive) limitDataRate->setChecked(true);
  UpdateDriveEnabling();
}

void MpegToAviPage::UpdateDriveEnabling() {
  const int drive = targetDrive->currentIndex();
  const bool custom = drive < 0 || drive == kCustomDrive;  // a mixed drive counts as custom
  limitDataRate->setEnabled(custom);
  const bool rateEditable = custom && limitDataRate->isChecked();
  dataRate->setEnabled(rateEditable);
  dataRateUnit->setEnabled(rateEditable);
  padFrames->setEnabled(custom || drive >= 3);
}

void MpegToAviPage::Fill(const MpegToAviParams& p, const MpegPageFlags& flags) {
  flags_ = flags;
  frameRate->setText(ThousandthsText(PackedThousandths(p.frameRatePacked)));
  if (flags.aspectDiffers) {
    keepAspect->setEnabled(false);
    keepAspect->setChecked(false);
  } else {
    keepAspect->setEnabled(true);
    keepAspect->setChecked(keepAspectFlag_);
  }
  updating_ = true;
  width->setValue(p.width);
  height->setValue(p.height);
  updating_ = false;
  interleave->setTristate(p.interleave == kMixedValue);
  interleave->setCheckState(p.interleave == kMixedValue ? Qt::PartiallyChecked
                            : p.interleave != 0         ? Qt::Checked
                                                        : Qt::Unchecked);
  packEvery->setValue(p.packEveryFrames);
  targetDrive->setCurrentIndex(p.targetDrive >= 0 && p.targetDrive <= 6 ? p.targetDrive : -1);
  limitDataRate->setChecked(p.limitDataRate == 1 ||
                            (p.targetDrive != kCustomDrive && p.targetDrive != kMixedValue));
  dataRate->setValue(p.dataRateKBps);
  padFrames->setTristate(p.padFramesForCdRom == kMixedValue);
  padFrames->setCheckState(p.padFramesForCdRom == kMixedValue ? Qt::PartiallyChecked
                           : p.padFramesForCdRom != 0         ? Qt::Checked
                                                              : Qt::Unchecked);
  compression_ = p;
  audioFormat_ = p.audioFormat;
  audioFormatChosen_ = false;

  for (QWidget* w :
       std::initializer_list<QWidget*>{interleave, packLabel, packEvery, framesLabel, audioButton})
    w->setEnabled(!flags.noAudio);
  UpdateDriveEnabling();
}

std::optional<PageFailure> MpegToAviPage::Read(MpegToAviParams& r) const {
  const std::int32_t rate = ParseThousandthsField(frameRate->text());
  r.frameRateMilli = rate;
  if (rate == kMixedValue || rate == kInvalidField) {
    r.frameRateScale = kMixedValue;
    r.frameRatePacked = kMixedValue;
  } else {
    r.frameRateScale = 1000;
    r.frameRatePacked = static_cast<std::int32_t>((static_cast<std::uint32_t>(rate) << 16) | 1000u);
  }
  r.width = width->value();
  r.height = height->value();
  const auto tri = [](const QCheckBox* box) {
    return box->checkState() == Qt::PartiallyChecked ? kMixedValue : (box->isChecked() ? 1 : 0);
  };
  r.interleave = tri(interleave);
  r.packEveryFrames = packEvery->value();
  const int drive = targetDrive->currentIndex();
  r.targetDrive = drive < 0 ? kMixedValue : drive;
  r.dataRateKBps = dataRate->value();
  if (drive >= 0 && drive < kCustomDrive) {
    r.limitDataRate = 1;
  } else if (drive == kCustomDrive) {
    r.limitDataRate = limitDataRate->isChecked() ? 1 : 0;
  }
  r.padFramesForCdRom = tri(padFrames);
  r.compressor = compression_.compressor;
  r.quality = compression_.quality;
  r.keyFrameEvery = compression_.keyFrameEvery;
  r.dataType = compression_.dataType;
  r.paletteChoice = compression_.paletteChoice;
  r.useCommonPalette = compression_.useCommonPalette;
  if (audioFormatChosen_) {
    r.audioFormat = audioFormat_;
  } else {
    WaveFormat mixed;
    mixed.formatTag = kMixedValue16;
    r.SetAudioFormat(mixed);
  }

  const auto error = ValidateMpegToAvi(r);
  if (!error) return std::nullopt;
  QWidget* control = dataRate;
  if (error->field == "frameRateMilli") control = frameRate;
  if (error->field == "width") control = width;
  if (error->field == "height") control = height;
  if (error->field == "packEveryFrames") control = packEvery;
  return PageFailure{*error, control};
}

}  // namespace calvex::ui
