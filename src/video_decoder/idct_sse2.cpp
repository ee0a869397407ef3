// SSE2 inverse DCT: each pass forms the even and odd sums of pairs of inputs with pmaddwd, eight
// lanes at a time, between two transposes. Same arithmetic as InverseDctReference (idct.h).
#include <emmintrin.h>

#include <cstring>

#include "mpeg_video/transpose_sse2.h"
#include "video_decoder/idct.h"
#include "video_decoder/motion_compensation.h"

namespace calvex::video_decoder {

namespace {

inline __m128i Pair(int n, int k0, int k1) {
  const auto lo = static_cast<std::uint16_t>(kIdctMatrix[n][k0]);
  const auto hi = static_cast<std::uint16_t>(kIdctMatrix[n][k1]);
  return _mm_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(hi) << 16) | lo));
}

// x[k] holds input k of eight independent transforms (one per lane); replaces them by outputs.
template <int kShift>
inline void Pass(__m128i* x) {
  const __m128i round = _mm_set1_epi32(1 << (kShift - 1));
  const __m128i x02l = _mm_unpacklo_epi16(x[0], x[2]), x02h = _mm_unpackhi_epi16(x[0], x[2]);
  const __m128i x46l = _mm_unpacklo_epi16(x[4], x[6]), x46h = _mm_unpackhi_epi16(x[4], x[6]);
  const __m128i x13l = _mm_unpacklo_epi16(x[1], x[3]), x13h = _mm_unpackhi_epi16(x[1], x[3]);
  const __m128i x57l = _mm_unpacklo_epi16(x[5], x[7]), x57h = _mm_unpackhi_epi16(x[5], x[7]);
  __m128i out[8];
  for (int n = 0; n < 4; ++n) {
    const __m128i c02 = Pair(n, 0, 2), c46 = Pair(n, 4, 6), c13 = Pair(n, 1, 3),
                  c57 = Pair(n, 5, 7);
    const __m128i el = _mm_add_epi32(_mm_madd_epi16(x02l, c02), _mm_madd_epi16(x46l, c46));
    const __m128i eh = _mm_add_epi32(_mm_madd_epi16(x02h, c02), _mm_madd_epi16(x46h, c46));
    const __m128i ol = _mm_add_epi32(_mm_madd_epi16(x13l, c13), _mm_madd_epi16(x57l, c57));
    const __m128i oh = _mm_add_epi32(_mm_madd_epi16(x13h, c13), _mm_madd_epi16(x57h, c57));
    const __m128i erl = _mm_add_epi32(el, round), erh = _mm_add_epi32(eh, round);
    out[n] = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(erl, ol), kShift),
                             _mm_srai_epi32(_mm_add_epi32(erh, oh), kShift));
    out[7 - n] = _mm_packs_epi32(_mm_srai_epi32(_mm_sub_epi32(erl, ol), kShift),
                                 _mm_srai_epi32(_mm_sub_epi32(erh, oh), kShift));
  }
  for (int i = 0; i < 8; ++i) x[i] = out[i];
}

inline void Idct(const std::int16_t* block, __m128i* rows) {
  for (int i = 0; i < 8; ++i)
    rows[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
  Transpose8x8(rows);
  Pass<kIdctRowShift>(rows);
  Transpose8x8(rows);
  Pass<kIdctColumnShift>(rows);
}

inline void Clear(std::int16_t* block) {
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), zero);
}

inline void AddRow(std::uint8_t* dst, __m128i residual) {
  const __m128i d = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst));
  const __m128i sum = _mm_adds_epi16(_mm_unpacklo_epi8(d, _mm_setzero_si128()), residual);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(sum, sum));
}

// The 2^17-scaled basis function of each position, interleaved with 4s: with the pair
// (value, 16384) pmaddwd gives basis x value + 65536, the rounding of SingleCoefficientSample.
struct InterleavedBasis {
  alignas(16) std::int16_t v[64][128];
  InterleavedBasis() {
    for (int p = 0; p < 64; ++p) {
      for (int k = 0; k < 64; ++k) {
        v[p][2 * k] = BasisFunction(p, k);
        v[p][2 * k + 1] = 4;
      }
    }
  }
};
const InterleavedBasis& Basis() {
  static const InterleavedBasis basis;
  return basis;
}

// Row r (8 samples) of the single-coefficient block as 16-bit lanes.
inline __m128i SingleRow(const std::int16_t* basis, __m128i valuePair, int r) {
  const __m128i* b = reinterpret_cast<const __m128i*>(basis + 16 * r);
  const __m128i lo = _mm_srai_epi32(_mm_madd_epi16(_mm_load_si128(b), valuePair), 17);
  const __m128i hi = _mm_srai_epi32(_mm_madd_epi16(_mm_load_si128(b + 1), valuePair), 17);
  return _mm_packs_epi32(lo, hi);
}

inline __m128i ValuePair(int value) {
  return _mm_set1_epi32(
      static_cast<int>((16384u << 16) | (static_cast<std::uint32_t>(value) & 0xFFFF)));
}

}  // namespace

void InverseDctSse2(std::int16_t* block) {
  __m128i rows[8];
  Idct(block, rows);
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), rows[i]);
}

void IdctPutSse2(std::int16_t* block, std::uint8_t* dst, std::ptrdiff_t stride) {
  __m128i rows[8];
  Idct(block, rows);
  Clear(block);
  for (int i = 0; i < 8; i += 2) {
    const __m128i p = _mm_packus_epi16(rows[i], rows[i + 1]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i * stride), p);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + (i + 1) * stride), _mm_srli_si128(p, 8));
  }
}

void IdctAddSse2(std::int16_t* block, std::uint8_t* dst, std::ptrdiff_t stride) {
  __m128i rows[8];
  Idct(block, rows);
  Clear(block);
  for (int i = 0; i < 8; ++i) AddRow(dst + i * stride, rows[i]);
}

void SinglePutSse2(int position, int value, std::uint8_t* dst, std::ptrdiff_t stride) {
  if (position == 0) {
    const __m128i v = _mm_set1_epi16(static_cast<std::int16_t>(DcOnlySample(value)));
    const __m128i p = _mm_packus_epi16(v, v);
    for (int i = 0; i < 8; ++i) _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i * stride), p);
    return;
  }
  const std::int16_t* basis = Basis().v[position];
  const __m128i pair = ValuePair(value);
  for (int i = 0; i < 8; ++i) {
    const __m128i row = SingleRow(basis, pair, i);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i * stride), _mm_packus_epi16(row, row));
  }
}

void SingleAddSse2(int position, int value, std::uint8_t* dst, std::ptrdiff_t stride) {
  if (position == 0) {
    const __m128i v = _mm_set1_epi16(static_cast<std::int16_t>(DcOnlySample(value)));
    for (int i = 0; i < 8; ++i) AddRow(dst + i * stride, v);
    return;
  }
  const std::int16_t* basis = Basis().v[position];
  const __m128i pair = ValuePair(value);
  for (int i = 0; i < 8; ++i) AddRow(dst + i * stride, SingleRow(basis, pair, i));
}

}  // namespace calvex::video_decoder
