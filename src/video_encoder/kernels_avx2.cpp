// AVX2 kernels for the costliest loops (whole-pel SAD, half-pel SAD and the DCT); the others
// come from the SSE2 set. Built with -mavx2 and called only after a run-time CPU check.
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "mpeg_video/transpose_sse2.h"
#include "mpeg_video/video_tables.h"
#include "video_encoder/colour_rounding_exceptions.h"
#include "video_encoder/dct_butterfly.h"
#include "video_encoder/kernels.h"
#include "video_encoder/kernels_common.h"

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

inline __m256i LoadTwo(const std::uint8_t* low, const std::uint8_t* high) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

// The smallest of sixteen 16-bit lanes.
inline int Min16(__m256i v) {
  return _mm_cvtsi128_si32(_mm_minpos_epu16(
             _mm_min_epu16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)))) &
         0xFFFF;
}

// The window is covered by groups of 8 neighbouring positions of one row, two groups at a time
// (one per 128-bit lane). mpsadbw gives the SADs of a 4-byte quad of the block against 8
// consecutive positions; the four quads of the 16 rows add up to the 16 x 16 SADs in 16-bit lanes
// (at most 255 x 256, so they never overflow). The rows go from the middle of the window outward,
// where the best positions usually are; once the first 4, 8 or 12 rows of a pair of groups already
// exceed the best SAD found so far, none of them can win or tie, and its other rows are passed
// over.
std::uint32_t SearchWindow(const std::uint8_t* cur, int curStride, const std::uint8_t* ref,
                           int refStride, int cols, int rows, const std::uint16_t* rank) {
  alignas(32) std::uint8_t block[16][32];  // each row of the block in both lanes
  for (int r = 0; r < 16; ++r) {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + r * curStride));
    _mm256_store_si256(reinterpret_cast<__m256i*>(block[r]),
                       _mm256_inserti128_si256(_mm256_castsi128_si256(row), row, 1));
  }
  std::uint16_t groupX[kMaxSearchGroups], groupY[kMaxSearchGroups];
  const int groups = SearchGroupOrder(cols, rows, groupX, groupY);
  const __m256i lane = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i lastColumn = _mm256_set1_epi16(static_cast<short>(cols - 1));
  __m256i best = _mm256_set1_epi32(-1);
  int bestSad = 0xFFFF;
  for (int gi = 0; gi < groups; gi += 2) {
    const int x0 = groupX[gi], y0 = groupY[gi], x1 = groupX[gi + 1], y1 = groupY[gi + 1];
    const std::uint8_t* p0 = ref + y0 * refStride + x0;
    const std::uint8_t* p1 = ref + y1 * refStride + x1;
    // Positions past the window's last column take 0xFFFF, above any real SAD.
    const __m256i outside = _mm256_cmpgt_epi16(
        _mm256_add_epi16(lane, _mm256_inserti128_si256(
                                   _mm256_castsi128_si256(_mm_set1_epi16(static_cast<short>(x0))),
                                   _mm_set1_epi16(static_cast<short>(x1)), 1)),
        lastColumn);
    __m256i acc = _mm256_setzero_si256();
    const __m256i* c = reinterpret_cast<const __m256i*>(block[0]);
    auto addRows = [&](int count) {
#pragma GCC unroll 2
      for (int r = 0; r < count; ++r) {
        const __m256i a = LoadTwo(p0, p1), b = LoadTwo(p0 + 8, p1 + 8);
        // Quad q against the reference from x + 4q: quads 0 and 1 from a, 2 and 3 from b, each
        // lane alike (immediate bits 0-2 for the low lane, 3-5 for the high one).
        acc = _mm256_add_epi16(acc, _mm256_mpsadbw_epu8(a, *c, 0x00));
        acc = _mm256_add_epi16(acc, _mm256_mpsadbw_epu8(a, *c, 0x2D));
        acc = _mm256_add_epi16(acc, _mm256_mpsadbw_epu8(b, *c, 0x12));
        acc = _mm256_add_epi16(acc, _mm256_mpsadbw_epu8(b, *c, 0x3F));
        p0 += refStride;
        p1 += refStride;
        ++c;
      }
    };
    // A pair of groups is dropped as soon as the sums of its first rows pass the best SAD.
    addRows(4);
    if (Min16(_mm256_or_si256(acc, outside)) > bestSad) continue;
    addRows(4);
    if (Min16(_mm256_or_si256(acc, outside)) > bestSad) continue;
    addRows(4);
    if (Min16(_mm256_or_si256(acc, outside)) > bestSad) continue;
    addRows(4);
    const __m256i sad = _mm256_or_si256(acc, outside);
    bestSad = std::min(bestSad, Min16(sad));
    const __m256i rk = LoadTwo(reinterpret_cast<const std::uint8_t*>(rank + y0 * kRankStride + x0),
                               reinterpret_cast<const std::uint8_t*>(rank + y1 * kRankStride + x1));
    // Keys (SAD << 16) | rank; the smallest wins.
    best = _mm256_min_epu32(
        best, _mm256_min_epu32(_mm256_unpacklo_epi16(rk, sad), _mm256_unpackhi_epi16(rk, sad)));
  }
  __m128i m = _mm_min_epu32(_mm256_castsi256_si128(best), _mm256_extracti128_si256(best, 1));
  m = _mm_min_epu32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
  m = _mm_min_epu32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(m));
}

// The block's rows are loaded once, in pairs, and kept in registers for every block.
void Sad16Blocks(const std::uint8_t* cur, const std::uint8_t* const* blocks, int count, int stride,
                 int* sads) {
  __m256i c[8];
  for (int j = 0; j < 8; ++j) c[j] = LoadTwoRows(cur + 2 * j * stride, stride);
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* b = blocks[i];
    __m256i acc0 = _mm256_sad_epu8(LoadTwoRows(b, stride), c[0]);
    __m256i acc1 = _mm256_sad_epu8(LoadTwoRows(b + 2 * stride, stride), c[1]);
    for (int j = 2; j < 8; j += 2) {
      acc0 = _mm256_add_epi64(acc0, _mm256_sad_epu8(LoadTwoRows(b + 2 * j * stride, stride), c[j]));
      acc1 = _mm256_add_epi64(
          acc1, _mm256_sad_epu8(LoadTwoRows(b + 2 * (j + 1) * stride, stride), c[j + 1]));
    }
    sads[i] = Sum64(_mm256_add_epi64(acc0, acc1));
  }
}

// (a + b + c + d + 2) >> 2 of 32 byte lanes.
inline __m256i Average4(__m256i a, __m256i b, __m256i c, __m256i d) {
  const __m256i zero = _mm256_setzero_si256(), two = _mm256_set1_epi16(2);
  __m256i lo = _mm256_add_epi16(
      _mm256_add_epi16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero)),
      _mm256_add_epi16(_mm256_unpacklo_epi8(c, zero), _mm256_unpacklo_epi8(d, zero)));
  __m256i hi = _mm256_add_epi16(
      _mm256_add_epi16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero)),
      _mm256_add_epi16(_mm256_unpackhi_epi8(c, zero), _mm256_unpackhi_epi8(d, zero)));
  lo = _mm256_srli_epi16(_mm256_add_epi16(lo, two), 2);
  hi = _mm256_srli_epi16(_mm256_add_epi16(hi, two), 2);
  return _mm256_packus_epi16(lo, hi);  // per-lane pack keeps the byte order
}

inline __m256i Load32(const std::uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

inline void Store32(std::uint8_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

void HalfPelRow(const std::uint8_t* p, const std::uint8_t* q, int width, std::uint8_t* h,
                std::uint8_t* v, std::uint8_t* hv) {
  int x = 0;
  // Reads p[x .. x + 32] (and q alike): stop while that stays inside the row.
  for (; x + 33 <= width; x += 32) {
    const __m256i a = Load32(p + x), b = Load32(p + x + 1);
    Store32(h + x, _mm256_avg_epu8(a, b));
    if (!q) continue;
    const __m256i c = Load32(q + x), d = Load32(q + x + 1);
    Store32(v + x, _mm256_avg_epu8(a, c));
    Store32(hv + x, Average4(a, b, c, d));
  }
  if (x < width)
    Sse2Kernels().halfPelRow(p + x, q ? q + x : nullptr, width - x, h + x, v + x, hv + x);
}

// The basis laid out for the two passes: each c[j][k] four times for the rows, and ct[k] =
// column k of c (c[i][k] for i = 0..7) for the columns.
struct DctTables {
  alignas(32) double c4[8][8][4];
  alignas(32) double ct[8][8];
  DctTables() {
    const auto& c = DctBasis();
    for (int j = 0; j < 8; ++j)
      for (int k = 0; k < 8; ++k)
        for (int l = 0; l < 4; ++l) c4[j][k][l] = c[j][k];
    for (int k = 0; k < 8; ++k)
      for (int i = 0; i < 8; ++i) ct[k][i] = c[i][k];
  }
};

// Every sum is formed term by term in the order k = 0..7, as the reference does, and with no
// fused multiply-add, so each output is bit for bit the same. The block is transposed first, so
// that each lane carries one row through the row pass (the sums of four rows at once, with no
// shuffles between the terms); the column pass then takes the row sums one at a time, broadcast,
// against a column of the basis, and its outputs are transposed back. An all-zero block stays
// all zero.
__attribute__((noinline)) void ForwardDctExact(std::int16_t* block) {
  static const DctTables tables;
  const auto& c4 = tables.c4;
  const auto& ct = tables.ct;
  __m128i r[8];
  if (!dct::LoadRows(block, r)) return;
  Transpose8x8(r);               // r[k]: sample k of each row
  alignas(32) double tmp[8][8];  // tmp[j][i]: row sum j of row i
#pragma GCC unroll 2
  for (int g = 0; g < 2; ++g) {  // rows 4g .. 4g + 3
    __m256d x[8];
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k)
      x[k] = _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(g ? _mm_unpackhi_epi64(r[k], r[k]) : r[k]));
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) {
      __m256d s = _mm256_mul_pd(x[0], _mm256_load_pd(c4[j][0]));
#pragma GCC unroll 7
      for (int k = 1; k < 8; ++k)
        s = _mm256_add_pd(s, _mm256_mul_pd(x[k], _mm256_load_pd(c4[j][k])));
      _mm256_store_pd(&tmp[j][4 * g], s);
    }
  }
  const __m256d half = _mm256_set1_pd(0.499999);
  __m128i out[8];  // out[j]: output column j
#pragma GCC unroll 8
  for (int j = 0; j < 8; ++j) {
    __m256d t = _mm256_broadcast_sd(&tmp[j][0]);
    __m256d a0 = _mm256_mul_pd(_mm256_load_pd(&ct[0][0]), t);
    __m256d a1 = _mm256_mul_pd(_mm256_load_pd(&ct[0][4]), t);
#pragma GCC unroll 7
    for (int k = 1; k < 8; ++k) {
      t = _mm256_broadcast_sd(&tmp[j][k]);
      a0 = _mm256_add_pd(a0, _mm256_mul_pd(_mm256_load_pd(&ct[k][0]), t));
      a1 = _mm256_add_pd(a1, _mm256_mul_pd(_mm256_load_pd(&ct[k][4]), t));
    }
    out[j] = _mm_packs_epi32(_mm256_cvtpd_epi32(_mm256_floor_pd(_mm256_add_pd(a0, half))),
                             _mm256_cvtpd_epi32(_mm256_floor_pd(_mm256_add_pd(a1, half))));
  }
  Transpose8x8(out);
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), out[i]);
}

// The basis entries c[j][k], k < 4, that the factorised transform multiplies by, broadcast.
struct FastDctTables {
  __m256d c[8][4];
  FastDctTables() {
    const auto& b = DctBasis();
    for (int j = 0; j < 8; ++j)
      for (int k = 0; k < 4; ++k) c[j][k] = _mm256_set1_pd(b[j][k]);
  }
};

// Transposes the 4 x 4 block of doubles a, b, c, d (one row each) in place.
inline void Transpose4x4(__m256d& a, __m256d& b, __m256d& c, __m256d& d) {
  const __m256d t0 = _mm256_unpacklo_pd(a, b), t1 = _mm256_unpackhi_pd(a, b);
  const __m256d t2 = _mm256_unpacklo_pd(c, d), t3 = _mm256_unpackhi_pd(c, d);
  a = _mm256_permute2f128_pd(t0, t2, 0x20);
  b = _mm256_permute2f128_pd(t1, t3, 0x20);
  c = _mm256_permute2f128_pd(t0, t2, 0x31);
  d = _mm256_permute2f128_pd(t1, t3, 0x31);
}

// The factorised transform gives each coefficient s' close to the exact one's s, the sum the
// term-by-term code forms; where s' is far enough from the point at which floor(s + 0.499999)
// steps, both round alike, and otherwise the block is computed exactly. The distance bound: with
// u = 2^-53, L = max_j sum_k |c[j][k]| = 2.83 and X = max |x|, the term-by-term sums are within
// 16 u L^2 X of the real transform with the stored basis, the factorised ones (at most five
// roundings to each term of a pass) within 10 u L^2 X of the real transform with the basis whose
// entries are replaced by the +-c[j][k], k < 4, they equal in exact arithmetic, and that basis
// differs from the stored one by at most 1e-15 per entry (5e-16 with these cosines), moving each
// coefficient by at most 16 x 1e-15 L X. Together |s - s'| <= 7e-14 X <= 2.3e-9 for 16-bit
// samples; the two roundings of s + 0.499999 (|s| <= 8 X <= 2^18) add at most 6e-11. A
// coefficient whose s' + 0.499999 lies at least kMargin = 1e-8 inside an interval [n, n + 1)
// therefore rounds to n in the exact sum too.
void ForwardDct(std::int16_t* block) {
  static const FastDctTables tables;
  constexpr double kMargin = 1e-8;
  __m128i r[8];
  if (!dct::LoadRows(block, r)) return;
  // Down the columns first (vectors: rows, lanes: columns 4h .. 4h + 3), which gives the real
  // transform the same value as rows first.
  __m256d v[2][8];  // v[h][i]: vertical coefficient i of columns 4h .. 4h + 3
#pragma GCC unroll 2
  for (int h = 0; h < 2; ++h) {
    __m256d x[8];
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i)
      x[i] = _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(h ? _mm_unpackhi_epi64(r[i], r[i]) : r[i]));
    dct::Dct8(x, v[h], tables.c);
  }
  // w[g][k]: vertical coefficients 4g .. 4g + 3 of column k.
  __m256d w[2][8];
#pragma GCC unroll 2
  for (int g = 0; g < 2; ++g)
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
      __m256d a = v[h][4 * g], b = v[h][4 * g + 1], c = v[h][4 * g + 2], d = v[h][4 * g + 3];
      Transpose4x4(a, b, c, d);
      w[g][4 * h] = a;
      w[g][4 * h + 1] = b;
      w[g][4 * h + 2] = c;
      w[g][4 * h + 3] = d;
    }
  const __m256d half = _mm256_set1_pd(0.499999), low = _mm256_set1_pd(kMargin),
                high = _mm256_set1_pd(1.0 - kMargin);
  __m256d lowest = _mm256_set1_pd(1.0), highest = _mm256_setzero_pd();  // of the fractions
  __m128i n32[2][8];  // the rounded coefficients, as w
#pragma GCC unroll 2
  for (int g = 0; g < 2; ++g) {
    __m256d y[8];
    dct::Dct8(w[g], y, tables.c);
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) {
      const __m256d s = _mm256_add_pd(y[j], half);
      const __m256d n = _mm256_floor_pd(s);
      const __m256d f = _mm256_sub_pd(s, n);  // the fraction of s, to within 2^-53
      lowest = _mm256_min_pd(lowest, f);
      highest = _mm256_max_pd(highest, f);
      n32[g][j] = _mm256_cvtpd_epi32(n);
    }
  }
  const __m256d doubtful = _mm256_or_pd(_mm256_cmp_pd(lowest, low, _CMP_LT_OQ),
                                        _mm256_cmp_pd(highest, high, _CMP_GT_OQ));
  if (!_mm256_testz_pd(doubtful, doubtful)) {
    ForwardDctExact(block);
    return;
  }
  __m128i out[8];  // out[j]: horizontal coefficient j of every row
#pragma GCC unroll 8
  for (int j = 0; j < 8; ++j) out[j] = _mm_packs_epi32(n32[0][j], n32[1][j]);
  Transpose8x8(out);
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), out[i]);
}

// Transposes the 8 x 8 block of floats r[0..7] (one row each) in place.
inline void TransposeFloats8x8(__m256 r[8]) {
  __m256 t[8], u[8];
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    t[2 * i] = _mm256_unpacklo_ps(r[2 * i], r[2 * i + 1]);
    t[2 * i + 1] = _mm256_unpackhi_ps(r[2 * i], r[2 * i + 1]);
  }
#pragma GCC unroll 2
  for (int i = 0; i < 2; ++i) {
    u[4 * i] = _mm256_shuffle_ps(t[4 * i], t[4 * i + 2], 0x44);
    u[4 * i + 1] = _mm256_shuffle_ps(t[4 * i], t[4 * i + 2], 0xee);
    u[4 * i + 2] = _mm256_shuffle_ps(t[4 * i + 1], t[4 * i + 3], 0x44);
    u[4 * i + 3] = _mm256_shuffle_ps(t[4 * i + 1], t[4 * i + 3], 0xee);
  }
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    r[i] = _mm256_permute2f128_ps(u[i], u[i + 4], 0x20);
    r[i + 4] = _mm256_permute2f128_ps(u[i], u[i + 4], 0x31);
  }
}

// Down the columns (lanes: columns), transposed, then along the rows (lanes: rows), whose
// coefficients are transposed back as 16-bit values.
void ForwardDctFloat(std::int16_t* block) {
  static const struct Tables {
    __m256 c[8][4];
    Tables() {
      const FloatDctBasis b;
      for (int j = 0; j < 8; ++j)
        for (int k = 0; k < 4; ++k) c[j][k] = _mm256_set1_ps(b.c[j][k]);
    }
  } tables;
  __m256 x[8], v[8];
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i)
    x[i] = _mm256_cvtepi32_ps(
        _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i))));
  dct::Dct8(x, v, tables.c);
  TransposeFloats8x8(v);  // v[x]: the vertical coefficients of column x
  dct::Dct8(v, x, tables.c);
  const __m256 half = _mm256_set1_ps(0.499999f);
  __m128i out[8];  // out[h]: horizontal coefficient h of each row
#pragma GCC unroll 8
  for (int h = 0; h < 8; ++h) {
    const __m256i n = _mm256_cvtps_epi32(_mm256_floor_ps(_mm256_add_ps(x[h], half)));
    out[h] = _mm_packs_epi32(_mm256_castsi256_si128(n), _mm256_extracti128_si256(n, 1));
  }
  Transpose8x8(out);
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), out[i]);
}

// floor(n / d) of eight non-negative n < 2^26 and whether it is exact (n = q d), for the
// divisors of the colour conversion. The float estimate, from a reciprocal biased a little low,
// is the quotient or one less (its error stays far below one); the remainder corrects it.
struct Quotients {
  __m256i q, exact;
};

inline Quotients DivideExactly(__m256i n, int d) {
  const __m256 inverse = _mm256_set1_ps(static_cast<float>((1.0 - 1.0 / (1 << 20)) / d));
  const __m256i divisor = _mm256_set1_epi32(d);
  __m256i q = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(n), inverse));
  __m256i r = _mm256_sub_epi32(n, _mm256_mullo_epi32(q, divisor));
  const __m256i low = _mm256_cmpgt_epi32(r, _mm256_set1_epi32(d - 1));
  q = _mm256_sub_epi32(q, low);
  r = _mm256_sub_epi32(r, _mm256_and_si256(low, divisor));
  return {q, _mm256_cmpeq_epi32(r, _mm256_setzero_si256())};
}

// The conversion in integers: with s = 299 R + 587 G + 114 B, the double-precision formulas are
// Y = floor((219 s + 4224000) / 256000), Cb = floor((7 (1000 B - s) + 1821616) / 14176) and
// Cr = floor((7 (1000 R - s) + 1441256) / 11216) exactly, except where the division is exact:
// there the double result can fall one short, for the colours listed in
// colour_rounding_exceptions.h. (The tests check every one of the 2^24 colours.)
void ConvertRow(const std::uint8_t* bgr, int count, std::uint8_t* y, std::uint8_t* cb,
                std::uint8_t* cr) {
  // Four pixels per 128-bit lane, the high lane loaded 8 bytes on so that the 24 bytes of eight
  // pixels are read exactly: (R, G) as 16-bit pairs, and B.
  const __m256i pickRg =
      _mm256_setr_epi8(2, -1, 1, -1, 5, -1, 4, -1, 8, -1, 7, -1, 11, -1, 10, -1, 6, -1, 5, -1, 9,
                       -1, 8, -1, 12, -1, 11, -1, 15, -1, 14, -1);
  const __m256i pickB =
      _mm256_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1, 4, -1, -1, -1, 7,
                       -1, -1, -1, 10, -1, -1, -1, 13, -1, -1, -1);
  const __m256i rgWeights = _mm256_set1_epi32(587 << 16 | 299);
  const __m256i bWeight = _mm256_set1_epi32(114);
  const __m256i r7000 = _mm256_set1_epi32(7000);  // on the (R, G) pair: 7000 R
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  if (count < 8) {
    Sse2Kernels().convertRow(bgr, count, y, cb, cr);
    return;
  }
  // Eight pixels per step; the last step overlaps the one before.
  for (int next = 0; next < count; next += 8) {
    const int i = next + 8 <= count ? next : count - 8;
    const std::uint8_t* p = bgr + 3 * i;
    const __m256i px = LoadTwo(p, p + 8);
    const __m256i rg = _mm256_shuffle_epi8(px, pickRg), b = _mm256_shuffle_epi8(px, pickB);
    const __m256i s =
        _mm256_add_epi32(_mm256_madd_epi16(rg, rgWeights), _mm256_madd_epi16(b, bWeight));
    const __m256i s7 = _mm256_sub_epi32(_mm256_slli_epi32(s, 3), s);
    const Quotients qy = DivideExactly(
        _mm256_add_epi32(_mm256_mullo_epi32(s, _mm256_set1_epi32(219)), _mm256_set1_epi32(4224000)),
        256000);
    const Quotients qb =
        DivideExactly(_mm256_add_epi32(_mm256_sub_epi32(_mm256_madd_epi16(b, r7000), s7),
                                       _mm256_set1_epi32(1821616)),
                      14176);
    const Quotients qr =
        DivideExactly(_mm256_add_epi32(_mm256_sub_epi32(_mm256_madd_epi16(rg, r7000), s7),
                                       _mm256_set1_epi32(1441256)),
                      11216);
    // Bytes y0..3 cb0..3 cr0..3 cr0..3 | y4..7 cb4..7 cr4..7 cr4..7, then into order.
    const __m256i bytes = _mm256_permutevar8x32_epi32(
        _mm256_packus_epi16(_mm256_packs_epi32(qy.q, qb.q), _mm256_packs_epi32(qr.q, qr.q)), order);
    const __m128i yb = _mm256_castsi256_si128(bytes);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(y + i), yb);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cb + i), _mm_unpackhi_epi64(yb, yb));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cr + i), _mm256_extracti128_si256(bytes, 1));
    const __m256i exact = _mm256_or_si256(qy.exact, _mm256_or_si256(qb.exact, qr.exact));
    for (int lanes = _mm256_movemask_ps(_mm256_castsi256_ps(exact)); lanes; lanes &= lanes - 1) {
      const int at = i + __builtin_ctz(static_cast<unsigned>(lanes));
      const int lower = ColourRoundingException(bgr[3 * at + 2], bgr[3 * at + 1], bgr[3 * at]);
      if (lower >= 0) --(lower == 0 ? y : (lower == 1 ? cb : cr))[at];
    }
  }
}

// Sixteen filter outputs from the twelve tap inputs t[0..11] (16-bit lanes), tap k at offset
// k - 5 from the output's first sample, as 16-bit values 0..255 in lane order.
inline __m256i FilterSixteen(const __m256i t[12]) {
  // Pairs around the centre: (0,1) 228, (-1,2) 70, (-2,3) -37, (-3,4) -21, (-4,5) 11, (-5,6) 5.
  const __m256i p228 = _mm256_add_epi16(t[5], t[6]), p70 = _mm256_add_epi16(t[4], t[7]);
  const __m256i p37 = _mm256_add_epi16(t[3], t[8]), p21 = _mm256_add_epi16(t[2], t[9]);
  const __m256i p11 = _mm256_add_epi16(t[1], t[10]), p5 = _mm256_add_epi16(t[0], t[11]);
  const __m256i c1 = _mm256_set1_epi32(70 << 16 | 228);
  const __m256i c2 = _mm256_set1_epi32(static_cast<int>(0xFFEBFFDBu));  // -21, -37
  const __m256i c3 = _mm256_set1_epi32(5 << 16 | 11);
  const __m256i round = _mm256_set1_epi32(256);
  __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(p228, p70), c1),
                                _mm256_madd_epi16(_mm256_unpacklo_epi16(p37, p21), c2));
  lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(p11, p5), c3));
  __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(p228, p70), c1),
                                _mm256_madd_epi16(_mm256_unpackhi_epi16(p37, p21), c2));
  hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(p11, p5), c3));
  lo = _mm256_srai_epi32(_mm256_add_epi32(lo, round), 9);
  hi = _mm256_srai_epi32(_mm256_add_epi32(hi, round), 9);
  return _mm256_packs_epi32(lo, hi);  // per lane: the unpack order undone
}

// Sixteen 16-bit values 0..255 (saturated) to bytes, in order.
inline __m128i PackSixteen(__m256i v) {
  const __m256i b = _mm256_packus_epi16(v, v);  // each lane's 8 bytes, twice
  return _mm_unpacklo_epi64(_mm256_castsi256_si128(b), _mm256_extracti128_si256(b, 1));
}

void FilterRow(const std::uint8_t* src, int count, std::uint8_t* dst) {
  if (count < 16) {
    Sse2Kernels().filterRow(src, count, dst);
    return;
  }
  const __m256i mask = _mm256_set1_epi16(0x00FF);
  // As the SSE2 version, sixteen outputs per step; the last step overlaps the one before.
  auto sixteen = [&](int o) {
    __m256i t[12];
    for (int k = 0; k < 12; k += 2) {
      const __m256i v = Load32(src + 2 * o - 5 + k);
      t[k] = _mm256_and_si256(v, mask);
      t[k + 1] = _mm256_srli_epi16(v, 8);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o), PackSixteen(FilterSixteen(t)));
  };
  for (int o = 0; o + 16 <= count; o += 16) sixteen(o);
  if (count % 16) sixteen(count - 16);
}

void FilterColumns(const std::uint8_t* src, int width, int srcRows, std::uint8_t* dst,
                   int dstRows) {
  if (width < 16) {
    Sse2Kernels().filterColumns(src, width, srcRows, dst, dstRows);
    return;
  }
  for (int o = 0; o < dstRows; ++o) {
    const std::uint8_t* rows[12];
    for (int k = 0; k < 12; ++k) {
      const int r = 2 * o - 5 + k;
      rows[k] =
          src + static_cast<std::ptrdiff_t>(r < 0 ? 0 : (r >= srcRows ? srcRows - 1 : r)) * width;
    }
    auto sixteen = [&](int x) {
      __m256i t[12];
      for (int k = 0; k < 12; ++k)
        t[k] = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + x)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + static_cast<std::ptrdiff_t>(o) * width + x),
                       PackSixteen(FilterSixteen(t)));
    };
    for (int x = 0; x + 16 <= width; x += 16) sixteen(x);
    if (width % 16) sixteen(width - 16);
  }
}

// floor(n / d) of sixteen unsigned 16-bit n for divisors d >= 2, with m = floor(65536 / d): the
// high half of n m is the quotient or one less, and the remainder settles which.
inline __m256i DivideU16(__m256i n, __m256i d, __m256i m) {
  const __m256i q = _mm256_mulhi_epu16(n, m);
  const __m256i r = _mm256_sub_epi16(n, _mm256_mullo_epi16(q, d));  // 0 .. 2d - 1
  return _mm256_sub_epi16(q, _mm256_cmpgt_epi16(r, _mm256_sub_epi16(d, _mm256_set1_epi16(1))));
}

// Bit n set where level n (raster order) is not 0.
inline std::uint64_t NonZeroMask(const __m256i v[4]) {
  const __m256i zero = _mm256_setzero_si256();
  auto half = [&](__m256i a, __m256i b) {
    // packs interleaves the lanes: a0 b0 a1 b1 in quarters; put them back in order.
    const __m256i z = _mm256_permute4x64_epi64(
        _mm256_packs_epi16(_mm256_cmpeq_epi16(a, zero), _mm256_cmpeq_epi16(b, zero)), 0xD8);
    return static_cast<std::uint32_t>(~_mm256_movemask_epi8(z));
  };
  return half(v[0], v[1]) | static_cast<std::uint64_t>(half(v[2], v[3])) << 32;
}

// The intra matrix per raster index, half of it, and floor(65536 / W).
struct IntraMatrixTables {
  alignas(32) std::int16_t w[64], halfW[64], inverse[64];
  IntraMatrixTables() {
    for (int n = 0; n < 64; ++n) {
      const int m = video_tables::kDefaultIntraMatrix[static_cast<std::size_t>(n)];
      w[n] = static_cast<std::int16_t>(m);
      halfW[n] = static_cast<std::int16_t>(m / 2);
      inverse[n] = static_cast<std::int16_t>(65536 / m);
    }
  }
};

inline __m256i Load256(const void* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// y = (32 |x| + W / 2) / W, then (y + (3 mquant + 2) / 4) / (2 mquant), at most 255, signed as x;
// in 16 bits while 32 |x| + W / 2 does (|x| <= 2046), otherwise the plain code.
std::uint64_t QuantiseIntra(std::int16_t* block, int mquant) {
  static const IntraMatrixTables tables;
  __m256i x[4], a[4];
  __m256i largest = _mm256_setzero_si256();
  for (int i = 0; i < 4; ++i) {
    x[i] = Load256(block + 16 * i);
    a[i] = _mm256_abs_epi16(x[i]);
    largest = _mm256_max_epu16(largest, a[i]);
  }
  __m128i top =
      _mm_max_epu16(_mm256_castsi256_si128(largest), _mm256_extracti128_si256(largest, 1));
  top = _mm_max_epu16(top, _mm_srli_si128(top, 8));
  top = _mm_max_epu16(top, _mm_srli_si128(top, 4));
  top = _mm_max_epu16(top, _mm_srli_si128(top, 2));
  if ((_mm_cvtsi128_si32(top) & 0xFFFF) > 2046)
    return ReferenceKernels().quantiseIntra(block, mquant);

  const int x0 = block[0];
  const __m256i round = _mm256_set1_epi16(static_cast<short>((3 * mquant + 2) / 4));
  const __m256i d2 = _mm256_set1_epi16(static_cast<short>(2 * mquant));
  const __m256i m2 = _mm256_set1_epi16(static_cast<short>(65536 / (2 * mquant)));
  const __m256i most = _mm256_set1_epi16(255);
  __m256i q[4];
  for (int i = 0; i < 4; ++i) {
    const __m256i n = _mm256_add_epi16(_mm256_slli_epi16(a[i], 5), Load256(tables.halfW + 16 * i));
    const __m256i y = DivideU16(n, Load256(tables.w + 16 * i), Load256(tables.inverse + 16 * i));
    const __m256i z = DivideU16(_mm256_add_epi16(y, round), d2, m2);
    q[i] = _mm256_sign_epi16(_mm256_min_epu16(z, most), x[i]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + 16 * i), q[i]);
  }
  // DC with 8 bits of precision.
  block[0] = static_cast<std::int16_t>(x0 >= 0 ? (x0 + 4) / 8 : -((-x0 + 4) / 8));
  q[0] = _mm256_insert_epi16(q[0], block[0], 0);
  return NonZeroMask(q);
}

// ((32 |x| + 8) / 16) / (2 mquant) is |x| / mquant; at most 255, signed as x.
std::uint64_t QuantiseNonIntra(std::int16_t* block, int mquant) {
  const __m256i d = _mm256_set1_epi16(static_cast<short>(mquant));
  const __m256i m = _mm256_set1_epi16(static_cast<short>(65536 / mquant));
  const __m256i most = _mm256_set1_epi16(255);
  __m256i q[4];
  for (int i = 0; i < 4; ++i) {
    const __m256i x = Load256(block + 16 * i);
    const __m256i y = DivideU16(_mm256_abs_epi16(x), d, m);
    q[i] = _mm256_sign_epi16(_mm256_min_epu16(y, most), x);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + 16 * i), q[i]);
  }
  return NonZeroMask(q);
}

inline __m256i Mul(__m256i a, int c) {
  return _mm256_mullo_epi32(a, _mm256_set1_epi32(c));
}

// One pass of the IDCT over eight lines at once (lane l: line l), in 32 bits as the plain code
// computes it: `in[k]` holds input k of each line; the rows (`columns` false) keep 8 more bits,
// the columns round their products with + 4 >> 3 and end with >> 14.
inline void InverseDctPass(const __m256i in[8], __m256i out[8], bool columns) {
  constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;
  const __m256i four = _mm256_set1_epi32(4);
  auto product = [&](__m256i x8, __m256i term) {  // x8 +- W x, rounded in the column pass
    const __m256i v = _mm256_add_epi32(x8, term);
    return columns ? _mm256_srai_epi32(v, 3) : v;
  };
  const int shift = columns ? 8 : 11;
  __m256i x0 =
      _mm256_add_epi32(_mm256_slli_epi32(in[0], shift), _mm256_set1_epi32(columns ? 8192 : 128));
  __m256i x1 = _mm256_slli_epi32(in[4], shift);
  __m256i x2 = in[6], x3 = in[2], x4 = in[1], x5 = in[7], x6 = in[5], x7 = in[3];
  __m256i x8 = Mul(_mm256_add_epi32(x4, x5), W7);
  if (columns) x8 = _mm256_add_epi32(x8, four);
  x4 = product(x8, Mul(x4, W1 - W7));
  x5 = product(x8, Mul(x5, -(W1 + W7)));
  x8 = Mul(_mm256_add_epi32(x6, x7), W3);
  if (columns) x8 = _mm256_add_epi32(x8, four);
  x6 = product(x8, Mul(x6, -(W3 - W5)));
  x7 = product(x8, Mul(x7, -(W3 + W5)));
  x8 = _mm256_add_epi32(x0, x1);
  x0 = _mm256_sub_epi32(x0, x1);
  x1 = Mul(_mm256_add_epi32(x3, x2), W6);
  if (columns) x1 = _mm256_add_epi32(x1, four);
  x2 = product(x1, Mul(x2, -(W2 + W6)));
  x3 = product(x1, Mul(x3, W2 - W6));
  x1 = _mm256_add_epi32(x4, x6);
  x4 = _mm256_sub_epi32(x4, x6);
  x6 = _mm256_add_epi32(x5, x7);
  x5 = _mm256_sub_epi32(x5, x7);
  x7 = _mm256_add_epi32(x8, x3);
  x8 = _mm256_sub_epi32(x8, x3);
  x3 = _mm256_add_epi32(x0, x2);
  x0 = _mm256_sub_epi32(x0, x2);
  const __m256i r128 = _mm256_set1_epi32(128);
  x2 = _mm256_srai_epi32(_mm256_add_epi32(Mul(_mm256_add_epi32(x4, x5), 181), r128), 8);
  x4 = _mm256_srai_epi32(_mm256_add_epi32(Mul(_mm256_sub_epi32(x4, x5), 181), r128), 8);
  const int s = columns ? 14 : 8;
  out[0] = _mm256_srai_epi32(_mm256_add_epi32(x7, x1), s);
  out[1] = _mm256_srai_epi32(_mm256_add_epi32(x3, x2), s);
  out[2] = _mm256_srai_epi32(_mm256_add_epi32(x0, x4), s);
  out[3] = _mm256_srai_epi32(_mm256_add_epi32(x8, x6), s);
  out[4] = _mm256_srai_epi32(_mm256_sub_epi32(x8, x6), s);
  out[5] = _mm256_srai_epi32(_mm256_sub_epi32(x0, x4), s);
  out[6] = _mm256_srai_epi32(_mm256_sub_epi32(x3, x2), s);
  out[7] = _mm256_srai_epi32(_mm256_sub_epi32(x7, x1), s);
}

// The low 16 bits of eight 32-bit lanes, as the plain code's stores to 16 bits keep them.
inline __m128i Narrow(__m256i v) {
  v = _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16);
  return _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

// The rows transposed so that each vector holds one input of all eight rows, then the columns
// the same way. The plain code's shortcuts for lines with only a first input give what the full
// formula gives, so every line takes the formula.
void InverseDct(std::int16_t* block) {
  __m128i r[8];
  for (int i = 0; i < 8; ++i)
    r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
  Transpose8x8(r);
  __m256i in[8], out[8];
  for (int k = 0; k < 8; ++k) in[k] = _mm256_cvtepi16_epi32(r[k]);
  InverseDctPass(in, out, false);
  for (int k = 0; k < 8; ++k) r[k] = Narrow(out[k]);  // r[k]: output k of each row
  Transpose8x8(r);                                    // r[i]: row i
  for (int k = 0; k < 8; ++k) in[k] = _mm256_cvtepi16_epi32(r[k]);
  InverseDctPass(in, out, true);
  const __m256i low = _mm256_set1_epi32(-256), high = _mm256_set1_epi32(255);
  for (int i = 0; i < 8; ++i) {
    const __m256i v = _mm256_min_epi32(_mm256_max_epi32(out[i], low), high);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i),
                     _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
  }
}

}  // namespace

const Kernels* Avx2Kernels() {
  if (!__builtin_cpu_supports("avx2")) return nullptr;
  static const Kernels k = [] {
    Kernels a = Sse2Kernels();
    a.searchWindow = SearchWindow;
    a.sad16Blocks = Sad16Blocks;
    a.halfPelRow = HalfPelRow;
    a.forwardDct = ForwardDct;
    a.forwardDctFloat = ForwardDctFloat;
    a.convertRow = ConvertRow;
    a.filterRow = FilterRow;
    a.filterColumns = FilterColumns;
    a.quantiseIntra = QuantiseIntra;
    a.quantiseNonIntra = QuantiseNonIntra;
    a.inverseDct = InverseDct;
    a.name = "avx2";
    return a;
  }();
  return &k;
}

}  // namespace calvex::video
