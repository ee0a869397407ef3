// The decoding loop: CRC errors, refusals, the video frame range, the temporary-file mode of the
// MPEG to AVI conversion, progress, cancel, full disks and hostile input.
#include "audio_decoder/decode_mpeg_audio.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "audio_decoder/decoder_test_support.h"
#include "audio_decoder/frame_decoder.h"
#include "audio_decoder/mp2_to_wav.h"
#include "audio_decoder/pcm_sinks.h"

namespace calvex::audio_decoder {
namespace {

using calvex::testing::ReadFileBytes;
using calvex::testing::RunCommand;
using calvex::testing::ShellQuote;
using calvex::testing::TempDir;
using calvex::testing::WriteFileBytes;
using testing::CancellingHost;
using testing::DecodeToMemory;
using testing::MemorySink;

std::string MakeTwolameFile(const TempDir& dir, const std::string& name, const std::string& args,
                            int rate = 44100, int channels = 2, double seconds = 1.5) {
  const std::string wav = dir.File(name + ".wav"), mp2 = dir.File(name);
  testing::MakeTestWav(wav, rate, channels, seconds);
  const auto r =
      RunCommand("twolame --quiet " + args + " " + ShellQuote(wav) + " " + ShellQuote(mp2));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  return mp2;
}

// Samples [from, to) of a frame-interleaved sequence, in sample frames of `channels`.
std::vector<std::int16_t> Slice(const std::vector<std::int16_t>& s, std::size_t from,
                                std::size_t to, int channels) {
  const auto c = static_cast<std::size_t>(channels);
  return {s.begin() + static_cast<std::ptrdiff_t>(from * c),
          s.begin() + static_cast<std::ptrdiff_t>(to * c)};
}

bool AllZero(const std::vector<std::int16_t>& s) {
  for (const std::int16_t v : s)
    if (v != 0) return false;
  return true;
}

// ---------------------------------------------------------------------------------------------
// CRC

// Flips the first allocation bit of frame `index` (right after its header and CRC word) and
// checks: that frame is silence of its length, the frames before are untouched, and once the
// filter's 512-sample history has passed the frames after decode as before.
void CheckCrcMismatch(const std::string& path, const std::vector<std::size_t>& frameOffsets,
                      std::size_t index, int samplesPerFrame, int channels) {
  const testing::Decoded clean = DecodeToMemory(path);
  ASSERT_EQ(clean.status, kOk);
  ASSERT_EQ(clean.result.crcErrors, 0);
  std::vector<std::uint8_t> bytes = ReadFileBytes(path);
  bytes[frameOffsets[index] + 6] ^= 0x80;
  const std::string broken = path + ".broken";
  WriteFileBytes(broken, bytes);
  const testing::Decoded hit = DecodeToMemory(broken);
  ASSERT_EQ(hit.status, kOk);
  EXPECT_EQ(hit.result.crcErrors, 1);
  EXPECT_EQ(hit.result.framesDecoded, clean.result.framesDecoded);
  ASSERT_EQ(hit.samples.size(), clean.samples.size());
  const std::size_t n = static_cast<std::size_t>(samplesPerFrame);
  const std::size_t total = clean.samples.size() / static_cast<std::size_t>(channels);
  EXPECT_EQ(Slice(hit.samples, 0, index * n, channels),
            Slice(clean.samples, 0, index * n, channels));
  const auto silent = Slice(hit.samples, index * n, (index + 1) * n, channels);
  EXPECT_TRUE(AllZero(silent));
  EXPECT_FALSE(AllZero(Slice(clean.samples, index * n, (index + 1) * n, channels)));
  EXPECT_EQ(Slice(hit.samples, (index + 1) * n + 512, total, channels),
            Slice(clean.samples, (index + 1) * n + 512, total, channels));
}

TEST(Crc, MismatchGivesOneFrameOfSilence) {
  TempDir dir;
  testing::SyntheticStream layer2;
  layer2.crc = true;
  layer2.mode = 1;
  layer2.modeExt = 2;
  layer2.frames = 12;
  testing::SyntheticStream layer1 = layer2;
  layer1.layer = 1;
  layer1.mode = 3;
  layer1.bitrateIndex = 6;
  for (const testing::SyntheticStream& s : {layer2, layer1}) {
    const std::string path = dir.File("s.mp" + std::to_string(s.layer));
    const auto offsets = testing::WriteSyntheticStream(s, path);
    if (s.layer == 2)
      CheckCrcMismatch(path, offsets, 4, 1152, 2);
    else
      CheckCrcMismatch(path, offsets, 7, 384, 1);
  }
}

TEST(Crc, ProtectedTwolameStream) {
  CALVEX_REQUIRE_TOOL("twolame");
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  // 48 kHz: no padding, so every frame has the same length.
  const std::string path = MakeTwolameFile(dir, "p.mp2", "-p -b 192", 48000);
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < 20; ++i) offsets.push_back(i * 576);
  CheckCrcMismatch(path, offsets, 5, 1152, 2);
}

// ---------------------------------------------------------------------------------------------
// Refusals, before any output is begun

Status ConvertToWav(const std::string& source, const std::string& wav) {
  Mp2ToWavJob job;
  job.source = source;
  job.destination = wav;
  job.format = MakePcmFormat(2, 44100, 16);
  StandaloneContext context;
  return ConvertMp2ToWav(job, context.get());
}

TEST(Refusals, LayerThreeFromLameAndFfmpeg) {
  CALVEX_REQUIRE_TOOL("lame");
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string wav = dir.File("in.wav");
  testing::MakeTestWav(wav, 44100, 2, 1.0);
  ASSERT_EQ(
      RunCommand("lame --quiet -b 128 " + ShellQuote(wav) + " " + ShellQuote(dir.File("lame.mp2")))
          .exitCode,
      0);
  ASSERT_EQ(RunCommand("ffmpeg -hide_banner -loglevel error -i " + ShellQuote(wav) +
                       " -c:a libmp3lame -b:a 128k -f mp3 " + ShellQuote(dir.File("ff.mp2")))
                .exitCode,
            0);
  for (const char* name : {"lame.mp2", "ff.mp2"}) {
    EXPECT_EQ(ConvertToWav(dir.File(name), dir.File("out.wav")), kLayer3Unsupported) << name;
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.wav"))) << name;
    AudioDescription d;
    EXPECT_EQ(ReadMpegAudioDescription(dir.File(name), false, d), kLayer3Unsupported);
  }
}

TEST(Refusals, BadFirstHeaderNoSyncEmptyAndMissing) {
  TempDir dir;
  const std::string out = dir.File("out.wav");
  std::vector<std::uint8_t> frame(600, 0x55);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> header;
    Status expected;
  };
  for (const Case& c : {Case{"bitrate15", {0xFF, 0xFD, 0xF0, 0x00}, kAudioDataError},
                        Case{"sampling3", {0xFF, 0xFD, 0x9C, 0x00}, kAudioDataError},
                        Case{"text", {'h', 'e', 'l', 'l', 'o'}, kAudioDataError},
                        Case{"quarter rates", {0xFF, 0xE5, 0x90, 0x00}, kAudioDataError},
                        Case{"freeformat", {0xFF, 0xFD, 0x00, 0x00}, kAudioDataError},
                        Case{"cut", {0x00, 0xFF, 0xFD}, kAudioDataError}}) {
    std::vector<std::uint8_t> bytes = c.header;
    if (std::string(c.name) != "cut") bytes.insert(bytes.end(), frame.begin(), frame.end());
    const std::string path = dir.File(std::string(c.name) + ".mp2");
    WriteFileBytes(path, bytes);
    EXPECT_EQ(ConvertToWav(path, out), c.expected) << c.name;
    EXPECT_FALSE(std::filesystem::exists(out)) << c.name;
  }
  WriteFileBytes(dir.File("empty.mp2"), {});
  EXPECT_EQ(ConvertToWav(dir.File("empty.mp2"), out), kEmptySource);
  EXPECT_EQ(ConvertToWav(dir.File("missing.mp2"), out), kOpenFailed);
  EXPECT_EQ(ConvertToWav(dir.path().string(), out), kOpenFailed);  // a directory
  EXPECT_FALSE(std::filesystem::exists(out));
}

// ---------------------------------------------------------------------------------------------
// Video frame ranges

TEST(VideoRange, AudioFramesOfAVideoSection) {
  // Video frames 30-59 at 30 fps with 44.1 kHz Layer II: skip frames 0-37, end after 76.
  const AudioFrameRange r = AudioFramesForVideoRange(44100, 1152, 30, 1, 30, 59);
  EXPECT_EQ(r.skip, 38);
  EXPECT_EQ(r.last, 76);
  // To the end, from the start.
  const AudioFrameRange all = AudioFramesForVideoRange(44100, 1152, 30, 1, 0, -1);
  EXPECT_EQ(all.skip, 0);
  EXPECT_EQ(all.last, 2147483647);
  // NTSC rates and Layer I: 300 frames at 30000/1001 fps are 480480 samples at 48 kHz.
  EXPECT_EQ(AudioFramesForVideoRange(48000, 384, 30000, 1001, 300, 599).skip, 480480 / 384);
  EXPECT_EQ(AudioFramesForVideoRange(48000, 384, 30000, 1001, 300, 599).last, (960960 - 1) / 384);
  // A boundary that falls exactly on a frame: 600 frames at 25 fps = 1152000 samples at 48 kHz,
  // exactly 1000 Layer II frames (floating-point kHz / rate arithmetic would make it 999).
  EXPECT_EQ(AudioFramesForVideoRange(48000, 1152, 25, 1, 600, 1199).skip, 1000);
  EXPECT_EQ(AudioFramesForVideoRange(48000, 1152, 25, 1, 600, 1199).last, 1999);
  // No frame rate: no range.
  EXPECT_EQ(AudioFramesForVideoRange(44100, 1152, 0, 1, 30, 59).last, 2147483647);
}

TEST(VideoRange, DecodesOnlyTheFramesOfTheSection) {
  TempDir dir;
  testing::SyntheticStream s;
  s.frames = 90;
  const std::string path = dir.File("long.mp2");
  testing::WriteSyntheticStream(s, path);
  const testing::Decoded whole = DecodeToMemory(path);
  ASSERT_EQ(whole.status, kOk);

  AudioDecodeRequest request;
  request.source = path;
  request.record.Word(kInfoRate) = 30;
  request.record.Word(kInfoScale) = 1;
  request.firstVideoFrame = 30;
  request.lastVideoFrame = 59;
  MemorySink sink;
  StandaloneContext context;
  AudioDecodeResult result;
  ASSERT_EQ(DecodeMpegAudioInto(request, &sink, context.get(), result), kOk);
  EXPECT_EQ(result.framesDecoded, 77 - 38);
  ASSERT_EQ(sink.samples.size(), static_cast<std::size_t>(39 * 1152 * 2));
  // The filter starts afresh at frame 38: equal once its history is filled.
  EXPECT_EQ(Slice(sink.samples, 512, 39 * 1152, 2),
            Slice(whole.samples, 38 * 1152 + 512, 77 * 1152, 2));
}

// ---------------------------------------------------------------------------------------------
// The temporary-file mode of the MPEG to AVI conversion

class SystemStream : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!calvex::testing::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    wav_ = dir_.File("in.wav");
    mpg_ = dir_.File("movie.mpg");
    testing::MakeTestWav(wav_, 44100, 2, 2.0);
    const auto r = RunCommand(
        "ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc=s=64x48:r=25:d=2 -i " +
        ShellQuote(wav_) + " -c:v mpeg1video -c:a mp2 -b:a 192k -f mpeg " + ShellQuote(mpg_) +
        " && ffmpeg -hide_banner -loglevel error -i " + ShellQuote(mpg_) +
        " -map 0:a -c:a copy -f mp2 " + ShellQuote(dir_.File("audio.mp2")));
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }

  Status DecodeToTemp(const AudioOutputOptions& options, const std::string& temp,
                      AudioDecodeResult& result, ConversionContext& context) {
    AudioDecodeRequest request;
    request.source = mpg_;
    request.systemStream = true;
    request.sink = AudioSinkKind::kTemporaryFile;
    request.destination = temp;
    request.output = options;
    return DecodeMpegAudio(request, context, result);
  }

  TempDir dir_;
  std::string wav_, mpg_;
};

TEST_F(SystemStream, TemporaryFileHoldsTheAudioPacketsDecoded) {
  const testing::Decoded elementary = DecodeToMemory(dir_.File("audio.mp2"));
  ASSERT_EQ(elementary.status, kOk);
  ASSERT_GT(elementary.result.framesDecoded, 70);

  StandaloneContext context;
  AudioDecodeResult result;
  const std::string temp = dir_.File("~audio.tmp");
  ASSERT_EQ(DecodeToTemp({1, 16}, temp, result, context.get()), kOk);
  EXPECT_EQ(testing::ReadRawSamples(temp), elementary.samples);
  EXPECT_EQ(result.audioBytes, static_cast<std::int64_t>(elementary.samples.size() * 2));
  EXPECT_EQ(result.pcmFormat.formatTag, kWaveFormatPcm);
  EXPECT_EQ(result.pcmFormat.channels, 2);
  EXPECT_EQ(result.pcmFormat.samplesPerSec, 44100u);
  EXPECT_EQ(result.pcmFormat.blockAlign, 4);
  EXPECT_EQ(result.pcmFormat.avgBytesPerSec, 176400u);
  EXPECT_EQ(result.description.layer, 2);

  if (calvex::testing::HaveTool("mpg123")) {
    const int largest = testing::LargestDifference(
        testing::ReadRawSamples(temp), testing::DecodeWithMpg123(dir_.File("audio.mp2")));
    EXPECT_GE(largest, 0);
    EXPECT_LE(largest, 2);
  }

  AudioDescription d;
  ASSERT_EQ(ReadMpegAudioDescription(mpg_, true, d), kOk);
  EXPECT_EQ(d.sampleRate, 44100);
  EXPECT_EQ(d.channels, 2);
  EXPECT_EQ(d.bitrateIndex, 10);  // 192 kbit/s
}

TEST_F(SystemStream, RateDivisorAveragesAndEightBitSamples) {
  const testing::Decoded elementary = DecodeToMemory(dir_.File("audio.mp2"));
  ASSERT_EQ(elementary.status, kOk);
  const std::vector<std::int16_t>& s = elementary.samples;
  const std::size_t frames = s.size() / 2;
  for (const int divisor : {2, 3}) {
    for (const int bits : {8, 16}) {
      StandaloneContext context;
      AudioDecodeResult result;
      const std::string temp = dir_.File("~audio.tmp");
      ASSERT_EQ(DecodeToTemp({divisor, bits}, temp, result, context.get()), kOk);
      EXPECT_EQ(result.pcmFormat.samplesPerSec, static_cast<std::uint32_t>(44100 / divisor));
      EXPECT_EQ(result.pcmFormat.bitsPerSample, bits);
      EXPECT_EQ(result.pcmFormat.blockAlign, 2 * bits / 8);
      // Groups run on across the 1600-sample blocks: no sample frame is lost.
      std::vector<std::uint8_t> expected;
      for (std::size_t g = 0; g + static_cast<std::size_t>(divisor) <= frames;
           g += static_cast<std::size_t>(divisor)) {
        for (std::size_t ch = 0; ch < 2; ++ch) {
          int sum = 0;
          for (int i = 0; i < divisor; ++i) sum += s[(g + static_cast<std::size_t>(i)) * 2 + ch];
          const int v = sum / divisor;
          if (bits == 8) {
            expected.push_back(static_cast<std::uint8_t>((v >> 8) + 128));
          } else {
            expected.push_back(static_cast<std::uint8_t>(v & 0xFF));
            expected.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
          }
        }
      }
      EXPECT_EQ(ReadFileBytes(temp), expected) << divisor << " " << bits;
      EXPECT_EQ(result.audioBytes, static_cast<std::int64_t>(expected.size()));
    }
  }
}

TEST_F(SystemStream, FailuresLeaveNoTemporaryFile) {
  StandaloneContext context;
  AudioDecodeResult result;
  // Not a system stream.
  AudioDecodeRequest request;
  request.source = wav_;
  request.systemStream = true;
  request.sink = AudioSinkKind::kTemporaryFile;
  request.destination = dir_.File("a.tmp");
  EXPECT_EQ(DecodeMpegAudio(request, context.get(), result), kNotMpeg);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("a.tmp")));
  // The temporary file cannot be created.
  EXPECT_EQ(DecodeToTemp({1, 16}, dir_.File("no/such/dir/~audio.tmp"), result, context.get()),
            kTempCreateFailed);
  // A full disk.
  std::filesystem::create_symlink("/dev/full", dir_.File("full.tmp"));
  EXPECT_EQ(DecodeToTemp({1, 16}, dir_.File("full.tmp"), result, context.get()), kDiskFull);
  EXPECT_TRUE(context.get().DiskFull());
  EXPECT_TRUE(std::filesystem::exists("/dev/full"));
  // Cancelled half-way.
  CancellingHost host(20);
  RunFlags flags;
  ConversionContext cancelling(host, flags);
  EXPECT_EQ(DecodeToTemp({1, 16}, dir_.File("c.tmp"), result, cancelling), kCancelled);
  EXPECT_EQ(host.calls, 20);
  EXPECT_TRUE(flags.cancelled);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("c.tmp")));
}

// ---------------------------------------------------------------------------------------------
// Progress, cancel and failing writes with a sink that records its calls

TEST(Progress, TimeFramesAndAudioWords) {
  TempDir dir;
  testing::SyntheticStream s;
  s.frames = 60;
  s.bitrateIndex = 9;  // 160 kbit/s
  const std::string path = dir.File("a.mp2");
  testing::WriteSyntheticStream(s, path);
  CancellingHost host(0);
  RunFlags flags;
  ConversionContext context(host, flags);
  AudioDecodeRequest request;
  request.source = path;
  request.record.Word(kInfoTotalFrames) = 0;
  MemorySink sink;
  AudioDecodeResult result;
  ASSERT_EQ(DecodeMpegAudioInto(request, &sink, context, result), kOk);
  ASSERT_EQ(host.calls, 60);
  for (int f = 0; f < 60; ++f) {
    const ProgressRecord& r = host.records[static_cast<std::size_t>(f)];
    EXPECT_EQ(host.kinds[static_cast<std::size_t>(f)], ProgressKind::kAudio);
    EXPECT_EQ(r.frameNumber, f);
    EXPECT_EQ(r.pictureType, 0);
    // 1152 samples at 44.1 kHz are 0.2612 tenths of a second.
    const int tenths = static_cast<int>(f * (1152.0 / 4410.0) + 0.5);
    EXPECT_EQ(r.fraction + 10 * r.seconds + 600 * r.minutes, tenths) << f;
    EXPECT_EQ(r.Word(kInfoAudioPresent), 1);
    EXPECT_EQ(r.Word(kInfoAudioRate), 44100);
    EXPECT_EQ(r.Word(kInfoAudioBits), 16);
    EXPECT_EQ(r.Word(kInfoAudioChannels), 2);
    EXPECT_EQ(r.Word(kInfoMpegLayer), 2);
    EXPECT_EQ(r.Word(kInfoAudioBitrateIndex), 9);
    if (f > 0) {
      EXPECT_GE(host.thousandths[static_cast<std::size_t>(f)],
                host.thousandths[static_cast<std::size_t>(f - 1)]);
    }
  }
  EXPECT_EQ(host.thousandths.back(), 1000);
  // The sink sees blocks of 1600 values, the last one shorter.
  for (std::size_t i = 0; i + 1 < sink.blockSizes.size(); ++i) EXPECT_EQ(sink.blockSizes[i], 1600);
  EXPECT_EQ(sink.samples.size(), 60u * 1152 * 2);
  EXPECT_EQ(sink.calls, (std::vector<std::string>{"begin", "end"}));
}

TEST(Progress, CancelEndsTheSinkThenDiscardsIt) {
  TempDir dir;
  testing::SyntheticStream s;
  s.frames = 30;
  const std::string path = dir.File("a.mp2");
  testing::WriteSyntheticStream(s, path);
  CancellingHost host(10);
  RunFlags flags;
  ConversionContext context(host, flags);
  AudioDecodeRequest request;
  request.source = path;
  MemorySink sink;
  AudioDecodeResult result;
  EXPECT_EQ(DecodeMpegAudioInto(request, &sink, context, result), kCancelled);
  EXPECT_EQ(result.framesDecoded, 10);
  EXPECT_EQ(sink.calls, (std::vector<std::string>{"begin", "end", "discard"}));
}

TEST(Progress, FailedWriteIsADiskFull) {
  TempDir dir;
  testing::SyntheticStream s;
  s.frames = 30;
  const std::string path = dir.File("a.mp2");
  testing::WriteSyntheticStream(s, path);
  StandaloneContext context;
  AudioDecodeRequest request;
  request.source = path;
  MemorySink sink;
  sink.failWritesFrom = 3;
  AudioDecodeResult result;
  EXPECT_EQ(DecodeMpegAudioInto(request, &sink, context.get(), result), kDiskFull);
  EXPECT_TRUE(context.get().DiskFull());
  EXPECT_EQ(sink.blockSizes.size(), 3u);  // nothing more is decoded
  EXPECT_EQ(sink.calls, (std::vector<std::string>{"begin", "end", "discard"}));
}

// ---------------------------------------------------------------------------------------------
// Information mode

TEST(Information, Mp2BlockFromTheFirstHeader) {
  CALVEX_REQUIRE_TOOL("twolame");
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  struct Case {
    const char* args;
    int rate, channels, mode, bitrateIndex;
  };
  // twolame codes a joint-stereo request as plain stereo frames while the bits allow.
  for (const Case c :
       {Case{"-m j -b 224", 48000, 2, 2, 11}, Case{"-m m -b 64", 32000, 1, 1, 4},
        Case{"-m d -b 192", 44100, 2, 4, 10}, Case{"-m s -b 256", 44100, 2, 2, 12}}) {
    const std::string path = MakeTwolameFile(dir, "i.mp2", c.args, c.rate, c.channels, 0.3);
    Mp2Info info;
    ASSERT_EQ(ReadMp2Info(path, info), kOk) << c.args;
    EXPECT_EQ(info.sampleRate, c.rate);
    EXPECT_EQ(info.bitsPerSample, 16);
    EXPECT_EQ(info.unused, c.channels);
    EXPECT_EQ(info.layer, 2);
    EXPECT_EQ(info.bitrateIndex, c.bitrateIndex) << c.args;
    EXPECT_EQ(info.channelMode, c.mode) << c.args;
  }
  testing::SyntheticStream joint;
  joint.layer = 1;
  joint.mode = 1;
  joint.frames = 2;
  testing::WriteSyntheticStream(joint, dir.File("j.mp1"));
  Mp2Info jointInfo;
  ASSERT_EQ(ReadMp2Info(dir.File("j.mp1"), jointInfo), kOk);
  EXPECT_EQ(jointInfo.channelMode, 3);
  EXPECT_EQ(jointInfo.layer, 1);

  Mp2Info info;
  WriteFileBytes(dir.File("junk.mp2"), {1, 2, 3});
  EXPECT_EQ(ReadMp2Info(dir.File("junk.mp2"), info), kAudioDataError);
  EXPECT_EQ(info.sampleRate, 0);
}

// ---------------------------------------------------------------------------------------------
// Hostile input: cut, corrupted and mixed streams decode without reading out of bounds, and
// decoding stays sample-exact where the input is intact.

TEST(HostileInput, TruncatedCorruptedAndMixedStreams) {
  TempDir dir;
  testing::SyntheticStream s;
  s.frames = 12;
  s.crc = true;
  const std::string path = dir.File("a.mp2");
  testing::WriteSyntheticStream(s, path);
  const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
  const std::string work = dir.File("b.mp2");
  std::mt19937 rng(5);
  for (int round = 0; round < 60; ++round) {
    std::vector<std::uint8_t> b = bytes;
    if (round % 3 == 0) b.resize(rng() % b.size());
    for (int i = 0; i < 1 + round % 20; ++i)
      b[rng() % b.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    if (round % 4 == 1)  // syncwords with random headers in the middle
      for (int i = 0; i < 10; ++i) {
        const std::size_t at = rng() % (b.size() - 4);
        b[at] = 0xFF;
        b[at + 1] = static_cast<std::uint8_t>(0xF0 | (rng() & 0x0F));
        b[at + 2] = static_cast<std::uint8_t>(rng());
      }
    WriteFileBytes(work, b);
    const testing::Decoded d = DecodeToMemory(work);
    if (d.status == kOk) {
      EXPECT_EQ(d.samples.size() % 2, 0u);
    } else {
      EXPECT_TRUE(d.status == kAudioDataError || d.status == kLayer3Unsupported) << d.status;
    }
  }
  // Noise: never more than the bytes could hold.
  std::vector<std::uint8_t> noise(20000);
  for (auto& v : noise) v = static_cast<std::uint8_t>(rng() | ((rng() & 1) ? 0xF0 : 0));
  WriteFileBytes(work, noise);
  DecodeToMemory(work);

  // A mono frame inside a stereo stream is doubled onto both channels; a frame of another
  // sampling rate is not part of the stream.
  testing::SyntheticStream mono = s;
  mono.mode = 3;
  mono.frames = 1;
  mono.crc = false;
  testing::SyntheticStream other = s;
  other.samplingCode = 1;
  other.frames = 1;
  testing::WriteSyntheticStream(mono, dir.File("m.mp2"));
  testing::WriteSyntheticStream(other, dir.File("o.mp2"));
  std::vector<std::uint8_t> mixed = bytes;
  for (const char* name : {"m.mp2", "o.mp2"}) {
    const std::vector<std::uint8_t> part = ReadFileBytes(dir.File(name));
    mixed.insert(mixed.end(), part.begin(), part.end());
  }
  mixed.insert(mixed.end(), bytes.begin(), bytes.end());
  WriteFileBytes(work, mixed);
  const testing::Decoded d = DecodeToMemory(work);
  ASSERT_EQ(d.status, kOk);
  EXPECT_EQ(d.result.framesDecoded, 12 + 1 + 12);
  EXPECT_EQ(d.samples.size(), 25u * 1152 * 2);
  for (std::size_t i = 12 * 1152; i < 13 * 1152; ++i)
    EXPECT_EQ(d.samples[2 * i], d.samples[2 * i + 1]);
}

}  // namespace
}  // namespace calvex::audio_decoder
