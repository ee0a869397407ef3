// The whole encoder: index table, determinism across threads and kernels, golden outputs, and
// the failure paths (disk full, cancel, failed fetch, bad parameters).
#include "video_encoder/video_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/test_support.h"
#include "video_encoder/coding_order.h"
#include "video_encoder/encoder_test_support.h"

namespace calvex::video::testing {
namespace {

struct Encoded {
  Status status = kOk;
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint32_t> index;
  std::vector<int> fetched;
  std::string reconMd5;
};

// What the synthetic source shows: its kind, and how often each frame repeats.
struct Input {
  SyntheticSource::Kind kind = SyntheticSource::Kind::kGentle;
  int repeats = 1;
};
constexpr Input kHighMotion{SyntheticSource::Kind::kHighMotion, 1};

Encoded Encode(VideoEncoderParams p, int threads = 1, const Kernels* kernels = nullptr,
               Input input = {}, bool keepPictures = true) {
  p.threads = threads;
  p.kernels = kernels;
  SyntheticSource source(p.width, p.height, input.kind);
  source.repeats = input.repeats;
  RecordingEvents events;
  events.keepPictures = keepPictures;
  MemorySink sink;
  Encoded e;
  e.status = EncodeVideo(p, source, events, sink, &e.index);
  e.bytes = sink.bytes;
  e.fetched = events.fetchedOrder;
  std::vector<std::uint8_t> all;
  for (const auto& [n, pic] : events.pictures) {
    all.insert(all.end(), pic.y.begin(), pic.y.end());
    all.insert(all.end(), pic.cb.begin(), pic.cb.end());
    all.insert(all.end(), pic.cr.begin(), pic.cr.end());
  }
  e.reconMd5 = Md5Hex(all);
  return e;
}

int TopBits(std::uint32_t word) {
  return static_cast<std::int32_t>(word) >> 26;
}

TEST(VideoEncoder, OnePictureIndex) {
  const Encoded e = Encode(MakeParams(64, 48, 1));
  ASSERT_EQ(e.status, kOk);
  ASSERT_EQ(e.index.size(), 2u);
  // Word 0: the sequence header (12 bytes) and the whole bytes of the group header (7; its last
  // 3 bits share a byte with the picture header and count with the picture).
  EXPECT_EQ(e.index[0], 19u);
  EXPECT_EQ(TopBits(e.index[1]), -1);
  EXPECT_EQ((e.index[0] & 0x3FFFFFF) + (e.index[1] & 0x3FFFFFF), e.bytes.size());
  // The stream ends with the sequence end code.
  ASSERT_GE(e.bytes.size(), 4u);
  EXPECT_EQ(std::vector<std::uint8_t>(e.bytes.end() - 4, e.bytes.end()),
            (std::vector<std::uint8_t>{0, 0, 1, 0xB7}));
}

TEST(VideoEncoder, IndexWordsFollowTheCodingOrder) {
  const Encoded e = Encode(MakeParams(64, 48, 13));
  ASSERT_EQ(e.status, kOk);
  EXPECT_EQ(e.fetched, (std::vector<int>{0, 3, 1, 2, 6, 4, 5, 9, 7, 8, 12, 10, 11}));
  ASSERT_EQ(e.index.size(), 14u);
  const int expected[] = {0, 2, -1, -1, 2, -1, -1, 2, -1, -1, 2, -1, -1};
  std::size_t total = 0;
  for (int i = 0; i < 13; ++i) {
    EXPECT_EQ(TopBits(e.index[static_cast<std::size_t>(i)]), expected[i]) << i;
    total += e.index[static_cast<std::size_t>(i)] & 0x3FFFFFF;
  }
  EXPECT_EQ(TopBits(e.index[13]), 11 - 13);  // the last coded picture shows as number 11
  total += e.index[13] & 0x3FFFFFF;
  EXPECT_EQ(total, e.bytes.size());
}

TEST(VideoEncoder, OutputIsTheSameForAnyThreadCountAndKernels) {
  const VideoEncoderParams p = MakeParams(96, 80, 14, 2, 400000);
  const Encoded one = Encode(p, 1);
  ASSERT_EQ(one.status, kOk);
  for (int threads : {2, 3, 5}) {
    const Encoded many = Encode(p, threads);
    EXPECT_EQ(many.bytes, one.bytes) << threads << " threads";
    EXPECT_EQ(many.reconMd5, one.reconMd5);
  }
  const Encoded plain = Encode(p, 2, &ReferenceKernels());
  EXPECT_EQ(plain.bytes, one.bytes) << "reference kernels";
  for (const Kernels* k : VectorKernels())
    EXPECT_EQ(Encode(p, 1, k).bytes, one.bytes) << k->name << " kernels";
}

// Fast motion reaches the ends of the search windows, intra decisions and every prediction mode;
// the high-quality preset's search reaches beyond them (f_code above 2) and its choices, made as
// rows and pictures are analysed and coded on several threads, stay the same too.
TEST(VideoEncoder, HighMotionIsTheSameForAnyThreadCountAndKernels) {
  for (const EncoderPreset preset : {EncoderPreset::kStandard, EncoderPreset::kHigh}) {
    VideoEncoderParams p = MakeParams(200, 136, 16, 2, 700000);
    p.preset = preset;
    const Encoded one = Encode(p, 1, nullptr, kHighMotion);
    ASSERT_EQ(one.status, kOk);
    for (int threads : {2, 3, 5}) {
      const Encoded many = Encode(p, threads, nullptr, kHighMotion);
      EXPECT_EQ(many.bytes, one.bytes) << threads << " threads";
      EXPECT_EQ(many.reconMd5, one.reconMd5);
    }
    const Encoded plain = Encode(p, 2, &ReferenceKernels(), kHighMotion);
    EXPECT_EQ(plain.bytes, one.bytes) << "reference kernels";
    EXPECT_EQ(plain.reconMd5, one.reconMd5);
    for (const Kernels* k : VectorKernels())
      EXPECT_EQ(Encode(p, 1, k, kHighMotion).bytes, one.bytes) << k->name << " kernels";
    // Without an observer the B pictures are not rebuilt; the stream stays the same.
    const Encoded blind = Encode(p, 2, nullptr, kHighMotion, false);
    EXPECT_EQ(blind.bytes, one.bytes) << "without an observer";
    // The widest forward f_code of the P pictures: after the start code, 10 + 3 + 16 + 1 bits in.
    int widest = 0;
    for (std::size_t at = 0; at + 8 < one.bytes.size(); ++at)
      if (one.bytes[at] == 0 && one.bytes[at + 1] == 0 && one.bytes[at + 2] == 1 &&
          one.bytes[at + 3] == 0 && ((one.bytes[at + 5] >> 3) & 7) == 2)
        widest = std::max(widest, (one.bytes[at + 7] & 3) << 1 | one.bytes[at + 8] >> 7);
    EXPECT_EQ(widest > 2, preset == EncoderPreset::kHigh);
  }
}

// Golden outputs: a change of a single coded bit or reconstructed sample fails here. When a
// change is meant, check it with the conformance tests and update the sums.
TEST(VideoEncoder, GoldenOutputs) {
  const Encoded a = Encode(MakeParams(96, 80, 14, 2, 400000));
  EXPECT_EQ(Md5Hex(a.bytes), "e968690648e77e216c709adb978b174c");
  EXPECT_EQ(a.reconMd5, "ed9b7c32b622ff860666e85c3d98b7f5");
  const Encoded b = Encode(MakeParams(328, 248, 4, 1, 1097728));
  EXPECT_EQ(Md5Hex(b.bytes), "3e83f8e8a6ee5afb445e2339b5be37ed");
  EXPECT_EQ(b.reconMd5, "60f4dd4d856f64de2b402c8943428a44");
  // Fast motion at an odd size, and at the full size with a high rate (small quantisers,
  // escaped levels).
  const Encoded c = Encode(MakeParams(200, 136, 16, 2, 700000), 1, nullptr, kHighMotion);
  EXPECT_EQ(Md5Hex(c.bytes), "e816911fee8b6270d5ae66dfd89c69fe");
  EXPECT_EQ(c.reconMd5, "f7fb57aaa1f03e334b494b87779dd273");
  const Encoded d = Encode(MakeParams(352, 240, 13, 4, 4000000), 2, nullptr, kHighMotion);
  EXPECT_EQ(Md5Hex(d.bytes), "8facf279daa0e06f526f42117ecdb01a");
  EXPECT_EQ(d.reconMd5, "39df7f88675beb44258bd271b652c275");
  // Every frame twice (15 frames per second coded at 30) at a low rate: still pictures, skips.
  const Encoded e =
      Encode(MakeParams(160, 120, 16, 4, 200000), 1, nullptr, {SyntheticSource::Kind::kGentle, 2});
  EXPECT_EQ(Md5Hex(e.bytes), "943e6d9ca2be55950743fafad6aa7f60");
  EXPECT_EQ(e.reconMd5, "540cee37bbc2f97a44f281d1cf80e534");
  // Three macroblocks by two: every search window is clipped.
  const Encoded f = Encode(MakeParams(48, 32, 8, 0, 300000), 1, nullptr, kHighMotion);
  EXPECT_EQ(Md5Hex(f.bytes), "fd5d9c316033f47deabc62b4fd40c0f8");
  EXPECT_EQ(f.reconMd5, "1c83be46ecde98e56416ecc7e4262773");
}

TEST(VideoEncoder, StillPicturesAreSkipped) {
  VideoEncoderParams p = MakeParams(160, 112, 4);
  // A flat colour: the I picture reconstructs exactly, so nothing is left to code after it.
  class FlatSource : public PictureSource {
   public:
    Status FetchPicture(int, std::uint8_t* bitmap) override {
      const int size = BitmapStride(160, 24) * 112;
      for (int i = 0; i < size; i += 3) bitmap[i] = 200, bitmap[i + 1] = 140, bitmap[i + 2] = 90;
      return kOk;
    }
  } still;
  RecordingEvents events;
  MemorySink sink;
  std::vector<std::uint32_t> index;
  ASSERT_EQ(EncodeVideo(p, still, events, sink, &index), kOk);
  // The P picture and the B pictures: a picture header and seven slices, each with its first and
  // last macroblock and the skipped ones in between.
  for (int i = 2; i <= 4; ++i) EXPECT_LT(index[static_cast<std::size_t>(i)] & 0x3FFFFFF, 100u) << i;
}

TEST(VideoEncoder, ConstrainedParametersFlag) {
  // The flag is the last-but-two bit of the 12-byte sequence header.
  auto flag = [](int w, int h) {
    VideoEncoderParams p = MakeParams(w, h, 1, 0, 1638400);
    SyntheticSource source(w, h);
    EncoderEvents events;
    MemorySink sink;
    EXPECT_EQ(EncodeVideo(p, source, events, sink, nullptr), kOk);
    return (sink.bytes.at(11) >> 2) & 1;
  };
  EXPECT_EQ(flag(352, 240), 1);
  EXPECT_EQ(flag(480, 480), 0);
}

TEST(VideoEncoder, WriteFailuresEndWithDiskFull) {
  const VideoEncoderParams p = MakeParams(64, 48, 6);
  SyntheticSource source(64, 48);
  EncoderEvents events;
  MemorySink failing;
  failing.failAfter = 100;
  EXPECT_EQ(EncodeVideo(p, source, events, failing, nullptr), kDiskFull);
  EXPECT_TRUE(failing.closed);
  MemorySink closeFails;
  closeFails.failClose = true;
  EXPECT_EQ(EncodeVideo(p, source, events, closeFails, nullptr), kDiskFull);

  if (std::filesystem::exists("/dev/full")) {
    EXPECT_EQ(EncodeVideoFile(p, source, events, "/dev/full", nullptr), kDiskFull);
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
  }
  calvex::testing::TempDir dir;
  EXPECT_EQ(EncodeVideoFile(p, source, events, dir.File("missing/out.m1v"), nullptr), kOpenFailed);
}

TEST(VideoEncoder, CancelAndFetchFailureLeaveNoFile) {
  calvex::testing::TempDir dir;
  const std::string path = dir.File("out.m1v");
  const VideoEncoderParams p = MakeParams(64, 48, 8);
  for (int threads : {1, 2}) {
    VideoEncoderParams q = p;
    q.threads = threads;
    SyntheticSource source(64, 48);
    RecordingEvents atPoll;
    atPoll.cancelAtPoll = 3;
    EXPECT_EQ(EncodeVideoFile(q, source, atPoll, path, nullptr), kCancelled);
    EXPECT_FALSE(std::filesystem::exists(path));
    RecordingEvents atFetch;
    atFetch.cancelAtFetch = 5;
    EXPECT_EQ(EncodeVideoFile(q, source, atFetch, path, nullptr), kCancelled);
    EXPECT_EQ(atFetch.fetchedOrder.size(), 6u);
    EXPECT_FALSE(std::filesystem::exists(path));
    SyntheticSource broken(64, 48);
    broken.failAt = 4;
    RecordingEvents events;
    events.keepPictures = true;
    EXPECT_EQ(EncodeVideoFile(q, broken, events, path, nullptr), kAviDecodeFailed);
    EXPECT_FALSE(std::filesystem::exists(path));
    // Picture 4 is the sixth fetched; the five before it were coded, none after.
    EXPECT_EQ(events.types.size(), 5u);
  }
}

// With pictures in flight on several threads, a failed fetch or a cancel anywhere (first
// picture, a B picture, a group start, the last picture) ends the run without a hang: the source
// was asked for pictures one at a time in coding order up to the failure and no further, exactly
// the pictures before it were coded and rebuilt, as in a complete run, and the bytes written are
// the start of the complete stream.
TEST(VideoEncoder, FailuresEndPipelinedRunsCleanly) {
  const VideoEncoderParams p = MakeParams(96, 64, 26, 4, 600000);
  const std::vector<CodedPicture> order = CodingOrder(p.pictureCount);
  const Encoded full = Encode(p, 1, nullptr, kHighMotion);
  ASSERT_EQ(full.status, kOk);
  for (int threads : {1, 2, 3, 5}) {
    for (int failAt : {0, 1, 11, 12, 23, 25}) {
      VideoEncoderParams q = p;
      q.threads = threads;
      SyntheticSource source(q.width, q.height, SyntheticSource::Kind::kHighMotion);
      source.failAt = failAt;
      RecordingEvents events;
      events.keepPictures = true;
      MemorySink sink;
      EXPECT_EQ(EncodeVideo(q, source, events, sink, nullptr), kAviDecodeFailed);
      std::size_t coded = 0;
      while (order[coded].displayNumber != failAt) ++coded;
      std::vector<int> asked;
      for (std::size_t i = 0; i <= coded; ++i) asked.push_back(order[i].displayNumber);
      EXPECT_EQ(source.fetched, asked) << threads << " threads, failing at " << failAt;
      EXPECT_EQ(events.types.size(), coded) << threads << " threads, failing at " << failAt;
      EXPECT_EQ(events.pictures.size(), coded);
      EXPECT_LE(sink.bytes.size(), full.bytes.size());
      EXPECT_TRUE(std::equal(sink.bytes.begin(), sink.bytes.end(), full.bytes.begin()))
          << threads << " threads, failing at " << failAt;
      EXPECT_TRUE(sink.closed);

      RecordingEvents cancelling;
      cancelling.keepPictures = true;
      cancelling.cancelAtFetch = failAt;
      SyntheticSource whole(q.width, q.height, SyntheticSource::Kind::kHighMotion);
      MemorySink cancelled;
      EXPECT_EQ(EncodeVideo(q, whole, cancelling, cancelled, nullptr), kCancelled);
      EXPECT_EQ(cancelling.fetchedOrder.size(), static_cast<std::size_t>(failAt) + 1);
      EXPECT_EQ(cancelling.types.size(), static_cast<std::size_t>(failAt));
    }
  }
}

TEST(VideoEncoder, RejectsParametersItCannotCode) {
  SyntheticSource source(64, 48);
  EncoderEvents events;
  MemorySink sink;
  VideoEncoderParams p = MakeParams(64, 48, 0);
  EXPECT_EQ(EncodeVideo(p, source, events, sink, nullptr), kNotSupported);
  p = MakeParams(63, 48, 3);
  EXPECT_EQ(EncodeVideo(p, source, events, sink, nullptr), kNotSupported);
  p = MakeParams(64, 48, 3, 0, 0);
  EXPECT_EQ(EncodeVideo(p, source, events, sink, nullptr), kNotSupported);
}

}  // namespace
}  // namespace calvex::video::testing
