// Whole encodings: determinism (fast paths, threads, earlier encodings of the other layer), the
// progress the frame loop reports, failures, and golden checksums of our output for fixed inputs.
#include <gtest/gtest.h>

#include <thread>

#include "encoder_test_support.h"
#include "support/test_support.h"

namespace calvex::audio::testing {
namespace {

using calvex::testing::ReadFileBytes;
using calvex::testing::TempDir;

std::vector<std::uint8_t> Pcm(Signal s, int channels, int rate, double seconds, int bits = 16) {
  return PcmBytes(MakeSignal(s, channels, rate, static_cast<int>(rate * seconds)), bits);
}

TEST(EncoderStream, VectorisedAndPlainEncodingsGiveTheSameBytes) {
  TempDir dir;
  struct Case {
    int layer, channels, rate, joint, kbps;
    Signal signal;
  };
  for (const Case& c :
       {Case{2, 2, 44100, 1, 128, Signal::kSpeech}, Case{2, 1, 32000, 0, 64, Signal::kSweep},
        Case{1, 2, 48000, 1, 192, Signal::kNoise}, Case{2, 2, 48000, 0, 384, Signal::kSquare}}) {
    const auto pcm = Pcm(c.signal, c.channels, c.rate, 0.7);
    const PcmFormat f{c.channels, c.rate, 16};
    EncodeToFile(pcm, f, c.layer, c.joint, c.kbps, dir.File("fast.mp2"), true);
    EncodeToFile(pcm, f, c.layer, c.joint, c.kbps, dir.File("plain.mp2"), false);
    EXPECT_EQ(ReadFileBytes(dir.File("fast.mp2")), ReadFileBytes(dir.File("plain.mp2")))
        << c.layer << " " << c.rate << " " << SignalName(c.signal);
  }
}

TEST(EncoderStream, EncodingsDoNotInfluenceEachOther) {
  TempDir dir;
  const auto pcm = Pcm(Signal::kSpeech, 2, 44100, 0.6);
  const PcmFormat f{2, 44100, 16};
  EncodeToFile(pcm, f, 2, 1, 160, dir.File("alone.mp2"));
  // A Layer I encoding first (its tables are views, nothing is rearranged in place) ...
  EncodeToFile(pcm, f, 1, 1, 256, dir.File("layer1.mp2"));
  EncodeToFile(pcm, f, 2, 1, 160, dir.File("after.mp2"));
  EXPECT_EQ(ReadFileBytes(dir.File("alone.mp2")), ReadFileBytes(dir.File("after.mp2")));
  // ... and encodings side by side on threads.
  std::thread a([&] { EncodeToFile(pcm, f, 2, 1, 160, dir.File("t1.mp2")); });
  std::thread b([&] { EncodeToFile(pcm, f, 1, 1, 256, dir.File("t2.mp2")); });
  a.join();
  b.join();
  EXPECT_EQ(ReadFileBytes(dir.File("alone.mp2")), ReadFileBytes(dir.File("t1.mp2")));
  EXPECT_EQ(ReadFileBytes(dir.File("layer1.mp2")), ReadFileBytes(dir.File("t2.mp2")));
}

TEST(EncoderStream, FrameLengthsFollowThePaddingRule) {
  TempDir dir;
  // 44.1 kHz at 128 kbit/s: 417 or 418 bytes; 48 kHz at 192 kbit/s: always 576.
  EncodeToFile(Pcm(Signal::kTone, 2, 44100, 2.0), {2, 44100, 16}, 2, 0, 128, dir.File("a.mp2"));
  FrameScan scan = ScanFrames(dir.File("a.mp2"));
  ASSERT_TRUE(scan.tiles);
  long long bytes = 0;
  for (std::size_t i = 0; i < scan.headers.size(); ++i) {
    bytes += FrameLengthBytes(scan.headers[i]);
    EXPECT_LT(std::abs(bytes - (i + 1) * (1152 / 44.1 * 16)), 1.0) << i;
  }
  EXPECT_EQ(scan.headers[0].padding, 1);
  EncodeToFile(Pcm(Signal::kTone, 2, 48000, 1.0), {2, 48000, 16}, 2, 0, 192, dir.File("b.mp2"));
  scan = ScanFrames(dir.File("b.mp2"));
  ASSERT_TRUE(scan.tiles);
  for (const FrameHeader& h : scan.headers) EXPECT_EQ(FrameLengthBytes(h), 576);
  EXPECT_EQ(ReadFileBytes(dir.File("b.mp2")).size(), scan.headers.size() * 576);
}

TEST(EncoderStream, JointStereoRequestCodesStereoFramesWhenTheyFit) {
  TempDir dir;
  // Plenty of bits for a quiet tone: every frame stereo. Few bits for dense speech: joint frames.
  EncodeToFile(Pcm(Signal::kTone, 2, 48000, 0.5), {2, 48000, 16}, 2, 1, 384, dir.File("a.mp2"));
  for (const FrameHeader& h : ScanFrames(dir.File("a.mp2")).headers) EXPECT_EQ(h.mode, 0);
  EncodeToFile(Pcm(Signal::kNoise, 2, 48000, 0.5), {2, 48000, 16}, 2, 1, 64, dir.File("b.mp2"));
  int joint = 0;
  for (const FrameHeader& h : ScanFrames(dir.File("b.mp2")).headers) joint += h.mode == 1;
  EXPECT_GT(joint, 0);
}

TEST(EncoderStream, SourceFailuresEndTheEncoding) {
  class Failing final : public PcmSource {
   public:
    Status Read(std::uint8_t* buffer, std::size_t bytes, std::size_t& delivered) override {
      if (++calls > 3) return kReadFailed;
      std::fill(buffer, buffer + bytes, 0x11);
      delivered = bytes;
      return kOk;
    }
    int calls = 0;
  } source;
  TempDir dir;
  EncodeSource src;
  src.pcm = &source;
  src.format = {2, 44100, 16};
  src.totalValues = 2 * 44100 * 10;
  AudioEncodeParams params;
  RecordingObserver observer;
  const EncodeResult r = EncodeAudioStream(src, params, dir.File("x.mp2"), observer);
  EXPECT_EQ(r.status, kReadFailed);
  EXPECT_EQ(r.frames, 3u);
  EXPECT_TRUE(r.created);
}

// Checksums of our own output for fixed generated inputs: any change to the bits the encoder
// writes shows here (update them only for an intended change of output).
TEST(EncoderStream, GoldenChecksums) {
  TempDir dir;
  struct Case {
    int layer, channels, rate, bits, joint, kbps;
    Signal signal;
    const char* md5;
  };
  const Case cases[] = {
      {2, 2, 44100, 16, 0, 192, Signal::kTone, "8f7df89a7c667383147d63a35aea8dc5"},
      {2, 2, 44100, 16, 1, 128, Signal::kSpeech, "7c8966fec2ca6109af0a2ceed8781c3a"},
      {2, 1, 48000, 16, 0, 64, Signal::kSweep, "36799c09a38ce1b094ee54952c540810"},
      {2, 2, 32000, 16, 1, 96, Signal::kNoise, "15ed243a7067a98fe2030b1ce2c85ca3"},
      {2, 1, 22050, 8, 0, 48, Signal::kSquare, "85226d93eaba09a1213854fb95771e6d"},
      {1, 2, 44100, 16, 1, 192, Signal::kSpeech, "976c0613bd1afe2341da1ac19987bca7"},
      {1, 1, 32000, 16, 0, 64, Signal::kSweep, "b88f159276cca837a12ff77da10f6980"},
      {1, 2, 11025, 16, 0, 128, Signal::kTone, "cef2969257ef0baa14fcb3c742244677"},
  };
  for (const Case& c : cases) {
    const std::string out = dir.File("g.mp2");
    const Encoded e = EncodeToFile(Pcm(c.signal, c.channels, c.rate, 1.0, c.bits),
                                   {c.channels, c.rate, c.bits}, c.layer, c.joint, c.kbps, out);
    ASSERT_EQ(e.result.status, kOk);
    EXPECT_EQ(Md5OfFile(out), c.md5) << c.layer << " " << c.rate << " " << SignalName(c.signal);
  }
}

}  // namespace
}  // namespace calvex::audio::testing
