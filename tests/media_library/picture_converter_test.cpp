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
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/bitmap.h"
#include "media_library/picture_converter.h"
#include "media_library/yuv_to_bgr.h"

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

// swscale's point sampler as the converter set it up before it had its own YUV path.
std::vector<std::uint8_t> SwscaleBgr(const AVFrame& frame) {
  const int width = frame.width, height = frame.height, stride = BitmapStride(width, 24);
  std::vector<std::uint8_t> bits(static_cast<std::size_t>(stride) * height, 0);
  // The full-range formats as their plain twins with the range given (as swscale keeps them).
  const bool full = frame.format == AV_PIX_FMT_YUVJ420P || frame.format == AV_PIX_FMT_YUVJ422P ||
                    frame.color_range == AVCOL_RANGE_JPEG;
  const AVPixelFormat format = frame.format == AV_PIX_FMT_YUVJ420P   ? AV_PIX_FMT_YUV420P
                               : frame.format == AV_PIX_FMT_YUVJ422P ? AV_PIX_FMT_YUV422P
                                                                     : AVPixelFormat(frame.format);
  SwsPtr c(sws_getContext(width, height, format, width, height, AV_PIX_FMT_BGR24, kSameSizeYuvFlags,
                          nullptr, nullptr, nullptr));
  const int* table = sws_getCoefficients(
      frame.colorspace != AVCOL_SPC_UNSPECIFIED ? frame.colorspace : SWS_CS_DEFAULT);
  sws_setColorspaceDetails(c.get(), table, full ? 1 : 0, table, 1, 0, 1 << 16, 1 << 16);
  std::uint8_t* const planes[4] = {bits.data() + static_cast<std::ptrdiff_t>(height - 1) * stride};
  const int strides[4] = {-stride};
  EXPECT_EQ(sws_scale(c.get(), frame.data, frame.linesize, 0, height, planes, strides), height);
  return bits;
}

// The own path for same-size planar YUV writes what swscale writes, for every subsampling it
// takes, both ranges and the matrices a picture can be tagged with, on textured and on random
// samples (chroma extremes, clipping), at widths with and without a tail for the vector rows.
TEST(PictureConverter, OwnYuvPathWritesSwscalesBytes) {
  const AVPixelFormat formats[] = {AV_PIX_FMT_YUV420P,  AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV422P,
                                   AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV411P,  AV_PIX_FMT_YUV410P};
  const AVColorSpace spaces[] = {AVCOL_SPC_UNSPECIFIED, AVCOL_SPC_BT709, AVCOL_SPC_FCC,
                                 AVCOL_SPC_SMPTE240M};
  std::uint32_t seed = 99;
  for (const AVPixelFormat format : formats)
    for (const AVColorSpace space : spaces)
      for (const auto& [width, height] : {std::pair{352, 240}, std::pair{36, 10}}) {
        for (const bool random : {false, true}) {
          FramePtr frame = MakePicture(format, width, height, space);
          const int chromaRows = AV_CEIL_RSHIFT(height, av_pix_fmt_desc_get(format)->log2_chroma_h);
          if (random)
            for (int p = 0; p < 3; ++p)
              for (int i = 0; i < frame->linesize[p] * (p == 0 ? height : chromaRows); ++i) {
                seed = seed * 1664525u + 1013904223u;
                frame->data[p][i] = static_cast<std::uint8_t>(seed >> 24);
              }
          EXPECT_EQ(Convert(*frame, width, height), SwscaleBgr(*frame))
              << av_get_pix_fmt_name(format) << " space " << space << " " << width << "x" << height
              << (random ? " random" : "");
        }
      }
}

// The vector rows against the plain ones, on random samples for every matrix and range.
TEST(PictureConverter, VectorYuvRowsEqualPlainOnes) {
  std::vector<std::pair<const char*, YuvRowToBgrFn>> sets;
  for (const auto& [name, row] :
       {std::pair{"avx2", YuvRowToBgrAvx2()}, {"avx512", YuvRowToBgrAvx512()}})
    if (row != nullptr)
      sets.emplace_back(name, row);
    else
      std::printf("no %s on this CPU\n", name);
  if (sets.empty()) GTEST_SKIP() << "no vector rows";
  std::uint32_t seed = 7;
  const auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(seed >> 24);
  };
  for (const int space : {SWS_CS_ITU601, SWS_CS_ITU709, SWS_CS_FCC, SWS_CS_SMPTE240M})
    for (const bool full : {false, true}) {
      const YuvToBgrTables t = YuvToBgrTables::For(sws_getCoefficients(space), full);
      for (const int width : {16, 38, 54, 130, 352}) {
        std::vector<std::uint8_t> y(static_cast<std::size_t>(width)), cb(y.size() / 2),
            cr(y.size() / 2);
        for (auto* plane : {&y, &cb, &cr})
          for (auto& v : *plane) v = next();
        std::vector<std::uint8_t> plain(3 * y.size()), vector(3 * y.size());
        YuvRowToBgrPlain(t, y.data(), cb.data(), cr.data(), width, 1, plain.data());
        for (const auto& [name, row] : sets) {
          row(t, y.data(), cb.data(), cr.data(), width, vector.data());
          EXPECT_EQ(vector, plain)
              << name << " space " << space << (full ? " full" : "") << " " << width;
        }
      }
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
