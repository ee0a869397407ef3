// AVX2 kernels for the costliest loops (whole-pel SAD, half-pel SAD and the DCT); the others
// come from the SSE2 set. Built with -mavx2 and called only after a run-time CPU check.
#include <immintrin.h>

#include <cstring>

#include "video_encoder/kernels.h"

namespace calvex::video {
namespace {

// Two 16-byte rows, `stride` apart, in one register.
inline __m256i LoadTwoRows(const std::uint8_t* p, int stride) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + stride));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
}

inline int Sum64(__m256i v) {
  const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  return _mm_cvtsi128_si32(s) + _mm_cvtsi128_si32(_mm_srli_si128(s, 8));
}

int SadFullPel(const std::uint8_t* cur, const std::uint8_t* ref, int stride, int limit) {
  __m256i acc = _mm256_setzero_si256();
  const int step = 2 * stride;
  for (int j = 0; j < 16; j += 4) {
    acc =
        _mm256_add_epi64(acc, _mm256_sad_epu8(LoadTwoRows(cur, stride), LoadTwoRows(ref, stride)));
    acc = _mm256_add_epi64(
        acc, _mm256_sad_epu8(LoadTwoRows(cur + step, stride), LoadTwoRows(ref + step, stride)));
    cur += 2 * step;
    ref += 2 * step;
    const int s = Sum64(acc);
    if (s >= limit) return s;
  }
  return Sum64(acc);
}

// Two rows of the half-pel interpolation at p (rows p, p + stride, and p + 2 stride for hy).
inline __m256i HalfPelTwoRows(const std::uint8_t* p, int stride, int hx, int hy) {
  const __m256i a = LoadTwoRows(p, stride);
  if (!hx && !hy) return a;
  if (hx && !hy) return _mm256_avg_epu8(a, LoadTwoRows(p + 1, stride));
  const __m256i c = LoadTwoRows(p + stride, stride);
  if (!hx) return _mm256_avg_epu8(a, c);
  const __m256i b = LoadTwoRows(p + 1, stride), d = LoadTwoRows(p + stride + 1, stride);
  const __m256i zero = _mm256_setzero_si256(), two = _mm256_set1_epi16(2);
  __m256i lo = _mm256_add_epi16(
      _mm256_add_epi16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero)),
      _mm256_add_epi16(_mm256_unpacklo_epi8(c, zero), _mm256_unpacklo_epi8(d, zero)));
  __m256i hi = _mm256_add_epi16(
      _mm256_add_epi16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero)),
      _mm256_add_epi16(_mm256_unpackhi_epi8(c, zero), _mm256_unpackhi_epi8(d, zero)));
  lo = _mm256_srli_epi16(_mm256_add_epi16(lo, two), 2);
  hi = _mm256_srli_epi16(_mm256_add_epi16(hi, two), 2);
  return _mm256_packus_epi16(lo, hi);  // per-lane pack keeps each row in its own half
}

int SadHalfPel(const std::uint8_t* cur, const std::uint8_t* ref, int stride, int hx, int hy) {
  __m256i acc = _mm256_setzero_si256();
  for (int j = 0; j < 16; j += 2) {
    acc = _mm256_add_epi64(
        acc, _mm256_sad_epu8(LoadTwoRows(cur, stride), HalfPelTwoRows(ref, stride, hx, hy)));
    cur += 2 * stride;
    ref += 2 * stride;
  }
  return Sum64(acc);
}

// The basis transposed (ct[k][j] = c[j][k]) so that a row of outputs is one vector.
struct TransposedBasis {
  alignas(32) double ct[8][8];
  TransposedBasis() {
    const auto& c = DctBasis();
    for (int k = 0; k < 8; ++k)
      for (int j = 0; j < 8; ++j) ct[k][j] = c[j][k];
  }
};

void ForwardDct(std::int16_t* block) {
  static const TransposedBasis basis;
  const auto& c = DctBasis();
  const auto& ct = basis.ct;
  alignas(32) double in[64];
  for (int i = 0; i < 64; i += 4)
    _mm256_store_pd(in + i, _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(
                                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(block + i)))));
  alignas(32) double tmp[8][8];
  for (int i = 0; i < 8; ++i) {
    __m256d s0 = _mm256_setzero_pd(), s1 = _mm256_setzero_pd();
    for (int k = 0; k < 8; ++k) {
      const __m256d b = _mm256_broadcast_sd(in + 8 * i + k);
      s0 = _mm256_add_pd(s0, _mm256_mul_pd(_mm256_load_pd(&ct[k][0]), b));
      s1 = _mm256_add_pd(s1, _mm256_mul_pd(_mm256_load_pd(&ct[k][4]), b));
    }
    _mm256_store_pd(&tmp[i][0], s0);
    _mm256_store_pd(&tmp[i][4], s1);
  }
  const __m256d half = _mm256_set1_pd(0.499999);
  for (int i = 0; i < 8; ++i) {
    __m256d s0 = _mm256_setzero_pd(), s1 = _mm256_setzero_pd();
    for (int k = 0; k < 8; ++k) {
      const __m256d ck = _mm256_broadcast_sd(&c[i][k]);
      s0 = _mm256_add_pd(s0, _mm256_mul_pd(ck, _mm256_load_pd(&tmp[k][0])));
      s1 = _mm256_add_pd(s1, _mm256_mul_pd(ck, _mm256_load_pd(&tmp[k][4])));
    }
    const __m128i v0 = _mm256_cvtpd_epi32(_mm256_floor_pd(_mm256_add_pd(s0, half)));
    const __m128i v1 = _mm256_cvtpd_epi32(_mm256_floor_pd(_mm256_add_pd(s1, half)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), _mm_packs_epi32(v0, v1));
  }
}

// Four pixels of one channel (byte offset `c` of each 3-byte pixel) as doubles.
inline __m256d Channel(__m128i pixels, int c) {
  const __m128i pick =
      _mm_setr_epi8(static_cast<char>(c), -1, -1, -1, static_cast<char>(c + 3), -1, -1, -1,
                    static_cast<char>(c + 6), -1, -1, -1, static_cast<char>(c + 9), -1, -1, -1);
  return _mm256_cvtepi32_pd(_mm_shuffle_epi8(pixels, pick));
}

inline void StoreFour(std::uint8_t* dst, __m256d v) {
  const __m128i i = _mm256_cvttpd_epi32(v);
  const __m128i b = _mm_packus_epi16(_mm_packs_epi32(i, i), _mm_setzero_si128());
  const int four = _mm_cvtsi128_si32(b);
  std::memcpy(dst, &four, 4);
}

void ConvertRow(const std::uint8_t* bgr, int count, std::uint8_t* y, std::uint8_t* cb,
                std::uint8_t* cr) {
  const __m256d kr = _mm256_set1_pd(0.299), kg = _mm256_set1_pd(0.587), kb = _mm256_set1_pd(0.114);
  const __m256d half = _mm256_set1_pd(0.5), k219 = _mm256_set1_pd(219), k224 = _mm256_set1_pd(224);
  // Division by 256 is exact as a multiplication by 1/256 (a power of two), and cheaper.
  const __m256d k256 = _mm256_set1_pd(1.0 / 256), y0 = _mm256_set1_pd(16.5),
                c0 = _mm256_set1_pd(128.5);
  const __m256d oneMinusB = _mm256_set1_pd(1 - 0.114), oneMinusR = _mm256_set1_pd(1 - 0.299);
  int i = 0;
  // Each step reads 16 bytes for 4 pixels (12 bytes): stop while that stays inside the row.
  for (; 3 * i + 16 <= 3 * count; i += 4) {
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 3 * i));
    const __m256d b = Channel(px, 0), g = Channel(px, 1), r = Channel(px, 2);
    const __m256d yy = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(kr, r), _mm256_mul_pd(kg, g)),
                                     _mm256_mul_pd(kb, b));
    const __m256d u = _mm256_div_pd(_mm256_mul_pd(_mm256_sub_pd(b, yy), half), oneMinusB);
    const __m256d v = _mm256_div_pd(_mm256_mul_pd(_mm256_sub_pd(r, yy), half), oneMinusR);
    StoreFour(y + i, _mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(yy, k219), k256), y0));
    StoreFour(cb + i, _mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(u, k224), k256), c0));
    StoreFour(cr + i, _mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(v, k224), k256), c0));
  }
  if (i < count) Sse2Kernels().convertRow(bgr + 3 * i, count - i, y + i, cb + i, cr + i);
}

}  // namespace

const Kernels* Avx2Kernels() {
  if (!__builtin_cpu_supports("avx2")) return nullptr;
  static const Kernels k = [] {
    Kernels a = Sse2Kernels();
    a.sadFullPel = SadFullPel;
    a.sadHalfPel = SadHalfPel;
    a.forwardDct = ForwardDct;
    a.convertRow = ConvertRow;
    a.name = "avx2";
    return a;
  }();
  return &k;
}

}  // namespace calvex::video
