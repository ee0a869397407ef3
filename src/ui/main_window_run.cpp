// The conversion run of the main window: the Convert command, the run on its own thread, and
// what the window shows of it.
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QThread>
#include <filesystem>

#include "core/error_report.h"
#include "core/messages.h"
#include "ui/frame_view.h"
#include "ui/help.h"
#include "ui/main_window.h"
#include "ui/status_strip.h"
#include "ui/toolbar.h"
#include "ui/user_dialogs.h"

namespace calvex::ui {

void MainWindow::ConvertCommand() {
  if (initialising_ || runInProgress_) return;
  CloseSimplePreview();
  if (entries_.empty()) {
    Error(QString::fromStdString(ErrorText(kSelectFileFirst)));
    return;
  }
  if (!CommitPages()) return;
  StartRun();
}

void MainWindow::StartRun() {
  runEntries_ = entries_;
  runSettings_ = BatchSettings{};
  if (anotherDirectory->isChecked())
    runSettings_.destinationDirectory = directoryEdit->text().toStdString();
  runSettings_.abortWhenError = preferences_.abortWhenErr;
  runSettings_.beepDone = preferences_.beepDone;
  runSettings_.logging = preferences_.logFile;
  runSettings_.logPath = preferences_.logFileName;
  runSettings_.clock = services_.clock;
  runSettings_.threads = std::max(1, QThread::idealThreadCount());
  runSettings_.highQualityVideo = preferences_.highQuality;

  runInProgress_ = true;
  lastRunLines_.clear();
  lastOutcome_ = BatchOutcome{};
  listArea_->setEnabled(false);
  convertButton->setEnabled(false);
  setCursor(Qt::BusyCursor);

  host_ = std::make_unique<GuiHost>(this, static_cast<RunView&>(*this));
  runThread_ = QThread::create([this] {
    lastOutcome_ = RunBatch(runEntries_, runSettings_, services_.drivers, *host_, runFlags_);
  });
  connect(runThread_, &QThread::finished, this, [this] { RunThreadFinished(); });
  runThread_->start();
}

void MainWindow::RunThreadFinished() {
  runThread_->wait();
  delete runThread_;
  runThread_ = nullptr;
  host_.reset();
  converting_ = false;
  // The log could not be created: no logging until the preferences are confirmed again.
  if (lastOutcome_.logCreateFailed) preferences_.logFile = false;

  listArea_->setEnabled(true);
  convertButton->setEnabled(true);
  unsetCursor();
  runInProgress_ = false;
  statusList->clear();
  frameView->Clear();
  setWindowTitle(ApplicationTitle());
  pageSelection_.clear();
  SetSelection(entries_.empty() ? std::vector<int>{} : std::vector<int>{0});
  RefreshPages();
  if (!lastOutcome_.converted && runSettings_.destinationDirectory) {
    std::error_code ec;
    if (!std::filesystem::is_directory(*runSettings_.destinationDirectory, ec))
      directoryEdit->setFocus();
  }
  emit runEnded();
}

void MainWindow::AskAbort() {
  if (askingAbort_ || !host_) return;
  askingAbort_ = true;
  host_->BeginAbortQuestion();
  const bool yes = dialogs_.AskYesNo(this, Message(241));
  if (host_) host_->EndAbortQuestion(yes);
  askingAbort_ = false;
}

void MainWindow::RunProgress(const ProgressView& view) {
  strip->time->setText(view.time);
  strip->stage->setText(view.stage);
  strip->bar->setText(QStringLiteral("int"));
  strip->bar->setBarValue(view.thousandths);
  if (!view.frame.isNull()) frameView->ShowFrame(view.frame);
}

void MainWindow::RunError(const QString& text) {
  dialogs_.Beep();
  Error(text);
}

void MainWindow::RunErrorSound() {
  dialogs_.Beep();
}

void MainWindow::RunLogLine(const QString& line) {
  lastRunLines_ << line;
  statusList->addItem(line);
  statusList->setCurrentRow(statusList->count() - 1);
  statusList->scrollToBottom();
}

void MainWindow::RunTitle(const QString& title) {
  setWindowTitle(title);
}

void MainWindow::RunStatusField(StatusField field, const QString& text) {
  switch (field) {
    case calvex::StatusField::kTime:
      strip->time->setText(text);
      break;
    case calvex::StatusField::kStage:
      strip->stage->setText(text);
      break;
    case calvex::StatusField::kBar:
      strip->bar->setText(text);
      break;
    case calvex::StatusField::kOutputSize:
      strip->frameSize->setText(text);
      break;
    case calvex::StatusField::kOutputRate:
      strip->frameRate->setText(text);
      break;
  }
}

void MainWindow::RunResetStatusFields() {
  strip->Reset();
}

bool MainWindow::RunAskYesNo(const QString& question) {
  return dialogs_.AskYesNo(this, question);
}

void MainWindow::RunMessage(const QString& text, MessageIcon icon) {
  dialogs_.ShowMessage(
      this, text,
      icon == MessageIcon::kInformation ? BoxIcon::kInformation : BoxIcon::kExclamation);
}

void MainWindow::RunDoneSound() {
  dialogs_.ExclamationSound();
}

void MainWindow::RunOpenLogViewer(const QString& path) {
  if (dialogs_.OpenInTextViewer(path)) return;
  // No desktop viewer took it: show the log in the help window.
  QFile file(path);
  const QString text =
      file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  help_->ShowText(path, text);
}

void MainWindow::RunStarted() {
  ShowPageTabs({convertingPage});
  strip->Reset();
  statusList->clear();
  frameView->Clear();
}

void MainWindow::RunEntryStarted(int index, int /*count*/) {
  converting_ = true;
  SetSelection({index});
  fileList->scrollToItem(fileList->item(index));
}

void MainWindow::RunEntryFinished(int /*index*/, std::uint32_t /*result*/) {
  converting_ = false;
  frameView->Clear();
}

}  // namespace calvex::ui
