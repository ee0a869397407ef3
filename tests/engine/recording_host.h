// Test doubles for the engine: a host that records what the engine shows and asks, and drivers
// that write small outputs and fail or cancel on request.
#pragma once

#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/drivers.h"
#include "core/host.h"
#include "support/test_support.h"

namespace calvex::testing {

class RecordingHost : public ConversionHost {
 public:
  bool ConversionProgress(const ProgressRecord&, ProgressKind, int) override { return false; }
  bool PollCancel() override { return false; }
  void ShowError(const std::string& text) override { Add(errorBoxes, text); }
  void ErrorSound() override { Add(sounds, "error"); }
  void LogLine(const std::string& line) override { Add(lines, line); }
  void SetWindowTitle(const std::string& title) override { Add(titles, title); }
  void SetStatusField(StatusField, const std::string& text) override { Add(fields, text); }
  void ResetStatusFields() override {}
  bool AskYesNo(const std::string& question) override {
    Add(questions, question);
    return answerYes;
  }
  void ShowMessage(const std::string& text, MessageIcon icon) override {
    Add(messages, (icon == MessageIcon::kInformation ? "info: " : "exclamation: ") + text);
  }
  void DoneSound() override { Add(sounds, "done"); }
  void OpenLogViewer(const std::string& path) override { Add(viewers, path); }

  bool answerYes = true;
  std::vector<std::string> errorBoxes, sounds, lines, titles, fields, questions, messages, viewers;

 private:
  void Add(std::vector<std::string>& to, const std::string& text) {
    std::lock_guard lock(mutex_);
    to.push_back(text);
  }
  std::mutex mutex_;
};

// What a fake driver saw of one call.
struct DriverCall {
  std::string source;
  std::string destination;
  ConversionSettings settings;  // a copy, when the job carries them
  bool pcmTempExisted = false;
};

// Drivers that write "<source> -> <destination>" into the destination and then return the next
// of `results` (0 once they run out). Thread-safe.
class FakeDrivers {
 public:
  explicit FakeDrivers(std::vector<Status> results = {}) : results_(std::move(results)) {}

  DriverSet Set();

  std::vector<DriverCall> calls;
  std::vector<PcmConversionJob> pcmCalls;
  Status pcmResult = kOk;
  WaveFormat pcmFormat = MakePcmFormat(2, 44100, 16);
  std::int32_t sourceFrames = 0;  // the frame count sections are checked against; 0: no check
  // Runs inside every conversion call, before the output is written.
  std::function<void(ConversionContext&)> during;

 private:
  Status Convert(const std::string& source, const std::string& destination,
                 const ConversionSettings* settings, ConversionContext& context);

  std::vector<Status> results_;
  std::size_t next_ = 0;
  std::mutex mutex_;
};

}  // namespace calvex::testing
