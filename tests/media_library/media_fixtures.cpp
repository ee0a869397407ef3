#include "media_library/media_fixtures.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "core/bitmap.h"

namespace calvex::testing {

std::string ProbeValue(const std::string& path, const std::string& entry,
                       const std::string& streams) {
  std::string command =
      "ffprobe -v error -of default=noprint_wrappers=1:nokey=1 -show_entries " + entry;
  if (!streams.empty()) command += " -select_streams " + streams;
  CommandResult r = RunCommand(command + " " + ShellQuote(path));
  while (!r.output.empty() && (r.output.back() == '\n' || r.output.back() == '\r'))
    r.output.pop_back();
  return r.output;
}

namespace {

// The media layer's flags for the first video stream of `path` put out at width x height.
std::string ScalerFlagsFor(const std::string& path, int width, int height) {
  std::istringstream probe(ProbeValue(path, "stream=width,height,pix_fmt", "v:0"));
  int sourceWidth = 0, sourceHeight = 0;
  std::string format;
  probe >> sourceWidth >> sourceHeight >> format;
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(av_get_pix_fmt(format.c_str()));
  const bool subsampledYuv = d != nullptr &&
                             !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) &&
                             d->nb_components >= 3 && d->log2_chroma_w >= 1;
  return subsampledYuv && sourceWidth == width && sourceHeight == height ? kSameSizeYuvScalerFlags
                                                                         : kScalerFlags;
}

}  // namespace

std::vector<std::vector<std::uint8_t>> FfmpegFrames(const std::string& path, int width,
                                                    int height) {
  const std::string raw = path + ".frames.bgr";
  const std::string flags = ScalerFlagsFor(path, width, height);
  std::vector<std::vector<std::uint8_t>> frames;
  if (!Ffmpeg("-flags +bitexact -i " + ShellQuote(path) + " -map 0:v:0 -sws_flags " + flags +
              " -vf scale=" + std::to_string(width) + ":" + std::to_string(height) + ":flags=" +
              flags + " -pix_fmt bgr24 -fps_mode passthrough -f rawvideo " + ShellQuote(raw)))
    return frames;
  const std::vector<std::uint8_t> bytes = ReadFileBytes(raw);
  std::filesystem::remove(raw);
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  const std::size_t stride = static_cast<std::size_t>(BitmapStride(width, 24));
  const std::size_t frameBytes = row * static_cast<std::size_t>(height);
  for (std::size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes) {
    std::vector<std::uint8_t> dib(stride * static_cast<std::size_t>(height), 0);
    for (int y = 0; y < height; ++y)
      std::memcpy(&dib[stride * static_cast<std::size_t>(height - 1 - y)],
                  &bytes[at + row * static_cast<std::size_t>(y)], row);
    frames.push_back(std::move(dib));
  }
  return frames;
}

std::vector<std::uint8_t> FfmpegAudio(const std::string& path, const std::string& sampleFormat) {
  const std::string raw = path + ".pcm";
  if (!Ffmpeg("-i " + ShellQuote(path) + " -map 0:a:0 -f " + sampleFormat + " " + ShellQuote(raw)))
    return {};
  std::vector<std::uint8_t> bytes = ReadFileBytes(raw);
  std::filesystem::remove(raw);
  return bytes;
}

std::vector<std::uint8_t> TestPicture(int width, int height, int frame) {
  const int stride = BitmapStride(width, 24);
  std::vector<std::uint8_t> dib(static_cast<std::size_t>(stride) * height, 0);
  const int squareX = (frame * 7) % std::max(width - 16, 1);
  for (int y = 0; y < height; ++y) {
    const int top = height - 1 - y;  // bottom-up rows
    std::uint8_t* row = &dib[static_cast<std::size_t>(y) * stride];
    for (int x = 0; x < width; ++x) {
      const bool square = x >= squareX && x < squareX + 16 && top >= 8 && top < 24;
      row[3 * x + 0] = static_cast<std::uint8_t>(square ? 240 : 40 + 150 * x / width);
      row[3 * x + 1] = static_cast<std::uint8_t>(square ? 30 : 20 + 200 * top / height);
      row[3 * x + 2] =
          static_cast<std::uint8_t>(square ? 60 : 90 + 60 * (x + top) / (width + height));
    }
  }
  return dib;
}

std::vector<std::int16_t> SineSamples(int rate, int channels, double seconds, double frequency) {
  const std::size_t n = static_cast<std::size_t>(rate * seconds);
  std::vector<std::int16_t> out(n * static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < n; ++i)
    for (int c = 0; c < channels; ++c)
      out[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
          static_cast<std::int16_t>(
              std::lround(12000.0 * std::sin(2 * M_PI * frequency * i / rate)));
  return out;
}

double SineSnr(const std::vector<std::int16_t>& samples, int channels, int channel, int rate,
               double frequency) {
  const std::size_t n = samples.size() / static_cast<std::size_t>(channels);
  const std::size_t edge = static_cast<std::size_t>(rate) / 50;
  if (n <= 2 * edge + 10) return 0;
  // Least-squares fit of a sin + b cos + c.
  double ss = 0, sc = 0, cc = 0, s1 = 0, c1 = 0, ys = 0, yc = 0, y1 = 0, count = 0;
  std::vector<double> y, si, co;
  for (std::size_t i = edge; i < n - edge; ++i) {
    const double v =
        samples[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel)];
    const double a = std::sin(2 * M_PI * frequency * i / rate);
    const double b = std::cos(2 * M_PI * frequency * i / rate);
    ss += a * a;
    sc += a * b;
    cc += b * b;
    s1 += a;
    c1 += b;
    ys += v * a;
    yc += v * b;
    y1 += v;
    count += 1;
    y.push_back(v);
    si.push_back(a);
    co.push_back(b);
  }
  // Solve the 3x3 normal equations by Cramer's rule.
  const double m[3][3] = {{ss, sc, s1}, {sc, cc, c1}, {s1, c1, count}};
  const double r[3] = {ys, yc, y1};
  const auto det = [](const double a[3][3]) {
    return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
           a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  };
  const double d = det(m);
  double coef[3];
  for (int k = 0; k < 3; ++k) {
    double t[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) t[i][j] = j == k ? r[i] : m[i][j];
    coef[k] = det(t) / d;
  }
  double signal = 0, noise = 0;
  for (std::size_t i = 0; i < y.size(); ++i) {
    const double fit = coef[0] * si[i] + coef[1] * co[i];
    signal += fit * fit;
    const double e = y[i] - fit - coef[2];
    noise += e * e;
  }
  return noise == 0 ? 1000 : 10 * std::log10(signal / noise);
}

std::vector<std::int16_t> AsSamples(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> out(bytes.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return out;
}

std::vector<ChunkRef> MoviChunks(const std::vector<std::uint8_t>& avi) {
  std::vector<ChunkRef> chunks;
  const std::size_t movi = FindTag(avi, "movi");
  if (movi == std::string::npos || movi < 8) return chunks;
  const std::size_t end = movi + Le32At(avi, movi - 4);
  for (std::size_t at = movi + 4; at + 8 <= end && at + 8 <= avi.size();) {
    const std::uint32_t size = Le32At(avi, at + 4);
    chunks.push_back({std::string(avi.begin() + static_cast<std::ptrdiff_t>(at),
                                  avi.begin() + static_cast<std::ptrdiff_t>(at + 4)),
                      at});
    at += 8 + size + (size & 1);
  }
  return chunks;
}

std::uint32_t Le32At(const std::vector<std::uint8_t>& b, std::size_t o) {
  return static_cast<std::uint32_t>(b.at(o)) | static_cast<std::uint32_t>(b.at(o + 1)) << 8 |
         static_cast<std::uint32_t>(b.at(o + 2)) << 16 |
         static_cast<std::uint32_t>(b.at(o + 3)) << 24;
}

std::uint16_t Le16At(const std::vector<std::uint8_t>& b, std::size_t o) {
  return static_cast<std::uint16_t>(b.at(o) | b.at(o + 1) << 8);
}

std::size_t FindTag(const std::vector<std::uint8_t>& bytes, const std::string& tag,
                    std::size_t from) {
  for (std::size_t i = from; i + tag.size() <= bytes.size(); ++i)
    if (std::memcmp(&bytes[i], tag.data(), tag.size()) == 0) return i;
  return std::string::npos;
}

}  // namespace calvex::testing
