// AviWriter: pictures and the PCM of a temporary file into an AVI through libavformat's muxer.
//
// Video: uncompressed bottom-up DIBs (24-bit, or 8-bit through a common palette) stored as they
// are, or one of the codecs of video_codecs.cpp at the record's quality and key-frame interval.
// Pictures are scaled to the record's size when it differs from theirs.
//
// Audio: the temporary file's PCM converted to the record's wave format. With interleaving, one
// audio chunk holding the sound of the next `packEveryFrames` frames goes ahead of every group of
// that many video frames; without it, the sound follows the pictures in chunks of a second.
//
// The chunks are written in exactly this order (av_write_frame, not the muxer's own interleaving),
// so the layout of the file is ours. "Pad frames for CD-ROM" is applied afterwards (avi_padding.h).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "core/bitmap.h"
#include "media_library/audio_encode_pipe.h"
#include "media_library/avi_padding.h"
#include "media_library/common_palette.h"
#include "media_library/file_util.h"
#include "media_library/media_library.h"
#include "media_library/picture_converter.h"
#include "media_library/video_codecs.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace calvex::media {

using namespace detail;

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Sound of one chunk at most, when not interleaved.
constexpr std::int64_t kSecondsPerLooseChunk = 1;

}  // namespace

struct AviWriter::Impl {
  std::string path;
  MpegToAviParams params{};
  FormatOutputPtr output;
  bool finished = true;  // nothing to delete until the file exists

  // Video.
  const VideoCodecSpec* codec = nullptr;
  AVStream* video = nullptr;
  AVRational frameTime{1, 30};  // scale / rate: one frame
  int width = 0;
  int height = 0;
  CodecContextPtr encoder;  // null for uncompressed frames
  PictureConverter converter;
  FramePtr picture = MakeFrame();
  std::optional<CommonPalette> palette;
  std::vector<std::uint8_t> dib;
  std::int64_t frames = 0;
  std::int64_t videoBytes = 0;
  PacketPtr packet = MakePacket();

  // Audio.
  AVStream* audio = nullptr;
  AudioEncodePipe pipe;
  FilePtr pcm;
  WaveFormat pcmFormat{};
  std::int64_t pcmFrames = 0;  // sample frames in the temporary file
  std::int64_t pcmRead = 0;
  bool audioDone = false;           // the coder has given its last samples
  std::vector<std::uint8_t> chunk;  // coded audio gathered for the next chunk
  std::int64_t chunkSamples = 0;
  std::int64_t audioSamples = 0;  // samples written, at the coded rate
  std::int64_t audioBytes = 0;

  ~Impl() {
    if (!finished) {
      output.reset();
      RemoveUnfinishedFile(path);
    }
  }

  Status Begin(const BitmapInfoHeader& frameFormat, const WaveFormat* audioFormat,
               const AviStreamInfo& info, const std::string& destination,
               const MpegToAviParams& record, const std::string& audioTempPath);
  Status AddFrame(const BitmapInfoHeader& header, const std::uint8_t* bits);
  Status End();

 private:
  Status OpenVideo(const BitmapInfoHeader& frameFormat);
  std::int64_t VideoBitRateTarget() const;
  Status OpenSound(const WaveFormat& format, std::uint32_t byteTotal, const std::string& tempPath);
  Status AddSoundStream();
  bool WriteVideoPacket(AVPacket& p);
  bool DrainVideo();
  bool WriteUncompressed(const BitmapInfoHeader& header, const std::uint8_t* bits);
  bool WriteAudioThrough(std::int64_t sourceFrame);
  bool FlushAudioChunk();
  std::int64_t SourceSampleAtFrame(std::int64_t frame) const;
};

Status AviWriter::Impl::OpenVideo(const BitmapInfoHeader& frameFormat) {
  width = params.width > 0 ? params.width : frameFormat.width;
  height = params.height > 0 ? params.height : std::abs(frameFormat.height);
  // Codecs that work on whole blocks take the size cut down to whole blocks.
  width = std::max(width - width % codec->sizeMultiple, codec->sizeMultiple);
  height = std::max(height - height % codec->sizeMultiple, codec->sizeMultiple);
  if (width > kMaxPictureSide || height > kMaxPictureSide) return kNotSupported;
  video = avformat_new_stream(output.get(), nullptr);
  if (video == nullptr) return kNoMemory;
  video->time_base = frameTime;
  video->avg_frame_rate = av_inv_q(frameTime);
  AVCodecParameters& par = *video->codecpar;
  if (codec->encoder == nullptr) {
    const bool eightBit = params.dataType == kDataType8;
    if (eightBit) palette.emplace(params.paletteChoice);
    par.codec_type = AVMEDIA_TYPE_VIDEO;
    par.codec_id = AV_CODEC_ID_RAWVIDEO;
    par.codec_tag = 0;
    par.format = eightBit ? AV_PIX_FMT_PAL8 : AV_PIX_FMT_BGR24;
    par.bits_per_coded_sample = eightBit ? 8 : 24;
    par.width = width;
    par.height = height;
    return kOk;
  }
  const AVCodec* c = avcodec_find_encoder_by_name(codec->encoder);
  encoder.reset(c != nullptr ? avcodec_alloc_context3(c) : nullptr);
  if (!encoder) return kVideoCreateFailed;
  encoder->width = width;
  encoder->height = height;
  encoder->pix_fmt = codec->pixelFormat;
  encoder->time_base = frameTime;
  encoder->framerate = av_inv_q(frameTime);
  encoder->thread_count = 1;
  encoder->flags |= AV_CODEC_FLAG_BITEXACT;
  encoder->max_b_frames = 0;
  const int keyEvery = codec->flags & kCodecTemporal ? std::clamp(params.keyFrameEvery, 1, 999) : 1;
  encoder->gop_size = keyEvery;
  // Cinepak puts a key frame every keyint_min frames, Microsoft Video 1 after keyint_min others.
  encoder->keyint_min = codec->fourcc == Fourcc('M', 'S', 'V', 'C') ? keyEvery - 1 : keyEvery;
  if (const std::int64_t target = VideoBitRateTarget(); target > 0) {
    // The codec's rate control holds the rate; the chosen quality is the finest it may use.
    encoder->bit_rate = target;
    encoder->rc_max_rate = target;
    encoder->rc_buffer_size = static_cast<int>(target / 10);
    encoder->qmin = QualityToQscale(params.quality, codec->defaultQuality);
    encoder->qmax = 31;
  } else if (codec->flags & kCodecQuality) {
    encoder->flags |= AV_CODEC_FLAG_QSCALE;
    encoder->global_quality = QualityToQscale(params.quality, codec->defaultQuality) * FF_QP2LAMBDA;
  }
  if (avcodec_open2(encoder.get(), c, nullptr) < 0) return kVideoCreateFailed;
  if (avcodec_parameters_from_context(&par, encoder.get()) < 0) return kNoMemory;
  par.codec_tag = codec->fourcc;
  picture->format = encoder->pix_fmt;
  picture->width = width;
  picture->height = height;
  if (av_frame_get_buffer(picture.get(), 0) < 0) return kNoMemory;
  return kOk;
}

// Bits per second for the pictures when the record limits the data rate and the codec can hold
// one: the limit less the coded sound, with a tenth kept back for the rate control's swings. 0
// when the codec keeps its fixed quality (it cannot hold a rate, or the sound alone fills it).
std::int64_t AviWriter::Impl::VideoBitRateTarget() const {
  if (params.limitDataRate == 0 || (codec->flags & kCodecDataRate) == 0) return 0;
  std::int64_t sound = 0;
  if (pcm) {  // the sound's coder is open
    const AVCodecContext& e = pipe.encoder();
    sound = e.bit_rate > 0 ? e.bit_rate / 8
                           : static_cast<std::int64_t>(e.block_align) * e.sample_rate /
                                 std::max(e.frame_size, 1);
  }
  const std::int64_t pictures = std::int64_t{params.dataRateKBps} * 1024 - sound;
  return pictures > 0 ? pictures * 8 * 9 / 10 : 0;
}

Status AviWriter::Impl::OpenSound(const WaveFormat& format, std::uint32_t byteTotal,
                                  const std::string& tempPath) {
  pcmFormat = format;
  if (format.blockAlign == 0) return kAudioDataTypeUnsupported;
  pcm.reset(std::fopen(tempPath.c_str(), "rb"));
  if (!pcm) return kOpenFailed;
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(tempPath, error);
  pcmFrames = static_cast<std::int64_t>(std::min<std::uint64_t>(error ? 0 : size, byteTotal) /
                                        format.blockAlign);
  return pipe.Open(format, params.AudioFormat());
}

Status AviWriter::Impl::AddSoundStream() {
  audio = avformat_new_stream(output.get(), nullptr);
  if (audio == nullptr || avcodec_parameters_from_context(audio->codecpar, &pipe.encoder()) < 0)
    return kNoMemory;
  audio->time_base = pipe.encoder().time_base;
  return kOk;
}

Status AviWriter::Impl::Begin(const BitmapInfoHeader& frameFormat, const WaveFormat* audioFormat,
                              const AviStreamInfo& info, const std::string& destination,
                              const MpegToAviParams& record, const std::string& audioTempPath) {
  path = destination;
  params = record;
  if (info.rate > 0 && info.scale > 0)
    frameTime = AVRational{static_cast<int>(info.scale), static_cast<int>(info.rate)};
  codec = FindVideoCodec(static_cast<std::uint32_t>(params.compressor));
  if (codec == nullptr) return kNoCompressionScheme;
  if (frameFormat.bitCount != 24 || frameFormat.width <= 0 || frameFormat.height == 0 ||
      frameFormat.width > kMaxPictureSide || std::abs(frameFormat.height) > kMaxPictureSide)
    return kVideoFormatUnreadable;

  output = CreateOutput(destination, "avi");
  if (!output) return kMediaAviCreate;
  finished = false;
  // The sound's coder first: the pictures' rate target needs its rate. Its stream follows the
  // video's.
  const bool sound = audioFormat != nullptr && !audioTempPath.empty() && info.audioByteTotal > 0;
  if (sound)
    if (const Status s = OpenSound(*audioFormat, info.audioByteTotal, audioTempPath); s != kOk)
      return s;
  if (const Status s = OpenVideo(frameFormat); s != kOk) return s;
  if (sound)
    if (const Status s = AddSoundStream(); s != kOk) return s;

  AVDictionary* options = nullptr;
  av_dict_set(&options, "flipped_raw_rgb", "1", 0);  // our DIBs are bottom-up
  const int r = avformat_write_header(output.get(), &options);
  av_dict_free(&options);
  return r >= 0 ? kOk : kAviWriteFailed;
}

bool AviWriter::Impl::WriteVideoPacket(AVPacket& p) {
  p.stream_index = video->index;
  videoBytes += p.size;
  return av_write_frame(output.get(), &p) >= 0 && output->pb->error == 0;
}

bool AviWriter::Impl::DrainVideo() {
  for (;;) {
    const int r = avcodec_receive_packet(encoder.get(), packet.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return false;
    av_packet_rescale_ts(packet.get(), encoder->time_base, video->time_base);
    const bool ok = WriteVideoPacket(*packet);
    av_packet_unref(packet.get());
    if (!ok) return false;
  }
}

bool AviWriter::Impl::WriteUncompressed(const BitmapInfoHeader& header, const std::uint8_t* bits) {
  const int stride24 = BitmapStride(width, 24);
  const std::uint8_t* source = bits;
  if (header.width != width || std::abs(header.height) != height) {
    dib.resize(static_cast<std::size_t>(stride24) * height);
    picture->format = AV_PIX_FMT_BGR24;
    picture->width = width;
    picture->height = height;
    if (picture->data[0] == nullptr && av_frame_get_buffer(picture.get(), 0) < 0) return false;
    if (!converter.FromBottomUpBgr(bits, header.width, std::abs(header.height), *picture))
      return false;
    for (int y = 0; y < height; ++y)
      std::memcpy(&dib[static_cast<std::size_t>(height - 1 - y) * stride24],
                  picture->data[0] + static_cast<std::ptrdiff_t>(y) * picture->linesize[0],
                  static_cast<std::size_t>(width) * 3);
    source = dib.data();
  }
  std::vector<std::uint8_t> indexed;
  const std::uint8_t* data = source;
  std::size_t size = static_cast<std::size_t>(stride24) * height;
  if (palette) {
    const int stride8 = BitmapStride(width, 8);
    indexed.assign(static_cast<std::size_t>(stride8) * height, 0);
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* in = source + static_cast<std::ptrdiff_t>(y) * stride24;
      std::uint8_t* out = &indexed[static_cast<std::size_t>(y) * stride8];
      for (int x = 0; x < width; ++x, in += 3) out[x] = palette->IndexOf(in[2], in[1], in[0]);
    }
    data = indexed.data();
    size = indexed.size();
  }
  if (av_new_packet(packet.get(), static_cast<int>(size)) < 0) return false;
  std::memcpy(packet->data, data, size);
  if (palette) {
    std::uint8_t* side = av_packet_new_side_data(packet.get(), AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
    if (side == nullptr) return false;
    std::memcpy(side, palette->entries().data(), AVPALETTE_SIZE);
  }
  packet->flags |= AV_PKT_FLAG_KEY;
  packet->pts = packet->dts = av_rescale_q(frames, frameTime, video->time_base);
  const bool ok = WriteVideoPacket(*packet);
  av_packet_unref(packet.get());
  return ok;
}

std::int64_t AviWriter::Impl::SourceSampleAtFrame(std::int64_t frame) const {
  const std::int64_t s =
      av_rescale_rnd(frame, static_cast<std::int64_t>(frameTime.num) * pcmFormat.samplesPerSec,
                     frameTime.den, AV_ROUND_NEAR_INF);
  return std::min(s, pcmFrames);
}

bool AviWriter::Impl::FlushAudioChunk() {
  if (chunk.empty()) return true;
  if (av_new_packet(packet.get(), static_cast<int>(chunk.size())) < 0) return false;
  std::memcpy(packet->data, chunk.data(), chunk.size());
  const AVRational perSample{1, pipe.encoder().sample_rate};
  packet->pts = packet->dts = av_rescale_q(audioSamples, perSample, audio->time_base);
  packet->duration = av_rescale_q(chunkSamples, perSample, audio->time_base);
  packet->stream_index = audio->index;
  packet->flags |= AV_PKT_FLAG_KEY;
  audioSamples += chunkSamples;
  audioBytes += packet->size;
  chunk.clear();
  chunkSamples = 0;
  const bool ok = av_write_frame(output.get(), packet.get()) >= 0 && output->pb->error == 0;
  av_packet_unref(packet.get());
  return ok;
}

// Codes the temporary file's samples up to `sourceFrame` into one chunk; at the end of the file
// the coder's last samples go with it.
bool AviWriter::Impl::WriteAudioThrough(std::int64_t sourceFrame) {
  const auto gather = [this](AVPacket& p) {
    chunk.insert(chunk.end(), p.data, p.data + p.size);
    chunkSamples += av_rescale_q(p.duration, pipe.encoder().time_base,
                                 AVRational{1, pipe.encoder().sample_rate});
    return true;
  };
  std::vector<std::uint8_t> buffer;
  while (pcmRead < sourceFrame) {
    const std::int64_t n = std::min<std::int64_t>(sourceFrame - pcmRead, 16384);
    buffer.resize(static_cast<std::size_t>(n) * pcmFormat.blockAlign);
    const std::size_t got =
        std::fread(buffer.data(), pcmFormat.blockAlign, static_cast<std::size_t>(n), pcm.get());
    if (got == 0) {
      pcmFrames = pcmRead;  // the file is shorter than announced
      break;
    }
    if (!pipe.Push(buffer.data(), static_cast<std::int64_t>(got), gather)) return false;
    pcmRead += static_cast<std::int64_t>(got);
  }
  if (pcmRead >= pcmFrames && !audioDone) {
    audioDone = true;
    if (!pipe.Finish(gather)) return false;
  }
  return FlushAudioChunk();
}

Status AviWriter::Impl::AddFrame(const BitmapInfoHeader& header, const std::uint8_t* bits) {
  if (!output || finished) return kAviWriteFailed;
  if (bits == nullptr || header.bitCount != 24 || header.width <= 0 || header.height == 0 ||
      header.width > kMaxPictureSide || std::abs(header.height) > kMaxPictureSide)
    return kVideoCompressFailed;
  const std::int64_t every = std::max(params.packEveryFrames, 1);
  if (audio != nullptr && params.interleave != 0 && frames % every == 0 && !audioDone)
    if (!WriteAudioThrough(SourceSampleAtFrame(frames + every))) return kAviWriteFailed;

  if (!encoder) {
    if (!WriteUncompressed(header, bits)) return kAviWriteFailed;
  } else {
    if (av_frame_make_writable(picture.get()) < 0 ||
        !converter.FromBottomUpBgr(bits, header.width, std::abs(header.height), *picture))
      return kVideoCompressFailed;
    picture->pts = frames;
    picture->quality = encoder->global_quality;
    if (avcodec_send_frame(encoder.get(), picture.get()) < 0) return kVideoCompressFailed;
    if (!DrainVideo()) return kAviWriteFailed;
  }
  ++frames;
  return kOk;
}

Status AviWriter::Impl::End() {
  if (!output || finished) return kAviWriteFailed;
  bool ok = true;
  if (encoder) ok = avcodec_send_frame(encoder.get(), nullptr) >= 0 && DrainVideo();
  if (ok && audio != nullptr) {
    // Whatever sound is left (all of it without interleaving), a second per chunk.
    const std::int64_t step =
        std::max<std::int64_t>(pcmFormat.samplesPerSec, 1) * kSecondsPerLooseChunk;
    while (ok && !audioDone) ok = WriteAudioThrough(std::min(pcmRead + step, pcmFrames));
  }
  ok = av_write_trailer(output.get()) >= 0 && ok;
  ok = CloseOutput(*output) && ok;
  if (ok && params.padFramesForCdRom != 0) ok = PadChunksForCdRom(path);
  if (!ok) return kAviWriteFailed;
  finished = true;

  if (params.limitDataRate != 0 && frames > 0) {
    // Bytes per second of the stored pictures and sound, against the limit in KB (1024 bytes).
    const double seconds = static_cast<double>(frames) * frameTime.num / frameTime.den;
    const double rate = static_cast<double>(videoBytes + audioBytes) / seconds;
    if (rate > static_cast<double>(params.dataRateKBps) * 1024.0) return kDataRateExceeded;
  }
  return kOk;
}

AviWriter::AviWriter() = default;
AviWriter::~AviWriter() = default;

Status AviWriter::aviSaveBegin(const BitmapInfoHeader& frameFormat, const WaveFormat* audioFormat,
                               const AviStreamInfo& info, const std::string& destination,
                               const MpegToAviParams& params, std::int32_t /*frameCount*/,
                               const std::string& audioTempPath) {
  impl_ = std::make_unique<Impl>();
  const Status s = impl_->Begin(frameFormat, audioFormat, info, destination, params, audioTempPath);
  if (s != kOk) impl_.reset();  // deletes what was created
  return s;
}

Status AviWriter::aviSaveFrames(const BitmapInfoHeader& header, const std::uint8_t* bits,
                                std::int32_t /*frameIndex*/) {
  if (!impl_) return kAviWriteFailed;
  return impl_->AddFrame(header, bits);
}

Status AviWriter::aviSaveEnd() {
  if (!impl_) return kAviWriteFailed;
  const Status s = impl_->End();
  impl_.reset();  // an unfinished file goes with it
  return s;
}

}  // namespace calvex::media
