// Stream headers: what is refused and with which status, streams that end early or oddly,
// quantiser matrices and a second sequence header.
#include <gtest/gtest.h>

#include "video_decoder/decoder_test_util.h"

namespace calvex::video_decoder::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Without(const Bytes& s, std::size_t from, std::size_t to) {
  Bytes out(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(from));
  out.insert(out.end(), s.begin() + static_cast<std::ptrdiff_t>(to), s.end());
  return out;
}

void ExpectSamplePictures(const DecodeResult& r, std::size_t count) {
  const auto& ref = Sample().reference;
  ASSERT_EQ(r.pictures.size(), count);
  for (std::size_t i = 0; i < count; ++i) EXPECT_GE(PicturePsnr(r.pictures[i], ref[i]), 50) << i;
}

TEST(Headers, FirstStartCodeMustBeASequenceHeader) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const Bytes& s = Sample().bytes;
  const auto gop = FindStartCodes(s, 0xB8).at(0);
  const auto picture = FindStartCodes(s, 0x00).at(0);
  EXPECT_EQ(DecodeStream(Bytes(s.begin() + static_cast<std::ptrdiff_t>(gop), s.end())).status,
            kNotMpegVideo);
  EXPECT_EQ(DecodeStream(Bytes(s.begin() + static_cast<std::ptrdiff_t>(picture), s.end())).status,
            kNotMpegVideo);
  for (const Bytes& junk :
       {Bytes{}, Bytes{0}, Bytes{0, 0, 1}, Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0}}) {
    const auto r = DecodeStream(junk);
    EXPECT_EQ(r.status, kNotMpegVideo);
    EXPECT_TRUE(r.pictures.empty());
  }
  // Leading zero bytes and garbage before the first start code are passed over.
  Bytes lead = {0x12, 0x34, 0, 0, 0};
  lead.insert(lead.end(), s.begin(), s.end());
  ExpectSamplePictures(DecodeStream(lead), 25);
}

TEST(Headers, PictureRates9And10AreAcceptedOthersRefused) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  for (int code = 0; code < 16; ++code) {
    Bytes s = Sample().bytes;
    for (auto at : FindStartCodes(s, 0xB3))
      s[at + 7] = static_cast<std::uint8_t>((s[at + 7] & 0xF0) | code);
    const auto r = DecodeStream(s);
    if (code >= 1 && code <= 10) {
      EXPECT_EQ(r.status, kFinishedWithNote) << code;
      EXPECT_EQ(r.pictureRateCode, code);
      ExpectSamplePictures(r, 25);
    } else {
      EXPECT_EQ(r.status, kVideoDataError) << code;
      EXPECT_TRUE(r.pictures.empty());
    }
  }
}

TEST(Headers, DPicturesAreRefused) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  Bytes s = Sample().bytes;
  // The third coded picture (a B picture) becomes a D picture.
  const auto at = FindStartCodes(s, 0x00).at(2);
  s[at + 5] = static_cast<std::uint8_t>((s[at + 5] & ~0x38) | (4 << 3));
  const auto r = DecodeStream(s);
  EXPECT_EQ(r.status, kVideoDataError);
  // The I picture was delivered when the P picture arrived; nothing after the refusal.
  EXPECT_EQ(r.pictures.size(), 1u);
  // Coding type 0 likewise.
  s[at + 5] = static_cast<std::uint8_t>(s[at + 5] & ~0x38);
  EXPECT_EQ(DecodeStream(s).status, kVideoDataError);
}

TEST(Headers, QuantizerScaleZeroInASliceIsRefused) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  Bytes s = Sample().bytes;
  const auto at = FindStartCodes(s, 0x01).at(0);
  s[at + 4] &= 0x07;
  const auto r = DecodeStream(s);
  EXPECT_EQ(r.status, kVideoDataError);
  EXPECT_TRUE(r.pictures.empty());
}

TEST(Headers, MacroblockAddressPastThePictureIsRefused) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  Bytes s = Sample().bytes;
  // QCIF has 9 macroblock rows; a slice at row 175 starts past the picture.
  const auto at = FindStartCodes(s, 0x01).at(0);
  s[at + 3] = 0xAF;
  EXPECT_EQ(DecodeStream(s).status, kVideoDataError);
  s[at + 3] = 0x0A;
  EXPECT_EQ(DecodeStream(s).status, kVideoDataError);
}

TEST(Headers, StreamWithoutEndCodeDeliversEveryPicture) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const Bytes& s = Sample().bytes;
  ASSERT_EQ(FindStartCodes(s, 0xB7).back(), s.size() - 4);
  Bytes cut(s.begin(), s.end() - 4);
  for (int extra = 0; extra < 4; ++extra) {
    // Lengths that are not a multiple of 4 are padded with zero bytes.
    const auto r = DecodeStream(cut);
    EXPECT_TRUE(IsSuccess(r.status)) << r.status;
    ExpectSamplePictures(r, 25);
    cut.push_back(0);
  }
}

TEST(Headers, HeadersOnlyGiveNoPictures) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const Bytes& s = Sample().bytes;
  const auto gop = FindStartCodes(s, 0xB8).at(0);
  const auto slice = FindStartCodes(s, 0x01).at(0);
  for (std::size_t end : {gop, gop + 8, slice, slice + 2}) {
    Bytes headers(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(end));
    const auto r = DecodeStream(headers);
    EXPECT_TRUE(IsSuccess(r.status)) << end << ": " << r.status;
    EXPECT_TRUE(r.pictures.empty()) << end;
    headers.insert(headers.end(), {0, 0, 1, 0xB7});
    EXPECT_EQ(DecodeStream(headers).status, kFinishedWithNote);
  }
}

// A loaded matrix stays in force over every later picture; a later sequence header without one
// brings back the default (ISO/IEC 11172-2 2.4.3.2), as in ffmpeg.
TEST(Headers, LoadedMatricesPersistUntilTheNextSequenceHeader) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  calvex::testing::TempDir dir;
  const std::string custom = dir.File("custom.m1v"), plain = dir.File("plain.m1v");
  std::string matrix;
  for (int i = 0; i < 64; ++i) matrix += (i ? "," : "") + std::to_string(i == 0 ? 8 : 10 + i % 23);
  const Bytes a = EncodeWithFfmpeg(
      custom, "-f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 13",
      "-g 6 -bf 2 -qscale:v 6 -intra_matrix " + matrix + " -inter_matrix " + matrix);
  const Bytes b = EncodeWithFfmpeg(plain, "-f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 13",
                                   "-g 6 -bf 2 -qscale:v 6");

  // Only the first sequence header remains: its matrices must hold for all pictures.
  Bytes single = a;
  const auto headers = FindStartCodes(single, 0xB3);
  ASSERT_GT(headers.size(), 1u);
  for (std::size_t i = headers.size() - 1; i >= 1; --i) {
    const auto next =
        FindStartCodes(
            Bytes(single.begin() + static_cast<std::ptrdiff_t>(headers[i]) + 4, single.end()))
            .at(0);
    single = Without(single, headers[i], headers[i] + 4 + next);
  }
  ASSERT_EQ(FindStartCodes(single, 0xB3).size(), 1u);
  calvex::testing::WriteFileBytes(dir.File("single.m1v"), single);
  ExpectMatchesFfmpeg(dir.File("single.m1v"));

  // The custom stream followed by the plain one.
  Bytes both = a;  // ffmpeg ends its streams without an end code
  both.insert(both.end(), b.begin(), b.end());
  calvex::testing::WriteFileBytes(dir.File("both.m1v"), both);
  ExpectMatchesFfmpeg(dir.File("both.m1v"));
}

// The pictures keep the first sequence header's size: a smaller second sequence decodes into their
// top-left corner, a larger one is refused after the pictures before it.
TEST(Headers, SecondSequenceOfAnotherSize) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  calvex::testing::TempDir dir;
  const Bytes& first = Sample().bytes;
  const std::string smallPath = dir.File("small.m1v"), largePath = dir.File("large.m1v");
  const Bytes small = EncodeWithFfmpeg(
      smallPath, "-f lavfi -i testsrc2=size=96x64:rate=25 -frames:v 7", "-g 6 -bf 2 -qscale:v 4");
  const Bytes large = EncodeWithFfmpeg(
      largePath, "-f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 7", "-g 6 -bf 2 -qscale:v 4");
  const auto smallRef = DecodeWithFfmpeg(smallPath, 96, 64);

  Bytes joined(first.begin(), first.end() - 4);
  joined.insert(joined.end(), small.begin(), small.end());
  const auto r = DecodeStream(joined);
  EXPECT_TRUE(IsSuccess(r.status));
  ASSERT_EQ(r.pictures.size(), 25u + 7u);
  EXPECT_EQ(r.width, 176);
  for (std::size_t i = 0; i < 7; ++i) {
    const Picture& p = r.pictures[25 + i];
    std::vector<std::uint8_t> corner;
    for (int row = 0; row < 64; ++row)
      corner.insert(corner.end(), p.y.begin() + row * 176, p.y.begin() + row * 176 + 96);
    EXPECT_GE(Psnr(corner, smallRef[i].y), 50) << i;
  }

  Bytes grown(first.begin(), first.end() - 4);
  grown.insert(grown.end(), large.begin(), large.end());
  const auto g = DecodeStream(grown);
  EXPECT_EQ(g.status, kVideoDataError);
  // Every picture of the first sequence but the held last reference.
  EXPECT_EQ(g.pictures.size(), 24u);
}

}  // namespace
}  // namespace calvex::video_decoder::testing
