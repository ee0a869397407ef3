// AVX2 colour conversion: 16 pixels per row and step in 256-bit registers, packed to BGR with
// byte shuffles. Same arithmetic as the table version (colour_conversion.h).
#include <immintrin.h>

#include "video_decoder/colour_conversion.h"

namespace calvex::video_decoder {

namespace {

inline __m256i PairConstant(int low, int high) {
  return _mm256_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(high) << 16) |
                                            (static_cast<std::uint32_t>(low) & 0xFFFF)));
}

inline __m256i Finish(__m256i sum0, __m256i sum1) {
  const __m256i round = _mm256_set1_epi32(128);
  return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(sum0, round), 8),
                            _mm256_srai_epi32(_mm256_add_epi32(sum1, round), 8));
}

// Sixteen pixels of one row; cb and cr hold the chrominance of each pixel minus 128.
inline void ConvertRow16(const std::uint8_t* yRow, __m256i cb, __m256i cr, std::uint8_t* out) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i y = _mm256_sub_epi16(
      _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(yRow))),
      _mm256_set1_epi16(16));
  const __m256i yCbLo = _mm256_unpacklo_epi16(y, cb), yCbHi = _mm256_unpackhi_epi16(y, cb);
  const __m256i yCrLo = _mm256_unpacklo_epi16(y, cr), yCrHi = _mm256_unpackhi_epi16(y, cr);
  const __m256i crLo = _mm256_unpacklo_epi16(cr, zero), crHi = _mm256_unpackhi_epi16(cr, zero);
  const __m256i yBlue = PairConstant(kLumaGain, kCbToBlue);
  const __m256i yGreen = PairConstant(kLumaGain, kCbToGreen);
  const __m256i yRed = PairConstant(kLumaGain, kCrToRed);
  const __m256i crGreen = PairConstant(kCrToGreen, 0);
  const __m256i b = Finish(_mm256_madd_epi16(yCbLo, yBlue), _mm256_madd_epi16(yCbHi, yBlue));
  const __m256i g =
      Finish(_mm256_add_epi32(_mm256_madd_epi16(yCbLo, yGreen), _mm256_madd_epi16(crLo, crGreen)),
             _mm256_add_epi32(_mm256_madd_epi16(yCbHi, yGreen), _mm256_madd_epi16(crHi, crGreen)));
  const __m256i r = Finish(_mm256_madd_epi16(yCrLo, yRed), _mm256_madd_epi16(yCrHi, yRed));

  // Per 128-bit lane: B0..7 G0..7 interleaved to B0 G0 B1 G1 ..., then with R to BGR0 pixels.
  const __m256i interleave = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15,
                                              0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
  const __m256i bg = _mm256_shuffle_epi8(_mm256_packus_epi16(b, g), interleave);
  const __m256i r16 = _mm256_unpacklo_epi8(_mm256_packus_epi16(r, zero), zero);
  const __m256i compact = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                           0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  // c0: pixels 0..3 | 8..11, c1: pixels 4..7 | 12..15, 12 bytes at the bottom of each lane.
  const __m256i c0 = _mm256_shuffle_epi8(_mm256_unpacklo_epi16(bg, r16), compact);
  const __m256i c1 = _mm256_shuffle_epi8(_mm256_unpackhi_epi16(bg, r16), compact);
  const __m256i first = _mm256_blend_epi32(
      _mm256_permutevar8x32_epi32(c0, _mm256_setr_epi32(0, 1, 2, 0, 0, 0, 4, 5)),
      _mm256_permutevar8x32_epi32(c1, _mm256_setr_epi32(0, 0, 0, 0, 1, 2, 0, 0)), 0x38);
  const __m256i last = _mm256_blend_epi32(
      _mm256_permutevar8x32_epi32(c0, _mm256_setr_epi32(6, 0, 0, 0, 0, 0, 0, 0)),
      _mm256_permutevar8x32_epi32(c1, _mm256_setr_epi32(0, 4, 5, 6, 0, 0, 0, 0)), 0x0E);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), first);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm256_castsi256_si128(last));
}

inline __m256i ChromaFor16(const std::uint8_t* c) {
  const __m128i c16 = _mm_sub_epi16(
      _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(c))), _mm_set1_epi16(128));
  return _mm256_set_m128i(_mm_unpackhi_epi16(c16, c16), _mm_unpacklo_epi16(c16, c16));
}

}  // namespace

void ConvertRowPairAvx2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                        const std::uint8_t* cr, int width, std::uint8_t* out0, std::uint8_t* out1) {
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m256i cb16 = ChromaFor16(cb + x / 2);
    const __m256i cr16 = ChromaFor16(cr + x / 2);
    ConvertRow16(y0 + x, cb16, cr16, out0 + 3 * x);
    if (out1 != nullptr) ConvertRow16(y1 + x, cb16, cr16, out1 + 3 * x);
  }
  if (x < width) {
    ConvertRowPairReference(y0 + x, out1 != nullptr ? y1 + x : nullptr, cb + x / 2, cr + x / 2,
                            width - x, out0 + 3 * x, out1 != nullptr ? out1 + 3 * x : nullptr);
  }
}

}  // namespace calvex::video_decoder
