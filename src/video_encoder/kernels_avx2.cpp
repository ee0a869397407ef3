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

inline __m256i LoadTwo(const std::uint8_t* low, const std::uint8_t* high) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

// The window is covered by groups of 8 neighbouring positions of one row, two groups at a time
// (one per 128-bit lane). mpsadbw gives the SADs of a 4-byte quad of the block against 8
// consecutive positions; the four quads of the 16 rows add up to the 16 x 16 SADs in 16-bit lanes
// (at most 255 x 256, so they never overflow).
std::uint32_t SearchWindow(const std::uint8_t* cur, int curStride, const std::uint8_t* ref,
                           int refStride, int cols, int rows, const std::uint16_t* rank) {
  alignas(32) std::uint8_t block[16][32];  // each row of the block in both lanes
  for (int r = 0; r < 16; ++r) {
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + r * curStride));
    _mm256_store_si256(reinterpret_cast<__m256i*>(block[r]),
                       _mm256_inserti128_si256(_mm256_castsi128_si256(row), row, 1));
  }
  constexpr int kMaxGroups = kMaxSearchWindow * ((kMaxSearchWindow + 7) / 8) + 1;
  std::uint16_t groupX[kMaxGroups], groupY[kMaxGroups];
  int groups = 0;
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; x += 8) {
      groupX[groups] = static_cast<std::uint16_t>(x);
      groupY[groups] = static_cast<std::uint16_t>(y);
      ++groups;
    }
  if (groups & 1) {  // the last group again: it cannot change the minimum
    groupX[groups] = groupX[groups - 1];
    groupY[groups] = groupY[groups - 1];
    ++groups;
  }
  const __m256i lane = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i lastColumn = _mm256_set1_epi16(static_cast<short>(cols - 1));
  __m256i best = _mm256_set1_epi32(-1);
  for (int gi = 0; gi < groups; gi += 2) {
    const int x0 = groupX[gi], y0 = groupY[gi], x1 = groupX[gi + 1], y1 = groupY[gi + 1];
    const std::uint8_t* p0 = ref + y0 * refStride + x0;
    const std::uint8_t* p1 = ref + y1 * refStride + x1;
    __m256i acc = _mm256_setzero_si256();
    for (int r = 0; r < 16; ++r) {
      const __m256i c = _mm256_load_si256(reinterpret_cast<const __m256i*>(block[r]));
      const __m256i a = LoadTwo(p0, p1), b = LoadTwo(p0 + 8, p1 + 8);
      // Quad q against the reference from x + 4q: quads 0 and 1 from a, 2 and 3 from b, each
      // lane alike (immediate bits 0-2 for the low lane, 3-5 for the high one).
      acc = _mm256_add_epi16(acc, _mm256_mpsadbw_epu8(a, c, 0x00));
      acc = _mm256_add_epi16(acc, _mm256_mpsadbw_epu8(a, c, 0x2D));
      acc = _mm256_add_epi16(acc, _mm256_mpsadbw_epu8(b, c, 0x12));
      acc = _mm256_add_epi16(acc, _mm256_mpsadbw_epu8(b, c, 0x3F));
      p0 += refStride;
      p1 += refStride;
    }
    // Positions past the window's last column lose: their SAD becomes 0xFFFF, above any real one.
    const __m256i column = _mm256_add_epi16(
        lane,
        _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_set1_epi16(static_cast<short>(x0))),
                                _mm_set1_epi16(static_cast<short>(x1)), 1));
    const __m256i sad = _mm256_or_si256(acc, _mm256_cmpgt_epi16(column, lastColumn));
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

int Sad16(const std::uint8_t* a, const std::uint8_t* b, int stride) {
  __m256i acc = _mm256_setzero_si256();
  for (int j = 0; j < 16; j += 2)
    acc = _mm256_add_epi64(acc, _mm256_sad_epu8(LoadTwoRows(a + j * stride, stride),
                                                LoadTwoRows(b + j * stride, stride)));
  return Sum64(acc);
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
    a.searchWindow = SearchWindow;
    a.sad16 = Sad16;
    a.halfPelRow = HalfPelRow;
    a.forwardDct = ForwardDct;
    a.convertRow = ConvertRow;
    a.name = "avx2";
    return a;
  }();
  return &k;
}

}  // namespace calvex::video
