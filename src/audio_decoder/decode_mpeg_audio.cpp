#include "audio_decoder/decode_mpeg_audio.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <vector>

#include "audio_decoder/frame_decoder.h"
#include "audio_decoder/frame_scanner.h"
#include "audio_decoder/pcm_sinks.h"
#include "mpeg_audio/audio_tables.h"
#include "mpeg_audio/bit_stream.h"
#include "mpeg_audio/frame_header.h"

namespace calvex::audio_decoder {
namespace {

using audio::FrameHeader;

constexpr std::int64_t kToTheEnd = 2147483647;
// Samples are handed to the sink in blocks of this many 16-bit values.
constexpr int kStagingSamples = 1600;

// Collects interleaved samples and hands them to the sink 1600 at a time.
class Staging {
 public:
  explicit Staging(PcmSink* sink) : sink_(sink) {}

  Status Append(const std::int16_t* samples, int count) {
    while (count > 0) {
      const int take = std::min(count, kStagingSamples - used_);
      std::memcpy(buffer_ + used_, samples, sizeof(std::int16_t) * static_cast<std::size_t>(take));
      used_ += take;
      samples += take;
      count -= take;
      if (used_ == kStagingSamples) {
        if (Status s = Flush(); s != kOk) return s;
      }
    }
    return kOk;
  }

  Status Flush() {
    if (used_ == 0) return kOk;
    const int n = used_;
    used_ = 0;
    return sink_->Write(buffer_, n);
  }

 private:
  PcmSink* sink_;
  std::int16_t buffer_[kStagingSamples];
  int used_ = 0;
};

AudioDescription Describe(const FrameHeader& h) {
  AudioDescription d;
  d.present = true;
  d.sampleRate = audio::SamplingRateHzOf(h);
  d.bits = 16;
  d.channels = audio::ChannelsOf(h);
  d.layer = h.layer;
  d.bitrateIndex = h.bitrate_index;
  d.mode = h.mode;
  return d;
}

WaveFormat PcmFormatFor(const AudioDescription& d, const AudioOutputOptions& options) {
  const int divisor = options.rateDivisor > 0 ? options.rateDivisor : 1;
  const int bytes = options.bitsPerSample <= 8 ? 1 : 2;
  return MakePcmFormat(d.channels, d.sampleRate / divisor, 8 * bytes);
}

// The frame's samples in the stream's channel count: a mono frame in a two-channel stream is
// doubled, a two-channel frame in a mono stream gives its first channel.
const std::int16_t* MatchChannels(const std::int16_t* pcm, int samples, int frameChannels,
                                  int streamChannels, std::int16_t* scratch) {
  if (frameChannels == streamChannels) return pcm;
  for (int i = 0; i < samples; ++i) {
    if (streamChannels == 2) {
      scratch[2 * i] = pcm[i];
      scratch[2 * i + 1] = pcm[i];
    } else {
      scratch[i] = pcm[2 * i];
    }
  }
  return scratch;
}

// Time record of frame f: tenths of a second, seconds, minutes, hours.
void FillAudioTime(std::int64_t frame, double tenthsPerFrame, ProgressRecord& record) {
  const auto tenths = static_cast<std::int64_t>(static_cast<double>(frame) * tenthsPerFrame + 0.5);
  record.fraction = static_cast<std::int32_t>(tenths % 10);
  record.seconds = static_cast<std::int32_t>(tenths / 10 % 60);
  record.minutes = static_cast<std::int32_t>(tenths / 600 % 60);
  record.hours = static_cast<std::int32_t>(tenths / 36000);
}

std::int64_t FileSizeOf(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<std::int64_t>(size);
}

// The buffers of one decoding, taken before anything is opened.
struct Workspace {
  FrameDecoder decoder;
  std::vector<std::int16_t> pcm = std::vector<std::int16_t>(2 * kMaxSamplesPerFrame);
  std::vector<std::int16_t> scratch = std::vector<std::int16_t>(2 * kMaxSamplesPerFrame);
};

}  // namespace

std::int32_t AudioDescription::ChannelMode() const {
  switch (mode) {
    case audio::kModeStereo:
      return 2;
    case audio::kModeJointStereo:
      return 3;
    case audio::kModeDualChannel:
      return 4;
    default:
      return 1;
  }
}

void PublishAudioDescription(const AudioDescription& d, ProgressRecord& record) {
  record.Word(kInfoAudioPresent) = d.present ? 1 : 0;
  record.Word(kInfoAudioRate) = d.sampleRate;
  record.Word(kInfoAudioBits) = d.bits;
  record.Word(kInfoAudioChannels) = d.channels;
  record.Word(kInfoMpegLayer) = d.layer;
  record.Word(kInfoAudioBitrateIndex) = d.bitrateIndex;
}

AudioFrameRange AudioFramesForVideoRange(std::int32_t sampleRate, std::int32_t samplesPerFrame,
                                         std::int32_t rate, std::int32_t scale,
                                         std::int32_t firstVideoFrame,
                                         std::int32_t lastVideoFrame) {
  AudioFrameRange range;
  if (rate <= 0 || scale <= 0 || sampleRate <= 0 || samplesPerFrame <= 0) return range;
  // Audio samples before video frame n: sampleRate x n x scale / rate, cut to whole samples.
  // Exact integer arithmetic: the same value as the sampling frequency in kHz / rate x n x
  // scale x 1000 without its rounding slips at exact frame boundaries.
  const auto samplesBefore = [&](std::int64_t n) {
    const __int128 v = static_cast<__int128>(sampleRate) * n * scale / rate;
    return static_cast<std::int64_t>(std::min<__int128>(v, INT64_MAX));
  };
  if (lastVideoFrame >= 0)
    range.last = std::min<std::int64_t>(
        (samplesBefore(std::int64_t{lastVideoFrame} + 1) - 1) / samplesPerFrame, kToTheEnd);
  if (firstVideoFrame > 0) range.skip = samplesBefore(firstVideoFrame) / samplesPerFrame;
  return range;
}

Status DecodeMpegAudioInto(const AudioDecodeRequest& request, PcmSink* sink,
                           ConversionContext& context, AudioDecodeResult& result) {
  result = AudioDecodeResult{};
  std::unique_ptr<Workspace> work;
  std::unique_ptr<FrameScanner> scanner;
  audio::BitStream in;
  try {
    work = std::make_unique<Workspace>();
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  if (Status s = in.OpenBitStreamRead(request.source, request.systemStream
                                                          ? -audio::BitStream::kBufferSize
                                                          : audio::BitStream::kBufferSize);
      s != kOk)
    return s;
  try {
    scanner = std::make_unique<FrameScanner>(in);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  const std::int64_t sourceSize =
      request.sourceSize > 0 ? request.sourceSize : FileSizeOf(request.source);

  ProgressRecord record = request.record;
  record.pictureType = 0;
  record.bitmapHeader = nullptr;
  record.bitmapBits = nullptr;

  Status status = kOk;
  bool begun = false;
  FrameHeader first;
  std::int64_t lastFrame = kToTheEnd;
  std::int64_t skip = 0;
  double tenthsPerFrame = 0.0;
  Staging staging(sink);

  for (std::int64_t f = 0; f <= lastFrame;) {
    if (!scanner->FindSync()) {
      if (f == 0) status = kAudioDataError;
      break;
    }
    std::size_t real = 0;
    FrameHeader h;
    const bool valid = audio::ParseFrameHeader(scanner->Peek(4, &real), h) && real == 4;
    if (f == 0) {
      if (h.bitrate_index == 15 || h.sampling_frequency == 3) {
        status = kAudioDataError;
        break;
      }
      if (h.layer == 3) {
        result.description.layer = 3;
        status = kLayer3Unsupported;
        break;
      }
      // The reserved layer, free format and a header cut by the end of the file cannot be decoded
      // either.
      if (!valid) {
        status = kAudioDataError;
        break;
      }
      first = h;
      result.description = Describe(h);
      result.pcmFormat = PcmFormatFor(result.description, request.output);
      PublishAudioDescription(result.description, record);
      if (sink == nullptr) break;  // information only
      status = sink->Begin(result.description, result.pcmFormat);
      if (status != kOk) break;
      begun = true;
      if (record.Word(kInfoRate) != 0) {
        const AudioFrameRange range = AudioFramesForVideoRange(
            result.description.sampleRate, audio::SamplesPerFrame(h.layer), record.Word(kInfoRate),
            record.Word(kInfoScale), request.firstVideoFrame, request.lastVideoFrame);
        lastFrame = range.last;
        skip = range.skip;
      }
    } else if (!valid || h.sampling_frequency != first.sampling_frequency ||
               h.version != first.version) {
      // A syncword that starts no frame of this stream: search on from the next byte.
      scanner->Skip(1);
      continue;
    }

    const auto length = static_cast<std::size_t>(audio::FrameLengthBytes(h));
    if (skip > 0) {
      --skip;
    } else {
      const std::uint8_t* frame = scanner->Peek(length);
      if (!work->decoder.Decode(h, frame, length, work->pcm.data())) ++result.crcErrors;
      ++result.framesDecoded;
      const int samples = audio::SamplesPerFrame(h.layer);
      const int channels = result.description.channels;
      const std::int16_t* out = MatchChannels(work->pcm.data(), samples, audio::ChannelsOf(h),
                                              channels, work->scratch.data());
      result.samplesPerChannel += samples;
      status = staging.Append(out, samples * channels);
      if (status != kOk) break;
    }
    scanner->Skip(length);

    if (tenthsPerFrame == 0.0 && result.samplesPerChannel != 0) {
      const double khz = audio::SamplingRateKhzOf(first);
      tenthsPerFrame = static_cast<double>(result.samplesPerChannel) / (khz * 100.0);
    }
    FillAudioTime(f, tenthsPerFrame, record);
    record.frameNumber = static_cast<std::int32_t>(std::min<std::int64_t>(f, kToTheEnd));
    const int thousandths = sourceSize > 0
                                ? static_cast<int>(static_cast<double>(in.SourceBytesRead()) /
                                                       static_cast<double>(sourceSize) * 1000.0 +
                                                   0.5)
                                : 0;
    if (context.Progress(record, ProgressKind::kAudio, thousandths)) {
      status = kCancelled;
      break;
    }
    ++f;
  }

  if (status == kOk && begun) status = staging.Flush();
  in.CloseBitStreamRead();
  if (begun) {
    const Status ended = sink->End();
    if (status == kOk) status = ended;
    if (status != kOk) sink->Discard();
  }
  if (status == kDiskFull) context.RaiseDiskFull();
  return status;
}

Status DecodeMpegAudio(const AudioDecodeRequest& request, ConversionContext& context,
                       AudioDecodeResult& result) {
  switch (request.sink) {
    case AudioSinkKind::kWavFile: {
      WavFileSink sink(request.destination, request.wavFormat);
      return DecodeMpegAudioInto(request, &sink, context, result);
    }
    case AudioSinkKind::kTemporaryFile: {
      TemporaryFileSink sink(request.destination, request.output);
      const Status s = DecodeMpegAudioInto(request, &sink, context, result);
      result.audioBytes = s == kOk ? sink.BytesWritten() : 0;
      return s;
    }
    case AudioSinkKind::kNone:
      break;
  }
  return DecodeMpegAudioInto(request, nullptr, context, result);
}

Status ReadMpegAudioDescription(const std::string& source, bool systemStream,
                                AudioDescription& description) {
  AudioDecodeRequest request;
  request.source = source;
  request.systemStream = systemStream;
  StandaloneContext context;
  AudioDecodeResult result;
  const Status s = DecodeMpegAudioInto(request, nullptr, context.get(), result);
  description = result.description;
  return s;
}

}  // namespace calvex::audio_decoder
