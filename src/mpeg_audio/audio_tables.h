// ISO/IEC 11172-3 number tables for Layers I and II, shared by the audio encoder, the audio
// decoder, the multiplexer and the MPEG file scanner, and the tables of the half sampling rates of
// ISO/IEC 13818-3 that the decoder reads too (the encoder writes MPEG-1 only). Everything here is
// constant; nothing is built at run time, so any number of conversions may read the tables at once.
//
// Link target: calvex_mpeg_audio.
#pragma once

#include <array>
#include <cstdint>

namespace calvex::audio {

// ---------------------------------------------------------------------------------------------
// Frame header values

// Bitrate in kbit/s by layer (1 or 2) and bitrate_index 0..14; index 0 is free format (never
// coded by the encoder) and 15 is forbidden.
inline constexpr std::array<std::array<int, 15>, 2> kBitrateKbps = {{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
}};

// Table bitrate of `layer` (1 or 2) and `index`; 0 when either is out of range.
constexpr int BitrateKbps(int layer, int index) {
  if (layer < 1 || layer > 2 || index < 0 || index > 14) return 0;
  return kBitrateKbps[static_cast<std::size_t>(layer - 1)][static_cast<std::size_t>(index)];
}

// Sampling frequency by sampling_frequency code 0..2 (3 is reserved).
inline constexpr std::array<double, 3> kSamplingFrequencyKhz = {44.1, 48.0, 32.0};
inline constexpr std::array<int, 3> kSamplingFrequencyHz = {44100, 48000, 32000};

// A header whose ID bit is 0 (ISO/IEC 13818-3) codes the same Layer I and II frames at half the
// sampling rates, with bitrates of their own (index 0 free format, 15 forbidden).
inline constexpr std::array<std::array<int, 15>, 2> kHalfRateBitrateKbps = {{
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
}};
inline constexpr std::array<double, 3> kHalfSamplingFrequencyKhz = {22.05, 24.0, 16.0};
inline constexpr std::array<int, 3> kHalfSamplingFrequencyHz = {22050, 24000, 16000};

// Table bitrate of a half-rate header of `layer` (1 or 2) and `index`; 0 when either is out of
// range.
constexpr int HalfRateBitrateKbps(int layer, int index) {
  if (layer < 1 || layer > 2 || index < 0 || index > 14) return 0;
  return kHalfRateBitrateKbps[static_cast<std::size_t>(layer - 1)][static_cast<std::size_t>(index)];
}

// The sampling_frequency code of a rate in Hz, or -1 when MPEG-1 has none for it.
constexpr int SamplingFrequencyCode(int hz) {
  for (int i = 0; i < 3; ++i)
    if (kSamplingFrequencyHz[static_cast<std::size_t>(i)] == hz) return i;
  return -1;
}

// Header mode values.
enum : int { kModeStereo = 0, kModeJointStereo = 1, kModeDualChannel = 2, kModeSingleChannel = 3 };

// First subband coded as intensity stereo, by mode_extension 0..3 (Layers I and II alike).
inline constexpr std::array<int, 4> kJointStereoBound = {4, 8, 12, 16};

// Samples per channel in one frame, and bits per slot.
constexpr int SamplesPerFrame(int layer) {
  return layer == 1 ? 384 : 1152;
}
constexpr int BitsPerSlot(int layer) {
  return layer == 1 ? 32 : 8;
}

// ---------------------------------------------------------------------------------------------
// Scale factors and quantisation

// Table 3-B.1: multiple[j] = 2^(1 - j/3) as printed, j = 0..62, and 1e-20 at index 63.
extern const std::array<double, 64> kScaleFactors;

// Scale factors transmitted per scale-factor selection value (scfsi) 0..3.
inline constexpr std::array<int, 4> kScaleFactorsPerSelection = {3, 2, 1, 2};

// Signal-to-noise ratio in dB by quantiser class + 1 (entry 0: no allocation).
inline constexpr std::array<double, 18> kSnrDb = {
    0.00,  7.00,  11.00, 16.00, 20.84, 25.28, 31.59, 37.75, 43.84,
    49.89, 55.93, 61.96, 67.98, 74.01, 80.03, 86.05, 92.01, 98.01,
};

// Quantiser coefficients A and B by quantiser class 0..16 (ISO/IEC 11172-3 Annex C).
inline constexpr std::array<double, 17> kQuantA = {
    0.75,        0.625,      0.875,       0.5625,      0.9375,      0.96875,
    0.984375,    0.9921875,  0.99609375,  0.998046875, 0.999023438, 0.999511719,
    0.999755859, 0.99987793, 0.999938965, 0.999969482, 0.999984741,
};
inline constexpr std::array<double, 17> kQuantB = {
    -0.25,        -0.375,      -0.125,       -0.4375,      -0.0625,      -0.03125,
    -0.015625,    -0.0078125,  -0.00390625,  -0.001953125, -0.000976563, -0.000488281,
    -0.000244141, -0.00012207, -0.000061035, -0.000030518, -0.000015259,
};

// Layer I codes allocation n (1..14) with 2^(n+1) - 1 steps; it reads the tables above through
// this rearranged view (the 5- and 9-step quantisers do not exist in Layer I). Views are copies:
// the tables themselves never change.
struct Layer1View {
  std::array<double, 16> snr{};  // by allocation 0..15
  std::array<double, 15> a{};    // by allocation - 1
  std::array<double, 15> b{};
};

constexpr Layer1View MakeLayer1View() {
  Layer1View v;
  v.snr[0] = kSnrDb[0];
  v.snr[1] = kSnrDb[1];
  v.snr[2] = kSnrDb[3];
  for (int i = 3; i <= 15; ++i)
    v.snr[static_cast<std::size_t>(i)] = kSnrDb[static_cast<std::size_t>(i + 2)];
  v.a[0] = kQuantA[0];
  v.b[0] = kQuantB[0];
  v.a[1] = kQuantA[2];
  v.b[1] = kQuantB[2];
  for (int i = 2; i <= 14; ++i) {
    v.a[static_cast<std::size_t>(i)] = kQuantA[static_cast<std::size_t>(i + 2)];
    v.b[static_cast<std::size_t>(i)] = kQuantB[static_cast<std::size_t>(i + 2)];
  }
  return v;
}
inline constexpr Layer1View kLayer1View = MakeLayer1View();

// ---------------------------------------------------------------------------------------------
// Layer II allocation tables

// One entry of a Layer II allocation table. Entry 0 of each subband holds in `bits` the width of
// that subband's allocation field (4, 3, 2, or 0 from sblimit up); entries 1.. are the quantisers
// an allocation value selects. grouping 1: three samples share one codeword; 3: one codeword each.
struct AllocationEntry {
  std::uint16_t steps;
  std::uint8_t bits;
  std::uint8_t grouping;
  std::uint8_t quantClass;
};

struct AllocationTable {
  int sblimit;
  std::array<std::array<AllocationEntry, 16>, 32> entry;

  int FieldWidth(int subband) const { return entry[static_cast<std::size_t>(subband)][0].bits; }
  const AllocationEntry& At(int subband, int allocation) const {
    return entry[static_cast<std::size_t>(subband)][static_cast<std::size_t>(allocation)];
  }
};

// Tables 3-B.2a, b, c, d (sblimit 27, 30, 8, 12), by table number 0..3.
extern const std::array<AllocationTable, 4> kLayer2AllocationTables;

// ISO/IEC 13818-3 Table B.1 (sblimit 30): the one table of the half sampling rates, whatever the
// bitrate; table number 4.
inline constexpr int kLayer2TableHalfRate = 4;
extern const AllocationTable kLayer2AllocationTableHalfRate;

// The table of a table number 0..4.
const AllocationTable& Layer2AllocationTable(int table);

// The Layer II table number (0 = 3-B.2a .. 3 = 3-B.2d) for a per-channel bitrate (total table
// bitrate / channels, integer division) and a sampling_frequency code.
constexpr int Layer2TableFor(int perChannelKbps, int samplingFrequencyCode) {
  const int f = samplingFrequencyCode == 1 ? 48 : samplingFrequencyCode == 2 ? 32 : 44;
  const int p = perChannelKbps;
  if ((f == 48 && p >= 56) || (p >= 56 && p <= 80)) return 0;
  if (f != 48 && p >= 96) return 1;
  if (f != 32 && p <= 48) return 2;
  return 3;
}

// ---------------------------------------------------------------------------------------------
// Filter bank windows and psychoacoustic thresholds

// Table 3-C.1: the analysis window C[0..511].
extern const std::array<double, 512> kAnalysisWindow;

// Table 3-B.3: the synthesis window D[0..511].
extern const std::array<double, 512> kSynthesisWindow;

// Absolute threshold energies of psychoacoustic model 2 for FFT lines 0..512, in units of the
// 1024-point FFT of unscaled 16-bit samples.
extern const std::array<double, 513> kAbsoluteThreshold32000;
extern const std::array<double, 513> kAbsoluteThreshold44100;
extern const std::array<double, 513> kAbsoluteThreshold48000;

// The absolute threshold table of a sampling_frequency code (0..2).
const std::array<double, 513>& AbsoluteThresholdFor(int samplingFrequencyCode);

}  // namespace calvex::audio
