// One decoded picture: its 4:2:0 planes, the 24-bit bitmap it is converted into when shown, and
// what the display ordering needs to know about it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace calvex::video_decoder {

inline constexpr std::uint32_t kLockPast = 2;
inline constexpr std::uint32_t kLockFuture = 4;

struct PictureBuffer {
  std::vector<std::uint8_t> planes;  // luma, then Cb, then Cr
  std::uint8_t* luma = nullptr;      // lumaStride x (macroblock rows x 16)
  std::uint8_t* cb = nullptr;        // chromaStride x (macroblock rows x 8)
  std::uint8_t* cr = nullptr;
  std::vector<std::uint8_t> bitmap;  // bottom-up BGR, allocated when first shown
  bool bitmapCurrent = false;        // the bitmap shows the planes as they are

  std::uint32_t lockFlags = 0;  // kLockPast, kLockFuture; 0 = free
  std::uint32_t frameTag = 0;   // the caller's tag of the decode step that read the header
  std::int32_t frameNumber = 0;
  std::int32_t pictureType = 0;  // 1 I, 2 P, 3 B
};

}  // namespace calvex::video_decoder
