#include "ui/gui_host.h"

#include <QThread>

#include "ui/frame_view.h"

namespace calvex::ui {
namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

GuiHost::GuiHost(QObject* receiver, RunView& view) : receiver_(receiver), view_(view) {}

void GuiHost::Post(std::function<void()> call) {
  WaitWhileAsking();
  if (QThread::currentThread() == receiver_->thread()) {
    call();
    return;
  }
  QMetaObject::invokeMethod(receiver_, std::move(call), Qt::QueuedConnection);
}

void GuiHost::Wait(std::function<void()> call) {
  WaitWhileAsking();
  if (QThread::currentThread() == receiver_->thread()) {
    call();
    return;
  }
  QMetaObject::invokeMethod(receiver_, std::move(call), Qt::BlockingQueuedConnection);
}

void GuiHost::WaitWhileAsking() {
  if (QThread::currentThread() == receiver_->thread()) return;
  std::unique_lock lock(mutex_);
  answered_.wait(lock, [this] { return !asking_; });
}

bool GuiHost::TakeCancel() {
  std::lock_guard lock(mutex_);
  const bool cancel = cancelRequested_;
  cancelRequested_ = false;
  return cancel;
}

void GuiHost::BeginAbortQuestion() {
  std::lock_guard lock(mutex_);
  asking_ = true;
}

void GuiHost::EndAbortQuestion(bool yes) {
  {
    std::lock_guard lock(mutex_);
    asking_ = false;
    if (yes) cancelRequested_ = true;
  }
  answered_.notify_all();
}

bool GuiHost::ConversionProgress(const ProgressRecord& record, ProgressKind kind, int thousandths) {
  WaitWhileAsking();
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    pending_.time = Q(TimeCodeText(record, kind));
    pending_.stage = Q(std::string(StageCaption(kind)));
    pending_.thousandths = thousandths;
    // B pictures of an AVI source are not shown; an MPEG source shows every picture.
    const bool showable = kind == ProgressKind::kVideo && record.bitmapHeader != nullptr &&
                          record.bitmapBits != nullptr &&
                          (kind_ == ConversionKind::kMpegToAvi || record.pictureType != 3);
    if (showable && !framePending_) {
      pending_.frame = ImageFromBitmap(*record.bitmapHeader, record.bitmapBits);
      framePending_ = !pending_.frame.isNull();
    }
    post = !progressPosted_;
    progressPosted_ = true;
  }
  if (post) {
    QMetaObject::invokeMethod(
        receiver_, [this] { DeliverProgress(); }, Qt::QueuedConnection);
  }
  return TakeCancel();
}

void GuiHost::DeliverProgress() {
  ProgressView view;
  {
    std::lock_guard lock(mutex_);
    view = pending_;
    pending_.frame = QImage();
    framePending_ = false;
    progressPosted_ = false;
  }
  view_.RunProgress(view);
}

bool GuiHost::PollCancel() {
  WaitWhileAsking();
  return TakeCancel();
}

void GuiHost::ShowError(const std::string& text) {
  Wait([this, t = Q(text)] { view_.RunError(t); });
}

void GuiHost::ErrorSound() {
  Post([this] { view_.RunErrorSound(); });
}

void GuiHost::LogLine(const std::string& line) {
  Post([this, t = Q(line)] { view_.RunLogLine(t); });
}

void GuiHost::SetWindowTitle(const std::string& title) {
  Post([this, t = Q(title)] { view_.RunTitle(t); });
}

void GuiHost::SetStatusField(StatusField field, const std::string& text) {
  Post([this, field, t = Q(text)] { view_.RunStatusField(field, t); });
}

void GuiHost::ResetStatusFields() {
  Post([this] { view_.RunResetStatusFields(); });
}

bool GuiHost::AskYesNo(const std::string& question) {
  bool yes = false;
  Wait([this, &yes, q = Q(question)] { yes = view_.RunAskYesNo(q); });
  return yes;
}

void GuiHost::ShowMessage(const std::string& text, MessageIcon icon) {
  Wait([this, icon, t = Q(text)] { view_.RunMessage(t, icon); });
}

void GuiHost::DoneSound() {
  Post([this] { view_.RunDoneSound(); });
}

void GuiHost::OpenLogViewer(const std::string& logPath) {
  Wait([this, p = Q(logPath)] { view_.RunOpenLogViewer(p); });
}

void GuiHost::RunStarted() {
  Post([this] { view_.RunStarted(); });
}

void GuiHost::EntryStarted(int index, int count) {
  Post([this, index, count] { view_.RunEntryStarted(index, count); });
}

void GuiHost::EntryFinished(int index, std::uint32_t result) {
  Post([this, index, result] { view_.RunEntryFinished(index, result); });
}

void GuiHost::ConversionKindChanged(ConversionKind kind) {
  kind_ = kind;
}

}  // namespace calvex::ui
