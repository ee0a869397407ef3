// The command line's host: progress on stderr (an updating line on a terminal, a line per 10 %
// otherwise), the run's status lines, the overwrite question, and Ctrl-C as a confirmed cancel.
#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/host.h"

namespace calvex::cli {

class JsonProgress;

// stderr, shared by the conversions that run at once: whole lines never mix, and the status
// line of a terminal is cleared before a line is printed and drawn again after it.
class Console {
 public:
  Console(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

  bool terminal() const { return terminal_; }

  void Line(const std::string& text);
  // Sets the part of the status line (terminal only) that shows conversion `slot`; the line shows
  // the parts of every running conversion. Redrawn at most ten times a second unless `force`.
  void Status(int slot, const std::string& text, bool force);
  void ClearStatus(int slot);
  void ClearStatus();
  // Prints a question without ending the line and reads the answer from stdin.
  bool Ask(const std::string& question);

 private:
  void EraseStatusLocked();
  void DrawStatusLocked();

  std::FILE* out_;
  bool terminal_;
  std::map<int, std::string> parts_;
  std::string status_;  // as drawn
  std::chrono::steady_clock::time_point lastStatus_{};
  std::mutex mutex_;
};

struct CliHostSettings {
  bool quiet = false;
  bool assumeYes = false;          // -y: replace existing outputs without asking
  bool canAsk = false;             // stdin and stderr are a terminal
  std::string existingOutput;      // the first output that exists, named by the question
  std::vector<std::string> names;  // the entries' paths, for the progress lines
  JsonProgress* json = nullptr;    // --progress json: the progress goes there instead
};

class CliHost : public ConversionHost {
 public:
  CliHost(Console& console, const CliHostSettings& settings, int entry = -1);

  bool ConversionProgress(const ProgressRecord& record, ProgressKind kind,
                          int thousandths) override;
  bool PollCancel() override;
  void ShowError(const std::string& text) override;
  void ErrorSound() override {}
  void LogLine(const std::string& line) override;
  void SetWindowTitle(const std::string&) override {}
  void SetStatusField(StatusField, const std::string&) override {}
  void ResetStatusFields() override {}

  bool ConfirmAbort() override { return true; }  // Ctrl-C asks nothing
  bool AskYesNo(const std::string& question) override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  void OpenLogViewer(const std::string& logPath) override;
  void ErrorLogged(const std::string& text) override;
  void EntryFinished(int index, std::uint32_t result) override;
  ConversionHost& HostForEntry(int index) override;

 private:
  const std::string& EntryName() const;  // of an entry's host
  std::string EntryLabel() const;

  Console& console_;
  const CliHostSettings& settings_;
  const int entry_;
  std::vector<std::unique_ptr<CliHost>> entryHosts_;  // of the run's host, one per entry

  // Progress of this entry's current stage.
  int kind_ = -1;
  int lastTenth_ = 0;
  int firstFrame_ = 0;
  std::chrono::steady_clock::time_point stageStart_{};
};

}  // namespace calvex::cli
