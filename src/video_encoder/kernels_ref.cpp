// Plain reference kernels: the definitions the fast versions are tested against.
#include <cmath>
#include <cstdlib>

#include "video_encoder/kernels.h"
#include "video_encoder/kernels_common.h"

namespace calvex::video {
namespace {

// Reference sample of the half-pel rule at column x of row `p` (next row `q`).
inline int HalfPelSample(const std::uint8_t* p, const std::uint8_t* q, int x, int hx, int hy) {
  if (!hx && !hy) return p[x];
  if (hx && !hy) return (p[x] + p[x + 1] + 1) >> 1;
  if (!hx && hy) return (p[x] + q[x] + 1) >> 1;
  return (p[x] + p[x + 1] + q[x] + q[x + 1] + 2) >> 2;
}

int SadFullPelRef(const std::uint8_t* cur, const std::uint8_t* ref, int stride, int limit) {
  int s = 0;
  for (int j = 0; j < 16; ++j) {
    for (int i = 0; i < 16; ++i) s += std::abs(cur[i] - ref[i]);
    if (s >= limit) break;
    cur += stride;
    ref += stride;
  }
  return s;
}

int SadHalfPelRef(const std::uint8_t* cur, const std::uint8_t* ref, int stride, int hx, int hy) {
  int s = 0;
  for (int j = 0; j < 16; ++j) {
    for (int i = 0; i < 16; ++i)
      s += std::abs(cur[i] - HalfPelSample(ref, ref + stride, i, hx, hy));
    cur += stride;
    ref += stride;
  }
  return s;
}

int SseHalfPelRef(const std::uint8_t* cur, const std::uint8_t* ref, int stride, int hx, int hy) {
  int s = 0;
  for (int j = 0; j < 16; ++j) {
    for (int i = 0; i < 16; ++i) {
      const int d = cur[i] - HalfPelSample(ref, ref + stride, i, hx, hy);
      s += d * d;
    }
    cur += stride;
    ref += stride;
  }
  return s;
}

int SseBidirectionalRef(const std::uint8_t* cur, const std::uint8_t* refF, int hxf, int hyf,
                        const std::uint8_t* refB, int hxb, int hyb, int stride) {
  int s = 0;
  for (int j = 0; j < 16; ++j) {
    for (int i = 0; i < 16; ++i) {
      const int f = HalfPelSample(refF, refF + stride, i, hxf, hyf);
      const int b = HalfPelSample(refB, refB + stride, i, hxb, hyb);
      const int d = cur[i] - ((f + b + 1) >> 1);
      s += d * d;
    }
    cur += stride;
    refF += stride;
    refB += stride;
  }
  return s;
}

void PredictRef(std::uint8_t* dst, int dstStride, const std::uint8_t* ref, int refStride, int size,
                int hx, int hy) {
  for (int j = 0; j < size; ++j) {
    for (int i = 0; i < size; ++i)
      dst[i] = static_cast<std::uint8_t>(HalfPelSample(ref, ref + refStride, i, hx, hy));
    dst += dstStride;
    ref += refStride;
  }
}

void AverageRef(std::uint8_t* dst, const std::uint8_t* src, int stride, int size) {
  for (int j = 0; j < size; ++j) {
    for (int i = 0; i < size; ++i) dst[i] = static_cast<std::uint8_t>((dst[i] + src[i] + 1) >> 1);
    dst += stride;
    src += stride;
  }
}

void BlockSumsRef(const std::uint8_t* p, int stride, int size, int* sum, int* sumSquares) {
  int s = 0, s2 = 0;
  for (int j = 0; j < size; ++j) {
    for (int i = 0; i < size; ++i) {
      s += p[i];
      s2 += p[i] * p[i];
    }
    p += stride;
  }
  *sum = s;
  *sumSquares = s2;
}

void ForwardDctRef(std::int16_t* block) {
  const auto& c = DctBasis();
  double tmp[8][8];
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) {
      double s = 0.0;
      for (int k = 0; k < 8; ++k) s += c[j][k] * block[8 * i + k];
      tmp[i][j] = s;
    }
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) {
      double s = 0.0;
      for (int k = 0; k < 8; ++k) s += c[i][k] * tmp[k][j];
      block[8 * i + j] = static_cast<std::int16_t>(std::floor(s + 0.499999));
    }
}

void ConvertRowRef(const std::uint8_t* bgr, int count, std::uint8_t* y, std::uint8_t* cb,
                   std::uint8_t* cr) {
  for (int i = 0; i < count; ++i) {
    const ColourSample c = ConvertPixel(bgr[3 * i + 2], bgr[3 * i + 1], bgr[3 * i]);
    y[i] = c.y;
    cb[i] = c.cb;
    cr[i] = c.cr;
  }
}

void FilterRowRef(const std::uint8_t* src, int srcLength, std::uint8_t* dst, int count) {
  for (int o = 0; o < count; ++o) dst[o] = ChromaTap(src, 1, srcLength, 2 * o);
}

void FilterColumnsRef(const std::uint8_t* src, int width, int srcRows, std::uint8_t* dst,
                      int dstRows) {
  for (int o = 0; o < dstRows; ++o)
    for (int x = 0; x < width; ++x) dst[o * width + x] = ChromaTap(src + x, width, srcRows, 2 * o);
}

}  // namespace

const double (&DctBasis())[8][8] {
  struct Table {
    double c[8][8];
    Table() {
      for (int k = 0; k < 8; ++k) {
        const double s = k == 0 ? std::sqrt(0.125) : 0.5;
        for (int n = 0; n < 8; ++n) c[k][n] = s * std::cos(M_PI / 8.0 * k * (n + 0.5));
      }
    }
  };
  static const Table table;
  return table.c;
}

const Kernels& ReferenceKernels() {
  static const Kernels k = {SadFullPelRef, SadHalfPelRef, SseHalfPelRef,    SseBidirectionalRef,
                            PredictRef,    AverageRef,    BlockSumsRef,     ForwardDctRef,
                            ConvertRowRef, FilterRowRef,  FilterColumnsRef, "reference"};
  return k;
}

const Kernels& KernelsForCpu() {
  if (const Kernels* k = Avx2Kernels()) return *k;
  return Sse2Kernels();
}

}  // namespace calvex::video
