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

// Sixteen chroma offsets (v x step >> 16) - (step >> 9) in 16-bit lanes: with step = hi x 65536
// + lo, 0 <= lo < 65536, the product's high half is v x hi + (v x lo >> 16), each exact in 16
// bits for v < 256 and the steps a matrix has (|hi| <= 2).
__m256i Offsets16(__m256i v, std::int32_t step) {
  const __m256i hi = _mm256_mullo_epi16(v, _mm256_set1_epi16(static_cast<short>(step >> 16)));
  const __m256i lo = _mm256_mulhi_epu16(v, _mm256_set1_epi16(static_cast<short>(step & 0xFFFF)));
  return _mm256_sub_epi16(_mm256_add_epi16(hi, lo),
                          _mm256_set1_epi16(static_cast<short>(step >> 9)));
}

// Thirty-two bytes of one component, in order, from its indices for pixels 0..15 and 16..31:
// with cy = 1 << 16 the lookup is clip(index + (bias >> 16)), all in 16 bits.
__m256i UnitValues(__m256i first, __m256i second, __m256i shift) {
  return _mm256_permute4x64_epi64(
      _mm256_packus_epi16(_mm256_add_epi16(first, shift), _mm256_add_epi16(second, shift)), 0xD8);
}

// Writes sixteen BGR pixels from their sixteen blue, green and red bytes.
inline void Interleave(__m128i blue, __m128i green, __m128i red, std::uint8_t* bgr) {
  for (int o = 0; o < 3; ++o) {
    const __m128i block = _mm_or_si128(
        _mm_or_si128(_mm_shuffle_epi8(blue, Mask(0, o)), _mm_shuffle_epi8(green, Mask(1, o))),
        _mm_shuffle_epi8(red, Mask(2, o)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 16 * o), block);
  }
}

// Full-range pictures (cy = 1 << 16): thirty-two pixels per step, in 16-bit lanes throughout.
int UnitScaleRows(const YuvToBgrTables& t, const std::uint8_t* y, const std::uint8_t* cb,
                  const std::uint8_t* cr, int width, std::uint8_t* bgr) {
  const __m256i shift = _mm256_set1_epi16(static_cast<short>(t.bias >> 16));
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i u =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + x / 2)));
    const __m256i v =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + x / 2)));
    // Quarters reordered (0, 2, 1, 3) so that the in-lane unpacks double them in pixel order.
    auto pairs = [](__m256i off, __m256i& first, __m256i& second) {
      off = _mm256_permute4x64_epi64(off, 0xD8);
      first = _mm256_unpacklo_epi16(off, off);
      second = _mm256_unpackhi_epi16(off, off);
    };
    __m256i r0, r1, b0, b1, g0, g1;
    pairs(Offsets16(v, t.steps[0]), r0, r1);
    pairs(Offsets16(u, t.steps[1]), b0, b1);
    pairs(_mm256_add_epi16(Offsets16(u, t.steps[2]), Offsets16(v, t.steps[3])), g0, g1);
    const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + x));
    const __m256i l0 = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(luma));
    const __m256i l1 = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(luma, 1));
    const __m256i blue = UnitValues(_mm256_add_epi16(l0, b0), _mm256_add_epi16(l1, b1), shift);
    const __m256i green = UnitValues(_mm256_add_epi16(l0, g0), _mm256_add_epi16(l1, g1), shift);
    const __m256i red = UnitValues(_mm256_add_epi16(l0, r0), _mm256_add_epi16(l1, r1), shift);
    Interleave(_mm256_castsi256_si128(blue), _mm256_castsi256_si128(green),
               _mm256_castsi256_si128(red), bgr + 3 * x);
    Interleave(_mm256_extracti128_si256(blue, 1), _mm256_extracti128_si256(green, 1),
               _mm256_extracti128_si256(red, 1), bgr + 3 * x + 48);
  }
  return x;
}

void RowAvx2(const YuvToBgrTables& t, const std::uint8_t* y, const std::uint8_t* cb,
             const std::uint8_t* cr, int width, std::uint8_t* bgr) {
  const __m256i scale = _mm256_set1_epi32(t.lumaScale);
  const __m256i bias = _mm256_set1_epi32(t.bias);
  int x = t.lumaScale == 1 << 16 ? UnitScaleRows(t, y, cb, cr, width, bgr) : 0;
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
    Interleave(Values(blue, scale, bias), Values(green, scale, bias), Values(red, scale, bias),
               bgr + 3 * x);
  }
  if (x < width) YuvRowToBgrPlain(t, y + x, cb + x / 2, cr + x / 2, width - x, 1, bgr + 3 * x);
}

}  // namespace

YuvRowToBgrFn YuvRowToBgrAvx2() {
  return __builtin_cpu_supports("avx2") ? RowAvx2 : nullptr;
}

}  // namespace calvex::media::detail
