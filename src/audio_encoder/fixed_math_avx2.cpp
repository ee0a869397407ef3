// AVX2 array forms of fixed_math.h; called only after a CPU check.
#include "audio_encoder/fixed_math.h"

namespace calvex::audio::fixed_math {

namespace {
typedef double V4 __attribute__((vector_size(32)));
}

void SinCosArrayAvx2(const double* x, double* s, double* c, int n) {
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    V4 v, vs, vc;
    std::memcpy(&v, x + i, sizeof v);
    SinCosKernel<V4>(v, vs, vc);
    std::memcpy(s + i, &vs, sizeof vs);
    std::memcpy(c + i, &vc, sizeof vc);
  }
  for (; i < n; ++i) SinCos(x[i], s[i], c[i]);
}

void Atan2ArrayAvx2(const double* y, const double* x, double* out, int n) {
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    V4 vy, vx;
    std::memcpy(&vy, y + i, sizeof vy);
    std::memcpy(&vx, x + i, sizeof vx);
    const V4 r = Atan2Kernel<V4>(vy, vx);
    std::memcpy(out + i, &r, sizeof r);
  }
  for (; i < n; ++i) out[i] = Atan2(y[i], x[i]);
}

}  // namespace calvex::audio::fixed_math
