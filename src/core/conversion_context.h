// What one running conversion sees of its caller: progress with cancel, the run's disk-full flag,
// the status fields, and how many worker threads its codecs may use.
//
// Drivers and codecs receive a ConversionContext& and never reach the host directly. One
// conversion has one context; a context is used from the thread that runs the conversion.
#pragma once

#include <string>

#include "core/host.h"
#include "core/run_flags.h"

namespace calvex {

// Where a batch run's lines go besides the host's status list: its log file (engine/run_log.h).
class LogSink {
 public:
  virtual void Line(const std::string& line, ConversionHost& host) = 0;

 protected:
  ~LogSink() = default;
};

class ConversionContext {
 public:
  ConversionContext(ConversionHost& host, RunFlags& flags, int threads = 1)
      : host_(host), flags_(flags), threads_(threads < 1 ? 1 : threads) {}

  // Reports progress in thousandths (clamped to 0..1000). Returns true when the user confirmed a
  // cancel; the caller then stops with status 1.
  bool Progress(const ProgressRecord& record, ProgressKind kind, int thousandths) {
    if (thousandths < 0) thousandths = 0;
    if (thousandths > 1000) thousandths = 1000;
    const bool cancel = host_.ConversionProgress(record, kind, thousandths);
    if (cancel) flags_.cancelled = true;
    return cancel;
  }

  // Keeps the front end alive between pictures. Returns true on a confirmed cancel.
  bool PollCancel() {
    const bool cancel = host_.PollCancel();
    if (cancel) flags_.cancelled = true;
    return cancel;
  }

  // Raised by any writer whose write or close failed.
  void RaiseDiskFull() { flags_.diskFull = true; }
  bool DiskFull() const { return flags_.diskFull; }

  void SetStatusField(StatusField field, const std::string& text) {
    host_.SetStatusField(field, text);
  }

  // Adds a line to the run's status list and, while the run logs, to its log file.
  void LogLine(const std::string& line);
  // Message `id` as a log line: the text alone, or the message filled with `text` ("%s").
  void LogMessage(int id, const std::string& text = {});

  // The log of the batch run this conversion belongs to (none outside a run).
  void SetRunLog(LogSink* log) { log_ = log; }

  // Worker threads the codecs may use (1 = run everything on the calling thread). Outputs never
  // depend on it.
  int threads() const { return threads_; }

  // Whether the video encoder codes with its high-quality preset (--preset high, the "High
  // quality encoding" preference) rather than the standard one.
  void SetHighQualityVideo(bool on) { highQualityVideo_ = on; }
  bool highQualityVideo() const { return highQualityVideo_; }

  ConversionHost& host() { return host_; }
  RunFlags& flags() { return flags_; }

 private:
  ConversionHost& host_;
  RunFlags& flags_;
  int threads_;
  bool highQualityVideo_ = false;
  LogSink* log_ = nullptr;
};

// A context over a NullHost and its own flags, for tests, benchmarks and information readers.
class StandaloneContext {
 public:
  explicit StandaloneContext(int threads = 1) : context_(host_, flags_, threads) {}
  ConversionContext& get() { return context_; }
  RunFlags& flags() { return flags_; }

 private:
  NullHost host_;
  RunFlags flags_;
  ConversionContext context_;
};

}  // namespace calvex
