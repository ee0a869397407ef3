// The factorised 8-point DCT of the vector kernel sets, written once over the lane type so that
// every set does the same operations in the same order: the exactness check of the double
// transform and the float transform's equality with the plain kernel rest on that order.
// Included by kernel files built for AVX2 or AVX-512; each sees the lane types its flags allow.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace calvex::video::dct {

#ifdef __AVX__
// Loads the eight rows of a block; false when all its samples are zero, as its transform is.
inline bool LoadRows(const std::int16_t* block, __m128i r[8]) {
  __m128i any = _mm_setzero_si128();
#pragma GCC unroll 8
  for (int i = 0; i < 8; ++i) {
    r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
    any = _mm_or_si128(any, r[i]);
  }
  return !_mm_testz_si128(any, any);
}

inline __m256d Add(__m256d a, __m256d b) {
  return _mm256_add_pd(a, b);
}
inline __m256d Sub(__m256d a, __m256d b) {
  return _mm256_sub_pd(a, b);
}
inline __m256d Mul(__m256d a, __m256d b) {
  return _mm256_mul_pd(a, b);
}
inline __m256 Add(__m256 a, __m256 b) {
  return _mm256_add_ps(a, b);
}
inline __m256 Sub(__m256 a, __m256 b) {
  return _mm256_sub_ps(a, b);
}
inline __m256 Mul(__m256 a, __m256 b) {
  return _mm256_mul_ps(a, b);
}
#endif
#ifdef __AVX512F__
inline __m512d Add(__m512d a, __m512d b) {
  return _mm512_add_pd(a, b);
}
inline __m512d Sub(__m512d a, __m512d b) {
  return _mm512_sub_pd(a, b);
}
inline __m512d Mul(__m512d a, __m512d b) {
  return _mm512_mul_pd(a, b);
}
#endif

// The products of the transform, from the sums a = e0 + e1, b = e0 - e1, f0, f1 and the
// differences d[0..3] of Dct8 below; c[j][k]: basis entry (j, k) broadcast, k < 4 read.
template <typename V, typename Basis>
__attribute__((always_inline)) inline void Dct8Products(V a, V b, V f0, V f1, const V d[4], V y[8],
                                                        const Basis& c) {
  y[0] = Mul(c[0][0], a);
  y[4] = Mul(c[4][0], b);
  y[2] = Add(Mul(c[2][0], f0), Mul(c[2][1], f1));
  y[6] = Add(Mul(c[6][0], f0), Mul(c[6][1], f1));
#pragma GCC unroll 4
  for (int j = 1; j < 8; j += 2)
    y[j] = Add(Add(Mul(c[j][0], d[0]), Mul(c[j][1], d[1])),
               Add(Mul(c[j][2], d[2]), Mul(c[j][3], d[3])));
}

// An 8-point DCT across the vectors x[0..7] (independent lines, one per lane), factorised by the
// symmetry c[j][7 - k] = +-c[j][k]: 22 products instead of 64. For floats these are the
// operations of the plain kernel's Dct8Float, in its order.
template <typename V, typename Basis>
__attribute__((always_inline)) inline void Dct8(const V x[8], V y[8], const Basis& c) {
  V s[4], d[4];
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    s[k] = Add(x[k], x[7 - k]);
    d[k] = Sub(x[k], x[7 - k]);
  }
  const V e0 = Add(s[0], s[3]), e1 = Add(s[1], s[2]);
  Dct8Products(Add(e0, e1), Sub(e0, e1), Sub(s[0], s[3]), Sub(s[1], s[2]), d, y, c);
}

}  // namespace calvex::video::dct
