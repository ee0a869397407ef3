#include "ui/pages/audio_format_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSignalBlocker>

#include "media_library/media_library.h"
#include "ui/help.h"

namespace calvex::ui {
namespace {

constexpr int kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};

void Select(QComboBox* box, int value) {
  const int index = box->findData(value);
  box->setCurrentIndex(index >= 0 ? index : 0);
}

// Whether the AVI writer can make sound of this format, rate and channel count.
bool Writable(std::uint16_t tag, int samplesPerSec, int channels) {
  if (tag == kWaveFormatPcm) return true;
  return media::WaveFormatFor(tag, channels, samplesPerSec, media::CheckAudioDataType(tag))
             .blockAlign != 0;
}

QString ChannelsText(int n) {
  return n == 1 ? QStringLiteral("Mono") : QStringLiteral("Stereo");
}

}  // namespace

AudioFormatDialog::AudioFormatDialog(const WaveFormat& start, HelpSystem* help, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Audio Format"));
  format = new QComboBox(this);
  for (const media::AudioFormatEntry& f : media::myGetAcmFormat1())
    format->addItem(QString::fromStdString(f.name), f.formatTag);
  rate = new QComboBox(this);
  channels = new QComboBox(this);
  bits = new QComboBox(this);

  Select(format, start.formatTag);
  FillRates();
  Select(rate, static_cast<int>(start.samplesPerSec));
  FillChannels();
  Select(channels, start.channels);
  FillBits();
  Select(bits, start.bitsPerSample);
  connect(format, &QComboBox::currentIndexChanged, this, [this] {
    FillRates();
    FillChannels();
    FillBits();
  });
  connect(rate, &QComboBox::currentIndexChanged, this, [this] { FillChannels(); });

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  AddHelpButton(buttons, this, help, kHelpAudioFormat);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("&Format:"), format);
  form->addRow(QStringLiteral("&Sampling Rate:"), rate);
  form->addRow(QStringLiteral("&Channels:"), channels);
  form->addRow(QStringLiteral("Sample &Size:"), bits);
  form->addRow(buttons);
}

std::uint16_t AudioFormatDialog::Tag() const {
  return static_cast<std::uint16_t>(format->currentData().toUInt());
}

void AudioFormatDialog::FillRates() {
  const int kept = rate->currentData().toInt();
  const QSignalBlocker quiet(rate);
  rate->clear();
  for (const int hz : kRates) {
    if (Writable(Tag(), hz, 1) || Writable(Tag(), hz, 2))
      rate->addItem(QString::asprintf("%d.%03d kHz", hz / 1000, hz % 1000), hz);
  }
  Select(rate, kept);
}

void AudioFormatDialog::FillChannels() {
  const int kept = channels->currentData().toInt();
  const QSignalBlocker quiet(channels);
  channels->clear();
  for (const int n : {1, 2})
    if (Writable(Tag(), rate->currentData().toInt(), n)) channels->addItem(ChannelsText(n), n);
  Select(channels, kept);
}

// PCM in 8 or 16 bits; another format in the sample size of its own, none for GSM 6.10.
void AudioFormatDialog::FillBits() {
  const int kept = bits->currentData().toInt();
  const QSignalBlocker quiet(bits);
  bits->clear();
  if (Tag() == kWaveFormatPcm) {
    bits->addItem(QStringLiteral("8 Bits"), 8);
    bits->addItem(QStringLiteral("16 Bits"), 16);
  } else if (const int own = media::CheckAudioDataType(Tag()); own != 0) {
    bits->addItem(QStringLiteral("%1 Bits").arg(own), own);
  }
  bits->setEnabled(bits->count() > 1);
  Select(bits, kept);
}

WaveFormat AudioFormatDialog::Chosen() const {
  return media::WaveFormatFor(Tag(), channels->currentData().toInt(), rate->currentData().toInt(),
                              bits->count() > 0 ? bits->currentData().toInt() : 0);
}

}  // namespace calvex::ui
