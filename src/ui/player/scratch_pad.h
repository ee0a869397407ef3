// The preview player "Scratch Pad": an AVI or MPEG entry shown frame by frame or playing, with
// tape-recorder buttons, a position track, a section bar and status fields, and the marking of the
// sections that the entry's conversion turns into separate outputs. The sections stored in the
// entry are shown when it opens; "OK" and "Eject" replace them, "Cancel" keeps them.
#pragma once

#include <QDialog>
#include <vector>

#include "core/settings.h"
#include "ui/playback/player.h"
#include "ui/player/player_widgets.h"
#include "ui/player/section_rules.h"

class QPushButton;

namespace calvex::ui {

class HelpSystem;
class StatusCell;
class UserDialogs;

class ScratchPad : public QDialog {
  Q_OBJECT
 public:
  ScratchPad(const SourceEntry& entry, playback::PlayerServices services, UserDialogs& dialogs,
             HelpSystem* help, bool toolTips, QWidget* parent = nullptr);
  ~ScratchPad() override;

  // The sections to store in the entry after "OK" or "Eject": for an MPEG file each with the
  // index group its decoding starts at.
  std::vector<Section> StoredSections() const;

  bool ready() const { return ready_; }
  std::int32_t position() const { return position_; }
  std::int32_t frameCount() const { return frameCount_; }
  int highlighted() const { return highlighted_; }
  const SectionMarks& marks() const { return marks_; }
  playback::Player& player() { return player_; }

  // The transport commands (what the buttons do).
  void PlayPause();
  void StopCommand();
  // Shows frame `frame` (clamped to the file) and enables the buttons by the new position.
  void MoveTo(std::int32_t frame);
  void MarkIn();
  void MarkOut();
  void SelectNextSection();
  void DeleteSection();

  PictureView* pictureView = nullptr;
  PositionTrack* track = nullptr;
  SectionBar* bar = nullptr;
  TransportButton* playButton = nullptr;      // 10
  TransportButton* stopButton = nullptr;      // 11
  TransportButton* forwardButton = nullptr;   // 12
  TransportButton* rewindButton = nullptr;    // 13
  TransportButton* nextButton = nullptr;      // 14
  TransportButton* previousButton = nullptr;  // 15
  TransportButton* markInButton = nullptr;    // 16
  TransportButton* markOutButton = nullptr;   // 17
  TransportButton* beginButton = nullptr;     // 18
  TransportButton* endButton = nullptr;       // 19
  TransportButton* ejectButton = nullptr;     // 20
  QPushButton* okButton = nullptr;
  QPushButton* cancelButton = nullptr;
  StatusCell* timeCode = nullptr;
  StatusCell* frameCaption = nullptr;
  StatusCell* sizeField = nullptr;
  StatusCell* rateField = nullptr;

 signals:
  // The file is open and its first frame asked for (or it failed to open and the pad stays
  // without a picture).
  void loaded();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  void BuildWindow(bool toolTips);
  void Opened();
  void OpenFailed(int status);
  void PictureShown(int frame);
  void PlayingChanged(bool playing);
  void Transport(std::int32_t frame);
  void EnableByPosition();
  void ShowCaptions();
  void SetHighlight(int section);
  void SetPlayFace(bool playing);
  void Eject();
  void Report(Status status);

  SourceEntry entry_;
  bool mpeg_ = false;
  UserDialogs& dialogs_;
  HelpSystem* help_;
  playback::Player player_;
  SectionMarks marks_;
  bool ready_ = false;
  std::int32_t frameCount_ = 0;
  std::int32_t position_ = 0;
  int framesPerSecond_ = 25;
  int highlighted_ = -1;
  bool shiftHeld_ = false;
};

}  // namespace calvex::ui
