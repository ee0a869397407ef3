// Conversion of decoded pictures into the 24-bit bottom-up bitmaps the encoder reads, and of such
// bitmaps into the pixel formats of the AVI output codecs. Internal to the media layer.
//
// Scaling uses swscale's bicubic filter with accurate rounding, full chroma interpolation and its
// bit-exact mode: a sharp, ringing-free scaler whose output does not depend on the CPU, so the
// same AVI always yields the same MPEG bytes.
//
// A YUV picture whose chroma is at most half the width of its luma and that keeps its size needs
// no filtering: it goes through the point sampler with accurate rounding in bit-exact mode, about
// six times cheaper and just as independent of the CPU. Each chroma sample then covers its pixels
// as in the source, which is also what the encoder's own 4:2:0 subsampling gets back best. The
// common planar 8-bit ones of even size take the converter's own path (yuv_to_bgr.h), which
// writes the same bytes several times faster.
#pragma once

#include <cstdint>
#include <optional>

#include "media_library/ffmpeg_support.h"
#include "media_library/yuv_to_bgr.h"

namespace calvex::media::detail {

// The largest picture side the layer converts (its bitmaps stay well within 32-bit sizes).
inline constexpr int kMaxPictureSide = 16384;

inline constexpr int kScalerFlags =
    SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;

// Same-size YUV with subsampled chroma. Without accurate rounding swscale takes its SIMD
// YUV-to-RGB converters, whose bytes differ from its C code's.
inline constexpr int kSameSizeYuvFlags = SWS_POINT | SWS_ACCURATE_RND | SWS_BITEXACT;

class PictureConverter {
 public:
  // Converts `frame` into `bits`: width x height pixels, blue-green-red, rows padded to 4 bytes,
  // the last row of memory being the top of the picture. False when swscale refuses the format.
  bool ToBottomUpBgr(const AVFrame& frame, int width, int height, std::uint8_t* bits);

  // Converts a 24-bit bottom-up bitmap of sourceWidth x sourceHeight into `out`, whose format,
  // width and height are set and whose buffers are allocated. False on failure.
  bool FromBottomUpBgr(const std::uint8_t* bits, int sourceWidth, int sourceHeight, AVFrame& out);

 private:
  // What context_ was set up for by ToBottomUpBgr.
  struct Shape {
    int sourceWidth, sourceHeight, sourceFormat, width, height, space;
    bool fullRange;
    bool operator==(const Shape&) const = default;
  };
  SwsPtr context_;
  std::optional<Shape> shape_;
  // The own path's lookup for the shape, when it takes the pictures.
  std::optional<YuvToBgrTables> own_;
};

}  // namespace calvex::media::detail
