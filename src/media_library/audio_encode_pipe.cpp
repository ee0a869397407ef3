#include "media_library/audio_encode_pipe.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>

namespace calvex::media::detail {
namespace {

// Bytes per block of the ADPCM formats, as the system's own codecs choose them: 256 per channel
// up to 11 kHz, doubling with each doubling of the rate.
int AdpcmBlockSize(int rate, int channels) {
  int block = 256 * channels;
  for (int r = 11025; r * 2 <= rate + 1000 && block < 4096; r *= 2) block *= 2;
  return block;
}

}  // namespace

const AVCodec* EncoderForWaveFormat(const WaveFormat& f) {
  const char* name = nullptr;
  switch (f.formatTag) {
    case kWaveFormatPcm:
      name = f.bitsPerSample == 8 ? "pcm_u8" : f.bitsPerSample == 16 ? "pcm_s16le" : nullptr;
      break;
    case kWaveFormatMsAdpcm:
      name = "adpcm_ms";
      break;
    case kWaveFormatImaAdpcm:
      name = "adpcm_ima_wav";
      break;
    case kWaveFormatALaw:
      name = "pcm_alaw";
      break;
    case kWaveFormatMuLaw:
      name = "pcm_mulaw";
      break;
    case kWaveFormatGsm610:
      name = "libgsm_ms";
      break;
    default:
      break;
  }
  return name != nullptr ? avcodec_find_encoder_by_name(name) : nullptr;
}

AudioEncodePipe::AudioEncodePipe() = default;

AudioEncodePipe::~AudioEncodePipe() {
  if (fifo_ != nullptr) av_audio_fifo_free(fifo_);
}

Status AudioEncodePipe::Open(const WaveFormat& source, WaveFormat target) {
  QuietFfmpegLogging();
  source_ = source;
  if (source.formatTag != kWaveFormatPcm ||
      (source.bitsPerSample != 8 && source.bitsPerSample != 16) || source.channels < 1 ||
      source.channels > 2 || source.samplesPerSec == 0)
    return kAudioDataTypeUnsupported;
  if (target.formatTag == 0) target.formatTag = kWaveFormatPcm;
  if (target.channels == 0) target.channels = source.channels;
  if (target.samplesPerSec == 0) target.samplesPerSec = source.samplesPerSec;
  if (target.formatTag == kWaveFormatPcm && target.bitsPerSample == 0)
    target.bitsPerSample = source.bitsPerSample;
  if (target.channels > 2 || target.samplesPerSec < 1000 || target.samplesPerSec > 96000)
    return kAudioDataTypeUnsupported;
  // GSM 6.10 as libgsm codes it is 8 kHz mono only.
  if (target.formatTag == kWaveFormatGsm610 &&
      (target.samplesPerSec != 8000 || target.channels != 1))
    return kAudioDataTypeUnsupported;
  const AVCodec* codec = EncoderForWaveFormat(target);
  if (codec == nullptr || codec->sample_fmts == nullptr) return kAudioDataTypeUnsupported;

  encoder_.reset(avcodec_alloc_context3(codec));
  if (!encoder_) return kNoMemory;
  const int rate = static_cast<int>(target.samplesPerSec);
  encoder_->sample_rate = rate;
  av_channel_layout_default(&encoder_->ch_layout, target.channels);
  encoder_->sample_fmt = codec->sample_fmts[0];
  encoder_->time_base = AVRational{1, rate};
  encoder_->flags |= AV_CODEC_FLAG_BITEXACT;
  encoder_->thread_count = 1;
  if (target.formatTag == kWaveFormatMsAdpcm || target.formatTag == kWaveFormatImaAdpcm)
    av_opt_set_int(encoder_->priv_data, "block_size", AdpcmBlockSize(rate, target.channels), 0);
  if (avcodec_open2(encoder_.get(), codec, nullptr) < 0) return kAudioDataTypeUnsupported;
  // Block coders: the file's bytes per second are the blocks' bytes over their duration (the
  // muxers write bit_rate / 8 there).
  if (encoder_->frame_size > 0 && encoder_->block_align > 0)
    encoder_->bit_rate =
        8 * (static_cast<std::int64_t>(rate) * encoder_->block_align / encoder_->frame_size);

  AVChannelLayout in{};
  av_channel_layout_default(&in, source.channels);
  SwrContext* swr = nullptr;
  const AVSampleFormat inFormat = source.bitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  int r = swr_alloc_set_opts2(&swr, &encoder_->ch_layout, encoder_->sample_fmt, rate, &in, inFormat,
                              static_cast<int>(source.samplesPerSec), 0, nullptr);
  resampler_.reset(swr);
  av_channel_layout_uninit(&in);
  if (r < 0) return kNoMemory;
  // Integer filtering: the samples come out the same on every CPU.
  av_opt_set_sample_fmt(swr, "internal_sample_fmt", AV_SAMPLE_FMT_S16P, 0);
  if (!SetPlainChannelMatrix(swr, source.channels, target.channels) || swr_init(swr) < 0)
    return kAudioDataTypeUnsupported;
  fifo_ = av_audio_fifo_alloc(encoder_->sample_fmt, target.channels, 4096);
  return fifo_ != nullptr ? kOk : kNoMemory;
}

bool AudioEncodePipe::Drain(const PacketSink& sink) {
  for (;;) {
    const int r = avcodec_receive_packet(encoder_.get(), packet_.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return false;
    // The silence that fills up the last block is not part of the sound: the packet's duration
    // stops at the last real sample (the WAV writer's "fact" chunk counts from it).
    const std::int64_t end =
        av_rescale_q(samples_, AVRational{1, encoder_->sample_rate}, encoder_->time_base);
    if (packet_->pts != AV_NOPTS_VALUE && packet_->pts + packet_->duration > end)
      packet_->duration = std::max<std::int64_t>(end - packet_->pts, 0);
    const bool taken = sink(*packet_);
    av_packet_unref(packet_.get());
    if (!taken) return false;
  }
}

bool AudioEncodePipe::EncodeFrames(bool flush, const PacketSink& sink) {
  const int fixed = encoder_->frame_size;
  for (;;) {
    const int held = av_audio_fifo_size(fifo_);
    if (held == 0 || (fixed > 0 && held < fixed && !flush)) return true;
    const int take = fixed > 0 ? std::min(held, fixed) : std::min(held, 8192);
    const int size = fixed > 0 ? fixed : take;
    av_frame_unref(frame_.get());
    frame_->nb_samples = size;
    frame_->format = encoder_->sample_fmt;
    frame_->sample_rate = encoder_->sample_rate;
    if (av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout) < 0 ||
        av_frame_get_buffer(frame_.get(), 0) < 0)
      return false;
    if (av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame_->data), take) != take)
      return false;
    if (take < size)  // the last frame of a fixed-size coder, filled up with silence
      av_samples_set_silence(frame_->data, take, size - take, encoder_->ch_layout.nb_channels,
                             encoder_->sample_fmt);
    frame_->pts = pts_;
    pts_ += size;
    if (avcodec_send_frame(encoder_.get(), frame_.get()) < 0 || !Drain(sink)) return false;
  }
}

// Resamples `frames` source sample frames (none: what the resampler still holds) into the FIFO.
// Returns the number of samples stored, or -1 on failure.
int AudioEncodePipe::Resample(const std::uint8_t* pcm, int frames) {
  const int room = swr_get_out_samples(resampler_.get(), frames);
  if (room < 0) return -1;
  if (room == 0) return 0;
  std::uint8_t* out[8] = {};
  if (av_samples_alloc(out, nullptr, encoder_->ch_layout.nb_channels, room, encoder_->sample_fmt,
                       0) < 0)
    return -1;
  const std::uint8_t* in[1] = {pcm};
  const int made = swr_convert(resampler_.get(), out, room, pcm != nullptr ? in : nullptr, frames);
  const bool stored =
      made >= 0 && av_audio_fifo_write(fifo_, reinterpret_cast<void**>(out), made) == made;
  av_freep(&out[0]);
  if (stored) samples_ += made;
  return stored ? made : -1;
}

bool AudioEncodePipe::Push(const std::uint8_t* pcm, std::int64_t frames, const PacketSink& sink) {
  while (frames > 0) {
    const int n = static_cast<int>(std::min<std::int64_t>(frames, 1 << 16));
    if (Resample(pcm, n) < 0 || !EncodeFrames(false, sink)) return false;
    pcm += static_cast<std::size_t>(n) * source_.blockAlign;
    frames -= n;
  }
  return true;
}

bool AudioEncodePipe::Finish(const PacketSink& sink) {
  for (int made; (made = Resample(nullptr, 0)) != 0;)
    if (made < 0) return false;
  if (!EncodeFrames(true, sink)) return false;
  if (avcodec_send_frame(encoder_.get(), nullptr) < 0) return false;
  return Drain(sink);
}

}  // namespace calvex::media::detail
