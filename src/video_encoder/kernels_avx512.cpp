// AVX-512 (BW, VL) kernel for the whole-pel search: vdbpsadbw forms the same 4-byte SADs as the
// AVX2 set's mpsadbw, 32 per 512-bit instruction.
// The colour conversion, chroma filters and DCT come from kernels_avx512_pixels.cpp, the other
// kernels from the AVX2 set. Built with -mavx512bw -mavx512vl and called only
// after a run-time CPU check.

// GCC 12's AVX-512 intrinsics initialise their unused operands from themselves, which its own
// -Wuninitialized then reports where they are inlined.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <algorithm>
#include <type_traits>

#include "video_encoder/kernels.h"
#include "video_encoder/kernels_common.h"

namespace calvex::video {
namespace {

inline __m256i LoadTwo(const void* low, const void* high) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

// The window is covered by groups of 8 neighbouring positions of one row, two groups at a time.
// vdbpsadbw gives, in each 128-bit lane, the SADs of one quad (4 bytes) of the block's row
// against 8 positions when its first operand holds the quad in every dword and its second the
// reference's dwords q, q + 1, q + 1, q + 2 from the group's start: c[r] holds quads 0 to 3 of
// row r, one per lane, and spread[y][g] the reference's dwords for each of them from column 8 g
// of row y, laid out once per call (each serves up to 16 block rows). A group's four lanes are
// added up at the checks and at the end: its sums are the SADs the AVX2 kernel forms (below
// 65536), with the same keys, so the result is the same.
std::uint32_t SearchWindow(const std::uint8_t* cur, int curStride, const std::uint8_t* ref,
                           int refStride, int cols, int rows, const std::uint16_t* rank) {
  __m512i c[16];
  const __m512i quadOfLane = _mm512_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3);
#pragma GCC unroll 16
  for (int r = 0; r < 16; ++r)
    c[r] = _mm512_permutexvar_epi32(
        quadOfLane, _mm512_castsi128_si512(
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + r * curStride))));

  const int rowGroups = (cols + 7) / 8;
  constexpr int kMaxRowGroups = (kMaxSearchWindow + 7) / 8;
  __m512i spread[(kMaxSearchWindow + 15) * kMaxRowGroups];
  const __m512i dwords = _mm512_setr_epi32(0, 1, 1, 2, 1, 2, 2, 3, 2, 3, 3, 4, 3, 4, 4, 5);
  // Columns 8 g .. 8 g + 23 of each row, within SearchReadWidth(cols); the last group's load is
  // masked to them, the others' may read on to 8 g + 31.
  for (int y = 0; y < rows + 15; ++y) {
    const std::uint8_t* row = ref + y * refStride;
    for (int g = 0; g < rowGroups - 1; ++g)
      spread[y * rowGroups + g] = _mm512_permutexvar_epi32(
          dwords, _mm512_castsi256_si512(
                      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 8 * g))));
    spread[y * rowGroups + rowGroups - 1] = _mm512_permutexvar_epi32(
        dwords, _mm512_castsi256_si512(_mm256_maskz_loadu_epi32(0x3F, row + 8 * (rowGroups - 1))));
  }

  std::uint16_t groupX[kMaxSearchGroups], groupY[kMaxSearchGroups];
  const int groups = SearchGroupOrder(cols, rows, groupX, groupY);

  const __m256i lane = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i lastColumn = _mm256_set1_epi16(static_cast<short>(cols - 1));
  __m256i best = _mm256_set1_epi32(-1);
  __m256i limit = _mm256_set1_epi16(-1);  // the smallest SAD so far in every lane
  // Two groups at a time; a last odd group (SearchGroupOrder repeats it) alone.
  auto visit = [&](int gi, auto pair) {
    constexpr bool kPair = decltype(pair)::value;
    const int x0 = groupX[gi], y0 = groupY[gi], x1 = groupX[gi + 1], y1 = groupY[gi + 1];
    const __m512i* s0 = spread + y0 * rowGroups + x0 / 8;
    const __m512i* s1 = spread + y1 * rowGroups + x1 / 8;
    // Positions past the window's last column take 0xFFFF, above any real SAD.
    const __mmask16 outside = _mm256_cmpgt_epi16_mask(
        _mm256_add_epi16(lane, _mm256_inserti128_si256(
                                   _mm256_castsi128_si256(_mm_set1_epi16(static_cast<short>(x0))),
                                   _mm_set1_epi16(static_cast<short>(x1)), 1)),
        lastColumn);
    __m512i acc0 = _mm512_setzero_si512(), acc1 = _mm512_setzero_si512();
    // Rows from, from + 4, from + 8 and from + 12 of the block.
    auto addRows = [&](int from) {
#pragma GCC unroll 4
      for (int r = from; r < 16; r += 4) {
        acc0 = _mm512_add_epi16(acc0, _mm512_dbsad_epu8(c[r], s0[r * rowGroups], 0xE4));
        if constexpr (kPair)
          acc1 = _mm512_add_epi16(acc1, _mm512_dbsad_epu8(c[r], s1[r * rowGroups], 0xE4));
      }
    };
    // Lane 0: the first group's sums, lane 1 the second's.
    auto sums = [&] {
      const __m256i t0 =
          _mm256_add_epi16(_mm512_castsi512_si256(acc0), _mm512_extracti64x4_epi64(acc0, 1));
      const __m256i t1 =
          kPair ? _mm256_add_epi16(_mm512_castsi512_si256(acc1), _mm512_extracti64x4_epi64(acc1, 1))
                : t0;
      return _mm256_add_epi16(_mm256_permute2x128_si256(t0, t1, 0x21),
                              _mm256_blend_epi32(t0, t1, 0xF0));
    };
    // The groups are dropped as soon as the sums of some of their rows pass the best SAD: rows
    // 0, 4, 8 and 12 first, spread over the block, whose sums tell the most of the whole.
    addRows(0);
    if (!_mm256_mask_cmple_epu16_mask(~outside, sums(), limit)) return;
    addRows(2);
    if (!_mm256_mask_cmple_epu16_mask(~outside, sums(), limit)) return;
    addRows(1);
    if (!_mm256_mask_cmple_epu16_mask(~outside, sums(), limit)) return;
    addRows(3);
    const __m256i sad = _mm256_mask_mov_epi16(sums(), outside, _mm256_set1_epi16(-1));
    const __m256i rk = LoadTwo(rank + y0 * kRankStride + x0, rank + y1 * kRankStride + x1);
    // Keys (SAD << 16) | rank; the smallest wins.
    best = _mm256_min_epu32(
        best, _mm256_min_epu32(_mm256_unpacklo_epi16(rk, sad), _mm256_unpackhi_epi16(rk, sad)));
    const __m128i m = _mm_min_epu16(_mm256_castsi256_si128(sad), _mm256_extracti128_si256(sad, 1));
    limit = _mm256_min_epu16(limit, _mm256_broadcastw_epi16(_mm_minpos_epu16(m)));
  };
  const int single = rows * rowGroups & 1;
  for (int gi = 0; gi < groups - 2 * single; gi += 2) visit(gi, std::true_type{});
  if (single) visit(groups - 2, std::false_type{});
  __m128i m = _mm_min_epu32(_mm256_castsi256_si128(best), _mm256_extracti128_si256(best, 1));
  m = _mm_min_epu32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
  m = _mm_min_epu32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(m));
}

}  // namespace

const Kernels* Avx512Kernels() {
  if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw") ||
      !__builtin_cpu_supports("avx512vl"))
    return nullptr;
  const Kernels* avx2 = Avx2Kernels();
  if (!avx2) return nullptr;
  static const Kernels k = [avx2] {
    Kernels a = *avx2;
    a.searchWindow = SearchWindow;
    UseAvx512PixelKernels(a);
    a.name = "avx512";
    return a;
  }();
  return &k;
}

}  // namespace calvex::video
