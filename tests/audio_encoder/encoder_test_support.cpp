#include "encoder_test_support.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "support/test_support.h"

namespace calvex::audio::testing {

using calvex::testing::RunCommand;
using calvex::testing::ShellQuote;

const char* SignalName(Signal s) {
  switch (s) {
    case Signal::kTone:
      return "tone";
    case Signal::kSweep:
      return "sweep";
    case Signal::kNoise:
      return "noise";
    case Signal::kSilence:
      return "silence";
    case Signal::kSquare:
      return "square";
    case Signal::kSpeech:
      return "speech";
  }
  return "?";
}

std::vector<std::int16_t> MakeSignal(Signal s, int channels, int rate, int frames, double toneHz) {
  std::vector<std::int16_t> out(static_cast<std::size_t>(frames * channels));
  std::mt19937 rng(1234);
  std::normal_distribution<double> gauss(0.0, 1.0);
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    for (int c = 0; c < channels; ++c) {
      double v = 0;
      switch (s) {
        case Signal::kTone:
          v = 0.5 * std::sin(2 * M_PI * toneHz * t + 0.7 * c);
          break;
        case Signal::kSweep: {
          // 50 Hz up to 80 % of the Nyquist frequency, exponentially.
          const double duration = static_cast<double>(frames) / rate;
          const double f0 = 50, f1 = 0.4 * rate, k = std::log(f1 / f0) / duration;
          v = 0.4 * std::sin(2 * M_PI * f0 * (std::exp(k * t) - 1) / k + 0.3 * c);
          break;
        }
        case Signal::kNoise:
          v = 0.15 * gauss(rng);
          break;
        case Signal::kSilence:
          v = 0;
          break;
        case Signal::kSquare:
          v = std::sin(2 * M_PI * 440 * t + 0.2 * c) >= 0 ? 1.2 : -1.2;  // clipped
          break;
        case Signal::kSpeech: {
          // Voiced bursts: a 140 Hz harmonic series under a syllable envelope, with pauses.
          const double env = std::max(0.0, std::sin(2 * M_PI * 3.1 * t));
          double h = 0;
          for (int k = 1; k <= 12; ++k) h += std::sin(2 * M_PI * 140 * k * t + k) / k;
          v = 0.3 * env * env * h + 0.01 * env * gauss(rng) * (c + 1);
          break;
        }
      }
      v = std::clamp(v, -1.0, 32767.0 / 32768.0);
      out[static_cast<std::size_t>(i * channels + c)] =
          static_cast<std::int16_t>(std::lrint(v * 32768.0));
    }
  }
  return out;
}

std::vector<std::uint8_t> PcmBytes(const std::vector<std::int16_t>& values, int bits) {
  std::vector<std::uint8_t> b;
  for (std::int16_t v : values) {
    if (bits == 8) {
      b.push_back(static_cast<std::uint8_t>((v >> 8) + 128));
    } else {
      b.push_back(static_cast<std::uint8_t>(v & 0xFF));
      b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    }
  }
  return b;
}

bool RecordingObserver::Progress(const ProgressRecord& record, int t) {
  records.push_back(record);
  thousandths.push_back(t);
  return record.frameNumber == cancelAtFrame;
}

namespace {
std::uint64_t TotalValues(const std::vector<std::uint8_t>& pcm, const PcmFormat& f) {
  const std::uint64_t frames = pcm.size() / static_cast<std::size_t>(f.bitsPerSample / 8) /
                               static_cast<std::size_t>(f.channels);
  return frames * static_cast<std::uint64_t>(f.channels) *
         static_cast<std::uint64_t>(RateMultiplierFor(f.sampleRateHz));
}
}  // namespace

std::vector<std::int16_t> CodedValues(const std::vector<std::uint8_t>& pcm,
                                      const PcmFormat& format) {
  MemoryPcmSource source(pcm);
  const std::uint64_t total = TotalValues(pcm, format);
  PcmFrameReader reader(source, format, RateMultiplierFor(format.sampleRateHz), total);
  std::vector<std::int16_t> values(static_cast<std::size_t>(total));
  std::size_t produced = 0;
  reader.Read(values.data(), values.size(), produced);
  return values;
}

Encoded EncodeToFile(const std::vector<std::uint8_t>& pcm, const PcmFormat& format, int layer,
                     int jointStereo, int kbps, const std::string& path, bool fast) {
  Encoded e;
  MemoryPcmSource source(pcm);
  EncodeSource src;
  src.pcm = &source;
  src.format = format;
  src.totalValues = TotalValues(pcm, format);
  src.sourceFrames =
      static_cast<std::uint32_t>(pcm.size() / static_cast<std::size_t>(format.bitsPerSample / 8) /
                                 static_cast<std::size_t>(format.channels));
  e.params = {layer, jointStereo, kbps, 0};
  RecordingObserver observer;
  e.result = EncodeAudioStream(src, e.params, path, observer, fast);
  e.codedInput = CodedValues(pcm, format);
  return e;
}

FrameScan ScanFrames(const std::string& path) {
  FrameScan scan;
  const auto bytes = calvex::testing::ReadFileBytes(path);
  std::size_t pos = 0;
  while (pos + 4 <= bytes.size()) {
    BitStream in;
    in.OpenBitStreamReadBytes(std::vector<std::uint8_t>(
        bytes.begin() + static_cast<long>(pos), bytes.begin() + static_cast<long>(pos) + 4));
    FrameHeader h;
    if (in.GetBits(12) != kSyncWord || !ReadFrameHeader(in, h)) return scan;
    scan.headers.push_back(h);
    pos += static_cast<std::size_t>(FrameLengthBytes(h));
  }
  scan.tiles = pos == bytes.size();
  return scan;
}

Decoded DecodeWithPeer(const std::string& peer, const std::string& mp2, int channels) {
  Decoded d;
  const std::string raw = mp2 + "." + peer + ".raw";
  std::string command;
  if (peer == "ffmpeg")
    command = "ffmpeg -nostdin -v error -i " + ShellQuote(mp2) + " -f s16le -acodec pcm_s16le -y " +
              ShellQuote(raw);
  else
    command = "mpg123 -q -s " + ShellQuote(mp2) + " > " + ShellQuote(raw);
  const auto r = RunCommand(command);
  d.log = r.output;
  d.ok = r.exitCode == 0 && r.output.find_first_not_of(" \r\n") == std::string::npos;
  const auto bytes = calvex::testing::ReadFileBytes(raw);
  d.values.resize(bytes.size() / 2);
  for (std::size_t i = 0; i < d.values.size(); ++i)
    d.values[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  // mpg123 writes mono files as mono; ffmpeg too. Nothing to convert.
  (void)channels;
  return d;
}

double SnrDb(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& decoded,
             int channels, int& delay, int maxDelay) {
  const auto ch = static_cast<std::size_t>(channels);
  const std::size_t nr = reference.size() / ch, nd = decoded.size() / ch;
  auto error = [&](int lag, std::size_t from, std::size_t to, double& signal) {
    double err = 0;
    signal = 0;
    for (std::size_t i = from; i < to && i + static_cast<std::size_t>(lag) < nd; ++i)
      for (std::size_t c = 0; c < ch; ++c) {
        const double x = reference[i * ch + c];
        const double y = decoded[(i + static_cast<std::size_t>(lag)) * ch + c];
        err += (x - y) * (x - y);
        signal += x * x;
      }
    return err;
  };
  // The delay from a window of the signal, then the SNR over all of it.
  const std::size_t windowEnd = std::min<std::size_t>(nr, 12000);
  double best = -1, signal = 0;
  delay = 0;
  for (int lag = 0; lag <= maxDelay; ++lag) {
    const double e = error(lag, 0, windowEnd, signal);
    if (best < 0 || e < best) {
      best = e;
      delay = lag;
    }
  }
  const double e = error(delay, 0, nr, signal);
  if (e == 0) return 200.0;
  if (signal == 0) return -10 * std::log10(e);
  return 10 * std::log10(signal / e);
}

std::string Md5OfFile(const std::string& path) {
  const auto r = RunCommand("md5sum " + ShellQuote(path));
  return r.output.substr(0, 32);
}

}  // namespace calvex::audio::testing
