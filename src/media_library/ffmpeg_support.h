// Small helpers around FFmpeg's C objects: owning pointers, quiet logging, opening an input with a
// decoder. Internal to the media layer.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <memory>
#include <string>

#include "core/status.h"

namespace calvex::media::detail {

struct FormatInputDeleter {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
  void operator()(SwsContext* c) const { sws_freeContext(c); }
};
// An output file's context; closing it here (on a failure path) ignores write errors.
struct FormatOutputDeleter {
  void operator()(AVFormatContext* c) const {
    if (c->pb != nullptr) avio_closep(&c->pb);
    avformat_free_context(c);
  }
};
struct SwrDeleter {
  void operator()(SwrContext* c) const { swr_free(&c); }
};

using FormatInputPtr = std::unique_ptr<AVFormatContext, FormatInputDeleter>;
using FormatOutputPtr = std::unique_ptr<AVFormatContext, FormatOutputDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

FramePtr MakeFrame();
PacketPtr MakePacket();

// Silences FFmpeg's own log output (it would otherwise write decoder warnings to stderr). Set
// CALVEX_FFMPEG_LOG=1 in the environment to see it while debugging. Safe to call from any thread;
// the level is set once.
void QuietFfmpegLogging();

// Opens `path` with the given demuxer ("avi", "wav") and reads its stream information.
// Returns null when the file cannot be opened or is not of that kind.
FormatInputPtr OpenInput(const std::string& path, const char* demuxer);

// Creates `path` for writing with the given muxer ("avi", "wav"), with bit-exact output (no
// library version strings in the file). Null when the file cannot be created.
FormatOutputPtr CreateOutput(const std::string& path, const char* muxer);

// Closes an output's file; false when a write or the close failed.
bool CloseOutput(AVFormatContext& output);

// The first stream of `type` that is not an attached picture, or -1.
int FindStream(const AVFormatContext* format, AVMediaType type);

// A decoder context for a stream, opened with bit-exact settings on one thread. Null when
// libavcodec has no decoder for it or it will not open.
CodecContextPtr OpenDecoder(const AVStream* stream);

// The long name libavcodec gives a codec id ("Cinepak", "Motion JPEG"), or "".
std::string CodecLongName(AVCodecID id);

// Plain channel mixes for a resampler: mono goes to both sides at full level, stereo to mono as
// the average. False for other channel counts (or when swresample refuses).
bool SetPlainChannelMatrix(SwrContext* swr, int in, int out);

// The codec id that a WAVEFORMATEX format tag stands for (AV_CODEC_ID_NONE when unknown).
AVCodecID CodecIdForWaveTag(unsigned tag);

}  // namespace calvex::media::detail
