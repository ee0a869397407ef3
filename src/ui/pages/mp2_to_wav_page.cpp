#include "ui/pages/mp2_to_wav_page.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cstring>
#include <set>

#include "media_library/media_library.h"
#include "ui/pages/field_rules.h"
#include "ui/user_dialogs.h"

namespace calvex::ui {
namespace {

constexpr int kUserRate = 0;   // button id of "&User Defined:"
constexpr int kOtherBits = 0;  // button id of the third sample-size button

}  // namespace

Mp2ToWavPage::Mp2ToWavPage(QWidget* parent) : QWidget(parent) {
  // The formats the WAV writer can make on this machine, and the sample sizes they suggest
  // besides 8 and 16 bits for the list of the third sample-size button.
  scheme = new QComboBox(this);
  std::set<std::int32_t> otherSizes;
  for (const media::AudioFormatEntry& f : media::myGetAcmFormat1()) {
    scheme->addItem(QString::fromStdString(f.name), f.formatTag);
    const std::int32_t bits = media::CheckAudioDataType(f.formatTag);
    if (bits != 0 && bits != 8 && bits != 16) otherSizes.insert(bits);
  }
  auto* schemeLabel = new QLabel(QStringLiteral("&Compression Scheme:"), this);
  schemeLabel->setBuddy(scheme);

  auto* rateBox = new QGroupBox(QStringLiteral("Sampling Rate"), this);
  rate11 = new QRadioButton(QStringLiteral("&11.025 kHz"), rateBox);
  rate22 = new QRadioButton(QStringLiteral("&22.05 kHz"), rateBox);
  rate44 = new QRadioButton(QStringLiteral("&44.1 kHz"), rateBox);
  rateUser = new QRadioButton(QStringLiteral("&User Defined:"), rateBox);
  userRate = new QLineEdit(rateBox);
  userRate->setMaxLength(6);
  userRate->setFixedWidth(56);
  auto* rg = new QGridLayout(rateBox);
  rg->addWidget(rate11, 0, 0);
  rg->addWidget(rate22, 1, 0);
  rg->addWidget(rate44, 2, 0);
  rg->addWidget(rateUser, 3, 0);
  rg->addWidget(userRate, 3, 1);
  rg->addWidget(new QLabel(QStringLiteral("kHz"), rateBox), 3, 2);

  auto* channelBox = new QGroupBox(QStringLiteral("Channels"), this);
  mono = new QRadioButton(QStringLiteral("&Mono"), channelBox);
  stereo = new QRadioButton(QStringLiteral("&Stereo"), channelBox);
  auto* cl = new QVBoxLayout(channelBox);
  cl->addWidget(mono);
  cl->addWidget(stereo);
  cl->addStretch();

  auto* bitsBox = new QGroupBox(QStringLiteral("Sample Size"), this);
  bits8 = new QRadioButton(QStringLiteral("&8-bits"), bitsBox);
  bits16 = new QRadioButton(QStringLiteral("1&6-bits"), bitsBox);
  bitsOther = new QRadioButton(QStringLiteral("&Other:"), bitsBox);
  otherBits = new QComboBox(bitsBox);
  for (const std::int32_t bits : otherSizes)
    otherBits->addItem(QStringLiteral("%1-bits").arg(bits), bits);
  bitsOther->setEnabled(otherBits->count() > 0);
  auto* bl = new QGridLayout(bitsBox);
  bl->addWidget(bits8, 0, 0);
  bl->addWidget(bits16, 1, 0);
  bl->addWidget(bitsOther, 2, 0);
  bl->addWidget(otherBits, 2, 1);

  auto* grid = new QGridLayout(this);
  auto* schemeRow = new QHBoxLayout;
  schemeRow->addWidget(schemeLabel);
  schemeRow->addWidget(scheme);
  schemeRow->addStretch();
  grid->addLayout(schemeRow, 0, 0, 1, 3);
  grid->addWidget(rateBox, 1, 0);
  grid->addWidget(channelBox, 1, 1);
  grid->addWidget(bitsBox, 1, 2);

  rates_ = new QButtonGroup(this);
  rates_->addButton(rate11, 11025);
  rates_->addButton(rate22, 22050);
  rates_->addButton(rate44, 44100);
  rates_->addButton(rateUser, kUserRate);
  channels_ = new QButtonGroup(this);
  channels_->addButton(mono, 1);
  channels_->addButton(stereo, 2);
  bits_ = new QButtonGroup(this);
  bits_->addButton(bits8, 8);
  bits_->addButton(bits16, 16);
  bits_->addButton(bitsOther, kOtherBits);

  connect(rates_, &QButtonGroup::idClicked, this, [this](int id) {
    userRate->setEnabled(id == kUserRate);
    if (id == kUserRate) {
      userRate->setFocus();
      userRate->selectAll();
    }
  });
  connect(bits_, &QButtonGroup::idClicked, this,
          [this](int id) { otherBits->setEnabled(id == kOtherBits); });
  connect(scheme, &QComboBox::activated, this, &Mp2ToWavPage::SchemeChosen);
}

void Mp2ToWavPage::SetBits(std::int32_t bits) {
  if (bits == 8 || bits == 16 || bits == kMixedValue16 || bits == kMixedValue || bits == 0) {
    // 0: the format has no sample size of its own (GSM 6.10); no button is checked.
    CheckRadio(bits_, bits == 8 || bits == 16 ? bits : kMixedValue);
  } else {
    const int index = otherBits->findData(bits);
    if (index >= 0) otherBits->setCurrentIndex(index);
    CheckRadio(bits_, index >= 0 ? kOtherBits : kMixedValue);
  }
  otherBits->setEnabled(CheckedRadio(bits_) == kOtherBits);
}

void Mp2ToWavPage::SchemeChosen(int index) {
  if (index < 0) return;
  SetBits(media::CheckAudioDataType(static_cast<std::uint16_t>(scheme->itemData(index).toUInt())));
}

void Mp2ToWavPage::Fill(const Mp2ToWavParams& p) {
  const WaveFormat f = p.Format();
  // A mixed tag shows as PCM; an unknown one selects the first scheme.
  const std::uint16_t tag = f.formatTag == kMixedValue16 ? kWaveFormatPcm : f.formatTag;
  const int index = scheme->findData(tag);
  scheme->setCurrentIndex(index >= 0 ? index : 0);

  const auto rate = f.samplesPerSec;
  userRate->clear();
  if (rate == static_cast<std::uint32_t>(kMixedValue)) {
    CheckRadio(rates_, kMixedValue);
  } else if (rate == 11025 || rate == 22050 || rate == 44100) {
    CheckRadio(rates_, static_cast<std::int32_t>(rate));
  } else {
    CheckRadio(rates_, kUserRate);
    userRate->setText(QString::asprintf("%u.%03u", rate / 1000, rate % 1000));
  }
  userRate->setEnabled(CheckedRadio(rates_) == kUserRate);
  CheckRadio(channels_, f.channels == kMixedValue16 ? kMixedValue : f.channels);
  SetBits(f.bitsPerSample);
}

std::optional<PageFailure> Mp2ToWavPage::Read(Mp2ToWavParams& r) const {
  WaveFormat f = r.Format();
  f.formatTag = static_cast<std::uint16_t>(scheme->currentData().toUInt());
  const std::int32_t rateChoice = CheckedRadio(rates_);
  std::int32_t userHz = kMixedValue;
  if (rateChoice == kUserRate) {
    userHz = ParseThousandthsField(userRate->text());   // kHz with three decimals = Hz
    if (userHz == kMixedValue) userHz = kInvalidField;  // the chosen field left blank
    if (const auto error = ValidateMp2ToWav(userHz)) return PageFailure{*error, userRate};
    f.samplesPerSec = static_cast<std::uint32_t>(userHz);
  } else if (rateChoice != kMixedValue) {
    f.samplesPerSec = static_cast<std::uint32_t>(rateChoice);
  }
  const std::int32_t channels = CheckedRadio(channels_);
  if (channels != kMixedValue) f.channels = static_cast<std::uint16_t>(channels);
  const std::int32_t bits = CheckedRadio(bits_);
  if (bits == kOtherBits) {
    f.bitsPerSample = static_cast<std::uint16_t>(otherBits->currentData().toInt());
  } else if (bits != kMixedValue) {
    f.bitsPerSample = static_cast<std::uint16_t>(bits);
  } else if (media::CheckAudioDataType(f.formatTag) == 0) {
    f.bitsPerSample = 0;  // a format without a sample size of its own
  }
  // A format whose values are all known carries the writer's alignment and byte rate.
  const auto mixed32 = static_cast<std::uint32_t>(kMixedValue);
  if (f.channels != kMixedValue16 && f.samplesPerSec != mixed32 &&
      f.bitsPerSample != kMixedValue16) {
    const WaveFormat written = media::WaveFormatFor(
        f.formatTag, f.channels, static_cast<int>(f.samplesPerSec), f.bitsPerSample);
    f.blockAlign = written.blockAlign;
    f.avgBytesPerSec = written.avgBytesPerSec;
  }
  std::memcpy(r.format.data(), &f, sizeof f);
  return std::nullopt;
}

}  // namespace calvex::ui
