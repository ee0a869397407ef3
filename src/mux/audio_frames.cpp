#include "mux/audio_frames.h"

#include "mpeg_audio/bit_stream.h"
#include "mpeg_audio/frame_header.h"

namespace calvex::mux {

Status ScanAudioFrames(const std::string& path, AudioFrames& frames) {
  frames = AudioFrames{};
  audio::BitStream in;
  if (const Status s = in.OpenBitStreamRead(path); s != kOk)
    return s == kNoMemory ? s : kMuxInternal;
  for (;;) {
    const std::int64_t offset = in.BitCount() / 8;
    if (in.GetBits(audio::kSyncWordBits) != audio::kSyncWord || in.EndOfStream()) break;
    audio::FrameHeader header;
    if (!audio::ReadFrameHeader(in, header)) break;
    if (frames.offsets.empty()) {
      frames.layer = header.layer;
      frames.sampleRateHz = audio::SamplingRateHzOf(header);
    }
    frames.offsets.push_back(offset);
    in.SkipBits((static_cast<std::int64_t>(audio::FrameLengthBytes(header)) - 4) * 8);
    if (in.EndOfStream()) break;
  }
  in.CloseBitStreamRead();
  return kOk;
}

}  // namespace calvex::mux
