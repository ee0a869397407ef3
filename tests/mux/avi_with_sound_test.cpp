// AVI movies with sound through the whole engine (list entry, dispatcher, AVI to MPEG driver,
// video and audio encoders, multiplexer), checked with ffprobe and ffmpeg: clean system streams,
// pictures and sound in step, sections, and no temporary file left on any path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/avi_to_mpeg_driver.h"
#include "engine/batch_run.h"
#include "engine/default_drivers.h"
#include "engine/dispatcher.h"
#include "engine/source_files.h"
#include "support/media_tools.h"
#include "support/test_support.h"

namespace calvex {
namespace {

using calvex::testing::ListDirectory;
using calvex::testing::RunCommand;
using calvex::testing::ShellQuote;
using calvex::testing::TempDir;

struct Rate {
  int num, den;
  std::string Text() const { return std::to_string(num) + "/" + std::to_string(den); }
  double Fps() const { return static_cast<double>(num) / den; }
};

// The flash-and-beep movie (support/media_tools.h) at rate r.
void MakeFlashAvi(const std::string& path, Rate r, int frames, int first, int every, int hz = 44100,
                  int channels = 2, const std::string& codecs = testing::kFlashAviCodecs) {
  ASSERT_TRUE(
      testing::MakeFlashAvi(path, r.num, r.den, frames, first, every, hz, channels, codecs));
}

SourceEntry EntryFor(const std::string& path) {
  SourceEntry entry;
  EXPECT_EQ(MakeSourceEntry(path, DefaultInfoReaders(), entry), kOk);
  return entry;
}

// A host that cancels when a stage of the given kind reports `atProgress` times.
class StageHost : public NullHost {
 public:
  bool ConversionProgress(const ProgressRecord&, ProgressKind kind, int) override {
    if (kind == cancelKind && ++seen == atProgress) return true;
    return false;
  }
  ProgressKind cancelKind = ProgressKind::kVideo;
  int atProgress = -1;
  int seen = 0;
};

Status Convert(const SourceEntry& entry, const std::string& dir, ConversionHost& host) {
  RunFlags flags;
  ConversionContext context(host, flags);
  return ConvertEntry(entry, dir, DefaultDrivers(), context);
}

// The times (seconds, as ffmpeg's decoding stamps them) at which the decoded pictures turn white
// and the decoded sound turns loud.
struct SyncEvents {
  std::vector<double> flashes, beeps;
  int pictures = 0;
};

std::vector<std::pair<double, double>> MetadataSeries(const std::string& file,
                                                      const std::string& key) {
  std::vector<std::pair<double, double>> series;
  std::ifstream in(file);
  std::string line;
  double t = 0;
  while (std::getline(in, line)) {
    const auto at = line.find("pts_time:");
    if (at != std::string::npos) t = std::atof(line.c_str() + at + 9);
    if (line.rfind(key + "=", 0) == 0) {
      const std::string value = line.substr(key.size() + 1);
      series.emplace_back(t, value == "-inf" ? -1000.0 : std::atof(value.c_str()));
    }
  }
  return series;
}

SyncEvents AnalyseSync(const std::string& mpg, const TempDir& dir) {
  SyncEvents e;
  const std::string vmeta = dir.File("vmeta.txt"), ameta = dir.File("ameta.txt");
  EXPECT_EQ(
      RunCommand("ffmpeg -v error -i " + ShellQuote(mpg) +
                 " -map 0:v -vf signalstats,metadata=mode=print:key=lavfi.signalstats.YAVG:file=" +
                 ShellQuote(vmeta) + " -f null -")
          .exitCode,
      0);
  EXPECT_EQ(RunCommand("ffmpeg -v error -i " + ShellQuote(mpg) +
                       " -map 0:a -af "
                       "asetnsamples=n=64,astats=metadata=1:reset=1,ametadata=mode=print:key=lavfi."
                       "astats.Overall.Peak_level:file=" +
                       ShellQuote(ameta) + " -f null -")
                .exitCode,
            0);
  bool white = false;
  for (const auto& [t, y] : MetadataSeries(vmeta, "lavfi.signalstats.YAVG")) {
    ++e.pictures;
    if (y > 128 && !white) e.flashes.push_back(t);
    white = y > 128;
  }
  double quietSince = -1;
  bool loud = false;
  for (const auto& [t, peak] : MetadataSeries(ameta, "lavfi.astats.Overall.Peak_level")) {
    // A beep is loud sound after at least 100 ms of quiet.
    if (peak > -20 && !loud && quietSince >= 0 && t - quietSince > 0.1) e.beeps.push_back(t);
    if (peak > -20) {
      loud = true;
      quietSince = -1;
    } else if (peak < -50) {
      if (quietSince < 0 || loud) quietSince = t;
      loud = false;
    }
  }
  return e;
}

void ExpectInStep(const SyncEvents& e, std::size_t expected, Rate r) {
  ASSERT_EQ(e.flashes.size(), expected);
  ASSERT_EQ(e.beeps.size(), expected);
  const double half = 0.5 / r.Fps();
  double worst = 0;
  for (std::size_t i = 0; i < expected; ++i) {
    EXPECT_NEAR(e.beeps[i], e.flashes[i], half) << "flash " << i << " at " << e.flashes[i];
    worst = std::max(worst, std::abs(e.beeps[i] - e.flashes[i]));
  }
  ::testing::Test::RecordProperty("worst_av_offset_ms", std::to_string(worst * 1000));
}

// ffprobe's view of one stream of a file.
struct StreamFacts {
  std::string codec, id;
  int frames = 0;
  double duration = 0, start = 0;
};

StreamFacts Probe(const std::string& path, const std::string& streams) {
  const auto out =
      RunCommand("ffprobe -v error -count_frames -select_streams " + streams +
                 " -show_entries stream=codec_name,id,nb_read_frames,duration,start_time"
                 " -of default=nw=1 " +
                 ShellQuote(path))
          .output;
  StreamFacts f;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "codec_name") f.codec = value;
    if (key == "id") f.id = value;
    if (key == "nb_read_frames") f.frames = std::atoi(value.c_str());
    if (key == "duration") f.duration = std::atof(value.c_str());
    if (key == "start_time") f.start = std::atof(value.c_str());
  }
  return f;
}

// `audioSeconds` of sound coded at `codedHz`: the coded stream may run up to one frame longer.
void ExpectCleanSystemStream(const std::string& mpg, int pictures, Rate r, double audioSeconds,
                             int codedHz = 44100) {
  EXPECT_EQ(
      RunCommand("ffprobe -v warning -show_streams " + ShellQuote(mpg) + " 2>&1 >/dev/null").output,
      "");
  const auto decode = RunCommand("ffmpeg -v warning -i " + ShellQuote(mpg) + " -f null -");
  EXPECT_EQ(decode.exitCode, 0);
  EXPECT_EQ(decode.output, "");
  const auto all =
      RunCommand("ffprobe -v error -show_entries stream=index -of csv=p=0 " + ShellQuote(mpg))
          .output;
  EXPECT_EQ(all, "0\n1\n") << "exactly two streams";
  const StreamFacts v = Probe(mpg, "v"), a = Probe(mpg, "a");
  EXPECT_EQ(v.codec, "mpeg1video");
  EXPECT_EQ(v.id, "0x1e0");
  EXPECT_EQ(v.frames, pictures);
  EXPECT_NEAR(v.duration, pictures / r.Fps(), 1.0 / r.Fps() + 1e-3);
  EXPECT_EQ(a.codec, "mp2");
  EXPECT_EQ(a.id, "0x1c0");
  EXPECT_NEAR(a.duration, audioSeconds, 1152.0 / codedHz + 1e-3);
  EXPECT_NEAR(a.start, v.start, 1e-4) << "sound and pictures start together";
}

struct SyncCase {
  const char* name;
  Rate rate;
  int hz;
};

class AviWithSound : public ::testing::TestWithParam<SyncCase> {};

TEST_P(AviWithSound, FlashesAndBeepsLineUpAndTheStreamIsClean) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  CALVEX_REQUIRE_TOOL("ffprobe");
  const SyncCase c = GetParam();
  TempDir dir;
  const std::string avi = dir.File("flash.avi");
  const int frames = static_cast<int>(std::lround(3 * c.rate.Fps()));
  MakeFlashAvi(avi, c.rate, frames, 5, 20, c.hz);
  StageHost host;
  ASSERT_EQ(Convert(EntryFor(avi), dir.path().string(), host), kEntryConverted);
  EXPECT_EQ(ListDirectory(dir.path()), (std::vector<std::string>{"flash.avi", "flash.mpg"}));
  const std::string mpg = dir.File("flash.mpg");
  ExpectCleanSystemStream(mpg, frames, c.rate, frames / c.rate.Fps(),
                          c.hz == 48000 ? 48000 : 44100);
  const auto events = AnalyseSync(mpg, dir);
  EXPECT_EQ(events.pictures, frames);
  ExpectInStep(events, static_cast<std::size_t>((frames - 5 + 19) / 20), c.rate);
}

INSTANTIATE_TEST_SUITE_P(Rates, AviWithSound,
                         ::testing::Values(SyncCase{"pal", {25, 1}, 44100},
                                           SyncCase{"ntsc", {30000, 1001}, 48000},
                                           SyncCase{"thirty", {30, 1}, 22050}),
                         [](const auto& info) { return std::string(info.param.name); });

struct VideoCdCase {
  const char* name;
  Rate rate;
  int hz, channels;  // 0 channels: a silent movie
  const char* size;  // the Video CD picture the rate chooses
};

class VideoCd : public ::testing::TestWithParam<VideoCdCase> {};

// A Video CD from a PAL-rate AVI with stereo sound at 44.1 kHz, an NTSC-rate one with mono sound
// at 48 kHz (resampled and doubled), a film-rate one and a silent one (given silence): vcdimager
// takes each with no warning, ffmpeg and mpeg2dec decode them cleanly, every sector is one
// 2324-byte pack at mux rate 3528, and flashes and beeps stay in step.
TEST_P(VideoCd, VcdimagerTakesItAndPicturesAndSoundStayInStep) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  CALVEX_REQUIRE_TOOL("vcdimager");
  CALVEX_REQUIRE_TOOL("mpeg2dec");
  const VideoCdCase c = GetParam();
  TempDir dir;
  const std::string avi = dir.File("flash.avi");
  const int frames = static_cast<int>(std::lround(3 * c.rate.Fps()));
  if (c.channels > 0) {
    MakeFlashAvi(avi, c.rate, frames, 5, 20, c.hz, c.channels);
  } else {
    ASSERT_EQ(RunCommand("ffmpeg -y -v error -f lavfi -i color=black:s=160x120:r=" + c.rate.Text() +
                         ":d=2 -c:v mjpeg " + ShellQuote(avi))
                  .exitCode,
              0);
  }
  SourceEntry entry = EntryFor(avi);
  entry.aviToMpeg.videoCd = 1;
  StageHost host;
  ASSERT_EQ(Convert(entry, dir.path().string(), host), kEntryConverted);
  EXPECT_EQ(ListDirectory(dir.path()), (std::vector<std::string>{"flash.avi", "flash.mpg"}));
  const std::string mpg = dir.File("flash.mpg");

  const auto bytes = calvex::testing::ReadFileBytes(mpg);
  ASSERT_EQ(bytes.size() % 2324, 0u);
  for (std::size_t at = 0; at < bytes.size(); at += 2324) {
    ASSERT_EQ((std::vector<std::uint8_t>(bytes.begin() + at, bytes.begin() + at + 4)),
              (std::vector<std::uint8_t>{0, 0, 1, 0xBA}))
        << "sector " << at / 2324;
    const int muxRate = (bytes[at + 9] & 0x7F) << 15 | bytes[at + 10] << 7 | bytes[at + 11] >> 1;
    ASSERT_EQ(muxRate, 3528) << "sector " << at / 2324;
  }
  const auto image = RunCommand("cd " + ShellQuote(dir.path().string()) +
                                " && vcdimager -t vcd2 -c image.cue -b image.bin flash.mpg");
  EXPECT_EQ(image.exitCode, 0) << image.output;
  EXPECT_NE(image.output.find("finished ok"), std::string::npos) << image.output;
  EXPECT_EQ(image.output.find("WARN"), std::string::npos) << image.output;
  EXPECT_EQ(RunCommand("ffprobe -v error -show_entries stream=width,height,r_frame_rate,"
                       "bit_rate,sample_rate,channels -of csv=p=0 " +
                       ShellQuote(mpg))
                .output,
            std::string(c.size) + "\n44100,2,0/0,224000\n");
  const auto decode = RunCommand("ffmpeg -v warning -i " + ShellQuote(mpg) + " -f null -");
  EXPECT_EQ(decode.output, "");
  const auto m2 = RunCommand("mpeg2dec -v -o null " + ShellQuote(mpg));
  EXPECT_EQ(m2.exitCode, 0) << m2.output;
  EXPECT_EQ(m2.output.find("rror"), std::string::npos) << m2.output;
  if (c.channels > 0) {
    const auto events = AnalyseSync(mpg, dir);
    EXPECT_EQ(events.pictures, frames);
    ExpectInStep(events, static_cast<std::size_t>((frames - 5 + 19) / 20), c.rate);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, VideoCd,
    ::testing::Values(VideoCdCase{"pal", {25, 1}, 44100, 2, "352,288,25/1,1150000"},
                      VideoCdCase{"ntsc", {30000, 1001}, 48000, 1, "352,240,30000/1001,1150000"},
                      VideoCdCase{"film", {24000, 1001}, 44100, 2, "352,240,24000/1001,1150000"},
                      VideoCdCase{"silent", {25, 1}, 0, 0, "352,288,25/1,1150000"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SoundCase {
  const char* name;
  const char* codecs;
  bool inStep;  // ffmpeg's MPEG-4 and MP3 coders shift the movie's own flashes and beeps
};

// PCM goes to the audio encoder directly; ADPCM and MP3 through the temporary PCM file.
class AviWithSoundSections : public ::testing::TestWithParam<SoundCase> {};

TEST_P(AviWithSoundSections, TwoSectionsGiveTwoNumberedFilesWithTheirOwnPicturesAndSound) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  CALVEX_REQUIRE_TOOL("ffprobe");
  TempDir dir;
  const Rate rate{25, 1};
  const std::string avi = dir.File("holiday.avi");
  MakeFlashAvi(avi, rate, 100, 3, 20, 44100, 2, GetParam().codecs);  // white: 3, 23, 43, 63, 83
  SourceEntry entry = EntryFor(avi);
  entry.sections = {Section{10, 49}, Section{57, 86}};  // starting mid-file
  StageHost host;
  ASSERT_EQ(Convert(entry, dir.path().string(), host), kEntryConverted);
  EXPECT_EQ(ListDirectory(dir.path()),
            (std::vector<std::string>{"holid001.mpg", "holid002.mpg", "holiday.avi"}));

  const std::string first = dir.File("holid001.mpg"), second = dir.File("holid002.mpg");
  ExpectCleanSystemStream(first, 40, rate, 40 / 25.0);
  ExpectCleanSystemStream(second, 30, rate, 30 / 25.0);
  if (!GetParam().inStep) return;
  // Section 1 shows frames 23 and 43 as its pictures 13 and 33; section 2 frames 63 and 83 as 6
  // and 26; each with its beep.
  const auto a = AnalyseSync(first, dir);
  ExpectInStep(a, 2, rate);
  ASSERT_EQ(a.flashes.size(), 2u);
  EXPECT_NEAR(a.flashes[1] - a.flashes[0], 20 / 25.0, 1e-3);
  // ffmpeg's times count from the start of the file's first picture.
  EXPECT_NEAR(a.flashes[0], 13 / 25.0, 1e-3);
  const auto b = AnalyseSync(second, dir);
  ExpectInStep(b, 2, rate);
  ASSERT_EQ(b.flashes.size(), 2u);
  EXPECT_NEAR(b.flashes[0], 6 / 25.0, 1e-3);
}

INSTANTIATE_TEST_SUITE_P(
    Sound, AviWithSoundSections,
    ::testing::Values(SoundCase{"pcm", testing::kFlashAviCodecs, true},
                      SoundCase{"adpcm", "-c:v mjpeg -q:v 2 -c:a adpcm_ms", true},
                      SoundCase{"mp3", "-c:v mpeg4 -q:v 2 -c:a libmp3lame -b:a 128k", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AviWithSoundTemporaryFiles, NoneRemainAfterACancelInAnyStage) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string avi = dir.File("clip.avi");
  MakeFlashAvi(avi, {25, 1}, 30, 5, 20);
  const SourceEntry entry = EntryFor(avi);
  for (ProgressKind stage :
       {ProgressKind::kVideo, ProgressKind::kAudio, ProgressKind::kInterleaving}) {
    StageHost host;
    host.cancelKind = stage;
    host.atProgress = 3;
    EXPECT_EQ(Convert(entry, dir.path().string(), host), kEntryAborted) << static_cast<int>(stage);
    EXPECT_EQ(ListDirectory(dir.path()), (std::vector<std::string>{"clip.avi"}))
        << "after a cancel in stage " << static_cast<int>(stage);
  }
}

TEST(AviWithSoundTemporaryFiles, NoneRemainAfterAFailureOfTheAudioStage) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string avi = dir.File("clip.avi");
  MakeFlashAvi(avi, {25, 1}, 30, 5, 20, 44100, 3);  // three channels: the video passes, the audio
                                                    // encoder refuses
  StageHost host;
  EXPECT_EQ(Convert(EntryFor(avi), dir.path().string(), host), kChannelCountUnsupported);
  EXPECT_EQ(ListDirectory(dir.path()), (std::vector<std::string>{"clip.avi"}));
}

// The media layer's frames, failing from frame `failAt` on.
class FailingFrames : public AviFrameReader {
 public:
  explicit FailingFrames(int failAt) : inner_(MakeMediaAviFrameReader()), failAt_(failAt) {}
  Status Open(const std::string& path, BitmapInfoHeader& request,
              media::AviOpenInfo& info) override {
    return inner_->Open(path, request, info);
  }
  Status GetFrame(std::int32_t frame, std::uint8_t* buffer) override {
    return frame >= failAt_ ? kAviDecodeFailed : inner_->GetFrame(frame, buffer);
  }
  void Close() override { inner_->Close(); }

 private:
  std::unique_ptr<AviFrameReader> inner_;
  int failAt_;
};

TEST(AviWithSoundTemporaryFiles, NoneRemainAfterAFailureOfTheVideoStage) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string avi = dir.File("clip.avi");
  MakeFlashAvi(avi, {25, 1}, 30, 5, 20);
  DriverSet drivers = DefaultDrivers();
  drivers.aviToMpeg = [](AviToMpegJob& job, ConversionContext& context) {
    FailingFrames frames(12);
    return AviToMpegDriver(frames).Run(job, context);
  };
  RunFlags flags;
  StageHost host;
  ConversionContext context(host, flags);
  EXPECT_EQ(ConvertEntry(EntryFor(avi), dir.path().string(), drivers, context), kAviDecodeFailed);
  EXPECT_EQ(ListDirectory(dir.path()), (std::vector<std::string>{"clip.avi"}));
}

TEST(AviWithSoundTemporaryFiles, NoneRemainAfterAFailureOfTheMultiplexer) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string avi = dir.File("clip.avi");
  MakeFlashAvi(avi, {25, 1}, 30, 5, 20);
  // The destination's name is taken by a directory: video and audio pass, the multiplexer cannot
  // create its output (and leaves the directory alone).
  std::filesystem::create_directory(dir.File("clip.mpg"));
  StageHost host;
  EXPECT_EQ(Convert(EntryFor(avi), dir.path().string(), host), kCreateFailed);
  EXPECT_EQ(ListDirectory(dir.path()), (std::vector<std::string>{"clip.avi", "clip.mpg"}));
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("clip.mpg")));
}

TEST(AviWithSoundTemporaryFiles, ConversionsSideBySideIntoOneDirectoryDoNotShareThem) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  CALVEX_REQUIRE_TOOL("ffprobe");
  TempDir dir;
  MakeFlashAvi(dir.File("one.avi"), {25, 1}, 50, 5, 20);
  MakeFlashAvi(dir.File("two.avi"), {25, 1}, 40, 10, 20);
  BatchSettings settings;
  settings.jobs = 2;
  StageHost host;
  RunFlags flags;
  const auto outcome = RunBatch({EntryFor(dir.File("one.avi")), EntryFor(dir.File("two.avi"))},
                                settings, DefaultDrivers(), host, flags);
  ASSERT_TRUE(outcome.converted);
  EXPECT_EQ(outcome.results, (std::vector<Status>{kEntryConverted, kEntryConverted}));
  EXPECT_EQ(ListDirectory(dir.path()),
            (std::vector<std::string>{"one.avi", "one.mpg", "two.avi", "two.mpg"}));
  EXPECT_EQ(Probe(dir.File("one.mpg"), "v").frames, 50);
  EXPECT_EQ(Probe(dir.File("two.mpg"), "v").frames, 40);
  const auto a = AnalyseSync(dir.File("one.mpg"), dir);
  ExpectInStep(a, 3, {25, 1});
  const auto b = AnalyseSync(dir.File("two.mpg"), dir);
  ExpectInStep(b, 2, {25, 1});
}

}  // namespace
}  // namespace calvex
