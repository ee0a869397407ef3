#include "video_decoder/decoder_test_util.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "video_decoder/byte_source.h"
#include "video_decoder/video_decoder.h"

namespace calvex::video_decoder::testing {

using calvex::testing::ReadFileBytes;
using calvex::testing::RunCommand;

DecodeResult DecodeStream(const std::vector<std::uint8_t>& stream, const DecodeOptions& options) {
  DecodeResult result;
  MemoryByteSource source(stream);
  DecodeControl control;
  control.playMode = kPlayNormal;
  control.decodeRunning = true;
  control.firstStartCodePending = true;
  VideoDecoder* decoderPointer = nullptr;
  control.frameCallback = [&](const DecodedFrameInfo& info, int, int) {
    const VideoDecoder& d = *decoderPointer;
    const PictureBuffer* p = d.DeliveredPicture();
    int answer = options.callback ? options.callback(info) : kFrameGoOn;
    if (info.bitmapBits == nullptr || p == nullptr) return answer;
    Picture picture;
    picture.frameNumber = info.frameNumber;
    picture.pictureType = info.pictureType;
    const int w = result.width, h = result.height, cw = (w + 1) / 2, ch = (h + 1) / 2;
    for (int r = 0; r < h; ++r) {
      picture.y.insert(picture.y.end(), p->luma + r * d.lumaStride(),
                       p->luma + r * d.lumaStride() + w);
    }
    for (int r = 0; r < ch; ++r) {
      picture.cb.insert(picture.cb.end(), p->cb + r * d.chromaStride(),
                        p->cb + r * d.chromaStride() + cw);
      picture.cr.insert(picture.cr.end(), p->cr + r * d.chromaStride(),
                        p->cr + r * d.chromaStride() + cw);
    }
    if (options.keepBitmaps) {
      picture.bitmap.assign(info.bitmapBits, info.bitmapBits + info.bitmapHeader->sizeImage);
    }
    result.pictures.push_back(std::move(picture));
    return answer;
  };
  if (options.setup) options.setup(control);
  auto decoder = VideoDecoder::Create(options.bufferBytes, source, control, options.dsp);
  EXPECT_NE(decoder, nullptr);
  if (decoder == nullptr) return result;
  decoderPointer = decoder.get();
  for (int steps = 0; control.decodeRunning && steps < options.maxSteps; ++steps) {
    decoder->DecodeStep(0);
    if (result.width == 0 && decoder->sequence().horizontalSize != 0) {
      result.width = static_cast<int>(decoder->sequence().horizontalSize);
      result.height = static_cast<int>(decoder->sequence().verticalSize);
      result.pictureRateCode = decoder->sequence().pictureRateCode;
    }
  }
  EXPECT_FALSE(control.decodeRunning) << "the decoder did not stop";
  result.status = control.decodeStatus;
  return result;
}

std::vector<std::uint8_t> EncodeWithFfmpeg(const std::string& path, const std::string& source,
                                           const std::string& codecOptions) {
  Ffmpeg(source + " -an -c:v mpeg1video " + codecOptions + " -f mpeg1video " +
         calvex::testing::ShellQuote(path));
  return ReadFileBytes(path);
}

std::vector<Picture> DecodeWithFfmpeg(const std::string& path, int width, int height) {
  const std::string raw = path + ".yuv";
  Ffmpeg("-i " + calvex::testing::ShellQuote(path) +
         " -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " + calvex::testing::ShellQuote(raw));
  const auto bytes = ReadFileBytes(raw);
  const std::size_t cw = (width + 1) / 2, ch = (height + 1) / 2;
  const std::size_t lumaSize = static_cast<std::size_t>(width) * height, chromaSize = cw * ch;
  const std::size_t frameSize = lumaSize + 2 * chromaSize;
  std::vector<Picture> pictures;
  for (std::size_t at = 0; at + frameSize <= bytes.size(); at += frameSize) {
    Picture p;
    const auto* b = bytes.data() + at;
    p.y.assign(b, b + lumaSize);
    p.cb.assign(b + lumaSize, b + lumaSize + chromaSize);
    p.cr.assign(b + lumaSize + chromaSize, b + frameSize);
    pictures.push_back(std::move(p));
  }
  return pictures;
}

double PicturePsnr(const Picture& a, const Picture& b) {
  return std::min({Psnr(a.y, b.y), Psnr(a.cb, b.cb), Psnr(a.cr, b.cr)});
}

double ExpectMatchesFfmpeg(const std::string& path, double minimumPsnr) {
  const auto ours = DecodeStream(ReadFileBytes(path));
  EXPECT_TRUE(IsSuccess(ours.status)) << "status " << ours.status;
  const auto theirs = DecodeWithFfmpeg(path, ours.width, ours.height);
  EXPECT_EQ(ours.pictures.size(), theirs.size());
  EXPECT_FALSE(theirs.empty());
  double lowest = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < std::min(ours.pictures.size(), theirs.size()); ++i) {
    const double psnr = PicturePsnr(ours.pictures[i], theirs[i]);
    lowest = std::min(lowest, psnr);
    EXPECT_GE(psnr, minimumPsnr) << "picture " << i << " of " << path;
  }
  std::printf("%zu pictures, lowest PSNR %.2f dB\n", ours.pictures.size(), lowest);
  return lowest;
}

}  // namespace calvex::video_decoder::testing

namespace calvex::video_decoder::testing {

std::vector<std::size_t> FindStartCodes(const std::vector<std::uint8_t>& stream, int code) {
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i + 3 < stream.size(); ++i) {
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 &&
        (code < 0 || stream[i + 3] == code)) {
      at.push_back(i);
    }
  }
  return at;
}

const SampleStream& Sample() {
  static const SampleStream sample = [] {
    SampleStream s;
    calvex::testing::TempDir dir;
    const std::string path = dir.File("sample.m1v");
    s.bytes = EncodeWithFfmpeg(path, "-f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 25",
                               "-g 6 -bf 2 -qscale:v 5 -flags +cgop -sc_threshold 1000000000");
    // ffmpeg's elementary stream writer leaves out the sequence end code.
    s.bytes.insert(s.bytes.end(), {0, 0, 1, 0xB7});
    s.width = 176;
    s.height = 144;
    s.reference = DecodeWithFfmpeg(path, s.width, s.height);
    return s;
  }();
  return sample;
}

}  // namespace calvex::video_decoder::testing
