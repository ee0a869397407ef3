// The flags of one conversion run (one batch over a list of files).
//
// Several conversions of one run may go on at once (calvex -j N), so the flags are atomic. A run
// owns one RunFlags; nothing here is process-wide.
#pragma once

#include <atomic>

namespace calvex {

struct RunFlags {
  // Raised for the whole batch run: failures are then logged instead of shown in a box.
  std::atomic<bool> batchRunInProgress{false};
  // Raised by ReportError during a batch run; the end-of-run summary reads it.
  std::atomic<bool> errorOccurred{false};
  // Raised when the user confirmed a cancel.
  std::atomic<bool> cancelled{false};
  // Raised by the dispatcher when a data-rate warning was logged.
  std::atomic<bool> warning{false};
  // Raised by any writer that failed to write or close its output; stops the run.
  std::atomic<bool> diskFull{false};

  void Clear() {
    batchRunInProgress = false;
    errorOccurred = false;
    cancelled = false;
    warning = false;
    diskFull = false;
  }
};

}  // namespace calvex
