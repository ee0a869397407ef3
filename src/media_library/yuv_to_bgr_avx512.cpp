// The full-range YUV to BGR row with AVX-512 (BW, VBMI): sixty-four pixels per step in 16-bit
// lanes, the same sums as the AVX2 row's, and the three components interleaved by two byte
// permutes per 64 output bytes instead of nine shuffles; the row's end by masked loads and
// stores. Other rows go to the AVX2 row. Built with AVX-512 flags and called only after a
// run-time CPU check.

// GCC 12's AVX-512 intrinsics initialise their unused operands from themselves, which its own
// -Wuninitialized then reports where they are inlined.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "media_library/yuv_to_bgr.h"

namespace calvex::media::detail {
namespace {

// Where pixel i (0..63) sits in a component vector packed from its 16-bit values for pixels
// 0..31 and 32..63: the pack works per 128-bit lane, eight values of each half a lane.
constexpr int PackedPosition(int i) {
  return i < 32 ? 16 * (i / 8) + i % 8 : 16 * ((i - 32) / 8) + 8 + (i - 32) % 8;
}

// Byte permutes that build the three 64-byte blocks of 64 BGR pixels from the packed blue,
// green and red vectors: blueGreen[o] picks blue (0..63) or green (64..127) bytes, red[o] with
// redMask[o] merges the red ones in.
struct InterleaveTables {
  std::array<std::array<std::uint8_t, 64>, 3> blueGreen{}, red{};
  std::array<std::uint64_t, 3> redMask{};
  constexpr InterleaveTables() {
    for (int o = 0; o < 3; ++o)
      for (int j = 0; j < 64; ++j) {
        const int n = 64 * o + j, pixel = n / 3, component = n % 3;
        const auto at = static_cast<std::uint8_t>(PackedPosition(pixel));
        if (component == 2) {
          red[o][j] = at;
          redMask[o] |= std::uint64_t{1} << j;
        } else {
          blueGreen[o][j] = static_cast<std::uint8_t>(at + 64 * component);
        }
      }
  }
};
constexpr InterleaveTables kTables;

// Chroma pair m's value for pixels 2m and 2m + 1: lanes p of the first half take value p / 2,
// of the second 16 + p / 2.
struct DoubleTables {
  std::array<std::uint16_t, 32> first{}, second{};
  constexpr DoubleTables() {
    for (int p = 0; p < 32; ++p) {
      first[p] = static_cast<std::uint16_t>(p / 2);
      second[p] = static_cast<std::uint16_t>(16 + p / 2);
    }
  }
};
constexpr DoubleTables kDouble;

// (v x step >> 16) - (step >> 9) of 32 chroma values in 16-bit lanes, as the AVX2 row has it.
__m512i Offsets(__m512i v, std::int32_t step) {
  const __m512i hi = _mm512_mullo_epi16(v, _mm512_set1_epi16(static_cast<short>(step >> 16)));
  const __m512i lo = _mm512_mulhi_epu16(v, _mm512_set1_epi16(static_cast<short>(step & 0xFFFF)));
  return _mm512_sub_epi16(_mm512_add_epi16(hi, lo),
                          _mm512_set1_epi16(static_cast<short>(step >> 9)));
}

// clip(luma + offset) of 64 pixels, packed (see PackedPosition), from the offsets of their 32
// chroma pairs (the bias's shift already added).
__m512i Component(__m512i luma0, __m512i luma1, __m512i offsets) {
  const __m512i first = _mm512_loadu_si512(kDouble.first.data());
  const __m512i second = _mm512_loadu_si512(kDouble.second.data());
  return _mm512_packus_epi16(_mm512_add_epi16(luma0, _mm512_permutexvar_epi16(first, offsets)),
                             _mm512_add_epi16(luma1, _mm512_permutexvar_epi16(second, offsets)));
}

// Mask of the first n lanes (none for n <= 0, all from 64).
inline std::uint64_t FirstLanes(int n) {
  if (n <= 0) return 0;
  return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
}

// Pixels x .. x + count - 1 (count even, 2..64): loads and stores are masked to them.
inline void Pixels(const YuvToBgrTables& t, __m512i shift, const std::uint8_t* y,
                   const std::uint8_t* cb, const std::uint8_t* cr, int count, std::uint8_t* bgr) {
  const std::uint64_t lumaLanes = FirstLanes(count), chromaLanes = FirstLanes(count / 2);
  const __m512i u = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(chromaLanes, cb));
  const __m512i v = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(chromaLanes, cr));
  const __m512i luma = _mm512_maskz_loadu_epi8(lumaLanes, y);
  const __m512i luma0 = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(luma));
  const __m512i luma1 = _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(luma, 1));
  const __m512i red = Component(luma0, luma1, _mm512_add_epi16(Offsets(v, t.steps[0]), shift));
  const __m512i blue = Component(luma0, luma1, _mm512_add_epi16(Offsets(u, t.steps[1]), shift));
  const __m512i green = Component(
      luma0, luma1,
      _mm512_add_epi16(_mm512_add_epi16(Offsets(u, t.steps[2]), Offsets(v, t.steps[3])), shift));
  for (int o = 0; o < 3; ++o) {
    const __m512i blueGreen =
        _mm512_permutex2var_epi8(blue, _mm512_loadu_si512(kTables.blueGreen[o].data()), green);
    const __m512i block = _mm512_mask_permutexvar_epi8(
        blueGreen, kTables.redMask[o], _mm512_loadu_si512(kTables.red[o].data()), red);
    _mm512_mask_storeu_epi8(bgr + 64 * o, FirstLanes(3 * count - 64 * o), block);
  }
}

void RowAvx512(const YuvToBgrTables& t, const std::uint8_t* y, const std::uint8_t* cb,
               const std::uint8_t* cr, int width, std::uint8_t* bgr) {
  if (t.lumaScale != 1 << 16) {
    static const YuvRowToBgrFn scaled = YuvRowToBgrAvx2();
    scaled(t, y, cb, cr, width, bgr);
    return;
  }
  const __m512i shift = _mm512_set1_epi16(static_cast<short>(t.bias >> 16));
  for (int x = 0; x < width; x += 64)
    Pixels(t, shift, y + x, cb + x / 2, cr + x / 2, std::min(64, width - x), bgr + 3 * x);
}

}  // namespace

YuvRowToBgrFn YuvRowToBgrAvx512() {
  if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw") ||
      !__builtin_cpu_supports("avx512vbmi"))
    return nullptr;
  return YuvRowToBgrAvx2() != nullptr ? RowAvx512 : nullptr;
}

}  // namespace calvex::media::detail
