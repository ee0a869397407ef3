#include "ui/select_files/select_files_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "core/error_report.h"
#include "ui/help.h"
#include "ui/playback/task_thread.h"
#include "ui/player/player_widgets.h"
#include "ui/select_files/avi_texts.h"
#include "ui/select_files/first_picture.h"
#include "ui/select_files/thumbnail_browser.h"
#include "ui/user_dialogs.h"

namespace calvex::ui {
namespace {

constexpr QSize kPreviewArea(242, 182);

const char* const kFilters[] = {"All Formats (*.avi *.wav *.mpg *.mp2)",
                                "Microsoft AVI Files (*.avi)",
                                "Microsoft Waveform Files (*.wav)",
                                "MPEG Files (*.mpg)",
                                "MPEG Audio Files (*.mp2)",
                                "All Files (*)"};

QStringList PatternsOf(const QString& filter) {
  const auto open = filter.indexOf(QLatin1Char('('));
  const auto close = filter.lastIndexOf(QLatin1Char(')'));
  if (open < 0 || close <= open) return {QStringLiteral("*")};
  return filter.mid(open + 1, close - open - 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Chunk texts are bytes: UTF-8 when they are valid as such, else Latin-1.
QString TextOf(const std::optional<std::string>& bytes) {
  if (!bytes || bytes->empty()) return QStringLiteral(" ");
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8(QByteArray::fromStdString(*bytes));
  if (utf8.hasError())
    text = QString::fromLatin1(bytes->data(), static_cast<qsizetype>(bytes->size()));
  return text;
}

}  // namespace

QStringList FileNamesIn(const QString& field) {
  if (field.contains(QLatin1Char('"'))) {
    QStringList names;
    static const QRegularExpression quoted(QStringLiteral("\"([^\"]+)\""));
    for (auto it = quoted.globalMatch(field); it.hasNext();) names << it.next().captured(1);
    return names;
  }
  const QString name = field.trimmed();
  return name.isEmpty() ? QStringList() : QStringList{name};
}

SelectFilesEnabling SelectFilesEnablingFor(int names, ConversionKind kind, bool previewValid) {
  const bool sound = kind == ConversionKind::kWavToMp2 || kind == ConversionKind::kMp2ToWav;
  SelectFilesEnabling e;
  e.ok = names > 1 || (names == 1 && (sound || previewValid));
  e.play = names == 1 && previewValid &&
           (kind == ConversionKind::kAviToMpeg || kind == ConversionKind::kWavToMp2);
  e.info = names == 1 && (previewValid || sound);
  return e;
}

struct SelectFilesDialog::PreviewResult {
  bool valid = false;
  QImage picture;
  AviTexts texts;
  Status failure = kOk;  // a reader's failure, reported
};

namespace {

SelectFilesDialog::PreviewResult ReadPreview(const std::string& path);

}  // namespace

SelectFilesDialog::SelectFilesDialog(SelectFilesServices services, QWidget* parent)
    : QDialog(parent),
      services_(std::move(services)),
      memory_(services_.memory != nullptr ? *services_.memory : ownMemory_),
      reader_(std::make_unique<playback::TaskThread>()) {
  setWindowTitle(Message(32));
  SetDialogHelp(this, kHelpSelectFiles);
  BuildWindow();
  autoPlayBox->setChecked(memory_.autoPlay);
  muteBox->setChecked(memory_.mute);
  SetFolder(memory_.folder.isEmpty() || !QFileInfo(memory_.folder).isDir() ? QDir::currentPath()
                                                                           : memory_.folder);
  UpdateEnabling();
}

SelectFilesDialog::~SelectFilesDialog() {
  ClosePlayer();
  reader_.reset();
}

void SelectFilesDialog::BuildWindow() {
  folders_ = new QFileSystemModel(this);
  folders_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  folders_->setRootPath(QDir::rootPath());
  folderView = new QTreeView(this);
  folderView->setModel(folders_);
  for (int c = 1; c < folders_->columnCount(); ++c) folderView->hideColumn(c);
  folderView->header()->hide();
  // Deep folders scroll sideways rather than cutting their names short.
  folderView->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  folderView->header()->setStretchLastSection(false);
  folderView->setIndentation(14);
  folderView->setMinimumSize(200, 240);

  files_ = new QFileSystemModel(this);
  files_->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
  files_->setNameFilterDisables(false);
  fileView = new QListView(this);
  fileView->setModel(files_);
  fileView->setSelectionMode(QAbstractItemView::ExtendedSelection);
  fileView->setMinimumSize(240, 240);

  folderLabel = new QLabel(this);
  folderLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  nameEdit = new QLineEdit(this);
  typeBox = new QComboBox(this);
  for (const char* filter : kFilters) typeBox->addItem(QString::fromLatin1(filter));
  files_->setNameFilters(PatternsOf(typeBox->currentText()));

  okButton = new QPushButton(QStringLiteral("OK"), this);
  cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  helpButton = new QPushButton(QStringLiteral("&Help"), this);
  okButton->setDefault(true);
  for (QPushButton* b : {cancelButton, helpButton}) b->setAutoDefault(false);

  previewView = new PictureView(this);
  previewView->setFixedSize(kPreviewArea);
  playButton = new TransportButton(TransportButton::Face::kPlay, QStringLiteral("Play"), this);
  infoButton = new QPushButton(QStringLiteral("&Info..."), this);
  browseButton = new QPushButton(QStringLiteral("&Browse..."), this);
  for (QPushButton* b : {infoButton, browseButton}) b->setAutoDefault(false);
  autoPlayBox = new QCheckBox(QStringLiteral("&Auto Play"), this);
  muteBox = new QCheckBox(QStringLiteral("&Mute"), this);
  subjectField = new QLineEdit(this);
  descriptionField = new QLineEdit(this);
  for (QLineEdit* f : {subjectField, descriptionField}) f->setReadOnly(true);

  // The folder tree is read in the background: the current folder is shown once its parents are.
  connect(folders_, &QFileSystemModel::directoryLoaded, this, [this](const QString& path) {
    if (folder_.startsWith(path)) RevealFolder();
  });
  connect(folderView->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& index) {
            if (index.isValid()) SetFolder(folders_->filePath(index));
          });
  connect(fileView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &SelectFilesDialog::ListSelectionChanged);
  connect(fileView, &QListView::activated, this, [this](const QModelIndex& index) {
    if (files_->isDir(index)) {
      SetFolder(files_->filePath(index));
      return;
    }
    Accept();
  });
  connect(typeBox, &QComboBox::currentTextChanged, this,
          [this](const QString& filter) { files_->setNameFilters(PatternsOf(filter)); });
  connect(nameEdit, &QLineEdit::textChanged, this, &SelectFilesDialog::NameChanged);
  // Enter presses OK; a folder's name, for which OK is disabled, opens the folder.
  connect(nameEdit, &QLineEdit::returnPressed, this, [this] {
    if (!okButton->isEnabled()) Accept();
  });
  connect(okButton, &QPushButton::clicked, this, &SelectFilesDialog::Accept);
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(helpButton, &QPushButton::clicked, this, [this] {
    ClosePlayer();
    if (services_.help != nullptr) services_.help->ShowTopic(kHelpSelectFiles, this);
  });
  connect(playButton, &QAbstractButton::clicked, this, &SelectFilesDialog::PlayButton);
  connect(infoButton, &QPushButton::clicked, this, [this] {
    ClosePlayer();
    const QStringList names = FileNamesIn(nameEdit->text());
    if (names.size() != 1 || KindByExtension(names[0].toStdString()) == ConversionKind::kNone)
      return;
    if (services_.showInformation) services_.showInformation(this, FullPath(names[0]));
  });
  connect(browseButton, &QPushButton::clicked, this, [this] {
    ClosePlayer();
    const QString chosen = ThumbnailBrowser::Choose(folder_, this);
    if (chosen.isEmpty()) return;
    const QFileInfo file(chosen);
    nameEdit->setText(file.absolutePath() == QDir(folder_).absolutePath() ? file.fileName()
                                                                          : chosen);
  });
  connect(autoPlayBox, &QCheckBox::toggled, this, [this](bool on) { memory_.autoPlay = on; });
  connect(muteBox, &QCheckBox::toggled, this, [this](bool on) {
    memory_.mute = on;
    if (player_) player_->SetMuted(on);
  });

  auto* names = new QFormLayout;
  names->addRow(QStringLiteral("File &name:"), nameEdit);
  names->addRow(QStringLiteral("Files of &type:"), typeBox);
  static_cast<QLabel*>(names->labelForField(nameEdit))->setBuddy(nameEdit);
  auto* lists = new QHBoxLayout;
  lists->addWidget(folderView, 2);
  lists->addWidget(fileView, 3);
  auto* left = new QVBoxLayout;
  left->addWidget(folderLabel);
  left->addLayout(lists, 1);
  left->addLayout(names);

  auto* preview = new QGroupBox(QStringLiteral("Preview"), this);
  auto* pv = new QGridLayout(preview);
  pv->addWidget(previewView, 0, 0, 1, 2, Qt::AlignHCenter);
  pv->addWidget(playButton, 1, 1, Qt::AlignRight);
  pv->addWidget(autoPlayBox, 2, 0);
  pv->addWidget(muteBox, 2, 1);
  pv->addWidget(infoButton, 3, 0);
  pv->addWidget(browseButton, 3, 1);
  auto* texts = new QFormLayout;
  texts->addRow(QStringLiteral("Sub&ject:"), subjectField);
  texts->addRow(QStringLiteral("Des&cription:"), descriptionField);
  static_cast<QLabel*>(texts->labelForField(subjectField))->setBuddy(subjectField);
  static_cast<QLabel*>(texts->labelForField(descriptionField))->setBuddy(descriptionField);
  pv->addLayout(texts, 4, 0, 1, 2);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(okButton);
  buttons->addWidget(cancelButton);
  buttons->addWidget(helpButton);
  buttons->addStretch();
  auto* right = new QVBoxLayout;
  right->addWidget(preview);
  right->addStretch();

  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(right);
  layout->addLayout(buttons);
  resize(900, 440);
}

void SelectFilesDialog::SetFolder(const QString& folder) {
  const QString absolute = QDir(folder).absolutePath();
  if (absolute == folder_) return;
  folder_ = absolute;
  memory_.folder = folder_;
  folderLabel->setText(QStringLiteral("Look in: ") + QDir::toNativeSeparators(folder_));
  fileView->setRootIndex(files_->setRootPath(folder_));
  RevealFolder();
}

void SelectFilesDialog::RevealFolder() {
  const QModelIndex index = folders_->index(folder_);
  if (!index.isValid()) return;
  for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
    folderView->expand(parent);
  if (folderView->currentIndex() != index) folderView->setCurrentIndex(index);
  // The model sorts what it has read a moment later: scroll once the rows have settled.
  QTimer::singleShot(50, this, [this] {
    const QModelIndex current = folders_->index(folder_);
    folderView->scrollTo(current, QAbstractItemView::PositionAtCenter);
    // And sideways, so that the folder's name and a little of its parents' show.
    QScrollBar* sideways = folderView->horizontalScrollBar();
    sideways->setValue(sideways->value() + folderView->visualRect(current).left() - 40);
  });
}

QString SelectFilesDialog::FullPath(const QString& name) const {
  return QDir::cleanPath(QDir(folder_).absoluteFilePath(name));
}

QStringList SelectFilesDialog::SelectedPaths() const {
  QStringList paths;
  for (const QString& name : FileNamesIn(nameEdit->text())) paths << FullPath(name);
  return paths;
}

void SelectFilesDialog::ListSelectionChanged() {
  QStringList names;
  for (const QModelIndex& index : fileView->selectionModel()->selectedIndexes())
    if (!files_->isDir(index)) names << files_->fileName(index);
  if (names.isEmpty()) return;
  if (names.size() == 1) {
    nameEdit->setText(names.front());
    return;
  }
  QString field;
  for (const QString& name : names) field += QLatin1Char('"') + name + QStringLiteral("\" ");
  nameEdit->setText(field.trimmed());
}

void SelectFilesDialog::NameChanged() {
  ClosePlayer();
  previewValid_ = false;
  previewView->Clear();
  subjectField->setText(QStringLiteral(" "));
  descriptionField->setText(QStringLiteral(" "));
  const std::uint64_t generation = ++generation_;
  const QStringList names = FileNamesIn(nameEdit->text());
  reader_->DropPending();
  if (names.size() == 1) {
    previewPath_ = FullPath(names.front());
    reader_->Post([this, generation, path = previewPath_.toStdString()] {
      const PreviewResult result = ReadPreview(path);
      QMetaObject::invokeMethod(
          this, [this, generation, result] { PreviewDone(generation, result); },
          Qt::QueuedConnection);
    });
  } else {
    previewPath_.clear();
  }
  UpdateEnabling();
}

void SelectFilesDialog::PreviewDone(std::uint64_t generation, const PreviewResult& result) {
  if (generation != generation_) return;
  previewValid_ = result.valid;
  previewView->ShowPicture(result.picture);
  // Long texts are read from their start.
  for (auto [field, text] : {std::pair{subjectField, &result.texts.subject},
                             std::pair{descriptionField, &result.texts.description}}) {
    field->setText(TextOf(*text));
    field->setCursorPosition(0);
  }
  UpdateEnabling();
  if (IsFailure(result.failure) && services_.dialogs != nullptr)
    services_.dialogs->ShowMessage(
        this, QString::fromStdString(ErrorText(result.failure, previewPath_.toStdString())),
        BoxIcon::kExclamation);
  if (playButton->isEnabled() && autoPlayBox->isChecked()) PlayButton();
  emit previewRead();
}

void SelectFilesDialog::UpdateEnabling() {
  const QStringList names = FileNamesIn(nameEdit->text());
  const ConversionKind kind =
      names.size() == 1 ? KindByExtension(names.front().toStdString()) : ConversionKind::kNone;
  const SelectFilesEnabling e =
      SelectFilesEnablingFor(static_cast<int>(names.size()), kind, previewValid_);
  okButton->setEnabled(e.ok);
  playButton->setEnabled(e.play);
  infoButton->setEnabled(e.info && static_cast<bool>(services_.showInformation));
}

void SelectFilesDialog::PlayButton() {
  switch (playState_) {
    case PlayState::kStopped: {
      if (previewPath_.isEmpty() || !previewValid_) return;
      if (player_) {  // played to its end before
        player_->Play();
        playState_ = PlayState::kPlaying;
        break;
      }
      player_ = std::make_unique<playback::Player>(services_.player);
      playback::Player* player = player_.get();
      player->SetMuted(muteBox->isChecked());
      connect(player, &playback::Player::opened, player, &playback::Player::Play);
      connect(player, &playback::Player::positionChanged, this, [this, player] {
        if (player->info().hasPictures) previewView->ShowPicture(player->picture());
      });
      connect(player, &playback::Player::ended, this, &SelectFilesDialog::PlayerEnded);
      const auto fail = [this](int status) {
        ClosePlayer();
        if (services_.dialogs != nullptr)
          services_.dialogs->ShowMessage(
              this,
              QString::fromStdString(
                  ErrorText(static_cast<Status>(status), previewPath_.toStdString())),
              BoxIcon::kExclamation);
      };
      connect(player, &playback::Player::openFailed, this, fail);
      connect(player, &playback::Player::decodeFailed, this, fail);
      player->Open(previewPath_);
      playState_ = PlayState::kPlaying;
      break;
    }
    case PlayState::kPlaying:
      player_->Pause();
      playState_ = PlayState::kPaused;
      break;
    case PlayState::kPaused:
      player_->SetMuted(muteBox->isChecked());
      player_->Play();
      playState_ = PlayState::kPlaying;
      break;
  }
  SetPlayFace();
}

void SelectFilesDialog::PlayerEnded() {
  // Back to the start, ready to play again.
  playState_ = PlayState::kStopped;
  if (player_) player_->Stop();
  SetPlayFace();
}

void SelectFilesDialog::ClosePlayer() {
  if (player_) {
    player_->Close();
    // Closed from one of its own signals, it goes once that signal is done.
    player_.release()->deleteLater();
  }
  playState_ = PlayState::kStopped;
  SetPlayFace();
}

void SelectFilesDialog::SetPlayFace() {
  const bool playing = playState_ == PlayState::kPlaying;
  playButton->setFace(playing ? TransportButton::Face::kPause : TransportButton::Face::kPlay);
  playButton->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
}

void SelectFilesDialog::Accept() {
  const QStringList names = FileNamesIn(nameEdit->text());
  if (names.size() == 1 && QFileInfo(FullPath(names.front())).isDir()) {
    // A folder typed in the field is opened, as in any file dialog.
    SetFolder(FullPath(names.front()));
    nameEdit->clear();
    return;
  }
  if (names.isEmpty() || !okButton->isEnabled()) return;
  ClosePlayer();
  accept();
}

namespace {

SelectFilesDialog::PreviewResult ReadPreview(const std::string& path) {
  SelectFilesDialog::PreviewResult result;
  if (!QFileInfo(QString::fromStdString(path)).isFile()) return result;
  const ConversionKind kind = KindByExtension(path);
  switch (kind) {
    case ConversionKind::kAviToMpeg:
    case ConversionKind::kMpegToAvi: {
      if (kind == ConversionKind::kAviToMpeg) result.texts = ReadAviTexts(path);
      Status status = kOk;
      result.picture = FirstPicture(path, kPreviewArea - QSize(2, 2), &status);
      result.valid = status == kOk;
      result.failure = status;
      break;
    }
    case ConversionKind::kWavToMp2:
    case ConversionKind::kMp2ToWav:
      result.valid = true;  // nothing to draw
      break;
    case ConversionKind::kNone:
      break;
  }
  return result;
}

}  // namespace

}  // namespace calvex::ui
