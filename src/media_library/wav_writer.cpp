// WavWriter: 16-bit PCM in, a WAV file in the chosen format out.
#include "media_library/audio_encode_pipe.h"
#include "media_library/file_util.h"
#include "media_library/media_library.h"

namespace calvex::media {

using namespace detail;

namespace {

constexpr std::uint32_t kLowestRate = 5125;
constexpr std::uint32_t kHighestRate = 48000;

}  // namespace

struct WavWriter::Impl {
  std::string path;
  FormatOutputPtr output;
  AudioEncodePipe pipe;
  int channels = 0;
  bool finished = false;

  ~Impl() {
    if (!finished) {
      output.reset();
      RemoveUnfinishedFile(path);
    }
  }

  bool WritePacket(AVPacket& packet) {
    AVStream* stream = output->streams[0];
    av_packet_rescale_ts(&packet, pipe.encoder().time_base, stream->time_base);
    packet.stream_index = 0;
    return av_write_frame(output.get(), &packet) >= 0 && output->pb->error == 0;
  }

  AudioEncodePipe::PacketSink Sink() {
    return [this](AVPacket& p) { return WritePacket(p); };
  }
};

WavWriter::WavWriter() = default;
WavWriter::~WavWriter() = default;

Status WavWriter::myWAVOutputBegin(const std::string& path, const WaveFormat& outputFormat,
                                   std::int32_t sourceRate, std::int32_t sourceBits,
                                   std::int32_t sourceChannels) {
  impl_.reset();
  if (sourceBits != 16 || sourceRate <= 0 || sourceChannels < 1 || sourceChannels > 2)
    return kAudioDataTypeUnsupported;
  if (outputFormat.samplesPerSec != 0 &&
      (outputFormat.samplesPerSec < kLowestRate || outputFormat.samplesPerSec > kHighestRate))
    return kAudioDataTypeUnsupported;
  auto impl = std::make_unique<Impl>();
  impl->path = path;
  impl->finished = true;  // nothing to delete until the file exists
  impl->channels = sourceChannels;
  const WaveFormat source = MakePcmFormat(sourceChannels, sourceRate, 16);
  if (const Status s = impl->pipe.Open(source, outputFormat); s != kOk) return s;

  impl->output = CreateOutput(path, "wav");
  if (!impl->output) return kCreateFailed;
  impl->finished = false;
  AVStream* stream = avformat_new_stream(impl->output.get(), nullptr);
  if (stream == nullptr ||
      avcodec_parameters_from_context(stream->codecpar, &impl->pipe.encoder()) < 0)
    return kNoMemory;
  stream->time_base = impl->pipe.encoder().time_base;
  if (avformat_write_header(impl->output.get(), nullptr) < 0) return kWavWriteFailed;
  impl_ = std::move(impl);
  return kOk;
}

Status WavWriter::myWAVOutput(const std::int16_t* samples, std::int32_t count) {
  if (!impl_ || impl_->finished) return kWavWriteFailed;
  if (count <= 0) return kOk;
  const std::int64_t frames = count / impl_->channels;
  if (!impl_->pipe.Push(reinterpret_cast<const std::uint8_t*>(samples), frames, impl_->Sink()))
    return kWavWriteFailed;
  return kOk;
}

Status WavWriter::myWAVOutputEnd() {
  if (!impl_ || impl_->finished) return kWavWriteFailed;
  const bool coded = impl_->pipe.Finish(impl_->Sink());
  const bool trailer = av_write_trailer(impl_->output.get()) >= 0;
  const bool closed = CloseOutput(*impl_->output);
  if (!coded || !trailer || !closed) {
    impl_.reset();  // deletes the unfinished file
    return kWavWriteFailed;
  }
  impl_->finished = true;
  impl_.reset();
  return kOk;
}

}  // namespace calvex::media
