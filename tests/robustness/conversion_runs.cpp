#include "robustness/conversion_runs.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

#include "core/file_names.h"
#include "engine/default_drivers.h"
#include "engine/source_files.h"
#include "robustness/io_faults.h"

namespace calvex::testing {
namespace {

struct Directories {
  TempDir outputs;
  TempDir data;  // the data directory (index caches) of the test program
};

Directories& Dirs() {
  static Directories* dirs = [] {
    auto* d = new Directories;  // kept to the end: tests run in any order
    ::setenv("XDG_DATA_HOME", d->data.path().c_str(), 1);
    return d;
  }();
  return *dirs;
}

// The conversions never touch the user's own data directory.
[[maybe_unused]] const bool kDataDirectorySet = (Dirs(), true);

struct SourceRecipe {
  std::string file;
  std::string arguments;  // ffmpeg's
};

// Makes the files of `recipes` once per build tree: ctest runs every test in a process of its
// own, and they all read the same sources. The folder is named by a hash of the recipes, so a
// changed recipe makes new files; it is filled under a name of its own and then renamed into
// place, so that a test running at the same time never sees it half made.
std::filesystem::path MakeSharedSources(const std::vector<SourceRecipe>& recipes) {
  namespace fs = std::filesystem;
  std::string all;
  for (const SourceRecipe& r : recipes) all += r.file + "=" + r.arguments + "\n";
  const fs::path done =
      fs::path(CALVEX_SOURCE_CACHE) / std::to_string(std::hash<std::string>{}(all));
  std::error_code ec;
  if (fs::is_directory(done, ec)) return done;

  fs::path work = done;
  work += "." + std::to_string(::getpid());
  fs::remove_all(work, ec);
  fs::create_directories(work, ec);
  for (const SourceRecipe& r : recipes) {
    const fs::path file = work / r.file;
    const CommandResult made = RunCommand("ffmpeg -nostdin -loglevel error -y " + r.arguments +
                                          " " + ShellQuote(file.string()));
    if (made.exitCode != 0 || !fs::exists(file)) {
      fs::remove_all(work, ec);
      return {};
    }
  }
  fs::rename(work, done, ec);
  if (ec) fs::remove_all(work, ec);  // made by another test in the meantime
  return fs::is_directory(done, ec) ? done : fs::path();
}

// Movies of `size` pictures lasting `movieSeconds`, sounds of `soundSeconds`.
TestSources MakeSources(const std::string& size, const std::string& movieSeconds,
                        const std::string& soundSeconds) {
  TestSources s;
  if (!HaveTool("ffmpeg")) return s;
  const std::string video =
      "-f lavfi -i testsrc2=size=" + size + ":rate=30:duration=" + movieSeconds + " ";
  const std::string tone = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=";
  const std::string sound = tone + soundSeconds + " ";
  const std::string movieSound = tone + movieSeconds + " ";
  const std::filesystem::path dir = MakeSharedSources({
      {"movie.avi", video + movieSound + "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -ac 1"},
      {"silent.avi", video + "-c:v rawvideo -pix_fmt bgr24"},
      {"adpcm.avi", video + movieSound + "-c:v rawvideo -pix_fmt bgr24 -c:a adpcm_ms -ac 2"},
      {"tone.wav", sound + "-c:a pcm_s16le -ac 2"},
      {"tone.mp2", sound + "-c:a mp2 -b:a 128k"},
      {"bystander.wav", sound + "-c:a pcm_s16le -ac 1"},
      {"system.mpg", video + movieSound + "-c:v mpeg1video -g 6 -bf 2 -c:a mp2 -b:a 128k -f mpeg"},
      {"video.mpg", video + "-c:v mpeg1video -g 6 -bf 2 -f mpeg1video"},
  });
  if (dir.empty()) return s;
  const auto file = [&](const char* name) { return (dir / name).string(); };
  s.aviWithSound = file("movie.avi");
  s.aviSilent = file("silent.avi");
  s.aviAdpcm = file("adpcm.avi");
  s.wav = file("tone.wav");
  s.mp2 = file("tone.mp2");
  s.bystander = file("bystander.wav");
  s.mpegSystem = file("system.mpg");
  s.mpegVideo = file("video.mpg");
  return s;
}

}  // namespace

const TestSources& Sources() {
  static const TestSources sources = MakeSources("32x32", "0.267", "0.267");
  return sources;
}

const TestSources& LargeSources() {
  static const TestSources sources = MakeSources("160x120", "1", "3");
  return sources;
}

const std::string& OutputDirectory() {
  static const std::string dir = Dirs().outputs.path().string() + "/";
  return dir;
}

bool ScriptedHost::ConversionProgress(const ProgressRecord&, ProgressKind kind, int thousandths) {
  if (thousandths < 0 || thousandths > 1000) badThousandths_ = true;
  if (entry_ != 0) return false;
  const int call = ++calls_[static_cast<int>(kind)];
  if (onProgress) onProgress(kind, call);
  return cancelAtProgress && cancelAtProgress(kind, call);
}

bool ScriptedHost::PollCancel() {
  if (entry_ != 0) return false;
  ++polls_;
  return cancelAtPoll && cancelAtPoll(polls_);
}

RunResult RunConversion(const std::string& source, ScriptedHost& host,
                        const std::function<void(SourceEntry&)>& adjust, bool replacing) {
  namespace fs = std::filesystem;
  const std::string& out = OutputDirectory();
  for (const auto& e : fs::directory_iterator(out)) fs::remove_all(e.path());

  std::vector<SourceEntry> entries(2);
  const InfoReaders readers = DefaultInfoReaders();
  EXPECT_EQ(MakeSourceEntry(source, readers, entries[0]), kOk) << source;
  EXPECT_EQ(MakeSourceEntry(Sources().bystander, readers, entries[1]), kOk);
  if (adjust) adjust(entries[0]);

  BatchSettings settings;
  settings.destinationDirectory = out;
  const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
  std::vector<std::string> earlier;
  if (replacing) {
    for (const std::string& path : OutputPathsFor(entries[0], out)) {
      WriteFileBytes(path, old);
      earlier.push_back(FileNameOf(path));
    }
  }
  RunFlags flags;
  const int descriptors = OpenDescriptorCount();
  RunResult result;
  result.outcome = RunBatch(entries, settings, DefaultDrivers(), host, flags);
  result.descriptorsLeaked = OpenDescriptorCount() - descriptors;
  for (const std::string& name : ListDirectory(out)) {
    if (std::find(earlier.begin(), earlier.end(), name) == earlier.end())
      result.leftBehind.push_back(name);
  }
  for (const std::string& name : earlier) {
    if (ReadFileBytes(out + name) != old) result.leftBehind.push_back(name + " (lost)");
  }
  return result;
}

}  // namespace calvex::testing
