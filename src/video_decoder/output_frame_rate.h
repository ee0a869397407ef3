// The frame rate of an AVI made from an MPEG file: the stream's own, or the rate the user chose
// in the AVI's parameter record, reached by dropping or repeating pictures so that the movie
// keeps its length and stays in step with its sound.
#pragma once

#include <cstdint>

#include "core/settings.h"

namespace calvex::video_decoder {

// A frame rate as the AVI stream header holds it: rate / scale frames per second.
struct AviFrameRate {
  std::int32_t rate = 30;
  std::int32_t scale = 1;
};

// The AVI's frame rate for pictures that come at `stream` frames per second (after halving). The
// record's frameRatePacked (thousandths << 16 | their scale) is taken when it differs from the
// stream's rate by more than 2 thousandths; a record without a rate (0, mixed, or none at all)
// keeps the stream's. `changed` tells which.
struct OutputFrameRateChoice {
  AviFrameRate rate;
  bool changed = false;
};
OutputFrameRateChoice ChooseOutputFrameRate(const MpegToAviParams* params, AviFrameRate stream);

// Drops or repeats pictures that come at one rate so that they play at another with the same
// timing: output picture j (shown from j / output seconds) is the source picture being shown at
// that moment. Exact integer arithmetic.
class FrameRateChange {
 public:
  FrameRateChange(AviFrameRate source, AviFrameRate output);

  // How many output pictures the next source picture makes (0: it is dropped).
  std::int32_t CopiesOfNext();

  // The output pictures that the first `sourcePictures` source pictures make.
  std::int64_t OutputPicturesFor(std::int64_t sourcePictures) const;

 private:
  std::int64_t num_;  // output pictures per source picture = num_ / den_
  std::int64_t den_;
  std::int64_t next_ = 0;
};

}  // namespace calvex::video_decoder
