#include "audio_encoder/bit_allocation.h"

#include <algorithm>
#include <cmath>

namespace calvex::audio {

namespace {

constexpr int kScaleBlock = 12;

// Scale-factor selection patterns (hexadecimal digits name which part's factor each part uses).
enum Pattern { k123, k122, k133, k113, k111, k222, k333, k444 };
constexpr Pattern kPatternTable[5][5] = {
    {k123, k122, k122, k133, k123}, {k113, k111, k111, k444, k113}, {k111, k111, k111, k333, k113},
    {k222, k222, k222, k333, k123}, {k123, k122, k122, k133, k123},
};

int DifferenceClass(int d) {
  if (d <= -3) return 0;
  if (d < 0) return 1;
  if (d == 0) return 2;
  if (d < 3) return 3;
  return 4;
}

int ScaleFactorIndexFor(double peak) {
  for (int j = 62; j >= 0; --j)
    if (peak <= kScaleFactors[static_cast<std::size_t>(j)]) return j;
  return 0;
}

// Bits of all allocation fields of a Layer II frame.
int Layer2AllocationFieldBits(const FrameParams& fp) {
  int bits = 0;
  for (int sb = 0; sb < fp.sblimit; ++sb)
    bits += (sb < fp.jsbound ? fp.stereo : 1) * fp.alloc->FieldWidth(sb);
  return bits;
}

int Layer1AllocationFieldBits(const FrameParams& fp) {
  return 4 * (fp.jsbound * fp.stereo + 32 - fp.jsbound);
}

constexpr int kHeaderBits = 32;

// States of a subband in the allocation loops.
enum : int { kUnused = 0, kUsed = 1, kFull = 2 };

// The channel and subband with the smallest mask-to-noise ratio among those not full, below
// `start` (strict comparison: ties go to the lowest subband, then channel 0). False when none.
bool SmallestMaskToNoise(const double (&mnr)[2][32], const int (&used)[2][32], int sblimit,
                         int stereo, double start, int& minSb, int& minCh) {
  double smallest = start;
  minSb = -1;
  minCh = -1;
  for (int sb = 0; sb < sblimit; ++sb)
    for (int ch = 0; ch < stereo; ++ch)
      if (used[ch][sb] != kFull && smallest > mnr[ch][sb]) {
        smallest = mnr[ch][sb];
        minSb = sb;
        minCh = ch;
      }
  return minSb >= 0;
}

int ErrorProtectionBits(const FrameParams& fp) {
  return fp.header.error_protection ? 16 : 0;
}

}  // namespace

int BitrateIndexFor(int layer, int mode, int kbps) {
  if (layer == 2 && mode == kModeSingleChannel && kbps > 192) kbps = 192;
  int index = 14;
  for (int i = 1; i <= 14; ++i) {
    if (BitrateKbps(layer, i) >= kbps) {
      index = i;
      break;
    }
  }
  if (layer == 2 && mode != kModeSingleChannel && (index < 4 || index == 5)) index = 4;
  return index;
}

void DeriveFrameParams(FrameParams& fp) {
  fp.actualMode = fp.header.mode;
  fp.stereo = fp.header.mode == kModeSingleChannel ? 1 : 2;
  if (fp.header.layer == 1) {
    fp.sblimit = 32;
  } else {
    const int perChannel = BitrateKbps(2, fp.header.bitrate_index) / fp.stereo;
    const int table = Layer2TableFor(perChannel, fp.header.sampling_frequency);
    if (table != fp.tableNumber) {
      fp.tableNumber = table;
      fp.alloc = &kLayer2AllocationTables[static_cast<std::size_t>(table)];
    }
    fp.sblimit = fp.alloc->sblimit;
  }
  fp.jsbound = fp.header.mode == kModeJointStereo
                   ? kJointStereoBound[static_cast<std::size_t>(fp.header.mode_ext)]
                   : fp.sblimit;
}

void ScaleFactors(const ChannelSamples& samples, ChannelScaleFactors& result, int parts,
                  int sblimit, bool fillAbove) {
  for (int t = 0; t < parts; ++t) {
    const auto& part = samples[static_cast<std::size_t>(t)];
    auto& out = result[static_cast<std::size_t>(t)];
    for (int sb = 0; sb < sblimit; ++sb) {
      const auto s = static_cast<std::size_t>(sb);
      double peak = std::fabs(part[0][s]);
      for (int j = 1; j < kScaleBlock; ++j)
        peak = std::max(peak, std::fabs(part[static_cast<std::size_t>(j)][s]));
      out[s] = ScaleFactorIndexFor(peak);
    }
    if (fillAbove)
      for (int sb = sblimit; sb < 32; ++sb) out[static_cast<std::size_t>(sb)] = 63;
  }
}

void CombineJointStereo(const SubbandSamples& samples, ChannelSamples& joint, int parts,
                        int sblimit) {
  for (int t = 0; t < parts; ++t)
    for (int j = 0; j < kScaleBlock; ++j)
      for (int sb = 0; sb < sblimit; ++sb) {
        const auto tt = static_cast<std::size_t>(t), jj = static_cast<std::size_t>(j),
                   s = static_cast<std::size_t>(sb);
        joint[tt][jj][s] = (samples[0][tt][jj][s] + samples[1][tt][jj][s]) * 0.5;
      }
}

void TransmissionPattern(ScaleFactorIndices& scale, ChannelSubbandValues& selection,
                         const FrameParams& fp) {
  for (int ch = 0; ch < fp.stereo; ++ch) {
    auto& sf = scale[static_cast<std::size_t>(ch)];
    for (int sb = 0; sb < fp.sblimit; ++sb) {
      const auto s = static_cast<std::size_t>(sb);
      int& s0 = sf[0][s];
      int& s1 = sf[1][s];
      int& s2 = sf[2][s];
      int& sel = selection[static_cast<std::size_t>(ch)][s];
      switch (kPatternTable[DifferenceClass(s0 - s1)][DifferenceClass(s1 - s2)]) {
        case k123:
          sel = 0;
          break;
        case k122:
          sel = 3;
          s2 = s1;
          break;
        case k133:
          sel = 3;
          s1 = s2;
          break;
        case k113:
          sel = 1;
          s1 = s0;
          break;
        case k111:
          sel = 2;
          s1 = s2 = s0;
          break;
        case k222:
          sel = 2;
          s0 = s2 = s1;
          break;
        case k333:
          sel = 2;
          s0 = s1 = s2;
          break;
        case k444:
          sel = 2;
          s0 = std::min(s0, s2);
          s1 = s2 = s0;
          break;
      }
    }
  }
}

int BitsForNoNoiseLayer1(const SignalToMask& smr, const FrameParams& fp) {
  const auto& snr = kLayer1View.snr;
  int bits = kHeaderBits + Layer1AllocationFieldBits(fp) + ErrorProtectionBits(fp);
  for (int sb = 0; sb < 32; ++sb) {
    const auto s = static_cast<std::size_t>(sb);
    const bool joint = sb >= fp.jsbound;
    for (int ch = 0; ch < (joint ? 1 : fp.stereo); ++ch) {
      int k = 0;
      for (; k < 14; ++k)
        if (snr[static_cast<std::size_t>(k)] - smr[static_cast<std::size_t>(ch)][s] >= 0) break;
      if (fp.stereo == 2 && joint)
        for (; k < 14; ++k)
          if (snr[static_cast<std::size_t>(k)] - smr[static_cast<std::size_t>(1 - ch)][s] >= 0)
            break;
      if (k > 0) bits += (k + 1) * kScaleBlock + 6 * (joint ? fp.stereo : 1);
    }
  }
  return bits;
}

int BitsForNoNoiseLayer2(const SignalToMask& smr, const ChannelSubbandValues& selection,
                         const FrameParams& fp) {
  const AllocationTable& table = *fp.alloc;
  int bits = kHeaderBits + Layer2AllocationFieldBits(fp) + ErrorProtectionBits(fp);
  for (int sb = 0; sb < fp.sblimit; ++sb) {
    const auto s = static_cast<std::size_t>(sb);
    const bool joint = sb >= fp.jsbound;
    const int maxAlloc = (1 << table.FieldWidth(sb)) - 1;
    auto snrOf = [&](int b) {
      return kSnrDb[static_cast<std::size_t>(table.At(sb, b).quantClass + (b > 0 ? 1 : 0))];
    };
    for (int ch = 0; ch < (joint ? 1 : fp.stereo); ++ch) {
      const auto c = static_cast<std::size_t>(ch);
      int b = 0;
      for (; b < maxAlloc - 1; ++b)
        if (snrOf(b) - smr[c][s] >= 0) break;
      if (fp.stereo == 2 && joint)
        for (; b < maxAlloc - 1; ++b)
          if (snrOf(b) - smr[1 - c][s] >= 0) break;
      if (b > 0) {
        const AllocationEntry& e = table.At(sb, b);
        bits += kScaleBlock * e.grouping * e.bits + 2 +
                6 * kScaleFactorsPerSelection[static_cast<std::size_t>(selection[c][s])];
        if (fp.stereo == 2 && joint)
          bits += 2 + 6 * kScaleFactorsPerSelection[static_cast<std::size_t>(selection[1 - c][s])];
      }
    }
  }
  return bits;
}

void ChooseJointStereoBound(const SignalToMask& smr, const ChannelSubbandValues& selection,
                            int availableBits, FrameParams& fp) {
  auto need = [&] {
    return fp.header.layer == 1 ? BitsForNoNoiseLayer1(smr, fp)
                                : BitsForNoNoiseLayer2(smr, selection, fp);
  };
  fp.header.mode = kModeStereo;
  fp.header.mode_ext = 0;
  fp.jsbound = fp.sblimit;
  if (need() <= availableBits) return;
  fp.header.mode = kModeJointStereo;
  int modeExt = 4;
  do {
    --modeExt;
    fp.jsbound = kJointStereoBound[static_cast<std::size_t>(modeExt)];
  } while (need() > availableBits && modeExt > 0);
  fp.header.mode_ext = modeExt;
}

void AllocateBitsLayer1(const SignalToMask& smr, ChannelSubbandValues& allocation,
                        int& availableBits, const FrameParams& fp) {
  const auto& snr = kLayer1View.snr;
  availableBits -= Layer1AllocationFieldBits(fp) + kHeaderBits + ErrorProtectionBits(fp);
  const int available = availableBits;
  double mnr[2][32];
  int used[2][32];
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < fp.stereo; ++ch) {
      mnr[ch][sb] = snr[0] - smr[static_cast<std::size_t>(ch)][static_cast<std::size_t>(sb)];
      allocation[static_cast<std::size_t>(ch)][static_cast<std::size_t>(sb)] = 0;
      used[ch][sb] = kUnused;
    }
  int sampleBits = 0, scaleBits = 0;
  for (;;) {
    int minSb, minCh;
    if (!SmallestMaskToNoise(mnr, used, 32, fp.stereo, mnr[0][0] + 1, minSb, minCh)) break;
    auto& a = allocation[static_cast<std::size_t>(minCh)][static_cast<std::size_t>(minSb)];
    int smpl = kScaleBlock, scf = 0;
    if (used[minCh][minSb] == kUnused) {
      smpl = 24;
      scf = 6;
    }
    if (minSb >= fp.jsbound) scf *= fp.stereo;
    if (available >= sampleBits + scaleBits + scf + smpl) {
      sampleBits += smpl;
      scaleBits += scf;
      ++a;
      used[minCh][minSb] = kUsed;
      mnr[minCh][minSb] = snr[static_cast<std::size_t>(a)] -
                          smr[static_cast<std::size_t>(minCh)][static_cast<std::size_t>(minSb)];
      if (a == 14) used[minCh][minSb] = kFull;
    } else {
      used[minCh][minSb] = kFull;
    }
    if (fp.stereo == 2 && minSb >= fp.jsbound) {
      const int other = 1 - minCh;
      allocation[static_cast<std::size_t>(other)][static_cast<std::size_t>(minSb)] = a;
      used[other][minSb] = used[minCh][minSb];
      mnr[other][minSb] = snr[static_cast<std::size_t>(a)] -
                          smr[static_cast<std::size_t>(other)][static_cast<std::size_t>(minSb)];
    }
  }
  availableBits = available - sampleBits - scaleBits;
}

void AllocateBitsLayer2(const SignalToMask& smr, const ChannelSubbandValues& selection,
                        ChannelSubbandValues& allocation, int& availableBits,
                        const FrameParams& fp) {
  const AllocationTable& table = *fp.alloc;
  availableBits -= Layer2AllocationFieldBits(fp) + kHeaderBits + ErrorProtectionBits(fp);
  const int available = availableBits;
  double mnr[2][32];
  int used[2][32];
  for (int sb = 0; sb < fp.sblimit; ++sb)
    for (int ch = 0; ch < fp.stereo; ++ch) {
      mnr[ch][sb] = kSnrDb[0] - smr[static_cast<std::size_t>(ch)][static_cast<std::size_t>(sb)];
      allocation[static_cast<std::size_t>(ch)][static_cast<std::size_t>(sb)] = 0;
      used[ch][sb] = kUnused;
    }
  int sampleBits = 0, scaleBits = 0, selectionBits = 0;
  for (;;) {
    int minSb, minCh;
    if (!SmallestMaskToNoise(mnr, used, fp.sblimit, fp.stereo, 999999.0, minSb, minCh)) break;
    const auto c = static_cast<std::size_t>(minCh), s = static_cast<std::size_t>(minSb);
    const int other = 1 - minCh;
    int& a = allocation[c][s];
    const AllocationEntry& next = table.At(minSb, a + 1);
    int increment = kScaleBlock * next.grouping * next.bits;
    int scale = 0, sel = 0;
    if (used[minCh][minSb] != kUnused) {
      const AllocationEntry& now = table.At(minSb, a);
      increment -= kScaleBlock * now.grouping * now.bits;
    } else {
      sel = 2;
      scale = 6 * kScaleFactorsPerSelection[static_cast<std::size_t>(selection[c][s])];
      if (fp.stereo == 2 && minSb >= fp.jsbound) {
        sel += 2;
        scale += 6 * kScaleFactorsPerSelection[static_cast<std::size_t>(
                         selection[static_cast<std::size_t>(other)][s])];
      }
    }
    if (available >= sampleBits + scaleBits + selectionBits + sel + scale + increment) {
      ++a;
      sampleBits += increment;
      scaleBits += scale;
      selectionBits += sel;
      used[minCh][minSb] = kUsed;
      mnr[minCh][minSb] =
          kSnrDb[static_cast<std::size_t>(table.At(minSb, a).quantClass + 1)] - smr[c][s];
      if (a >= (1 << table.FieldWidth(minSb)) - 1) used[minCh][minSb] = kFull;
    } else {
      used[minCh][minSb] = kFull;
    }
    if (minSb >= fp.jsbound && fp.stereo == 2) {
      const auto o = static_cast<std::size_t>(other);
      allocation[o][s] = a;
      used[other][minSb] = used[minCh][minSb];
      mnr[other][minSb] =
          kSnrDb[static_cast<std::size_t>(table.At(minSb, a).quantClass + 1)] - smr[o][s];
    }
  }
  availableBits = available - sampleBits - scaleBits - selectionBits;
  for (int sb = fp.sblimit; sb < 32; ++sb)
    for (int ch = 0; ch < fp.stereo; ++ch)
      allocation[static_cast<std::size_t>(ch)][static_cast<std::size_t>(sb)] = 0;
}

std::uint32_t QuantiseSample(double sample, double scaleFactor, double a, double b, int n,
                             std::uint32_t steps) {
  double d = sample / scaleFactor;
  d = d * a + b;
  const bool sign = d >= 0;
  if (!sign) d += 1.0;
  const double scaled = d * static_cast<double>(1u << n);
  // A sample at (or, after the scale-factor choice, beyond) its scale factor would give the
  // forbidden code `steps`; it is held at the largest level instead.
  std::uint32_t value =
      scaled > 0 ? static_cast<std::uint32_t>(std::min(scaled, static_cast<double>(2u << n))) : 0;
  if (sign) value |= 1u << n;
  return std::min(value, steps - 1);
}

void QuantiseLayer1(const ScaleFactorIndices& scale, const SubbandSamples& samples,
                    const ChannelScaleFactors& jointScale, const ChannelSamples& joint,
                    const ChannelSubbandValues& allocation, QuantisedSamples& result,
                    const FrameParams& fp) {
  for (int j = 0; j < kScaleBlock; ++j)
    for (int sb = 0; sb < 32; ++sb)
      for (int ch = 0; ch < (sb < fp.jsbound ? fp.stereo : 1); ++ch) {
        const auto c = static_cast<std::size_t>(ch), s = static_cast<std::size_t>(sb),
                   jj = static_cast<std::size_t>(j);
        const int n = allocation[c][s];
        if (n == 0) continue;
        const bool useJoint = fp.stereo == 2 && sb >= fp.jsbound;
        const double sample = useJoint ? joint[0][jj][s] : samples[c][0][jj][s];
        const int sf = useJoint ? jointScale[0][s] : scale[c][0][s];
        const auto q = static_cast<std::size_t>(n - 1);
        result[c][0][jj][s] = QuantiseSample(sample, kScaleFactors[static_cast<std::size_t>(sf)],
                                             kLayer1View.a[q], kLayer1View.b[q], n, (2u << n) - 1);
      }
}

void QuantiseLayer2(const ScaleFactorIndices& scale, const SubbandSamples& samples,
                    const ChannelScaleFactors& jointScale, const ChannelSamples& joint,
                    const ChannelSubbandValues& allocation, QuantisedSamples& result,
                    const FrameParams& fp) {
  const AllocationTable& table = *fp.alloc;
  for (int t = 0; t < 3; ++t)
    for (int j = 0; j < kScaleBlock; ++j)
      for (int sb = 0; sb < fp.sblimit; ++sb)
        for (int ch = 0; ch < (sb < fp.jsbound ? fp.stereo : 1); ++ch) {
          const auto c = static_cast<std::size_t>(ch), s = static_cast<std::size_t>(sb),
                     tt = static_cast<std::size_t>(t), jj = static_cast<std::size_t>(j);
          const int a = allocation[c][s];
          if (a == 0) continue;
          const bool useJoint = fp.stereo == 2 && sb >= fp.jsbound;
          const double sample = useJoint ? joint[tt][jj][s] : samples[c][tt][jj][s];
          const int sf = useJoint ? jointScale[tt][s] : scale[c][tt][s];
          const AllocationEntry& e = table.At(sb, a);
          int n = 0;
          while ((1u << n) < e.steps) ++n;
          --n;
          result[c][tt][jj][s] =
              QuantiseSample(sample, kScaleFactors[static_cast<std::size_t>(sf)],
                             kQuantA[e.quantClass], kQuantB[e.quantClass], n, e.steps);
        }
  for (auto& ch : result)
    for (auto& part : ch)
      for (auto& block : part)
        for (int sb = fp.sblimit; sb < 32; ++sb) block[static_cast<std::size_t>(sb)] = 0;
}

}  // namespace calvex::audio
