// Bit writer and the MPEG-1 video headers.
#include "video_encoder/stream_headers.h"

#include <gtest/gtest.h>

#include "video_encoder/encoder_test_support.h"

namespace calvex::video {
namespace {

using testing::MemorySink;

std::vector<std::uint8_t> Bytes(const std::function<void(BitWriter&)>& write) {
  MemorySink sink;
  BitWriter w(sink);
  write(w);
  w.Align();
  w.Flush();
  return sink.bytes;
}

TEST(BitWriter, PacksMostSignificantBitFirstAndCounts) {
  MemorySink sink;
  BitWriter w(sink);
  w.PutBits(0x1B3, 32);
  EXPECT_EQ(w.BytesWritten(), 4u);
  w.PutBits(0x5, 3);  // 101
  EXPECT_DOUBLE_EQ(w.BitCount(), 35.0);
  w.PutBits(0, 0);  // nothing
  w.PutBits(0, -3);
  EXPECT_DOUBLE_EQ(w.BitCount(), 35.0);
  // A header after 3 bits pads 5 zero bits first.
  WriteSequenceEnd(w);
  w.Flush();
  EXPECT_EQ(sink.bytes, (std::vector<std::uint8_t>{0, 0, 1, 0xB3, 0xA0, 0, 0, 1, 0xB7}));
}

TEST(BitWriter, FailedWriteIsRememberedAndCountingGoesOn) {
  MemorySink sink;
  sink.failAfter = 0;
  BitWriter w(sink);
  w.PutBits(0xFFFF, 16);
  w.Flush();
  EXPECT_TRUE(w.WriteFailed());
  w.PutBits(0xFF, 8);
  EXPECT_EQ(w.BytesWritten(), 3u);
}

// Codes of every length, across many flushes of the writer's buffer: the bytes that reach the
// sink are the bits in order, and the counts agree with them.
TEST(BitWriter, LongStreamsCrossBufferFlushesIntact) {
  MemorySink sink;
  BitWriter w(sink);
  std::vector<bool> bits;
  std::uint32_t value = 12345;
  for (int i = 0; i < 60000; ++i) {
    const int count = 1 + i % 32;
    value = value * 1103515245u + 12345u;
    w.PutBits(value, count);
    for (int b = count - 1; b >= 0; --b) bits.push_back((value >> b) & 1);
  }
  EXPECT_DOUBLE_EQ(w.BitCount(), static_cast<double>(bits.size()));
  w.Align();
  w.Flush();
  while (bits.size() % 8) bits.push_back(false);
  ASSERT_EQ(sink.bytes.size(), bits.size() / 8);
  EXPECT_EQ(w.BytesWritten(), sink.bytes.size());
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < sink.bytes.size(); ++i) {
    int byte = 0;
    for (int b = 0; b < 8; ++b)
      byte = byte << 1 | (bits[8 * i + static_cast<std::size_t>(b)] ? 1 : 0);
    wrong += sink.bytes[i] != byte;
  }
  EXPECT_EQ(wrong, 0u);
}

TEST(StreamHeaders, SequenceHeaderFields) {
  SequenceHeaderFields f;
  f.width = 352;
  f.height = 240;
  f.pictureRateCode = 4;
  f.bitRate = 1097728;  // 2744.32 units of 400: rounded up to 2745
  f.constrainedParameters = true;
  const auto b = Bytes([&](BitWriter& w) { WriteSequenceHeader(w, f); });
  // 352 = 0x160, 240 = 0x0F0; aspect 1, rate 4; 2745 = 0x0AB9 in 18 bits, marker, vbv 20,
  // constrained 1, two matrix flags 0.
  EXPECT_EQ(b, (std::vector<std::uint8_t>{0x00, 0x00, 0x01, 0xB3, 0x16, 0x00, 0xF0, 0x14, 0x02,
                                          0xAE, 0x60, 0xA4}));
}

TEST(StreamHeaders, ConstrainedParametersOnlyWhenMet) {
  EXPECT_TRUE(MeetsConstrainedParameters(352, 240, 30, 1, 1638400));
  EXPECT_TRUE(MeetsConstrainedParameters(352, 288, 25, 1, 1638400));
  EXPECT_FALSE(MeetsConstrainedParameters(352, 288, 30, 1, 1638400));  // 11 880 macroblocks/s
  EXPECT_FALSE(MeetsConstrainedParameters(480, 480, 24, 1, 1000000));  // 900 macroblocks
  EXPECT_TRUE(MeetsConstrainedParameters(352, 240, 30000, 1001, 1856000));
  EXPECT_FALSE(MeetsConstrainedParameters(352, 240, 30, 1, 1856001));
}

TEST(StreamHeaders, TimeCodes) {
  // 29.97: one minute of 30 counted pictures, drop flag set, the marker bit always.
  EXPECT_EQ(TimeCode(1800, 30, true), (1u << 24) | (1u << 13) | (1u << 12));
  // 25: 1800 pictures are 1 minute 12 seconds.
  EXPECT_EQ(TimeCode(1800, 25, false), (1u << 13) | (1u << 12) | (12u << 6));
  EXPECT_EQ(TimeCode(0, 24, false), 1u << 12);
  EXPECT_EQ(TimeCode(30 * 3600 + 29, 30, false), (1u << 19) | (1u << 12) | 29u);
}

TEST(StreamHeaders, GroupAndPictureHeaders) {
  const auto g = Bytes([](BitWriter& w) { WriteGroupHeader(w, TimeCode(0, 30, false), true); });
  // time code 0x1000 in 25 bits, closed_gop 1, broken_link 0 -> 0x00080040 after the start code.
  EXPECT_EQ(g, (std::vector<std::uint8_t>{0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x40}));

  double bitsAtDelay = 0;
  const auto p = Bytes([&](BitWriter& w) {
    WritePictureHeader(w, 2, 3, [&] {
      bitsAtDelay = w.BitCount();
      return 0xFFFF;
    });
  });
  EXPECT_DOUBLE_EQ(bitsAtDelay, 32.0);
  // temporal_reference 2, type 3, vbv_delay 0xFFFF, then 0 001 0 001 0: 38 bits.
  EXPECT_EQ(p, (std::vector<std::uint8_t>{0, 0, 1, 0, 0x00, 0x9F, 0xFF, 0xF8, 0x88}));
}

}  // namespace
}  // namespace calvex::video
