#include "ui/player/scratch_pad.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <cmath>

#include "core/error_report.h"
#include "ui/help.h"
#include "ui/status_strip.h"
#include "ui/user_dialogs.h"

namespace calvex::ui {
namespace {

// The picture area: the picture's own size within these bounds.
constexpr QSize kSmallestPicture(240, 180);
constexpr QSize kLargestPicture(640, 480);

QSize PictureAreaFor(int width, int height) {
  if (width <= 0 || height <= 0) return {320, 240};
  QSize size(width, height);
  if (width > kLargestPicture.width() || height > kLargestPicture.height())
    size = size.scaled(kLargestPicture, Qt::KeepAspectRatio);
  return size.expandedTo(kSmallestPicture) + QSize(2, 2);
}

std::vector<FrameSection> FramesOf(const std::vector<Section>& sections) {
  std::vector<FrameSection> frames;
  for (const Section& s : sections) frames.push_back({s.first, s.last});
  return frames;
}

}  // namespace

ScratchPad::ScratchPad(const SourceEntry& entry, playback::PlayerServices services,
                       UserDialogs& dialogs, HelpSystem* help, bool toolTips, QWidget* parent)
    : QDialog(parent),
      entry_(entry),
      mpeg_(entry.kind == ConversionKind::kMpegToAvi),
      dialogs_(dialogs),
      help_(help),
      player_(std::move(services)),
      marks_(FramesOf(entry.sections)) {
  setWindowTitle(QStringLiteral("Scratch Pad"));
  SetDialogHelp(this, kHelpScratchPad);
  BuildWindow(toolTips);
  connect(&player_, &playback::Player::opened, this, &ScratchPad::Opened);
  connect(&player_, &playback::Player::openFailed, this, &ScratchPad::OpenFailed);
  connect(&player_, &playback::Player::positionChanged, this, &ScratchPad::PictureShown);
  connect(&player_, &playback::Player::playingChanged, this, &ScratchPad::PlayingChanged);
  connect(&player_, &playback::Player::ended, this, [this] { StopCommand(); });
  connect(&player_, &playback::Player::decodeFailed, this,
          [this](int status) { Report(static_cast<Status>(status)); });
  connect(&player_, &playback::Player::scanProgress, this, [this](int thousandths) {
    bar->setScanProgress(thousandths);
    frameCaption->setText(QStringLiteral("int"));
    frameCaption->setBarValue(thousandths);
  });
  EnableByPosition();
  player_.Open(QString::fromStdString(entry.path));
}

ScratchPad::~ScratchPad() = default;

void ScratchPad::BuildWindow(bool toolTips) {
  pictureView = new PictureView(this);
  pictureView->setFixedSize(PictureAreaFor(0, 0));
  track = new PositionTrack(this);
  bar = new SectionBar(marks_, this);

  const auto button = [&](TransportButton::Face face, const QString& text) {
    auto* b = new TransportButton(face, text, this);
    if (toolTips) b->setToolTip(text);
    return b;
  };
  using Face = TransportButton::Face;
  playButton = button(Face::kPlay, QStringLiteral("Play"));
  stopButton = button(Face::kStop, QStringLiteral("Stop"));
  rewindButton = button(Face::kRewind, QStringLiteral("Rewind"));
  forwardButton = button(Face::kForward, QStringLiteral("Forward"));
  previousButton = button(Face::kPrevious, QStringLiteral("Previous"));
  nextButton = button(Face::kNext, QStringLiteral("Next"));
  beginButton = button(Face::kBegin, QStringLiteral("Begin"));
  endButton = button(Face::kEnd, QStringLiteral("End"));
  markInButton = button(Face::kMarkIn, QStringLiteral("Mark In"));
  markOutButton = button(Face::kMarkOut, QStringLiteral("Mark Out"));
  ejectButton = button(Face::kEject, QStringLiteral("Eject"));
  okButton = new QPushButton(QStringLiteral("OK"), this);
  cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  okButton->setDefault(true);

  connect(playButton, &QAbstractButton::clicked, this, [this] { PlayPause(); });
  connect(stopButton, &QAbstractButton::clicked, this, [this] { StopCommand(); });
  connect(forwardButton, &QAbstractButton::clicked, this, [this] {
    Transport(ForwardTarget(position_, frameCount_, player_.info().groups, mpeg_));
  });
  connect(rewindButton, &QAbstractButton::clicked, this, [this] {
    Transport(RewindTarget(position_, frameCount_, player_.info().groups, mpeg_));
  });
  connect(nextButton, &QAbstractButton::clicked, this, [this] {
    if (position_ < frameCount_ - 1) Transport(position_ + 1);
  });
  connect(previousButton, &QAbstractButton::clicked, this, [this] {
    if (position_ > 0) Transport(position_ - 1);
  });
  connect(beginButton, &QAbstractButton::clicked, this, [this] { Transport(0); });
  connect(endButton, &QAbstractButton::clicked, this, [this] { Transport(frameCount_ - 1); });
  connect(markInButton, &QAbstractButton::clicked, this, [this] { MarkIn(); });
  connect(markOutButton, &QAbstractButton::clicked, this, [this] { MarkOut(); });
  connect(ejectButton, &QAbstractButton::clicked, this, [this] { Eject(); });
  connect(okButton, &QPushButton::clicked, this, [this] { Eject(); });
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

  connect(track, &PositionTrack::released, this, [this](int frame) { MoveTo(frame); });
  connect(bar, &SectionBar::highlightChanged, this, [this](int section) { SetHighlight(section); });
  connect(bar, &SectionBar::edgeDragged, this, [this](int frame) {
    position_ = frame;
    track->setPosition(frame);
    player_.Seek(frame);
  });
  connect(bar, &SectionBar::edgeDropped, this, [this](int section, bool last, int frame) {
    marks_.MoveEdge(section, last ? SectionMarks::Edge::kLast : SectionMarks::Edge::kFirst, frame);
    SetHighlight(-1);
    MoveTo(frame);
  });

  // The hidden "&Select" button's mnemonic, Delete and F1.
  connect(new QShortcut(QKeySequence(Qt::ALT | Qt::Key_S), this), &QShortcut::activated, this,
          [this] { SelectNextSection(); });
  connect(new QShortcut(QKeySequence(Qt::Key_Delete), this), &QShortcut::activated, this,
          [this] { DeleteSection(); });
  connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this, [this] {
    if (help_ != nullptr) help_->ShowTopic(kHelpScratchPad, this);
  });

  timeCode = new StatusCell(QString(), this);
  frameCaption = new StatusCell(QString(), this);
  sizeField = new StatusCell(QString(), this);
  rateField = new StatusCell(QString(), this);
  for (StatusCell* cell : {timeCode, frameCaption, sizeField, rateField}) cell->setFixedHeight(22);
  timeCode->setFixedWidth(96);
  frameCaption->setMinimumWidth(170);
  sizeField->setFixedWidth(84);
  rateField->setFixedWidth(60);

  auto* transport = new QHBoxLayout;
  transport->setSpacing(2);
  for (QWidget* w :
       std::initializer_list<QWidget*>{playButton, stopButton, rewindButton, forwardButton,
                                       previousButton, nextButton, beginButton, endButton})
    transport->addWidget(w);
  transport->addSpacing(8);
  transport->addWidget(markInButton);
  transport->addWidget(markOutButton);
  transport->addSpacing(8);
  transport->addWidget(ejectButton);
  transport->addStretch();
  transport->addWidget(okButton);
  transport->addWidget(cancelButton);

  auto* fields = new QHBoxLayout;
  fields->setSpacing(2);
  fields->addWidget(timeCode);
  fields->addWidget(frameCaption, 1);
  fields->addWidget(sizeField);
  fields->addWidget(rateField);

  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(4);
  layout->addWidget(pictureView, 0, Qt::AlignHCenter);
  layout->addWidget(track);
  layout->addWidget(bar);
  layout->addLayout(transport);
  layout->addLayout(fields);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  track->setMinimumWidth(360);
}

void ScratchPad::Opened() {
  const playback::MediaInfo& info = player_.info();
  frameCount_ = info.frameCount;
  framesPerSecond_ = TimeCodeFramesPerSecond(info.rate, info.scale, !mpeg_);
  pictureView->setFixedSize(PictureAreaFor(info.width, info.height));
  track->setFrameCount(frameCount_);
  bar->setScanProgress(-1);
  bar->setFrameCount(frameCount_);
  double rate = info.scale > 0 ? static_cast<double>(info.rate) / info.scale : 0.0;
  if (!mpeg_) rate = std::trunc(rate * 100.0) * 0.01;
  rateField->setText(QString::asprintf("%3.2f", rate));
  sizeField->setText(QString::asprintf("%3d x %3d", info.width, info.height));
  ready_ = true;
  position_ = 0;
  track->setPosition(0);
  ShowCaptions();
  EnableByPosition();
  emit loaded();
}

void ScratchPad::OpenFailed(int status) {
  bar->setScanProgress(-1);
  frameCaption->setText(QString());
  if (status != kCancelled) Report(static_cast<Status>(status));
  // Without an index there is nothing to mark; an AVI that cannot be shown leaves the pad open
  // without a picture.
  if (mpeg_) {
    QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
  }
  emit loaded();
}

void ScratchPad::Report(Status status) {
  dialogs_.ShowMessage(this, QString::fromStdString(ErrorText(status, entry_.path)),
                       BoxIcon::kExclamation);
}

void ScratchPad::PictureShown(int frame) {
  pictureView->ShowPicture(player_.picture());
  // While playing, the position follows the pictures; otherwise the pad's commands set it.
  if (!player_.playing()) return;
  position_ = frame;
  track->setPosition(frame);
  if (highlighted_ < 0) ShowCaptions();
}

void ScratchPad::PlayingChanged(bool playing) {
  if (playing) return;
  SetPlayFace(false);
  position_ = player_.position();
  track->setPosition(position_);
  EnableByPosition();
}

void ScratchPad::SetPlayFace(bool playing) {
  playButton->setFace(playing ? TransportButton::Face::kPause : TransportButton::Face::kPlay);
  playButton->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
  if (!playButton->toolTip().isEmpty()) playButton->setToolTip(playButton->text());
}

void ScratchPad::PlayPause() {
  if (!ready_) return;
  SetHighlight(-1);
  if (player_.playing()) {
    player_.Pause();
    return;  // PlayingChanged takes the position over
  }
  std::int32_t from = position_;
  const bool fast = mpeg_ && (shiftHeld_ || QApplication::keyboardModifiers() & Qt::ShiftModifier);
  if (fast) {
    // Fast play starts at the next group; after the last one there is nothing to play.
    const auto& groups = player_.info().groups;
    const auto next = std::find_if(groups.begin(), groups.end(),
                                   [&](const GopIndexEntry& g) { return g.firstFrame > from; });
    if (next == groups.end()) {
      MoveTo(0);
      return;
    }
    from = next->firstFrame;
  } else if (from >= frameCount_ - 1) {
    from = 0;
  }
  if (from != position_) MoveTo(from);
  player_.SetFast(fast);
  SetPlayFace(true);
  player_.Play();
}

void ScratchPad::StopCommand() {
  if (!ready_) return;
  player_.Stop();
  SetPlayFace(false);
  MoveTo(0);
}

void ScratchPad::Transport(std::int32_t frame) {
  if (!ready_) return;
  SetHighlight(-1);
  MoveTo(frame);
}

void ScratchPad::MoveTo(std::int32_t frame) {
  if (!ready_) return;
  position_ = std::clamp(frame, 0, std::max(frameCount_ - 1, 0));
  track->setPosition(position_);
  if (highlighted_ < 0) ShowCaptions();
  EnableByPosition();
  player_.Seek(position_);
}

void ScratchPad::MarkIn() {
  if (!ready_) return;
  SetHighlight(-1);
  if (!marks_.MarkIn(position_)) dialogs_.Beep();
  bar->update();
}

void ScratchPad::MarkOut() {
  if (!ready_) return;
  SetHighlight(-1);
  if (!marks_.MarkOut(position_)) dialogs_.Beep();
  bar->update();
}

void ScratchPad::SelectNextSection() {
  const int count = static_cast<int>(marks_.sections().size());
  SetHighlight(highlighted_ + 1 < count ? highlighted_ + 1 : -1);
}

void ScratchPad::DeleteSection() {
  if (highlighted_ < 0) return;
  marks_.Remove(highlighted_);
  SetHighlight(-1);
  // A position inside a remaining section cannot start or end another one.
  const bool outside = marks_.SectionAt(position_) < 0;
  markInButton->setEnabled(outside);
  markOutButton->setEnabled(outside);
}

void ScratchPad::SetHighlight(int section) {
  highlighted_ = section;
  bar->setHighlighted(section);
  ShowCaptions();
}

void ScratchPad::ShowCaptions() {
  if (highlighted_ >= 0 && highlighted_ < static_cast<int>(marks_.sections().size())) {
    const FrameSection& s = marks_.sections()[static_cast<std::size_t>(highlighted_)];
    const std::string format = Message(71).toStdString();
    frameCaption->setText(QString::asprintf(format.c_str(), highlighted_, s.first, s.last));
    return;
  }
  if (!ready_) return;
  timeCode->setText(QString::fromStdString(FrameTimeCode(position_, framesPerSecond_)));
  const std::string format = Message(70).toStdString();
  frameCaption->setText(QString::asprintf(format.c_str(), position_));
}

void ScratchPad::EnableByPosition() {
  const TransportEnabling e = EnablingAt(position_, frameCount_);
  for (QWidget* w : {previousButton, rewindButton, beginButton}) w->setEnabled(ready_ && e.back);
  for (QWidget* w : {nextButton, forwardButton, endButton}) w->setEnabled(ready_ && e.forward);
  for (QWidget* w : {playButton, stopButton, markInButton, markOutButton, ejectButton})
    w->setEnabled(ready_);
}

std::vector<Section> ScratchPad::StoredSections() const {
  std::vector<Section> stored;
  for (const FrameSection& s : marks_.sections()) {
    Section section;
    section.first = s.first;
    section.last = s.last;
    if (mpeg_) section.seek = SeekEntryFor(s.first, player_.info().groups);
    stored.push_back(section);
  }
  return stored;
}

void ScratchPad::Eject() {
  player_.Pause();
  // A pad whose file could not be read has nothing to store.
  if (!ready_) {
    reject();
    return;
  }
  accept();
}

void ScratchPad::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Shift) {
    shiftHeld_ = true;
    if (mpeg_ && player_.playing()) player_.SetFast(true);
  }
  QDialog::keyPressEvent(event);
}

void ScratchPad::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Shift) {
    shiftHeld_ = false;
    if (mpeg_ && player_.playing()) player_.SetFast(false);
  }
  QDialog::keyReleaseEvent(event);
}

}  // namespace calvex::ui
