// The source list of the main window: adding files (chooser, drop, command line), removing them,
// list files and the list kept between starts.
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <filesystem>

#include "core/error_report.h"
#include "core/file_names.h"
#include "ui/help.h"
#include "ui/main_window.h"
#include "ui/user_dialogs.h"

namespace calvex::ui {
namespace {

const QString kListFilter = QStringLiteral("List file (*.lst)");

QString SourceFilters() {
  return QStringLiteral(
      "All Formats (*.avi *.wav *.mpg *.mp2);;Microsoft AVI Files (*.avi);;"
      "Microsoft Waveform Files (*.wav);;MPEG Files (*.mpg);;MPEG Audio Files (*.mp2);;"
      "All Files (*)");
}

// A full path that keeps its case (file names are case-sensitive here).
QString FullPath(const QString& name, const QString& base) {
  return QDir::cleanPath(QDir(base).absoluteFilePath(name));
}

}  // namespace

QStringList MainWindow::CommandLinePaths(const QStringList& arguments,
                                         const QString& workingDirectory) {
  QStringList paths;
  if (arguments.isEmpty()) return paths;
  const QString first = FullPath(arguments.front(), workingDirectory);
  if (arguments.size() > 1 && QFileInfo(first).isDir()) {
    for (qsizetype i = 1; i < arguments.size(); ++i) paths << FullPath(arguments[i], first);
  } else {
    for (const QString& a : arguments) paths << FullPath(a, workingDirectory);
  }
  return paths;
}

void MainWindow::StartUp(const QStringList& commandLine, const QString& workingDirectory) {
  if (preferences_.saveWhenExit) {
    initialising_ = true;
    QTimer::singleShot(0, this, [this] {
      setCursor(Qt::WaitCursor);
      LoadSavedList();
      RefreshPages();
      initialising_ = false;
      unsetCursor();
    });
  }
  if (!commandLine.isEmpty()) {
    initialising_ = true;
    QTimer::singleShot(0, this, [this, commandLine, workingDirectory] {
      setCursor(Qt::WaitCursor);
      AddFiles(CommandLinePaths(commandLine, workingDirectory), true);
      RefreshPages();
      initialising_ = false;
      unsetCursor();
    });
  }
}

void MainWindow::AddCommandLine(const QStringList& arguments, const QString& workingDirectory) {
  if (runInProgress_ || !CommitPages()) {
    dialogs_.Beep();
    return;
  }
  AddFiles(CommandLinePaths(arguments, workingDirectory), true);
  RefreshPages();
}

void MainWindow::AddListLine(const QString& path) {
  auto* line = new QListWidgetItem(path, fileList);
  line->setToolTip(path);
}

bool MainWindow::AddOneFile(const QString& path) {
  const std::string p = path.toStdString();
  const bool duplicate = std::any_of(entries_.begin(), entries_.end(),
                                     [&](const SourceEntry& e) { return e.path == p; });
  if (duplicate) return false;
  SourceEntry entry;
  const Status status = MakeSourceEntry(p, services_.readers, entry);
  if (status != kOk) {
    // A missing file or an unknown kind is only refused; a reader's failure is shown.
    if (status != kOpenFailed && KindByExtension(p) != ConversionKind::kNone)
      Error(QString::fromStdString(ErrorText(status, p)));
    return false;
  }
  entries_.push_back(std::move(entry));
  AddListLine(path);
  return true;
}

bool MainWindow::AddFiles(const QStringList& paths, bool deselectOthers) {
  if (paths.isEmpty()) {
    dialogs_.Beep();
    return false;
  }
  fileList->setUpdatesEnabled(false);
  std::vector<int> selected = deselectOthers ? std::vector<int>{} : SelectedRows();
  bool added = false;
  for (const QString& path : paths) {
    if (AddOneFile(FullPath(path, QDir::currentPath()))) {
      selected.push_back(static_cast<int>(entries_.size()) - 1);
      added = true;
    } else {
      dialogs_.Beep();
    }
  }
  if (!added && !entries_.empty()) selected = {0};
  SetSelection(selected);
  fileList->setUpdatesEnabled(true);
  return added;
}

void MainWindow::SelectFilesCommand() {
  if (runInProgress_ || !CommitPages()) return;
  CloseSimplePreview();
  const QStringList files =
      selectFiles ? selectFiles(*this) : dialogs_.OpenFiles(this, Message(32), SourceFilters());
  if (files.isEmpty()) return;
  AddFiles(files, true);
  RefreshPages();
}

void MainWindow::RemoveCommand() {
  if (runInProgress_) return;
  CloseSimplePreview();
  // Removing commits nothing: what the pages hold for the removed entries goes with them, valid
  // or not, and no selection change on the way may commit or restore it.
  std::vector<int> rows = SelectedRows();
  pageSelection_.clear();
  selectionGuard_ = true;
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    delete fileList->takeItem(*it);
    entries_.erase(entries_.begin() + *it);
  }
  selectionGuard_ = false;
  SetSelection({0});
  RefreshPages();
}

void MainWindow::RemoveAllCommand() {
  if (runInProgress_) return;
  CloseSimplePreview();
  selectionGuard_ = true;
  fileList->clear();
  selectionGuard_ = false;
  entries_.clear();
  pageSelection_.clear();
  RefreshPages();
}

SourceList MainWindow::CurrentList() const {
  SourceList list;
  list.entries = entries_;
  list.destinationMode = anotherDirectory->isChecked() ? DestinationMode::kAnotherDirectory
                                                       : DestinationMode::kSameDirectory;
  if (list.destinationMode == DestinationMode::kAnotherDirectory)
    list.destinationDirectory = directoryEdit->text().toStdString();
  return list;
}

void MainWindow::ApplyLoadedList(SourceList list) {
  selectionGuard_ = true;
  fileList->clear();
  entries_ = std::move(list.entries);
  for (const SourceEntry& e : entries_) AddListLine(QString::fromStdString(e.path));
  selectionGuard_ = false;
  if (list.destinationMode == DestinationMode::kSameDirectory) {
    sameDirectory->setChecked(true);
  } else {
    directoryEdit->setText(QString::fromStdString(list.destinationDirectory));
    anotherDirectory->setChecked(true);
  }
  pageSelection_.clear();
  SetSelection(entries_.empty() ? std::vector<int>{} : std::vector<int>{0});
}

void MainWindow::LoadListCommand() {
  if (runInProgress_) return;
  CloseSimplePreview();
  const QString path = dialogs_.OpenFile(this, Message(42), kListFilter);
  if (path.isEmpty()) return;
  SourceList list;
  if (LoadListFile(path.toStdString(), list) != kOk) {
    Error(QString::fromStdString(ErrorText(kListFileCorrupted)));
    return;
  }
  setCursor(Qt::WaitCursor);
  ApplyLoadedList(std::move(list));
  RefreshPages();
  unsetCursor();
}

void MainWindow::SaveListCommand() {
  if (runInProgress_ || !CommitPages()) return;
  CloseSimplePreview();
  QString path = dialogs_.SaveFile(this, Message(41), kListFilter, QStringLiteral("lst"));
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".lst");
  if (QFileInfo::exists(path) &&
      !dialogs_.AskYesNo(this, QString::fromStdString(FormatMessage(242, path.toStdString()))))
    return;
  const Status status = SaveListFile(path.toStdString(), CurrentList());
  // A list that cannot be stored or written is said so: the user expects the file to be there.
  if (status != kOk) Error(QString::fromStdString(ErrorText(status, path.toStdString())));
}

void MainWindow::BrowseCommand() {
  if (runInProgress_) return;
  CloseSimplePreview();
  const QString dir = dialogs_.ChooseDirectory(this, Message(60), directoryEdit->text());
  if (dir.isEmpty()) return;
  directoryEdit->setText(QString::fromStdString(WithTrailingSeparator(dir.toStdString())));
}

void MainWindow::LoadSavedList() {
  SourceList list;
  if (LoadListFile(services_.savedListPath, list) == kOk) ApplyLoadedList(std::move(list));
}

void MainWindow::SaveListAtExit() {
  if (!preferences_.saveWhenExit || !CommitPages()) return;
  SourceList list = CurrentList();
  if (list.destinationDirectory.size() > kListDirectoryMax) {
    list.destinationMode = DestinationMode::kSameDirectory;
    list.destinationDirectory.clear();
  }
  std::error_code ec;
  std::filesystem::create_directories(DirectoryOf(services_.savedListPath), ec);
  SaveListFile(services_.savedListPath, list);  // failures are silent
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!runInProgress_ && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  DropFiles(event->mimeData()->urls());
}

void MainWindow::DropFiles(const QList<QUrl>& urls) {
  if (runInProgress_ || !CommitPages()) return;
  QStringList paths;
  for (const QUrl& url : urls)
    if (url.isLocalFile()) paths << url.toLocalFile();
  setCursor(Qt::WaitCursor);
  AddFiles(paths, true);
  unsetCursor();
  RefreshPages();
}

// Drops on the destination field: one directory becomes the destination (when the field is
// open for typing); files are added to the list as anywhere else on the window.
bool MainWindow::DirectoryFieldDrop(QEvent* event) {
  if (event->type() != QEvent::DragEnter && event->type() != QEvent::DragMove &&
      event->type() != QEvent::Drop)
    return false;
  auto* drop = static_cast<QDropEvent*>(event);
  const QList<QUrl> urls = drop->mimeData()->urls();
  if (urls.isEmpty()) return false;  // dragged text goes into the field as usual
  if (runInProgress_) {
    drop->ignore();
    return true;
  }
  drop->acceptProposedAction();
  if (event->type() != QEvent::Drop) return true;
  const QFileInfo first(urls.front().toLocalFile());
  if (urls.size() == 1 && first.isDir()) {
    if (directoryEdit->isEnabled())
      directoryEdit->setText(
          QString::fromStdString(WithTrailingSeparator(first.absoluteFilePath().toStdString())));
    else
      dialogs_.Beep();
  } else {
    DropFiles(urls);
  }
  return true;
}

}  // namespace calvex::ui
