#include "video_decoder/motion_compensation.h"

#include <algorithm>
#include <cstring>

#include "video_decoder/idct.h"

namespace calvex::video_decoder {

namespace {

inline std::uint8_t Clamp255(int v) {
  return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

template <int kWidth, int kHalfX, int kHalfY, bool kAverage>
void PredictPlain(std::uint8_t* dst, std::ptrdiff_t dstStride, const std::uint8_t* ref,
                  std::ptrdiff_t refStride, int height) {
  for (int row = 0; row < height; ++row) {
    const std::uint8_t* a = ref + row * refStride;
    const std::uint8_t* b = a + refStride;
    std::uint8_t* d = dst + row * dstStride;
    for (int x = 0; x < kWidth; ++x) {
      int p;
      if constexpr (kHalfX && kHalfY) {
        p = (a[x] + a[x + 1] + b[x] + b[x + 1] + 2) >> 2;
      } else if constexpr (kHalfX) {
        p = (a[x] + a[x + 1] + 1) >> 1;
      } else if constexpr (kHalfY) {
        p = (a[x] + b[x] + 1) >> 1;
      } else {
        p = a[x];
      }
      d[x] = static_cast<std::uint8_t>(kAverage ? (d[x] + p + 1) >> 1 : p);
    }
  }
}

}  // namespace

const PredictFn kPredictReference[2][2][4] = {
    {{PredictPlain<16, 0, 0, false>, PredictPlain<16, 1, 0, false>, PredictPlain<16, 0, 1, false>,
      PredictPlain<16, 1, 1, false>},
     {PredictPlain<8, 0, 0, false>, PredictPlain<8, 1, 0, false>, PredictPlain<8, 0, 1, false>,
      PredictPlain<8, 1, 1, false>}},
    {{PredictPlain<16, 0, 0, true>, PredictPlain<16, 1, 0, true>, PredictPlain<16, 0, 1, true>,
      PredictPlain<16, 1, 1, true>},
     {PredictPlain<8, 0, 0, true>, PredictPlain<8, 1, 0, true>, PredictPlain<8, 0, 1, true>,
      PredictPlain<8, 1, 1, true>}},
};

void IdctPutReference(std::int16_t* block, std::uint8_t* dst, std::ptrdiff_t stride) {
  InverseDctReference(block);
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c) dst[r * stride + c] = Clamp255(block[r * 8 + c]);
  }
  std::memset(block, 0, 64 * sizeof(std::int16_t));
}

void IdctAddReference(std::int16_t* block, std::uint8_t* dst, std::ptrdiff_t stride) {
  InverseDctReference(block);
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c) {
      dst[r * stride + c] = Clamp255(dst[r * stride + c] + block[r * 8 + c]);
    }
  }
  std::memset(block, 0, 64 * sizeof(std::int16_t));
}

void SinglePutReference(int position, int value, std::uint8_t* dst, std::ptrdiff_t stride) {
  for (int k = 0; k < 64; ++k) {
    dst[(k >> 3) * stride + (k & 7)] = Clamp255(SingleCoefficientSample(position, value, k));
  }
}

void SingleAddReference(int position, int value, std::uint8_t* dst, std::ptrdiff_t stride) {
  for (int k = 0; k < 64; ++k) {
    std::uint8_t& d = dst[(k >> 3) * stride + (k & 7)];
    d = Clamp255(d + SingleCoefficientSample(position, value, k));
  }
}

}  // namespace calvex::video_decoder
