#include "robustness/conversion_runs.h"

#include <cstdlib>
#include <filesystem>

#include "engine/default_drivers.h"
#include "engine/source_files.h"
#include "robustness/io_faults.h"

namespace calvex::testing {
namespace {

bool MakeSource(const std::string& arguments, const std::string& path) {
  const CommandResult r =
      RunCommand("ffmpeg -nostdin -loglevel error -y " + arguments + " " + ShellQuote(path));
  return r.exitCode == 0 && std::filesystem::exists(path);
}

struct Directories {
  TempDir sources;
  TempDir largeSources;
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

// Movies of `size` pictures lasting `movieSeconds`, sounds of `soundSeconds`.
TestSources MakeSources(const TempDir& dir, const std::string& size,
                        const std::string& movieSeconds, const std::string& soundSeconds) {
  TestSources s;
  if (!HaveTool("ffmpeg")) return s;
  const std::string video =
      "-f lavfi -i testsrc2=size=" + size + ":rate=30:duration=" + movieSeconds + " ";
  const std::string tone = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=";
  const std::string sound = tone + soundSeconds + " ";
  const std::string movieSound = tone + movieSeconds + " ";
  bool ok = MakeSource(video + movieSound + "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -ac 1",
                       dir.File("movie.avi")) &&
            MakeSource(video + "-c:v rawvideo -pix_fmt bgr24", dir.File("silent.avi")) &&
            MakeSource(video + movieSound + "-c:v rawvideo -pix_fmt bgr24 -c:a adpcm_ms -ac 2",
                       dir.File("adpcm.avi")) &&
            MakeSource(sound + "-c:a pcm_s16le -ac 2", dir.File("tone.wav")) &&
            MakeSource(sound + "-c:a mp2 -b:a 128k", dir.File("tone.mp2")) &&
            MakeSource(sound + "-c:a pcm_s16le -ac 1", dir.File("bystander.wav")) &&
            MakeSource(video + movieSound + "-c:v mpeg1video -g 6 -bf 2 -c:a mp2 -b:a 128k -f mpeg",
                       dir.File("system.mpg")) &&
            MakeSource(video + "-c:v mpeg1video -g 6 -bf 2 -f mpeg1video", dir.File("video.mpg"));
  if (!ok) return s;
  s.aviWithSound = dir.File("movie.avi");
  s.aviSilent = dir.File("silent.avi");
  s.aviAdpcm = dir.File("adpcm.avi");
  s.wav = dir.File("tone.wav");
  s.mp2 = dir.File("tone.mp2");
  s.bystander = dir.File("bystander.wav");
  s.mpegSystem = dir.File("system.mpg");
  s.mpegVideo = dir.File("video.mpg");
  return s;
}

}  // namespace

const TestSources& Sources() {
  static const TestSources sources = MakeSources(Dirs().sources, "32x32", "0.267", "0.267");
  return sources;
}

const TestSources& LargeSources() {
  static const TestSources sources = MakeSources(Dirs().largeSources, "160x120", "1", "3");
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
                        const std::function<void(SourceEntry&)>& adjust) {
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
  RunFlags flags;
  const int descriptors = OpenDescriptorCount();
  RunResult result;
  result.outcome = RunBatch(entries, settings, DefaultDrivers(), host, flags);
  result.descriptorsLeaked = OpenDescriptorCount() - descriptors;
  result.leftBehind = ListDirectory(out);
  return result;
}

}  // namespace calvex::testing
