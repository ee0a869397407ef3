// calvex convert: the source list from the command line (and a list file), the parameters of
// each entry, then the same batch run as the desktop program's.
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>

#include "cli/cli_host.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "core/error_report.h"
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
  std::optional<int> CheckUsage();
  std::optional<int> CollectEntries();
  std::optional<int> CheckOutputs();

  const ConvertOptions& o_;
  const Backends& backends_;
  Console console_;
  std::vector<Section> sections_;
  std::vector<SourceEntry> entries_;
  std::optional<std::string> destination_;
  int unreadable_ = 0;  // files left out because their information could not be read
};

std::optional<int> ConvertCommand::CheckUsage() {
  if (o_.files.empty() && !o_.listFile) return Say("nothing to convert (see --help)", kExitUsage);
  std::set<ConversionKind> kinds;
  for (const std::string& file : o_.files) {
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
    entries_ = std::move(list.entries);
  }
  for (const std::string& file : o_.files) {
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
    if (auto err = ApplyOptions(o_, e)) return Say(file + ": " + err->text, kExitUsage);
    e.sections = sections_;
    entries_.push_back(std::move(e));
  }
  if (entries_.empty()) return kExitFailed;
  return std::nullopt;
}

// Two outputs of one name would overwrite each other (and, converted at once, mix); an output
// that is also a source would be read while it is written.
std::optional<int> ConvertCommand::CheckOutputs() {
  BatchSettings where;
  where.destinationDirectory = destination_;
  std::set<std::string> sources;
  for (const SourceEntry& e : entries_) sources.insert(Absolute(e.path));
  std::map<std::string, std::string> outputs;
  for (const SourceEntry& e : entries_) {
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

  BatchSettings settings;
  settings.destinationDirectory = destination_;
  settings.abortWhenError = o_.abortOnError;
  settings.logging = o_.logFile.has_value() && !o_.noLog;
  settings.logPath = o_.logFile.value_or("");
  settings.jobs = o_.jobs;
  settings.threads = o_.threads;

  CliHostSettings hostSettings;
  hostSettings.quiet = o_.quiet;
  hostSettings.assumeYes = o_.yes;
  hostSettings.canAsk = ::isatty(STDIN_FILENO) != 0 && console_.terminal();
  hostSettings.existingOutput = FirstExistingOutput(entries_, settings).value_or("");
  for (const SourceEntry& e : entries_) hostSettings.names.push_back(e.path);
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
