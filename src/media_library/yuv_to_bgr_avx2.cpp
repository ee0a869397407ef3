// The YUV to BGR row with AVX2: sixteen pixels (eight chroma pairs) per step, each component
// worked out in 32-bit lanes exactly as the plain version's lookup does.
#include <immintrin.h>

#include <array>

#include "media_library/yuv_to_bgr.h"

namespace calvex::media::detail {
namespace {

// Shuffles that put sixteen blue, green or red bytes at their places in the three 16-byte blocks
// of sixteen BGR pixels: mask[c][o][j] is the pixel whose component c lands at byte j of block o.
struct InterleaveMasks {
  std::array<std::array<std::array<std::uint8_t, 16>, 3>, 3> mask{};
  constexpr InterleaveMasks() {
    for (int c = 0; c < 3; ++c)
      for (int o = 0; o < 3; ++o)
        for (int j = 0; j < 16; ++j) {
          const int k = 16 * o + j;
          mask[c][o][j] = static_cast<std::uint8_t>(k % 3 == c ? k / 3 : 0x80);
        }
  }
};
constexpr InterleaveMasks kMasks;

__m128i Mask(int c, int o) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kMasks.mask[c][o].data()));
}

// Offsets of eight chroma values (32-bit lanes) for `step`, doubled into sixteen 16-bit lanes,
// one per pixel of the pairs.
__m256i PairOffsets(__m256i chroma, std::int32_t step) {
  const __m256i off =
      _mm256_sub_epi32(_mm256_srai_epi32(_mm256_mullo_epi32(chroma, _mm256_set1_epi32(step)), 16),
                       _mm256_set1_epi32(step >> 9));
  const __m256i packed = _mm256_packs_epi32(off, off);
  return _mm256_unpacklo_epi16(packed, packed);
}

// clip((index x cy + bias) >> 16) of sixteen 16-bit indices, as sixteen bytes in order.
__m128i Values(__m256i index, __m256i scale, __m256i bias) {
  const __m256i lo = _mm256_cvtepi16_epi32(_mm256_castsi256_si128(index));
  const __m256i hi = _mm256_cvtepi16_epi32(_mm256_extracti128_si256(index, 1));
  const __m256i vlo = _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(lo, scale), bias), 16);
  const __m256i vhi = _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(hi, scale), bias), 16);
  const __m256i words = _mm256_permute4x64_epi64(_mm256_packs_epi32(vlo, vhi), 0xD8);
  return _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
}

void RowAvx2(const YuvToBgrTables& t, const std::uint8_t* y, const std::uint8_t* cb,
             const std::uint8_t* cr, int width, std::uint8_t* bgr) {
  const __m256i scale = _mm256_set1_epi32(t.lumaScale);
  const __m256i bias = _mm256_set1_epi32(t.bias);
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m256i u =
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + x / 2)));
    const __m256i v =
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + x / 2)));
    const __m256i luma =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x)));
    const __m256i red = _mm256_add_epi16(luma, PairOffsets(v, t.steps[0]));
    const __m256i blue = _mm256_add_epi16(luma, PairOffsets(u, t.steps[1]));
    const __m256i green = _mm256_add_epi16(
        luma, _mm256_add_epi16(PairOffsets(u, t.steps[2]), PairOffsets(v, t.steps[3])));
    const __m128i channels[3] = {Values(blue, scale, bias), Values(green, scale, bias),
                                 Values(red, scale, bias)};
    for (int o = 0; o < 3; ++o) {
      const __m128i block = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(channels[0], Mask(0, o)),
                                                      _mm_shuffle_epi8(channels[1], Mask(1, o))),
                                         _mm_shuffle_epi8(channels[2], Mask(2, o)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 3 * x + 16 * o), block);
    }
  }
  if (x < width) YuvRowToBgrPlain(t, y + x, cb + x / 2, cr + x / 2, width - x, 1, bgr + 3 * x);
}

}  // namespace

YuvRowToBgrFn YuvRowToBgrAvx2() {
  return __builtin_cpu_supports("avx2") ? RowAvx2 : nullptr;
}

}  // namespace calvex::media::detail
