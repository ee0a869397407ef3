// --progress json: the run's progress as one JSON object a line on standard output, for scripts
// and other front ends.
#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "core/progress.h"
#include "core/status.h"

namespace calvex::cli {

// Each line names the source ("file") and the running "stage" ("video", "audio",
// "interleaving") with its "frame", time code ("time"), "percent" of the stage and video "fps".
// A line is written when a stage starts and at each new whole percent. A file's last line has the
// stage "done" and 100 percent, or "failed" or "cancelled" (with the "error" text when there is
// one). Conversions that run at once write whole lines.
class JsonProgress {
 public:
  explicit JsonProgress(std::FILE* out) : out_(out) {}

  void Report(int entry, const std::string& file, const ProgressRecord& record, ProgressKind kind,
              int thousandths);
  void Finish(int entry, const std::string& file, Status result);

 private:
  struct Stage {
    int kind = -1;
    int percent = -1;
    int pictures = 0;  // since the stage's first report
    std::chrono::steady_clock::time_point start{};
    ProgressRecord last;
    double fps = 0;
  };
  void WriteLocked(const std::string& file, const std::string& stageName, const Stage& stage,
                   const std::string& error = {});

  std::FILE* out_;
  std::mutex mutex_;
  std::map<int, Stage> stages_;  // by entry
};

}  // namespace calvex::cli
