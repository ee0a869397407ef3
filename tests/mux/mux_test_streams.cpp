#include "mux/mux_test_streams.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "mpeg_audio/audio_tables.h"
#include "mux/mux_params.h"

namespace calvex::mux::testing {

namespace {

void PutStartCode(std::vector<std::uint8_t>& b, std::uint8_t code) {
  b.insert(b.end(), {0x00, 0x00, 0x01, code});
}

void PutWord(std::vector<std::uint8_t>& b, std::uint32_t w) {
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(w >> shift));
}

std::string Fault(const char* what, std::int64_t unit, double value) {
  char text[160];
  std::snprintf(text, sizeof text, "%s: unit %lld (%.1f)", what, static_cast<long long>(unit),
                value);
  return text;
}

}  // namespace

FakeVideo MakeFakeVideo(const std::vector<int>& pictureBytes,
                        const std::vector<int>& displayNumbers) {
  FakeVideo v;
  auto& b = v.bytes;
  PutStartCode(b, 0xB3);
  b.insert(b.end(), {0x0A, 0x00, 0x78, 0x13});  // 160 x 120, square pels, 25 pictures/s
  // bit_rate 0x3FFFF, marker, vbv_buffer_size 20, constrained_parameters_flag, no matrices.
  PutWord(b, (0x3FFFFu << 14) | (1u << 13) | (20u << 3) | (1u << 2));
  PutStartCode(b, 0xB8);
  PutWord(b, (1u << 12) << 7 | (1u << 6));  // time code 0 with its marker bit, closed_gop
  const auto n = static_cast<int>(pictureBytes.size());
  std::size_t previous = 0;
  for (int k = 0; k < n; ++k) {
    v.index.push_back(MakeIndexWord(displayNumbers[static_cast<std::size_t>(k)] - k,
                                    static_cast<std::uint32_t>(b.size() - previous)));
    previous = b.size();
    PutStartCode(b, 0x00);
    const int type = displayNumbers[static_cast<std::size_t>(k)] == 0 ? 1 : 2;
    b.push_back(static_cast<std::uint8_t>(displayNumbers[static_cast<std::size_t>(k)] >> 2));
    b.push_back(static_cast<std::uint8_t>((displayNumbers[static_cast<std::size_t>(k)] & 3) << 6 |
                                          type << 3));
    b.resize(previous + static_cast<std::size_t>(pictureBytes[static_cast<std::size_t>(k)]), 0x55);
  }
  PutStartCode(b, 0xB7);
  v.index.push_back(
      MakeIndexWord(displayNumbers.back() - n, static_cast<std::uint32_t>(b.size() - previous)));
  return v;
}

std::vector<int> EncoderDisplayOrder(int n) {
  std::vector<int> order;
  for (int i = 0; i < n; ++i) {
    if (i == 0)
      order.push_back(0);
    else if ((i - 1) % 3 == 0)
      order.push_back(std::min(i + 2, n - 1));
    else
      order.push_back(i - 1);
  }
  return order;
}

std::vector<std::uint8_t> MakeFakeAudio(int frames, int layer, int sampleRateHz, int kbps,
                                        bool falseSyncs) {
  int bitrateIndex = 0;
  for (int i = 1; i < 15; ++i)
    if (audio::BitrateKbps(layer, i) == kbps) bitrateIndex = i;
  const int sf = audio::SamplingFrequencyCode(sampleRateHz);
  const int slotBits = layer == 1 ? 32 : 8;
  const std::int64_t bitsPerFrame =
      static_cast<std::int64_t>(audio::SamplesPerFrame(layer)) * kbps * 1000;
  std::vector<std::uint8_t> b;
  std::int64_t rest = 0;
  for (int f = 0; f < frames; ++f) {
    // Whole slots per frame, and a padding slot whenever the fractions add up to one.
    const std::int64_t slots = bitsPerFrame / sampleRateHz / slotBits;
    rest += bitsPerFrame / slotBits % sampleRateHz;
    int padding = 0;
    if (rest >= sampleRateHz) {
      rest -= sampleRateHz;
      padding = 1;
    }
    const std::size_t start = b.size();
    const std::uint32_t header =
        0xFFFu << 20 | 1u << 19 | static_cast<std::uint32_t>(4 - layer) << 17 | 1u << 16 |
        static_cast<std::uint32_t>(bitrateIndex) << 12 | static_cast<std::uint32_t>(sf) << 10 |
        static_cast<std::uint32_t>(padding) << 9;
    PutWord(b, header);
    const std::size_t length = static_cast<std::size_t>((slots + padding) * slotBits / 8);
    for (std::size_t i = 4; i < length; ++i)
      b.push_back(falseSyncs ? static_cast<std::uint8_t>(i % 3 == 0 ? 0xFF : 0xF5) : 0x00);
    b.resize(start + length);
  }
  b.push_back(0x00);
  return b;
}

std::vector<std::size_t> PictureStarts(const std::vector<std::uint8_t>& v) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i + 3 < v.size(); ++i)
    if (v[i] == 0 && v[i + 1] == 0 && v[i + 2] == 1 && v[i + 3] == 0x00) starts.push_back(i);
  return starts;
}

std::vector<std::size_t> AudioFrameStarts(const std::vector<std::uint8_t>& a) {
  std::vector<std::size_t> starts;
  std::size_t pos = 0;
  while (pos + 4 <= a.size() && a[pos] == 0xFF && (a[pos + 1] & 0xF8) == 0xF8) {
    const int layer = 4 - ((a[pos + 1] >> 1) & 3);
    const int kbps = audio::BitrateKbps(layer, a[pos + 2] >> 4);
    const int sf = (a[pos + 2] >> 2) & 3;
    if (kbps == 0 || sf > 2 || (layer != 1 && layer != 2)) break;
    const int hz = audio::kSamplingFrequencyHz[static_cast<std::size_t>(sf)];
    const int pad = (a[pos + 2] >> 1) & 1;
    const int length =
        layer == 1 ? (12 * kbps * 1000 / hz + pad) * 4 : 144 * kbps * 1000 / hz + pad;
    starts.push_back(pos);
    pos += static_cast<std::size_t>(length);
  }
  return starts;
}

std::vector<std::uint32_t> PictureIndexOf(const std::vector<std::uint8_t>& v) {
  std::vector<std::size_t> starts;
  std::vector<int> display;
  int groupBase = 0;
  int inGroup = 0;
  for (std::size_t i = 0; i + 5 < v.size(); ++i) {
    if (v[i] != 0 || v[i + 1] != 0 || v[i + 2] != 1) continue;
    if (v[i + 3] == 0xB8) {
      groupBase += inGroup;
      inGroup = 0;
    } else if (v[i + 3] == 0x00) {
      starts.push_back(i);
      display.push_back(groupBase + ((v[i + 4] << 2) | (v[i + 5] >> 6)));
      ++inGroup;
    }
  }
  std::vector<std::uint32_t> index;
  if (starts.empty()) return index;
  std::size_t previous = 0;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    index.push_back(MakeIndexWord(display[k] - static_cast<int>(k),
                                  static_cast<std::uint32_t>(starts[k] - previous)));
    previous = starts[k];
  }
  index.push_back(MakeIndexWord(display.back() - static_cast<int>(starts.size()),
                                static_cast<std::uint32_t>(v.size() - previous)));
  return index;
}

namespace {

// One stream of a parsed system stream: when each of its bytes arrives.
class Arrivals {
 public:
  Arrivals(const ParsedSystemStream& s, int streamId) : s_(s) {
    for (const ParsedPacket* p : s.PacketsOf(streamId))
      if (p->dataBytes > 0) packets_.push_back(p);
  }
  // Arrival time of the stream's byte `b`.
  double Of(std::size_t b) const {
    auto it =
        std::upper_bound(packets_.begin(), packets_.end(), b,
                         [](std::size_t x, const ParsedPacket* p) { return x < p->streamOffset; });
    const ParsedPacket* p = *(it - 1);
    return AtFileOffset(*p, p->dataOffset + (b - p->streamOffset));
  }
  // Bytes of the stream that have arrived by time t.
  std::int64_t By(double t) const {
    std::int64_t n = 0;
    for (const ParsedPacket* p : packets_) {
      const double first = AtFileOffset(*p, p->dataOffset);
      if (first > t) break;
      const double perByte = AtFileOffset(*p, p->dataOffset + 1) - first;
      const auto bytes = static_cast<std::int64_t>(std::floor((t - first) / perByte)) + 1;
      n += std::min<std::int64_t>(bytes, static_cast<std::int64_t>(p->dataBytes));
    }
    return n;
  }
  // The time stamps: (stream offset range of the packet, pts, dts).
  std::vector<const ParsedPacket*> Stamped() const {
    std::vector<const ParsedPacket*> out;
    for (const ParsedPacket* p : packets_)
      if (p->pts >= 0) out.push_back(p);
    return out;
  }

 private:
  // The SCR is the arrival of the byte holding its last bit; bytes follow at the mux rate.
  double AtFileOffset(const ParsedPacket& p, std::size_t offset) const {
    const ParsedPack& pack = s_.packs[static_cast<std::size_t>(p.pack)];
    const double ticksPerByte = 90000.0 / (pack.muxRate * 50.0);
    return static_cast<double>(pack.scr) +
           (static_cast<double>(offset) - static_cast<double>(pack.offset + 8)) * ticksPerByte;
  }
  const ParsedSystemStream& s_;
  std::vector<const ParsedPacket*> packets_;
};

// Checks one stream: units [starts[u] (0 for u = 0), starts[u + 1] or the end) leave at
// base + period x u, base taken from the first stamp.
void CheckStream(const ParsedSystemStream& s, int streamId, const std::vector<std::size_t>& starts,
                 std::size_t streamBytes, double period, DecoderModelReport& r,
                 std::int64_t& peak) {
  const Arrivals arrivals(s, streamId);
  const auto stamped = arrivals.Stamped();
  if (starts.empty() || stamped.empty()) return;
  const auto unitOf = [&](const ParsedPacket* p) -> std::int64_t {
    auto it = std::lower_bound(starts.begin(), starts.end(), p->streamOffset);
    if (it == starts.end() || *it >= p->streamOffset + p->dataBytes) return -1;
    return it - starts.begin();
  };
  const std::int64_t u0 = unitOf(stamped.front());
  const std::int64_t t0 = stamped.front()->dts >= 0 ? stamped.front()->dts : stamped.front()->pts;
  const auto timeOf = [&](std::int64_t u) {
    return static_cast<double>(t0) + std::floor(static_cast<double>(u - u0) * period);
  };
  for (const ParsedPacket* p : stamped) {
    const std::int64_t u = unitOf(p);
    if (u < 0) {
      r.faults.push_back(Fault("time stamp in a packet where no unit starts", -1, p->pts));
      continue;
    }
    const std::int64_t t = p->dts >= 0 ? p->dts : p->pts;
    if (std::abs(static_cast<double>(t) - timeOf(u)) > 1.0)
      r.faults.push_back(Fault("decoding time off the clock", u, static_cast<double>(t)));
    if (p->dts >= 0 && p->dts >= p->pts)
      r.faults.push_back(Fault("DTS not before the PTS", u, static_cast<double>(p->dts)));
  }
  const std::int32_t scale = stamped.front()->bufferScale == 1 ? 1024 : 128;
  const std::int64_t bound = static_cast<std::int64_t>(stamped.front()->bufferSize) * scale;
  for (std::size_t u = 0; u < starts.size(); ++u) {
    const std::size_t begin = u == 0 ? 0 : starts[u];
    const std::size_t end = u + 1 < starts.size() ? starts[u + 1] : streamBytes;
    const double t = timeOf(static_cast<std::int64_t>(u));
    const double margin = t - arrivals.Of(end - 1);
    r.latestArrivalMargin = std::min(r.latestArrivalMargin, margin);
    if (margin < -1.0)
      r.faults.push_back(
          Fault("unit arrives after its decoding time", static_cast<std::int64_t>(u), margin));
    const std::int64_t held = arrivals.By(t) - static_cast<std::int64_t>(begin);
    peak = std::max(peak, held);
    if (held > bound)
      r.faults.push_back(Fault("buffer holds more than its bound", static_cast<std::int64_t>(u),
                               static_cast<double>(held)));
  }
}

}  // namespace

DecoderModelReport CheckDecoderModel(const ParsedSystemStream& s, double videoPeriod,
                                     double audioPeriod) {
  DecoderModelReport r;
  CheckStream(s, 0xE0, PictureStarts(s.video), s.video.size(), videoPeriod, r, r.videoPeak);
  CheckStream(s, 0xC0, AudioFrameStarts(s.audio), s.audio.size(), audioPeriod, r, r.audioPeak);
  return r;
}

}  // namespace calvex::mux::testing
