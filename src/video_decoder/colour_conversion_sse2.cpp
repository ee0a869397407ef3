// SSE2 colour conversion: 16 pixels of two rows at a time, the terms summed exactly in 32 bits
// with pmaddwd, so that the result equals the table version bit for bit.
#include <emmintrin.h>

#include "video_decoder/colour_conversion.h"

namespace calvex::video_decoder {

namespace {

inline __m128i PairConstant(int low, int high) {
  return _mm_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(high) << 16) |
                                         (static_cast<std::uint32_t>(low) & 0xFFFF)));
}

// (sum0 + 128) >> 8 and (sum1 + 128) >> 8 as eight 16-bit lanes.
inline __m128i Finish(__m128i sum0, __m128i sum1) {
  const __m128i round = _mm_set1_epi32(128);
  return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(sum0, round), 8),
                         _mm_srai_epi32(_mm_add_epi32(sum1, round), 8));
}

// Four BGR0 pixels (16 bytes) to their 12 bytes of BGR at the bottom of the register.
inline __m128i Compact4(__m128i p) {
  const __m128i low24 = _mm_set1_epi64x(0x0000000000FFFFFFLL);
  const __m128i next24 = _mm_set1_epi64x(0x0000FFFFFF000000LL);
  const __m128i q =
      _mm_or_si128(_mm_and_si128(p, low24), _mm_and_si128(_mm_srli_epi64(p, 8), next24));
  const __m128i lowSix = _mm_set_epi32(0, 0, 0x0000FFFF, -1);
  const __m128i midSix = _mm_set_epi32(0, -1, static_cast<int>(0xFFFF0000u), 0);
  return _mm_or_si128(_mm_and_si128(q, lowSix), _mm_and_si128(_mm_srli_si128(q, 2), midSix));
}

// Stores 16 pixels given as B, G, R byte vectors: exactly 48 bytes.
inline void Store16(std::uint8_t* out, __m128i b, __m128i g, __m128i r) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
  const __m128i rLo = _mm_unpacklo_epi8(r, zero), rHi = _mm_unpackhi_epi8(r, zero);
  const __m128i c0 = Compact4(_mm_unpacklo_epi16(bgLo, rLo));
  const __m128i c1 = Compact4(_mm_unpackhi_epi16(bgLo, rLo));
  const __m128i c2 = Compact4(_mm_unpacklo_epi16(bgHi, rHi));
  const __m128i c3 = Compact4(_mm_unpackhi_epi16(bgHi, rHi));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(c0, _mm_slli_si128(c1, 12)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                   _mm_or_si128(_mm_srli_si128(c1, 4), _mm_slli_si128(c2, 8)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32),
                   _mm_or_si128(_mm_srli_si128(c2, 8), _mm_slli_si128(c3, 4)));
}

// Eight pixels of one row: luma (Y - 16) and duplicated chrominance (Cb - 128, Cr - 128) as 16-bit
// lanes; returns B, G, R as 16-bit lanes.
struct Bgr16 {
  __m128i b, g, r;
};
inline Bgr16 Convert8(__m128i y, __m128i cb, __m128i cr) {
  const __m128i yRed = PairConstant(kLumaGain, kCrToRed);
  const __m128i yGreen = PairConstant(kLumaGain, kCbToGreen);
  const __m128i yBlue = PairConstant(kLumaGain, kCbToBlue);
  const __m128i crGreen = PairConstant(kCrToGreen, 0);
  const __m128i yCbLo = _mm_unpacklo_epi16(y, cb), yCbHi = _mm_unpackhi_epi16(y, cb);
  const __m128i yCrLo = _mm_unpacklo_epi16(y, cr), yCrHi = _mm_unpackhi_epi16(y, cr);
  const __m128i zero = _mm_setzero_si128();
  const __m128i crLo = _mm_unpacklo_epi16(cr, zero), crHi = _mm_unpackhi_epi16(cr, zero);
  Bgr16 out;
  out.b = Finish(_mm_madd_epi16(yCbLo, yBlue), _mm_madd_epi16(yCbHi, yBlue));
  out.g = Finish(_mm_add_epi32(_mm_madd_epi16(yCbLo, yGreen), _mm_madd_epi16(crLo, crGreen)),
                 _mm_add_epi32(_mm_madd_epi16(yCbHi, yGreen), _mm_madd_epi16(crHi, crGreen)));
  out.r = Finish(_mm_madd_epi16(yCrLo, yRed), _mm_madd_epi16(yCrHi, yRed));
  return out;
}

inline void ConvertRow16(const std::uint8_t* yRow, __m128i cbLo, __m128i cbHi, __m128i crLo,
                         __m128i crHi, std::uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(16);
  const __m128i y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(yRow));
  const __m128i yLo = _mm_sub_epi16(_mm_unpacklo_epi8(y8, zero), bias);
  const __m128i yHi = _mm_sub_epi16(_mm_unpackhi_epi8(y8, zero), bias);
  const Bgr16 a = Convert8(yLo, cbLo, crLo);
  const Bgr16 b = Convert8(yHi, cbHi, crHi);
  Store16(out, _mm_packus_epi16(a.b, b.b), _mm_packus_epi16(a.g, b.g), _mm_packus_epi16(a.r, b.r));
}

}  // namespace

void ConvertRowPairSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* cb,
                        const std::uint8_t* cr, int width, std::uint8_t* out0, std::uint8_t* out1) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(128);
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i cb8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + x / 2));
    const __m128i cr8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + x / 2));
    const __m128i cb16 = _mm_sub_epi16(_mm_unpacklo_epi8(cb8, zero), bias);
    const __m128i cr16 = _mm_sub_epi16(_mm_unpacklo_epi8(cr8, zero), bias);
    const __m128i cbLo = _mm_unpacklo_epi16(cb16, cb16), cbHi = _mm_unpackhi_epi16(cb16, cb16);
    const __m128i crLo = _mm_unpacklo_epi16(cr16, cr16), crHi = _mm_unpackhi_epi16(cr16, cr16);
    ConvertRow16(y0 + x, cbLo, cbHi, crLo, crHi, out0 + 3 * x);
    if (out1 != nullptr) ConvertRow16(y1 + x, cbLo, cbHi, crLo, crHi, out1 + 3 * x);
  }
  if (x < width) {
    ConvertRowPairReference(y0 + x, out1 != nullptr ? y1 + x : nullptr, cb + x / 2, cr + x / 2,
                            width - x, out0 + 3 * x, out1 != nullptr ? out1 + 3 * x : nullptr);
  }
}

}  // namespace calvex::video_decoder
