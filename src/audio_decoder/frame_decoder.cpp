#include "audio_decoder/frame_decoder.h"

#include <algorithm>
#include <cstring>

#include "audio_decoder/frame_bits.h"
#include "mpeg_audio/audio_tables.h"

namespace calvex::audio_decoder {
namespace {

using audio::FrameHeader;

// Requantisation: a code v of a quantiser with `steps` levels stands for the fraction
// (2v + 1 - steps) / steps, the centre of its level. This is ISO/IEC 11172-3's
// 2^n / (2^n - 1) x (v' + 2^(1-n)) for Layer I and C x (v' + D) for Layer II (v' the code read as
// a two's complement fraction with its top bit inverted) with the exact values of C and D.
constexpr double Fraction(std::uint32_t v, std::uint32_t steps, double reciprocal) {
  return static_cast<double>(2 * static_cast<std::int64_t>(v) + 1 - steps) * reciprocal;
}

struct Reciprocals {
  // Layer I, by bits per sample n = 2..16: 1 / (2^n - 1).
  std::array<double, 17> layer1{};
  // Layer II, by quantiser class 0..16: 1 / steps.
  std::array<double, 17> layer2{};
};

constexpr std::array<std::uint32_t, 17> kClassSteps = {
    3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535};

constexpr Reciprocals MakeReciprocals() {
  Reciprocals r;
  for (int n = 2; n <= 16; ++n)
    r.layer1[static_cast<std::size_t>(n)] = 1.0 / static_cast<double>((1u << n) - 1u);
  for (std::size_t c = 0; c < kClassSteps.size(); ++c)
    r.layer2[c] = 1.0 / static_cast<double>(kClassSteps[c]);
  return r;
}
constexpr Reciprocals kReciprocals = MakeReciprocals();

// Grouped codewords (quantiser classes 0, 1 and 3: 3, 5 and 9 steps in 5, 7 and 10 bits) split
// into their three values, and the fraction of each value, by table. Codes beyond steps^3 (not
// written by encoders) split the same way as by division.
struct GroupedClass {
  std::uint32_t steps;
  int bits;
};
constexpr std::array<GroupedClass, 3> kGroupedClasses = {{{3, 5}, {5, 7}, {9, 10}}};

struct GroupedTables {
  // values[g][code] = v0 | v1 << 4 | v2 << 8
  std::array<std::array<std::uint16_t, 1024>, 3> values{};
  // levels[g][v]: the fraction of value v (v <= 15 covers every split of every code).
  std::array<std::array<double, 16>, 3> levels{};
};

constexpr GroupedTables MakeGroupedTables() {
  GroupedTables t;
  for (std::size_t g = 0; g < kGroupedClasses.size(); ++g) {
    const std::uint32_t steps = kGroupedClasses[g].steps;
    for (std::uint32_t code = 0; code < (1u << kGroupedClasses[g].bits); ++code) {
      const std::uint32_t v0 = code % steps, v1 = code / steps % steps, v2 = code / steps / steps;
      t.values[g][code] = static_cast<std::uint16_t>(v0 | v1 << 4 | v2 << 8);
    }
    for (std::uint32_t v = 0; v < 16; ++v)
      t.levels[g][v] = Fraction(v, steps, 1.0 / static_cast<double>(steps));
  }
  return t;
}
constexpr GroupedTables kGrouped = MakeGroupedTables();

// Index into kGrouped of a grouped quantiser class.
constexpr std::size_t GroupedIndex(int quantClass) {
  return quantClass == 0 ? 0 : quantClass == 1 ? 1 : 2;
}

double ScaleFactor(std::uint32_t index) {
  return audio::kScaleFactors[index & 63];
}

}  // namespace

FrameLayout LayoutOf(const FrameHeader& h) {
  FrameLayout l;
  l.channels = audio::ChannelsOf(h);
  if (h.layer == 2) {
    // The half sampling rates have one table for every bitrate.
    l.table = h.version == 0
                  ? audio::kLayer2TableHalfRate
                  : audio::Layer2TableFor(audio::BitrateKbps(2, h.bitrate_index) / l.channels,
                                          h.sampling_frequency);
    l.sblimit = audio::Layer2AllocationTable(l.table).sblimit;
  }
  l.bound = l.sblimit;
  if (h.mode == audio::kModeJointStereo)
    l.bound =
        std::min(l.sblimit, audio::kJointStereoBound[static_cast<std::size_t>(h.mode_ext & 3)]);
  return l;
}

FrameDecoder::FrameDecoder(SynthesisPath path)
    : filters_{SynthesisFilter(path), SynthesisFilter(path)} {}

void FrameDecoder::Reset() {
  for (SynthesisFilter& f : filters_) f.Reset();
}

bool FrameDecoder::Decode(const FrameHeader& header, const std::uint8_t* frame, std::size_t size,
                          std::int16_t* pcm) {
  const FrameLayout layout = LayoutOf(header);
  return header.layer == 1 ? DecodeLayer1(header, layout, frame, size, pcm)
                           : DecodeLayer2(header, layout, frame, size, pcm);
}

void FrameDecoder::SynthesizePart(int channels, int part, std::int16_t* pcm) {
  if (channels == 1) {
    filters_[0].Synthesize(tables_, samples_[0][part], pcm);
    return;
  }
  alignas(16) std::int16_t out[2][32];
  filters_[0].Synthesize(tables_, samples_[0][part], out[0]);
  filters_[1].Synthesize(tables_, samples_[1][part], out[1]);
  for (int j = 0; j < 32; ++j) {
    pcm[2 * j] = out[0][j];
    pcm[2 * j + 1] = out[1][j];
  }
}

bool FrameDecoder::DecodeLayer1(const FrameHeader& header, const FrameLayout& layout,
                                const std::uint8_t* frame, std::size_t size, std::int16_t* pcm) {
  const int channels = layout.channels;
  FrameBits bits(frame + std::min<std::size_t>(size, 4), size > 4 ? size - 4 : 0);
  const std::uint32_t crcRead = header.error_protection ? bits.Get(16) : 0;

  audio::FrameCrc crc;
  crc.AddHeader(header);
  std::uint32_t allocation[2][32] = {};
  for (int sb = 0; sb < 32; ++sb) {
    for (int ch = 0; ch < (sb < layout.bound ? channels : 1); ++ch) {
      allocation[ch][sb] = bits.Get(4);
      crc.Add(allocation[ch][sb], 4);
    }
    if (sb >= layout.bound) allocation[1][sb] = allocation[0][sb];
  }
  if (header.error_protection && crc.value() != crcRead) {
    std::memset(pcm, 0, sizeof(std::int16_t) * 384 * static_cast<std::size_t>(channels));
    return false;
  }

  double scale[2][32] = {};
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < channels; ++ch)
      if (allocation[ch][sb] != 0) scale[ch][sb] = ScaleFactor(bits.Get(6));

  for (int ch = 0; ch < channels; ++ch) std::fill(samples_[ch][0], samples_[ch][0] + 32, 0.0);
  for (int block = 0; block < 12; ++block) {
    for (int sb = 0; sb < 32; ++sb) {
      const std::uint32_t a = allocation[0][sb];
      if (sb >= layout.bound) {
        if (a == 0) continue;
        const int n = static_cast<int>(a) + 1;
        const double f =
            Fraction(bits.Get(n), (1u << n) - 1u, kReciprocals.layer1[static_cast<std::size_t>(n)]);
        for (int ch = 0; ch < channels; ++ch) samples_[ch][0][sb] = f * scale[ch][sb];
        continue;
      }
      for (int ch = 0; ch < channels; ++ch) {
        const std::uint32_t ac = allocation[ch][sb];
        if (ac == 0) continue;
        const int n = static_cast<int>(ac) + 1;
        samples_[ch][0][sb] = Fraction(bits.Get(n), (1u << n) - 1u,
                                       kReciprocals.layer1[static_cast<std::size_t>(n)]) *
                              scale[ch][sb];
      }
    }
    SynthesizePart(channels, 0, pcm + block * 32 * channels);
  }
  return true;
}

bool FrameDecoder::DecodeLayer2(const FrameHeader& header, const FrameLayout& layout,
                                const std::uint8_t* frame, std::size_t size, std::int16_t* pcm) {
  const int channels = layout.channels;
  const audio::AllocationTable& table = audio::Layer2AllocationTable(layout.table);
  FrameBits bits(frame + std::min<std::size_t>(size, 4), size > 4 ? size - 4 : 0);
  const std::uint32_t crcRead = header.error_protection ? bits.Get(16) : 0;

  audio::FrameCrc crc;
  crc.AddHeader(header);
  const audio::AllocationEntry* entry[2][32] = {};  // null: nothing allocated
  for (int sb = 0; sb < layout.sblimit; ++sb) {
    const int width = table.FieldWidth(sb);
    for (int ch = 0; ch < (sb < layout.bound ? channels : 1); ++ch) {
      const std::uint32_t a = width > 0 ? bits.Get(width) : 0;
      crc.Add(a, width);
      // A table slot without a quantiser (none exists within the field widths) counts as none.
      if (a != 0 && table.At(sb, static_cast<int>(a)).steps != 0)
        entry[ch][sb] = &table.At(sb, static_cast<int>(a));
    }
    if (sb >= layout.bound) entry[1][sb] = entry[0][sb];
  }
  std::uint32_t selection[2][32] = {};
  for (int sb = 0; sb < layout.sblimit; ++sb)
    for (int ch = 0; ch < channels; ++ch)
      if (entry[ch][sb] != nullptr) {
        selection[ch][sb] = bits.Get(2);
        crc.Add(selection[ch][sb], 2);
      }
  if (header.error_protection && crc.value() != crcRead) {
    std::memset(pcm, 0, sizeof(std::int16_t) * 1152 * static_cast<std::size_t>(channels));
    return false;
  }

  double scale[2][3][32] = {};
  for (int sb = 0; sb < layout.sblimit; ++sb) {
    for (int ch = 0; ch < channels; ++ch) {
      if (entry[ch][sb] == nullptr) continue;
      double f[3];
      switch (selection[ch][sb]) {
        case 0:
          f[0] = ScaleFactor(bits.Get(6));
          f[1] = ScaleFactor(bits.Get(6));
          f[2] = ScaleFactor(bits.Get(6));
          break;
        case 1:
          f[0] = f[1] = ScaleFactor(bits.Get(6));
          f[2] = ScaleFactor(bits.Get(6));
          break;
        case 2:
          f[0] = f[1] = f[2] = ScaleFactor(bits.Get(6));
          break;
        default:
          f[0] = ScaleFactor(bits.Get(6));
          f[1] = f[2] = ScaleFactor(bits.Get(6));
          break;
      }
      for (int part = 0; part < 3; ++part) scale[ch][part][sb] = f[part];
    }
  }

  for (int ch = 0; ch < channels; ++ch)
    for (int part = 0; part < 3; ++part)
      std::fill(samples_[ch][part], samples_[ch][part] + 32, 0.0);

  for (int granule = 0; granule < 12; ++granule) {
    const int part = granule >> 2;
    for (int sb = 0; sb < layout.sblimit; ++sb) {
      for (int ch = 0; ch < (sb < layout.bound ? channels : 1); ++ch) {
        const audio::AllocationEntry* e = entry[ch][sb];
        if (e == nullptr) continue;
        double f[3];
        if (e->grouping == 1) {
          const std::size_t g = GroupedIndex(e->quantClass);
          const std::uint32_t split = kGrouped.values[g][bits.Get(e->bits) & 1023];
          f[0] = kGrouped.levels[g][split & 15];
          f[1] = kGrouped.levels[g][(split >> 4) & 15];
          f[2] = kGrouped.levels[g][split >> 8];
        } else {
          const double reciprocal = kReciprocals.layer2[e->quantClass];
          for (double& x : f) x = Fraction(bits.Get(e->bits), e->steps, reciprocal);
        }
        const int last = sb < layout.bound ? ch : channels - 1;
        for (int s = 0; s < 3; ++s)
          for (int c = ch; c <= last; ++c) samples_[c][s][sb] = f[s] * scale[c][part][sb];
      }
    }
    for (int s = 0; s < 3; ++s)
      SynthesizePart(channels, s, pcm + (granule * 3 + s) * 32 * channels);
  }
  return true;
}

}  // namespace calvex::audio_decoder
