// Writers of the MPEG-1 video headers (ISO/IEC 11172-2 2.4.2): sequence, group of pictures,
// picture and sequence end.
#pragma once

#include <cstdint>

#include "video_encoder/bit_writer.h"

namespace calvex::video {

struct SequenceHeaderFields {
  int width = 0;
  int height = 0;
  int pictureRateCode = 5;
  std::uint32_t bitRate = 0;  // bits per second; coded in units of 400, rounded up
  bool constrainedParameters = false;
};

// Whether a stream meets the MPEG-1 constrained parameters (ISO/IEC 11172-2 2.4.3.2): at most
// 768 x 576, 396 macroblocks per picture, 396 x 25 macroblocks per second, 1 856 000 bit/s and a
// VBV buffer of 20 x 16384 bits (our streams always use 20 and f_code <= 2).
bool MeetsConstrainedParameters(int width, int height, int rateNum, int rateDen,
                                std::uint32_t bitRate);

void WriteSequenceHeader(BitWriter& w, const SequenceHeaderFields& f);

// The 25-bit time_code of display number n. `roundedFps` is the frame rate rounded to a whole
// number (30 for 29.97, 24 for 23.976); `dropFrame` is set for 29.97 only.
std::uint32_t TimeCode(int n, int roundedFps, bool dropFrame);

void WriteGroupHeader(BitWriter& w, std::uint32_t timeCode, bool closedGop);

// Writes a picture header. The vbv_delay is asked for right after the start code is written: the
// VBV model needs the bit count at that point. The f_codes are 2 (P) and 1 (B) unless given.
template <typename VbvDelayFn>
void WritePictureHeader(BitWriter& w, int temporalReference, int pictureType, VbvDelayFn&& vbvDelay,
                        int forwardFCode = 0, int backwardFCode = 1) {
  if (forwardFCode == 0) forwardFCode = pictureType == 2 ? 2 : 1;
  w.Align();
  w.PutBits(0x00000100, 32);
  const int delay = vbvDelay();
  w.PutBits(static_cast<std::uint32_t>(temporalReference) & 0x3FF, 10);
  w.PutBits(static_cast<std::uint32_t>(pictureType), 3);
  w.PutBits(static_cast<std::uint32_t>(delay), 16);
  if (pictureType == 2 || pictureType == 3) {
    w.PutBits(0, 1);                                         // full_pel_forward_vector
    w.PutBits(static_cast<std::uint32_t>(forwardFCode), 3);  // forward_f_code
  }
  if (pictureType == 3) {
    w.PutBits(0, 1);                                          // full_pel_backward_vector
    w.PutBits(static_cast<std::uint32_t>(backwardFCode), 3);  // backward_f_code
  }
  w.PutBits(0, 1);  // extra_bit_picture
}

void WriteSequenceEnd(BitWriter& w);

}  // namespace calvex::video
