// The WAV readers of the media layer: the information block, and the PCM reader the audio
// encoder takes its samples from (PCM straight from the data chunk, other formats through the
// decoder library).
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "media_library/media_library.h"

using namespace calvex;

CALVEX_FUZZ_TARGET(wav_reader_fuzz) {
  const std::string path = fuzz::WriteScratchFile("input.wav", {data, size});
  WavInfo info;
  (void)media::ReadWavInfo(path, info);

  media::WaveReader reader;
  media::WaveRecord record;
  if (reader.OpenWaveFile(path, record) != kOk) return 0;
  CALVEX_FUZZ_CHECK(record.format.blockAlign != 0);
  std::vector<std::uint8_t> buffer(16384);
  // A bounded number of reads: decoded formats may expand a small file many times.
  for (int i = 0; i < 64; ++i) {
    std::size_t delivered = 0;
    if (reader.ReadWave(buffer.data(), buffer.size(), delivered) != kOk) break;
    CALVEX_FUZZ_CHECK(delivered <= buffer.size() && delivered % record.format.blockAlign == 0);
    if (delivered == 0) break;
  }
  return 0;
}
