#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "core/messages.h"
#include "engine/info_text.h"
#include "ui/compression/video_compression_dialog.h"
#include "ui/frame_view.h"
#include "ui/help.h"
#include "ui/info/information_dialog.h"
#include "ui/pages/audio_format_dialog.h"
#include "ui/pages/avi_to_mpeg_page.h"
#include "ui/pages/mp2_to_wav_page.h"
#include "ui/pages/mpeg_to_avi_page.h"
#include "ui/pages/wav_to_mp2_page.h"
#include "ui/preferences_dialog.h"
#include "ui/program_icon.h"
#include "ui/status_strip.h"
#include "ui/toolbar.h"
#include "ui/user_dialogs.h"

namespace calvex::ui {
namespace {

constexpr int kMaxSelection = 100;

QPushButton* Button(const QString& text, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setAutoDefault(false);
  return b;
}

// Lines no wider than the list, so that a long path is shortened in its middle (the whole of it
// in the line's tool tip) rather than cut at its end or scrolled.
class ListLineDelegate : public QStyledItemDelegate {
 public:
  explicit ListLineDelegate(QListWidget* list) : QStyledItemDelegate(list), list_(list) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(std::min(size.width(), list_->viewport()->width()));
    return size;
  }

 private:
  QListWidget* list_;
};

void ElideInTheMiddle(QListWidget* list) {
  list->setTextElideMode(Qt::ElideMiddle);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setResizeMode(QListView::Adjust);
  list->setItemDelegate(new ListLineDelegate(list));
}

// Whether two picture sizes have the same width : height (cross products compared).
bool SameAspect(std::int64_t w1, std::int64_t h1, std::int64_t w2, std::int64_t h2) {
  return w1 * h2 == w2 * h1;
}

}  // namespace

MainWindow::MainWindow(MainWindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      services_(std::move(services)),
      dialogs_(*services_.dialogs),
      help_(std::make_unique<HelpSystem>()) {
  preferences_ = ReadPreferences(services_.preferencesPath);
  setWindowTitle(ApplicationTitle());
  setWindowIcon(ProgramIcon());
  setAcceptDrops(true);
  BuildPanel();
  BuildSystemMenu();
  strip->Reset();
  RefreshPages();
  // The list takes what the window grows by; the window starts at its smallest, centred.
  setMinimumSize(sizeHint());
  resize(sizeHint());
  CentreOnDesktop(this);
  qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  if (runThread_ != nullptr) {
    // Never leave a conversion running beneath a window that goes away: cancel it and let its
    // last calls through.
    if (host_) host_->EndAbortQuestion(true);
    while (!runThread_->wait(10)) QCoreApplication::processEvents();
    delete runThread_;
  }
}

void MainWindow::BuildPanel() {
  auto* toolbar = new QHBoxLayout;
  convertButton = new ToolBarButton(ToolBarButton::Face::kConvert, QStringLiteral("Convert"), this);
  helpButton = new ToolBarButton(ToolBarButton::Face::kHelp, QStringLiteral("Help"), this);
  exitButton = new ToolBarButton(ToolBarButton::Face::kExit, QStringLiteral("Exit"), this);
  logo = new ToolBarLogo(this);
  for (ToolBarButton* b : {convertButton, helpButton, exitButton}) {
    b->tipsAllowed = [this] { return preferences_.toolTip; };
    toolbar->addWidget(b);
  }
  toolbar->addStretch();
  toolbar->addWidget(logo);
  connect(convertButton, &QAbstractButton::clicked, this, [this] { ConvertCommand(); });
  connect(helpButton, &QAbstractButton::clicked, this, [this] { HelpCommand(); });
  connect(exitButton, &QAbstractButton::clicked, this, [this] {
    if (!initialising_) close();
  });

  listArea_ = BuildListArea();

  tabs = new QTabWidget(this);
  // The pages live as hidden children of the tab widget while no tab shows them, so the ones
  // never shown are freed with the window.
  aviPage = new AviToMpegPage(tabs);
  wavPage = new WavToMp2Page(tabs);
  mpegPage = new MpegToAviPage(tabs);
  mp2Page = new Mp2ToWavPage(tabs);
  nothingPage = new QWidget(tabs);
  auto* nothingLayout = new QVBoxLayout(nothingPage);
  auto* nothingText = new QLabel(
      QStringLiteral("Select files in the list to set how they are converted."), nothingPage);
  nothingText->setAlignment(Qt::AlignCenter);
  nothingLayout->addWidget(nothingText);
  convertingPage = BuildConvertingPage();
  for (QWidget* page : {static_cast<QWidget*>(aviPage), static_cast<QWidget*>(wavPage),
                        static_cast<QWidget*>(mpegPage), static_cast<QWidget*>(mp2Page),
                        nothingPage, convertingPage})
    page->hide();
  mpegPage->chooseAudioFormat = [this](WaveFormat& format) {
    AudioFormatDialog dialog(format, help_.get(), this);
    if (dialog.exec() != QDialog::Accepted) return false;
    format = dialog.Chosen();
    return true;
  };
  mpegPage->chooseCompression = [this](MpegToAviParams& record) {
    VideoCompressionDialog dialog(record, help_.get(), this);
    if (dialog.exec() != QDialog::Accepted) return false;
    record = dialog.chosen();
    return true;
  };
  tabs->setFixedHeight(236);

  strip = new StatusStrip(this);
  connect(strip->time, &StatusCell::infoClicked, this, [this] {
    if (infoButton->isEnabled()) infoButton->click();
  });

  auto* panel = new QVBoxLayout;
  panel->setContentsMargins(8, 6, 8, 6);
  panel->addLayout(toolbar);
  panel->addWidget(listArea_, 1);
  panel->addWidget(tabs);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  menuBar = new QMenuBar(this);
  outer->setMenuBar(menuBar);
  outer->addLayout(panel, 1);
  outer->addWidget(strip);
}

QWidget* MainWindow::BuildListArea() {
  auto* area = new QWidget(this);
  fileList = new QListWidget(area);
  fileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ElideInTheMiddle(fileList);
  auto* listLabel = new QLabel(QStringLiteral("Selected &Files:"), area);
  listLabel->setBuddy(fileList);
  connect(fileList, &QListWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });
  connect(fileList, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    // AVI and WAV files play in the simple preview; MPEG and MP2 files only sound the default
    // beep.
    const int row = fileList->row(item);
    const bool playable = row >= 0 && (entries_[row].kind == ConversionKind::kAviToMpeg ||
                                       entries_[row].kind == ConversionKind::kWavToMp2);
    if (runInProgress_ || !playable || !openSimplePreview) {
      dialogs_.Beep();
      return;
    }
    CloseSimplePreview();
    simplePreview_ = openSimplePreview(*this, row);
  });

  infoButton = Button(QStringLiteral("&Info..."), area);
  scratchButton = Button(QStringLiteral("S&cratch..."), area);
  loadButton = Button(QStringLiteral("&Load..."), area);
  saveButton = Button(QStringLiteral("&Save..."), area);
  selectButton = Button(QStringLiteral("S&elect..."), area);
  removeButton = Button(QStringLiteral("&Remove"), area);
  removeAllButton = Button(QStringLiteral("Remove &All"), area);
  connect(infoButton, &QPushButton::clicked, this, [this] { InfoCommand(); });
  connect(scratchButton, &QPushButton::clicked, this, [this] {
    const auto rows = SelectedRows();
    if (!runInProgress_ && rows.size() == 1 && openScratchPad) openScratchPad(*this, rows[0]);
  });
  connect(loadButton, &QPushButton::clicked, this, [this] { LoadListCommand(); });
  connect(saveButton, &QPushButton::clicked, this, [this] { SaveListCommand(); });
  connect(selectButton, &QPushButton::clicked, this, [this] { SelectFilesCommand(); });
  connect(removeButton, &QPushButton::clicked, this, [this] { RemoveCommand(); });
  connect(removeAllButton, &QPushButton::clicked, this, [this] { RemoveAllCommand(); });

  auto* destination = new QGroupBox(QStringLiteral("Destination"), area);
  sameDirectory = new QRadioButton(QStringLiteral("Sa&me Directory"), destination);
  anotherDirectory = new QRadioButton(QStringLiteral("A&nother Directory"), destination);
  directoryEdit = new QLineEdit(destination);
  directoryEdit->setMaxLength(static_cast<int>(kListDirectoryMax));
  // Files dropped on the field are added like files dropped anywhere else, not pasted.
  directoryEdit->installEventFilter(this);
  browseButton = Button(QStringLiteral("&Browse..."), destination);
  auto* dg = new QGridLayout(destination);
  dg->addWidget(sameDirectory, 0, 0);
  dg->addWidget(anotherDirectory, 0, 1);
  dg->addWidget(directoryEdit, 1, 0, 1, 2);
  dg->addWidget(browseButton, 1, 2);
  sameDirectory->setChecked(true);
  connect(sameDirectory, &QRadioButton::toggled, this, [this] { DestinationChanged(); });
  connect(browseButton, &QPushButton::clicked, this, [this] { BrowseCommand(); });
  DestinationChanged();

  auto* buttons = new QGridLayout;
  buttons->setSpacing(4);
  buttons->addWidget(infoButton, 0, 0);
  buttons->addWidget(scratchButton, 0, 1);
  buttons->addWidget(loadButton, 1, 0);
  buttons->addWidget(saveButton, 1, 1);
  buttons->addWidget(selectButton, 2, 0);
  buttons->addWidget(removeButton, 2, 1);
  buttons->addWidget(removeAllButton, 3, 0, 1, 2);

  auto* left = new QVBoxLayout;
  left->setSpacing(2);
  left->addWidget(listLabel);
  left->addWidget(fileList, 1);
  auto* right = new QVBoxLayout;
  right->addLayout(buttons);
  right->addSpacing(12);
  right->addWidget(destination);
  right->addStretch();  // a taller window gives the room to the list
  auto* row = new QHBoxLayout(area);
  row->setContentsMargins(0, 0, 0, 0);
  row->addLayout(left, 1);
  row->addLayout(right);
  fileList->setMinimumWidth(300);
  return area;
}

QWidget* MainWindow::BuildConvertingPage() {
  auto* page = new QWidget(tabs);
  statusList = new QListWidget(page);
  auto* label = new QLabel(QStringLiteral("&Current Status:"), page);
  label->setBuddy(statusList);
  frameView = new FrameView(page);
  frameView->setFixedSize(240, 180);
  auto* frame = new QGroupBox(page);  // 605, the frame around the view
  auto* fl = new QVBoxLayout(frame);
  fl->setContentsMargins(1, 1, 1, 1);
  fl->addWidget(frameView);
  auto* left = new QVBoxLayout;
  left->addWidget(label);
  left->addWidget(statusList);
  auto* row = new QHBoxLayout(page);
  row->addLayout(left, 1);
  row->addWidget(frame);
  return page;
}

void MainWindow::BuildSystemMenu() {
  // The system menu's items, from a right click anywhere on the window and from the menu bar.
  auto* preferences = new QAction(Message(211), this);
  connect(preferences, &QAction::triggered, this, [this] { PreferencesCommand(); });
  auto* products = new QAction(Message(43), this);
  connect(products, &QAction::triggered, this, [this] { help_->ShowTopic(kHelpProducts, this); });
  auto* about = new QAction(Message(44), this);
  connect(about, &QAction::triggered, this, [this] {
    QMessageBox::about(this, ApplicationTitle(),
                       QStringLiteral("<b>%1</b><p>Version %2</p><p>MPEG-1 video and audio "
                                      "converter.</p>")
                           .arg(ApplicationTitle(), QStringLiteral(CALVEX_VERSION)));
  });
  systemMenu = new QMenu(this);
  systemMenu->addAction(preferences);
  systemMenu->addSeparator();
  systemMenu->addAction(products);
  systemMenu->addAction(about);

  // No mnemonics on the menu titles: Alt and a letter belong to the panel's fields.
  QMenu* settings = menuBar->addMenu(QStringLiteral("Settings"));
  settings->addAction(preferences);
  QMenu* help = menuBar->addMenu(QStringLiteral("Help"));
  help->addAction(QStringLiteral("Help Contents"), this, [this] { HelpCommand(); });
  help->addSeparator();
  help->addAction(products);
  help->addAction(about);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
  systemMenu->popup(event->globalPos());
}

void MainWindow::DestinationChanged() {
  const bool another = anotherDirectory->isChecked();
  directoryEdit->setEnabled(another);
  browseButton->setEnabled(another);
}

void MainWindow::Error(const QString& text) {
  dialogs_.ShowMessage(this, text, BoxIcon::kExclamation);
}

void MainWindow::HelpCommand() {
  if (initialising_) return;
  CloseSimplePreview();
  help_->ShowTopic(kHelpContents, this);
}

void MainWindow::InfoCommand() {
  const auto rows = SelectedRows();
  if (runInProgress_ || rows.size() != 1) return;
  const auto row = static_cast<std::size_t>(rows[0]);
  const std::string path = entries_[row].path;
  if (ShowFileInformation(this, path, services_.readers, help_.get(), dialogs_) != kOk) return;
  // What the AVI dialog wrote back goes into the entry too (a second start may have added files
  // while the dialog was up, but the entries before them stay where they were).
  if (row < entries_.size() && entries_[row].path == path &&
      entries_[row].kind == ConversionKind::kAviToMpeg)
    CompleteAviInfo(entries_[row].aviInfo);
}

void MainWindow::PreferencesCommand() {
  PreferencesDialog dialog(preferences_, services_.preferencesPath, dialogs_, *help_, this);
  if (dialog.exec() == QDialog::Accepted) preferences_ = dialog.result();
}

int MainWindow::HelpContextAt(const QPoint& global, bool* popup) const {
  *popup = false;
  QWidget* under = QApplication::widgetAt(global);
  if (under == convertButton) {
    *popup = true;
    return kHelpConvertButton;
  }
  if (under == helpButton) return kHelpHelpButton;
  if (under == exitButton) {
    *popup = true;
    return kHelpExitButton;
  }
  QWidget* page = tabs->currentWidget();
  if (page == aviPage) return kHelpAviToMpegPage;
  if (page == mpegPage) return kHelpMpegToAviPage;
  if (page == mp2Page) return kHelpMp2ToWavPage;
  if (page == wavPage) return kHelpWavToMp2Page;
  return kHelpMainWindow;
}

void MainWindow::ShowHelpForF1() {
  // A dialog up shows its own topic; otherwise the button under the pointer or the page.
  std::optional<int> dialogContext = DialogHelpContext(QApplication::activeModalWidget());
  if (!dialogContext) dialogContext = DialogHelpContext(QApplication::activeWindow());
  if (dialogContext) {
    help_->ShowTopic(*dialogContext);
    return;
  }
  bool popup = false;
  const int context = HelpContextAt(QCursor::pos(), &popup);
  if (popup)
    help_->ShowPopup(context);
  else
    help_->ShowTopic(context, this);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == directoryEdit && DirectoryFieldDrop(event)) return true;
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    // An open popup takes every key itself (a help popup closes on it).
    if (key == Qt::Key_F1 && !static_cast<QKeyEvent*>(event)->isAutoRepeat() &&
        QApplication::activePopupWidget() == nullptr) {
      ShowHelpForF1();
      return true;
    }
    if (key == Qt::Key_Escape && converting_) {
      AskAbort();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // A run's state must never be freed beneath it: the window stays until the run has ended.
  if (runInProgress_) {
    dialogs_.Beep();
    event->ignore();
    return;
  }
  CloseSimplePreview();
  SaveListAtExit();
  help_.reset();
  event->accept();
}

void MainWindow::CloseSimplePreview() {
  delete simplePreview_;
}

void MainWindow::SetSections(int row, std::vector<Section> sections) {
  if (row >= 0 && row < static_cast<int>(entries_.size()))
    entries_[static_cast<std::size_t>(row)].sections = std::move(sections);
}

// --- Pages -----------------------------------------------------------------------------------

std::vector<int> MainWindow::SelectedRows() const {
  std::vector<int> rows;
  for (int i = 0; i < fileList->count(); ++i)
    if (fileList->item(i)->isSelected()) rows.push_back(i);
  return rows;
}

void MainWindow::SetSelection(const std::vector<int>& rows) {
  selectionGuard_ = true;
  fileList->clearSelection();
  for (int row : rows)
    if (row >= 0 && row < fileList->count()) fileList->item(row)->setSelected(true);
  if (!rows.empty() && rows.front() < fileList->count())
    fileList->setCurrentRow(rows.front(), QItemSelectionModel::NoUpdate);
  selectionGuard_ = false;
}

void MainWindow::SelectionChanged() {
  if (selectionGuard_ || runInProgress_) return;
  if (!CommitPages()) return;
  RefreshPages();
}

void MainWindow::LimitSelection() {
  limitPending_ = false;
  SetSelection({0});
  fileList->scrollToTop();
  RefreshPages();
  Error(Message(148));
}

void MainWindow::ShowPageTabs(const std::vector<QWidget*>& pages) {
  QWidget* current = tabs->currentWidget();
  const std::pair<QWidget*, QString> all[] = {{aviPage, QStringLiteral("AVI --> MPE&G")},
                                              {wavPage, QStringLiteral("WAV --> MP&2")},
                                              {mpegPage, QStringLiteral("MPEG --> A&VI")},
                                              {mp2Page, QStringLiteral("MP2 --> &WAV")},
                                              {nothingPage, QStringLiteral("Nothing Selected")},
                                              {convertingPage, QStringLiteral("Converting")}};
  bool same = tabs->count() == static_cast<int>(pages.size());
  for (int i = 0; same && i < tabs->count(); ++i) same = tabs->widget(i) == pages[i];
  if (same) return;
  tabs->blockSignals(true);
  while (tabs->count() > 0) tabs->removeTab(0);
  for (QWidget* page : pages)
    for (const auto& [widget, label] : all)
      if (widget == page) tabs->addTab(page, label);
  const int keep = tabs->indexOf(current);
  tabs->setCurrentIndex(keep >= 0 ? keep : 0);
  tabs->blockSignals(false);
}

void MainWindow::UpdateButtons() {
  const auto rows = SelectedRows();
  saveButton->setEnabled(!entries_.empty());
  removeButton->setEnabled(!rows.empty());
  removeAllButton->setEnabled(!rows.empty());
  infoButton->setEnabled(rows.size() == 1);
  const bool playable = rows.size() == 1 && (entries_[rows[0]].kind == ConversionKind::kAviToMpeg ||
                                             entries_[rows[0]].kind == ConversionKind::kMpegToAvi);
  scratchButton->setEnabled(playable && openScratchPad);
}

void MainWindow::RefreshPages() {
  const std::vector<int> rows = SelectedRows();
  if (rows.size() > static_cast<std::size_t>(kMaxSelection)) {
    if (!limitPending_) {
      limitPending_ = true;
      dialogs_.Beep();
      QTimer::singleShot(0, this, [this] { LimitSelection(); });
    }
    return;
  }
  std::vector<const AviToMpegParams*> avi;
  std::vector<const WavToMp2Params*> wav;
  std::vector<const MpegToAviParams*> mpeg;
  std::vector<const Mp2ToWavParams*> mp2;
  AviPageFlags aviFlags;
  bool wavStereo = false;
  MpegPageFlags mpegFlags;
  for (int row : rows) {
    const SourceEntry& e = entries_[static_cast<std::size_t>(row)];
    switch (e.kind) {
      case ConversionKind::kAviToMpeg:
        if (avi.empty()) {
          aviFlags.referenceWidth = e.aviInfo.width;
          aviFlags.referenceHeight = e.aviInfo.height;
          aviFlags.packedRate = e.aviInfo.frameRatePacked;
        } else {
          aviFlags.aspectDiffers |= !SameAspect(aviFlags.referenceWidth, aviFlags.referenceHeight,
                                                e.aviInfo.width, e.aviInfo.height);
          aviFlags.ratesDiffer |= e.aviInfo.frameRatePacked != aviFlags.packedRate;
        }
        aviFlags.hasAudio |= e.aviInfo.HasAudio();
        aviFlags.stereo |= e.aviInfo.HasAudio() && e.aviInfo.audioChannels > 1;
        avi.push_back(&e.aviToMpeg);
        break;
      case ConversionKind::kWavToMp2:
        wavStereo |= e.wavInfo.channels > 1;
        wav.push_back(&e.wavToMp2);
        break;
      case ConversionKind::kMpegToAvi:
        if (mpeg.empty()) {
          mpegFlags.referenceWidth = e.mpegInfo.width;
          mpegFlags.referenceHeight = e.mpegInfo.height;
        } else if (!SameAspect(mpegFlags.referenceWidth, mpegFlags.referenceHeight,
                               e.mpegInfo.width, e.mpegInfo.height)) {
          mpegFlags.aspectDiffers = true;
        }
        if (e.mpegInfo.audioSampleRate != 0) mpegFlags.noAudio = false;
        mpeg.push_back(&e.mpegToAvi);
        break;
      case ConversionKind::kMp2ToWav:
        mp2.push_back(&e.mp2ToWav);
        break;
      case ConversionKind::kNone:
        break;
    }
  }
  std::vector<QWidget*> pages;
  if (!avi.empty()) {
    aviPanel_ = MergeForPanel(avi);
    aviPage->Fill(aviPanel_, aviFlags);
    pages.push_back(aviPage);
  }
  if (!wav.empty()) {
    wavPanel_ = MergeForPanel(wav);
    wavPage->Fill(wavPanel_, wavStereo);
    pages.push_back(wavPage);
  }
  if (!mpeg.empty()) {
    mpegPanel_ = MergeForPanel(mpeg);
    mpegPage->Fill(mpegPanel_, mpegFlags);
    pages.push_back(mpegPage);
  }
  if (!mp2.empty()) {
    mp2Panel_ = MergeForPanel(mp2);
    mp2Page->Fill(mp2Panel_);
    pages.push_back(mp2Page);
  }
  if (pages.empty()) pages.push_back(nothingPage);
  ShowPageTabs(pages);
  pageSelection_ = rows;
  UpdateButtons();
  if (rows.size() == 1) ShowEntryStatus(entries_[static_cast<std::size_t>(rows[0])]);
}

void MainWindow::ShowEntryStatus(const SourceEntry& e) {
  const auto channelText = [](std::int32_t mode, const QString& otherwise) {
    const std::string text = ChannelModeText(mode);
    return text.empty() ? otherwise : QString::fromStdString(text);
  };
  switch (e.kind) {
    case ConversionKind::kAviToMpeg: {
      const AviInfo& i = e.aviInfo;
      const double rate =
          i.RateDenominator() == 0
              ? 0.0
              : std::trunc(static_cast<double>(i.RateNumerator()) / i.RateDenominator() * 100) *
                    0.01;
      strip->frameRate->setText(QString::asprintf("%3.2f", rate));
      strip->frameSize->setText(QString::asprintf("%3d x %3d", i.width, i.height));
      if (i.HasAudio()) {
        strip->time->setText(QString::asprintf("%3.3f", i.audioSampleRate * 0.001));
        strip->stage->setText(Message(i.audioChannels == 1 ? 57 : 50));
      } else {
        strip->stage->setText(Message(281));
      }
      break;
    }
    case ConversionKind::kMpegToAvi: {
      const MpegInfo& i = e.mpegInfo;
      if (i.frameRateDen == 1)
        strip->frameRate->setText(QString::asprintf("%d", i.frameRateNum));
      else if (i.frameRateDen > 0)
        strip->frameRate->setText(
            QString::asprintf("%2.3f", static_cast<double>(i.frameRateNum) / i.frameRateDen));
      strip->frameSize->setText(QString::asprintf("%3d x %3d", i.width, i.height));
      if (i.audioSampleRate != 0) {
        const QString time = QString::asprintf("%2.3f", i.audioSampleRate * 0.001);
        strip->time->setText(time);
        strip->stage->setText(channelText(i.audioChannelMode, time));
      } else {
        strip->stage->setText(Message(281));
      }
      break;
    }
    case ConversionKind::kMp2ToWav: {
      const QString time = QString::asprintf("%3.3f", e.mp2Info.sampleRate * 0.001);
      strip->time->setText(time);
      strip->stage->setText(channelText(e.mp2Info.channelMode, time));
      break;
    }
    case ConversionKind::kWavToMp2:
      strip->time->setText(QString::asprintf("%3.3f", e.wavInfo.sampleRate * 0.001));
      strip->stage->setText(Message(e.wavInfo.channels == 1 ? 57 : 50));
      break;
    case ConversionKind::kNone:
      break;
  }
}

bool MainWindow::CommitPages() {
  // The pages show the records of pageSelection_; each page checks its fields in order.
  std::vector<SourceEntry*> avi, wav, mpeg, mp2;
  for (int row : pageSelection_) {
    if (row < 0 || row >= static_cast<int>(entries_.size())) continue;
    SourceEntry& e = entries_[static_cast<std::size_t>(row)];
    if (e.kind == ConversionKind::kAviToMpeg) avi.push_back(&e);
    if (e.kind == ConversionKind::kWavToMp2) wav.push_back(&e);
    if (e.kind == ConversionKind::kMpegToAvi) mpeg.push_back(&e);
    if (e.kind == ConversionKind::kMp2ToWav) mp2.push_back(&e);
  }
  AviToMpegParams aviRecord = aviPanel_;
  WavToMp2Params wavRecord = wavPanel_;
  MpegToAviParams mpegRecord = mpegPanel_;
  Mp2ToWavParams mp2Record = mp2Panel_;
  std::optional<PageFailure> failure;
  QWidget* failedPage = nullptr;
  if (!avi.empty() && (failure = aviPage->Read(aviRecord))) failedPage = aviPage;
  if (!failure && !wav.empty() && (failure = wavPage->Read(wavRecord))) failedPage = wavPage;
  if (!failure && !mpeg.empty() && (failure = mpegPage->Read(mpegRecord))) failedPage = mpegPage;
  if (!failure && !mp2.empty() && (failure = mp2Page->Read(mp2Record))) failedPage = mp2Page;
  if (failure) {
    tabs->setCurrentWidget(failedPage);
    SetSelection(pageSelection_);
    if (failure->control != nullptr) failure->control->setFocus();
    dialogs_.Beep();
    Error(QString::fromStdString(failure->error.Text()));
    return false;
  }
  for (SourceEntry* e : avi) {
    ApplyPanel(aviRecord, e->aviToMpeg);
    // A Video CD's format follows each entry's own frame rate.
    if (e->aviToMpeg.videoCd == 1) ApplyVideoCdFormat(e->aviToMpeg, e->aviInfo.frameRatePacked);
  }
  for (SourceEntry* e : wav) ApplyPanel(wavRecord, e->wavToMp2);
  for (SourceEntry* e : mpeg) ApplyPanel(mpegRecord, e->mpegToAvi);
  for (SourceEntry* e : mp2) ApplyPanel(mp2Record, e->mp2ToWav);
  aviPanel_ = aviRecord;
  wavPanel_ = wavRecord;
  mpegPanel_ = mpegRecord;
  mp2Panel_ = mp2Record;
  return true;
}

}  // namespace calvex::ui
