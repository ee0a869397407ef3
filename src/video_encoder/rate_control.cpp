#include "video_encoder/rate_control.h"

#include <algorithm>
#include <cmath>

namespace calvex::video {
namespace {

// floor(x + 0.5) as a 32-bit integer, saturated.
int RoundToInt(double x) {
  const double v = std::floor(x + 0.5);
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(v);
}

// floor(x + 0.5) as a 64-bit integer, within +-2^62 so that sums of a few of them stay defined.
std::int64_t RoundToInt64(double x) {
  constexpr double kLimit = 4611686018427387904.0;  // 2^62
  return static_cast<std::int64_t>(std::clamp(std::floor(x + 0.5), -kLimit, kLimit));
}

int TruncToInt(double x) {
  if (x >= 2147483647.0) return 2147483647;
  if (x <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(x);
}

// The virtual buffers' bound: reached only after billions of pictures, it keeps their sums
// defined.
constexpr std::int64_t kBufferLimit = std::int64_t{1} << 62;

// 2 x floor(q + 0.5) limited to the even quantisers 2..62.
int EvenQuantiser(double q) {
  const double v = std::floor(q + 0.5);
  if (!(v >= 1.0)) return 2;  // also catches NaN
  if (v > 31.0) return 62;
  return 2 * static_cast<int>(v);
}

}  // namespace

RateControl::RateControl(double bitRate, double frameRate, int mbCount, Mode mode)
    : bitRate_(bitRate), frameRate_(frameRate), mbCount_(mbCount), mode_(mode) {
  r_ = RoundToInt(2 * bitRate / frameRate);
  avgAct_ = 400.0;
  R_ = 0;
  Xi_ = RoundToInt(160 * bitRate / 115);
  Xp_ = RoundToInt(60 * bitRate / 115);
  Xb_ = RoundToInt(42 * bitRate / 115);
  d0i_ = d0p_ = RoundToInt(10.0 * r_ / 31);
  d0b_ = RoundToInt(14.0 * r_ / 31);
}

void RateControl::StartGroup(int np, int nb) {
  R_ += RoundToInt((1 + np + nb) * bitRate_ / frameRate_);
  Np_ = np;
  Nb_ = nb;
}

void RateControl::StartPictureTestModel5() {
  const double Kp = 1.0, Kb = 1.4;
  switch (pictureType_) {
    case 1:
      T_ = RoundToInt64(static_cast<double>(R_) / (1 + Np_ * Xp_ / Xi_ + Nb_ * Xb_ / (Xi_ * Kb)));
      d_ = d0i_;
      break;
    case 2:
      T_ = RoundToInt64(static_cast<double>(R_) / (Np_ + Nb_ * Kp * Xb_ / (Kb * Xp_)));
      d_ = d0p_;
      break;
    default:
      T_ = RoundToInt64(static_cast<double>(R_) / (Nb_ + Np_ * Kb * Xp_ / (Kp * Xb_)));
      d_ = d0b_;
      break;
  }
}

int RateControl::StartPicture(int pictureType, double bitCount) {
  pictureType_ = pictureType;
  if (mode_ == Mode::kHigh) {
    // Each type's share of what the group has left: its complexity over its quantiser ratio.
    const double wi = Xi_ / 0.7, wp = Xp_, wb = Xb_ / 2.0;
    const double rest = Np_ * wp + Nb_ * wb;
    const double R = static_cast<double>(R_);
    T_ = RoundToInt64(pictureType == 1 ? R * wi / (wi + rest)
                                       : R * (pictureType == 2 ? wp : wb) / rest);
    d_ = pictureType == 1 ? d0i_ : (pictureType == 2 ? d0p_ : d0b_);
  } else {
    StartPictureTestModel5();
  }
  const int minimum = RoundToInt(bitRate_ / (8 * frameRate_));
  if (T_ < minimum) T_ = minimum;
  S_ = bitCount;
  Q_ = 0;
  actSum_ = 0;
  prevMquant_ = EvenQuantiser(static_cast<double>(d_) / r_ * 31);
  return prevMquant_;
}

int RateControl::MacroblockQuantiser(int j, double act, double bitCount) {
  const double dj =
      static_cast<double>(d_) + (bitCount - S_) - static_cast<double>((T_ / mbCount_) * j);
  const double Qj = dj / r_ * 31;
  actSum_ += act;
  const double nAct = mode_ == Mode::kTestModel5 ? (2 * act + avgAct_) / (act + 2 * avgAct_) : 1.0;
  int mquant = EvenQuantiser(Qj * nAct);
  if (mquant >= 8 && std::abs(mquant - prevMquant_) <= 4) mquant = prevMquant_;
  prevMquant_ = mquant;
  Q_ += mquant;
  return mquant;
}

void RateControl::EndPicture(double bitCount) {
  S_ = bitCount - S_;
  const int bits = TruncToInt(S_);
  R_ -= bits;
  const int X = RoundToInt(S_ * 0.5 * Q_ / mbCount_);
  d_ = std::clamp<std::int64_t>(d_ + bits - T_, -kBufferLimit, kBufferLimit);
  // Pictures that cost less than their target at the finest quantiser would drive the buffer
  // below empty, and the bits they saved would be spent at that quantiser later on, far past
  // the rate. The high preset's buffers stop at empty.
  if (mode_ == Mode::kHigh && d_ < 0) d_ = 0;
  avgAct_ = actSum_ / mbCount_;
  switch (pictureType_) {
    case 1:
      Xi_ = X;
      d0i_ = d_;
      break;
    case 2:
      Xp_ = X;
      d0p_ = d_;
      Np_ -= 1;
      break;
    default:
      Xb_ = X;
      d0b_ = d_;
      Nb_ -= 1;
      break;
  }
  bitcntEop_ = static_cast<std::int32_t>(std::ceil(bitCount / 8) * 8);
}

int RateControl::VbvDelay(int pictureType, double bitCount) {
  double pictureDelay;
  if (pictureType == 3) {
    pictureDelay = 90000 / frameRate_;
  } else {
    pictureDelay = nextIpDelay_;
    nextIpDelay_ = 90000 / frameRate_;
  }
  if (decodingTime_ == 0)
    pictureDelay = (20 * 16384 * 7 / 8) * 90000.0 / bitRate_;  // buffer 7/8 full
  decodingTime_ += pictureDelay;
  const double delay = std::trunc(decodingTime_ - bitCount * 90000 / bitRate_);
  if (delay < 0) return 0;
  if (delay > 65535) return 65535;
  return static_cast<int>(delay);
}

}  // namespace calvex::video
