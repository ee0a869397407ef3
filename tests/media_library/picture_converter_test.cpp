// Decoded pictures into 24-bit bottom-up bitmaps: the same bytes whatever the CPU, and the colours
// of the source.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "media_library/picture_converter.h"

namespace calvex::media::detail {
namespace {

// A picture of `format` holding a smooth gradient with a little pseudo-random texture, so that
// every filter tap and rounding step sees varied values.
FramePtr MakePicture(AVPixelFormat format, int width, int height,
                     AVColorSpace space = AVCOL_SPC_UNSPECIFIED) {
  FramePtr frame = MakeFrame();
  frame->format = format;
  frame->width = width;
  frame->height = height;
  frame->colorspace = space;
  EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  std::uint32_t seed = 12345;
  for (int p = 0; p < 4 && frame->data[p] != nullptr; ++p) {
    const bool chroma = p == 1 || p == 2;
    const int rows = chroma ? AV_CEIL_RSHIFT(height, d->log2_chroma_h) : height;
    const int depth = d->comp[0].depth, sampleBytes = depth > 8 ? 2 : 1;
    const int samples = av_image_get_linesize(format, width, p) / sampleBytes;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < samples; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int value =
            std::clamp((x * 3 + y * 5 + p * 60) % 256 + static_cast<int>(seed >> 29) - 4, 0, 255);
        std::uint8_t* at = frame->data[p] + y * frame->linesize[p] + x * sampleBytes;
        if (sampleBytes == 1) {
          *at = static_cast<std::uint8_t>(value);
        } else {  // little-endian samples of `depth` bits
          const int wide = value << (depth - 8);
          at[0] = static_cast<std::uint8_t>(wide & 0xFF);
          at[1] = static_cast<std::uint8_t>(wide >> 8);
        }
      }
  }
  return frame;
}

std::vector<std::uint8_t> Convert(const AVFrame& frame, int width, int height) {
  std::vector<std::uint8_t> bits(static_cast<std::size_t>(BitmapStride(width, 24)) * height, 0xCD);
  PictureConverter converter;
  EXPECT_TRUE(converter.ToBottomUpBgr(frame, width, height, bits.data()));
  return bits;
}

// The C code of swscale against whatever its SIMD code the machine takes.
std::vector<std::uint8_t> ConvertWithoutSimd(const AVFrame& frame, int width, int height) {
  av_force_cpu_flags(0);
  auto bits = Convert(frame, width, height);
  av_force_cpu_flags(-1);
  return bits;
}

struct Case {
  AVPixelFormat format;
  int width, height, outWidth, outHeight;
  AVColorSpace space;
};

TEST(PictureConverter, SameBytesWithAndWithoutSimd) {
  const Case cases[] = {
      {AV_PIX_FMT_YUVJ420P, 352, 240, 352, 240, AVCOL_SPC_UNSPECIFIED},
      {AV_PIX_FMT_YUVJ420P, 37, 23, 37, 23, AVCOL_SPC_UNSPECIFIED},
      {AV_PIX_FMT_YUVJ422P, 176, 120, 176, 120, AVCOL_SPC_UNSPECIFIED},
      {AV_PIX_FMT_YUV420P, 160, 96, 160, 96, AVCOL_SPC_BT709},
      {AV_PIX_FMT_YUV411P, 64, 48, 64, 48, AVCOL_SPC_UNSPECIFIED},
      {AV_PIX_FMT_YUYV422, 98, 50, 98, 50, AVCOL_SPC_UNSPECIFIED},
      {AV_PIX_FMT_NV12, 128, 72, 128, 72, AVCOL_SPC_UNSPECIFIED},
      {AV_PIX_FMT_YUV420P10LE, 96, 64, 96, 64, AVCOL_SPC_UNSPECIFIED},
      {AV_PIX_FMT_YUVJ444P, 80, 60, 80, 60, AVCOL_SPC_UNSPECIFIED},
      {AV_PIX_FMT_YUVJ420P, 352, 240, 176, 120, AVCOL_SPC_UNSPECIFIED},
      {AV_PIX_FMT_YUV420P, 100, 60, 161, 97, AVCOL_SPC_UNSPECIFIED},
  };
  for (const Case& c : cases) {
    const FramePtr frame = MakePicture(c.format, c.width, c.height, c.space);
    EXPECT_EQ(Convert(*frame, c.outWidth, c.outHeight),
              ConvertWithoutSimd(*frame, c.outWidth, c.outHeight))
        << av_get_pix_fmt_name(c.format) << " " << c.width << "x" << c.height << " to "
        << c.outWidth << "x" << c.outHeight;
  }
}

// Full-range BT.601 worked out in floating point, each pixel taking the chroma sample that covers
// it; the bitmap is bottom-up with zeroed row padding. (At odd widths swscale spreads the chroma
// samples over the width, so the even width here keeps them on their pixel pairs.)
TEST(PictureConverter, SameSizeFullRangeMatchesBt601) {
  const int width = 38, height = 22, stride = BitmapStride(width, 24);
  const FramePtr frame = MakePicture(AV_PIX_FMT_YUVJ420P, width, height);
  const auto bits = Convert(*frame, width, height);
  int worst = 0;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = bits.data() + static_cast<std::ptrdiff_t>(height - 1 - y) * stride;
    for (int x = 0; x < width; ++x) {
      const double luma = frame->data[0][y * frame->linesize[0] + x];
      const double cb = frame->data[1][(y / 2) * frame->linesize[1] + x / 2] - 128.0;
      const double cr = frame->data[2][(y / 2) * frame->linesize[2] + x / 2] - 128.0;
      const double bgr[3] = {luma + 1.772 * cb, luma - 0.344136 * cb - 0.714136 * cr,
                             luma + 1.402 * cr};
      for (int k = 0; k < 3; ++k) {
        const int expected = static_cast<int>(std::lround(std::clamp(bgr[k], 0.0, 255.0)));
        worst = std::max(worst, std::abs(row[x * 3 + k] - expected));
      }
    }
    for (int x = width * 3; x < stride; ++x) EXPECT_EQ(row[x], 0) << "padding of row " << y;
  }
  EXPECT_LE(worst, 2);
}

}  // namespace
}  // namespace calvex::media::detail
