// The "Select Files" dialog of "S&elect...": a folder view and a file list with multiple
// selection, the file name field and the type filters, and beside them a preview of the one file
// named: the first picture of an AVI or MPEG file, an AVI's subject and description, play in place
// for AVI and WAV files, its information, and a thumbnail browser of the folder.
#pragma once

#include <QDialog>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

#include "core/settings.h"
#include "ui/playback/player.h"

class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QTreeView;

namespace calvex::ui {

class HelpSystem;
class PictureView;
class TransportButton;
class UserDialogs;

namespace playback {
class TaskThread;
}

// The names in the file name field: the quoted ones, or else the whole text as one name.
QStringList FileNamesIn(const QString& field);

// Which of OK, the play button and "&Info..." may be pressed, from the number of names in the
// field, the kind of the one name, and whether its preview could be read.
struct SelectFilesEnabling {
  bool ok = false;
  bool play = false;
  bool info = false;
};
SelectFilesEnabling SelectFilesEnablingFor(int names, ConversionKind kind, bool previewValid);

// What the dialog keeps from one opening to the next.
struct SelectFilesMemory {
  bool autoPlay = false;
  bool mute = false;
  QString folder;
};

struct SelectFilesServices {
  playback::PlayerServices player;
  UserDialogs* dialogs = nullptr;
  HelpSystem* help = nullptr;
  // Reads a file's information and shows its dialog ("&Info..."); unset, the button stays
  // disabled.
  std::function<void(QWidget* parent, const QString& path)> showInformation;
  SelectFilesMemory* memory = nullptr;
};

class SelectFilesDialog : public QDialog {
  Q_OBJECT
 public:
  explicit SelectFilesDialog(SelectFilesServices services, QWidget* parent = nullptr);
  ~SelectFilesDialog() override;

  // The full paths of the names in the field (after OK).
  QStringList SelectedPaths() const;
  void SetFolder(const QString& folder);
  QString folder() const { return folder_; }

  bool previewValid() const { return previewValid_; }
  enum class PlayState { kStopped, kPlaying, kPaused };
  PlayState playState() const { return playState_; }
  playback::Player* player() { return player_.get(); }
  void PlayButton();

  // What the worker thread reads of the file named: whether it can be previewed, its first
  // picture and an AVI's texts.
  struct PreviewResult;

  QTreeView* folderView = nullptr;
  QListView* fileView = nullptr;
  QLabel* folderLabel = nullptr;
  QLineEdit* nameEdit = nullptr;
  QComboBox* typeBox = nullptr;
  PictureView* previewView = nullptr;
  TransportButton* playButton = nullptr;
  QPushButton* infoButton = nullptr;
  QPushButton* browseButton = nullptr;
  QCheckBox* autoPlayBox = nullptr;
  QCheckBox* muteBox = nullptr;
  QLineEdit* subjectField = nullptr;
  QLineEdit* descriptionField = nullptr;
  QPushButton* okButton = nullptr;
  QPushButton* cancelButton = nullptr;
  QPushButton* helpButton = nullptr;

 signals:
  // The preview of the name in the field has been read (or found impossible).
  void previewRead();

 private:
  void BuildWindow();
  void RevealFolder();
  void NameChanged();
  void PreviewDone(std::uint64_t generation, const PreviewResult& result);
  void ListSelectionChanged();
  void UpdateEnabling();
  void ClosePlayer();
  void PlayerEnded();
  void SetPlayFace();
  void Accept();
  QString FullPath(const QString& name) const;

  SelectFilesServices services_;
  SelectFilesMemory ownMemory_;
  SelectFilesMemory& memory_;
  QFileSystemModel* folders_ = nullptr;
  QFileSystemModel* files_ = nullptr;
  QString folder_;
  QString previewPath_;
  bool previewValid_ = false;
  std::uint64_t generation_ = 0;
  bool settingName_ = false;
  PlayState playState_ = PlayState::kStopped;
  std::unique_ptr<playback::Player> player_;
  std::unique_ptr<playback::TaskThread> reader_;
};

}  // namespace calvex::ui
