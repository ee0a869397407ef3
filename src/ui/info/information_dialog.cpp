#include "ui/info/information_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/error_report.h"
#include "engine/info_text.h"
#include "media_library/media_library.h"
#include "ui/help.h"
#include "ui/user_dialogs.h"

namespace calvex::ui {
namespace {

// Values wider than this are shortened in the middle, whole in their tool tip.
constexpr int kMaxValueWidth = 300;

QLabel* ValueLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(parent);
  const QString shown = label->fontMetrics().elidedText(text, Qt::ElideMiddle, kMaxValueWidth);
  label->setText(shown);
  if (shown != text) label->setToolTip(text);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

std::string CodecName(std::uint16_t tag) {
  return media::myGetCodecName(tag);
}

}  // namespace

InformationDialog::InformationDialog(SourceEntry& e, HelpSystem* help, QWidget* parent)
    : QDialog(parent) {
  std::vector<InfoLine> lines;
  QString title;
  switch (e.kind) {
    case ConversionKind::kAviToMpeg:
      CompleteAviInfo(e.aviInfo);
      lines = AviInfoLines(e.path, e.aviInfo, CodecName);
      title = QStringLiteral("AVI File Information");
      helpContext_ = kHelpAviInfo;
      break;
    case ConversionKind::kWavToMp2:
      lines = WavInfoLines(e.path, e.wavInfo, CodecName);
      title = QStringLiteral("WAV File Information");
      helpContext_ = kHelpWavInfo;
      break;
    case ConversionKind::kMpegToAvi:
      lines = MpegInfoLines(e.path, e.mpegInfo);
      title = QStringLiteral("MPEG File Information");
      helpContext_ = kHelpMpegInfo;
      break;
    case ConversionKind::kMp2ToWav:
      lines = Mp2InfoLines(e.path, e.mp2Info);
      title = QStringLiteral("MP2 File Information");
      helpContext_ = kHelpMp2Info;
      break;
    case ConversionKind::kNone:
      break;
  }
  setWindowTitle(title);

  // The file's own fields on top, the "Video" and "Audio" boxes side by side below them.
  auto* fileForm = new QFormLayout;
  auto* boxes = new QHBoxLayout;
  std::vector<std::pair<QString, QFormLayout*>> groups;
  for (const InfoLine& line : lines) {
    const QString group = QString::fromStdString(line.group);
    QFormLayout* form = fileForm;
    QWidget* owner = this;
    if (!group.isEmpty()) {
      auto known = std::find_if(groups.begin(), groups.end(),
                                [&](const auto& g) { return g.first == group; });
      if (known == groups.end()) {
        auto* box = new QGroupBox(group, this);
        groups.emplace_back(group, new QFormLayout(box));
        boxes->addWidget(box, 0, Qt::AlignTop);
        known = std::prev(groups.end());
      }
      form = known->second;
      owner = form->parentWidget();
    }
    QLabel* value = ValueLabel(QString::fromStdString(line.text), owner);
    form->addRow(QString::fromStdString(line.label), value);
    fields_.push_back({group, QString::fromStdString(line.label), value});
  }

  auto* buttons = new QDialogButtonBox(this);
  okButton = buttons->addButton(QDialogButtonBox::Ok);
  okButton->setDefault(true);
  connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
  helpButton = AddHelpButton(buttons, this, help, helpContext_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fileForm);
  layout->addLayout(boxes);
  layout->addSpacing(6);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  CentreOnDesktop(this);
}

QString InformationDialog::FieldText(const QString& group, const QString& label) const {
  for (const Field& f : fields_) {
    if (f.group == group && f.label == label)
      return f.value->toolTip().isEmpty() ? f.value->text() : f.value->toolTip();
  }
  return {};
}

Status ShowFileInformation(QWidget* parent, const std::string& path, const InfoReaders& readers,
                           HelpSystem* help, UserDialogs& dialogs) {
  SourceEntry entry;
  const Status status = MakeSourceEntry(path, readers, entry);
  if (status != kOk) {
    dialogs.ShowMessage(parent, QString::fromStdString(ErrorText(status, path)),
                        BoxIcon::kExclamation);
    return status;
  }
  InformationDialog dialog(entry, help, parent);
  dialog.exec();
  return kOk;
}

}  // namespace calvex::ui
