// What the engine needs from its front end (the desktop program or the command line).
//
// The engine holds no user-interface code: it reaches the user only through this interface, and
// only from the thread that started the conversion (worker threads inside a codec never call it).
// With several conversions running side by side (calvex -j N) each runs on its own thread and the
// host must accept calls from each of them (see HostForEntry).
//
// Everything added after the first four operations has a default, so that a host written for
// tests only overrides what it needs.
#pragma once

#include <string>

#include "core/messages.h"
#include "core/progress.h"
#include "core/settings.h"

namespace calvex {

// The fields of the status strip that the drivers and the dispatcher write.
enum class StatusField { kTime, kStage, kBar, kOutputSize, kOutputRate };

// The icon of a message box (and the sound that goes with it).
enum class MessageIcon { kInformation, kExclamation };

class ConversionHost {
 public:
  virtual ~ConversionHost() = default;

  // Shows the progress of the current stage (time code, stage caption, progress bar in
  // thousandths, and the picture when the record carries one) and keeps the front end responsive.
  // Returns true only when the user asked to cancel and confirmed it (ConfirmAbort); the driver
  // then stops with status 1. Answering No continues the conversion where it was.
  virtual bool ConversionProgress(const ProgressRecord& record, ProgressKind kind,
                                  int thousandths) = 0;

  // Keeps the front end responsive without showing progress; the video encoder calls it before
  // each picture. Returns true only after a confirmed cancel, like ConversionProgress.
  virtual bool PollCancel() = 0;

  // Shows a failure text outside a batch run: the exclamation sound and a message box with the
  // application title.
  virtual void ShowError(const std::string& text) = 0;

  // Plays the system error sound (a failure logged during a batch run).
  virtual void ErrorSound() = 0;

  // Adds one line to the run's status list. The engine writes the log file itself (RunLog).
  virtual void LogLine(const std::string& line) = 0;

  virtual void SetWindowTitle(const std::string& title) = 0;
  virtual void SetStatusField(StatusField field, const std::string& text) = 0;

  // Empties the status strip's fields.
  virtual void ResetStatusFields() = 0;

  // --- Questions and messages of the run ------------------------------------------------------

  // The abort question (message 241, Yes and No, question icon). Hosts call it from their
  // ConversionProgress/PollCancel when the user pressed Esc; true means Yes.
  virtual bool ConfirmAbort() { return AskYesNo(std::string(MessageText(241))); }

  // A question with Yes and No buttons and the question icon (for example message 244). The
  // default answers No, so a host that cannot ask never replaces or aborts anything.
  virtual bool AskYesNo(const std::string& /*question*/) { return false; }

  // A message box with the application title and an OK button (messages 240, 243, 147, 247).
  virtual void ShowMessage(const std::string& /*text*/, MessageIcon /*icon*/) {}

  // The exclamation sound that ends a run when the "BeepDone" preference is on.
  virtual void DoneSound() {}

  // Opens the run's log file in the text viewer (a run that ended with errors or warnings).
  virtual void OpenLogViewer(const std::string& /*logPath*/) {}

  // A failure was logged during a batch run (after its two log lines "Error occurred:" and the
  // text). Front ends that filter the status lines use it to keep errors visible.
  virtual void ErrorLogged(const std::string& /*text*/) {}

  // --- The batch run ---------------------------------------------------------------------------

  // Run start and end, around the whole batch (the desktop program switches to its "Converting"
  // page and back).
  virtual void RunStarted() {}
  virtual void RunFinished() {}

  // Entry `index` of `count` is about to be converted / is done (the list shows it selected, the
  // frame view is repainted between files). `result` is the dispatcher's result.
  virtual void EntryStarted(int /*index*/, int /*count*/) {}
  virtual void EntryFinished(int /*index*/, std::uint32_t /*result*/) {}

  // The kind of the conversion now running (the progress display and the frame view read it).
  virtual void ConversionKindChanged(ConversionKind /*kind*/) {}

  // The host that conversion `index` of a batch reports to. When a batch converts several
  // entries at once, each runs on its own thread with the host returned here; a front end that
  // shows them apart returns one host per entry (it must stay valid until EntryFinished).
  virtual ConversionHost& HostForEntry(int /*index*/) { return *this; }
};

// A host that shows nothing, never cancels and answers No: for tests, benchmarks and information
// readers.
class NullHost : public ConversionHost {
 public:
  bool ConversionProgress(const ProgressRecord&, ProgressKind, int) override { return false; }
  bool PollCancel() override { return false; }
  void ShowError(const std::string&) override {}
  void ErrorSound() override {}
  void LogLine(const std::string&) override {}
  void SetWindowTitle(const std::string&) override {}
  void SetStatusField(StatusField, const std::string&) override {}
  void ResetStatusFields() override {}
};

}  // namespace calvex
