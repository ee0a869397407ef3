// Test Model 5 rate control: a bit budget per group of pictures, a target per picture from the
// complexities of I, P and B pictures, a virtual buffer per picture type that sets the quantiser,
// and spatial activity that modulates it per macroblock. Also the VBV delay of each picture.
//
// The budget and the buffers are 64-bit: pictures that all cost less than their target (a long
// still movie) pile up a surplus that passes 32 bits after some tens of thousands of pictures.
#pragma once

#include <cstdint>

namespace calvex::video {

class RateControl {
 public:
  // kHigh, for the high-quality preset: every macroblock of a picture takes the quantiser its
  // buffer sets (the preset's decisions weigh the bits), and the targets give I pictures 0.7 and
  // B pictures 2 times the quantiser of P pictures (Test Model 5: 1 and 1.4; what the references
  // gain, the pictures predicted from them keep), and the virtual buffers never fall below empty.
  enum class Mode { kTestModel5, kHigh };

  // Sequence start, for `bitRate` bits per second at `frameRate` pictures per second and
  // `mbCount` macroblocks per picture.
  RateControl(double bitRate, double frameRate, int mbCount, Mode mode = Mode::kTestModel5);

  // A group with np P pictures and nb B pictures after its I picture.
  void StartGroup(int np, int nb);

  // Picture start: sets the target and the virtual buffer for `pictureType` (1 I, 2 P, 3 B) and
  // returns the picture's starting quantiser. `bitCount` is the stream's bit count now.
  int StartPicture(int pictureType, double bitCount);

  // The quantiser of macroblock j (raster order), with its activity.
  int MacroblockQuantiser(int j, double act, double bitCount);

  void EndPicture(double bitCount);

  // vbv_delay of a picture whose start code ends at `bitCount`.
  int VbvDelay(int pictureType, double bitCount);

  // For tests.
  int reaction() const { return r_; }
  std::int64_t remaining() const { return R_; }
  int complexityI() const { return Xi_; }
  int complexityP() const { return Xp_; }
  int complexityB() const { return Xb_; }
  std::int64_t bufferI() const { return d0i_; }
  std::int64_t bufferP() const { return d0p_; }
  std::int64_t bufferB() const { return d0b_; }
  std::int64_t target() const { return T_; }

 private:
  // The target and the buffer of a picture as Test Model 5 sets them.
  void StartPictureTestModel5();

  double bitRate_;
  double frameRate_;
  int mbCount_;
  Mode mode_;
  int pictureType_ = 1;

  int r_ = 0;
  std::int64_t R_ = 0;
  int Xi_ = 0, Xp_ = 0, Xb_ = 0;
  std::int64_t d0i_ = 0, d0p_ = 0, d0b_ = 0;
  double Np_ = 0, Nb_ = 0;
  std::int64_t T_ = 0;
  std::int64_t d_ = 0;
  double S_ = 0;
  double Q_ = 0;
  double avgAct_ = 400.0;
  double actSum_ = 0;
  int prevMquant_ = 0;
  double decodingTime_ = 0;
  double nextIpDelay_ = 0;
  std::int32_t bitcntEop_ = 0;
};

}  // namespace calvex::video
