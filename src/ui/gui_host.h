// The host that a conversion run reaches. The run goes on a thread of its own so that the window
// repaints and answers Esc at once whatever a picture costs; every call of the engine is handed to
// the window's thread (questions and message boxes wait for their answer, the rest is queued in
// order). Progress is coalesced: the window gets the newest state when it is ready for it, and a
// frame is copied only when the previous one has been drawn.
#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "core/host.h"

namespace calvex::ui {

// What the window shows of a progress report.
struct ProgressView {
  QString time;
  QString stage;
  int thousandths = 0;
  QImage frame;  // null when the report carried no picture to show
};

// The window side of a run; every call arrives on the window's thread.
class RunView {
 public:
  virtual ~RunView() = default;
  virtual void RunProgress(const ProgressView& view) = 0;
  virtual void RunError(const QString& text) = 0;
  virtual void RunErrorSound() = 0;
  virtual void RunLogLine(const QString& line) = 0;
  virtual void RunTitle(const QString& title) = 0;
  virtual void RunStatusField(StatusField field, const QString& text) = 0;
  virtual void RunResetStatusFields() = 0;
  virtual bool RunAskYesNo(const QString& question) = 0;
  virtual void RunMessage(const QString& text, MessageIcon icon) = 0;
  virtual void RunDoneSound() = 0;
  virtual void RunOpenLogViewer(const QString& path) = 0;
  virtual void RunStarted() = 0;
  virtual void RunEntryStarted(int index, int count) = 0;
  virtual void RunEntryFinished(int index, std::uint32_t result) = 0;
};

class GuiHost : public ConversionHost {
 public:
  // `receiver` lives on the window's thread; `view` is called there.
  GuiHost(QObject* receiver, RunView& view);

  // --- Called by the engine on the run's thread ---
  bool ConversionProgress(const ProgressRecord& record, ProgressKind kind,
                          int thousandths) override;
  bool PollCancel() override;
  void ShowError(const std::string& text) override;
  void ErrorSound() override;
  void LogLine(const std::string& line) override;
  void SetWindowTitle(const std::string& title) override;
  void SetStatusField(StatusField field, const std::string& text) override;
  void ResetStatusFields() override;
  bool AskYesNo(const std::string& question) override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  void DoneSound() override;
  void OpenLogViewer(const std::string& logPath) override;
  void RunStarted() override;
  void EntryStarted(int index, int count) override;
  void EntryFinished(int index, std::uint32_t result) override;
  void ConversionKindChanged(ConversionKind kind) override;

  // --- Called on the window's thread ---
  // The abort question is up: the run pauses at its next report until it is answered.
  void BeginAbortQuestion();
  // The answer; Yes makes the next report of the run return "cancel".
  void EndAbortQuestion(bool yes);

 private:
  void Post(std::function<void()> call);
  void Wait(std::function<void()> call);
  void WaitWhileAsking();
  bool TakeCancel();
  void DeliverProgress();

  QObject* receiver_;
  RunView& view_;
  std::atomic<ConversionKind> kind_{ConversionKind::kNone};

  std::mutex mutex_;
  std::condition_variable answered_;
  bool asking_ = false;
  bool cancelRequested_ = false;

  ProgressView pending_;  // newest progress not yet shown
  bool progressPosted_ = false;
  bool framePending_ = false;  // pending_.frame waits to be drawn
};

}  // namespace calvex::ui
