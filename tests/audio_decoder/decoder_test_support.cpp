#include "audio_decoder/decoder_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>

#include "core/conversion_context.h"
#include "mpeg_audio/audio_tables.h"
#include "mpeg_audio/bit_stream.h"
#include "mpeg_audio/frame_header.h"

namespace calvex::audio_decoder::testing {
namespace {

using audio::FrameHeader;
using calvex::testing::RunCommand;
using calvex::testing::ShellQuote;

struct Shape {
  int channels;
  int sblimit;
  int bound;
  int table;
};

Shape ShapeOf(const FrameHeader& h) {
  Shape s{};
  s.channels = h.mode == 3 ? 1 : 2;
  s.sblimit = 32;
  s.table = -1;
  if (h.layer == 2) {
    s.table = h.version == 0
                  ? audio::kLayer2TableHalfRate
                  : audio::Layer2TableFor(audio::BitrateKbps(2, h.bitrate_index) / s.channels,
                                          h.sampling_frequency);
    s.sblimit = audio::Layer2AllocationTable(s.table).sblimit;
  }
  s.bound = h.mode == 1 ? std::min(4 * (h.mode_ext + 1), s.sblimit) : s.sblimit;
  return s;
}

void PadFrame(audio::BitStream& out, std::int64_t start, int lengthBytes) {
  std::int64_t left = start + std::int64_t{lengthBytes} * 8 - out.BitCount();
  if (left < 0) std::abort();  // the frame overran its length: a fault of the generator
  while (left > 0) {
    const int n = static_cast<int>(std::min<std::int64_t>(left, 32));
    out.PutBits(0, n);
    left -= n;
  }
}

void WriteLayer1Frame(audio::BitStream& out, const FrameHeader& h, const SyntheticStream& s,
                      std::mt19937& rng) {
  const Shape shape = ShapeOf(h);
  const int length = audio::FrameLengthBytes(h);
  int alloc[2][32] = {};
  auto units = [&](int sb) { return sb < shape.bound ? shape.channels : 1; };
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < units(sb); ++ch)
      alloc[ch][sb] = rng() % 4 == 0 ? 0 : static_cast<int>(rng() % 15);
  auto cost = [&] {
    int bits =
        32 + (h.error_protection ? 16 : 0) + 4 * (shape.bound * shape.channels + 32 - shape.bound);
    for (int sb = 0; sb < 32; ++sb)
      for (int ch = 0; ch < units(sb); ++ch)
        if (alloc[ch][sb] != 0)
          bits += 12 * (alloc[ch][sb] + 1) + 6 * (sb < shape.bound ? 1 : shape.channels);
    return bits;
  };
  while (cost() > length * 8) {
    const int sb = static_cast<int>(rng() % 32);
    const int ch = static_cast<int>(rng() % static_cast<unsigned>(units(sb)));
    alloc[ch][sb] = alloc[ch][sb] / 2;
  }
  for (int sb = shape.bound; sb < 32; ++sb) alloc[1][sb] = alloc[0][sb];

  const std::int64_t start = out.BitCount();
  audio::WriteFrameHeader(out, h);
  if (h.error_protection) {
    audio::FrameCrc crc;
    crc.AddHeader(h);
    for (int sb = 0; sb < 32; ++sb)
      for (int ch = 0; ch < units(sb); ++ch) crc.Add(static_cast<std::uint32_t>(alloc[ch][sb]), 4);
    out.PutBits(crc.value(), 16);
  }
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < units(sb); ++ch)
      out.PutBits(static_cast<std::uint32_t>(alloc[ch][sb]), 4);
  const auto scaleRange = static_cast<unsigned>(63 - s.loudestScaleFactor);
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < shape.channels; ++ch)
      if (alloc[ch][sb] != 0)
        out.PutBits(static_cast<std::uint32_t>(s.loudestScaleFactor) + rng() % scaleRange, 6);
  for (int block = 0; block < 12; ++block)
    for (int sb = 0; sb < 32; ++sb)
      for (int ch = 0; ch < units(sb); ++ch)
        if (alloc[ch][sb] != 0) {
          const int n = alloc[ch][sb] + 1;
          out.PutBits(rng() % ((1u << n) - 1u), n);  // the all-ones code is forbidden
        }
  PadFrame(out, start, length);
}

void WriteLayer2Frame(audio::BitStream& out, const FrameHeader& h, const SyntheticStream& s,
                      std::mt19937& rng) {
  const Shape shape = ShapeOf(h);
  const audio::AllocationTable& table = audio::Layer2AllocationTable(shape.table);
  const int length = audio::FrameLengthBytes(h);
  int alloc[2][32] = {};
  int selection[2][32] = {};
  auto units = [&](int sb) { return sb < shape.bound ? shape.channels : 1; };
  for (int sb = 0; sb < shape.sblimit; ++sb) {
    const int top = (1 << table.FieldWidth(sb)) - 1;
    for (int ch = 0; ch < units(sb); ++ch)
      alloc[ch][sb] = rng() % 4 == 0 ? 0 : static_cast<int>(rng() % static_cast<unsigned>(top + 1));
    for (int ch = 0; ch < shape.channels; ++ch) selection[ch][sb] = static_cast<int>(rng() % 4);
  }
  auto cost = [&] {
    int bits = 32 + (h.error_protection ? 16 : 0);
    for (int sb = 0; sb < shape.sblimit; ++sb) {
      bits += table.FieldWidth(sb) * units(sb);
      for (int ch = 0; ch < units(sb); ++ch) {
        if (alloc[ch][sb] == 0) continue;
        const audio::AllocationEntry& e = table.At(sb, alloc[ch][sb]);
        bits += 12 * e.bits * (e.grouping == 1 ? 1 : 3);
        for (int c = ch; c < (sb < shape.bound ? ch + 1 : shape.channels); ++c)
          bits +=
              2 + 6 * audio::kScaleFactorsPerSelection[static_cast<std::size_t>(selection[c][sb])];
      }
    }
    return bits;
  };
  while (cost() > length * 8) {
    const int sb = static_cast<int>(rng() % static_cast<unsigned>(shape.sblimit));
    const int ch = static_cast<int>(rng() % static_cast<unsigned>(units(sb)));
    alloc[ch][sb] = alloc[ch][sb] / 2;
  }
  for (int sb = shape.bound; sb < shape.sblimit; ++sb) alloc[1][sb] = alloc[0][sb];

  const std::int64_t start = out.BitCount();
  audio::WriteFrameHeader(out, h);
  if (h.error_protection) {
    audio::FrameCrc crc;
    crc.AddHeader(h);
    for (int sb = 0; sb < shape.sblimit; ++sb)
      for (int ch = 0; ch < units(sb); ++ch)
        crc.Add(static_cast<std::uint32_t>(alloc[ch][sb]), table.FieldWidth(sb));
    for (int sb = 0; sb < shape.sblimit; ++sb)
      for (int ch = 0; ch < shape.channels; ++ch)
        if (alloc[ch][sb] != 0) crc.Add(static_cast<std::uint32_t>(selection[ch][sb]), 2);
    out.PutBits(crc.value(), 16);
  }
  for (int sb = 0; sb < shape.sblimit; ++sb)
    for (int ch = 0; ch < units(sb); ++ch)
      out.PutBits(static_cast<std::uint32_t>(alloc[ch][sb]), table.FieldWidth(sb));
  for (int sb = 0; sb < shape.sblimit; ++sb)
    for (int ch = 0; ch < shape.channels; ++ch)
      if (alloc[ch][sb] != 0) out.PutBits(static_cast<std::uint32_t>(selection[ch][sb]), 2);
  const auto scaleRange = static_cast<unsigned>(63 - s.loudestScaleFactor);
  for (int sb = 0; sb < shape.sblimit; ++sb)
    for (int ch = 0; ch < shape.channels; ++ch)
      if (alloc[ch][sb] != 0)
        for (int i = 0;
             i < audio::kScaleFactorsPerSelection[static_cast<std::size_t>(selection[ch][sb])]; ++i)
          out.PutBits(static_cast<std::uint32_t>(s.loudestScaleFactor) + rng() % scaleRange, 6);
  for (int granule = 0; granule < 12; ++granule)
    for (int sb = 0; sb < shape.sblimit; ++sb)
      for (int ch = 0; ch < units(sb); ++ch) {
        if (alloc[ch][sb] == 0) continue;
        const audio::AllocationEntry& e = table.At(sb, alloc[ch][sb]);
        const std::uint32_t v0 = rng() % e.steps, v1 = rng() % e.steps, v2 = rng() % e.steps;
        if (e.grouping == 1) {
          out.PutBits((v2 * e.steps + v1) * e.steps + v0, e.bits);
        } else {
          out.PutBits(v0, e.bits);
          out.PutBits(v1, e.bits);
          out.PutBits(v2, e.bits);
        }
      }
  PadFrame(out, start, length);
}

}  // namespace

std::vector<std::size_t> WriteSyntheticStream(const SyntheticStream& s, const std::string& path) {
  audio::BitStream out;
  if (out.OpenBitStreamWrite(path) != kOk) std::abort();
  std::mt19937 rng(s.seed);
  FrameHeader h;
  h.version = s.version;
  h.layer = s.layer;
  h.error_protection = s.crc ? 1 : 0;
  h.bitrate_index = s.bitrateIndex;
  h.sampling_frequency = s.samplingCode;
  h.mode = s.mode;
  h.mode_ext = s.modeExt;
  std::vector<std::size_t> offsets;
  for (int f = 0; f < s.frames; ++f) {
    offsets.push_back(static_cast<std::size_t>(out.BitCount() / 8));
    if (s.layer == 1)
      WriteLayer1Frame(out, h, s, rng);
    else
      WriteLayer2Frame(out, h, s, rng);
  }
  out.CloseBitStreamWrite();
  return offsets;
}

Status MemorySink::Begin(const AudioDescription& description, const WaveFormat&) {
  stream = description;
  calls.push_back("begin");
  return kOk;
}

Status MemorySink::Write(const std::int16_t* data, std::int32_t count) {
  blockSizes.push_back(count);
  if (failWritesFrom != 0 && blockSizes.size() >= failWritesFrom) return kDiskFull;
  samples.insert(samples.end(), data, data + count);
  return kOk;
}

Status MemorySink::End() {
  calls.push_back("end");
  return kOk;
}

Decoded DecodeToMemory(const std::string& path, bool systemStream) {
  Decoded d;
  AudioDecodeRequest request;
  request.source = path;
  request.systemStream = systemStream;
  MemorySink sink;
  StandaloneContext context;
  d.status = DecodeMpegAudioInto(request, &sink, context.get(), d.result);
  d.samples = std::move(sink.samples);
  return d;
}

std::vector<std::int16_t> ReadRawSamples(const std::string& path) {
  const std::vector<std::uint8_t> bytes = calvex::testing::ReadFileBytes(path);
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return samples;
}

std::vector<std::int16_t> DecodeWithMpg123(const std::string& path) {
  const std::string raw = path + ".mpg123.raw";
  // mpg123 talks on standard error even when quiet; only standard output is the decoded audio.
  const auto r = RunCommand("{ mpg123 -q -s -e s16 " + ShellQuote(path) + " > " + ShellQuote(raw) +
                            " 2>/dev/null; }");
  if (r.exitCode != 0) return {};
  return ReadRawSamples(raw);
}

int LargestDifference(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
  if (a.size() != b.size()) return -1;
  int largest = 0;
  for (std::size_t i = 0; i < a.size(); ++i) largest = std::max(largest, std::abs(a[i] - b[i]));
  return largest;
}

void MakeTestWav(const std::string& path, int rate, int channels, double seconds) {
  const std::string exprs =
      channels == 1 ? "0.45*sin(2*PI*(100+1500*t)*t)+0.2*(random(0)-0.5)"
                    : "0.5*sin(2*PI*(100+1500*t)*t)|0.3*sin(2*PI*440*t)+0.25*(random(0)-0.5)";
  const std::string cmd = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i " +
                          ShellQuote("aevalsrc=exprs=" + exprs + ":s=" + std::to_string(rate) +
                                     ":d=" + std::to_string(seconds)) +
                          " -c:a pcm_s16le " + ShellQuote(path);
  const auto r = RunCommand(cmd);
  if (r.exitCode != 0) ADD_FAILURE() << cmd << "\n" << r.output;
}

bool CancellingHost::ConversionProgress(const ProgressRecord& record, ProgressKind kind,
                                        int value) {
  ++calls;
  records.push_back(record);
  thousandths.push_back(value);
  kinds.push_back(kind);
  return cancelAt_ != 0 && calls >= cancelAt_;
}

}  // namespace calvex::audio_decoder::testing
