// Display order, colour conversion and delivery of finished pictures, with the play and seek
// states of the preview.
#include <algorithm>

#include "video_decoder/colour_conversion.h"
#include "video_decoder/video_decoder.h"

namespace calvex::video_decoder {

namespace {
constexpr int kTypeI = 1, kTypeP = 2, kTypeB = 3;
}  // namespace

bool VideoDecoder::AcceptPicture(int type) {
  DecodeControl& c = control_;
  const bool i = type == kTypeI, p = type == kTypeP;
  if (c.seekMode != 0) {
    switch (c.seekMode) {
      case 1:
        return false;
      case 2:
        if (i) c.seekMode = 3;
        return i;
      case 3:
      case 6:
        return i || p;
      case 4:
        if (i) c.seekMode = 5;
        return i;
      case 5:
        if (p) c.seekMode = 6;
        return i || p;
      default:
        return true;
    }
  }
  switch (c.playMode) {
    case 2:
      return i;
    case 3:
      return false;
    case 4:
      if (i) c.playMode = 5;
      return i;
    case 5:
      if (p) c.playMode = 6;
      return i || p;
    case 6:
    case 9:
      return i || p;
    case 7:
      if (i) c.playMode = 8;
      return i;
    case 8:
      if (p) c.playMode = 9;
      return i || p;
    default:
      return true;
  }
}

void VideoDecoder::FinishPicture(PictureBuffer* picture, std::int32_t temporalReference, int type) {
  picture->frameNumber = temporalReference + control_.gopFrameBase;
  picture->pictureType = type;
  if (control_.decodeOrderOutput) {
    DeliverPicture(picture);
    return;
  }
  if (type != kTypeI && type != kTypeP) {
    DeliverPicture(picture);
    return;
  }
  if (future_ == nullptr) {
    picture->lockFlags |= kLockFuture;
    future_ = picture;
    return;
  }
  if (past_ != nullptr) past_->lockFlags &= ~kLockPast;
  future_->lockFlags = (future_->lockFlags & ~kLockFuture) | kLockPast;
  past_ = future_;
  picture->lockFlags |= kLockFuture;
  future_ = picture;
  DeliverPicture(past_);
}

void VideoDecoder::ConvertBitmap(PictureBuffer& picture) {
  if (picture.bitmapCurrent) return;
  const int stride = BitmapStride(outputWidth_, 24);
  const std::size_t size = static_cast<std::size_t>(stride) * outputHeight_;
  if (picture.bitmap.size() != size) picture.bitmap.assign(size, 0);
  const ColourPlanes planes{picture.luma, picture.cb, picture.cr, lumaStride_, lumaStride_ / 2};
  ConvertPictureToRgb(*dsp_, planes, outputWidth_, outputHeight_, picture.bitmap.data(), stride);
  picture.bitmapCurrent = true;
}

int VideoDecoder::ProgressThousandths() const {
  const DecodeControl& c = control_;
  std::int64_t progress;
  if (c.aviOutput && c.wantedFrameCount >= 0) {
    const std::int64_t n = c.wantedFrameCount;
    progress =
        n <= 1 ? 1000 : std::max<std::int64_t>(0, c.frameCounter - c.rangeFirst) * 1000 / (n - 1);
  } else if (c.streamFrameCount > 1) {
    progress = std::int64_t{c.frameCounter} * 1000 / (c.streamFrameCount - 1);
  } else if (c.streamFrameCount == 1) {
    progress = 1000;
  } else if (c.sourceFileSize > 0) {
    progress = static_cast<std::int64_t>(static_cast<double>(source_.BytesRead()) /
                                             static_cast<double>(c.sourceFileSize) * 1000 +
                                         0.5);
  } else {
    progress = 0;
  }
  return static_cast<int>(std::clamp<std::int64_t>(progress, 0, 1000));
}

void VideoDecoder::DeliverPicture(PictureBuffer* picture) {
  DecodeControl& c = control_;
  const int type = picture->pictureType;
  if (type == kTypeI && c.frameCounter > c.lastIntraCount) {
    c.lastIntraCount = c.frameCounter;
    c.seekLimit = 2 * c.frameCounter;
  }

  bool shown;
  if (c.seekMode != 0) {
    shown = c.seekMode == 6 || c.seekMode == 7;
  } else {
    shown = c.playMode == 1 || c.playMode == 6 || c.playMode == 9 ||
            (c.playMode == 2 && type == kTypeI);
  }
  if (c.seekMode == 0 && c.playMode == kPlayNormal) {
    shown = picture->frameNumber >= c.rangeFirst;
    if (picture->frameNumber >= c.rangeLast) c.decodeRunning = false;
  }

  DecodedFrameInfo& info = c.info;
  FillTimeCode(c, c.frameCounter, info);
  auto show = [&] {
    c.suppressCallback = false;
    ConvertBitmap(*picture);
    info.bitmapHeader = &c.bitmapHeader;
    info.bitmapBits = picture->bitmap.data();
  };
  if (shown) {
    show();
  } else {
    info.bitmapHeader = nullptr;
    info.bitmapBits = nullptr;
  }
  info.frameNumber = picture->frameNumber;
  info.pictureType = type;
  info.Word(kInfoTotalFrames) = c.streamFrameCount > 0 ? c.streamFrameCount : 1;
  const int progress = ProgressThousandths();

  delivered_ = picture;
  auto callback = [&]() -> int {
    return c.frameCallback ? c.frameCallback(info, 0, progress) : kFrameGoOn;
  };
  int result = kFrameGoOn;
  if (!c.suppressCallback) result = callback();

  if (c.seekMode == 0 && result == kFrameStop) {
    c.decodeStatus = kCancelled;
    c.decodeRunning = false;
    delivered_ = nullptr;
    return;
  }

  if (c.seekMode != 0) {
    const bool near = !(c.seekLimit != 0 && c.frameCounter - c.rangeFirst > c.seekLimit);
    switch (c.seekMode) {
      case 1:
        if (result == kFrameStop) {
          c.seekMode = 4;
        } else if (near) {
          c.seekMode = 2;
        }
        break;
      case 2:
        if (result == kFrameStop) {
          c.seekMode = 4;
        } else if (!near) {
          c.seekMode = 1;
        }
        break;
      case 3:
        if (result == kFrameStop && type == kTypeB) {
          c.seekMode = 7;
        } else if (result == kFrameStop) {
          show();
          callback();
          c.decodeStatus = kCancelled;
          c.seekMode = 0;
          c.decodeRunning = false;
        } else if (c.rangeFirst - c.frameCounter == 1) {
          c.seekMode = 0;
        } else if (!near) {
          c.seekMode = 1;
        }
        break;
      case 6:
      case 7:
        c.decodeStatus = kCancelled;
        c.seekMode = 0;
        c.decodeRunning = false;
        break;
      default:
        break;
    }
  } else {
    const bool atEnd = c.rangeLast <= c.frameCounter;
    switch (c.playMode) {
      case 1:
        if (!c.aviOutput) {
          if (result == kFrameIntraOnly) c.playMode = 2;
          if (result == kFrameSkip) c.playMode = 3;
        }
        if (atEnd) {
          c.playMode = 1;
          c.decodeRunning = false;
        }
        break;
      case 2:
      case 3:
        if (atEnd) {
          c.playMode = 4;
        } else {
          static constexpr int kNext[4] = {4, 7, 2, 3};
          c.playMode = kNext[std::clamp(result, 0, 3)];
        }
        break;
      case 4:
        if (!atEnd && result == kFrameSkip) c.playMode = 3;
        if (!atEnd && result == kFrameIntraOnly) c.playMode = 2;
        if (!atEnd && result == kFrameStop) c.playMode = 7;
        break;
      case 5:
        if (!atEnd && result == kFrameSkip) c.playMode = 3;
        if (!atEnd && result == kFrameIntraOnly) c.playMode = 2;
        if (!atEnd && result == kFrameStop) c.playMode = 8;
        break;
      case 6:
        c.playMode = 1;
        if (atEnd) {
          c.decodeRunning = false;
        } else if (result == kFrameSkip) {
          c.playMode = 3;
        } else if (result == kFrameIntraOnly) {
          c.playMode = 2;
        } else if (result == kFrameStop) {
          c.decodeStatus = kCancelled;
          c.decodeRunning = false;
        }
        break;
      case 9:
        c.playMode = 1;
        c.decodeStatus = kCancelled;
        c.decodeRunning = false;
        break;
      default:
        break;
    }
  }

  ++c.frameCounter;

  if (c.seekMode == 0 && shown) {
    bool write = true;
    if (c.halveFrames == 2) {
      write = !c.halveToggle;
      c.halveToggle = !c.halveToggle;
    }
    if (write && c.aviOutput && c.frameWriter) {
      c.decodeStatus = c.frameWriter(c.bitmapHeader, picture->bitmap.data(),
                                     picture->frameNumber - c.rangeFirst);
    }
  }
  delivered_ = nullptr;
}

}  // namespace calvex::video_decoder
