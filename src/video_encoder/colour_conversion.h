// Source frames into the encoder's planes: RGB to Y, Cb, Cr (ITU-R BT.601, studio range), border
// extension to whole macroblocks and 4:2:0 chroma down-sampling with fixed 12-tap filters.
#pragma once

#include <cstdint>
#include <vector>

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
  std::vector<std::uint8_t> cbLine_, crLine_;  // one full-resolution line with padding
  Plane cbHalf_, crHalf_;                      // width16 / 2 x height, filtered along the rows
};

}  // namespace calvex::video
