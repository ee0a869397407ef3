// The conversion run over a whole source list, shared by the desktop program and the command
// line: run start (log file), the destination checks and the overwrite question, every entry in
// list order through the dispatcher, the stop rules, and the run end with its summary. Every user
// decision goes through the host.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/drivers.h"
#include "core/host.h"
#include "core/run_flags.h"
#include "core/settings.h"
#include "engine/run_log.h"

namespace calvex {

struct BatchSettings {
  // "Another Directory": every output goes there. Without it each output goes to its source's own
  // directory ("Same Directory").
  std::optional<std::string> destinationDirectory;
  bool abortWhenError = false;  // the "AbortWhenErr" preference
  bool beepDone = false;        // the "BeepDone" preference
  bool logging = false;         // the "LogFile" preference
  std::string logPath;          // the "LogFileName" preference
  // Entries converted at once (each on its own thread; 1 = all on the calling thread), and the
  // worker threads each conversion's codecs may use. Outputs never depend on either.
  int jobs = 1;
  int threads = 1;
  // The video encoder's high-quality preset ("High quality encoding", --preset high).
  bool highQualityVideo = false;
  LocalClock clock;  // empty: the local time
};

// The result of an entry the run never reached.
inline constexpr Status kEntryNotReached = 0xFFFFFFFFu;

struct BatchOutcome {
  // The checks passed and the entries were converted (some of them, when the run stopped).
  bool converted = false;
  // The log file could not be created: the run had no log, and the caller switches logging off.
  bool logCreateFailed = false;
  bool cancelled = false;
  bool errorOccurred = false;
  bool warning = false;
  bool diskFull = false;
  // Per entry: the dispatcher's result (kEntryConverted, kEntryAborted or a failure code), 101
  // when the source could not be opened, kEntryNotReached when the run stopped before it.
  std::vector<Status> results;
};

// Runs the whole conversion. `flags` are the run's flags (cleared and raised as the run goes;
// batchRunInProgress is up from the first entry to the end of the summary).
BatchOutcome RunBatch(const std::vector<SourceEntry>& entries, const BatchSettings& settings,
                      const DriverSet& drivers, ConversionHost& host, RunFlags& flags);

// The directory the outputs of `entry` go to.
std::string OutputDirectoryFor(const SourceEntry& entry, const BatchSettings& settings);

// Every output path of `entry` (one per section, or one), as the dispatcher names them.
std::vector<std::string> OutputPathsFor(const SourceEntry& entry, const std::string& directory);

// The first output of the run that exists already, if any.
std::optional<std::string> FirstExistingOutput(const std::vector<SourceEntry>& entries,
                                               const BatchSettings& settings);

}  // namespace calvex
