#include "engine/batch_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "core/error_report.h"
#include "core/file_names.h"
#include "core/messages.h"
#include "core/temp_file.h"
#include "engine/dispatcher.h"

namespace calvex {
namespace {

// Opens the source for reading the way the run checks it: a regular file that can be read.
bool CanOpenSource(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  return regular;
}

std::string MessageString(int id) {
  return std::string(MessageText(id));
}

class BatchRun {
 public:
  BatchRun(const std::vector<SourceEntry>& entries, const BatchSettings& settings,
           const DriverSet& drivers, ConversionHost& host, RunFlags& flags)
      : entries_(entries),
        settings_(settings),
        drivers_(drivers),
        host_(host),
        flags_(flags),
        log_(settings.clock),
        context_(host, flags, settings.threads) {
    context_.SetRunLog(&log_);
    outcome_.results.assign(entries.size(), kEntryNotReached);
  }

  BatchOutcome Run();

 private:
  void Start();
  bool CheckDestination();
  bool WriteTestPasses();
  void ConvertEntries();
  Status ConvertOne(int index);
  bool StopsRun(Status result) const;
  void End();

  const std::vector<SourceEntry>& entries_;
  const BatchSettings& settings_;
  const DriverSet& drivers_;
  ConversionHost& host_;
  RunFlags& flags_;
  RunLog log_;
  ConversionContext context_;  // for the run's own reports and lines
  BatchOutcome outcome_;
};

BatchOutcome BatchRun::Run() {
  Start();
  flags_.diskFull = false;
  if (entries_.empty()) {
    ReportError(context_, kSelectFileFirst);
  } else if (CheckDestination()) {
    flags_.batchRunInProgress = true;
    context_.LogMessage(220);
    ConvertEntries();
    outcome_.converted = true;
  }
  outcome_.cancelled = flags_.cancelled;
  outcome_.errorOccurred = flags_.errorOccurred;
  outcome_.warning = flags_.warning;
  outcome_.diskFull = flags_.diskFull;
  End();
  return outcome_;
}

void BatchRun::Start() {
  host_.RunStarted();
  flags_.cancelled = false;
  if (settings_.logging && !log_.Open(settings_.logPath)) outcome_.logCreateFailed = true;
  flags_.errorOccurred = false;
  flags_.warning = false;
}

bool BatchRun::CheckDestination() {
  if (settings_.destinationDirectory) {
    std::error_code ec;
    const std::string& dir = *settings_.destinationDirectory;
    if (dir.empty() || !std::filesystem::is_directory(dir, ec)) {
      ReportError(context_, kDestinationMissing, dir);
      return false;
    }
  }
  if (!WriteTestPasses()) return false;
  if (!FirstExistingOutput(entries_, settings_)) return true;
  return host_.AskYesNo(MessageString(244));
}

bool BatchRun::WriteTestPasses() {
  std::set<std::string> tested;
  for (const SourceEntry& entry : entries_) {
    const std::string dir = OutputDirectoryFor(entry, settings_);
    if (!tested.insert(dir).second) continue;
    if (!CanCreateFilesIn(dir)) {
      const std::string shown = dir.empty() ? std::string("./") : WithTrailingSeparator(dir);
      host_.ShowMessage(FormatMessage(243, shown), MessageIcon::kExclamation);
      return false;
    }
  }
  return true;
}

bool BatchRun::StopsRun(Status result) const {
  return result == kEntryAborted || (settings_.abortWhenError && IsFailure(result)) ||
         flags_.diskFull;
}

void BatchRun::ConvertEntries() {
  const int count = static_cast<int>(entries_.size());
  std::atomic<int> next{0};
  std::atomic<bool> stop{false};
  auto worker = [&] {
    while (!stop) {
      const int index = next++;
      if (index >= count) return;
      const Status result = ConvertOne(index);
      outcome_.results[static_cast<std::size_t>(index)] = result;
      if (StopsRun(result)) stop = true;
    }
  };

  const int jobs = std::clamp(settings_.jobs, 1, count);
  if (jobs == 1) {
    worker();
    return;
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < jobs; ++i) threads.emplace_back(worker);
  for (std::thread& t : threads) t.join();
}

Status BatchRun::ConvertOne(int index) {
  const SourceEntry& entry = entries_[static_cast<std::size_t>(index)];
  const int count = static_cast<int>(entries_.size());
  ConversionHost& host = host_.HostForEntry(index);
  ConversionContext context(host, flags_, settings_.threads);
  context.SetHighQualityVideo(settings_.highQualityVideo);
  context.SetRunLog(&log_);
  host.EntryStarted(index, count);

  Status result;
  if (!CanOpenSource(entry.path)) {
    ReportError(context, kOpenFailed, entry.path);
    result = kOpenFailed;
  } else {
    const std::string read =
        FormatText(MessageString(283).c_str(), entry.path.c_str(), index + 1, count);
    context.LogMessage(222, read);
    result = ConvertEntry(entry, OutputDirectoryFor(entry, settings_), drivers_, context);
  }
  host.EntryFinished(index, result);
  return result;
}

void BatchRun::End() {
  if (flags_.batchRunInProgress) {
    const bool cancelled = flags_.cancelled;
    const bool troubled = flags_.errorOccurred || flags_.warning;
    if (cancelled) context_.LogMessage(225);
    if (!troubled && !cancelled) {
      context_.LogMessage(221);
      log_.Finish();
      if (settings_.beepDone) host_.DoneSound();
      if (flags_.diskFull)
        host_.ShowMessage(MessageString(147), MessageIcon::kExclamation);
      else
        host_.ShowMessage(MessageString(240), MessageIcon::kInformation);
    }
    if (troubled) {
      if (settings_.beepDone) host_.DoneSound();
      if (!log_.IsOpen()) {
        if (flags_.diskFull) host_.ShowMessage(MessageString(147), MessageIcon::kExclamation);
        if (flags_.errorOccurred) host_.ShowMessage(MessageString(247), MessageIcon::kExclamation);
      } else {
        log_.Finish();
        if (flags_.diskFull) host_.ShowMessage(MessageString(147), MessageIcon::kExclamation);
        host_.OpenLogViewer(log_.path());
      }
      flags_.errorOccurred = false;
    }
    flags_.batchRunInProgress = false;
  }
  log_.Finish();
  flags_.cancelled = false;
  host_.RunFinished();
}

}  // namespace

std::string OutputDirectoryFor(const SourceEntry& entry, const BatchSettings& settings) {
  return settings.destinationDirectory ? *settings.destinationDirectory : DirectoryOf(entry.path);
}

std::vector<std::string> OutputPathsFor(const SourceEntry& entry, const std::string& directory) {
  const ConversionKind kind = KindByExtension(entry.path);
  std::vector<std::string> paths;
  if (entry.sections.empty()) {
    paths.push_back(DestinationPath(entry.path, directory, kind, -1));
  } else {
    for (std::size_t n = 0; n < entry.sections.size(); ++n)
      paths.push_back(DestinationPath(entry.path, directory, kind, static_cast<int>(n)));
  }
  return paths;
}

std::optional<std::string> FirstExistingOutput(const std::vector<SourceEntry>& entries,
                                               const BatchSettings& settings) {
  for (const SourceEntry& entry : entries) {
    for (const std::string& path : OutputPathsFor(entry, OutputDirectoryFor(entry, settings))) {
      std::error_code ec;
      if (std::filesystem::exists(path, ec)) return path;
    }
  }
  return std::nullopt;
}

BatchOutcome RunBatch(const std::vector<SourceEntry>& entries, const BatchSettings& settings,
                      const DriverSet& drivers, ConversionHost& host, RunFlags& flags) {
  BatchRun run(entries, settings, drivers, host, flags);
  return run.Run();
}

}  // namespace calvex
