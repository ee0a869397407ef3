// AVX2 kernels for the costliest loops (whole-pel SAD, half-pel SAD and the DCT); the others
// come from the SSE2 set. Built with -mavx2 and called only after a run-time CPU check.
#include <immintrin.h>

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

void ForwardDct(std::int16_t* block) {
  const auto& c = DctBasis();
  alignas(32) double ct[8][8];  // ct[k][j] = c[j][k]
  for (int k = 0; k < 8; ++k)
    for (int j = 0; j < 8; ++j) ct[k][j] = c[j][k];
  alignas(32) double tmp[8][8];
  for (int i = 0; i < 8; ++i) {
    __m256d s0 = _mm256_setzero_pd(), s1 = _mm256_setzero_pd();
    for (int k = 0; k < 8; ++k) {
      const __m256d b = _mm256_set1_pd(block[8 * i + k]);
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
      const __m256d ck = _mm256_set1_pd(c[i][k]);
      s0 = _mm256_add_pd(s0, _mm256_mul_pd(ck, _mm256_load_pd(&tmp[k][0])));
      s1 = _mm256_add_pd(s1, _mm256_mul_pd(ck, _mm256_load_pd(&tmp[k][4])));
    }
    const __m128i v0 = _mm256_cvtpd_epi32(_mm256_floor_pd(_mm256_add_pd(s0, half)));
    const __m128i v1 = _mm256_cvtpd_epi32(_mm256_floor_pd(_mm256_add_pd(s1, half)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), _mm_packs_epi32(v0, v1));
  }
}

}  // namespace

const Kernels* Avx2Kernels() {
  if (!__builtin_cpu_supports("avx2")) return nullptr;
  static const Kernels k = [] {
    Kernels a = Sse2Kernels();
    a.sadFullPel = SadFullPel;
    a.sadHalfPel = SadHalfPel;
    a.forwardDct = ForwardDct;
    a.name = "avx2";
    return a;
  }();
  return &k;
}

}  // namespace calvex::video
