// SSE2 prediction kernels: pavgb gives (a + b + 1) >> 1 exactly; the four-sample average is
// summed in 16 bits.
#include <emmintrin.h>

#include "video_decoder/motion_compensation.h"

namespace calvex::video_decoder {

namespace {

template <int kWidth>
inline __m128i Load(const std::uint8_t* p) {
  if constexpr (kWidth == 16) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  } else {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  }
}

template <int kWidth>
inline void Store(std::uint8_t* p, __m128i v) {
  if constexpr (kWidth == 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  } else {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
  }
}

// (a + b + c + d + 2) >> 2 for 8 samples held as 16-bit lanes of two rows' pair sums.
inline __m128i Average4(__m128i sumTop, __m128i sumBottom) {
  return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(sumTop, sumBottom), _mm_set1_epi16(2)), 2);
}

template <int kWidth, int kHalfX, int kHalfY, bool kAverage>
void PredictSse2(std::uint8_t* dst, std::ptrdiff_t dstStride, const std::uint8_t* ref,
                 std::ptrdiff_t refStride, int height) {
  const __m128i zero = _mm_setzero_si128();
  if constexpr (kHalfX && kHalfY) {
    // Pair sums of the row above are kept for the next row.
    auto pairSums = [&](const std::uint8_t* row, __m128i& lo, __m128i& hi) {
      const __m128i a = Load<kWidth>(row), b = Load<kWidth>(row + 1);
      lo = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
      hi = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
    };
    __m128i topLo, topHi;
    pairSums(ref, topLo, topHi);
    for (int row = 0; row < height; ++row) {
      __m128i botLo, botHi;
      pairSums(ref + (row + 1) * refStride, botLo, botHi);
      __m128i p = _mm_packus_epi16(Average4(topLo, botLo), Average4(topHi, botHi));
      std::uint8_t* d = dst + row * dstStride;
      if constexpr (kAverage) p = _mm_avg_epu8(p, Load<kWidth>(d));
      Store<kWidth>(d, p);
      topLo = botLo;
      topHi = botHi;
    }
  } else {
    for (int row = 0; row < height; ++row) {
      const std::uint8_t* a = ref + row * refStride;
      __m128i p = Load<kWidth>(a);
      if constexpr (kHalfX) p = _mm_avg_epu8(p, Load<kWidth>(a + 1));
      if constexpr (kHalfY) p = _mm_avg_epu8(p, Load<kWidth>(a + refStride));
      std::uint8_t* d = dst + row * dstStride;
      if constexpr (kAverage) p = _mm_avg_epu8(p, Load<kWidth>(d));
      Store<kWidth>(d, p);
    }
  }
}

}  // namespace

const PredictFn kPredictSse2[2][2][4] = {
    {{PredictSse2<16, 0, 0, false>, PredictSse2<16, 1, 0, false>, PredictSse2<16, 0, 1, false>,
      PredictSse2<16, 1, 1, false>},
     {PredictSse2<8, 0, 0, false>, PredictSse2<8, 1, 0, false>, PredictSse2<8, 0, 1, false>,
      PredictSse2<8, 1, 1, false>}},
    {{PredictSse2<16, 0, 0, true>, PredictSse2<16, 1, 0, true>, PredictSse2<16, 0, 1, true>,
      PredictSse2<16, 1, 1, true>},
     {PredictSse2<8, 0, 0, true>, PredictSse2<8, 1, 0, true>, PredictSse2<8, 0, 1, true>,
      PredictSse2<8, 1, 1, true>}},
};

}  // namespace calvex::video_decoder
