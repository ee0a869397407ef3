#include "media_library/picture_converter.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "core/bitmap.h"

namespace calvex::media::detail {
namespace {

bool IsFullRangeYuv(const AVFrame& frame) {
  switch (frame.format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
      return true;
    default:
      return frame.color_range == AVCOL_RANGE_JPEG;
  }
}

bool IsYuv(int format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
  return d != nullptr && !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) &&
         d->nb_components >= 3;
}

// Full-width chroma would lose every other sample to the packed output's shared chroma without
// full interpolation, so only subsampled chroma takes the point sampler.
int ScalerFlags(const AVFrame& frame, int width, int height) {
  if (frame.width != width || frame.height != height || !IsYuv(frame.format)) return kScalerFlags;
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
  return d->log2_chroma_w >= 1 ? kSameSizeYuvFlags : kScalerFlags;
}

// The planes of a same-size planar 8-bit YUV picture the own path takes; nothing otherwise.
std::optional<YuvPlanes> OwnPathPlanes(const AVFrame& frame, int width, int height) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
  if (d == nullptr || frame.width != width || frame.height != height || !IsYuv(frame.format) ||
      d->nb_components != 3 || !(d->flags & AV_PIX_FMT_FLAG_PLANAR) ||
      !YuvToBgrTakes(width, height, d->log2_chroma_w, d->log2_chroma_h))
    return std::nullopt;
  for (int c = 0; c < 3; ++c)
    if (d->comp[c].plane != c || d->comp[c].depth != 8 || d->comp[c].step != 1 ||
        d->comp[c].shift != 0 || d->comp[c].offset != 0)
      return std::nullopt;
  YuvPlanes in;
  in.y = frame.data[0];
  in.cb = frame.data[1];
  in.cr = frame.data[2];
  in.yStride = frame.linesize[0];
  in.cbStride = frame.linesize[1];
  in.crStride = frame.linesize[2];
  in.chromaShiftX = d->log2_chroma_w;
  in.chromaShiftY = d->log2_chroma_h;
  return in;
}

}  // namespace

bool PictureConverter::ToBottomUpBgr(const AVFrame& frame, int width, int height,
                                     std::uint8_t* bits) {
  // Pictures tagged with their matrix (BT.709 for HD material) are converted with it; untagged
  // ones with BT.601, as ffmpeg does.
  const bool yuv = IsYuv(frame.format);
  const Shape shape{
      frame.width,
      frame.height,
      frame.format,
      width,
      height,
      yuv && frame.colorspace != AVCOL_SPC_UNSPECIFIED ? frame.colorspace : SWS_CS_DEFAULT,
      yuv && IsFullRangeYuv(frame)};
  // swscale keeps full-range formats as their plain twins, so its own cache never matches them
  // and would build the context again for every picture; this one matches on what was asked.
  const std::optional<YuvPlanes> own = OwnPathPlanes(frame, width, height);
  if (own) {
    if (!own_ || !(shape_ == shape)) {
      context_.reset();
      own_ = YuvToBgrTables::For(sws_getCoefficients(shape.space), shape.fullRange);
      shape_ = shape;
    }
    YuvToBottomUpBgr(*own_, *own, width, height, bits);
    return true;
  }
  if (!context_ || !(shape_ == shape)) {
    shape_.reset();
    own_.reset();
    SwsContext* c = sws_getCachedContext(context_.release(), frame.width, frame.height,
                                         static_cast<AVPixelFormat>(frame.format), width, height,
                                         AV_PIX_FMT_BGR24, ScalerFlags(frame, width, height),
                                         nullptr, nullptr, nullptr);
    context_.reset(c);
    if (c == nullptr) return false;
    if (yuv) {
      const int* table = sws_getCoefficients(shape.space);
      sws_setColorspaceDetails(c, table, shape.fullRange ? 1 : 0, table, 1, 0, 1 << 16, 1 << 16);
    }
    shape_ = shape;
  }
  SwsContext* c = context_.get();
  const int stride = BitmapStride(width, 24);
  std::uint8_t* top = bits + static_cast<std::ptrdiff_t>(height - 1) * stride;
  std::uint8_t* const planes[4] = {top, nullptr, nullptr, nullptr};
  const int strides[4] = {-stride, 0, 0, 0};
  // Row padding bytes are not written by swscale; keep them zero so equal pictures give equal
  // buffers.
  if (stride != width * 3)
    for (int y = 0; y < height; ++y)
      for (int x = width * 3; x < stride; ++x)
        bits[static_cast<std::ptrdiff_t>(y) * stride + x] = 0;
  return sws_scale(c, frame.data, frame.linesize, 0, frame.height, planes, strides) == height;
}

bool PictureConverter::FromBottomUpBgr(const std::uint8_t* bits, int sourceWidth, int sourceHeight,
                                       AVFrame& out) {
  shape_.reset();
  own_.reset();
  SwsContext* c = sws_getCachedContext(
      context_.release(), sourceWidth, sourceHeight, AV_PIX_FMT_BGR24, out.width, out.height,
      static_cast<AVPixelFormat>(out.format), kScalerFlags, nullptr, nullptr, nullptr);
  context_.reset(c);
  if (c == nullptr) return false;
  const int stride = BitmapStride(sourceWidth, 24);
  const std::uint8_t* const planes[4] = {
      bits + static_cast<std::ptrdiff_t>(sourceHeight - 1) * stride, nullptr, nullptr, nullptr};
  const int strides[4] = {-stride, 0, 0, 0};
  return sws_scale(c, planes, strides, 0, sourceHeight, out.data, out.linesize) == out.height;
}

}  // namespace calvex::media::detail
