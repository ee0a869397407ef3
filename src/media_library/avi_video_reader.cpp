// AviReader: frame-accurate pictures of an AVI by frame number.
//
// An AVI numbers its video chunks 0, 1, 2, ... and libavformat gives each packet that number as
// its dts. Chunks of size zero (a frame repeated by the writer) are not delivered at all, and
// codecs with B pictures put out each picture some packets after its own chunk. A decoded picture
// is numbered by the packet that made the decoder put it out: with a reordering delay of d
// packets, it is the frame of the packet sent d packets earlier. This stays right after a seek,
// when the decoder drops leading B pictures whose references are missing, and across dropped
// chunks, whose numbers never appear. A frame number with no picture of its own (a dropped chunk)
// shows the latest picture before it.
#include <algorithm>
#include <deque>
#include <vector>

#include "core/bitmap.h"
#include "media_library/avi_source.h"
#include "media_library/media_library.h"
#include "media_library/picture_converter.h"

namespace calvex::media {

using namespace detail;

namespace {

// Decoded pictures kept behind the latest one, and the jump ahead up to which decoding on (and
// keeping what it passes) is preferred to a seek: enough for B pictures coded after their
// references at frame rates down to a third of the source's.
constexpr std::size_t kKeptPictures = 8;
constexpr std::int64_t kShortJump = kKeptPictures;

}  // namespace

struct AviReader::Impl {
  std::string path;
  AviFile file;
  AVStream* stream = nullptr;
  CodecContextPtr decoder;
  PacketPtr packet = MakePacket();
  PictureConverter converter;
  int width = 0;
  int height = 0;
  std::int64_t frameCount = 0;

  // Decoding position since the last seek.
  std::deque<std::int64_t> sentDts;  // dts of the packets sent, oldest first
  std::int64_t lastNumbered = -1;    // frame number given to the last decoded picture
  std::deque<std::pair<FramePtr, std::int64_t>> decoded;  // pictures not yet asked for
  FramePtr latest;  // the latest picture at or before the last request
  std::int64_t latestNumber = -1;
  // The pictures before `latest`, oldest first: an encoder asks for frames a little out of order
  // (a reference picture before the B pictures shown ahead of it), and those come from here
  // instead of a seek back and a second decoding.
  std::deque<std::pair<FramePtr, std::int64_t>> passed;
  bool drained = false;  // the demuxer and the decoder have nothing more

  // Palettised video gets its palette with the first packet only; it is given again to the first
  // packet after each seek.
  std::vector<std::uint8_t> palette;
  bool resendPalette = false;

  Status Open(const std::string& p, BitmapInfoHeader& request, AviOpenInfo& info);
  Status GetFrame(std::int64_t n, std::uint8_t* buffer);

 private:
  void ResetPosition();
  std::int64_t SeekTarget(std::int64_t n);
  bool SeekTo(std::int64_t target);
  Status Deliver(const AVFrame& frame, std::uint8_t* buffer);
  const AVFrame* Passed(std::int64_t n) const;
  void TakeDecoded(std::int64_t n);
  bool Feed();
  void KeepPalette();
  void Receive();
  std::int64_t NumberFor(const AVFrame& frame);
};

void AviReader::Impl::ResetPosition() {
  sentDts.clear();
  decoded.clear();
  passed.clear();
  latest.reset();
  latestNumber = -1;
  lastNumbered = -1;
  drained = false;
  resendPalette = !palette.empty();
}

Status AviReader::Impl::Open(const std::string& p, BitmapInfoHeader& request, AviOpenInfo& info) {
  path = p;
  if (const Status s = OpenAviFile(path, file); s != kOk) return s;
  stream = file.VideoStream();
  if (stream == nullptr) return kAviNoVideo;
  // Only the video stream is read here; the demuxer skips the others.
  for (unsigned i = 0; i < file.format->nb_streams; ++i)
    if (static_cast<int>(i) != file.video) file.format->streams[i]->discard = AVDISCARD_ALL;
  decoder = OpenDecoder(stream);
  if (!decoder) return kVideoFormatUnreadable;

  const AVCodecParameters& vp = *stream->codecpar;
  // Counted before any packet is read: the index is then the file's own.
  frameCount = VideoFrameCount(file);
  // Reading the first packet now picks up the palette of palettised video before any seek.
  if (vp.bits_per_coded_sample <= 8) Feed();
  if (frameCount <= 0 || vp.width <= 0 || vp.height <= 0) return kAviNoVideo;
  width = request.width > 0 ? request.width : vp.width;
  height = request.height > 0 ? request.height : vp.height;
  if (width > kMaxPictureSide || height > kMaxPictureSide) return kNotSupported;
  request = MakeBitmapHeader24(width, height);

  info = AviOpenInfo{};
  info.frameRatePacked = PackedFrameRate(*stream);
  info.frameCount = static_cast<std::int32_t>(std::min<std::int64_t>(frameCount, INT32_MAX));
  info.width = vp.width;
  info.height = vp.height;
  if (const AVStream* audio = file.AudioStream()) {
    const AVCodecParameters& ap = *audio->codecpar;
    info.audioFormatTag = static_cast<std::uint16_t>(ap.codec_tag != 0 ? ap.codec_tag : 0xFFFF);
    info.audioSampleRate = static_cast<std::uint16_t>(std::min(ap.sample_rate, 65535));
    info.audioChannels = static_cast<std::uint16_t>(ap.ch_layout.nb_channels);
    info.audioBitsPerSample = static_cast<std::uint16_t>(ap.bits_per_coded_sample);
  }
  return kOk;
}

// The key frame from which frame n decodes correctly. With B pictures, the pictures shown just
// before a key frame may follow it in the file and lean on the group before, so the start goes one
// key frame further back.
std::int64_t AviReader::Impl::SeekTarget(std::int64_t n) {
  const int at = av_index_search_timestamp(stream, n, AVSEEK_FLAG_BACKWARD);
  if (at < 0) return 0;
  std::int64_t key = avformat_index_get_entry(stream, at)->timestamp;
  if (decoder->has_b_frames > 0 && key > 0) {
    const int before = av_index_search_timestamp(stream, key - 1, AVSEEK_FLAG_BACKWARD);
    if (before >= 0) key = avformat_index_get_entry(stream, before)->timestamp;
  }
  return key;
}

bool AviReader::Impl::SeekTo(std::int64_t target) {
  avcodec_flush_buffers(decoder.get());
  ResetPosition();
  return av_seek_frame(file.format.get(), file.video, target, AVSEEK_FLAG_BACKWARD) >= 0 ||
         av_seek_frame(file.format.get(), file.video, 0, AVSEEK_FLAG_BACKWARD) >= 0;
}

std::int64_t AviReader::Impl::NumberFor(const AVFrame& frame) {
  std::int64_t number = lastNumbered + 1;
  if (frame.pkt_dts != AV_NOPTS_VALUE) {
    const auto it = std::find(sentDts.rbegin(), sentDts.rend(), frame.pkt_dts);
    if (it != sentDts.rend()) {
      const std::ptrdiff_t pos = sentDts.rend() - it - 1;
      const std::ptrdiff_t shown = pos - std::max(decoder->has_b_frames, 0);
      number = shown >= 0 ? sentDts[static_cast<std::size_t>(shown)] : sentDts.front();
    }
  } else {
    // Pictures drained at the end come in display order, one per packet still held back.
    const auto it = std::upper_bound(sentDts.begin(), sentDts.end(), lastNumbered);
    if (it != sentDts.end()) number = *it;
  }
  number = std::max(number, lastNumbered + 1);
  lastNumbered = number;
  // The numbers of packets whose pictures are out are no longer needed.
  while (sentDts.size() > 64 && sentDts.front() < lastNumbered - 32) sentDts.pop_front();
  return number;
}

void AviReader::Impl::Receive() {
  for (;;) {
    FramePtr frame = MakeFrame();
    if (avcodec_receive_frame(decoder.get(), frame.get()) < 0) return;
    const std::int64_t number = NumberFor(*frame);
    decoded.emplace_back(std::move(frame), number);
  }
}

void AviReader::Impl::KeepPalette() {
  std::size_t size = 0;
  const std::uint8_t* p = av_packet_get_side_data(packet.get(), AV_PKT_DATA_PALETTE, &size);
  if (p != nullptr) {
    palette.assign(p, p + size);
  } else if (resendPalette) {
    std::uint8_t* add = av_packet_new_side_data(packet.get(), AV_PKT_DATA_PALETTE, palette.size());
    if (add != nullptr) std::copy(palette.begin(), palette.end(), add);
  }
  resendPalette = false;
}

// Sends the next video packet (or the end of the stream) to the decoder. False once drained.
bool AviReader::Impl::Feed() {
  if (drained) return false;
  for (;;) {
    const int r = av_read_frame(file.format.get(), packet.get());
    if (r < 0) {
      avcodec_send_packet(decoder.get(), nullptr);
      Receive();
      drained = true;
      return !decoded.empty();
    }
    if (packet->stream_index != file.video || packet->size == 0) {
      av_packet_unref(packet.get());
      continue;
    }
    KeepPalette();
    if (packet->dts != AV_NOPTS_VALUE && (sentDts.empty() || packet->dts > sentDts.back()))
      sentDts.push_back(packet->dts);
    // A damaged packet is skipped: the frames around it still come out.
    if (avcodec_send_packet(decoder.get(), packet.get()) == AVERROR(EAGAIN)) {
      Receive();
      avcodec_send_packet(decoder.get(), packet.get());
    }
    av_packet_unref(packet.get());
    Receive();
    return true;
  }
}

// Converted straight into the caller's buffer: a picture asked for again is converted again,
// which costs about what a copy kept for it would.
Status AviReader::Impl::Deliver(const AVFrame& frame, std::uint8_t* buffer) {
  return converter.ToBottomUpBgr(frame, width, height, buffer) ? kOk : kAviDecodeFailed;
}

// The picture frame n shows among those passed over, if they reach back to it: the latest at or
// before n.
const AVFrame* AviReader::Impl::Passed(std::int64_t n) const {
  if (passed.empty() || n < passed.front().second) return nullptr;
  auto it = passed.rbegin();
  while (it->second > n) ++it;
  return it->first.get();
}

// Moves the decoded pictures up to the one asked for into `latest`, keeping those passed over.
void AviReader::Impl::TakeDecoded(std::int64_t n) {
  while (!decoded.empty() && decoded.front().second <= n) {
    if (latest) {
      passed.emplace_back(std::move(latest), latestNumber);
      if (passed.size() > kKeptPictures) passed.pop_front();
    }
    latest = std::move(decoded.front().first);
    latestNumber = decoded.front().second;
    decoded.pop_front();
  }
}

Status AviReader::Impl::GetFrame(std::int64_t n, std::uint8_t* buffer) {
  if (!decoder) return kMediaAviOpen1;
  if (n < 0 || n >= frameCount || buffer == nullptr) return kAviDecodeFailed;
  if (latest && latestNumber == n) return Deliver(*latest, buffer);
  if (latest && n < latestNumber)
    if (const AVFrame* kept = Passed(n)) return Deliver(*kept, buffer);

  // Reading on from the current position is right for any later frame; a jump past the next key
  // frame is quicker by seeking, unless it is short: the frames in between are then kept for
  // the requests that often follow. The next frame in order never seeks.
  const bool behind = latest ? n < latestNumber
                             : lastNumbered >= 0 && n <= lastNumbered &&
                                   (decoded.empty() || n < decoded.front().second);
  if (behind || n > std::max(latestNumber, lastNumbered) + kShortJump) {
    const std::int64_t target = SeekTarget(n);
    const std::int64_t sent = sentDts.empty() ? -1 : sentDts.back();
    if ((behind || target > sent + 1) && !SeekTo(target)) return kAviDecodeFailed;
  }

  for (;;) {
    TakeDecoded(n);
    if (latest && latestNumber == n) return Deliver(*latest, buffer);
    if (!decoded.empty()) {
      // Frame n has no picture of its own: show the one before it, or when decoding started
      // after it, the first one there is.
      if (latest) return Deliver(*latest, buffer);
      return Deliver(*decoded.front().first, buffer);
    }
    if (!Feed()) {
      if (latest) return Deliver(*latest, buffer);
      return kAviDecodeFailed;
    }
  }
}

AviReader::AviReader() = default;
AviReader::~AviReader() = default;

Status AviReader::RAVIOpen(const std::string& path, BitmapInfoHeader& request, AviOpenInfo& info) {
  impl_ = std::make_unique<Impl>();
  const Status s = impl_->Open(path, request, info);
  if (s != kOk) impl_.reset();
  return s;
}

Status AviReader::RAVIGetFrame(std::int32_t frame, std::uint8_t* buffer) {
  if (!impl_) return kMediaAviOpen1;
  return impl_->GetFrame(frame, buffer);
}

void AviReader::RAVIClose() {
  impl_.reset();
}

}  // namespace calvex::media
