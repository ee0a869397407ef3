// RAVIGetInfo: the AVI information block.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "core/bitmap.h"
#include "media_library/avi_source.h"
#include "media_library/media_library.h"

namespace calvex::media {
namespace {

using namespace detail;

template <std::size_t N>
void CopyText(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

std::uint16_t Clamp16(std::int64_t v) {
  return static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, 0, 65535));
}

std::uint32_t Clamp32(std::int64_t v) {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, 0, 0xFFFFFFFFll));
}

// "" for uncompressed bitmaps (the dialog then says "No Compression"), else the codec's name.
std::string CompressionName(const AVCodecParameters& video) {
  if (video.codec_id == AV_CODEC_ID_RAWVIDEO && (video.codec_tag == 0 || video.codec_tag == 3))
    return {};
  std::string name = CodecLongName(video.codec_id);
  if (name.empty() && video.codec_tag != 0) {
    char fourcc[AV_FOURCC_MAX_STRING_SIZE] = {};
    av_fourcc_make_string(fourcc, video.codec_tag);
    name = fourcc;
  }
  return name;
}

}  // namespace

Status AviFrameCount(const std::string& path, std::int32_t& frames) {
  frames = 0;
  AviFile file;
  if (const Status s = OpenAviFile(path, file); s != kOk) return s;
  if (file.VideoStream() == nullptr) return kAviNoVideo;
  frames = static_cast<std::int32_t>(std::clamp<std::int64_t>(VideoFrameCount(file), 0, INT32_MAX));
  return kOk;
}

Status RAVIGetInfo(const std::string& path, AviInfo& info) {
  info = AviInfo{};
  CopyText(info.path, path);
  AviFile file;
  if (const Status s = OpenAviFile(path, file); s != kOk) return s;
  AVStream* video = file.VideoStream();
  if (video == nullptr) return kAviNoVideo;

  std::error_code error;
  info.fileSize = Clamp32(static_cast<std::int64_t>(std::filesystem::file_size(path, error)));
  const AVCodecParameters& vp = *video->codecpar;
  CopyText(info.compressionName, CompressionName(vp));
  info.frameRatePacked = PackedFrameRate(*video);
  const std::int64_t frames = VideoFrameCount(file);
  info.frameCount = Clamp16(frames);
  // The duration as the information dialog works it out (the rate cut to hundredths), so that
  // readers of the block that show no dialog have it too.
  const double rate = std::trunc(static_cast<double>(info.RateNumerator()) /
                                 std::max<std::uint32_t>(info.RateDenominator(), 1) * 100) /
                      100;
  if (rate > 0)
    info.videoDurationHundredths = Clamp16(static_cast<std::int64_t>(info.frameCount / rate * 100));
  info.width = Clamp16(vp.width);
  info.height = Clamp16(vp.height);
  info.bitsPerPixel = Clamp16(vp.bits_per_coded_sample > 0 ? vp.bits_per_coded_sample : 24);

  AVStream* audio = file.AudioStream();
  const std::int64_t videoBytes = ChunksOf(file, file.video).bytes;
  const std::int64_t audioBytes = ChunksOf(file, file.audio).bytes;
  info.videoDataSize = Clamp32(videoBytes);
  info.audioDataSize = Clamp32(audioBytes);

  // The share of the uncompressed size at the file's own bit depth, in tenths of a percent (none
  // when the headers claim sizes beyond 64 bits).
  const std::int64_t row = (std::int64_t{vp.width} * info.bitsPerPixel + 31) / 32 * 4;
  std::int64_t raw = 0;
  if (__builtin_mul_overflow(frames, row, &raw) ||
      __builtin_mul_overflow(raw, std::int64_t{vp.height}, &raw))
    raw = 0;
  info.compressionRatioTenths = Clamp16(raw > 0 ? videoBytes * 1000 / raw : 0);

  if (audio == nullptr) return kAviNoAudio;
  const AVCodecParameters& ap = *audio->codecpar;
  info.audioFormatTag = static_cast<std::uint16_t>(ap.codec_tag != 0 ? ap.codec_tag : 0xFFFF);
  info.audioSampleRate = Clamp16(ap.sample_rate);
  info.audioChannels = Clamp16(ap.ch_layout.nb_channels);
  info.audioBitsPerSample = Clamp16(ap.bits_per_coded_sample);
  return kOk;
}

std::uint32_t AviAudioSampleRate(const std::string& path) {
  AviFile file;
  if (OpenAviFile(path, file) != kOk || file.AudioStream() == nullptr) return 0;
  return Clamp32(file.AudioStream()->codecpar->sample_rate);
}

}  // namespace calvex::media
