// Macroblock decoding and reconstruction (ISO/IEC 11172-2, 2.4.3.6 to 2.4.4): address increment
// and skipped macroblocks, type, quantiser, motion vectors, coded block pattern, the coefficients
// of each block with their inverse quantisation, and the prediction from the reference pictures.
#include <algorithm>
#include <cstdlib>

#include "mpeg_video/video_tables.h"
#include "video_decoder/video_decoder.h"

namespace calvex::video_decoder {

namespace {

namespace vt = calvex::video_tables;

// Inverse quantisation of one coefficient, then oddification (an even non-zero value moves one
// step toward zero) and the limits of the inverse DCT's input.
inline int Oddify(int c) {
  if ((c & 1) == 0 && c != 0) c += c > 0 ? -1 : 1;
  return std::clamp(c, -2048, 2047);
}

}  // namespace

void VideoDecoder::UpdateQuantizerScale(int scale) {
  quantizerScale_ = scale;
  for (int i = 0; i < 64; ++i) {
    const int p = vt::kZigzag[i];
    intraScale_[i] = scale * intraQuantMatrix_[p];
    nonIntraScale_[i] = scale * nonIntraQuantMatrix_[p];
  }
}

bool VideoDecoder::DecodeMotionVector(int f, int rSize, bool fullPel, std::int32_t* predictor,
                                      std::int32_t* vector) {
  for (int component = 0; component < 2; ++component) {
    const VlcEntry e = vlc_.motionCode[reader_.Peek(11)];
    if (e.length == 0) return false;
    reader_.Skip(e.length);
    int code = e.value;
    if (code != 0 && reader_.ReadBit()) code = -code;
    int delta = code;
    if (f != 1 && code != 0) {
      const int r = static_cast<int>(reader_.Read(rSize));
      const int magnitude = (std::abs(code) - 1) * f + r + 1;
      delta = code < 0 ? -magnitude : magnitude;
    }
    int value = predictor[component] + delta;
    if (value > 16 * f - 1) value -= 32 * f;
    if (value < -16 * f) value += 32 * f;
    predictor[component] = value;
    vector[component] = fullPel ? 2 * value : value;
  }
  return true;
}

// Reads one block's coefficients into block_ (row-major, inverse quantised). `count` receives the
// number of non-zero coefficients and `lastPosition` the position of the last of them.
template <bool kIntra>
static bool ReadCoefficients(StreamReader& reader, const VlcTables& vlc,
                             const std::array<std::int32_t, 64>& scale, std::int16_t* block,
                             int index, int& count, int& lastPosition) {
  for (;;) {
    const std::uint32_t v = reader.PeekUnchecked();
    const CoeffEntry e =
        (v >> 24) >= 4 ? vlc.coeffShort[v >> 24] : vlc.coeffLong[(v >> 16) & 0x3FF];
    int run, level, length;
    if (!kIntra && index < 0 && (v >> 31) != 0) {
      // dct_coeff_first: "1s" is run 0, level +-1.
      run = 0;
      level = (v & 0x40000000u) != 0 ? -1 : 1;
      length = 2;
    } else if (e.run == kEndOfBlock) {
      reader.SkipUnchecked(2);
      return true;
    } else if (e.run == kEscape) {
      run = static_cast<int>((v >> 20) & 63);
      const int first = static_cast<int>((v >> 12) & 0xFF);
      if (first == 0) {
        level = static_cast<int>((v >> 4) & 0xFF);
        length = 28;
      } else if (first == 128) {
        level = static_cast<int>((v >> 4) & 0xFF) - 256;
        length = 28;
      } else {
        level = static_cast<std::int8_t>(first);
        length = 20;
      }
    } else if (e.length != 0) {
      run = e.run;
      level = e.level;
      length = e.length;
      if (((v << length) & 0x80000000u) != 0) level = -level;
      ++length;
    } else {
      return false;
    }
    reader.SkipUnchecked(length);
    index += run + 1;
    if (index > 63) return true;
    int c;
    if constexpr (kIntra) {
      c = (2 * level * scale[index]) / 16;
    } else {
      c = ((2 * level + (level > 0 ? 1 : (level < 0 ? -1 : 0))) * scale[index]) / 16;
    }
    c = Oddify(c);
    const int position = vt::kZigzag[index];
    block[position] = static_cast<std::int16_t>(c);
    if (c != 0) {
      ++count;
      lastPosition = position;
    }
  }
}

bool VideoDecoder::DecodeIntraBlock(int blockNumber) {
  reader_.Ensure(64);
  std::uint32_t v = reader_.PeekUnchecked();
  const VlcEntry e =
      blockNumber < 4 ? vlc_.dcSizeLuminance[v >> 25] : vlc_.dcSizeChrominance[v >> 24];
  if (e.length == 0) return false;
  reader_.SkipUnchecked(e.length);
  int diff = 0;
  if (e.value > 0) {
    const int size = e.value;
    const int bits = static_cast<int>(reader_.PeekUnchecked() >> (32 - size));
    reader_.SkipUnchecked(size);
    diff = (bits & (1 << (size - 1))) != 0 ? bits : bits - ((1 << size) - 1);
  }
  std::int32_t& predictor = dcPredictor_[blockNumber < 4 ? 0 : blockNumber - 3];
  predictor += diff * 8;
  const int dc = std::clamp(predictor, -2048, 2047);
  block_[0] = static_cast<std::int16_t>(dc);
  int count = dc != 0 ? 1 : 0;
  int lastPosition = 0;
  if (!ReadCoefficients<true>(reader_, vlc_, intraScale_, block_, 0, count, lastPosition)) {
    std::fill(std::begin(block_), std::end(block_), 0);
    return false;
  }
  const int mbx = mbAddress_ % mbWidth_, mby = mbAddress_ / mbWidth_;
  std::uint8_t* dst;
  std::ptrdiff_t stride;
  if (blockNumber < 4) {
    stride = lumaStride_;
    dst = current_->luma + (mby * 16 + (blockNumber >> 1) * 8) * stride + mbx * 16 +
          (blockNumber & 1) * 8;
  } else {
    stride = lumaStride_ / 2;
    dst = (blockNumber == 4 ? current_->cb : current_->cr) + mby * 8 * stride + mbx * 8;
  }
  if (count <= 1) {
    dsp_->singlePut(lastPosition, block_[lastPosition], dst, stride);
    block_[lastPosition] = 0;
  } else {
    dsp_->idctPut(block_, dst, stride);
  }
  return true;
}

bool VideoDecoder::DecodeNonIntraBlock(int& count, int& lastPosition) {
  reader_.Ensure(64);
  count = 0;
  lastPosition = 0;
  if (!ReadCoefficients<false>(reader_, vlc_, nonIntraScale_, block_, -1, count, lastPosition)) {
    std::fill(std::begin(block_), std::end(block_), 0);
    return false;
  }
  return true;
}

void VideoDecoder::PredictPlane(const std::uint8_t* refPlane, std::uint8_t* dstPlane,
                                std::ptrdiff_t stride, int planeWidth, int planeHeight, int x,
                                int y, int vx, int vy, int size, bool average) {
  const int sx = x + (vx >> 1), sy = y + (vy >> 1);
  const int hx = vx & 1, hy = vy & 1;
  const std::uint8_t* src = refPlane + static_cast<std::ptrdiff_t>(sy) * stride + sx;
  std::ptrdiff_t srcStride = stride;
  alignas(16) std::uint8_t edge[17 * 32];
  if (sx < 0 || sy < 0 || sx + size + hx > planeWidth || sy + size + hy > planeHeight) {
    // A vector reaching outside the picture: its samples repeat the nearest edge sample.
    for (int r = 0; r <= size; ++r) {
      const int ry = std::clamp(sy + r, 0, planeHeight - 1);
      for (int c = 0; c <= size; ++c) {
        edge[r * 32 + c] = refPlane[ry * stride + std::clamp(sx + c, 0, planeWidth - 1)];
      }
    }
    src = edge;
    srcStride = 32;
  }
  dsp_->predict[average ? 1 : 0][size == 8 ? 1 : 0][hx + 2 * hy](dstPlane + y * stride + x, stride,
                                                                 src, srcStride, size);
}

void VideoDecoder::Predict(int mbAddress, bool forward, bool backward,
                           const std::int32_t* forwardVector, const std::int32_t* backwardVector) {
  const PictureBuffer* forwardRef = pictureCodingType_ == 3 ? past_ : future_;
  const PictureBuffer* backwardRef = future_;
  const int mbx = mbAddress % mbWidth_, mby = mbAddress / mbWidth_;
  const std::ptrdiff_t cStride = lumaStride_ / 2;
  bool average = false;
  auto predictFrom = [&](const PictureBuffer* ref, const std::int32_t* v) {
    PredictPlane(ref->luma, current_->luma, lumaStride_, mbWidth_ * 16, mbHeight_ * 16, mbx * 16,
                 mby * 16, v[0], v[1], 16, average);
    const int cx = v[0] / 2, cy = v[1] / 2;
    PredictPlane(ref->cb, current_->cb, cStride, mbWidth_ * 8, mbHeight_ * 8, mbx * 8, mby * 8, cx,
                 cy, 8, average);
    PredictPlane(ref->cr, current_->cr, cStride, mbWidth_ * 8, mbHeight_ * 8, mbx * 8, mby * 8, cx,
                 cy, 8, average);
    average = true;
  };
  if (forward && forwardRef != nullptr) predictFrom(forwardRef, forwardVector);
  if (backward && backwardRef != nullptr) predictFrom(backwardRef, backwardVector);
}

void VideoDecoder::ReconstructSkipped(int from, int to) {
  static constexpr std::int32_t kZero[2] = {0, 0};
  if (pictureCodingType_ == 2) {
    for (int a = from; a <= to; ++a) Predict(a, true, false, kZero, kZero);
    motionPredictor_[0][0] = motionPredictor_[0][1] = 0;
  } else if (pictureCodingType_ == 3 && past_ != nullptr) {
    for (int a = from; a <= to; ++a) {
      Predict(a, lastForward_, lastBackward_, lastVector_[0], lastVector_[1]);
    }
  }
}

bool VideoDecoder::DecodeMacroblock() {
  const int mbCount = mbWidth_ * mbHeight_;
  int increment = 0;
  for (;;) {
    const VlcEntry e = vlc_.addressIncrement[reader_.Peek(11)];
    if (e.length == 0) return false;
    reader_.Skip(e.length);
    if (e.value == kAddressStuffing) {
      if (reader_.PastData()) return false;
      continue;
    }
    if (e.value == kAddressEscape) {
      increment += 33;
      if (increment > mbCount) return false;
      continue;
    }
    increment += e.value;
    break;
  }
  mbAddress_ += increment;
  if (mbAddress_ > mbCount - 1) {
    mbAddress_ = mbCount - 1;
    return false;
  }
  if (mbAddress_ - lastMbAddress_ > 1) ReconstructSkipped(lastMbAddress_ + 1, mbAddress_ - 1);
  lastMbAddress_ = mbAddress_;

  int flags;
  if (pictureCodingType_ == 1) {
    const std::uint32_t bits = reader_.Peek(2);
    if (bits >= 2) {
      flags = vt::kMbIntra;
      reader_.Skip(1);
    } else if (bits == 1) {
      flags = vt::kMbIntra | vt::kMbQuant;
      reader_.Skip(2);
    } else {
      return false;
    }
  } else {
    const auto& table = pictureCodingType_ == 2 ? vlc_.typeP : vlc_.typeB;
    const VlcEntry e = table[reader_.Peek(6)];
    if (e.length == 0) return false;
    reader_.Skip(e.length);
    flags = e.value;
  }
  if ((flags & vt::kMbQuant) != 0) {
    const int scale = static_cast<int>(reader_.Read(5));
    if (scale == 0) return false;
    UpdateQuantizerScale(scale);
  }
  const bool intra = (flags & vt::kMbIntra) != 0;
  const bool forward = (flags & vt::kMbForward) != 0;
  const bool backward = (flags & vt::kMbBackward) != 0;
  std::int32_t forwardVector[2] = {0, 0}, backwardVector[2] = {0, 0};
  if (forward && !DecodeMotionVector(forwardF_, forwardRSize_, fullPelForward_, motionPredictor_[0],
                                     forwardVector)) {
    return false;
  }
  if (backward && !DecodeMotionVector(backwardF_, backwardRSize_, fullPelBackward_,
                                      motionPredictor_[1], backwardVector)) {
    return false;
  }
  int pattern = 0;
  if ((flags & vt::kMbPattern) != 0) {
    const VlcEntry e = vlc_.codedBlockPattern[reader_.Peek(9)];
    if (e.length == 0) return false;
    reader_.Skip(e.length);
    pattern = e.value;
  }

  if (pictureCodingType_ == 2 && !forward) {
    motionPredictor_[0][0] = motionPredictor_[0][1] = 0;
  } else if (pictureCodingType_ == 3) {
    if (intra) {
      for (auto& p : motionPredictor_) p[0] = p[1] = 0;
    } else {
      lastForward_ = forward;
      lastBackward_ = backward;
      if (forward) std::copy(forwardVector, forwardVector + 2, lastVector_[0]);
      if (backward) std::copy(backwardVector, backwardVector + 2, lastVector_[1]);
    }
  }

  if (intra) {
    if (mbAddress_ - pastIntraAddress_ >= 2) {
      dcPredictor_[0] = dcPredictor_[1] = dcPredictor_[2] = 1024;
    }
    pastIntraAddress_ = mbAddress_;
    for (int b = 0; b < 6; ++b) {
      if (!DecodeIntraBlock(b)) return false;
    }
    return true;
  }

  // P macroblocks without motion forward are predicted from the same place (vector 0, 0).
  Predict(mbAddress_, forward || pictureCodingType_ == 2, backward, forwardVector, backwardVector);
  const int mbx = mbAddress_ % mbWidth_, mby = mbAddress_ / mbWidth_;
  const std::ptrdiff_t cStride = lumaStride_ / 2;
  for (int b = 0; b < 6; ++b) {
    if ((pattern & (32 >> b)) == 0) continue;
    int count, lastPosition;
    if (!DecodeNonIntraBlock(count, lastPosition)) return false;
    std::uint8_t* dst;
    std::ptrdiff_t stride;
    if (b < 4) {
      stride = lumaStride_;
      dst = current_->luma + (mby * 16 + (b >> 1) * 8) * stride + mbx * 16 + (b & 1) * 8;
    } else {
      stride = cStride;
      dst = (b == 4 ? current_->cb : current_->cr) + mby * 8 * stride + mbx * 8;
    }
    if (count == 1) {
      dsp_->singleAdd(lastPosition, block_[lastPosition], dst, stride);
      block_[lastPosition] = 0;
    } else if (count > 1) {
      dsp_->idctAdd(block_, dst, stride);
    }
  }
  return true;
}

}  // namespace calvex::video_decoder
