// The audio of AVI files through the media layer, against ffmpeg's own decoding.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "media_library/media_fixtures.h"
#include "media_library/media_library.h"

namespace calvex::media {
namespace {

using testing::Ffmpeg;
using testing::ShellQuote;

// Every sample of an open reader, read in odd-sized pieces.
std::vector<std::uint8_t> ReadAll(AviAudioReader& reader, const WaveFormat& format) {
  std::vector<std::uint8_t> all;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(1000) * format.blockAlign);
  for (;;) {
    std::int32_t n = 777;
    EXPECT_EQ(reader.RAVIAudioRead(buffer.data(), n), kOk);
    if (n == 0) break;
    all.insert(all.end(), buffer.begin(), buffer.begin() + n * format.blockAlign);
  }
  return all;
}

std::string MakeAvi(const testing::TempDir& dir, const std::string& name,
                    const std::string& audioOptions, int rate, const std::string& fps = "25") {
  const std::string avi = dir.File(name + ".avi");
  Ffmpeg("-f lavfi -i testsrc=size=32x24:rate=" + fps + ":duration=1.5 -f lavfi -i " +
         "\"sine=f=440:r=" + std::to_string(rate) + ":d=1.5,volume=4\" -ac 2 " + "-c:v ffv1 " +
         audioOptions + " " + ShellQuote(avi));
  return avi;
}

struct PcmCase {
  const char* name;
  const char* options;
  int rate;
  int channels;
  int bits;
};

class AviPcmTest : public ::testing::TestWithParam<PcmCase> {};

// PCM comes out byte for byte as stored, in its own rate, channels and sample size.
TEST_P(AviPcmTest, WholeFileIsTheStoredSamples) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const PcmCase& c = GetParam();
  testing::TempDir dir;
  const std::string avi = MakeAvi(dir, c.name, c.options, c.rate);
  AviAudioReader reader;
  WaveFormat format;
  AudioSectionRequest whole;
  ASSERT_EQ(reader.RAVIAudioOpen(avi, format, whole), kOk);
  EXPECT_EQ(format.formatTag, kWaveFormatPcm);
  EXPECT_EQ(format.samplesPerSec, static_cast<std::uint32_t>(c.rate));
  EXPECT_EQ(format.channels, c.channels);
  EXPECT_EQ(format.bitsPerSample, c.bits);
  EXPECT_EQ(format.blockAlign, c.channels * c.bits / 8);
  EXPECT_NEAR(whole.frameCount, c.rate * 1.5, 1);
  const auto samples = ReadAll(reader, format);
  EXPECT_EQ(samples.size(), static_cast<std::size_t>(whole.frameCount) * format.blockAlign);
  EXPECT_EQ(samples, testing::FfmpegAudio(avi, c.bits == 8 ? "u8" : "s16le"));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, AviPcmTest,
    ::testing::Values(PcmCase{"u8_mono_8000", "-c:a pcm_u8 -ac 1", 8000, 1, 8},
                      PcmCase{"u8_stereo_22050", "-c:a pcm_u8", 22050, 2, 8},
                      PcmCase{"s16_mono_11025", "-c:a pcm_s16le -ac 1", 11025, 1, 16},
                      PcmCase{"s16_mono_16000", "-c:a pcm_s16le -ac 1", 16000, 1, 16},
                      PcmCase{"s16_stereo_32000", "-c:a pcm_s16le", 32000, 2, 16},
                      PcmCase{"s16_stereo_44100", "-c:a pcm_s16le", 44100, 2, 16},
                      PcmCase{"s16_stereo_48000", "-c:a pcm_s16le", 48000, 2, 16},
                      PcmCase{"s24_becomes_16", "-c:a pcm_s24le -ac 1", 24000, 1, 16}),
    [](const auto& info) { return std::string(info.param.name); });

// Compressed audio is decoded to 16 bits exactly as ffmpeg decodes it.
TEST(AviAudioReader, CompressedAudioDecodesLikeFfmpeg) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  for (const auto& [name, options, rate] :
       {std::tuple{"adpcm_ms", "-c:a adpcm_ms", 22050},
        std::tuple{"adpcm_ima", "-c:a adpcm_ima_wav -ac 1", 11025},
        std::tuple{"mp3", "-c:a libmp3lame -b:a 64k", 44100}}) {
    const std::string avi = MakeAvi(dir, name, options, rate);
    AviAudioReader reader;
    WaveFormat format;
    AudioSectionRequest whole;
    ASSERT_EQ(reader.RAVIAudioOpen(avi, format, whole), kOk) << name;
    EXPECT_EQ(format.bitsPerSample, 16) << name;
    EXPECT_EQ(format.samplesPerSec, static_cast<std::uint32_t>(rate)) << name;
    const auto expected = testing::FfmpegAudio(avi, "s16le");
    const auto samples = ReadAll(reader, format);
    EXPECT_EQ(samples.size(), static_cast<std::size_t>(whole.frameCount) * format.blockAlign)
        << name;
    EXPECT_EQ(samples, expected) << name;
  }
}

// A section given in video frames covers exactly its share of the samples, rounded to whole
// samples, and holds the same samples as the whole file at that place.
TEST(AviAudioReader, SectionsAreSampleExact) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  for (const auto& [name, options, rate] :
       {std::tuple{"pcm", "-c:a pcm_s16le", 44100}, std::tuple{"u8", "-c:a pcm_u8", 11025},
        std::tuple{"adpcm", "-c:a adpcm_ms", 22050},
        std::tuple{"mp3", "-c:a libmp3lame -b:a 64k", 48000}}) {
    const std::string avi = MakeAvi(dir, name, options, rate, "30000/1001");
    AviAudioReader reader;
    WaveFormat format;
    AudioSectionRequest whole;
    ASSERT_EQ(reader.RAVIAudioOpen(avi, format, whole), kOk);
    const auto all = ReadAll(reader, format);
    for (const auto& [first, count] : {std::pair{0, 10}, std::pair{7, 13}, std::pair{30, 14}}) {
      AudioSectionRequest section;
      section.totalVideoFrames = 44;
      section.firstFrame = first;
      section.frameCount = count;
      ASSERT_EQ(reader.RAVIAudioOpen(avi, format, section), kOk);
      const auto at = [&](int frame) {
        return static_cast<std::int64_t>(std::llround(frame * 1001.0 * rate / 30000.0));
      };
      EXPECT_EQ(section.frameCount, at(first + count) - at(first)) << name << " " << first;
      const auto samples = ReadAll(reader, format);
      const auto begin = all.begin() + at(first) * format.blockAlign;
      ASSERT_EQ(samples.size(), static_cast<std::size_t>(section.frameCount) * format.blockAlign);
      EXPECT_TRUE(std::equal(samples.begin(), samples.end(), begin))
          << name << " section from " << first;
    }
  }
}

TEST(AviAudioReader, NoAudioAndClosedReader) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::string avi = dir.File("silent.avi");
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc=size=32x24:rate=10:duration=0.3 -c:v ffv1 " + ShellQuote(avi)));
  AviAudioReader reader;
  WaveFormat format;
  AudioSectionRequest whole;
  EXPECT_EQ(reader.RAVIAudioOpen(avi, format, whole), kAviNoAudio);
  std::uint8_t buffer[16];
  std::int32_t n = 4;
  EXPECT_NE(reader.RAVIAudioRead(buffer, n), kOk);
  EXPECT_EQ(n, 0);
  StandaloneContext context;
  EXPECT_EQ(ConvertToPCM(avi, dir.File("x.pcm"), format, context.get()), kAviNoAudio);
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.pcm")));
}

// A host that asks to cancel at its n-th progress report.
class CancellingHost : public NullHost {
 public:
  explicit CancellingHost(int at) : at_(at) {}
  bool ConversionProgress(const ProgressRecord&, ProgressKind kind, int thousandths) override {
    EXPECT_EQ(kind, ProgressKind::kAudio);
    EXPECT_GE(thousandths, last_);
    last_ = thousandths;
    return ++calls_ == at_;
  }
  int calls() const { return calls_; }
  int last() const { return last_; }

 private:
  int at_;
  int calls_ = 0;
  int last_ = 0;
};

TEST(ConvertToPCM, WritesTheDecodedAudioAndReportsItsFormat) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::string avi = dir.File("a.avi");
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc=size=32x24:rate=10:duration=3 -f lavfi -i "
             "sine=r=22050:d=3 -c:v ffv1 -c:a adpcm_ms -ac 2 " +
             ShellQuote(avi)));
  CancellingHost host(0);
  RunFlags flags;
  ConversionContext context(host, flags);
  WaveFormat format;
  const std::string pcm = dir.File("~audio.tmp");
  ASSERT_EQ(ConvertToPCM(avi, pcm, format, context), kOk);
  EXPECT_EQ(format.formatTag, kWaveFormatPcm);
  EXPECT_EQ(format.channels, 2);
  EXPECT_EQ(format.samplesPerSec, 22050u);
  EXPECT_EQ(format.bitsPerSample, 16);
  EXPECT_EQ(format.avgBytesPerSec, 88200u);
  EXPECT_EQ(testing::ReadFileBytes(pcm), testing::FfmpegAudio(avi, "s16le"));
  EXPECT_GT(host.calls(), 1);
  EXPECT_EQ(host.last(), 1000);
}

TEST(ConvertToPCM, CancelAndWriteFailuresLeaveNoFile) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::string avi = dir.File("a.avi");
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc=size=32x24:rate=10:duration=3 -f lavfi -i "
             "sine=r=44100:d=3 -c:v ffv1 -c:a adpcm_ima_wav " +
             ShellQuote(avi)));
  {
    CancellingHost host(2);
    RunFlags flags;
    ConversionContext context(host, flags);
    WaveFormat format;
    EXPECT_EQ(ConvertToPCM(avi, dir.File("c.tmp"), format, context), kCancelled);
    EXPECT_FALSE(std::filesystem::exists(dir.File("c.tmp")));
    EXPECT_TRUE(flags.cancelled);
  }
  {
    StandaloneContext context;
    WaveFormat format;
    EXPECT_EQ(ConvertToPCM(avi, dir.File("no/such/dir/x.tmp"), format, context.get()),
              kTempCreateFailed);
  }
  if (std::filesystem::exists("/dev/full")) {
    StandaloneContext context;
    WaveFormat format;
    EXPECT_EQ(ConvertToPCM(avi, "/dev/full", format, context.get()), kDiskFull);
    EXPECT_TRUE(context.flags().diskFull);
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
  }
}

}  // namespace
}  // namespace calvex::media
