// Source frames into the encoder's planes: RGB to Y, Cb, Cr (ITU-R BT.601, studio range), border
// extension to whole macroblocks and 4:2:0 chroma down-sampling with fixed 12-tap filters.
#pragma once

#include <cstdint>

#include "video_encoder/kernels.h"
#include "video_encoder/picture.h"

namespace calvex::video {

class ColourConverter {
 public:
  ColourConverter(const Kernels& kernels, const PictureGeometry& geometry);

  // Converts a 24-bit bottom-up bitmap of width x height (rows padded to 4 bytes) into `dst`.
  void Convert(const std::uint8_t* bitmap, PictureBuffer& dst);

 private:
  const Kernels& k_;
  PictureGeometry g_;
  Plane cbFull_, crFull_;  // width16 x height16
  Plane cbHalf_, crHalf_;  // width16 / 2 x height16
};

// Repeats the last real column into the padding columns of the first `height` rows, then the
// last real row into the padding rows.
void ExtendBorders(Plane& p, int width, int height);

}  // namespace calvex::video
