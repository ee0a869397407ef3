// calvex convert: the source list from the command line (and a list file), the parameters of
// each entry, then the same batch run as the desktop program's.
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "cli/cli_host.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/json_progress.h"
#include "cli/shard.h"
#include "cli/source_directories.h"
#include "core/error_report.h"
#include "core/messages.h"
#include "engine/batch_run.h"
#include "engine/dispatcher.h"
#include "engine/list_file.h"

namespace calvex::cli {
namespace {

std::string Absolute(const std::string& path) {
  std::error_code ec;
  const auto p = std::filesystem::absolute(path, ec);
  return (ec ? std::filesystem::path(path) : p).lexically_normal().string();
}

bool IsVideoKind(ConversionKind kind) {
  return kind == ConversionKind::kAviToMpeg || kind == ConversionKind::kMpegToAvi;
}

// The entry's record checked as the parameter page checks it (for entries of a list file).
std::optional<ValidationError> ValidateEntry(const SourceEntry& e) {
  switch (e.kind) {
    case ConversionKind::kAviToMpeg:
      return ValidateAviToMpeg(e.aviToMpeg);
    case ConversionKind::kWavToMp2:
      return ValidateWavToMp2(e.wavToMp2);
    case ConversionKind::kMpegToAvi:
      return ValidateMpegToAvi(e.mpegToAvi);
    case ConversionKind::kMp2ToWav:
    case ConversionKind::kNone:
      break;
  }
  return std::nullopt;
}

// Whether the parameters failed on a value the source itself gave: its own defaults fail on the
// same field and no option changed it. The user typed nothing wrong; the source cannot be taken.
bool FailsOnTheSourcesValue(const SourceEntry& defaults, const SourceEntry& applied) {
  const auto own = ValidateEntry(defaults);
  const auto now = ValidateEntry(applied);
  return own && now && own->field == now->field;
}

// What the source holds that the conversion cannot take, and the limit.
std::string SourceProblemText(const SourceEntry& e, const ValidationError& error) {
  const MpegInfo& mpeg = e.mpegInfo;
  if (e.kind == ConversionKind::kMpegToAvi && (error.field == "width" || error.field == "height"))
    return FormatText(
        "the pictures are %d x %d pixels; the conversion takes up to %d x %d "
        "(--size chooses another size)",
        mpeg.width, mpeg.height, error.high, error.high);
  if (e.kind == ConversionKind::kMpegToAvi && error.field == "frameRateMilli")
    return FormatText(
        "the video runs at %.3f frames per second; the conversion takes %d to %d "
        "(--frame-rate chooses another rate)",
        e.mpegToAvi.frameRateMilli / 1000.0, error.low, error.high);
  return "the source's " + error.field + " cannot be converted: " + error.Text();
}

class ConvertCommand {
 public:
  ConvertCommand(const ConvertOptions& options, const Backends& backends)
      : o_(options), backends_(backends), console_(stderr, ::isatty(STDERR_FILENO) != 0) {}

  int Run();

 private:
  int Say(const std::string& text, int status) {
    console_.Line("calvex: " + text);
    return status;
  }
  std::optional<int> ExpandSources();
  std::optional<int> CheckUsage();
  std::optional<int> CollectEntries();
  bool InShard(std::size_t position) const { return !shard_ || shard_->Holds(position); }
  std::optional<int> CheckOutputs();

  const ConvertOptions& o_;
  const Backends& backends_;
  Console console_;
  std::vector<Section> sections_;
  std::vector<std::string> files_;  // the files named and those of the directories named
  std::optional<Shard> shard_;
  std::vector<SourceEntry> batch_;    // every shard's entries, named only (path, kind, sections)
  std::vector<SourceEntry> entries_;  // this shard's, with their information and parameters
  std::optional<std::string> destination_;
  // Files whose information, or directories that, could not be read, and sources that cannot be
  // converted.
  int unreadable_ = 0;
};

std::optional<int> ConvertCommand::ExpandSources() {
  std::vector<Section> sections;
  ParseSections(o_.sections, sections);  // refused below when they do not parse
  BatchSettings where;
  where.destinationDirectory = o_.destination;
  const auto outputsOf = [&](const std::string& source) {
    SourceEntry e;
    e.path = source;
    if (IsVideoKind(KindByExtension(source))) e.sections = sections;
    return OutputPathsFor(e, OutputDirectoryFor(e, where));
  };
  DirectoryListing listing = ExpandDirectories(o_.files, o_.recursive, o_.destination, outputsOf);
  files_ = std::move(listing.files);
  for (const std::string& directory : listing.unreadable) {
    Say(directory + ": the directory cannot be read", kExitFailed);
    ++unreadable_;
    if (o_.abortOnError) return kExitFailed;
  }
  if (files_.empty() && !o_.listFile) return Say("no source files to convert", kExitFailed);
  return std::nullopt;
}

std::optional<int> ConvertCommand::CheckUsage() {
  if (o_.files.empty() && !o_.listFile) return Say("nothing to convert (see --help)", kExitUsage);
  if (o_.shard && !(shard_ = ParseShard(*o_.shard)))
    return Say("--shard takes K/N with 1 <= K <= N, for example 2/4", kExitUsage);
  if (auto status = ExpandSources()) return *status;
  std::set<ConversionKind> kinds;
  for (const std::string& file : files_) {
    const ConversionKind kind = KindByExtension(file);
    if (kind == ConversionKind::kNone)
      return Say(file + ": not a source file (.avi, .wav, .mpg or .mp2)", kExitUsage);
    kinds.insert(kind);
  }
  if (auto e = ParseSections(o_.sections, sections_)) return Say(e->text, kExitUsage);
  if (!sections_.empty()) {
    for (ConversionKind kind : kinds)
      if (!IsVideoKind(kind)) return Say("--section applies to .avi and .mpg files", kExitUsage);
  }
  // The options alone, before any file is read.
  for (ConversionKind kind : kinds) {
    SourceEntry blank = BlankEntry(kind);
    if (auto e = ApplyOptions(o_, blank)) return Say(e->text, kExitUsage);
  }
  destination_ = o_.destination;
  if (destination_) {
    std::error_code ec;
    if (!std::filesystem::is_directory(*destination_, ec))
      return Say(*destination_ + ": " + ErrorText(kDestinationMissing), kExitUsage);
  }
  return std::nullopt;
}

std::optional<int> ConvertCommand::CollectEntries() {
  if (o_.listFile) {
    SourceList list;
    if (const Status s = LoadListFile(*o_.listFile, list); s != kOk)
      return Say(*o_.listFile + ": " + ErrorText(s), kExitFailed);
    for (const SourceEntry& e : list.entries) {
      if (auto v = ValidateEntry(e)) return Say(e.path + ": " + v->Text(), kExitUsage);
    }
    if (!destination_ && list.destinationMode == DestinationMode::kAnotherDirectory)
      destination_ = list.destinationDirectory;
    for (SourceEntry& e : list.entries) {
      batch_.push_back(e);
      if (InShard(batch_.size() - 1)) entries_.push_back(std::move(e));
    }
  }
  for (const std::string& file : files_) {
    SourceEntry& named = batch_.emplace_back();
    named.path = file;
    named.kind = KindByExtension(file);
    named.sections = sections_;
    if (!InShard(batch_.size() - 1)) continue;
    SourceEntry e;
    const Status s = MakeSourceEntry(file, backends_.readers, e);
    if (s == kOpenFailed) {
      // The run reports a source it cannot open, in its log, like any other failure; its
      // parameters (defaults without information) are never used.
      e.path = file;
      e.kind = KindByExtension(file);
      entries_.push_back(std::move(e));
      continue;
    }
    if (s != kOk) {
      Say(file + ": " + ErrorText(s, file), kExitFailed);
      ++unreadable_;
      if (o_.abortOnError) return kExitFailed;
      continue;
    }
    const SourceEntry defaults = e;
    if (auto err = ApplyOptions(o_, e)) {
      if (!FailsOnTheSourcesValue(defaults, e)) return Say(file + ": " + err->text, kExitUsage);
      Say(file + ": " + SourceProblemText(e, *ValidateEntry(e)), kExitFailed);
      ++unreadable_;
      if (o_.abortOnError) return kExitFailed;
      continue;
    }
    if (!o_.quiet)
      for (const std::string& warning : InapplicableOptions(o_, e, backends_.codecTraits))
        Say("warning: " + file + ": " + warning, 0);
    e.sections = sections_;
    entries_.push_back(std::move(e));
  }
  if (entries_.empty() && (unreadable_ > 0 || batch_.empty())) return kExitFailed;
  return std::nullopt;
}

// Two outputs of one name would overwrite each other (and, converted at once, mix); an output
// that is also a source would be read while it is written.
std::optional<int> ConvertCommand::CheckOutputs() {
  BatchSettings where;
  where.destinationDirectory = destination_;
  std::set<std::string> sources;
  for (const SourceEntry& e : batch_) sources.insert(Absolute(e.path));
  std::map<std::string, std::string> outputs;
  for (const SourceEntry& e : batch_) {
    for (const std::string& out : OutputPathsFor(e, OutputDirectoryFor(e, where))) {
      const std::string key = Absolute(out);
      if (sources.count(key) != 0)
        return Say(out + " would overwrite a file being converted", kExitUsage);
      const auto [it, added] = outputs.emplace(key, e.path);
      if (!added)
        return Say(e.path + " and " + it->second + " would both write " + out, kExitUsage);
    }
  }
  return std::nullopt;
}

int ConvertCommand::Run() {
  if (auto status = CheckUsage()) return *status;
  InstallInterruptHandlers();
  if (auto status = CollectEntries()) return *status;
  if (auto status = CheckOutputs()) return *status;
  if (entries_.empty() && shard_)
    return Say(
        "shard " + *o_.shard + " holds none of the " + std::to_string(batch_.size()) + " entries",
        kExitOk);

  BatchSettings settings;
  settings.destinationDirectory = destination_;
  settings.abortWhenError = o_.abortOnError;
  settings.logging = o_.logFile.has_value() && !o_.noLog;
  settings.logPath = o_.logFile.value_or("");
  settings.jobs = o_.jobs;
  settings.threads = ThreadsPerConversion(o_, static_cast<int>(entries_.size()),
                                          static_cast<int>(std::thread::hardware_concurrency()));
  settings.highQualityVideo = o_.preset.value_or("standard") == "high";

  CliHostSettings hostSettings;
  hostSettings.quiet = o_.quiet;
  hostSettings.assumeYes = o_.yes;
  hostSettings.canAsk = ::isatty(STDIN_FILENO) != 0 && console_.terminal();
  hostSettings.existingOutput = FirstExistingOutput(entries_, settings).value_or("");
  for (const SourceEntry& e : entries_) hostSettings.names.push_back(e.path);
  JsonProgress json(stdout);
  if (o_.jsonProgress) hostSettings.json = &json;
  CliHost host(console_, hostSettings);
  RunFlags flags;
  const BatchOutcome outcome = RunBatch(entries_, settings, backends_.drivers, host, flags);
  console_.ClearStatus();

  if (outcome.logCreateFailed) Say("could not create the log " + settings.logPath, 0);
  if (Interrupted()) return InterruptExitStatus();
  if (!outcome.converted) return kExitFailed;
  for (Status result : outcome.results)
    if (result != kEntryConverted) return kExitFailed;
  return unreadable_ == 0 ? kExitOk : kExitFailed;
}

}  // namespace

int RunConvert(const ConvertOptions& options, const Backends& backends) {
  ConvertCommand command(options, backends);
  return command.Run();
}

}  // namespace calvex::cli
