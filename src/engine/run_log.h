// The log of one batch run: every line goes to the front end's status list and, while the run
// logs, to a plain-text log file (one line per entry, each ended by CR LF) that starts and ends
// with the run's local time.
#pragma once

#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "core/conversion_context.h"
#include "core/host.h"
#include "core/messages.h"

namespace calvex {

// The current local time; runs take it from here unless a test injects its own clock.
using LocalClock = std::function<std::tm()>;
std::tm LocalTimeNow();

// The fixed 24-character form of a local time, such as "Sat Aug 05 18:44:51 1995" (English names
// whatever the locale).
std::string LogTimeText(const std::tm& time);

class RunLog final : public LogSink {
 public:
  explicit RunLog(LocalClock clock = {});
  ~RunLog();  // closes the file (without the finishing lines)
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Creates the log file, replacing any earlier file, and writes "The starting time is %s". False
  // when it cannot be created: the run then has no log file.
  bool Open(const std::string& path);
  bool IsOpen() const;
  const std::string& path() const { return path_; }

  // Adds one line to `host`'s status list and to the file. Safe to call from several
  // conversions at once; lines are never mixed.
  void Line(const std::string& line, ConversionHost& host) override;

  // Writes the finishing lines (an empty line, then "The finishing time is %s") and closes the
  // file. Nothing happens without an open file.
  void Finish();

 private:
  void WriteRaw(const std::string& text);

  LocalClock clock_;
  std::string path_;
  std::FILE* file_ = nullptr;
  mutable std::mutex mutex_;
};

}  // namespace calvex
