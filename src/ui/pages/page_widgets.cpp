#include "ui/pages/page_widgets.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/pages/field_rules.h"

namespace calvex::ui {

SpinField::SpinField(QWidget* parent, int maxLength) : QWidget(parent) {
  edit_ = new QLineEdit(this);
  edit_->setMaxLength(maxLength);
  edit_->setFixedWidth(56);
  up_ = new QToolButton(this);
  down_ = new QToolButton(this);
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_}) {
    b->setFixedSize(16, 11);
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
  }
  auto* arrows = new QVBoxLayout;
  arrows->setSpacing(0);
  arrows->setContentsMargins(0, 0, 0, 0);
  arrows->addWidget(up_);
  arrows->addWidget(down_);
  auto* row = new QHBoxLayout(this);
  row->setSpacing(1);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(edit_);
  row->addLayout(arrows);
  setFocusProxy(edit_);
  // The arrows stay beside the field however wide the page grows.
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  edit_->installEventFilter(this);
  connect(up_, &QToolButton::clicked, this, [this] { emit stepped(+1); });
  connect(down_, &QToolButton::clicked, this, [this] { emit stepped(-1); });
  connect(edit_, &QLineEdit::textEdited, this, &SpinField::textEdited);
}

std::int32_t SpinField::value() const {
  return ParseIntField(edit_->text());
}

void SpinField::setValue(std::int32_t value) {
  edit_->setText(IntFieldText(value));
}

void SpinField::setEnabled(bool enabled) {
  QWidget::setEnabled(enabled);
}

bool SpinField::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      emit stepped(key == Qt::Key_Up ? +1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace calvex::ui

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>

namespace calvex::ui {

void CheckRadio(QButtonGroup* group, std::int32_t id) {
  QAbstractButton* button = id == kMixedValue ? nullptr : group->button(id);
  if (button != nullptr) {
    button->setChecked(true);
    return;
  }
  // An exclusive group never unchecks its last button by itself.
  group->setExclusive(false);
  for (QAbstractButton* b : group->buttons()) b->setChecked(false);
  group->setExclusive(true);
}

std::int32_t CheckedRadio(const QButtonGroup* group) {
  return group->checkedButton() != nullptr ? group->checkedId() : kMixedValue;
}

QString BitrateLabelText(std::int32_t layer) {
  return layer == 2 ? QStringLiteral("&Bitrate (32-384):") : QStringLiteral("&Bitrate (32-448):");
}

MpegAudioChoices BuildMpegAudioChoices(QWidget* audio, QWidget* page) {
  MpegAudioChoices c{};
  c.layerBox = new QGroupBox(QStringLiteral("Layer"), audio);
  c.layer1 = new QRadioButton(QStringLiteral("&I"), c.layerBox);
  c.layer2 = new QRadioButton(QStringLiteral("&II"), c.layerBox);
  auto* layerRow = new QHBoxLayout(c.layerBox);
  layerRow->addWidget(c.layer1);
  layerRow->addWidget(c.layer2);
  c.channelBox = new QGroupBox(QStringLiteral("Channels"), audio);
  c.stereo = new QRadioButton(QStringLiteral("&Stereo"), c.channelBox);
  c.jointStereo = new QRadioButton(QStringLiteral("&Joint Stereo"), c.channelBox);
  auto* channelRow = new QHBoxLayout(c.channelBox);
  channelRow->addWidget(c.stereo);
  channelRow->addWidget(c.jointStereo);
  c.layers = new QButtonGroup(page);
  c.layers->addButton(c.layer1, 1);
  c.layers->addButton(c.layer2, 2);
  c.channels = new QButtonGroup(page);
  c.channels->addButton(c.stereo, 0);
  c.channels->addButton(c.jointStereo, 1);
  return c;
}

}  // namespace calvex::ui
