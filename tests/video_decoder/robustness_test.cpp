// Damaged and unusual input: truncated streams, overwritten bytes, read errors, sources that
// deliver a byte at a time, tiny stream buffers and decoders running side by side. Every run ends
// with a clean status and within a bounded number of steps (AddressSanitizer checks the rest).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "video_decoder/byte_source.h"
#include "video_decoder/decoder_test_util.h"
#include "video_decoder/video_decoder.h"

namespace calvex::video_decoder::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool CleanStatus(Status s) {
  return s == kOk || s == kFinishedWithNote || s == kNotMpegVideo || s == kVideoDataError;
}

// A stream cut anywhere gives the pictures whose data came before the cut, and the one the cut
// runs through; a cut inside the sequence header gives none.
TEST(Robustness, TruncatedStreams) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const Bytes& s = Sample().bytes;
  const std::size_t sequenceEnd = FindStartCodes(s, 0xB8).front();
  // Where each picture's data ends: at the next start code that is no slice's.
  std::vector<std::size_t> pictureEnds;
  const auto codes = FindStartCodes(s);
  for (std::size_t k = 0; k < codes.size(); ++k) {
    if (s[codes[k] + 3] != 0x00) continue;
    std::size_t end = k + 1;
    while (end < codes.size() && s[codes[end] + 3] >= 0x01 && s[codes[end] + 3] <= 0xAF) ++end;
    pictureEnds.push_back(codes[end]);
  }
  ASSERT_EQ(pictureEnds.size(), 25u);
  DecodeOptions o;
  o.maxSteps = 20000;
  for (std::size_t length = 0; length < s.size(); length += 1 + length / 7) {
    SCOPED_TRACE(length);
    const auto r =
        DecodeStream(Bytes(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(length)), o);
    if (length < 4) {
      EXPECT_EQ(r.status, kNotMpegVideo);
    } else if (length < sequenceEnd) {
      // Refused, or (its picture rate read) a stream of no pictures.
      EXPECT_TRUE(r.status == kVideoDataError || IsSuccess(r.status)) << r.status;
      EXPECT_TRUE(r.pictures.empty());
    } else {
      EXPECT_TRUE(IsSuccess(r.status)) << r.status;
      const auto whole = static_cast<std::size_t>(std::count_if(
          pictureEnds.begin(), pictureEnds.end(), [&](auto e) { return e <= length; }));
      EXPECT_GE(r.pictures.size(), whole);
      EXPECT_LE(r.pictures.size(), whole + 1);
    }
  }
}

TEST(Robustness, RandomBytesInsideSlices) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const Bytes& s = Sample().bytes;
  const auto slices = FindStartCodes(s, 0x01);
  std::mt19937 random(1234);
  DecodeOptions o;
  o.maxSteps = 20000;
  for (int trial = 0; trial < 150; ++trial) {
    Bytes damaged = s;
    const int hits = 1 + trial % 12;
    for (int h = 0; h < hits; ++h) {
      const std::size_t at = slices[random() % slices.size()] + 4 + random() % 300;
      if (at < damaged.size()) damaged[at] = static_cast<std::uint8_t>(random());
    }
    const auto r = DecodeStream(damaged, o);
    EXPECT_TRUE(CleanStatus(r.status)) << trial << ": " << r.status;
  }
  // Whole runs of noise and of zeros.
  for (int trial = 0; trial < 40; ++trial) {
    Bytes damaged = s;
    const std::size_t at = slices[random() % slices.size()] + 4;
    for (std::size_t i = at; i < std::min(damaged.size(), at + 2000); ++i) {
      damaged[i] = trial % 2 ? static_cast<std::uint8_t>(random()) : 0;
    }
    EXPECT_TRUE(CleanStatus(DecodeStream(damaged, o).status));
  }
}

TEST(Robustness, RandomHeaders) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const Bytes& s = Sample().bytes;
  std::mt19937 random(99);
  DecodeOptions o;
  o.maxSteps = 20000;
  const auto codes = FindStartCodes(s);
  for (int trial = 0; trial < 100; ++trial) {
    Bytes damaged = s;
    const std::size_t at = codes[random() % codes.size()] + 3 + random() % 8;
    if (at < damaged.size()) damaged[at] = static_cast<std::uint8_t>(random());
    EXPECT_TRUE(CleanStatus(DecodeStream(damaged, o).status)) << trial;
  }
}

// A source that fails after some bytes.
class FailingSource : public ByteSource {
 public:
  FailingSource(const Bytes& bytes, std::size_t failAt) : bytes_(bytes), failAt_(failAt) {}
  std::int64_t Read(std::uint8_t* buffer, std::size_t size) override {
    if (position_ >= failAt_) return -1;
    const std::size_t n = std::min({size, failAt_ - position_, std::size_t{1000}});
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), n, buffer);
    position_ += n;
    return static_cast<std::int64_t>(n);
  }

 private:
  const Bytes& bytes_;
  std::size_t failAt_, position_ = 0;
};

TEST(Robustness, ReadErrorStopsWith127) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  FailingSource source(Sample().bytes, 30000);
  DecodeControl control;
  control.playMode = kPlayNormal;
  control.decodeRunning = true;
  int pictures = 0;
  control.frameCallback = [&](const DecodedFrameInfo&, int, int) {
    ++pictures;
    return kFrameGoOn;
  };
  auto decoder = VideoDecoder::Create(20000, source, control);
  for (int i = 0; i < 10000 && control.decodeRunning; ++i) decoder->DecodeStep(0);
  EXPECT_FALSE(control.decodeRunning);
  EXPECT_EQ(control.decodeStatus, kReadFailed);
  EXPECT_GT(pictures, 0);
}

// Short reads and tiny buffers change nothing.
class TrickleSource : public MemoryByteSource {
 public:
  using MemoryByteSource::MemoryByteSource;
  std::int64_t Read(std::uint8_t* buffer, std::size_t size) override {
    return MemoryByteSource::Read(buffer, std::min<std::size_t>(size, 1 + (calls_++ % 5)));
  }

 private:
  int calls_ = 0;
};

std::vector<Bytes> DecodeBitmaps(ByteSource& source, std::size_t bufferBytes, DspLevel dsp) {
  DecodeControl control;
  control.playMode = kPlayNormal;
  control.decodeRunning = true;
  std::vector<Bytes> bitmaps;
  control.frameCallback = [&](const DecodedFrameInfo& info, int, int) {
    bitmaps.emplace_back(info.bitmapBits, info.bitmapBits + info.bitmapHeader->sizeImage);
    return kFrameGoOn;
  };
  auto decoder = VideoDecoder::Create(bufferBytes, source, control, dsp);
  while (control.decodeRunning) decoder->DecodeStep(0);
  EXPECT_EQ(control.decodeStatus, kFinishedWithNote);
  return bitmaps;
}

TEST(Robustness, ShortReadsAndSmallBuffersGiveTheSamePictures) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  MemoryByteSource plain(Sample().bytes);
  const auto expected = DecodeBitmaps(plain, 20000, DspLevel::kBest);
  ASSERT_EQ(expected.size(), 25u);
  TrickleSource trickle(Sample().bytes);
  EXPECT_TRUE(DecodeBitmaps(trickle, 20000, DspLevel::kBest) == expected);
  for (std::size_t size : {1u, 16u, 333u}) {
    MemoryByteSource small(Sample().bytes);
    EXPECT_TRUE(DecodeBitmaps(small, size, DspLevel::kBest) == expected) << size;
  }
  // Every kernel set gives the same pictures.
  for (DspLevel level : {DspLevel::kReference, DspLevel::kSse2, DspLevel::kAvx2}) {
    MemoryByteSource source(Sample().bytes);
    EXPECT_TRUE(DecodeBitmaps(source, 20000, level) == expected);
  }
}

TEST(Robustness, DecodersSideBySide) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  MemoryByteSource plain(Sample().bytes);
  const auto expected = DecodeBitmaps(plain, 20000, DspLevel::kBest);
  struct Run {
    MemoryByteSource source{Sample().bytes};
    DecodeControl control;
    std::vector<Bytes> bitmaps;
    std::unique_ptr<VideoDecoder> decoder;
  };
  std::vector<std::unique_ptr<Run>> runs;
  for (int i = 0; i < 3; ++i) {
    auto r = std::make_unique<Run>();
    r->control.playMode = kPlayNormal;
    r->control.decodeRunning = true;
    r->control.frameCallback = [run = r.get()](const DecodedFrameInfo& info, int, int) {
      run->bitmaps.emplace_back(info.bitmapBits, info.bitmapBits + info.bitmapHeader->sizeImage);
      return kFrameGoOn;
    };
    r->decoder = VideoDecoder::Create(20000, r->source, r->control);
    runs.push_back(std::move(r));
  }
  for (bool any = true; any;) {
    any = false;
    for (auto& r : runs) {
      if (r->control.decodeRunning) {
        r->decoder->DecodeStep(0);
        any = true;
      }
    }
  }
  for (auto& r : runs) EXPECT_TRUE(r->bitmaps == expected);
}

}  // namespace
}  // namespace calvex::video_decoder::testing
