// The video encoder's picture kernels (colour conversion, chroma filters, transform) and motion
// search kernels on every kernel set the processor has; the argument picks the set: 0 plain,
// 1 SSE2, 2 AVX2, 3 AVX-512.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "video_encoder/kernels.h"

namespace {

using namespace calvex::video;

const Kernels* KernelSet(int i) {
  switch (i) {
    case 0:
      return &ReferenceKernels();
    case 1:
      return &Sse2Kernels();
    case 2:
      return Avx2Kernels();
    default:
      return Avx512Kernels();
  }
}

// The kernel set of the benchmark's argument, or nullptr (and the benchmark skipped).
const Kernels* Pick(benchmark::State& state) {
  const Kernels* k = KernelSet(static_cast<int>(state.range(0)));
  if (!k) state.SkipWithError("the processor lacks this kernel set");
  if (k) state.SetLabel(k->name);
  return k;
}

std::vector<std::uint8_t> Bytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

constexpr int kWidth = 352, kHeight = 240;

// One picture row of 352 pixels, one in 50 of a saturated colour, as in natural pictures, where
// most of the exact divisions of the conversion are.
void ConvertRow(benchmark::State& state) {
  const Kernels* k = Pick(state);
  if (!k) return;
  auto bgr = Bytes(3 * kWidth, 1);
  constexpr std::uint8_t kSaturated[][3] = {{0, 0, 248}, {248, 0, 0}, {255, 255, 7}, {7, 255, 255}};
  for (int i = 0; i < kWidth; ++i)
    if (bgr[3 * static_cast<std::size_t>(i)] % 50 == 0)
      std::copy_n(kSaturated[i % 4], 3, bgr.data() + 3 * i);
  std::vector<std::uint8_t> y(kWidth), cb(kWidth), cr(kWidth);
  for (auto _ : state) {
    k->convertRow(bgr.data(), kWidth, y.data(), cb.data(), cr.data());
    benchmark::DoNotOptimize(y.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth);
}

// The chroma filters of one 352 x 240 picture's plane: along its rows, then down the columns of
// the result.
void FilterRows(benchmark::State& state) {
  const Kernels* k = Pick(state);
  if (!k) return;
  const auto src = Bytes(static_cast<std::size_t>(kWidth + 10) * kHeight, 2);
  std::vector<std::uint8_t> half(kWidth / 2 * kHeight);
  for (auto _ : state) {
    for (int r = 0; r < kHeight; ++r)
      k->filterRow(src.data() + r * (kWidth + 10) + 5, kWidth / 2, half.data() + r * kWidth / 2);
    benchmark::DoNotOptimize(half.data());
  }
}

void FilterColumns(benchmark::State& state) {
  const Kernels* k = Pick(state);
  if (!k) return;
  const auto half = Bytes(kWidth / 2 * kHeight, 2);
  std::vector<std::uint8_t> out(kWidth / 2 * kHeight / 2);
  for (auto _ : state) {
    k->filterColumns(half.data(), kWidth / 2, kHeight, out.data(), kHeight / 2);
    benchmark::DoNotOptimize(out.data());
  }
}

// Blocks of differences, as the coder transforms them.
void ForwardDct(benchmark::State& state) {
  const Kernels* k = Pick(state);
  if (!k) return;
  constexpr int kBlocks = 256;
  std::mt19937 rng(3);
  std::vector<std::int16_t> input(64 * kBlocks), block(64);
  for (auto& v : input) v = static_cast<std::int16_t>(static_cast<int>(rng() % 121) - 60);
  int b = 0;
  for (auto _ : state) {
    std::copy_n(input.data() + 64 * b, 64, block.data());
    k->forwardDct(block.data());
    benchmark::DoNotOptimize(block.data());
    b = (b + 1) % kBlocks;
  }
}

// Coefficients of a transformed block, most of them small; the argument after the set: intra.
void Quantise(benchmark::State& state) {
  const Kernels* k = Pick(state);
  if (!k) return;
  std::mt19937 rng(5);
  std::vector<std::int16_t> input(64), block(64);
  for (auto& v : input) v = static_cast<std::int16_t>(static_cast<int>(rng() % 81) - 40);
  input[0] = 900;
  const auto quantise = state.range(1) ? k->quantiseIntra : k->quantiseNonIntra;
  for (auto _ : state) {
    std::copy_n(input.data(), 64, block.data());
    benchmark::DoNotOptimize(quantise(block.data(), 8));
    benchmark::DoNotOptimize(block.data());
  }
}

void InverseDct(benchmark::State& state) {
  const Kernels* k = Pick(state);
  if (!k) return;
  std::mt19937 rng(4);
  std::vector<std::int16_t> input(64), block(64);
  for (int i = 0; i < 10; ++i) input[rng() % 64] = static_cast<std::int16_t>(rng() % 200 - 100);
  for (auto _ : state) {
    std::copy_n(input.data(), 64, block.data());
    k->inverseDct(block.data());
    benchmark::DoNotOptimize(block.data());
  }
}

// A texture of kWidth x rows samples moved right by `dx` and down by `dy`, with noise +-3.
std::vector<std::uint8_t> Texture(int rows, int dx, int dy, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> v(static_cast<std::size_t>(kWidth) * rows);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const double u = x - dx, w = y - dy;
      const double t =
          128 + 50 * std::sin(u * 0.31 + w * 0.17) + 40 * std::cos(w * 0.23 - u * 0.05);
      v[static_cast<std::size_t>(y) * kWidth + x] =
          static_cast<std::uint8_t>(static_cast<int>(t) + static_cast<int>(rng() % 7) - 3);
    }
  return v;
}

// The whole-pel search of neighbouring macroblocks, as the encoder visits them. Arguments after
// the set: the window's side, the content: 0 noise (where the early exit never helps), 1 a moving
// texture with a little noise (where it mostly does).
void SearchWindow(benchmark::State& state) {
  const Kernels* k = Pick(state);
  if (!k) return;
  const int side = static_cast<int>(state.range(1));
  const bool texture = state.range(2) != 0;
  // In the texture, the block matches the window's position (side / 2 - 2, side / 2 - 1).
  const int h = side / 2;
  const auto cur = texture ? Texture(16, 2 - h, 1 - h, 1) : Bytes(16 * kWidth, 1);
  const auto ref = texture ? Texture(64, 0, 0, 2) : Bytes(64 * kWidth, 2);
  std::vector<std::uint16_t> rank(kRankStride * kRankStride);
  for (std::size_t i = 0; i < rank.size(); ++i) rank[i] = static_cast<std::uint16_t>(i);
  int x = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        k->searchWindow(cur.data() + x, kWidth, ref.data() + x, kWidth, side, side, rank.data()));
    x = (x + 16) & 255;
  }
}

// The half-pel refinement's nine SADs, then the distances of the mode decision.
void HalfPelDistances(benchmark::State& state) {
  const Kernels* k = Pick(state);
  if (!k) return;
  const auto cur = Bytes(16 * kWidth, 1), ref = Bytes(20 * kWidth, 2);
  const std::uint8_t* blocks[kMaxSadBlocks];
  for (int i = 0; i < kMaxSadBlocks; ++i) blocks[i] = ref.data() + (i / 3) * kWidth + i % 3;
  int sads[kMaxSadBlocks];
  for (auto _ : state) {
    k->sad16Blocks(cur.data(), blocks, kMaxSadBlocks, kWidth, sads);
    benchmark::DoNotOptimize(sads);
    benchmark::DoNotOptimize(k->sse16(cur.data(), blocks[4], kWidth));
    benchmark::DoNotOptimize(k->sseAverage16(cur.data(), blocks[4], blocks[0], kWidth));
  }
}

BENCHMARK(ConvertRow)->DenseRange(0, 3);
BENCHMARK(FilterRows)->DenseRange(0, 3);
BENCHMARK(FilterColumns)->DenseRange(0, 3);
BENCHMARK(ForwardDct)->DenseRange(0, 3);
BENCHMARK(Quantise)->ArgsProduct({{0, 1, 2, 3}, {0, 1}});
BENCHMARK(InverseDct)->DenseRange(0, 3);
BENCHMARK(SearchWindow)->ArgsProduct({{0, 1, 2, 3}, {7, 15, 23}, {0, 1}});
BENCHMARK(HalfPelDistances)->DenseRange(0, 3);

}  // namespace
