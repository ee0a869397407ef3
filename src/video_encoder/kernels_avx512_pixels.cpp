// AVX-512 (F, BW, VL, DQ) kernels for the picture's pixels: the colour conversion sixteen pixels a
// step, the chroma filters and the double-precision DCT eight lines a vector. They give exactly
// what the AVX2 ones give; called only after a run-time CPU check.

// GCC 12's AVX-512 intrinsics initialise their unused operands from themselves, which its own
// -Wuninitialized then reports where they are inlined.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <cstddef>

#include "mpeg_video/transpose_sse2.h"
#include "video_encoder/colour_rounding_exceptions.h"
#include "video_encoder/dct_butterfly.h"
#include "video_encoder/kernels.h"
#include "video_encoder/kernels_common.h"

namespace calvex::video {
namespace {

// floor(n / d) of sixteen non-negative n < 2^26 for a divisor d = 2^kShift kOdd of the colour
// conversion, whose quotients are below 256. m = floor(n / 2^kShift) < 2^24 is exact in floats,
// and floor(n / d) = floor(m / kOdd). The product of m and a reciprocal of kOdd biased up by 2^-20
// (the two float roundings move it by less than 2^-23 more, relatively) reaches q where
// m = q kOdd, and for m <= (q + 1) kOdd - 1 stays below q + 1, since (q + 1) (2^-20 + 2^-23) is
// below 1 / kOdd for the kOdd (125, 443, 701) and q (< 256) here: its integer part is the
// quotient.
template <int kShift, int kOdd>
inline __m512i Divide(__m512i n) {
  static_assert(256 * (1.0 / (1 << 20) + 1.0 / (1 << 23)) < 1.0 / kOdd);
  const __m512 inverse = _mm512_set1_ps(static_cast<float>((1.0 + 1.0 / (1 << 20)) / kOdd));
  return _mm512_cvttps_epi32(
      _mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_srli_epi32(n, kShift)), inverse));
}

// The quotients of Cb and Cr (components 1 and 2) that the colours of
// colour_rounding_exceptions.h have, as 256-bit sets: bit q of dwords 0..7.
struct ListedQuotients {
  __m512i cb, cr;
  ListedQuotients() {
    alignas(64) std::uint32_t words[3][16] = {};  // by component
    for (const std::uint32_t e : kColourRoundingExceptions) {
      const int component = static_cast<int>(e & 3);
      if (component == 0) continue;  // Y: ConvertRow tests its numerators' low bits instead
      const int r = static_cast<int>(e >> 18), g = static_cast<int>(e >> 10 & 255),
                b = static_cast<int>(e >> 2 & 255);
      const int s = 299 * r + 587 * g + 114 * b;
      const int q = component == 1 ? (7 * (1000 * b - s) + 1821616) / 14176
                                   : (7 * (1000 * r - s) + 1441256) / 11216;
      words[component][q >> 5] |= 1u << (q & 31);
    }
    cb = _mm512_load_si512(words[1]);
    cr = _mm512_load_si512(words[2]);
  }
};

// The lanes where n = q d, and q is in the set `listed`.
inline __mmask16 ExactAtListed(__m512i n, __m512i q, int d, __m512i listed) {
  const __mmask16 exact = _mm512_cmpeq_epi32_mask(n, _mm512_mullo_epi32(q, _mm512_set1_epi32(d)));
  // Dword q / 32 of the set, rotated to put bit q % 32 at the bottom.
  const __m512i word =
      _mm512_rorv_epi32(_mm512_permutexvar_epi32(_mm512_srli_epi32(q, 5), listed), q);
  return _mm512_mask_test_epi32_mask(exact, word, _mm512_set1_epi32(1));
}

// The integer formulas of the AVX2 set (see its ConvertRow): with s = 299 R + 587 G + 114 B,
// Y = floor((219 s + 4224000) / 256000), Cb = floor((7 (1000 B - s) + 1821616) / 14176) and
// Cr = floor((7 (1000 R - s) + 1441256) / 11216), lowered by one for the colours of
// colour_rounding_exceptions.h where the division is exact.
void ConvertRow(const std::uint8_t* bgr, int count, std::uint8_t* y, std::uint8_t* cb,
                std::uint8_t* cr) {
  if (count < 16) {
    Avx2Kernels()->convertRow(bgr, count, y, cb, cr);
    return;
  }
  // The 48 bytes of sixteen pixels, four pixels (12 bytes, from dword 3 k) to 128-bit lane k;
  // in each lane (R, G) as 16-bit pairs, and B, as in the AVX2 kernel.
  const __m512i spread = _mm512_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6, 6, 7, 8, 9, 9, 10, 11, 12);
  const __m512i pickRg = _mm512_broadcast_i32x4(
      _mm_setr_epi8(2, -1, 1, -1, 5, -1, 4, -1, 8, -1, 7, -1, 11, -1, 10, -1));
  const __m512i pickB = _mm512_broadcast_i32x4(
      _mm_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1));
  const __m512i rgWeights = _mm512_set1_epi32(587 << 16 | 299);
  const __m512i bWeight = _mm512_set1_epi32(114);
  const __m512i r7000 = _mm512_set1_epi32(7000);  // on the (R, G) pair: 7000 R
  constexpr __mmask64 k48Bytes = (__mmask64{1} << 48) - 1;
  static const ListedQuotients listed;
  // Sixteen pixels per step; the last step overlaps the one before.
  for (int next = 0; next < count; next += 16) {
    const int i = next + 16 <= count ? next : count - 16;
    const __m512i px =
        _mm512_permutexvar_epi32(spread, _mm512_maskz_loadu_epi8(k48Bytes, bgr + 3 * i));
    const __m512i rg = _mm512_shuffle_epi8(px, pickRg), b = _mm512_shuffle_epi8(px, pickB);
    const __m512i s =
        _mm512_add_epi32(_mm512_madd_epi16(rg, rgWeights), _mm512_madd_epi16(b, bWeight));
    const __m512i s7 = _mm512_sub_epi32(_mm512_slli_epi32(s, 3), s);
    const __m512i ny =
        _mm512_add_epi32(_mm512_mullo_epi32(s, _mm512_set1_epi32(219)), _mm512_set1_epi32(4224000));
    const __m512i nb = _mm512_add_epi32(_mm512_sub_epi32(_mm512_madd_epi16(b, r7000), s7),
                                        _mm512_set1_epi32(1821616));
    const __m512i nr = _mm512_add_epi32(_mm512_sub_epi32(_mm512_madd_epi16(rg, r7000), s7),
                                        _mm512_set1_epi32(1441256));
    const __m512i qy = Divide<11, 125>(ny), qb = Divide<5, 443>(nb), qr = Divide<4, 701>(nr);
    // The quotients are 16 .. 240: their low bytes.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + i), _mm512_cvtepi32_epi8(qy));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cb + i), _mm512_cvtepi32_epi8(qb));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cr + i), _mm512_cvtepi32_epi8(qr));
    // A listed colour's component divides exactly, so its pixel is among these lanes: those whose
    // Y numerator is a multiple of 2^11 (one in 2048), and those whose Cb or Cr divides exactly
    // at a quotient that a listed colour has. Natural pictures have exact divisions of Cb or Cr
    // at other quotients in a pixel or two of a hundred (saturated colours): a lane test for each
    // would cost more than these vector tests.
    const unsigned candidates = _mm512_testn_epi32_mask(ny, _mm512_set1_epi32(2047)) |
                                ExactAtListed(nb, qb, 14176, listed.cb) |
                                ExactAtListed(nr, qr, 11216, listed.cr);
    for (unsigned lanes = candidates; lanes; lanes &= lanes - 1) {
      const int at = i + __builtin_ctz(lanes);
      const int lower = ColourRoundingException(bgr[3 * at + 2], bgr[3 * at + 1], bgr[3 * at]);
      if (lower >= 0) --(lower == 0 ? y : (lower == 1 ? cb : cr))[at];
    }
  }
}

// The DCT basis for both forms of the transform: c[j][k] broadcast, and ct[k] = column k of the
// basis (c[i][k] for i = 0..7).
struct DctTables {
  __m512d c[8][8];
  __m512d ct[8];
  DctTables() {
    const auto& b = DctBasis();
    for (int j = 0; j < 8; ++j)
      for (int k = 0; k < 8; ++k) c[j][k] = _mm512_set1_pd(b[j][k]);
    for (int k = 0; k < 8; ++k)
      ct[k] =
          _mm512_setr_pd(b[0][k], b[1][k], b[2][k], b[3][k], b[4][k], b[5][k], b[6][k], b[7][k]);
  }
};

__attribute__((always_inline)) inline const DctTables& Tables() {
  static const DctTables tables;
  return tables;
}

inline __m256i Floor(__m512d t) {
  return _mm512_cvt_roundpd_epi32(t, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
}

// Rows of eight coefficients (lanes: columns) rounded down, stored as 16-bit values saturated as
// packs does; two rows a 256-bit store.
inline void StoreRows(std::int16_t* block, const __m512d t[8]) {
#pragma GCC unroll 4
  for (int i = 0; i < 8; i += 2) {
    const __m512i pair =
        _mm512_inserti64x4(_mm512_castsi256_si512(Floor(t[i])), Floor(t[i + 1]), 1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + 8 * i), _mm512_cvtsepi32_epi16(pair));
  }
}

// The term-by-term sums of the plain kernel, in its order (k = 0..7) and with no fused
// multiply-add, eight outputs a vector: along each row (lanes: its outputs j, c[j][k] against
// its sample k, broadcast), then down the columns (lanes: j, c[i][k], broadcast, against row k's
// sums), which leaves the outputs a row a vector.
__attribute__((noinline)) void ForwardDctExact(std::int16_t* block) {
  const DctTables& tables = Tables();
  alignas(64) double x[64];
  for (int i = 0; i < 64; i += 8)
    _mm512_store_pd(x + i, _mm512_cvtepi32_pd(_mm256_cvtepi16_epi32(
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i)))));
  __m512d rows[8];  // rows[i]: the sums of row i
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) {
    __m512d s = _mm512_mul_pd(tables.ct[0], _mm512_set1_pd(x[8 * i]));
#pragma GCC unroll 7
    for (int k = 1; k < 8; ++k)
      s = _mm512_add_pd(s, _mm512_mul_pd(tables.ct[k], _mm512_set1_pd(x[8 * i + k])));
    rows[i] = s;
  }
  const __m512d half = _mm512_set1_pd(0.499999);
  __m512d n[8];
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) {
    __m512d a = _mm512_mul_pd(tables.c[i][0], rows[0]);
#pragma GCC unroll 7
    for (int k = 1; k < 8; ++k) a = _mm512_add_pd(a, _mm512_mul_pd(tables.c[i][k], rows[k]));
    n[i] = _mm512_add_pd(a, half);
  }
  StoreRows(block, n);
}

// The factorised DCT (dct_butterfly.h) of 32-bit integers: their sums and differences are exact
// in 32 bits as in doubles, so they are formed before the conversion, in narrower vectors, with
// the same results.
__attribute__((always_inline)) inline void Dct8OfIntegers(const __m256i x[8], __m512d y[8],
                                                          const __m512d c[8][8]) {
  __m256i s[4];
  __m512d d[4];
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    s[k] = _mm256_add_epi32(x[k], x[7 - k]);
    d[k] = _mm512_cvtepi32_pd(_mm256_sub_epi32(x[k], x[7 - k]));
  }
  const __m256i e0 = _mm256_add_epi32(s[0], s[3]), e1 = _mm256_add_epi32(s[1], s[2]);
  dct::Dct8Products(_mm512_cvtepi32_pd(_mm256_add_epi32(e0, e1)),
                    _mm512_cvtepi32_pd(_mm256_sub_epi32(e0, e1)),
                    _mm512_cvtepi32_pd(_mm256_sub_epi32(s[0], s[3])),
                    _mm512_cvtepi32_pd(_mm256_sub_epi32(s[1], s[2])), d, y, c);
}

// Transposes the 8 x 8 block of doubles r[0..7] (one row each) in place.
inline void TransposeDoubles8x8(__m512d r[8]) {
  __m512d t[8], u[8];
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    t[2 * i] = _mm512_unpacklo_pd(r[2 * i], r[2 * i + 1]);      // elements 0, 2, 4, 6 of the pair
    t[2 * i + 1] = _mm512_unpackhi_pd(r[2 * i], r[2 * i + 1]);  // 1, 3, 5, 7
  }
  // u[4 h + e]: elements e, e + 4 (e: 0, 2, 1, 3) of rows 4 h .. 4 h + 3.
  const __m512i first = _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13);
  const __m512i second = _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15);
#pragma GCC unroll 2
  for (int h = 0; h < 2; ++h) {
    u[4 * h] = _mm512_permutex2var_pd(t[4 * h], first, t[4 * h + 2]);
    u[4 * h + 1] = _mm512_permutex2var_pd(t[4 * h], second, t[4 * h + 2]);
    u[4 * h + 2] = _mm512_permutex2var_pd(t[4 * h + 1], first, t[4 * h + 3]);
    u[4 * h + 3] = _mm512_permutex2var_pd(t[4 * h + 1], second, t[4 * h + 3]);
  }
  constexpr int element[4] = {0, 2, 1, 3};
#pragma GCC unroll 4
  for (int e = 0; e < 4; ++e) {
    r[element[e]] = _mm512_shuffle_f64x2(u[e], u[4 + e], 0x44);
    r[element[e] + 4] = _mm512_shuffle_f64x2(u[e], u[4 + e], 0xEE);
  }
}

// The AVX2 set's factorised transform and its check (see its ForwardDct for the error bound: it
// holds for either order of the passes), with eight lines in one vector: along the rows of the
// transposed block (lane i: row i), transposed, then down the columns, whose outputs come out a
// row a vector. A block with a coefficient within kMargin of a rounding step is computed term by
// term.
void ForwardDct(std::int16_t* block) {
  const DctTables& tables = Tables();
  constexpr double kMargin = 1e-8;
  __m128i r[8];
  if (!dct::LoadRows(block, r)) return;
  Transpose8x8(r);  // r[k]: sample k of each row
  __m256i samples[8];
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) samples[k] = _mm256_cvtepi16_epi32(r[k]);
  __m512d x[8], v[8];
  Dct8OfIntegers(samples, v, tables.c);  // v[j]: coefficient j of each row
  TransposeDoubles8x8(v);                // v[i]: the coefficients of row i
  dct::Dct8(v, x, tables.c);  // x[u]: vertical coefficient u of each column of coefficients
  // t = s + 0.499999 steps its rounding at whole numbers: the block is doubtful where some t lies
  // within kMargin of one. vreducepd gives t less the nearest whole number (exactly), vrangepd
  // keeps the smallest magnitude.
  const __m512d half = _mm512_set1_pd(0.499999);
  __m512d nearest[2] = {_mm512_set1_pd(1.0), _mm512_set1_pd(1.0)};
#pragma GCC unroll 8
  for (int u = 0; u < 8; ++u) {
    x[u] = _mm512_add_pd(x[u], half);
    nearest[u & 1] = _mm512_range_pd(
        nearest[u & 1], _mm512_reduce_pd(x[u], _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC),
        0x0A);
  }
  if (_mm512_cmp_pd_mask(_mm512_min_pd(nearest[0], nearest[1]), _mm512_set1_pd(kMargin),
                         _CMP_LT_OQ)) {
    ForwardDctExact(block);
    return;
  }
  StoreRows(block, x);
}

// The AVX2 set's chroma filter (FilterSixteen there) on 32 outputs: from the twelve tap inputs
// t[0..11] (16-bit lanes), tap k at offset k - 5 from the output's first sample, the outputs as
// bytes in lane order.
inline __m256i FilterThirtyTwo(const __m512i t[12]) {
  // Pairs around the centre: (0,1) 228, (-1,2) 70, (-2,3) -37, (-3,4) -21, (-4,5) 11, (-5,6) 5.
  const __m512i p228 = _mm512_add_epi16(t[5], t[6]), p70 = _mm512_add_epi16(t[4], t[7]);
  const __m512i p37 = _mm512_add_epi16(t[3], t[8]), p21 = _mm512_add_epi16(t[2], t[9]);
  const __m512i p11 = _mm512_add_epi16(t[1], t[10]), p5 = _mm512_add_epi16(t[0], t[11]);
  const __m512i c1 = _mm512_set1_epi32(70 << 16 | 228);
  const __m512i c2 = _mm512_set1_epi32(static_cast<int>(0xFFEBFFDBu));  // -21, -37
  const __m512i c3 = _mm512_set1_epi32(5 << 16 | 11);
  const __m512i round = _mm512_set1_epi32(256);
  __m512i lo = _mm512_add_epi32(_mm512_madd_epi16(_mm512_unpacklo_epi16(p228, p70), c1),
                                _mm512_madd_epi16(_mm512_unpacklo_epi16(p37, p21), c2));
  lo = _mm512_add_epi32(lo, _mm512_madd_epi16(_mm512_unpacklo_epi16(p11, p5), c3));
  __m512i hi = _mm512_add_epi32(_mm512_madd_epi16(_mm512_unpackhi_epi16(p228, p70), c1),
                                _mm512_madd_epi16(_mm512_unpackhi_epi16(p37, p21), c2));
  hi = _mm512_add_epi32(hi, _mm512_madd_epi16(_mm512_unpackhi_epi16(p11, p5), c3));
  lo = _mm512_srai_epi32(_mm512_add_epi32(lo, round), 9);
  hi = _mm512_srai_epi32(_mm512_add_epi32(hi, round), 9);
  // packs per 128-bit lane undoes the unpacks' order; then clipped to 0..255.
  const __m512i v = _mm512_max_epi16(_mm512_packs_epi32(lo, hi), _mm512_setzero_si512());
  return _mm512_cvtusepi16_epi8(v);
}

// The row filter as sums of products of neighbouring pairs: with the line's bytes from 2o - 5 + 2j
// as 16-bit lanes, dword o holds taps 2j and 2j + 1 of output o, which vpmaddwd weighs together.
// Sixteen outputs per step, the last step overlapping the one before; a step reads
// src[2o - 5 .. 2o + 36], so nothing past src[2 count + 4].
void FilterRow(const std::uint8_t* src, int count, std::uint8_t* dst) {
  if (count < 16) {
    Avx2Kernels()->filterRow(src, count, dst);
    return;
  }
  auto pair = [](int low, int high) {
    return _mm512_set1_epi32(
        static_cast<int>(static_cast<std::uint32_t>(high) << 16 | static_cast<std::uint16_t>(low)));
  };
  const __m512i weights[6] = {pair(5, 11),   pair(-21, -37), pair(70, 228),
                              pair(228, 70), pair(-37, -21), pair(11, 5)};
  auto sixteen = [&](int o) {
    const std::uint8_t* p = src + 2 * o - 5;
    __m512i sum = _mm512_set1_epi32(256);
#pragma GCC unroll 6
    for (int j = 0; j < 6; ++j)
      sum =
          _mm512_add_epi32(sum, _mm512_madd_epi16(_mm512_cvtepu8_epi16(_mm256_loadu_si256(
                                                      reinterpret_cast<const __m256i*>(p + 2 * j))),
                                                  weights[j]));
    const __m512i v = _mm512_max_epi32(_mm512_srai_epi32(sum, 9), _mm512_setzero_si512());
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o), _mm512_cvtusepi32_epi8(v));
  };
  for (int o = 0; o + 16 <= count; o += 16) sixteen(o);
  if (count % 16) sixteen(count - 16);
}

void FilterColumns(const std::uint8_t* src, int width, int srcRows, std::uint8_t* dst,
                   int dstRows) {
  if (width < 32) {
    Avx2Kernels()->filterColumns(src, width, srcRows, dst, dstRows);
    return;
  }
  for (int o = 0; o < dstRows; ++o) {
    const std::uint8_t* rows[12];
    for (int k = 0; k < 12; ++k)
      rows[k] = src + static_cast<std::ptrdiff_t>(ClampIndex(2 * o - 5 + k, srcRows)) * width;
    std::uint8_t* out = dst + static_cast<std::ptrdiff_t>(o) * width;
    auto thirtyTwo = [&](int x) {
      __m512i t[12];
      for (int k = 0; k < 12; ++k)
        t[k] =
            _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k] + x)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), FilterThirtyTwo(t));
    };
    for (int x = 0; x + 32 <= width; x += 32) thirtyTwo(x);
    if (width % 32) thirtyTwo(width - 32);
  }
}

}  // namespace

// The file is built with -mavx512dq too (the DCT's check takes vreducepd and vrangepd), so its
// kernels go together, on processors that have DQ as well: all with BW and VL do.
void UseAvx512PixelKernels(Kernels& k) {
  if (!__builtin_cpu_supports("avx512dq")) return;
  k.convertRow = ConvertRow;
  k.forwardDct = ForwardDct;
  k.filterRow = FilterRow;
  k.filterColumns = FilterColumns;
}

}  // namespace calvex::video
