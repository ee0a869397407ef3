#include "mpeg_audio/bit_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mpeg_audio/frame_header.h"
#include "support/test_support.h"

namespace calvex::audio {
namespace {

using calvex::testing::ReadFileBytes;
using calvex::testing::TempDir;

std::vector<std::uint8_t> Bytes(std::initializer_list<int> v) {
  return std::vector<std::uint8_t>(v.begin(), v.end());
}

TEST(BitStreamWrite, HeaderBitsAndTheByteInProgress) {
  TempDir dir;
  BitStream out;
  ASSERT_EQ(out.OpenBitStreamWrite(dir.File("a.bin")), kOk);
  out.PutBits(0xFFF, 12);
  out.PutBit(1);
  out.PutBits(2, 2);
  out.PutBits(0x7, 0);  // nothing
  out.PutBits(0x7, -3);
  EXPECT_EQ(out.BitCount(), 15);
  EXPECT_TRUE(out.CloseBitStreamWrite());
  EXPECT_EQ(ReadFileBytes(dir.File("a.bin")), Bytes({0xFF, 0xFC}));

  // A stream ending on a byte boundary gets no stray 0x00 (peers report it as invalid data).
  ASSERT_EQ(out.OpenBitStreamWrite(dir.File("b.bin")), kOk);
  out.PutBits(0xABCD, 16);
  EXPECT_TRUE(out.CloseBitStreamWrite());
  EXPECT_EQ(ReadFileBytes(dir.File("b.bin")), Bytes({0xAB, 0xCD}));

  ASSERT_EQ(out.OpenBitStreamWrite(dir.File("c.bin")), kOk);
  EXPECT_TRUE(out.CloseBitStreamWrite());
  EXPECT_TRUE(ReadFileBytes(dir.File("c.bin")).empty());
}

TEST(BitStreamWrite, FailuresAreReported) {
  BitStream out;
  EXPECT_EQ(out.OpenBitStreamWrite("/nonexistent-dir/x.mp2"), kCreateFailed);
  EXPECT_FALSE(out.IsOpen());

  ASSERT_EQ(out.OpenBitStreamWrite("/dev/full"), kOk);
  for (int i = 0; i < 5000; ++i) out.PutBits(static_cast<std::uint32_t>(i), 8);
  EXPECT_TRUE(out.WriteFailed());  // seen as soon as the first buffer went out
  EXPECT_FALSE(out.CloseBitStreamWrite());

  // A short stream fails at the close.
  ASSERT_EQ(out.OpenBitStreamWrite("/dev/full"), kOk);
  EXPECT_FALSE(out.WriteFailed());
  out.PutBits(1, 3);
  EXPECT_FALSE(out.CloseBitStreamWrite());
  EXPECT_TRUE(out.WriteFailed());
}

// Random fields written, then read back through every reading operation, across many buffer
// refills (small buffers) and at odd bit positions.
TEST(BitStreamRoundTrip, RandomFieldsReadBackExactly) {
  TempDir dir;
  std::mt19937 rng(7);
  struct Field {
    std::uint32_t value;
    int bits;
    bool bytes;
  };
  std::vector<Field> fields;
  for (int i = 0; i < 20000; ++i) {
    const int bits = 1 + static_cast<int>(rng() % 32);
    const std::uint32_t mask = bits == 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    fields.push_back({static_cast<std::uint32_t>(rng()) & mask, bits, rng() % 50 == 0});
  }
  BitStream out;
  ASSERT_EQ(out.OpenBitStreamWrite(dir.File("r.bin"), 37), kOk);
  std::int64_t total = 0;
  for (const Field& f : fields) {
    if (f.bytes) {
      const std::uint8_t three[3] = {static_cast<std::uint8_t>(f.value),
                                     static_cast<std::uint8_t>(f.value >> 8), 0x5A};
      out.PutBytes(three, 3);
      total += 24;
    } else {
      out.PutBits(f.value, f.bits);
      total += f.bits;
    }
  }
  EXPECT_EQ(out.BitCount(), total);
  ASSERT_TRUE(out.CloseBitStreamWrite());
  EXPECT_EQ(static_cast<std::int64_t>(ReadFileBytes(dir.File("r.bin")).size()), (total + 7) / 8);

  for (int bufferSize : {16, 4096}) {
    BitStream in;
    ASSERT_EQ(in.OpenBitStreamRead(dir.File("r.bin"), bufferSize), kOk);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const Field& f = fields[i];
      if (f.bytes) {
        std::uint8_t three[3];
        ASSERT_EQ(in.GetBytes(three, 3), 3u);
        ASSERT_EQ(three[0], static_cast<std::uint8_t>(f.value));
        ASSERT_EQ(three[1], static_cast<std::uint8_t>(f.value >> 8));
        ASSERT_EQ(three[2], 0x5A);
      } else if (i % 3 == 0) {
        ASSERT_EQ(in.LookBits(f.bits), f.value) << i;
        in.SkipBits(f.bits);
      } else {
        ASSERT_EQ(in.GetBits(f.bits), f.value) << i;
      }
    }
    EXPECT_EQ(in.BitCount(), total);
    EXPECT_FALSE(in.EndOfStream());
  }
}

TEST(BitStreamRead, EndOfDataGivesZerosAndRaisesTheFlag) {
  BitStream in;
  ASSERT_EQ(in.OpenBitStreamReadBytes(Bytes({0xA5, 0xF0})), kOk);
  EXPECT_EQ(in.GetBits(12), 0xA5Fu);
  EXPECT_EQ(in.LookBits(8), 0x00u);  // looking does not raise the flag
  EXPECT_FALSE(in.EndOfStream());
  EXPECT_EQ(in.GetBits(4), 0x0u);
  EXPECT_FALSE(in.EndOfStream());  // exactly the last bit
  EXPECT_EQ(in.GetBits(1), 0u);
  EXPECT_TRUE(in.EndOfStream());
  EXPECT_FALSE(in.SeekSync(0xFFF, 12));

  // Huge skips and copies past the end neither crash nor allocate.
  ASSERT_EQ(in.OpenBitStreamReadBytes(Bytes({1, 2, 3, 4, 5})), kOk);
  in.SkipBits(std::int64_t{1} << 40);
  EXPECT_TRUE(in.EndOfStream());
  std::uint8_t out[64];
  ASSERT_EQ(in.OpenBitStreamReadBytes(Bytes({1, 2, 3})), kOk);
  in.GetBits(4);
  EXPECT_EQ(in.GetBytes(out, 64), 3u);
  EXPECT_EQ(out[0], 0x10);
  EXPECT_EQ(out[1], 0x20);
  EXPECT_EQ(out[2], 0x30);
  EXPECT_EQ(out[3], 0);

  EXPECT_EQ(in.OpenBitStreamRead("/nonexistent-dir/x.mp2"), kOpenFailed);
}

TEST(BitStreamRead, SeekSyncFindsByteAlignedPatternsOnly) {
  BitStream in;
  // 0xFFF starting at bit 4 (not aligned) must be passed over; the aligned one at byte 3 found.
  ASSERT_EQ(in.OpenBitStreamReadBytes(Bytes({0x0F, 0xFF, 0x00, 0xFF, 0xF3, 0x40})), kOk);
  in.GetBits(3);
  ASSERT_TRUE(in.SeekSync(0xFFF, 12));
  EXPECT_EQ(in.BitCount(), 36);
  EXPECT_EQ(in.GetBits(4), 0x3u);
  EXPECT_FALSE(in.SeekSync(0xFFF, 12));

  // A 24-bit start code prefix at the very end is found without raising the end flag.
  ASSERT_EQ(in.OpenBitStreamReadBytes(Bytes({0x12, 0x00, 0x00, 0x00, 0x01})), kOk);
  EXPECT_TRUE(in.SeekSync(0x000001, 24));
  EXPECT_FALSE(in.EndOfStream());
}

TEST(FrameHeader, RoundTripAndLengths) {
  TempDir dir;
  FrameHeader h;
  h.layer = 2;
  h.bitrate_index = 8;  // 128 kbit/s
  h.sampling_frequency = 0;
  h.padding = 1;
  h.mode = 1;
  h.mode_ext = 2;
  BitStream out;
  ASSERT_EQ(out.OpenBitStreamWrite(dir.File("h.bin")), kOk);
  WriteFrameHeader(out, h);
  ASSERT_TRUE(out.CloseBitStreamWrite());
  EXPECT_EQ(ReadFileBytes(dir.File("h.bin")), Bytes({0xFF, 0xFD, 0x82, 0x60}));

  BitStream in;
  ASSERT_EQ(in.OpenBitStreamRead(dir.File("h.bin")), kOk);
  ASSERT_TRUE(in.SeekSync(kSyncWord, kSyncWordBits));
  FrameHeader back;
  ASSERT_TRUE(ReadFrameHeader(in, back));
  EXPECT_EQ(std::memcmp(&back, &h, sizeof h), 0);
  EXPECT_EQ(FrameLengthBytes(back), 418);

  h.padding = 0;
  EXPECT_EQ(FrameLengthBytes(h), 417);
  h.sampling_frequency = 1;
  h.bitrate_index = 10;  // 192 kbit/s at 48 kHz
  EXPECT_EQ(FrameLengthBytes(h), 576);
  h.layer = 1;
  h.sampling_frequency = 0;
  h.bitrate_index = 4;  // 128 kbit/s Layer I: 34.8 slots of 4 bytes
  EXPECT_EQ(FrameLengthBytes(h), 136);
  h.padding = 1;
  EXPECT_EQ(FrameLengthBytes(h), 140);
  h.bitrate_index = 0;  // free format
  EXPECT_EQ(FrameLengthBytes(h), 0);
  h.bitrate_index = 4;
  h.layer = 3;
  EXPECT_EQ(FrameLengthBytes(h), 0);
}

TEST(FrameCrc, MatchesTheStandardCrc16) {
  FrameCrc crc;
  for (char c : std::string("123456789")) crc.Add(static_cast<unsigned char>(c), 8);
  EXPECT_EQ(crc.value(), 0xAEE7);  // CRC-16 with polynomial 0x8005, start 0xFFFF, MSB first
  // Fields of odd widths give the same register as the same bits in bytes.
  FrameCrc a, b;
  a.Add(0x5, 3);
  a.Add(0x1A, 5);
  b.Add(0xBA, 8);
  EXPECT_EQ(a.value(), b.value());
}

}  // namespace
}  // namespace calvex::audio
