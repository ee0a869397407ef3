#include "mux/multiplexer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <vector>

#include "mpeg_audio/bit_stream.h"
#include "mux/audio_frames.h"
#include "mux/decoder_buffers.h"
#include "mux/packet_schedule.h"
#include "mux/system_headers.h"
#include "mux/vcd_sectors.h"

namespace calvex::mux {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

// A constrained system parameter stream (ISO/IEC 11172-1) keeps the video buffer within 46 KB
// and the audio buffer within 4 KB.
constexpr std::int32_t kConstrainedVideoBound = 46;  // units of 1024 bytes
constexpr std::int32_t kConstrainedAudioBound = 32;  // units of 128 bytes
constexpr std::int32_t kMaxBufferBound = 0x1FFF;     // 13 bits

std::int32_t BoundFor(std::int64_t bytes, int unit, std::int32_t atLeast) {
  const std::int64_t units = (bytes + unit - 1) / unit;
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(std::max<std::int64_t>(units, atLeast), 0, kMaxBufferBound));
}

// The progress record of picture k: the time code by whole frames per second, and the frame.
ProgressRecord PictureRecord(std::int32_t k, const MuxParams& params) {
  const auto fps = std::max(
      1, static_cast<int>(static_cast<double>(params.targetRateNum) / params.targetRateDen + 0.5));
  ProgressRecord r;
  const std::int32_t seconds = k / fps;
  r.fraction = k % fps;
  r.seconds = seconds % 60;
  r.minutes = (seconds / 60) % 60;
  r.hours = seconds / 3600;
  r.frameNumber = k;
  return r;
}

int PictureThousandths(std::int32_t k, std::int32_t pictures) {
  if (pictures <= 1) return 1000;
  return static_cast<int>(static_cast<std::int64_t>(k) * 1000 / (pictures - 1));
}

}  // namespace

bool ConstrainedParametersFlag(std::span<const std::uint8_t> b) {
  // sequence_header_code, then 12 + 12 + 4 + 4 + 18 + 1 + 10 bits before the flag.
  if (b.size() < 12 || b[0] != 0 || b[1] != 0 || b[2] != 1 || b[3] != 0xB3) return false;
  return (b[11] & 0x04) != 0;
}

Status Multiplexer::MultiplexSystemStream(const std::string& destination,
                                          const std::string& videoPath,
                                          const std::string& audioPath,
                                          std::span<const std::uint32_t> index,
                                          const MuxParams& params, ConversionContext& context,
                                          MuxFormat format) {
  layout_ = MuxLayout{};
  created_ = false;
  Status s;
  try {
    s = Run(destination, videoPath, audioPath, index, params, context, format);
  } catch (const std::bad_alloc&) {
    s = kNoMemory;
  }
  // Only a file this call created is removed (never a device such as /dev/full).
  std::error_code ignored;
  if (s != kOk && created_ && std::filesystem::is_regular_file(destination, ignored))
    std::filesystem::remove(destination, ignored);
  return s;
}

Status Multiplexer::Run(const std::string& destination, const std::string& videoPath,
                        const std::string& audioPath, std::span<const std::uint32_t> index,
                        const MuxParams& params, ConversionContext& context, MuxFormat format) {
  std::error_code ec;
  const std::uintmax_t audioSize = std::filesystem::file_size(audioPath, ec);
  if (ec) return kMuxInternal;

  MuxPlan& plan = layout_.plan;
  if (Status s = PlanMultiplex(index, params, static_cast<std::int64_t>(audioSize), plan); s != kOk)
    return s;
  std::vector<std::uint8_t> transfer(kPacketDataBytes);

  InputFile video(std::fopen(videoPath.c_str(), "rb"));
  if (!video) return kMuxInternal;
  InputFile sound(std::fopen(audioPath.c_str(), "rb"));
  if (!sound) return kMuxInternal;
  AudioFrames frames;
  if (Status s = ScanAudioFrames(audioPath, frames); s != kOk) return s;
  layout_.audioFrames = static_cast<std::int64_t>(frames.offsets.size());
  // The audio clock comes from the parameters; a stream coded otherwise would go out of step.
  if (!frames.offsets.empty() &&
      (frames.layer != params.audioLayer || frames.sampleRateHz != params.audioSampleRateHz))
    return kMuxInternal;

  const std::size_t headBytes = std::fread(transfer.data(), 1, 12, video.get());
  const bool constrainedVideo = ConstrainedParametersFlag({transfer.data(), headBytes});
  if (std::fseek(video.get(), 0, SEEK_SET) != 0) return kReadFailed;
  if (format == MuxFormat::kVideoCd)
    return WriteVideoCd(destination, video.get(), sound.get(), index, frames, constrainedVideo,
                        params, context);

  // Lay the stream out, then let the decoder model lengthen the start-up delay where an access
  // unit would arrive after its decoding time and size the buffers by what they really hold.
  std::vector<ScheduledPacket> packets;
  SchedulePackets(plan, index, frames.offsets, packets);
  layout_.packets = static_cast<std::int64_t>(packets.size());
  DecoderBufferUse use = SimulateDecoderBuffers(plan, index, frames.offsets, packets,
                                                StreamClock(plan, index, plan.startDelay));
  layout_.startDelay = plan.startDelay + use.lateTicks;
  if (use.lateTicks > 0)
    use = SimulateDecoderBuffers(plan, index, frames.offsets, packets,
                                 StreamClock(plan, index, layout_.startDelay));
  layout_.videoPeakBytes = use.videoPeakBytes;
  layout_.audioPeakBytes = use.audioPeakBytes;
  layout_.videoBufferBound = BoundFor(use.videoPeakBytes, 1024, plan.videoBufferBound);
  layout_.audioBufferBound = BoundFor(use.audioPeakBytes, 128, plan.audioBufferBound);
  layout_.constrained = constrainedVideo && layout_.videoBufferBound <= kConstrainedVideoBound &&
                        layout_.audioBufferBound <= kConstrainedAudioBound;
  const StreamClock clock(plan, index, layout_.startDelay);

  audio::BitStream out;
  if (Status s = out.OpenBitStreamWrite(destination, audio::BitStream::kBufferSize); s != kOk)
    return s;
  created_ = true;

  Status result = kOk;
  std::int32_t reported = 0;
  for (const ScheduledPacket& p : packets) {
    if (p.packHeader)
      WritePackHeader(out, PackClockReference(p.startBit, plan.ticksPerBit), plan.muxRate);
    if (p.systemHeader)
      WriteSystemHeader(out, plan.muxRate, layout_.constrained, layout_.audioBufferBound,
                        layout_.videoBufferBound);
    std::int64_t pts = -1;
    std::int64_t dts = -1;
    if (p.stampedUnit >= 0 && p.video) {
      pts = clock.VideoPresentationTime(p.stampedUnit);
      if (p.hasDecodingTime) dts = clock.VideoDecodingTime(p.stampedUnit);
    } else if (p.stampedUnit >= 0) {
      pts = clock.AudioPresentationTime(p.stampedUnit);
    }
    WritePacketHeader(out, p.video ? kVideoStreamId : kAudioStreamId, p.PacketLength(),
                      p.video ? layout_.videoBufferBound : layout_.audioBufferBound, pts, dts);

    const auto n = static_cast<std::size_t>(p.dataBytes);
    if (std::fread(transfer.data(), 1, n, p.video ? video.get() : sound.get()) != n) {
      result = kReadFailed;
      break;
    }
    out.PutBytes(transfer.data(), n);
    if (out.WriteFailed()) break;

    bool stop = false;
    for (; p.video && reported < p.nextPicture; ++reported) {
      if (context.Progress(PictureRecord(reported, params), ProgressKind::kInterleaving,
                           PictureThousandths(reported, params.outputFrameCount))) {
        result = kCancelled;
        stop = true;
        break;
      }
      if (context.DiskFull()) {
        stop = true;
        break;
      }
    }
    if (stop) break;
  }

  out.PutBits(0x000001B9, 32);  // ISO 11172 end code
  const bool closed = out.CloseBitStreamWrite();
  if (!closed || out.WriteFailed()) context.RaiseDiskFull();
  if (context.DiskFull()) return kDiskFull;
  return result;
}

Status Multiplexer::WriteVideoCd(const std::string& destination, std::FILE* video, std::FILE* sound,
                                 std::span<const std::uint32_t> index, const AudioFrames& frames,
                                 bool constrainedVideo, const MuxParams& params,
                                 ConversionContext& context) {
  MuxPlan& plan = layout_.plan;
  plan = VideoCdPlan(plan);
  const VcdSchedule schedule = ScheduleVcdSectors(plan, index, frames.offsets);
  layout_.startDelay = schedule.startDelay;
  layout_.videoBufferBound = kVcdVideoBufferBound;
  layout_.audioBufferBound = kVcdAudioBufferBound;
  layout_.constrained = constrainedVideo;
  layout_.packets = static_cast<std::int64_t>(schedule.sectors.size());
  const StreamClock clock(plan, index, schedule.startDelay);

  audio::BitStream out;
  if (Status s = out.OpenBitStreamWrite(destination, audio::BitStream::kBufferSize); s != kOk)
    return s;
  created_ = true;

  std::vector<std::uint8_t> transfer(kVcdSectorBytes);
  Status result = kOk;
  std::int32_t reported = 0;
  std::int64_t nextPictureStart = IndexWordSize(index[0]) + IndexWordSize(index[1]);
  std::int64_t videoSent = 0;
  for (std::size_t i = 0; i < schedule.sectors.size() && result == kOk; ++i) {
    const VcdSector& sector = schedule.sectors[i];
    const std::int64_t startBit = static_cast<std::int64_t>(i) * 8 * kVcdSectorBytes;
    WritePackHeader(out, PackClockReference(startBit, plan.ticksPerBit), kVcdMuxRate);
    constexpr int kRoom = kVcdSectorBytes - kPackHeaderBytes;
    switch (sector.kind) {
      case VcdSectorKind::kVideoHeader:
      case VcdSectorKind::kAudioHeader: {
        const bool isVideo = sector.kind == VcdSectorKind::kVideoHeader;
        WriteVideoCdSystemHeader(out, isVideo, layout_.constrained);
        const int trail = isVideo ? 0 : kVcdAudioTrailBytes;
        WritePaddingPacket(out, kRoom - 15 - trail);
        for (int t = 0; t < trail; ++t) out.PutBits(0, 8);
        break;
      }
      case VcdSectorKind::kPadding:
        WritePaddingPacket(out, kRoom);
        break;
      case VcdSectorKind::kEnd:
        WritePaddingPacket(out, kRoom - 4);
        out.PutBits(0x000001B9, 32);  // ISO 11172 end code
        break;
      case VcdSectorKind::kVideo:
      case VcdSectorKind::kAudio: {
        const bool isVideo = sector.kind == VcdSectorKind::kVideo;
        std::int64_t pts = -1, dts = -1;
        if (sector.stampedUnit >= 0 && isVideo) {
          pts = clock.VideoPresentationTime(sector.stampedUnit);
          if (sector.hasDecodingTime) dts = clock.VideoDecodingTime(sector.stampedUnit);
        } else if (sector.stampedUnit >= 0) {
          pts = clock.AudioPresentationTime(sector.stampedUnit);
        }
        // A short last packet fills its sector with stuffing bytes, or with a padding packet
        // after it when more is missing than stuffing may hold.
        const int missing = sector.Capacity() - sector.dataBytes;
        const int stuffing = missing <= 16 ? missing : 0;
        WritePacketHeader(
            out, isVideo ? kVideoStreamId : kAudioStreamId, sector.StampBytes() + sector.dataBytes,
            isVideo ? kVcdVideoBufferBound : kVcdAudioBufferBound, pts, dts, stuffing);
        const auto n = static_cast<std::size_t>(sector.dataBytes);
        if (std::fread(transfer.data(), 1, n, isVideo ? video : sound) != n) {
          result = kReadFailed;
          break;
        }
        out.PutBytes(transfer.data(), n);
        if (missing > 16) WritePaddingPacket(out, missing);
        if (!isVideo)
          for (int t = 0; t < kVcdAudioTrailBytes; ++t) out.PutBits(0, 8);
        if (isVideo) videoSent += sector.dataBytes;
        break;
      }
    }
    if (out.WriteFailed()) break;
    // Progress once per picture whose data is all out: picture k ends where word k + 1 ends.
    const std::int32_t pictures = params.outputFrameCount;
    for (; result == kOk && reported < pictures && videoSent >= nextPictureStart; ++reported) {
      if (context.Progress(PictureRecord(reported, params), ProgressKind::kInterleaving,
                           PictureThousandths(reported, pictures)))
        result = kCancelled;
      if (reported + 2 <= pictures)
        nextPictureStart += IndexWordSize(index[static_cast<std::size_t>(reported) + 2]);
    }
    if (context.DiskFull()) break;
  }

  const bool closed = out.CloseBitStreamWrite();
  if (!closed || out.WriteFailed()) context.RaiseDiskFull();
  if (context.DiskFull()) return kDiskFull;
  return result;
}

}  // namespace calvex::mux
