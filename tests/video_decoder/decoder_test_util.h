// Helpers of the video decoder tests: making streams with the peer encoders, decoding them with
// our decoder and with ffmpeg, and comparing pictures.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/media_tools.h"
#include "support/test_support.h"
#include "video_decoder/decode_control.h"
#include "video_decoder/dsp.h"

namespace calvex::video_decoder::testing {

// One picture in display order, cropped to the picture size.
struct Picture {
  std::int32_t frameNumber = 0;
  std::int32_t pictureType = 0;
  std::vector<std::uint8_t> y, cb, cr;
  std::vector<std::uint8_t> bitmap;  // when asked for
};

struct DecodeResult {
  Status status = kOk;
  int width = 0, height = 0;
  int pictureRateCode = 0;
  std::vector<Picture> pictures;
};

struct DecodeOptions {
  DspLevel dsp = DspLevel::kBest;
  bool keepBitmaps = false;
  std::size_t bufferBytes = 20000;
  // Called before each picture is recorded; its result goes back to the decoder.
  std::function<int(const DecodedFrameInfo&)> callback;
  // Applied to the control before the run.
  std::function<void(DecodeControl&)> setup;
  int maxSteps = 10000000;
};

// Decodes a whole elementary stream as a conversion to the end would (normal play).
DecodeResult DecodeStream(const std::vector<std::uint8_t>& stream,
                          const DecodeOptions& options = {});

using calvex::testing::Ffmpeg;
using calvex::testing::Psnr;

// Encodes a test picture sequence with ffmpeg's mpeg1video into `path`.
std::vector<std::uint8_t> EncodeWithFfmpeg(const std::string& path, const std::string& source,
                                           const std::string& codecOptions);
// ffmpeg's decode of `path` as 4:2:0 pictures in display order.
std::vector<Picture> DecodeWithFfmpeg(const std::string& path, int width, int height);

// The lowest PSNR over the three planes.
double PicturePsnr(const Picture& a, const Picture& b);

// Checks that our decode of `stream` matches ffmpeg's decode of the file at `path` picture by
// picture (same count, PSNR >= minimumPsnr); returns the lowest PSNR seen.
double ExpectMatchesFfmpeg(const std::string& path, double minimumPsnr = 50.0);

}  // namespace calvex::video_decoder::testing

namespace calvex::video_decoder::testing {

// Byte offsets of every start code prefix 0x000001 whose code byte is `code` (-1: any code).
std::vector<std::size_t> FindStartCodes(const std::vector<std::uint8_t>& stream, int code = -1);

// A small ffmpeg stream made once per test program (QCIF, 25 pictures, closed groups of 6 with
// two B pictures) and ffmpeg's decode of it.
struct SampleStream {
  std::vector<std::uint8_t> bytes;
  std::vector<Picture> reference;
  int width = 0, height = 0;
};
const SampleStream& Sample();

}  // namespace calvex::video_decoder::testing
