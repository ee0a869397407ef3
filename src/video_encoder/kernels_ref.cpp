// Plain reference kernels: the definitions the fast versions are tested against.
#include <cmath>
#include <cstdlib>

#include "video_encoder/kernels.h"
#include "video_encoder/kernels_common.h"
#include "video_encoder/transform.h"

namespace calvex::video {
namespace {

// Reference sample of the half-pel rule at column x of row `p` (next row `q`).
inline int HalfPelSample(const std::uint8_t* p, const std::uint8_t* q, int x, int hx, int hy) {
  if (!hx && !hy) return p[x];
  if (hx && !hy) return (p[x] + p[x + 1] + 1) >> 1;
  if (!hx && hy) return (p[x] + q[x] + 1) >> 1;
  return (p[x] + p[x + 1] + q[x] + q[x + 1] + 2) >> 2;
}

int SadRows(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride) {
  int s = 0;
  for (int j = 0; j < 16; ++j)
    for (int i = 0; i < 16; ++i) s += std::abs(a[j * aStride + i] - b[j * bStride + i]);
  return s;
}

std::uint32_t SearchWindowRef(const std::uint8_t* cur, int curStride, const std::uint8_t* ref,
                              int refStride, int cols, int rows, const std::uint16_t* rank) {
  std::uint32_t best = 0xFFFFFFFFu;
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x) {
      const int sad = SadRows(cur, curStride, ref + y * refStride + x, refStride);
      const std::uint32_t key = static_cast<std::uint32_t>(sad) << 16 | rank[y * kRankStride + x];
      if (key < best) best = key;
    }
  return best;
}

void Sad16BlocksRef(const std::uint8_t* cur, const std::uint8_t* const* blocks, int count,
                    int stride, int* sads) {
  for (int i = 0; i < count; ++i) sads[i] = SadRows(cur, stride, blocks[i], stride);
}

int Sse16Ref(const std::uint8_t* a, const std::uint8_t* b, int stride) {
  int s = 0;
  for (int j = 0; j < 16; ++j)
    for (int i = 0; i < 16; ++i) {
      const int d = a[j * stride + i] - b[j * stride + i];
      s += d * d;
    }
  return s;
}

int SseAverage16Ref(const std::uint8_t* cur, const std::uint8_t* a, const std::uint8_t* b,
                    int stride) {
  int s = 0;
  for (int j = 0; j < 16; ++j)
    for (int i = 0; i < 16; ++i) {
      const int o = j * stride + i;
      const int d = cur[o] - ((a[o] + b[o] + 1) >> 1);
      s += d * d;
    }
  return s;
}

void HalfPelRowRef(const std::uint8_t* p, const std::uint8_t* q, int width, std::uint8_t* h,
                   std::uint8_t* v, std::uint8_t* hv) {
  for (int x = 0; x + 1 < width; ++x)
    h[x] = static_cast<std::uint8_t>(HalfPelSample(p, q, x, 1, 0));
  if (!q) return;
  for (int x = 0; x < width; ++x) v[x] = static_cast<std::uint8_t>(HalfPelSample(p, q, x, 0, 1));
  for (int x = 0; x + 1 < width; ++x)
    hv[x] = static_cast<std::uint8_t>(HalfPelSample(p, q, x, 1, 1));
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

void AverageRef(std::uint8_t* dst, int dstStride, const std::uint8_t* src, int srcStride,
                int size) {
  for (int j = 0; j < size; ++j) {
    for (int i = 0; i < size; ++i) dst[i] = static_cast<std::uint8_t>((dst[i] + src[i] + 1) >> 1);
    dst += dstStride;
    src += srcStride;
  }
}

void BlockSumsRef(const std::uint8_t* p, int stride, int sums[4], int squares[4]) {
  for (int b = 0; b < 4; ++b) {
    const std::uint8_t* q = p + 8 * (b & 1) + 8 * (b >> 1) * stride;
    int s = 0, s2 = 0;
    for (int j = 0; j < 8; ++j)
      for (int i = 0; i < 8; ++i) {
        s += q[j * stride + i];
        s2 += q[j * stride + i] * q[j * stride + i];
      }
    sums[b] = s;
    squares[b] = s2;
  }
}

void SubtractBlockRef(const std::uint8_t* src, const std::uint8_t* pred, int stride,
                      std::int16_t* block) {
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      block[8 * y + x] = static_cast<std::int16_t>(src[y * stride + x] - pred[y * stride + x]);
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

// An 8-point DCT of x into y in floats, factorised by the symmetry c[j][7 - k] = +-c[j][k]; the
// vector kernels perform these operations in this order.
void Dct8Float(const float x[8], float y[8]) {
  static const FloatDctBasis c;
  float s[4], d[4];
  for (int k = 0; k < 4; ++k) {
    s[k] = x[k] + x[7 - k];
    d[k] = x[k] - x[7 - k];
  }
  const float e0 = s[0] + s[3], e1 = s[1] + s[2];
  const float f0 = s[0] - s[3], f1 = s[1] - s[2];
  y[0] = c.c[0][0] * (e0 + e1);
  y[4] = c.c[4][0] * (e0 - e1);
  y[2] = c.c[2][0] * f0 + c.c[2][1] * f1;
  y[6] = c.c[6][0] * f0 + c.c[6][1] * f1;
  for (int j = 1; j < 8; j += 2)
    y[j] = (c.c[j][0] * d[0] + c.c[j][1] * d[1]) + (c.c[j][2] * d[2] + c.c[j][3] * d[3]);
}

// Down the columns, then along the rows.
void ForwardDctFloatRef(std::int16_t* block) {
  float v[8][8];  // v[u][x]: vertical coefficient u of column x
  for (int x = 0; x < 8; ++x) {
    float in[8], out[8];
    for (int i = 0; i < 8; ++i) in[i] = static_cast<float>(block[8 * i + x]);
    Dct8Float(in, out);
    for (int u = 0; u < 8; ++u) v[u][x] = out[u];
  }
  for (int u = 0; u < 8; ++u) {
    float out[8];
    Dct8Float(v[u], out);
    for (int h = 0; h < 8; ++h) block[8 * u + h] = RoundedCoefficient(out[h]);
  }
}

std::uint64_t NonZero(const std::int16_t* block) {
  std::uint64_t mask = 0;
  for (int n = 0; n < 64; ++n)
    if (block[n] != 0) mask |= std::uint64_t{1} << n;
  return mask;
}

std::uint64_t QuantiseIntraRef(std::int16_t* block, int mquant) {
  QuantiseIntra(block, mquant);
  return NonZero(block);
}

std::uint64_t QuantiseNonIntraRef(std::int16_t* block, int mquant) {
  QuantiseNonIntra(block, mquant);
  return NonZero(block);
}

void AddBlockRef(const std::uint8_t* pred, const std::int16_t* block, int stride,
                 std::uint8_t* out) {
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      out[y * stride + x] = ClipByte(pred[y * stride + x] + block[8 * y + x]);
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

void FilterRowRef(const std::uint8_t* src, int count, std::uint8_t* dst) {
  for (int o = 0; o < count; ++o)
    dst[o] = ChromaTap([&](int k) { return static_cast<int>(src[2 * o + k]); });
}

void FilterColumnsRef(const std::uint8_t* src, int width, int srcRows, std::uint8_t* dst,
                      int dstRows) {
  for (int o = 0; o < dstRows; ++o)
    for (int x = 0; x < width; ++x)
      dst[o * width + x] = ClampedChromaTap(src + x, width, srcRows, 2 * o);
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
  static const Kernels k = {.searchWindow = SearchWindowRef,
                            .sad16Blocks = Sad16BlocksRef,
                            .sse16 = Sse16Ref,
                            .sseAverage16 = SseAverage16Ref,
                            .halfPelRow = HalfPelRowRef,
                            .predict = PredictRef,
                            .average = AverageRef,
                            .blockSums = BlockSumsRef,
                            .subtractBlock = SubtractBlockRef,
                            .forwardDct = ForwardDctRef,
                            .forwardDctFloat = ForwardDctFloatRef,
                            .quantiseIntra = QuantiseIntraRef,
                            .quantiseNonIntra = QuantiseNonIntraRef,
                            .inverseDct = InverseDct,
                            .addBlock = AddBlockRef,
                            .convertRow = ConvertRowRef,
                            .filterRow = FilterRowRef,
                            .filterColumns = FilterColumnsRef,
                            .name = "reference"};
  return k;
}

const Kernels& KernelsForCpu() {
  if (const Kernels* k = Avx512Kernels()) return *k;
  if (const Kernels* k = Avx2Kernels()) return *k;
  return Sse2Kernels();
}

}  // namespace calvex::video
