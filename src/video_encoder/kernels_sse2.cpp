// SSE2 kernels: the same results as the references in kernels_ref.cpp, bit for bit.
#include <emmintrin.h>

#include <cmath>

#include "video_encoder/kernels.h"
#include "video_encoder/kernels_common.h"

namespace calvex::video {
namespace {

inline __m128i Load16(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline int HorizontalSum64(__m128i v) {
  return _mm_cvtsi128_si32(v) + _mm_cvtsi128_si32(_mm_srli_si128(v, 8));
}

inline int HorizontalSum32(__m128i v) {
  v = _mm_add_epi32(v, _mm_srli_si128(v, 8));
  v = _mm_add_epi32(v, _mm_srli_si128(v, 4));
  return _mm_cvtsi128_si32(v);
}

// (a + b + c + d + 2) >> 2 of 16 byte lanes.
inline __m128i Average4(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
  __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)),
                             _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(d, zero)));
  __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)),
                             _mm_add_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(d, zero)));
  lo = _mm_srli_epi16(_mm_add_epi16(lo, two), 2);
  hi = _mm_srli_epi16(_mm_add_epi16(hi, two), 2);
  return _mm_packus_epi16(lo, hi);
}

// 16 samples of the half-pel interpolation at `p` (next row `q`).
inline __m128i HalfPelSamples(const std::uint8_t* p, const std::uint8_t* q, int hx, int hy) {
  if (!hx && !hy) return Load16(p);
  if (hx && !hy) return _mm_avg_epu8(Load16(p), Load16(p + 1));
  if (!hx) return _mm_avg_epu8(Load16(p), Load16(q));
  return Average4(Load16(p), Load16(p + 1), Load16(q), Load16(q + 1));
}

inline __m128i Load8(const std::uint8_t* p) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

// 8 samples of the half-pel interpolation (reads only the samples the rule needs).
inline __m128i HalfPelRow8(const std::uint8_t* p, const std::uint8_t* q, int hx, int hy) {
  if (!hx && !hy) return Load8(p);
  if (hx && !hy) return _mm_avg_epu8(Load8(p), Load8(p + 1));
  if (!hx) return _mm_avg_epu8(Load8(p), Load8(q));
  const __m128i zero = _mm_setzero_si128();
  __m128i s = _mm_add_epi16(
      _mm_add_epi16(_mm_unpacklo_epi8(Load8(p), zero), _mm_unpacklo_epi8(Load8(p + 1), zero)),
      _mm_add_epi16(_mm_unpacklo_epi8(Load8(q), zero), _mm_unpacklo_epi8(Load8(q + 1), zero)));
  s = _mm_srli_epi16(_mm_add_epi16(s, _mm_set1_epi16(2)), 2);
  return _mm_packus_epi16(s, zero);
}

// Sum of squared differences of 16 bytes, as four 32-bit partial sums.
inline __m128i SquaredDiff(__m128i a, __m128i b) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i dlo = _mm_sub_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
  const __m128i dhi = _mm_sub_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
  return _mm_add_epi32(_mm_madd_epi16(dlo, dlo), _mm_madd_epi16(dhi, dhi));
}

// SAD of a 16 x 16 block, exact when below `limit`, otherwise some value >= `limit`.
int SadLimited(const std::uint8_t* cur, int curStride, const std::uint8_t* ref, int refStride,
               int limit) {
  __m128i acc = _mm_setzero_si128();
  for (int j = 0; j < 16; j += 4) {
    for (int r = 0; r < 4; ++r) {
      acc = _mm_add_epi64(acc, _mm_sad_epu8(Load16(cur), Load16(ref)));
      cur += curStride;
      ref += refStride;
    }
    const int s = HorizontalSum64(acc);
    if (s >= limit) return s;
  }
  return HorizontalSum64(acc);
}

std::uint32_t SearchWindow(const std::uint8_t* cur, int curStride, const std::uint8_t* ref,
                           int refStride, int cols, int rows, const std::uint16_t* rank) {
  std::uint32_t best = 0xFFFFFFFFu;
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x) {
      // A candidate can only win with a SAD at most the best so far, which it then gets exactly.
      const int limit = static_cast<int>(best >> 16) + 1;
      const int sad = SadLimited(cur, curStride, ref + y * refStride + x, refStride, limit);
      if (sad >= limit) continue;
      const std::uint32_t key = static_cast<std::uint32_t>(sad) << 16 | rank[y * kRankStride + x];
      if (key < best) best = key;
    }
  return best;
}

void Sad16Blocks(const std::uint8_t* cur, const std::uint8_t* const* blocks, int count, int stride,
                 int* sads) {
  for (int i = 0; i < count; ++i) {
    __m128i acc = _mm_setzero_si128();
    for (int j = 0; j < 16; ++j)
      acc = _mm_add_epi64(acc,
                          _mm_sad_epu8(Load16(cur + j * stride), Load16(blocks[i] + j * stride)));
    sads[i] = HorizontalSum64(acc);
  }
}

int Sse16(const std::uint8_t* a, const std::uint8_t* b, int stride) {
  __m128i acc = _mm_setzero_si128();
  for (int j = 0; j < 16; ++j)
    acc = _mm_add_epi32(acc, SquaredDiff(Load16(a + j * stride), Load16(b + j * stride)));
  return HorizontalSum32(acc);
}

int SseAverage16(const std::uint8_t* cur, const std::uint8_t* a, const std::uint8_t* b,
                 int stride) {
  __m128i acc = _mm_setzero_si128();
  for (int j = 0; j < 16; ++j) {
    const __m128i p = _mm_avg_epu8(Load16(a + j * stride), Load16(b + j * stride));
    acc = _mm_add_epi32(acc, SquaredDiff(Load16(cur + j * stride), p));
  }
  return HorizontalSum32(acc);
}

void HalfPelRow(const std::uint8_t* p, const std::uint8_t* q, int width, std::uint8_t* h,
                std::uint8_t* v, std::uint8_t* hv) {
  int x = 0;
  // Reads p[x .. x + 16] (and q alike): stop while that stays inside the row.
  for (; x + 17 <= width; x += 16) {
    const __m128i a = Load16(p + x), b = Load16(p + x + 1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h + x), _mm_avg_epu8(a, b));
    if (!q) continue;
    const __m128i c = Load16(q + x), d = Load16(q + x + 1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(v + x), _mm_avg_epu8(a, c));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(hv + x), Average4(a, b, c, d));
  }
  for (; x < width; ++x) {
    if (x + 1 < width) h[x] = static_cast<std::uint8_t>((p[x] + p[x + 1] + 1) >> 1);
    if (!q) continue;
    v[x] = static_cast<std::uint8_t>((p[x] + q[x] + 1) >> 1);
    if (x + 1 < width)
      hv[x] = static_cast<std::uint8_t>((p[x] + p[x + 1] + q[x] + q[x + 1] + 2) >> 2);
  }
}

void Predict(std::uint8_t* dst, int dstStride, const std::uint8_t* ref, int refStride, int size,
             int hx, int hy) {
  if (size == 16) {
    for (int j = 0; j < 16; ++j) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                       HalfPelSamples(ref, ref + refStride, hx, hy));
      dst += dstStride;
      ref += refStride;
    }
    return;
  }
  for (int j = 0; j < size; ++j) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), HalfPelRow8(ref, ref + refStride, hx, hy));
    dst += dstStride;
    ref += refStride;
  }
}

void Average(std::uint8_t* dst, int dstStride, const std::uint8_t* src, int srcStride, int size) {
  for (int j = 0; j < size; ++j) {
    if (size == 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_avg_epu8(Load16(dst), Load16(src)));
    } else {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_avg_epu8(Load8(dst), Load8(src)));
    }
    dst += dstStride;
    src += srcStride;
  }
}

void BlockSums(const std::uint8_t* p, int stride, int sums[4], int squares[4]) {
  const __m128i zero = _mm_setzero_si128();
  for (int half = 0; half < 2; ++half) {
    __m128i s = zero, s2l = zero, s2r = zero;
    for (int j = 0; j < 8; ++j) {
      const __m128i v = Load16(p + (8 * half + j) * stride);
      s = _mm_add_epi64(s, _mm_sad_epu8(v, zero));  // left block low, right block high
      const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
      s2l = _mm_add_epi32(s2l, _mm_madd_epi16(lo, lo));
      s2r = _mm_add_epi32(s2r, _mm_madd_epi16(hi, hi));
    }
    sums[2 * half] = _mm_cvtsi128_si32(s);
    sums[2 * half + 1] = _mm_cvtsi128_si32(_mm_srli_si128(s, 8));
    squares[2 * half] = HorizontalSum32(s2l);
    squares[2 * half + 1] = HorizontalSum32(s2r);
  }
}

void SubtractBlock(const std::uint8_t* src, const std::uint8_t* pred, int stride,
                   std::int16_t* block) {
  const __m128i zero = _mm_setzero_si128();
  for (int y = 0; y < 8; ++y)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * y),
                     _mm_sub_epi16(_mm_unpacklo_epi8(Load8(src + y * stride), zero),
                                   _mm_unpacklo_epi8(Load8(pred + y * stride), zero)));
}

void AddBlock(const std::uint8_t* pred, const std::int16_t* block, int stride, std::uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  for (int y = 0; y < 8; ++y) {
    const __m128i sum =
        _mm_add_epi16(_mm_unpacklo_epi8(Load8(pred + y * stride), zero),
                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * y)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + y * stride), _mm_packus_epi16(sum, sum));
  }
}

// floor() of two doubles into two int32 lanes (SSE2 has no rounding instruction).
inline __m128i FloorToInt(__m128d x) {
  const __m128i t = _mm_cvttpd_epi32(x);
  const __m128d back = _mm_cvtepi32_pd(t);
  const __m128i fix = _mm_castpd_si128(_mm_cmpgt_pd(back, x));  // all ones where trunc > x
  // The compare gives 64-bit masks; take their low 32 bits as the lanes' -1.
  const __m128i m = _mm_shuffle_epi32(fix, _MM_SHUFFLE(3, 3, 2, 0));
  return _mm_add_epi32(t, m);
}

void ForwardDct(std::int16_t* block) {
  const auto& c = DctBasis();
  alignas(16) double ct[8][8];  // ct[k][j] = c[j][k]
  for (int k = 0; k < 8; ++k)
    for (int j = 0; j < 8; ++j) ct[k][j] = c[j][k];
  alignas(16) double tmp[8][8];
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 8; j += 2) {
      __m128d s = _mm_setzero_pd();
      for (int k = 0; k < 8; ++k)
        s = _mm_add_pd(s, _mm_mul_pd(_mm_load_pd(&ct[k][j]), _mm_set1_pd(block[8 * i + k])));
      _mm_store_pd(&tmp[i][j], s);
    }
  }
  const __m128d half = _mm_set1_pd(0.499999);
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 8; j += 2) {
      __m128d s = _mm_setzero_pd();
      for (int k = 0; k < 8; ++k)
        s = _mm_add_pd(s, _mm_mul_pd(_mm_set1_pd(c[i][k]), _mm_load_pd(&tmp[k][j])));
      const __m128i v = FloorToInt(_mm_add_pd(s, half));
      block[8 * i + j] = static_cast<std::int16_t>(_mm_cvtsi128_si32(v));
      block[8 * i + j + 1] = static_cast<std::int16_t>(_mm_cvtsi128_si32(_mm_srli_si128(v, 4)));
    }
  }
}

void ConvertRow(const std::uint8_t* bgr, int count, std::uint8_t* y, std::uint8_t* cb,
                std::uint8_t* cr) {
  const __m128d kr = _mm_set1_pd(0.299), kg = _mm_set1_pd(0.587), kb = _mm_set1_pd(0.114);
  const __m128d half = _mm_set1_pd(0.5), k219 = _mm_set1_pd(219), k224 = _mm_set1_pd(224);
  const __m128d k256 = _mm_set1_pd(256), y0 = _mm_set1_pd(16.5), c0 = _mm_set1_pd(128.5);
  const __m128d oneMinusB = _mm_set1_pd(1 - 0.114), oneMinusR = _mm_set1_pd(1 - 0.299);
  int i = 0;
  for (; i + 2 <= count; i += 2) {
    const std::uint8_t* p = bgr + 3 * i;
    const __m128d b = _mm_set_pd(p[3], p[0]);
    const __m128d g = _mm_set_pd(p[4], p[1]);
    const __m128d r = _mm_set_pd(p[5], p[2]);
    const __m128d yy =
        _mm_add_pd(_mm_add_pd(_mm_mul_pd(kr, r), _mm_mul_pd(kg, g)), _mm_mul_pd(kb, b));
    const __m128d u = _mm_div_pd(_mm_mul_pd(_mm_sub_pd(b, yy), half), oneMinusB);
    const __m128d v = _mm_div_pd(_mm_mul_pd(_mm_sub_pd(r, yy), half), oneMinusR);
    const __m128i ys = _mm_cvttpd_epi32(_mm_add_pd(_mm_div_pd(_mm_mul_pd(yy, k219), k256), y0));
    const __m128i us = _mm_cvttpd_epi32(_mm_add_pd(_mm_div_pd(_mm_mul_pd(u, k224), k256), c0));
    const __m128i vs = _mm_cvttpd_epi32(_mm_add_pd(_mm_div_pd(_mm_mul_pd(v, k224), k256), c0));
    y[i] = static_cast<std::uint8_t>(_mm_cvtsi128_si32(ys));
    y[i + 1] = static_cast<std::uint8_t>(_mm_cvtsi128_si32(_mm_srli_si128(ys, 4)));
    cb[i] = static_cast<std::uint8_t>(_mm_cvtsi128_si32(us));
    cb[i + 1] = static_cast<std::uint8_t>(_mm_cvtsi128_si32(_mm_srli_si128(us, 4)));
    cr[i] = static_cast<std::uint8_t>(_mm_cvtsi128_si32(vs));
    cr[i + 1] = static_cast<std::uint8_t>(_mm_cvtsi128_si32(_mm_srli_si128(vs, 4)));
  }
  for (; i < count; ++i) {
    const ColourSample c = ConvertPixel(bgr[3 * i + 2], bgr[3 * i + 1], bgr[3 * i]);
    y[i] = c.y;
    cb[i] = c.cb;
    cr[i] = c.cr;
  }
}

// Eight filter outputs from the twelve tap inputs t[0..11] (16-bit lanes), tap k at offset
// k - 5 from the output's first sample.
inline __m128i FilterEight(const __m128i t[12]) {
  // Pairs around the centre: (0,1) 228, (-1,2) 70, (-2,3) -37, (-3,4) -21, (-4,5) 11, (-5,6) 5.
  const __m128i p228 = _mm_add_epi16(t[5], t[6]), p70 = _mm_add_epi16(t[4], t[7]);
  const __m128i p37 = _mm_add_epi16(t[3], t[8]), p21 = _mm_add_epi16(t[2], t[9]);
  const __m128i p11 = _mm_add_epi16(t[1], t[10]), p5 = _mm_add_epi16(t[0], t[11]);
  const __m128i c1 = _mm_set_epi16(70, 228, 70, 228, 70, 228, 70, 228);
  const __m128i c2 = _mm_set_epi16(-21, -37, -21, -37, -21, -37, -21, -37);
  const __m128i c3 = _mm_set_epi16(5, 11, 5, 11, 5, 11, 5, 11);
  const __m128i round = _mm_set1_epi32(256);
  __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(p228, p70), c1),
                             _mm_madd_epi16(_mm_unpacklo_epi16(p37, p21), c2));
  lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(p11, p5), c3));
  __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(p228, p70), c1),
                             _mm_madd_epi16(_mm_unpackhi_epi16(p37, p21), c2));
  hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(p11, p5), c3));
  lo = _mm_srai_epi32(_mm_add_epi32(lo, round), 9);
  hi = _mm_srai_epi32(_mm_add_epi32(hi, round), 9);
  return _mm_packs_epi32(lo, hi);
}

void FilterRow(const std::uint8_t* src, int count, std::uint8_t* dst) {
  const __m128i mask = _mm_set1_epi16(0x00FF);
  // Eight outputs per step from the even-indexed bytes of loads at 2o - 5 + k; the last step
  // overlaps the one before, so nothing is read past src[2 count + 4].
  auto eight = [&](int o) {
    __m128i t[12];
    for (int k = 0; k < 12; k += 2) {
      const __m128i v = Load16(src + 2 * o - 5 + k);
      t[k] = _mm_and_si128(v, mask);
      t[k + 1] = _mm_srli_epi16(v, 8);
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + o),
                     _mm_packus_epi16(FilterEight(t), _mm_setzero_si128()));
  };
  if (count < 8) {
    for (int o = 0; o < count; ++o)
      dst[o] = ChromaTap([&](int k) { return static_cast<int>(src[2 * o + k]); });
    return;
  }
  for (int o = 0; o + 8 <= count; o += 8) eight(o);
  if (count % 8) eight(count - 8);
}

void FilterColumns(const std::uint8_t* src, int width, int srcRows, std::uint8_t* dst,
                   int dstRows) {
  const __m128i zero = _mm_setzero_si128();
  for (int o = 0; o < dstRows; ++o) {
    const std::uint8_t* rows[12];
    for (int k = 0; k < 12; ++k) rows[k] = src + ClampIndex(2 * o - 5 + k, srcRows) * width;
    int x = 0;
    for (; x + 8 <= width; x += 8) {
      __m128i t[12];
      for (int k = 0; k < 12; ++k)
        t[k] =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[k] + x)), zero);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + o * width + x),
                       _mm_packus_epi16(FilterEight(t), zero));
    }
    for (; x < width; ++x) dst[o * width + x] = ClampedChromaTap(src + x, width, srcRows, 2 * o);
  }
}

}  // namespace

const Kernels& Sse2Kernels() {
  static const Kernels k = {.searchWindow = SearchWindow,
                            .sad16Blocks = Sad16Blocks,
                            .sse16 = Sse16,
                            .sseAverage16 = SseAverage16,
                            .halfPelRow = HalfPelRow,
                            .predict = Predict,
                            .average = Average,
                            .blockSums = BlockSums,
                            .subtractBlock = SubtractBlock,
                            .forwardDct = ForwardDct,
                            // The float DCT, the quantisers and the IDCT are the plain ones.
                            .forwardDctFloat = ReferenceKernels().forwardDctFloat,
                            .quantiseIntra = ReferenceKernels().quantiseIntra,
                            .quantiseNonIntra = ReferenceKernels().quantiseNonIntra,
                            .inverseDct = ReferenceKernels().inverseDct,
                            .addBlock = AddBlock,
                            .convertRow = ConvertRow,
                            .filterRow = FilterRow,
                            .filterColumns = FilterColumns,
                            .name = "sse2"};
  return k;
}

}  // namespace calvex::video
