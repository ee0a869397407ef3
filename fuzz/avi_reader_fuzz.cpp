// The AVI readers of the media layer: the information block, the frame reader at a small output
// size, and the audio reader.
//
// Input: one control byte (bits 0-1: output size 16, 32, 48 or 64 pixels square; bit 2: read
// frames from the end first), then the file.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "media_library/media_library.h"

using namespace calvex;

CALVEX_FUZZ_TARGET(avi_reader_fuzz) {
  fuzz::InputBytes input(data, size);
  const std::uint8_t control = input.TakeByte();
  const std::string path = fuzz::WriteScratchFile("input.avi", input.Rest());

  AviInfo info;
  (void)media::RAVIGetInfo(path, info);

  {
    media::AviReader frames;
    BitmapInfoHeader request{};
    request.width = 16 * (1 + (control & 3));
    request.height = request.width;
    media::AviOpenInfo open;
    if (frames.RAVIOpen(path, request, open) == kOk) {
      std::vector<std::uint8_t> picture(request.sizeImage);
      const std::int32_t count = open.frameCount < 4 ? open.frameCount : 4;
      for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t frame = (control & 4) != 0 ? open.frameCount - 1 - i : i;
        if (frames.RAVIGetFrame(frame, picture.data()) != kOk) break;
      }
    }
  }

  media::AviAudioReader audio;
  WaveFormat format{};
  media::AudioSectionRequest section;
  if (audio.RAVIAudioOpen(path, format, section) == kOk) {
    std::vector<std::uint8_t> buffer(65536);
    const std::int32_t block = format.blockAlign > 0 ? format.blockAlign : 1;
    for (int i = 0; i < 16; ++i) {
      std::int32_t frames = static_cast<std::int32_t>(buffer.size()) / block;
      if (audio.RAVIAudioRead(buffer.data(), frames) != kOk || frames <= 0) break;
      CALVEX_FUZZ_CHECK(frames * block <= static_cast<std::int32_t>(buffer.size()));
    }
  }
  return 0;
}
