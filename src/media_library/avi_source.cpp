#include "media_library/avi_source.h"

extern "C" {
#include <libavutil/rational.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace calvex::media::detail {
namespace {

// Whether the file is shorter than the RIFF chunk its first bytes announce.
bool IsTruncatedRiff(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char head[8] = {};
  const bool read = std::fread(head, 1, sizeof head, f) == sizeof head;
  std::fclose(f);
  if (!read || std::memcmp(head, "RIFF", 4) != 0) return false;
  const std::uint64_t riffEnd =
      8 + (static_cast<std::uint64_t>(head[4]) | static_cast<std::uint64_t>(head[5]) << 8 |
           static_cast<std::uint64_t>(head[6]) << 16 | static_cast<std::uint64_t>(head[7]) << 24);
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(path, error);
  return !error && size < riffEnd;
}

}  // namespace

Status OpenAviFile(const std::string& path, AviFile& file) {
  file.format = OpenInput(path, "avi");
  if (!file.format) return kMediaAviOpen1;
  file.video = FindStream(file.format.get(), AVMEDIA_TYPE_VIDEO);
  file.audio = FindStream(file.format.get(), AVMEDIA_TYPE_AUDIO);
  file.truncated = IsTruncatedRiff(path);
  return kOk;
}

std::uint32_t PackedFrameRate(const AVStream& video) {
  AVRational rate = av_inv_q(video.time_base);
  if (rate.num <= 0 || rate.den <= 0) rate = video.r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) return 0;
  int num = 0;
  int den = 0;
  av_reduce(&num, &den, rate.num, rate.den, 65535);
  return static_cast<std::uint32_t>(num) << 16 | static_cast<std::uint32_t>(den);
}

ChunkScan ScanChunks(const std::string& path) {
  ChunkScan scan;
  AviFile file;
  if (OpenAviFile(path, file) != kOk) return scan;
  PacketPtr packet = MakePacket();
  while (av_read_frame(file.format.get(), packet.get()) >= 0) {
    if (packet->stream_index == file.video) {
      scan.videoBytes += packet->size;
      if (packet->dts != AV_NOPTS_VALUE)
        scan.videoFrames = std::max<std::int64_t>(scan.videoFrames, packet->dts + 1);
    } else if (packet->stream_index == file.audio) {
      scan.audioBytes += packet->size;
    }
    av_packet_unref(packet.get());
  }
  return scan;
}

std::int64_t VideoFrameCount(const AviFile& file, const std::string& path) {
  const AVStream* video = file.VideoStream();
  if (video == nullptr) return 0;
  std::int64_t frames = video->nb_frames;
  if (file.truncated) {
    frames = ScanChunks(path).videoFrames;
  } else if (frames <= 0 && video->duration > 0) {
    frames = video->duration;  // the time base is one frame
  }
  return frames;
}

std::int64_t AudioSampleFrames(const AVStream& audio) {
  std::int64_t length = audio.nb_frames > 0 ? audio.nb_frames : audio.duration;
  if (length <= 0) return 0;
  const std::int64_t rate = audio.codecpar->sample_rate;
  return av_rescale(length, static_cast<std::int64_t>(audio.time_base.num) * rate,
                    audio.time_base.den);
}

std::int64_t IndexedBytes(AVStream& stream) {
  std::int64_t total = 0;
  const int count = avformat_index_get_entries_count(&stream);
  for (int i = 0; i < count; ++i) total += avformat_index_get_entry(&stream, i)->size;
  return total;
}

}  // namespace calvex::media::detail
