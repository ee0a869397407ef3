#include "media_library/pcm_decoder.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cstring>

namespace calvex::media::detail {
namespace {

// Decoders of compressed audio need some frames before a seek point to settle (bit reservoir,
// overlapped transforms); half a second is ample.
constexpr std::int64_t kPrerollDivisor = 2;

}  // namespace

Status PcmDecoder::Open(AVFormatContext* format, int streamIndex) {
  format_ = format;
  if (streamIndex < 0) return kAviNoAudio;
  stream_ = format->streams[streamIndex];
  for (unsigned i = 0; i < format->nb_streams; ++i)
    format->streams[i]->discard =
        static_cast<int>(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  decoder_ = OpenDecoder(stream_);
  if (!decoder_) return kAudioFormatUnreadable;
  const int channels = decoder_->ch_layout.nb_channels;
  const int rate = decoder_->sample_rate;
  if (channels <= 0 || rate <= 0) return kAudioFormatUnreadable;

  const AVSampleFormat in = decoder_->sample_fmt;
  sampleFormat_ = in;
  const bool eightBit = in == AV_SAMPLE_FMT_U8 || in == AV_SAMPLE_FMT_U8P;
  // The PCM handed on is described by a WAV format: its sample frame and byte rate must fit it.
  const std::int64_t block = std::int64_t{channels} * (eightBit ? 1 : 2);
  if (block > 0xFFFF || block * rate > 0xFFFFFFFF) return kAudioFormatUnreadable;
  wave_ = MakePcmFormat(channels, rate, eightBit ? 8 : 16);
  if (in != AV_SAMPLE_FMT_U8 && in != AV_SAMPLE_FMT_S16) {
    AVChannelLayout layout{};
    if (decoder_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
      av_channel_layout_default(&layout, channels);
    else
      av_channel_layout_copy(&layout, &decoder_->ch_layout);
    SwrContext* raw = nullptr;
    const AVSampleFormat out = eightBit ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    const int r = swr_alloc_set_opts2(&raw, &layout, out, rate, &layout, in, rate, 0, nullptr);
    converter_.reset(raw);
    av_channel_layout_uninit(&layout);
    if (r < 0 || swr_init(converter_.get()) < 0) return kAudioFormatUnreadable;
  }
  return kOk;
}

void PcmDecoder::Seek(std::int64_t start) {
  silence_ = 0;
  pending_.clear();
  pendingOffset_ = 0;
  const bool compressed =
      decoder_->codec_id != AV_CODEC_ID_PCM_U8 && decoder_->codec_id != AV_CODEC_ID_PCM_S16LE;
  const std::int64_t preroll = compressed ? wave_.samplesPerSec / kPrerollDivisor : 0;
  const std::int64_t from = std::max<std::int64_t>(0, start - preroll);
  const AVRational perSample{1, static_cast<int>(wave_.samplesPerSec)};
  const std::int64_t ts = av_rescale_q(from, perSample, stream_->time_base);
  avcodec_flush_buffers(decoder_.get());
  inputDone_ = decoderDone_ = false;
  skipTo_ = start;
  if (from > 0 && av_seek_frame(format_, stream_->index, ts, AVSEEK_FLAG_BACKWARD) >= 0) {
    reanchor_ = true;
  } else {
    av_seek_frame(format_, stream_->index, 0, AVSEEK_FLAG_BACKWARD);
    reanchor_ = false;
    position_ = 0;
  }
}

std::int64_t CountDecodedSamples(const std::string& path, const char* formatName) {
  const FormatInputPtr format = OpenInput(path, formatName);
  if (!format) return 0;
  PcmDecoder decoder;
  if (decoder.Open(format.get(), FindStream(format.get(), AVMEDIA_TYPE_AUDIO)) != kOk) return 0;
  constexpr std::int64_t kPiece = 8192;
  std::vector<std::uint8_t> scratch(static_cast<std::size_t>(kPiece) * decoder.Format().blockAlign);
  std::int64_t total = 0;
  for (std::int64_t n; (n = decoder.Read(scratch.data(), kPiece)) > 0;) total += n;
  return total;
}

// Adds a decoded frame to the pending bytes, dropping what lies before skipTo_.
void PcmDecoder::Take(const AVFrame& frame) {
  std::int64_t start = position_;
  if (reanchor_ && frame.best_effort_timestamp != AV_NOPTS_VALUE) {
    const AVRational perSample{1, static_cast<int>(wave_.samplesPerSec)};
    start = av_rescale_q(frame.best_effort_timestamp, stream_->time_base, perSample);
  }
  // A frame that the decoder delivers in another layout than the stream opened with (a damaged
  // or spliced stream) fits neither the converter nor the format handed on: its time is kept as
  // silence.
  const bool foreign = frame.format != sampleFormat_ ||
                       frame.ch_layout.nb_channels != wave_.channels ||
                       frame.sample_rate != static_cast<int>(wave_.samplesPerSec);
  std::int64_t count = frame.nb_samples;
  if (foreign && frame.sample_rate > 0)  // at most a second of silence per frame
    count = std::min<std::int64_t>(av_rescale(count, wave_.samplesPerSec, frame.sample_rate),
                                   wave_.samplesPerSec);
  position_ = start + count;
  if (position_ <= skipTo_) return;
  if (reanchor_) {
    // The first frame at or after the seek point fixes the position; a frame that starts late
    // (a gap in the stream) is preceded by silence so that the samples stay in place.
    reanchor_ = false;
    if (start > skipTo_) silence_ = start - skipTo_;
  }
  const std::int64_t drop = std::max<std::int64_t>(0, skipTo_ - start);
  skipTo_ = 0;
  const std::size_t block = wave_.blockAlign;
  const std::size_t old = pending_.size();
  pending_.resize(old + static_cast<std::size_t>(count) * block);
  std::uint8_t* dest = pending_.data() + old;
  int produced = static_cast<int>(count);
  if (foreign) {
    std::memset(dest, SilenceByte(), static_cast<std::size_t>(count) * block);
  } else if (converter_) {
    produced =
        swr_convert(converter_.get(), &dest, static_cast<int>(count),
                    const_cast<const std::uint8_t**>(frame.extended_data), static_cast<int>(count));
    produced = std::max(produced, 0);
  } else {
    std::memcpy(dest, frame.data[0], static_cast<std::size_t>(count) * block);
  }
  pending_.resize(old + static_cast<std::size_t>(produced) * block);
  if (drop > 0) {
    const std::size_t dropBytes =
        std::min(pending_.size() - old, static_cast<std::size_t>(drop) * block);
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(old),
                   pending_.begin() + static_cast<std::ptrdiff_t>(old + dropBytes));
  }
}

bool PcmDecoder::DecodeMore() {
  while (!decoderDone_) {
    const int r = avcodec_receive_frame(decoder_.get(), frame_.get());
    if (r >= 0) {
      Take(*frame_);
      av_frame_unref(frame_.get());
      return true;
    }
    if (r == AVERROR_EOF) {
      decoderDone_ = true;
      break;
    }
    if (inputDone_) {
      decoderDone_ = true;  // a decoder that fails while draining has nothing more
      break;
    }
    const int read = av_read_frame(format_, packet_.get());
    if (read < 0) {
      inputDone_ = true;
      avcodec_send_packet(decoder_.get(), nullptr);
      continue;
    }
    if (packet_->stream_index == stream_->index) avcodec_send_packet(decoder_.get(), packet_.get());
    av_packet_unref(packet_.get());
  }
  return false;
}

std::int64_t PcmDecoder::Read(std::uint8_t* out, std::int64_t frames) {
  const std::size_t block = wave_.blockAlign;
  std::int64_t done = 0;
  while (done < frames) {
    if (silence_ > 0) {
      const std::int64_t n = std::min(frames - done, silence_);
      std::memset(out + done * block, SilenceByte(), static_cast<std::size_t>(n) * block);
      silence_ -= n;
      done += n;
      continue;
    }
    if (pendingOffset_ == pending_.size()) {
      pending_.clear();
      pendingOffset_ = 0;
      if (!DecodeMore()) break;
      continue;
    }
    const std::int64_t available =
        static_cast<std::int64_t>((pending_.size() - pendingOffset_) / block);
    const std::int64_t n = std::min(frames - done, available);
    std::memcpy(out + done * block, pending_.data() + pendingOffset_,
                static_cast<std::size_t>(n) * block);
    pendingOffset_ += static_cast<std::size_t>(n) * block;
    done += n;
  }
  return done;
}

}  // namespace calvex::media::detail
