// The MPEG to AVI driver: sections that start on I, P and B pictures give exactly their frames
// (against ffmpeg's decode of the same frame numbers) with the matching sound; whole files through
// the command line; the frame rate table and halveFrames; refusals; cancel; the preview's seeking;
// and the information readers.
#include "video_decoder/mpeg_to_avi_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/host.h"
#include "support/media_tools.h"
#include "support/test_support.h"
#include "video_decoder/gop_index.h"
#include "video_decoder/index_cache.h"
#include "video_decoder/mpeg_decoder_session.h"
#include "video_decoder/mpeg_scanner.h"
#include "video_decoder/mpeg_test_media.h"

namespace calvex::video_decoder {
namespace {

namespace fs = std::filesystem;
using calvex::testing::Psnr;
using calvex::testing::ReadFileBytes;
using calvex::testing::RunCommand;
using calvex::testing::ShellQuote;
using calvex::testing::TempDir;
using calvex::testing::WriteFileBytes;
using namespace calvex::video_decoder::testing;

constexpr int kWidth = 96, kHeight = 64;
constexpr std::size_t kFrameBytes = kWidth * kHeight * 3;

// Splits raw top-down bgr24 into frames.
Frames SplitFrames(const std::vector<std::uint8_t>& raw) {
  Frames frames;
  for (std::size_t at = 0; at + kFrameBytes <= raw.size(); at += kFrameBytes) {
    frames.emplace_back(raw.begin() + static_cast<std::ptrdiff_t>(at),
                        raw.begin() + static_cast<std::ptrdiff_t>(at + kFrameBytes));
  }
  return frames;
}

// ffmpeg's decode of an MPEG file, turned into RGB by our decoder's own colour conversion.
Frames ReferenceFrames(const std::string& path) {
  const std::string raw = path + ".yuv";
  const auto r =
      RunCommand("ffmpeg -v error -y -i " + ShellQuote(path) +
                 " -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " + ShellQuote(raw));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  Frames frames = RgbFromYuv(ReadFileBytes(raw), kWidth, kHeight);
  fs::remove(raw);
  return frames;
}

// The pictures of an AVI as ffmpeg reads them.
Frames AviFrames(const std::string& path) {
  const std::string raw = path + ".rgb";
  const auto r =
      RunCommand("ffmpeg -v error -y -i " + ShellQuote(path) +
                 " -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt bgr24 " + ShellQuote(raw));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  Frames frames = SplitFrames(ReadFileBytes(raw));
  fs::remove(raw);
  return frames;
}

// Output frame k is reference frame sources[k], and clearly not its neighbours.
void ExpectFrames(const Frames& got, const Frames& reference, const std::vector<int>& sources) {
  ASSERT_EQ(got.size(), sources.size());
  for (std::size_t k = 0; k < got.size(); ++k) {
    const auto n = static_cast<std::size_t>(sources[k]);
    ASSERT_LT(n, reference.size());
    const double own = Psnr(got[k], reference[n]);
    EXPECT_GT(own, 38.0) << "output " << k << " from frame " << n;
    for (std::size_t other : {n - 1, n + 1}) {
      if (other < reference.size()) {
        EXPECT_GT(own, Psnr(got[k], reference[other]) + 3.0)
            << "output " << k << " from frame " << n << " looks like frame " << other;
      }
    }
  }
}

// Each output frame is reference frame first + k.
void ExpectFrames(const Frames& got, const Frames& reference, int first, int last) {
  std::vector<int> sources(static_cast<std::size_t>(std::max(last - first + 1, 0)));
  for (std::size_t k = 0; k < sources.size(); ++k) sources[k] = first + static_cast<int>(k);
  ExpectFrames(got, reference, sources);
}

// Sample frames of an AVI's PCM sound track; -1 without one.
std::int64_t AudioSamples(const std::string& path) {
  const auto r = RunCommand(
      "ffprobe -v error -select_streams a:0 -show_entries stream=nb_frames "
      "-of csv=p=0 " +
      ShellQuote(path));
  if (r.exitCode != 0 || r.output.empty()) return -1;
  return std::atoll(r.output.c_str());
}

// Sample frames of an MPEG file's sound (its Layer II frames as ffprobe counts them) once made
// 44.1 kHz, as the tests' AVIs are.
double SourceSamplesAt44100(const std::string& path) {
  const auto r = RunCommand(
      "ffprobe -v error -select_streams a:0 -count_frames -show_entries "
      "stream=sample_rate,nb_read_frames -of csv=p=0 " +
      ShellQuote(path));
  int rate = 0;
  long long frames = -1;
  if (r.exitCode != 0 || std::sscanf(r.output.c_str(), "%d,%lld", &rate, &frames) != 2) return -1;
  return static_cast<double>(frames) * 1152 * 44100 / rate;
}

std::vector<std::string> TemporaryFilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& name : calvex::testing::ListDirectory(dir)) {
    if (name.rfind("~audio.tmp", 0) == 0) names.push_back(name);
  }
  return names;
}

// Keeps the index cache of the tests in their own directory.
class MpegToAviTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_DATA_HOME")) saved_ = old;
    setenv("XDG_DATA_HOME", dir_.File("data").c_str(), 1);
  }
  void TearDown() override {
    if (saved_) {
      setenv("XDG_DATA_HOME", saved_->c_str(), 1);
    } else {
      unsetenv("XDG_DATA_HOME");
    }
  }

  Status Convert(const std::string& source, const std::string& destination, int first, int last,
                 const GopIndexEntry* stored = nullptr, int halve = 1) {
    ConversionSettings settings;
    settings.mpegToAvi.width = kWidth;
    settings.mpegToAvi.height = kHeight;
    settings.mpegToAvi.SetAudioFormat(MakePcmFormat(1, 44100, 16));
    if (first > 0 || last >= 0) {
      settings.sectionFirst = first;
      settings.sectionLast = last;
      if (stored != nullptr) settings.sectionSeek = *stored;
    }
    MpegToAviJob job;
    job.source = source;
    job.destination = destination;
    job.firstFrame = first;
    job.lastFrame = last;
    job.decodingOptions[3] = halve;
    job.settings = &settings;
    StandaloneContext context;
    return ConvertMpegToAvi(job, context.get());
  }

  TempDir dir_;
  std::optional<std::string> saved_;
};

// First frames at or after 20 of each picture type, as ffprobe shows them.
std::vector<int> FirstOfEachType(const std::string& types) {
  std::vector<int> starts;
  for (char t : {'I', 'P', 'B'}) {
    const auto at = types.find(t, 20);
    EXPECT_NE(at, std::string::npos) << t;
    if (at != std::string::npos) starts.push_back(static_cast<int>(at));
  }
  return starts;
}

TEST_F(MpegToAviTest, SectionsGiveExactlyTheirFramesFromIPAndBPictures) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  for (const char* container : {"mpeg1video", "mpeg"}) {
    SCOPED_TRACE(container);
    const bool system = std::string(container) == "mpeg";
    const std::string source = dir_.File(std::string("movie_") + container + ".mpg");
    ASSERT_TRUE(MakeFfmpegStream(source, container, 60, system));
    const Frames reference = ReferenceFrames(source);
    ASSERT_EQ(reference.size(), 60u);
    const std::string types = FfprobePictureTypes(source);
    GopIndex index;
    ASSERT_EQ(ScanMpegFile(source, index), kOk);

    for (int first : FirstOfEachType(types)) {
      const int last = first + 7;
      SCOPED_TRACE(std::string("from a ") + types[static_cast<std::size_t>(first)] + " picture");
      // With the entry a preview would have stored, and with none (the index is found first).
      const GopIndexEntry stored = index[index.EntryFor(first)];
      for (const GopIndexEntry* entry : {&stored, static_cast<const GopIndexEntry*>(nullptr)}) {
        const std::string avi = dir_.File("section.avi");
        ASSERT_EQ(Convert(source, avi, first, last, entry), kOk);
        ExpectFrames(AviFrames(avi), reference, first, last);
        if (system) {
          // Whole Layer II frames (1152 samples) from the one holding the section's first
          // sample to the one holding its last.
          const std::int64_t from = first * 44100LL / 25 / 1152;
          const std::int64_t to = ((last + 1) * 44100LL / 25 - 1) / 1152;
          EXPECT_EQ(AudioSamples(avi), (to - from + 1) * 1152);
        }
        EXPECT_TRUE(TemporaryFilesIn(dir_.path().string()).empty());
        fs::remove(avi);
      }
    }
  }
}

TEST_F(MpegToAviTest, TheWholeFileOfEachMaker) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const std::string own = dir_.File("own.mpg");
  ASSERT_TRUE(MakeOwnSystemStream(dir_.path().string(), own, 40));
  const std::string vcd = dir_.File("vcd.mpg");
  ASSERT_TRUE(MakeFfmpegStream(vcd, "vcd", 40));
  const std::string ownVcd = dir_.File("own_vcd.mpg");
  ASSERT_TRUE(MakeOwnSystemStream(dir_.path().string(), ownVcd, 40, true));
  // Two sound streams: the AVI takes the first.
  const std::string twoSounds = dir_.File("two_sounds.mpg");
  ASSERT_TRUE(MakeFfmpegStream(twoSounds, "mpeg", 40, true, "96x64", 25,
                               "-map 0:v -map 1:a -map 1:a -ac:a:1 2 -b:a:1 192k"));
  // Sound at a half sampling rate (ISO/IEC 13818-3).
  const std::string halfRate = dir_.File("half_rate.mpg");
  ASSERT_TRUE(MakeFfmpegStream(halfRate, "mpeg", 40, true, "96x64", 25, "-ar 24000"));
  std::vector<std::string> sources{own, vcd, ownVcd, twoSounds, halfRate};
  if (calvex::testing::HaveTool("mplex") && calvex::testing::HaveTool("mpeg2enc")) {
    sources.push_back(dir_.File("mplex.mpg"));
    ASSERT_TRUE(MakeMplexStream(dir_.path().string(), sources.back(), 40));
  }
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    const std::string avi = dir_.File("whole.avi");
    ASSERT_EQ(Convert(source, avi, 0, -1), kOk);
    ExpectFrames(AviFrames(avi), ReferenceFrames(source), 0, 39);
    EXPECT_NEAR(AudioSamples(avi), SourceSamplesAt44100(source), 1.0);
    fs::remove(avi);
  }
}

TEST_F(MpegToAviTest, CommandLineConvertWritesTheAviFfprobeExpects) {
  CALVEX_REQUIRE_TOOL("ffprobe");
  const std::string source = dir_.File("movie.mpg");
  ASSERT_TRUE(MakeFfmpegStream(source, "mpeg", 50));
  const std::string out = dir_.File("out");
  fs::create_directories(out);
  const auto r = RunCommand("cd " + ShellQuote(dir_.path().string()) + " && " +
                            ShellQuote(CALVEX_BINARY) + " convert -y -q --audio-format adpcm -d " +
                            ShellQuote(out) + " " + ShellQuote(source));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::string avi = out + "/movie.avi";
  const auto p = RunCommand(
      "ffprobe -v error -count_frames -show_entries "
      "stream=codec_type,codec_name,width,height,r_frame_rate,nb_read_frames,"
      "sample_rate,channels -of json " +
      ShellQuote(avi));
  const auto j = nlohmann::json::parse(p.output);
  ASSERT_EQ(j["streams"].size(), 2u) << p.output;
  const auto& v = j["streams"][0];
  EXPECT_EQ(v["codec_type"], "video");
  EXPECT_EQ(v["width"], kWidth);
  EXPECT_EQ(v["height"], kHeight);
  EXPECT_EQ(v["r_frame_rate"], "25/1");
  EXPECT_EQ(v["nb_read_frames"], "50");
  const auto& a = j["streams"][1];
  EXPECT_EQ(a["codec_type"], "audio");
  EXPECT_EQ(a["codec_name"], "adpcm_ms");
  EXPECT_EQ(a["sample_rate"], "44100");
  EXPECT_EQ(a["channels"], 1);
  EXPECT_TRUE(TemporaryFilesIn(out).empty());

  // Two marked sections of the same file: one AVI each, of exactly their frames.
  const auto sections =
      RunCommand(ShellQuote(CALVEX_BINARY) + " convert -y -q --section 5-12 " +
                 "--section 30-33 -d " + ShellQuote(out) + " " + ShellQuote(source));
  ASSERT_EQ(sections.exitCode, 0) << sections.output;
  const Frames reference = ReferenceFrames(source);
  ExpectFrames(AviFrames(out + "/movie001.avi"), reference, 5, 12);
  ExpectFrames(AviFrames(out + "/movie002.avi"), reference, 30, 33);
}

TEST_F(MpegToAviTest, FrameRateTableAndHalvedFrames) {
  CALVEX_REQUIRE_TOOL("ffprobe");
  struct Case {
    int code;
    const char* rate;
  };
  // Our encoder's stream at 30 frames per second, its sequence header's picture_rate changed.
  const std::string thirty = dir_.File("thirty.mpg");
  ASSERT_TRUE(MakeOwnElementaryStream(thirty, 13, kWidth, kHeight, 5));
  const auto bytes = ReadFileBytes(thirty);
  ASSERT_TRUE(bytes[3] == 0xB3 && (bytes[7] & 0x0F) == 5);
  for (const Case& c : {Case{9, "15/1"}, Case{10, "10/1"}, Case{4, "30000/1001"},
                        Case{1, "24000/1001"}, Case{8, "60/1"}}) {
    SCOPED_TRACE(c.code);
    auto patched = bytes;
    patched[7] = static_cast<std::uint8_t>((patched[7] & 0xF0) | c.code);
    const std::string source = dir_.File("rate.mpg");
    WriteFileBytes(source, patched);
    const std::string avi = dir_.File("rate.avi");
    ASSERT_EQ(Convert(source, avi, 0, -1), kOk);
    const auto p = RunCommand(
        "ffprobe -v error -count_frames -show_entries "
        "stream=r_frame_rate,nb_read_frames -of csv=p=0 " +
        ShellQuote(avi));
    EXPECT_EQ(p.output, std::string(c.rate) + ",13\n");
  }
  // halveFrames 2: every second picture, at half the rate.
  const std::string& source = thirty;
  const std::string avi = dir_.File("half.avi");
  ASSERT_EQ(Convert(source, avi, 0, -1, nullptr, 2), kOk);
  const auto p = RunCommand(
      "ffprobe -v error -count_frames -show_entries "
      "stream=r_frame_rate,nb_read_frames -of csv=p=0 " +
      ShellQuote(avi));
  EXPECT_EQ(p.output, "15/1,7\n");
  const Frames halved = AviFrames(avi);
  const Frames reference = ReferenceFrames(source);
  ASSERT_EQ(halved.size(), 7u);
  for (std::size_t k = 0; k < halved.size(); ++k) EXPECT_GT(Psnr(halved[k], reference[2 * k]), 38);
}

// What ffprobe reports of an AVI's video: "rate,frames,width,height".
std::string VideoFacts(const std::string& avi) {
  return RunCommand(
             "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
             "stream=r_frame_rate,nb_read_frames,width,height -of "
             "csv=p=0:nk=1 " +
             ShellQuote(avi))
      .output;
}

// The record's frame rate: pictures dropped or repeated by their time, the sound as long as it
// was, and the stream's own rate (or one within rounding of it) giving the very same file.
TEST_F(MpegToAviTest, ChosenFrameRateDropsOrRepeatsPicturesAndKeepsTheSound) {
  CALVEX_REQUIRE_TOOL("ffprobe");
  const std::string source = dir_.File("movie.mpg");
  ASSERT_TRUE(MakeFfmpegStream(source, "mpeg", 60, true, "96x64", 30));
  const Frames reference = ReferenceFrames(source);
  ASSERT_EQ(reference.size(), 60u);
  const auto convert = [&](const std::string& name, const std::string& options) {
    const std::string out = dir_.File(name);
    fs::create_directories(out);
    const auto r = RunCommand(ShellQuote(CALVEX_BINARY) + " convert -y -q " + options + " -d " +
                              ShellQuote(out) + " " + ShellQuote(source));
    EXPECT_EQ(r.exitCode, 0) << options << "\n" << r.output;
    return out + "/movie.avi";
  };
  const std::string own = convert("own", "");
  EXPECT_EQ(VideoFacts(own), "96,64,30/1,60\n");
  const std::int64_t sound = AudioSamples(own);
  ASSERT_GT(sound, 44100 * 3 / 2);  // ffmpeg ends the sound with the last picture

  // 15 frames per second and a size of its own: every second picture, two seconds long.
  const std::string half = convert("half", "--frame-rate 15 --size 176x120");
  EXPECT_EQ(VideoFacts(half), "176,120,15/1,30\n");
  EXPECT_EQ(AudioSamples(half), sound);

  // 25: the sixth picture of every six is dropped.
  const std::string pal = convert("pal", "--frame-rate 25");
  EXPECT_EQ(VideoFacts(pal), "96,64,25/1,50\n");
  std::vector<int> kept;
  for (int j = 0; j < 50; ++j) kept.push_back(j * 6 / 5);
  ExpectFrames(AviFrames(pal), reference, kept);
  EXPECT_EQ(AudioSamples(pal), sound);

  for (const char* same : {"--frame-rate 30", "--frame-rate 29.998"}) {
    EXPECT_EQ(ReadFileBytes(convert("same", same)), ReadFileBytes(own)) << same;
  }

  // 25 to 30 (through the driver): the first of every five pictures is shown twice.
  const std::string pal25 = dir_.File("pal25.mpg");
  ASSERT_TRUE(MakeFfmpegStream(pal25, "mpeg1video", 20, false));
  ConversionSettings settings;
  settings.mpegToAvi.frameRatePacked = 30000 << 16 | 1000;
  MpegToAviJob job;
  job.source = pal25;
  job.destination = dir_.File("thirty.avi");
  job.settings = &settings;
  StandaloneContext context;
  ASSERT_EQ(ConvertMpegToAvi(job, context.get()), kOk);
  EXPECT_EQ(VideoFacts(job.destination), "96,64,30/1,24\n");
  std::vector<int> repeated;
  for (int j = 0; j < 24; ++j) repeated.push_back(j * 5 / 6);
  const Frames got = AviFrames(job.destination);
  ASSERT_EQ(got.size(), 24u);
  const Frames pal25Reference = ReferenceFrames(pal25);
  for (std::size_t j = 0; j < got.size(); ++j) {
    EXPECT_GT(Psnr(got[j], pal25Reference[static_cast<std::size_t>(repeated[j])]), 38.0) << j;
  }
}

TEST_F(MpegToAviTest, RefusalsLeaveNothingBehind) {
  const std::string avi = dir_.File("out.avi");
  EXPECT_EQ(Convert(dir_.File("missing.mpg"), avi, 0, -1), kOpenFailed);
  WriteFileBytes(dir_.File("empty.mpg"), {});
  EXPECT_EQ(Convert(dir_.File("empty.mpg"), avi, 0, -1), kEmptySource);
  // A pack without a system header.
  std::vector<std::uint8_t> pack{0, 0, 1, 0xBA, 0x21, 0, 1, 0, 1, 0x80, 0, 1};
  pack.insert(pack.end(), {0, 0, 1, 0xE0, 0, 4, 0x0F, 0, 0, 1});
  pack.resize(400, 0);
  WriteFileBytes(dir_.File("nosys.mpg"), pack);
  EXPECT_EQ(Convert(dir_.File("nosys.mpg"), avi, 0, -1), kVideoDataError);
  // No video sequence header.
  std::vector<std::uint8_t> junk(5000);
  for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<std::uint8_t>(i * 37 + 5);
  WriteFileBytes(dir_.File("junk.mpg"), junk);
  EXPECT_EQ(Convert(dir_.File("junk.mpg"), avi, 0, -1), kNotMpegVideo);
  EXPECT_FALSE(fs::exists(avi));
  EXPECT_TRUE(TemporaryFilesIn(dir_.path().string()).empty());
  // A destination that cannot be created.
  if (calvex::testing::HaveTool("ffmpeg")) {
    const std::string movie = dir_.File("movie.mpg");
    ASSERT_TRUE(MakeFfmpegStream(movie, "mpeg", 10));
    EXPECT_EQ(Convert(movie, dir_.File("no/such/dir/out.avi"), 0, -1), kTempCreateFailed);
    const std::string plain = dir_.File("plain.mpg");
    ASSERT_TRUE(MakeFfmpegStream(plain, "mpeg1video", 10, false));
    EXPECT_EQ(Convert(plain, dir_.File("no/such/dir/out.avi"), 0, -1), kMediaAviCreate);
    EXPECT_TRUE(TemporaryFilesIn(dir_.path().string()).empty());
  }

  MpegInfo info;
  EXPECT_EQ(ReadMpegInfo(dir_.File("empty.mpg"), info), kEmptySource);
  EXPECT_EQ(ReadMpegInfo(dir_.File("nosys.mpg"), info), kVideoDataError);
  EXPECT_EQ(ReadMpegInfo(dir_.File("junk.mpg"), info), kNotMpegVideo);
}

TEST_F(MpegToAviTest, VideoOnlySystemStream) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const std::string silent = dir_.File("silent.mpg");
  ASSERT_TRUE(MakeFfmpegStream(silent, "mpeg", 30, false));
  const std::string avi = dir_.File("silent.avi");
  ASSERT_EQ(Convert(silent, avi, 0, -1), kOk);
  EXPECT_EQ(AviFrames(avi).size(), 30u);
  EXPECT_EQ(AudioSamples(avi), -1);  // no sound track
}

// A host that cancels at its nth progress report.
class CancellingHost : public NullHost {
 public:
  explicit CancellingHost(int at) : at_(at) {}
  bool ConversionProgress(const ProgressRecord&, ProgressKind kind, int) override {
    kinds.push_back(kind);
    return static_cast<int>(kinds.size()) == at_;
  }
  std::vector<ProgressKind> kinds;

 private:
  int at_;
};

TEST_F(MpegToAviTest, CancelDuringSoundOrPicturesLeavesNothing) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const std::string source = dir_.File("movie.mpg");
  ASSERT_TRUE(MakeFfmpegStream(source, "mpeg", 40));
  // How many reports each stage gives.
  CancellingHost count(-1);
  RunFlags countFlags;
  ConversionContext counting(count, countFlags);
  MpegToAviJob whole;
  whole.source = source;
  whole.destination = dir_.File("whole.avi");
  ASSERT_EQ(ConvertMpegToAvi(whole, counting), kOk);
  const auto soundReports =
      std::count(count.kinds.begin(), count.kinds.end(), ProgressKind::kAudio);
  ASSERT_GT(soundReports, 5);
  ASSERT_GT(count.kinds.size() - static_cast<std::size_t>(soundReports), 20u);

  for (int at : {3, static_cast<int>(soundReports) + 10}) {
    SCOPED_TRACE(at);
    CancellingHost host(at);
    RunFlags flags;
    ConversionContext context(host, flags);
    MpegToAviJob job;
    job.source = source;
    job.destination = dir_.File("cancel.avi");
    EXPECT_EQ(ConvertMpegToAvi(job, context), kCancelled);
    EXPECT_FALSE(fs::exists(job.destination));
    EXPECT_TRUE(TemporaryFilesIn(dir_.path().string()).empty());
    ASSERT_EQ(static_cast<int>(host.kinds.size()), at);
    EXPECT_EQ(host.kinds.front(), ProgressKind::kAudio);  // the sound comes first
    EXPECT_EQ(host.kinds.back(), at == 3 ? ProgressKind::kAudio : ProgressKind::kVideo);
  }
}

TEST_F(MpegToAviTest, ConversionsSideBySideGiveTheSameFile) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const std::string source = dir_.File("movie.mpg");
  ASSERT_TRUE(MakeFfmpegStream(source, "mpeg", 30));
  Status a = 99, b = 99;
  std::thread one([&] { a = Convert(source, dir_.File("a.avi"), 0, -1); });
  std::thread two([&] { b = Convert(source, dir_.File("b.avi"), 0, -1); });
  one.join();
  two.join();
  EXPECT_EQ(a, kOk);
  EXPECT_EQ(b, kOk);
  EXPECT_EQ(ReadFileBytes(dir_.File("a.avi")), ReadFileBytes(dir_.File("b.avi")));
}

// The preview keeps the decoder open: it goes on forwards, seeks through the index, and reopens
// for a frame before the current one.
TEST_F(MpegToAviTest, PreviewSeeksForwardAndBack) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  for (const char* container : {"mpeg1video", "mpeg"}) {
    SCOPED_TRACE(container);
    const std::string source = dir_.File(std::string("preview_") + container + ".mpg");
    ASSERT_TRUE(MakeFfmpegStream(source, container, 60, false));
    const Frames reference = ReferenceFrames(source);
    StandaloneContext context;
    MpegDecoderSession session(context.get());
    ASSERT_EQ(OpenMpegIndex(source, session.index()), kOk);
    for (int wanted : {10, 13, 41, 44, 7}) {
      SCOPED_TRACE(wanted);
      MpegDecodeRequest request;
      request.source = source;
      request.firstFrame = wanted;
      std::vector<std::uint8_t> shown;
      int shownNumber = -1;
      const Status s =
          session.ConvertMpegToAvi(request, [&](const DecodedFrameInfo& info, int, int) {
            // The first picture shown is the one asked for (the held reference that follows a
            // stop is shown too, and ignored here).
            if (info.bitmapBits == nullptr || shownNumber >= 0) return kFrameGoOn;
            shownNumber = info.frameNumber;
            // Bottom-up to top-down.
            shown.clear();
            for (int row = kHeight - 1; row >= 0; --row) {
              const std::uint8_t* p =
                  info.bitmapBits + static_cast<std::ptrdiff_t>(row) * kWidth * 3;
              shown.insert(shown.end(), p, p + kWidth * 3);
            }
            return kFrameStop;
          });
      EXPECT_EQ(s, kCancelled);
      EXPECT_TRUE(session.IsOpen());
      ASSERT_EQ(shownNumber, wanted);
      EXPECT_GT(Psnr(shown, reference[static_cast<std::size_t>(wanted)]), 38.0);
    }
    session.CloseMpegDecoder();
    EXPECT_FALSE(session.IsOpen());
  }
}

TEST_F(MpegToAviTest, InformationOfMpegAndMp2Files) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const std::string movie = dir_.File("movie.mpg");
  ASSERT_TRUE(MakeFfmpegStream(movie, "mpeg", 30, true, "96x64", 25, "-b:v 1500k"));
  MpegInfo info;
  ASSERT_EQ(ReadMpegInfo(movie, info), kOk);
  EXPECT_EQ(info.frameRateNum, 25);
  EXPECT_EQ(info.frameRateDen, 1);
  EXPECT_EQ(info.width, kWidth);
  EXPECT_EQ(info.height, kHeight);
  EXPECT_EQ(info.audioSampleRate, 44100);
  EXPECT_EQ(info.audioBitsPerSample, 16);
  EXPECT_EQ(info.unused, 1);  // channels
  EXPECT_EQ(info.audioLayer, 2);
  EXPECT_EQ(info.audioBitrateIndex, 4);  // 64 kbit/s
  EXPECT_EQ(info.audioChannelMode, 1);   // mono

  // Asked for, the reader hands on the first picture.
  std::vector<std::uint8_t> first;
  MpegInfo again;
  ASSERT_EQ(ReadMpegInfoAndPicture(movie, again,
                                   [&](const BitmapInfoHeader& h, const std::uint8_t* bits) {
                                     ASSERT_EQ(h.width, kWidth);
                                     ASSERT_EQ(h.height, kHeight);
                                     for (int row = kHeight - 1; row >= 0; --row) {
                                       const std::uint8_t* p =
                                           bits + row * BitmapStride(kWidth, 24);
                                       first.insert(first.end(), p, p + kWidth * 3);
                                     }
                                   }),
            kOk);
  EXPECT_EQ(std::memcmp(&again, &info, sizeof info), 0);
  const Frames reference = ReferenceFrames(movie);
  ASSERT_FALSE(reference.empty());
  EXPECT_GT(Psnr(first, reference.front()), 38.0);

  const std::string es = dir_.File("plain.mpg");
  ASSERT_TRUE(MakeOwnElementaryStream(es, 13, kWidth, kHeight, 4));
  MpegInfo plain;
  ASSERT_EQ(ReadMpegInfo(es, plain), kOk);
  EXPECT_EQ(plain.frameRateNum, 30000);
  EXPECT_EQ(plain.frameRateDen, 1001);
  EXPECT_EQ(plain.videoBitRate, 1000);  // 400000 bit/s
  EXPECT_EQ(plain.audioSampleRate, 0);

  // The command line prints both blocks.
  const std::string song = dir_.File("song.mp2");
  const auto made = RunCommand(
      "ffmpeg -v error -y -f lavfi -i sine=sample_rate=48000 -ac 2 -t 1 "
      "-c:a mp2 -b:a 192k " +
      ShellQuote(song));
  ASSERT_EQ(made.exitCode, 0) << made.output;
  const auto r = RunCommand(ShellQuote(CALVEX_BINARY) + " info --json " + ShellQuote(movie) + " " +
                            ShellQuote(song));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const auto j = nlohmann::json::parse(r.output);
  const auto& m = j[0]["info"];
  EXPECT_EQ(m["frame_rate"], "25/1");
  EXPECT_EQ(m["width"], kWidth);
  EXPECT_EQ(m["height"], kHeight);
  EXPECT_EQ(m["audio_sample_rate"], 44100);
  EXPECT_EQ(m["audio_layer"], 2);
  EXPECT_EQ(m["audio_bitrate_index"], 4);
  EXPECT_EQ(m["audio_channel_mode"], 1);
  const auto& s = j[1]["info"];
  EXPECT_EQ(s["sample_rate"], 48000);
  EXPECT_EQ(s["layer"], 2);
  EXPECT_EQ(s["bitrate_index"], 10);  // 192 kbit/s
  EXPECT_NE(s["channel_mode"], 1);
  // The channel counts and bit rates beside the header's codes.
  EXPECT_EQ(m["audio_channels"], 1);
  EXPECT_EQ(m["audio_bitrate_kbps"], 64);
  EXPECT_EQ(s["channels"], 2);
  EXPECT_EQ(s["bitrate_kbps"], 192);

  // As text, the fields of the information dialogs.
  const auto text =
      RunCommand(ShellQuote(CALVEX_BINARY) + " info " + ShellQuote(movie) + " " + ShellQuote(song));
  ASSERT_EQ(text.exitCode, 0) << text.output;
  for (const char* line :
       {"  Video\n    Frame Rate:        25\n", "    Channels:          Mono\n",
        "    Layer:             II\n", "    Bitrate:           64 KBits/Sec\n",
        "  Sampling Rate:       48.00 kHz\n", "  Bitrate:             192 KBits/Sec\n"})
    EXPECT_NE(text.output.find(line), std::string::npos) << line << "in\n" << text.output;

  // A half sampling rate (ID bit 0) and its own bit-rate table.
  const std::string half = dir_.File("half.mp2");
  ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i sine=sample_rate=22050 -t 1 -c:a mp2 "
                       "-b:a 64k " +
                       ShellQuote(half))
                .exitCode,
            0);
  const auto halfJson = RunCommand(ShellQuote(CALVEX_BINARY) + " info --json " + ShellQuote(half));
  ASSERT_EQ(halfJson.exitCode, 0) << halfJson.output;
  const auto h = nlohmann::json::parse(halfJson.output)[0]["info"];
  EXPECT_EQ(h["sample_rate"], 22050);
  EXPECT_EQ(h["layer"], 2);
  EXPECT_EQ(h["bitrate_kbps"], 64);
  const auto halfText = RunCommand(ShellQuote(CALVEX_BINARY) + " info " + ShellQuote(half));
  for (const char* line :
       {"  Sampling Rate:       22.05 kHz\n", "  Bitrate:             64 KBits/Sec\n"})
    EXPECT_NE(halfText.output.find(line), std::string::npos) << line << "in\n" << halfText.output;
}

}  // namespace
}  // namespace calvex::video_decoder
