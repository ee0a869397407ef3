// Progress of a running conversion stage, as the drivers report it to the front end.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/bitmap.h"

namespace calvex {

// Which stage is running; the front end shows "Video", "Audio" or "Interleaving".
enum class ProgressKind : std::int32_t { kVideo = 0, kAudio = 1, kInterleaving = 2 };

// The progress record. Words 0-3 are the time (hours, minutes, seconds, then the frame within the
// second for video or tenths of a second for audio); word 4 the current frame number; word 5 the
// picture type (1 I, 2 P, 3 B); words 6 and 7 the current picture as a 24-bit bitmap, or none.
// Words from 8 on belong to each driver (see driverWords).
struct ProgressRecord {
  std::int32_t hours = 0;
  std::int32_t minutes = 0;
  std::int32_t seconds = 0;
  std::int32_t fraction = 0;
  std::int32_t frameNumber = 0;
  std::int32_t pictureType = 0;
  const BitmapInfoHeader* bitmapHeader = nullptr;
  const std::uint8_t* bitmapBits = nullptr;
  // driverWords[i] is word 8 + i of the record.
  std::array<std::int32_t, 16> driverWords{};

  std::int32_t& Word(int index) { return driverWords.at(static_cast<std::size_t>(index - 8)); }
  std::int32_t Word(int index) const { return driverWords.at(static_cast<std::size_t>(index - 8)); }
};

// Driver words of the MPEG decoders' records, shared by the video and audio decoders and their
// callers.
enum DecodedFrameInfoWord : int {
  kInfoTotalFrames = 8,  // the stream's frame count when known, else 1
  kInfoRate = 9,         // video frame rate numerator; 0: no video range applies
  kInfoScale = 10,       // video frame rate denominator
  kInfoAudioPresent = 11,
  kInfoAudioRate = 12,
  kInfoAudioBits = 13,
  kInfoAudioChannels = 14,
  kInfoMpegLayer = 15,
  kInfoAudioBitrateIndex = 16,
};

// Time code text of a record as the status strip shows it: "%02d:%02d:%02d.%1d" for audio,
// "%02d:%02d:%02d:%02d" for video and interleaving.
std::string TimeCodeText(const ProgressRecord& record, ProgressKind kind);

// Caption of a stage: "Video", "Audio" or "Interleaving".
std::string_view StageCaption(ProgressKind kind);

}  // namespace calvex
