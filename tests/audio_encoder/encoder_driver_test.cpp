// The conversion driver: refusals with their codes, progress and cancel through the context, full
// disks, and no destination file left behind on any failure. The raw-PCM path needs no media
// layer; the WAV cases run once the media layer reads WAV files.
#include "audio_encoder/audio_encoder_driver.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "encoder_test_support.h"
#include "media_library/media_library.h"
#include "support/test_support.h"

namespace calvex {
namespace {

using audio::testing::MakeSignal;
using audio::testing::PcmBytes;
using audio::testing::ScanFrames;
using audio::testing::Signal;
using calvex::testing::RunCommand;
using calvex::testing::ShellQuote;
using calvex::testing::TempDir;

// A host that records progress and cancels at a chosen call.
class RecordingHost : public NullHost {
 public:
  bool ConversionProgress(const ProgressRecord& record, ProgressKind kind, int t) override {
    records.push_back(record);
    kinds.push_back(kind);
    thousandths.push_back(t);
    return static_cast<int>(records.size()) == cancelAtCall;
  }
  std::vector<ProgressRecord> records;
  std::vector<ProgressKind> kinds;
  std::vector<int> thousandths;
  int cancelAtCall = -1;
};

struct RawJob {
  ConversionSettings settings;
  std::string pcmPath;
};

// Writes raw PCM for the AVI path and describes it the way the dispatcher does.
RawJob MakeRawJob(const TempDir& dir, int channels, int rate, int bits, int frames) {
  RawJob job;
  job.pcmPath = dir.File("~audio.tmp");
  calvex::testing::WriteFileBytes(
      job.pcmPath,
      PcmBytes(MakeSignal(Signal::kSpeech, channels, rate, frames), bits == 8 ? 8 : 16));
  job.settings.pcmTempPath = job.pcmPath;
  job.settings.aviInfo.audioFormatTag = kWaveFormatPcm;
  job.settings.aviInfo.audioChannels = static_cast<std::uint16_t>(channels);
  job.settings.aviInfo.audioSampleRate = static_cast<std::uint16_t>(rate);
  job.settings.aviInfo.audioBitsPerSample = static_cast<std::uint16_t>(bits);
  return job;
}

TEST(AudioEncoderDriver, RefusesFormatsItCannotCodeAndLeavesNoFile) {
  TempDir dir;
  const std::string out = dir.File("out.mp2");
  struct Case {
    int channels, rate, bits;
    Status expected;
  };
  for (const Case& c :
       {Case{6, 44100, 16, kChannelCountUnsupported}, Case{2, 44100, 24, kSampleSizeUnsupported},
        Case{2, 64000, 16, kSampleRateUnsupported}, Case{1, 44000, 8, kSampleRateUnsupported}}) {
    RawJob job = MakeRawJob(dir, 2, 44100, 16, 2000);
    job.settings.aviInfo.audioChannels = static_cast<std::uint16_t>(c.channels);
    job.settings.aviInfo.audioSampleRate = static_cast<std::uint16_t>(c.rate);
    job.settings.aviInfo.audioBitsPerSample = static_cast<std::uint16_t>(c.bits);
    StandaloneContext context;
    AudioEncodeParams params;
    EXPECT_EQ(
        EncodeMpegAudio("movie.avi", out, params, kAudioSourceAvi, &job.settings, context.get()),
        c.expected);
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  RawJob job = MakeRawJob(dir, 2, 44100, 16, 100);
  job.settings.pcmTempPath = dir.File("missing.tmp");
  StandaloneContext context;
  AudioEncodeParams params;
  EXPECT_EQ(
      EncodeMpegAudio("movie.avi", out, params, kAudioSourceAvi, &job.settings, context.get()),
      kAviNoAudio);
  const RawJob good = MakeRawJob(dir, 2, 44100, 16, 100);
  EXPECT_EQ(EncodeMpegAudio("movie.avi", dir.File("no-dir/out.mp2"), params, kAudioSourceAvi,
                            &good.settings, context.get()),
            kCreateFailed);
}

TEST(AudioEncoderDriver, ReportsAudioProgressAndCodesTheRequest) {
  TempDir dir;
  const std::string out = dir.File("out.mp2");
  RawJob job = MakeRawJob(dir, 1, 22050, 8, 22050);  // one second, coded at 44.1 kHz
  RecordingHost host;
  RunFlags flags;
  ConversionContext context(host, flags);
  AudioEncodeParams params{2, 1, 80, 0};
  ASSERT_EQ(EncodeMpegAudio("movie.avi", out, params, kAudioSourceAvi, &job.settings, context),
            kOk);
  EXPECT_EQ(params.audioBitrateKbps, 80);  // mono keeps 80
  EXPECT_EQ(params.sampleRateHz, 44100);
  const auto scan = ScanFrames(out);
  EXPECT_TRUE(scan.tiles);
  ASSERT_EQ(scan.headers.size(), 39u);  // 44100 values / 1152
  EXPECT_EQ(scan.headers[0].mode, audio::kModeSingleChannel);
  ASSERT_EQ(host.records.size(), 39u);
  for (std::size_t i = 0; i < host.records.size(); ++i) {
    const ProgressRecord& r = host.records[i];
    EXPECT_EQ(host.kinds[i], ProgressKind::kAudio);
    EXPECT_EQ(r.frameNumber, static_cast<int>(i));
    EXPECT_EQ(r.Word(11), 22050);
    EXPECT_EQ(r.Word(12), 22050);
    EXPECT_EQ(r.Word(13), 8);
    EXPECT_EQ(r.Word(14), 1);
    EXPECT_EQ(host.thousandths[i], static_cast<int>(i * 1000 / 38));
  }
  // Frame 38 starts at 38 x 1152 / 44100 s = 0.99 s: 00:00:00.9 after rounding to tenths.
  EXPECT_EQ(host.records[38].seconds * 10 + host.records[38].fraction, 10);
  EXPECT_EQ(host.records[5].fraction, 1);  // 0.13 s
}

TEST(AudioEncoderDriver, ShortSourceGivesOneFrame) {
  TempDir dir;
  const std::string out = dir.File("out.mp2");
  RawJob job = MakeRawJob(dir, 2, 48000, 16, 100);
  RecordingHost host;
  RunFlags flags;
  ConversionContext context(host, flags);
  AudioEncodeParams params{2, 0, 192, 0};
  ASSERT_EQ(EncodeMpegAudio("movie.avi", out, params, kAudioSourceAvi, &job.settings, context),
            kOk);
  const auto scan = ScanFrames(out);
  EXPECT_TRUE(scan.tiles);
  EXPECT_EQ(scan.headers.size(), 1u);
  EXPECT_EQ(calvex::testing::ReadFileBytes(out).size(), 576u);
  ASSERT_EQ(host.thousandths.size(), 1u);
  EXPECT_EQ(host.thousandths[0], 1000);
}

TEST(AudioEncoderDriver, CancelEndsWithOneAndNoFile) {
  TempDir dir;
  const std::string out = dir.File("out.mp2");
  RawJob job = MakeRawJob(dir, 2, 44100, 16, 44100);
  RecordingHost host;
  host.cancelAtCall = 5;
  RunFlags flags;
  ConversionContext context(host, flags);
  AudioEncodeParams params;
  EXPECT_EQ(EncodeMpegAudio("movie.avi", out, params, kAudioSourceAvi, &job.settings, context),
            kCancelled);
  EXPECT_EQ(host.records.size(), 5u);
  EXPECT_TRUE(flags.cancelled);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_TRUE(std::filesystem::exists(job.pcmPath));  // the source is untouched
}

TEST(AudioEncoderDriver, FullDiskEndsWith147AndNoFile) {
  TempDir dir;
  RawJob job = MakeRawJob(dir, 2, 44100, 16, 44100 * 2);
  {
    StandaloneContext context;
    AudioEncodeParams params;
    EXPECT_EQ(EncodeMpegAudio("movie.avi", "/dev/full", params, kAudioSourceAvi, &job.settings,
                              context.get()),
              kDiskFull);
    EXPECT_TRUE(context.flags().diskFull);
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
  }
  // A regular file on a disk that fills up after 20 KB (a file-size limit makes the writes fail
  // the way a full disk does).
  const std::string out = dir.File("out.mp2");
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 20000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  StandaloneContext context;
  AudioEncodeParams params;
  const Status s =
      EncodeMpegAudio("movie.avi", out, params, kAudioSourceAvi, &job.settings, context.get());
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(s, kDiskFull);
  EXPECT_TRUE(context.flags().diskFull);
  EXPECT_FALSE(std::filesystem::exists(out));
}

// ---------------------------------------------------------------------------------------------
// Through the media layer's WAV reader.

bool WaveReaderAvailable() {
  media::WaveReader reader;
  media::WaveRecord record;
  return reader.OpenWaveFile("/nonexistent.wav", record) != kNotSupported;
}

#define REQUIRE_WAVE_READER()                                                       \
  do {                                                                              \
    CALVEX_REQUIRE_TOOL("ffmpeg");                                                  \
    if (!WaveReaderAvailable()) GTEST_SKIP() << "the media layer reads no WAV yet"; \
  } while (0)

std::string MakeWave(const TempDir& dir, const std::string& name, const std::string& options) {
  const std::string path = dir.File(name);
  const auto r =
      RunCommand("ffmpeg -nostdin -v error -f lavfi -i sine=frequency=1000:duration=0.5 " +
                 options + " -y " + ShellQuote(path));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  return path;
}

// 8- and 16-bit PCM, and what the media layer decodes to 16-bit PCM, are coded; other sample
// sizes, floating point among them, are refused with no file left.
TEST(AudioEncoderDriver, WaveFormatsCodedAndRefused) {
  REQUIRE_WAVE_READER();
  TempDir dir;
  const std::string out = dir.File("out.mp2");
  struct Case {
    std::string options;
    Status expected;
  };
  for (const Case& c :
       {Case{"-ac 1 -c:a pcm_u8", kOk}, Case{"-ac 2 -c:a pcm_s16le", kOk},
        Case{"-ac 2 -ar 22050 -c:a adpcm_ms", kOk}, Case{"-ac 1 -ar 8000 -c:a pcm_mulaw", kOk},
        Case{"-ac 1 -ar 8000 -c:a pcm_alaw", kOk},
        Case{"-ac 6 -c:a pcm_s16le", kChannelCountUnsupported},
        Case{"-ac 2 -c:a pcm_s24le", kSampleSizeUnsupported},
        Case{"-ac 2 -c:a pcm_f32le", kSampleSizeUnsupported},
        Case{"-ac 2 -ar 96000 -c:a pcm_s16le", kSampleRateUnsupported}}) {
    const std::string wav = MakeWave(dir, "in.wav", c.options);
    StandaloneContext context;
    AudioEncodeParams params;
    EXPECT_EQ(EncodeWaveToMpegAudio(wav, out, params, context.get()), c.expected) << c.options;
    EXPECT_EQ(std::filesystem::exists(out), c.expected == kOk) << c.options;
    std::filesystem::remove(out);
  }
  calvex::testing::WriteFileBytes(dir.File("text.wav"),
                                  std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'});
  StandaloneContext context;
  AudioEncodeParams params;
  const Status s = EncodeWaveToMpegAudio(dir.File("text.wav"), out, params, context.get());
  EXPECT_TRUE(s == kNotWav || s == kWavCorrupted) << s;
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(AudioEncoderDriver, WaveToMp2DecodesInPeers) {
  REQUIRE_WAVE_READER();
  TempDir dir;
  const std::string wav = MakeWave(dir, "song.wav", "-ac 2 -ar 22050 -c:a pcm_u8");
  WavToMp2Job job;
  job.source = wav;
  job.destination = dir.File("song.mp2");
  AudioEncodeParams params{1, 1, 192, 0};
  job.audio = &params;
  StandaloneContext context;
  ASSERT_EQ(ConvertWavToMp2(job, context.get()), kOk);
  EXPECT_EQ(params.sampleRateHz, 44100);
  const auto scan = ScanFrames(job.destination);
  EXPECT_TRUE(scan.tiles);
  EXPECT_EQ(scan.headers.size(), (22050 / 2 * 2 + 383) / 384);
  EXPECT_EQ(scan.headers[0].layer, 1);
  const auto r =
      RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(job.destination) + " -f null -");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "");
}

TEST(AudioEncoderDriver, AviAudioWholeAndSection) {
  REQUIRE_WAVE_READER();
  TempDir dir;
  const std::string avi = dir.File("movie.avi");
  const auto r = RunCommand(
      "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=32x32:rate=25:duration=2 -f lavfi -i "
      "sine=frequency=440:duration=2:sample_rate=44100 -ac 2 -c:v rawvideo -pix_fmt bgr24 "
      "-c:a pcm_s16le -y " +
      ShellQuote(avi));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  ConversionSettings settings;
  settings.aviInfo.frameCount = 50;
  StandaloneContext context;
  AudioEncodeParams params{2, 1, 128, 0};
  ASSERT_EQ(EncodeMpegAudio(avi, dir.File("whole.mp2"), params, kAudioSourceAvi, &settings,
                            context.get()),
            kOk);
  EXPECT_EQ(ScanFrames(dir.File("whole.mp2")).headers.size(), (88200u + 1151) / 1152);
  // Frames 10..29 at 25 frames/s: 0.8 s of sound.
  settings.sectionFirst = 10;
  settings.sectionLast = 29;
  ASSERT_EQ(
      EncodeMpegAudio(avi, dir.File("part.mp2"), params, kAudioSourceAvi, &settings, context.get()),
      kOk);
  const auto scan = ScanFrames(dir.File("part.mp2"));
  EXPECT_TRUE(scan.tiles);
  EXPECT_EQ(scan.headers.size(), (35280u + 1151) / 1152);
}

}  // namespace
}  // namespace calvex
