// The AVI to MPEG driver: one AVI file (or one section of it) into one MPEG-1 file. Without sound
// the video encoder writes the destination directly as a video elementary stream; with sound the
// video and the audio go to temporary streams in the destination directory ("~~temp.mpg.*",
// "~~temp.mp2.*", unique per conversion) that the multiplexer joins into a system stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/drivers.h"
#include "media_library/media_library.h"

namespace calvex {

// The source frames as the driver reads them: media::AviReader in the program, a double in
// tests. Frames arrive as 24-bit bottom-up bitmaps at the size of the open request.
class AviFrameReader {
 public:
  virtual ~AviFrameReader() = default;
  virtual Status Open(const std::string& path, BitmapInfoHeader& request,
                      media::AviOpenInfo& info) = 0;
  virtual Status GetFrame(std::int32_t frame, std::uint8_t* buffer) = 0;
  virtual void Close() = 0;
};

// A reader over the media layer's AviReader.
std::unique_ptr<AviFrameReader> MakeMediaAviFrameReader();

class AviToMpegDriver {
 public:
  explicit AviToMpegDriver(AviFrameReader& reader) : reader_(reader) {}

  // Converts job.source into job.destination. Returns 0, 1 when cancelled, or a failure code;
  // on failure no output is left behind.
  Status Run(AviToMpegJob& job, ConversionContext& context);

  // The picture index table of the last run: one word per coded picture plus one.
  const std::vector<std::uint32_t>& pictureIndex() const { return pictureIndex_; }

 private:
  Status EncodeVideo(const std::string& videoPath, ConversionSettings& settings,
                     ConversionContext& context);
  // Video, audio and multiplexing (avi_to_mpeg_sound.cpp); closes the AVI after the video.
  Status EncodeWithSound(AviToMpegJob& job, ConversionSettings& settings,
                         ConversionContext& context);

  AviFrameReader& reader_;
  std::vector<std::uint32_t> pictureIndex_;
};

// The driver as the dispatcher calls it, over the media layer.
Status ConvertAviToMpeg(AviToMpegJob& job, ConversionContext& context);

}  // namespace calvex
