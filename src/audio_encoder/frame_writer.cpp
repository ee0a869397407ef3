#include "audio_encoder/frame_writer.h"

namespace calvex::audio {

namespace {
std::uint32_t U(int v) {
  return static_cast<std::uint32_t>(v);
}
std::size_t Z(int v) {
  return static_cast<std::size_t>(v);
}
}  // namespace

void WriteLayer1Body(BitStream& out, const ChannelSubbandValues& allocation,
                     const ScaleFactorIndices& scale, const QuantisedSamples& samples,
                     const FrameParams& fp) {
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < (sb < fp.jsbound ? fp.stereo : 1); ++ch)
      out.PutBits(U(allocation[Z(ch)][Z(sb)]), 4);
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < fp.stereo; ++ch)
      if (allocation[Z(ch)][Z(sb)] != 0) out.PutBits(U(scale[Z(ch)][0][Z(sb)]), 6);
  for (int j = 0; j < 12; ++j)
    for (int sb = 0; sb < 32; ++sb)
      for (int ch = 0; ch < (sb < fp.jsbound ? fp.stereo : 1); ++ch) {
        const int a = allocation[Z(ch)][Z(sb)];
        if (a != 0) out.PutBits(samples[Z(ch)][0][Z(j)][Z(sb)], a + 1);
      }
}

void WriteLayer2Body(BitStream& out, const ChannelSubbandValues& allocation,
                     const ChannelSubbandValues& selection, const ScaleFactorIndices& scale,
                     const QuantisedSamples& samples, const FrameParams& fp) {
  const AllocationTable& table = *fp.alloc;
  for (int sb = 0; sb < fp.sblimit; ++sb)
    for (int ch = 0; ch < (sb < fp.jsbound ? fp.stereo : 1); ++ch)
      out.PutBits(U(allocation[Z(ch)][Z(sb)]), table.FieldWidth(sb));
  for (int sb = 0; sb < fp.sblimit; ++sb)
    for (int ch = 0; ch < fp.stereo; ++ch)
      if (allocation[Z(ch)][Z(sb)] != 0) out.PutBits(U(selection[Z(ch)][Z(sb)]), 2);
  for (int sb = 0; sb < fp.sblimit; ++sb)
    for (int ch = 0; ch < fp.stereo; ++ch) {
      if (allocation[Z(ch)][Z(sb)] == 0) continue;
      const auto& sf = scale[Z(ch)];
      switch (selection[Z(ch)][Z(sb)]) {
        case 0:
          for (int t = 0; t < 3; ++t) out.PutBits(U(sf[Z(t)][Z(sb)]), 6);
          break;
        case 1:
        case 3:
          out.PutBits(U(sf[0][Z(sb)]), 6);
          out.PutBits(U(sf[2][Z(sb)]), 6);
          break;
        default:
          out.PutBits(U(sf[0][Z(sb)]), 6);
          break;
      }
    }
  for (int t = 0; t < 3; ++t)
    for (int g = 0; g < 12; g += 3)
      for (int sb = 0; sb < fp.sblimit; ++sb)
        for (int ch = 0; ch < (sb < fp.jsbound ? fp.stereo : 1); ++ch) {
          const int a = allocation[Z(ch)][Z(sb)];
          if (a == 0) continue;
          const AllocationEntry& e = table.At(sb, a);
          const auto& part = samples[Z(ch)][Z(t)];
          const std::uint32_t s0 = part[Z(g)][Z(sb)], s1 = part[Z(g + 1)][Z(sb)],
                              s2 = part[Z(g + 2)][Z(sb)];
          if (e.grouping == 1) {
            out.PutBits((s2 * e.steps + s1) * e.steps + s0, e.bits);
          } else {
            out.PutBits(s0, e.bits);
            out.PutBits(s1, e.bits);
            out.PutBits(s2, e.bits);
          }
        }
}

}  // namespace calvex::audio
