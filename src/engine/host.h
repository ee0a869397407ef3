// What the engine needs from its front end (the desktop program or the command line).
//
// The engine holds no user-interface code: it reaches the user only through this interface, and
// only from the thread that started the conversion (worker threads inside a codec never call it).
// With several conversions running side by side (calvex -j N) each runs on its own thread and the
// host must accept calls from each of them.
#pragma once

#include <string>

#include "engine/progress.h"

namespace calvex {

// The fields of the status strip that the drivers and the dispatcher write.
enum class StatusField { kTime, kStage, kBar, kOutputSize, kOutputRate };

class ConversionHost {
 public:
  virtual ~ConversionHost() = default;

  // Shows the progress of the current stage (time code, stage caption, progress bar in
  // thousandths, and the picture when the record carries one) and keeps the front end responsive.
  // Returns true when the user asked to cancel and confirmed it (ConfirmAbort).
  virtual bool ConversionProgress(const ProgressRecord& record, ProgressKind kind,
                                  int thousandths) = 0;

  // Keeps the front end responsive without showing progress; the video encoder calls it before
  // each picture. Returns true when the user asked to cancel and confirmed it.
  virtual bool PollCancel() = 0;

  // Shows a failure text outside a batch run: the exclamation sound and a message box with the
  // application title.
  virtual void ShowError(const std::string& text) = 0;

  // Plays the system error sound (a failure logged during a batch run).
  virtual void ErrorSound() = 0;

  // Adds one line to the run's status list, and to the log file while logging.
  virtual void LogLine(const std::string& line) = 0;

  virtual void SetWindowTitle(const std::string& title) = 0;
  virtual void SetStatusField(StatusField field, const std::string& text) = 0;

  // Empties the status strip's fields.
  virtual void ResetStatusFields() = 0;
};

// A host that shows nothing and never cancels: for tests, benchmarks and information readers.
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
