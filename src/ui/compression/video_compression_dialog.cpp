#include "ui/compression/video_compression_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "media_library/media_library.h"
#include "ui/help.h"
#include "ui/pages/field_rules.h"
#include "ui/pages/page_widgets.h"
#include "ui/user_dialogs.h"

namespace calvex::ui {
namespace {

constexpr int kMinKeyFrameEvery = 1;
constexpr int kMaxKeyFrameEvery = 999;

// Four-character codes are the same codec whatever their letter case.
bool SameHandler(std::int32_t a, std::int32_t b) {
  return (static_cast<std::uint32_t>(a) | 0x20202020u) ==
         (static_cast<std::uint32_t>(b) | 0x20202020u);
}

QLabel* Buddy(const QString& text, QWidget* field, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(field);
  return label;
}

}  // namespace

VideoCompressionDialog::VideoCompressionDialog(const MpegToAviParams& record, HelpSystem* help,
                                               QWidget* parent)
    : QDialog(parent), record_(record) {
  setWindowTitle(QStringLiteral("Video Compression"));
  codecList = new QComboBox(this);
  quality = new QScrollBar(Qt::Horizontal, this);
  quality->setRange(1, 100);
  quality->setSingleStep(1);
  quality->setPageStep(10);
  quality->setTracking(false);  // a dragged thumb counts when it is let go
  quality->setMinimumWidth(160);
  qualityNumber = new QLabel(this);
  qualityNumber->setMinimumWidth(
      qualityNumber->fontMetrics().horizontalAdvance(QStringLiteral("100")));
  qualityNumber->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  configureButton = new QPushButton(QStringLiteral("C&onfigure..."), this);
  aboutButton = new QPushButton(QStringLiteral("&About..."), this);
  keyFrame = new SpinField(this, 4);  // room to type 1000, which OK refuses
  dataTypeList = new QComboBox(this);
  useCommonPalette = new QCheckBox(QStringLiteral("&Use Common Palette"), this);
  paletteList = new QComboBox(this);
  for (int message : {26, 27, 28}) paletteList->addItem(Message(message));
  for (QPushButton* b : {configureButton, aboutButton}) b->setAutoDefault(false);

  auto* grid = new QGridLayout;
  grid->addWidget(Buddy(QStringLiteral("&Compression Scheme:"), codecList, this), 0, 0);
  grid->addWidget(codecList, 0, 1, 1, 3);
  grid->addWidget(Buddy(QStringLiteral("&Quality:"), quality, this), 1, 0);
  grid->addWidget(quality, 1, 1, 1, 2);
  grid->addWidget(qualityNumber, 1, 3);
  grid->addWidget(Buddy(QStringLiteral("&Key Frame for Every:"), keyFrame->edit(), this), 2, 0);
  auto* keyRow = new QHBoxLayout;
  keyRow->addWidget(keyFrame);
  keyRow->addWidget(new QLabel(QStringLiteral("Frames"), this));
  keyRow->addStretch();
  grid->addLayout(keyRow, 2, 1, 1, 3);
  grid->addWidget(Buddy(QStringLiteral("&Data Type:"), dataTypeList, this), 3, 0);
  grid->addWidget(dataTypeList, 3, 1, 1, 3);
  grid->addWidget(useCommonPalette, 4, 0);
  grid->addWidget(paletteList, 4, 1);
  grid->setColumnStretch(2, 1);
  auto* side = new QVBoxLayout;
  side->addWidget(configureButton);
  side->addWidget(aboutButton);
  side->addStretch();
  auto* top = new QHBoxLayout;
  top->addLayout(grid, 1);
  top->addSpacing(8);
  top->addLayout(side);

  auto* buttons = new QDialogButtonBox(this);
  okButton = buttons->addButton(QDialogButtonBox::Ok);
  cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
  helpButton = AddHelpButton(buttons, this, help, kHelpVideoCompression);
  okButton->setDefault(true);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addSpacing(6);
  layout->addWidget(buttons);

  connect(okButton, &QPushButton::clicked, this, &VideoCompressionDialog::Confirm);
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(aboutButton, &QPushButton::clicked, this, &VideoCompressionDialog::ShowAbout);
  connect(quality, &QScrollBar::valueChanged, this, &VideoCompressionDialog::ShowQuality);
  connect(keyFrame, &SpinField::stepped, this, [this](int d) {
    keyFrame->setValue(StepInRange(keyFrame->value(), d, kMinKeyFrameEvery, kMaxKeyFrameEvery));
  });
  connect(useCommonPalette, &QCheckBox::toggled, this,
          &VideoCompressionDialog::UpdatePaletteEnabling);

  // The codec list with the record's codec, and that codec's defaults and enabling; the record's
  // own values then take the defaults' place.
  std::vector<media::VideoCodecEntry> codecs;
  const int selected = media::aviListCodec(record.compressor, codecs);
  for (const media::VideoCodecEntry& c : codecs)
    codecList->addItem(QString::fromStdString(c.name), c.handler);
  codecList->setCurrentIndex(selected);
  CodecChosen();
  connect(codecList, &QComboBox::currentIndexChanged, this, &VideoCompressionDialog::CodecChosen);

  // A quality of 0 (or a mixed one) asks for the codec's default, which stays.
  if (record.quality > 0) ShowQuality(std::clamp(record.quality / 100, 1, 100));
  keyFrame->setValue(record.keyFrameEvery == kMixedValue ? 1 : record.keyFrameEvery);
  const bool sameCodec = SameHandler(media::aviCodecGetID(selected), record.compressor) ||
                         (selected == 0 && record.compressor == 0);
  FillDataTypes(sameCodec ? record.dataType : kMixedValue);
  paletteList->setCurrentIndex(record.paletteChoice >= 0 &&
                                       record.paletteChoice < paletteList->count()
                                   ? record.paletteChoice
                                   : 0);
  useCommonPalette->setChecked(record.useCommonPalette == 1);
  DataTypeChosen();
  connect(dataTypeList, &QComboBox::currentIndexChanged, this,
          &VideoCompressionDialog::DataTypeChosen);
  CentreOnDesktop(this);
}

void VideoCompressionDialog::FillDataTypes(std::int32_t current) {
  std::vector<media::DataTypeEntry> types;
  dataType_ = media::aviListOutputFormat(codecList->currentData().toInt(), current, types);
  QSignalBlocker quiet(dataTypeList);
  dataTypeList->clear();
  for (const media::DataTypeEntry& t : types) {
    dataTypeList->addItem(QString::fromStdString(t.name), t.dataType);
    if (t.dataType == dataType_) dataTypeList->setCurrentIndex(dataTypeList->count() - 1);
  }
}

void VideoCompressionDialog::CodecChosen() {
  FillDataTypes(dataType_);
  const int index = codecList->currentIndex();
  const bool real = index > 0;
  std::int32_t defaultQuality = 0, defaultKeys = 1;
  std::uint32_t flags = 0;
  bool canConfigure = false, hasAbout = false;
  if (media::aviGetQKFCA(index, defaultQuality, defaultKeys, flags, canConfigure, hasAbout) != kOk)
    flags = 0;
  ShowQuality(real ? std::clamp(defaultQuality / 100, 1, 100) : 100);
  keyFrame->setValue(real ? defaultKeys : 1);

  const bool qualityOn = real && (flags & media::kCodecSupportsQuality) != 0;
  quality->setEnabled(qualityOn);
  qualityNumber->setEnabled(qualityOn);
  keyFrame->setEnabled(real && (flags & media::kCodecSupportsTemporal) != 0);
  configureButton->setEnabled(real && canConfigure);
  aboutButton->setEnabled(real && hasAbout);
  UpdatePaletteEnabling();
}

void VideoCompressionDialog::DataTypeChosen() {
  const int codec = codecList->currentIndex();
  const int type = dataTypeList->currentIndex();
  if (codec >= 0 && type >= 0) dataType_ = media::aviTranslateOutputFormat(codec, type);
  UpdatePaletteEnabling();
}

void VideoCompressionDialog::UpdatePaletteEnabling() {
  const bool eightBit = dataType_ == media::kOutputDataType8;
  useCommonPalette->setEnabled(eightBit);
  paletteList->setEnabled(eightBit && useCommonPalette->isChecked());
}

void VideoCompressionDialog::ShowQuality(int value) {
  value = std::clamp(value, 1, 100);
  if (quality->value() != value) quality->setValue(value);
  qualityNumber->setText(QString::number(value));
}

void VideoCompressionDialog::ShowAbout() {
  media::VideoCodecAbout about;
  if (media::aviCodecAbout(codecList->currentIndex(), about) != kOk) return;
  auto* box = new QMessageBox(
      QMessageBox::Information, QStringLiteral("About %1").arg(QString::fromStdString(about.name)),
      QStringLiteral("<b>%1</b><p>%2</p><p>Provided by %3 %4.</p>")
          .arg(QString::fromStdString(about.name).toHtmlEscaped(),
               QString::fromStdString(about.longName).toHtmlEscaped(),
               QString::fromStdString(about.library), QString::fromStdString(about.version)),
      QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void VideoCompressionDialog::Confirm() {
  if (keyFrame->isEnabled()) {
    const std::int32_t every = keyFrame->value();
    if (every < kMinKeyFrameEvery || every > kMaxKeyFrameEvery) {
      keyFrame->edit()->setFocus();
      keyFrame->edit()->selectAll();
      return;  // the dialog stays open, without a message
    }
    record_.keyFrameEvery = every;
  }
  const int codec = codecList->currentIndex();
  record_.compressor = codec > 0 ? media::aviCodecGetID(codec) : 0;
  record_.quality = quality->value() * 100;
  record_.dataType = media::aviTranslateOutputFormat(codec, dataTypeList->currentIndex());
  record_.paletteChoice = paletteList->currentIndex();
  record_.useCommonPalette = useCommonPalette->isChecked() ? 1 : 0;
  accept();
}

}  // namespace calvex::ui
