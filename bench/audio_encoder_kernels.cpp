// The audio encoder's kernels, plain code against the vectorised paths (same output bits).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "audio_encoder/analysis_filter.h"
#include "audio_encoder/fft1024.h"
#include "audio_encoder/fixed_math.h"
#include "audio_encoder/psychoacoustic_model.h"

namespace {

using namespace calvex::audio;

std::vector<std::int16_t> Noise(std::size_t n) {
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> d(-20000, 20000);
  std::vector<std::int16_t> v(n);
  for (auto& s : v) s = static_cast<std::int16_t>(d(rng));
  return v;
}

void AnalysisFilterFrame(benchmark::State& state) {
  AnalysisFilter filter(state.range(0) != 0);
  const auto in = Noise(1152);
  double s[32];
  for (auto _ : state)
    for (int b = 0; b < 36; ++b) {
      filter.Analyse(in.data() + 32 * b, 0, s);
      benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(AnalysisFilterFrame)->Arg(0)->Arg(1);

void Fft(benchmark::State& state) {
  const Fft1024 fft;
  double re[1024], im[1024], e[513], p[513];
  std::mt19937 rng(2);
  std::uniform_real_distribution<double> u(-1000, 1000);
  std::vector<double> input(1024);
  for (auto& v : input) v = u(rng);
  for (auto _ : state) {
    for (int i = 0; i < 1024; ++i) {
      re[i] = input[static_cast<std::size_t>(i)];
      im[i] = 0;
    }
    if (state.range(0))
      fft.Transform(re, im, e, p);
    else
      Fft1024::TransformPlain(re, im, e, p);
    benchmark::DoNotOptimize(e);
  }
}
BENCHMARK(Fft)->Arg(0)->Arg(1);

void Model2Frame(benchmark::State& state) {
  PsychoacousticModel2 model(2, 44100, state.range(0) != 0);
  const auto in = Noise(1152);
  double smr[32];
  for (auto _ : state) {
    model.Analyse(in.data(), 0, smr);
    benchmark::DoNotOptimize(smr);
  }
}
BENCHMARK(Model2Frame)->Arg(0)->Arg(1);

void SinCos513(benchmark::State& state) {
  std::vector<double> x(513), s(513), c(513);
  for (int i = 0; i < 513; ++i) x[static_cast<std::size_t>(i)] = (i - 256) * 0.0367;
  for (auto _ : state) {
    if (state.range(0))
      fixed_math::SinCosArray(x.data(), s.data(), c.data(), 513);
    else
      for (int i = 0; i < 513; ++i) fixed_math::SinCos(x[i], s[i], c[i]);
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(SinCos513)->Arg(0)->Arg(1);

}  // namespace
