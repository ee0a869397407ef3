#include "mpeg_audio/audio_tables.h"

namespace calvex::audio {

const std::array<double, 513>& AbsoluteThresholdFor(int samplingFrequencyCode) {
  switch (samplingFrequencyCode) {
    case 1:
      return kAbsoluteThreshold48000;
    case 2:
      return kAbsoluteThreshold32000;
    default:
      return kAbsoluteThreshold44100;
  }
}

}  // namespace calvex::audio
