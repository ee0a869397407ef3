#include "ui/player/simple_preview.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "core/error_report.h"
#include "core/settings.h"
#include "ui/player/install_players.h"
#include "ui/player/player_widgets.h"
#include "ui/user_dialogs.h"

namespace calvex::ui {
namespace {

constexpr QSize kLargestPicture(640, 480);

}  // namespace

SimplePreview::SimplePreview(const QString& path, playback::PlayerServices services,
                             UserDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      path_(path),
      dialogs_(dialogs),
      player_(std::move(services)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QFileInfo(path).fileName());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  if (KindByExtension(path.toStdString()) != ConversionKind::kWavToMp2) {
    pictureView = new PictureView(this);
    pictureView->setFixedSize(322, 242);
    layout->addWidget(pictureView, 0, Qt::AlignHCenter);
  }
  playButton = new TransportButton(TransportButton::Face::kPause, QStringLiteral("Pause"), this);
  track = new PositionTrack(this);
  track->setMinimumWidth(200);
  timeLabel = new QLabel(this);
  // As wide as the longest time, so that the window keeps its size while it plays.
  timeLabel->setMinimumWidth(timeLabel->fontMetrics().horizontalAdvance(QStringLiteral("00:00.0")));
  timeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* row = new QHBoxLayout;
  row->addWidget(playButton);
  row->addWidget(track, 1);
  row->addWidget(timeLabel);
  layout->addLayout(row);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(playButton, &QAbstractButton::clicked, this, [this] {
    if (player_.playing())
      player_.Pause();
    else
      player_.Play();
  });
  connect(track, &PositionTrack::released, this, [this](int frame) { player_.Seek(frame); });
  connect(&player_, &playback::Player::opened, this, &SimplePreview::Opened);
  connect(&player_, &playback::Player::positionChanged, this, &SimplePreview::ShowPosition);
  connect(&player_, &playback::Player::playingChanged, this, [this](bool playing) {
    playButton->setFace(playing ? TransportButton::Face::kPause : TransportButton::Face::kPlay);
    playButton->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
  });
  const auto fail = [this](int status) {
    dialogs_.ShowMessage(
        parentWidget(),
        QString::fromStdString(ErrorText(static_cast<Status>(status), path_.toStdString())),
        BoxIcon::kExclamation);
    close();
  };
  connect(&player_, &playback::Player::openFailed, this, fail);
  connect(&player_, &playback::Player::decodeFailed, this, fail);
  player_.Open(path);
}

void SimplePreview::Opened() {
  const playback::MediaInfo& info = player_.info();
  if (pictureView != nullptr && info.width > 0 && info.height > 0) {
    QSize size(info.width, info.height);
    if (info.width > kLargestPicture.width() || info.height > kLargestPicture.height())
      size = size.scaled(kLargestPicture, Qt::KeepAspectRatio);
    pictureView->setFixedSize(size + QSize(2, 2));
  }
  track->setFrameCount(info.frameCount);
  adjustSize();
  CentreOnDesktop(this);
  player_.Play();
}

void SimplePreview::ShowPosition(int frame) {
  if (pictureView != nullptr) pictureView->ShowPicture(player_.picture());
  track->setPosition(frame);
  const std::int64_t tenths = playback::FrameTime(player_.info(), frame) / 100000;
  timeLabel->setText(QString::asprintf("%02d:%02d.%1d", static_cast<int>(tenths / 600),
                                       static_cast<int>(tenths / 10 % 60),
                                       static_cast<int>(tenths % 10)));
}

}  // namespace calvex::ui
