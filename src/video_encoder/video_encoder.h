// The MPEG-1 video encoder: codes a sequence of pictures into an ISO/IEC 11172-2 video elementary
// stream with a fixed group structure (12 pictures, a reference every third) under Test Model 5
// rate control, and fills the picture index table the multiplexer uses.
//
// The encoder knows nothing of AVI files or of the front end: pictures come from a
// PictureSource, and progress and cancel go through EncoderEvents, both implemented by its
// driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/status.h"
#include "video_encoder/bit_writer.h"
#include "video_encoder/kernels.h"
#include "video_encoder/picture.h"

namespace calvex::video {

// How the encoder decides: kStandard as Test Model 5 and the fixed search windows have it (the
// same bytes as ever); kHigh with the predictive search, the choice of each macroblock's mode by
// distortion and bits, and one quantiser per picture (high_analysis.h, high_picture_coder.h).
enum class EncoderPreset { kStandard, kHigh };

struct VideoEncoderParams {
  int width = 0;  // output size, even, 16..4094
  int height = 0;
  int pictureRateCode = 5;  // picture_rate of the sequence header
  int rateNum = 30;         // the exact picture rate as a fraction
  int rateDen = 1;
  int milliFps = 30000;       // the picture rate in thousandths, used by rate control
  std::uint32_t bitRate = 0;  // video bits per second
  int pictureCount = 0;       // pictures to code
  int threads = 1;            // worker threads; the output never depends on it
  EncoderPreset preset = EncoderPreset::kStandard;
  const Kernels* kernels = nullptr;  // nullptr: the fastest the processor runs
};

// Delivers the source pictures as 24-bit bottom-up bitmaps of width x height, rows padded to 4
// bytes. Called in coding order, one call at a time, possibly from a worker thread of the encoder
// (ahead of the picture being coded).
class PictureSource {
 public:
  virtual ~PictureSource() = default;
  virtual Status FetchPicture(int displayNumber, std::uint8_t* bitmap) = 0;
};

// A picture that was fetched and is about to be coded.
struct FetchedPicture {
  int displayNumber = 0;
  int pictureType = 1;
  const BitmapInfoHeader* header = nullptr;
  const std::uint8_t* bitmap = nullptr;
};

// What the encoder tells its driver; always called on the thread that called the encoder.
class EncoderEvents {
 public:
  virtual ~EncoderEvents() = default;
  // After a picture was fetched, before it is coded. True cancels (status 1).
  virtual bool PictureFetched(const FetchedPicture&) { return false; }
  // Before each picture. True cancels (status 1).
  virtual bool PollCancel() { return false; }
  // Whether PictureReconstructed wants B pictures too: nothing is predicted from them, so the
  // encoder rebuilds them only for an observer.
  virtual bool WantsBPictures() const { return false; }
  // After a picture was coded and reconstructed, with the reconstruction a decoder will show.
  virtual void PictureReconstructed(int /*displayNumber*/, int /*pictureType*/,
                                    const PictureBuffer&) {}
};

// Checks the parameters; 0 when they can be coded, 142 otherwise.
Status ValidateParams(const VideoEncoderParams& params);

// Codes params.pictureCount pictures into `sink` and closes it. `index` (when not null) receives
// params.pictureCount + 1 words: bits 26-31 the display number minus the coding number, bits
// 0-25 the bytes written since the previous word. Returns 0, 1 (cancelled), 100, 106 (a picture
// could not be fetched), 142 (bad parameters) or 147 (a write or the close failed).
Status EncodeVideo(const VideoEncoderParams& params, PictureSource& source, EncoderEvents& events,
                   ByteSink& sink, std::vector<std::uint32_t>* index);

// The same into a file that it creates (101 when it cannot); the file is removed unless the
// result is 0.
Status EncodeVideoFile(const VideoEncoderParams& params, PictureSource& source,
                       EncoderEvents& events, const std::string& path,
                       std::vector<std::uint32_t>* index);

}  // namespace calvex::video
