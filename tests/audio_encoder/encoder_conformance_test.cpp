// Our .mp2 files in the peers' decoders: for each legal combination of layer, sampling rate (with
// 8 to 24 kHz sources through the rate multipliers), mode and a spread of bitrates, ffmpeg and
// mpg123 decode the file without complaint, every frame is as long as its header says, the frame
// count is right, and the decoded signal matches what was coded within what the bitrate allows.
// Each case prints its SNR per decoder. White noise is its own masker: model 2 lets its coding
// noise rise close to it, and intensity stereo drops what the two channels do not share, so noise
// cases have low floors (peers' encoders give the same figures).
#include <gtest/gtest.h>

#include <cstdio>

#include "encoder_test_support.h"
#include "support/test_support.h"

namespace calvex::audio::testing {
namespace {

struct Case {
  int layer;
  int rate;
  int channels;
  int joint;
  int kbps;
  Signal signal;
  int bits = 16;
  double minSnr = 10.0;
};

std::string CaseName(const Case& c) {
  char name[96];
  std::snprintf(name, sizeof name, "L%d_%dHz_%s_%dk_%s_%dbit", c.layer, c.rate,
                c.channels == 1 ? "mono"
                : c.joint       ? "joint"
                                : "stereo",
                c.kbps, SignalName(c.signal), c.bits);
  return name;
}

class PeerDecoding : public ::testing::TestWithParam<Case> {};

TEST_P(PeerDecoding, DecodesCleanlyWithExactFramesAndExpectedSnr) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  CALVEX_REQUIRE_TOOL("mpg123");
  const Case& c = GetParam();
  calvex::testing::TempDir dir;
  const std::string mp2 = dir.File("out.mp2");
  const int frames = c.rate * 6 / 5;  // 1.2 s
  const auto signal = MakeSignal(c.signal, c.channels, c.rate, frames);
  const PcmFormat format{c.channels, c.rate, c.bits};
  const Encoded e = EncodeToFile(PcmBytes(signal, c.bits), format, c.layer, c.joint, c.kbps, mp2);
  ASSERT_EQ(e.result.status, kOk);

  const int samplesPerFrame = c.layer == 1 ? 384 : 1152;
  const std::size_t perChannel = e.codedInput.size() / static_cast<std::size_t>(c.channels);
  const std::size_t expectedFrames = (perChannel + samplesPerFrame - 1) / samplesPerFrame;
  const FrameScan scan = ScanFrames(mp2);
  EXPECT_TRUE(scan.tiles);
  ASSERT_EQ(scan.headers.size(), expectedFrames);
  for (const FrameHeader& h : scan.headers) {
    EXPECT_EQ(h.layer, c.layer);
    EXPECT_EQ(h.error_protection, 0);
    EXPECT_EQ(h.mode == 3, c.channels == 1);
    if (!c.joint) {
      EXPECT_NE(h.mode, 1);
    }
  }

  std::printf("%-40s", CaseName(c).c_str());
  for (const char* peer : {"ffmpeg", "mpg123"}) {
    Decoded d = DecodeWithPeer(peer, mp2, c.channels);
    EXPECT_TRUE(d.ok) << peer << ": " << d.log;
    // ffmpeg's demuxer takes the first frame for junk when the second frame's mode differs (a
    // joint-stereo request codes each frame as stereo or joint stereo, which the standard allows).
    const bool firstSkipped = std::string(peer) == "ffmpeg" && scan.headers.size() > 1 &&
                              scan.headers[0].mode != scan.headers[1].mode;
    const std::size_t decodedFrames = expectedFrames - (firstSkipped ? 1 : 0);
    EXPECT_EQ(d.values.size(), decodedFrames * samplesPerFrame * c.channels) << peer;
    if (firstSkipped)
      d.values.insert(d.values.begin(), static_cast<std::size_t>(samplesPerFrame * c.channels), 0);
    if (c.signal == Signal::kSilence) {
      int peak = 0;
      for (std::int16_t v : d.values) peak = std::max(peak, std::abs(static_cast<int>(v)));
      EXPECT_LE(peak, 1) << peer;
      std::printf("  %s peak %d", peer, peak);
      continue;
    }
    int delay = 0;
    const double snr = SnrDb(e.codedInput, d.values, c.channels, delay);
    std::printf("  %s %6.2f dB (delay %d)", peer, snr, delay);
    EXPECT_GE(snr, c.minSnr) << peer;
  }
  std::printf("\n");
}

const Case kCases[] = {
    // Layer II at the three MPEG-1 rates.
    {2, 44100, 2, 0, 192, Signal::kTone, 16, 60.0},
    {2, 44100, 2, 1, 128, Signal::kSweep},
    {2, 44100, 2, 0, 256, Signal::kNoise, 16, 4.0},
    {2, 44100, 2, 0, 384, Signal::kSquare},
    {2, 44100, 2, 1, 64, Signal::kSpeech},
    {2, 44100, 1, 0, 96, Signal::kSilence},
    {2, 44100, 1, 0, 192, Signal::kSweep},
    {2, 48000, 1, 0, 64, Signal::kSpeech},
    {2, 48000, 2, 0, 192, Signal::kSweep},
    {2, 48000, 2, 1, 112, Signal::kNoise, 16, 0.5},
    {2, 48000, 1, 0, 32, Signal::kTone},
    {2, 48000, 2, 1, 320, Signal::kSquare},
    {2, 32000, 2, 0, 64, Signal::kTone},
    {2, 32000, 2, 1, 96, Signal::kSpeech},
    {2, 32000, 1, 0, 56, Signal::kSweep},
    {2, 32000, 2, 0, 384, Signal::kNoise, 16, 4.0},
    {2, 32000, 2, 1, 160, Signal::kSilence},
    // Layer II from 8 to 24 kHz sources.
    {2, 22050, 1, 0, 48, Signal::kSpeech, 8},
    {2, 16000, 2, 0, 96, Signal::kTone},
    {2, 24000, 2, 1, 128, Signal::kSweep},
    {2, 11025, 1, 0, 32, Signal::kTone},
    {2, 8000, 2, 1, 64, Signal::kSpeech},
    {2, 12000, 1, 0, 40, Signal::kSquare, 8},
    // Layer I.
    {1, 44100, 2, 0, 384, Signal::kTone, 16, 40.0},
    {1, 44100, 2, 1, 192, Signal::kSweep},
    {1, 44100, 1, 0, 128, Signal::kSpeech},
    {1, 44100, 2, 0, 448, Signal::kSilence},
    {1, 48000, 2, 0, 448, Signal::kNoise, 16, 4.0},
    {1, 48000, 1, 0, 64, Signal::kSquare},
    {1, 48000, 2, 1, 96, Signal::kNoise, 16, 0.5},
    {1, 32000, 2, 1, 256, Signal::kTone},
    {1, 32000, 1, 0, 32, Signal::kSweep},
    {1, 22050, 2, 1, 160, Signal::kSpeech, 8},
    {1, 11025, 2, 0, 96, Signal::kTone},
    {1, 16000, 1, 0, 288, Signal::kNoise},
};

INSTANTIATE_TEST_SUITE_P(AudioEncoder, PeerDecoding, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return CaseName(info.param);
                         });

}  // namespace
}  // namespace calvex::audio::testing
