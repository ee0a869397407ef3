// Raw top-down bgr24 frames held in memory (as `ffmpeg -pix_fmt bgr24 -f rawvideo` writes them),
// handed to the video encoder as bottom-up bitmaps. Shared by the video encoder's benchmarks.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/bitmap.h"
#include "video_encoder/video_encoder.h"

namespace calvex::bench {

class RawPictureSource : public video::PictureSource {
 public:
  RawPictureSource(int w, int h, const std::vector<std::uint8_t>& raw) : w_(w), h_(h), raw_(raw) {}
  Status FetchPicture(int n, std::uint8_t* bitmap) override {
    const std::size_t frame = static_cast<std::size_t>(w_) * h_ * 3;
    if (static_cast<std::size_t>(n + 1) * frame > raw_.size()) return 1001;
    const int stride = BitmapStride(w_, 24);
    for (int y = 0; y < h_; ++y)
      std::memcpy(
          bitmap + static_cast<std::size_t>(h_ - 1 - y) * stride,
          raw_.data() + frame * static_cast<std::size_t>(n) + static_cast<std::size_t>(y) * w_ * 3,
          static_cast<std::size_t>(w_) * 3);
    return 0;
  }

 private:
  int w_, h_;
  const std::vector<std::uint8_t>& raw_;
};

}  // namespace calvex::bench
