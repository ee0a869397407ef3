#include "media_library/ffmpeg_support.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdlib>
#include <mutex>

namespace calvex::media::detail {

FramePtr MakeFrame() {
  return FramePtr(av_frame_alloc());
}

PacketPtr MakePacket() {
  return PacketPtr(av_packet_alloc());
}

void QuietFfmpegLogging() {
  static std::once_flag once;
  std::call_once(once, [] {
    const char* wanted = std::getenv("CALVEX_FFMPEG_LOG");
    av_log_set_level(wanted != nullptr && *wanted != '\0' && *wanted != '0' ? AV_LOG_INFO
                                                                            : AV_LOG_QUIET);
  });
}

FormatInputPtr OpenInput(const std::string& path, const char* demuxer) {
  QuietFfmpegLogging();
  const AVInputFormat* format = av_find_input_format(demuxer);
  AVFormatContext* raw = nullptr;
  if (format == nullptr || avformat_open_input(&raw, path.c_str(), format, nullptr) < 0)
    return nullptr;
  FormatInputPtr context(raw);
  if (avformat_find_stream_info(context.get(), nullptr) < 0) return nullptr;
  return context;
}

FormatOutputPtr CreateOutput(const std::string& path, const char* muxer) {
  QuietFfmpegLogging();
  AVFormatContext* raw = nullptr;
  if (avformat_alloc_output_context2(&raw, nullptr, muxer, path.c_str()) < 0 || raw == nullptr)
    return nullptr;
  FormatOutputPtr output(raw);
  output->flags |= AVFMT_FLAG_BITEXACT;
  if (avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return nullptr;
  return output;
}

bool CloseOutput(AVFormatContext& output) {
  if (output.pb == nullptr) return true;
  avio_flush(output.pb);
  const bool wrote = output.pb->error == 0;
  return avio_closep(&output.pb) == 0 && wrote;
}

int FindStream(const AVFormatContext* format, AVMediaType type) {
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream* s = format->streams[i];
    if (s->codecpar->codec_type == type && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
      return static_cast<int>(i);
  }
  return -1;
}

CodecContextPtr OpenDecoder(const AVStream* stream) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr) return nullptr;
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context || avcodec_parameters_to_context(context.get(), stream->codecpar) < 0)
    return nullptr;
  context->pkt_timebase = stream->time_base;
  // One thread and bit-exact transforms: the pictures and samples must not depend on the CPU,
  // and every output frame must carry the dts of the packet that produced it.
  context->thread_count = 1;
  context->flags |= AV_CODEC_FLAG_BITEXACT;
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
  return context;
}

bool SetPlainChannelMatrix(SwrContext* swr, int in, int out) {
  if (in == out) return true;
  if (in == 1 && out == 2) {
    const double m[2] = {1.0, 1.0};
    return swr_set_matrix(swr, m, 1) >= 0;
  }
  if (in == 2 && out == 1) {
    const double m[2] = {0.5, 0.5};
    return swr_set_matrix(swr, m, 2) >= 0;
  }
  return false;
}

std::string CodecLongName(AVCodecID id) {
  const AVCodecDescriptor* d = avcodec_descriptor_get(id);
  if (d == nullptr) return {};
  return d->long_name != nullptr ? d->long_name : d->name;
}

AVCodecID CodecIdForWaveTag(unsigned tag) {
  const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
  return av_codec_get_id(tables, tag);
}

}  // namespace calvex::media::detail
