// The MPEG audio decoder over a Layer I/II file or the audio packets of a system stream, into a
// sink that checks the decoder's promises, or into the temporary PCM file of the MPEG to AVI
// conversion.
//
// Input: one control byte, then the file.
//   bit 0   the file is a system stream (audio packets)
//   bit 1   8-bit output samples (temporary-file sink)
//   bit 2-3 rate divisor - 1
//   bit 4   a video frame range applies (30 fps, frames 3..40)
//   bit 5   the temporary-file sink instead of the checking sink
//   bit 6   the information reader (ReadMp2Info) first
#include <vector>

#include "audio_decoder/decode_mpeg_audio.h"
#include "audio_decoder/mp2_to_wav.h"
#include "audio_decoder/pcm_sinks.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"

using namespace calvex;
using namespace calvex::audio_decoder;

namespace {

// Accepts every sample and fails on any broken promise of DecodeMpegAudioInto.
class CheckingSink final : public PcmSink {
 public:
  Status Begin(const AudioDescription& stream, const WaveFormat&) override {
    CALVEX_FUZZ_CHECK(!begun_ && (stream.channels == 1 || stream.channels == 2));
    begun_ = true;
    channels_ = stream.channels;
    return kOk;
  }
  Status Write(const std::int16_t* samples, std::int32_t count) override {
    CALVEX_FUZZ_CHECK(begun_ && !ended_ && count > 0 && count <= 1600);
    std::int32_t sum = 0;
    for (std::int32_t i = 0; i < count; ++i) sum += samples[i];  // every value is readable
    (void)sum;
    total_ += count;
    return kOk;
  }
  Status End() override {
    CALVEX_FUZZ_CHECK(begun_ && !ended_);
    ended_ = true;
    return kOk;
  }
  bool begun() const { return begun_; }
  bool ended() const { return ended_; }
  std::int64_t total() const { return total_; }
  int channels() const { return channels_; }

 private:
  bool begun_ = false;
  bool ended_ = false;
  int channels_ = 0;
  std::int64_t total_ = 0;
};

}  // namespace

CALVEX_FUZZ_TARGET(audio_decoder_fuzz) {
  fuzz::InputBytes input(data, size);
  const std::uint8_t control = input.TakeByte();
  const bool systemStream = (control & 1) != 0;
  const std::string path =
      fuzz::WriteScratchFile(systemStream ? "input.mpg" : "input.mp2", input.Rest());

  if ((control & 0x40) != 0) {
    Mp2Info info;
    (void)ReadMp2Info(path, info);
  }

  AudioDecodeRequest request;
  request.source = path;
  request.systemStream = systemStream;
  request.output.bitsPerSample = (control & 2) != 0 ? 8 : 16;
  request.output.rateDivisor = 1 + ((control >> 2) & 3);
  if ((control & 0x10) != 0) {
    request.record.Word(kInfoRate) = 30;
    request.record.Word(kInfoScale) = 1;
    request.firstVideoFrame = 3;
    request.lastVideoFrame = 40;
  }
  StandaloneContext context;
  AudioDecodeResult result;
  if ((control & 0x20) != 0) {
    request.sink = AudioSinkKind::kTemporaryFile;
    request.destination = fuzz::ScratchDirectory() + "audio.tmp";
    (void)DecodeMpegAudio(request, context.get(), result);
    return 0;
  }
  CheckingSink sink;
  const Status s = DecodeMpegAudioInto(request, &sink, context.get(), result);
  CALVEX_FUZZ_CHECK(sink.begun() == sink.ended());
  CALVEX_FUZZ_CHECK(s != kOk || sink.total() == result.samplesPerChannel * sink.channels());
  return 0;
}
