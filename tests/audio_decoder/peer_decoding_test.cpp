// Our decoder against mpg123 on streams from independent encoders (twolame, ffmpeg), from our
// own encoder, and on synthetic streams that use every quantiser: every sample within 2 LSB.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>

#include "audio_decoder/decoder_test_support.h"
#include "audio_encoder/audio_encoder.h"

namespace calvex::audio_decoder {
namespace {

using calvex::testing::RunCommand;
using calvex::testing::ShellQuote;
using calvex::testing::TempDir;
using testing::DecodeToMemory;
using testing::DecodeWithMpg123;
using testing::LargestDifference;
using testing::MakeTestWav;

constexpr int kTolerance = 2;

// Decodes `path` with both decoders and checks every sample; reports the largest difference.
void ExpectMatchesMpg123(const std::string& path, const std::string& label,
                         std::int64_t minimumFrames = 1) {
  const testing::Decoded ours = DecodeToMemory(path);
  ASSERT_EQ(ours.status, kOk) << label;
  ASSERT_GE(ours.result.framesDecoded, minimumFrames) << label;
  EXPECT_EQ(ours.result.crcErrors, 0) << label;
  const std::vector<std::int16_t> peer = DecodeWithMpg123(path);
  ASSERT_FALSE(peer.empty()) << label << ": mpg123 failed";
  const int largest = LargestDifference(ours.samples, peer);
  std::printf("[ largest difference to mpg123 ] %-40s %d LSB over %zu samples\n", label.c_str(),
              largest, ours.samples.size());
  ::testing::Test::RecordProperty("largest_difference_" + label, largest);
  ASSERT_NE(largest, -1) << label << ": " << ours.samples.size() << " samples, mpg123 "
                         << peer.size();
  EXPECT_LE(largest, kTolerance) << label;
}

// ---------------------------------------------------------------------------------------------
// twolame: Layer II, every mode, three sampling rates, low and high bitrates, with and without
// error protection (CRC).

struct TwolameCase {
  char mode;  // s, j, d, m
  int rate;
  int kbps;
  bool crc;
};

std::string Name(const TwolameCase& c) {
  return std::string("twolame_") + c.mode + "_" + std::to_string(c.rate) + "_" +
         std::to_string(c.kbps) + (c.crc ? "_crc" : "");
}

class TwolameStreams : public ::testing::TestWithParam<TwolameCase> {};

TEST_P(TwolameStreams, DecodeLikeMpg123) {
  CALVEX_REQUIRE_TOOL("twolame");
  CALVEX_REQUIRE_TOOL("mpg123");
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const TwolameCase c = GetParam();
  TempDir dir;
  const int channels = c.mode == 'm' ? 1 : 2;
  const std::string wav = dir.File("in.wav"), mp2 = dir.File("out.mp2");
  MakeTestWav(wav, c.rate, channels, 1.5);
  const std::string cmd = std::string("twolame --quiet -m ") + c.mode + " -b " +
                          std::to_string(c.kbps) + (c.crc ? " -p" : "") + " " + ShellQuote(wav) +
                          " " + ShellQuote(mp2);
  const auto r = RunCommand(cmd);
  ASSERT_EQ(r.exitCode, 0) << cmd << "\n" << r.output;
  ExpectMatchesMpg123(mp2, Name(c), std::min(40, c.rate * 3 / 2 / 1152));
}

// Stereo modes at 64 kbit/s (tables 3-B.2c/d) and 384 (3-B.2a/b); mono at 32 and 192; and the
// half sampling rates.
INSTANTIATE_TEST_SUITE_P(
    Layer2, TwolameStreams,
    ::testing::Values(TwolameCase{'s', 44100, 64, false}, TwolameCase{'s', 48000, 384, true},
                      TwolameCase{'s', 32000, 192, false}, TwolameCase{'j', 44100, 384, true},
                      TwolameCase{'j', 48000, 64, false}, TwolameCase{'j', 32000, 64, true},
                      TwolameCase{'d', 44100, 192, true}, TwolameCase{'d', 48000, 128, false},
                      TwolameCase{'d', 32000, 384, false}, TwolameCase{'m', 44100, 32, true},
                      TwolameCase{'m', 48000, 192, false}, TwolameCase{'m', 32000, 96, true},
                      TwolameCase{'j', 22050, 64, true}, TwolameCase{'s', 24000, 160, false},
                      TwolameCase{'m', 16000, 32, false}),
    [](const ::testing::TestParamInfo<TwolameCase>& info) { return Name(info.param); });

// Energy-level extension bits in the ancillary data, padding and emphasis: the frame lengths
// carry the decoder past them.
TEST(TwolameExtras, AncillaryDataPaddingAndEmphasis) {
  CALVEX_REQUIRE_TOOL("twolame");
  CALVEX_REQUIRE_TOOL("mpg123");
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string wav = dir.File("in.wav"), mp2 = dir.File("out.mp2");
  MakeTestWav(wav, 44100, 2, 1.5);
  const auto r = RunCommand("twolame --quiet -E -d -e 5 -R 48 -b 256 " + ShellQuote(wav) + " " +
                            ShellQuote(mp2));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  ExpectMatchesMpg123(mp2, "twolame_energy_padding_emphasis", 40);
}

// ---------------------------------------------------------------------------------------------
// ffmpeg's own MP2 encoder.

TEST(FfmpegStreams, DecodeLikeMpg123) {
  CALVEX_REQUIRE_TOOL("mpg123");
  CALVEX_REQUIRE_TOOL("ffmpeg");
  struct Case {
    int rate, channels, kbps;
  };
  for (const Case c : {Case{44100, 2, 192}, Case{48000, 1, 64}, Case{32000, 2, 384},
                       Case{44100, 1, 160}, Case{24000, 2, 96}, Case{16000, 1, 48}}) {
    TempDir dir;
    const std::string wav = dir.File("in.wav"), mp2 = dir.File("out.mp2");
    MakeTestWav(wav, c.rate, c.channels, 1.5);
    const auto r = RunCommand("ffmpeg -hide_banner -loglevel error -y -i " + ShellQuote(wav) +
                              " -c:a mp2 -b:a " + std::to_string(c.kbps) + "k " + ShellQuote(mp2));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    ExpectMatchesMpg123(mp2,
                        "ffmpeg_" + std::to_string(c.rate) + "_" + std::to_string(c.channels) +
                            "ch_" + std::to_string(c.kbps),
                        std::min(40, c.rate * 3 / 2 / 1152));
  }
}

// ---------------------------------------------------------------------------------------------
// Synthetic streams: random allocations over every quantiser of the four Layer II tables and all
// Layer I allocations, every joint-stereo bound, with and without CRC.

TEST(SyntheticStreams, Layer1EveryAllocationAndBound) {
  CALVEX_REQUIRE_TOOL("mpg123");
  TempDir dir;
  // MPEG-1, then the half sampling rates (ID bit 0: other bitrates, the same frames).
  for (const int version : {1, 0}) {
    int n = 0;
    for (const int mode : {0, 1, 2, 3}) {
      for (const int ext : {0, 1, 2, 3}) {
        if (mode != 1 && ext != 0) continue;
        testing::SyntheticStream s;
        s.version = version;
        s.layer = 1;
        s.mode = mode;
        s.modeExt = ext;
        s.bitrateIndex = 4 + 3 * (n % 4);  // 128 .. 416 kbit/s (MPEG-1), 64 .. 224 (half rates)
        s.samplingCode = n % 3;
        s.crc = n % 2 == 1;
        s.seed = 100 + static_cast<unsigned>(n);
        s.frames = 30;
        const std::string path = dir.File("l1_" + std::to_string(n) + ".mp1");
        testing::WriteSyntheticStream(s, path);
        ExpectMatchesMpg123(path,
                            std::string(version == 0 ? "synthetic_half_" : "synthetic_") +
                                "layer1_mode" + std::to_string(mode) + "_ext" + std::to_string(ext),
                            30);
        ++n;
      }
    }
  }
}

TEST(SyntheticStreams, Layer2EveryTableAndBound) {
  CALVEX_REQUIRE_TOOL("mpg123");
  TempDir dir;
  // (bitrate index, sampling code, mode) picking tables 3-B.2a (48 kHz 128 kbit/s stereo),
  // b (44.1 kHz 384 stereo), c (48 kHz 32 mono), d (32 kHz 64 stereo); and with version 0 the one
  // table of the half sampling rates.
  struct Case {
    int bitrate, sampling, mode, ext;
    int version = 1;
  };
  int n = 0;
  for (const Case c :
       {Case{8, 1, 0, 0}, Case{8, 1, 1, 3}, Case{14, 0, 1, 1}, Case{14, 0, 2, 0}, Case{1, 1, 3, 0},
        Case{10, 2, 3, 0}, Case{4, 2, 1, 0}, Case{4, 0, 1, 2}, Case{6, 0, 3, 0},
        Case{14, 2, 0, 0, 0}, Case{8, 0, 1, 2, 0}, Case{4, 1, 3, 0, 0}, Case{11, 1, 2, 0, 0}}) {
    testing::SyntheticStream s;
    s.version = c.version;
    s.layer = 2;
    s.bitrateIndex = c.bitrate;
    s.samplingCode = c.sampling;
    s.mode = c.mode;
    s.modeExt = c.ext;
    s.crc = n % 2 == 0;
    s.seed = 500 + static_cast<unsigned>(n);
    s.frames = 25;
    const std::string path = dir.File("l2_" + std::to_string(n) + ".mp2");
    testing::WriteSyntheticStream(s, path);
    ExpectMatchesMpg123(path,
                        std::string(c.version == 0 ? "synthetic_half_" : "synthetic_") +
                            "layer2_br" + std::to_string(c.bitrate) + "_sf" +
                            std::to_string(c.sampling) + "_mode" + std::to_string(c.mode) + "_ext" +
                            std::to_string(c.ext),
                        25);
    ++n;
  }
}

// ---------------------------------------------------------------------------------------------
// Our own encoder (Layers I and II, psychoacoustic model 2), fed from memory.

class NoProgress final : public audio::EncodeObserver {
 public:
  bool Progress(const ProgressRecord&, int) override { return false; }
};

TEST(OwnEncoderStreams, DecodeLikeMpg123) {
  CALVEX_REQUIRE_TOOL("mpg123");
  struct Case {
    int layer, rate, channels, kbps, joint;
  };
  for (const Case c :
       {Case{2, 44100, 2, 192, 1}, Case{2, 48000, 1, 96, 0}, Case{2, 32000, 2, 64, 1},
        Case{1, 44100, 2, 384, 1}, Case{1, 32000, 1, 128, 0}, Case{1, 48000, 2, 256, 0}}) {
    TempDir dir;
    const std::string mp2 = dir.File("own.mp2");
    // A sweep with noise, the second channel a different tone.
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> noise(-0.1, 0.1);
    const int frames = c.rate * 3 / 2;
    std::vector<std::uint8_t> pcm;
    for (int i = 0; i < frames; ++i) {
      const double t = static_cast<double>(i) / c.rate;
      for (int ch = 0; ch < c.channels; ++ch) {
        const double x = ch == 0 ? 0.5 * std::sin(2 * std::numbers::pi * (100 + 1500 * t) * t)
                                 : 0.3 * std::sin(2 * std::numbers::pi * 440 * t);
        const auto v = static_cast<std::int16_t>(std::lround((x + noise(rng)) * 32767.0));
        pcm.push_back(static_cast<std::uint8_t>(v & 0xFF));
        pcm.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
      }
    }
    audio::MemoryPcmSource source(pcm);
    audio::EncodeSource input;
    input.pcm = &source;
    input.format = {c.channels, c.rate, 16};
    input.totalValues = static_cast<std::uint64_t>(frames) * static_cast<std::uint64_t>(c.channels);
    input.sourceFrames = static_cast<std::uint32_t>(frames);
    AudioEncodeParams params;
    params.audioLayer = c.layer;
    params.jointStereo = c.joint;
    params.audioBitrateKbps = c.kbps;
    NoProgress observer;
    ASSERT_EQ(audio::EncodeAudioStream(input, params, mp2, observer).status, kOk);
    ExpectMatchesMpg123(mp2,
                        "calvex_layer" + std::to_string(c.layer) + "_" + std::to_string(c.rate) +
                            "_" + std::to_string(c.channels) + "ch_" + std::to_string(c.kbps),
                        40);
  }
}

}  // namespace
}  // namespace calvex::audio_decoder
