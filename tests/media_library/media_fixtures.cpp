#include "media_library/media_fixtures.h"

#include <cmath>
#include <cstring>
#include <filesystem>

#include "engine/bitmap.h"

namespace calvex::testing {

bool Ffmpeg(const std::string& args) {
  const CommandResult r = RunCommand("ffmpeg -nostdin -y -v error " + args);
  EXPECT_EQ(r.exitCode, 0) << "ffmpeg " << args << "\n" << r.output;
  return r.exitCode == 0;
}

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

std::vector<std::vector<std::uint8_t>> FfmpegFrames(const std::string& path, int width,
                                                    int height) {
  const std::string raw = path + ".frames.bgr";
  std::vector<std::vector<std::uint8_t>> frames;
  if (!Ffmpeg("-flags +bitexact -i " + ShellQuote(path) + " -map 0:v:0 -sws_flags " + kScalerFlags +
              " -vf scale=" + std::to_string(width) + ":" + std::to_string(height) +
              ":flags=" + kScalerFlags + " -pix_fmt bgr24 -fps_mode passthrough -f rawvideo " +
              ShellQuote(raw)))
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

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  if (sum == 0) return 1000;
  return 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
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
