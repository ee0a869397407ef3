// Google Benchmark of the audio decoder's kernels: the synthesis filter per path (plain, SSE2,
// AVX2) and the decoding of whole Layer II frames.
#include <benchmark/benchmark.h>

#include <array>
#include <random>
#include <vector>

#include "audio_decoder/frame_decoder.h"
#include "audio_decoder/synthesis_filter.h"
#include "mpeg_audio/bit_stream.h"
#include "mpeg_audio/frame_header.h"

namespace {

using namespace calvex::audio_decoder;

void BM_Synthesis(benchmark::State& state) {
  const auto path = static_cast<SynthesisPath>(state.range(0));
  if (!SynthesisPathAvailable(path)) {
    state.SkipWithError("path not available on this CPU");
    return;
  }
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> unit(-0.1, 0.1);
  std::vector<std::array<double, 32>> blocks(64);
  for (auto& b : blocks)
    for (double& v : b) v = unit(rng);
  const SynthesisTables tables;
  SynthesisFilter filter(path);
  std::int16_t pcm[32];
  std::size_t i = 0;
  for (auto _ : state) {
    filter.Synthesize(tables, blocks[i++ & 63].data(), pcm);
    benchmark::DoNotOptimize(pcm);
  }
  state.SetItemsProcessed(state.iterations() * 32);
}
BENCHMARK(BM_Synthesis)->Arg(0)->Arg(1)->Arg(2);

// One 192 kbit/s stereo frame of noise-like content: every subband allocated.
void BM_DecodeLayer2Frame(benchmark::State& state) {
  std::vector<std::uint8_t> frame(627, 0);
  std::mt19937 rng(2);
  for (std::size_t i = 4; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(rng());
  frame[0] = 0xFF;
  frame[1] = 0xFD;
  frame[2] = 0xA0;  // 192 kbit/s, 44.1 kHz
  frame[3] = 0x00;
  calvex::audio::FrameHeader header;
  calvex::audio::ParseFrameHeader(frame.data(), header);
  FrameDecoder decoder;
  std::vector<std::int16_t> pcm(2 * 1152);
  for (auto _ : state) {
    decoder.Decode(header, frame.data(), frame.size(), pcm.data());
    benchmark::DoNotOptimize(pcm.data());
  }
  state.SetItemsProcessed(state.iterations() * 1152);
}
BENCHMARK(BM_DecodeLayer2Frame);

}  // namespace

BENCHMARK_MAIN();
