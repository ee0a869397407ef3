#include "ui/pages/audio_format_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>

#include "ui/help.h"

namespace calvex::ui {
namespace {

void Select(QComboBox* box, int value) {
  const int index = box->findData(value);
  box->setCurrentIndex(index >= 0 ? index : 0);
}

}  // namespace

AudioFormatDialog::AudioFormatDialog(const WaveFormat& start, HelpSystem* help, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Audio Format"));
  auto* format = new QComboBox(this);
  format->addItem(QStringLiteral("PCM"));
  rate = new QComboBox(this);
  for (int hz : {8000, 11025, 16000, 22050, 32000, 44100, 48000})
    rate->addItem(QString::asprintf("%d.%03d kHz", hz / 1000, hz % 1000), hz);
  channels = new QComboBox(this);
  channels->addItem(QStringLiteral("Mono"), 1);
  channels->addItem(QStringLiteral("Stereo"), 2);
  bits = new QComboBox(this);
  bits->addItem(QStringLiteral("8 Bits"), 8);
  bits->addItem(QStringLiteral("16 Bits"), 16);
  Select(rate, static_cast<int>(start.samplesPerSec));
  Select(channels, start.channels);
  Select(bits, start.bitsPerSample);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* helpButton = buttons->addButton(QStringLiteral("&Help"), QDialogButtonBox::HelpRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(helpButton, &QPushButton::clicked, this, [help, this] {
    if (help != nullptr) help->ShowTopic(612, this);
  });

  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("&Format:"), format);
  form->addRow(QStringLiteral("&Sampling Rate:"), rate);
  form->addRow(QStringLiteral("&Channels:"), channels);
  form->addRow(QStringLiteral("Sample &Size:"), bits);
  form->addRow(buttons);
}

WaveFormat AudioFormatDialog::Chosen() const {
  return MakePcmFormat(channels->currentData().toInt(), rate->currentData().toInt(),
                       bits->currentData().toInt());
}

}  // namespace calvex::ui
