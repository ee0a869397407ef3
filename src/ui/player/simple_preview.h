// The simple preview of a double click on an AVI or WAV entry: a small window titled with the file
// name, centred on the desktop, that plays the file at once, with a play button and a position
// track.
#pragma once

#include <QWidget>

#include "ui/playback/player.h"

class QLabel;

namespace calvex::ui {

class PictureView;
class PositionTrack;
class TransportButton;
class UserDialogs;

class SimplePreview : public QWidget {
  Q_OBJECT
 public:
  SimplePreview(const QString& path, playback::PlayerServices services, UserDialogs& dialogs,
                QWidget* parent = nullptr);

  playback::Player& player() { return player_; }

  PictureView* pictureView = nullptr;  // none for a WAV file
  TransportButton* playButton = nullptr;
  PositionTrack* track = nullptr;
  QLabel* timeLabel = nullptr;

 private:
  void Opened();
  void ShowPosition(int frame);

  QString path_;
  UserDialogs& dialogs_;
  playback::Player player_;
};

}  // namespace calvex::ui
