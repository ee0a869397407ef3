// The decode step and the stream headers (sequence, group of pictures, picture, slice).
#include "video_decoder/video_decoder.h"

#include <algorithm>
#include <new>

#include "mpeg_video/video_tables.h"

namespace calvex::video_decoder {

namespace {

constexpr std::uint32_t kPictureStartCode = 0x00000100;
constexpr std::uint32_t kUserDataStartCode = 0x000001B2;
constexpr std::uint32_t kSequenceHeaderCode = 0x000001B3;
constexpr std::uint32_t kExtensionStartCode = 0x000001B5;
constexpr std::uint32_t kSequenceEndCode = 0x000001B7;
constexpr std::uint32_t kGroupStartCode = 0x000001B8;

constexpr bool IsSliceStartCode(std::uint32_t code) {
  return code >= 0x00000101 && code <= 0x000001AF;
}

constexpr int kMacroblocksPerStep = 107;

}  // namespace

std::unique_ptr<VideoDecoder> VideoDecoder::Create(std::size_t streamBufferBytes,
                                                   ByteSource& source, DecodeControl& control,
                                                   DspLevel dsp) {
  try {
    return std::unique_ptr<VideoDecoder>(
        new VideoDecoder(streamBufferBytes, source, control, SelectDsp(dsp)));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

VideoDecoder::VideoDecoder(std::size_t streamBufferBytes, ByteSource& source,
                           DecodeControl& control, const DecoderDsp& dsp)
    : control_(control),
      source_(source),
      reader_(streamBufferBytes),
      dsp_(&dsp),
      vlc_(DecodeTables()) {
  reader_.SetSource(&source_);
  intraQuantMatrix_ = video_tables::kDefaultIntraMatrix;
  nonIntraQuantMatrix_.fill(16);
}

VideoDecoder::~VideoDecoder() = default;

void VideoDecoder::Fail(Status status) {
  control_.decodeStatus = status;
  control_.decodeRunning = false;
  reader_.NextStartCode();
}

void VideoDecoder::PollReader() {
  if (reader_.ReadError() && control_.decodeStatus != kReadFailed) {
    control_.decodeStatus = kReadFailed;
    control_.decodeRunning = false;
  }
  if (reader_.TakeRanDry()) control_.decodeRunning = false;
}

void VideoDecoder::DecodeStep(std::uint32_t frameTag) {
  reader_.SetReportDataAtEnd(control_.previewOpenFlag);
  if (control_.firstStartCodePending) {
    reader_.NextStartCode();
    if (reader_.Peek32() != kSequenceHeaderCode) {
      control_.decodeStatus = kNotMpegVideo;
      control_.decodeRunning = false;
      PollReader();
      return;
    }
    control_.firstStartCodePending = false;
  }

  std::uint32_t code = reader_.Peek32();
  if (code == kSequenceHeaderCode) {
    reader_.Skip(32);
    // A later header cut by the end of a file ends the stream; the first one has no pictures to
    // give.
    if (!ParseSequenceHeader() && (allocatedMbWidth_ == 0 || !EndAtCutData())) {
      // A failed allocation has set its own status.
      Fail(control_.decodeStatus == kNoMemory ? kNoMemory : kVideoDataError);
    }
    PollReader();
    return;
  }
  if (code == kSequenceEndCode) {
    if (future_ != nullptr) DeliverPicture(future_);
    control_.decodeRunning = false;
    if (!control_.previewOpenFlag) {
      control_.playMode = kPlayFinished;
      control_.streamFrameCount = control_.frameCounter;
      // A stop or a failure met while delivering the last picture keeps its status.
      if (control_.decodeStatus == kOk) control_.decodeStatus = kFinishedWithNote;
    }
    return;
  }
  if (code == kGroupStartCode) {
    reader_.Skip(32);
    ParseGroupHeader();
    // The held reference picture is not counted yet: the group's pictures follow it.
    if (control_.frameCounter > 0 || future_ != nullptr) {
      control_.gopFrameBase = control_.frameCounter + 1;
      if (control_.seekPending) control_.frameCounter = control_.gopFrameBase;
    } else {
      control_.gopFrameBase = 0;
    }
    control_.seekPending = false;
    code = reader_.Peek32();
    if (code != kPictureStartCode) {
      PollReader();
      return;
    }
  }
  if (code == kPictureStartCode) {
    reader_.Skip(32);
    switch (ParsePictureHeader(frameTag)) {
      case PictureResult::kRefused:
        if (!EndAtCutData()) Fail(kVideoDataError);
        PollReader();
        return;
      case PictureResult::kSkipped:
        // The last picture stands in for the skipped one, so that the count goes on.
        if (current_ == nullptr) current_ = &pictures_[0];
        if (pictureCodingType_ == 3 && current_->lockFlags != 0) {
          // A held reference standing in for a skipped B picture keeps its own number and
          // type, so that it is still delivered as itself later.
          const std::int32_t number = current_->frameNumber, type = current_->pictureType;
          FinishPicture(current_, temporalReference_, pictureCodingType_);
          current_->frameNumber = number;
          current_->pictureType = type;
        } else {
          FinishPicture(current_, temporalReference_, pictureCodingType_);
        }
        SkipToNextPicture();
        PollReader();
        return;
      case PictureResult::kAccepted:
        break;
    }
    code = reader_.Peek32();
    if (!IsSliceStartCode(code)) {
      // A picture without slices (a stream cut after the header) is dropped.
      pictureInProgress_ = false;
      PollReader();
      return;
    }
  }
  if (IsSliceStartCode(code)) {
    if (!pictureInProgress_) {
      // A slice outside any picture: passed over.
      reader_.Skip(32);
      reader_.NextStartCode();
      PollReader();
      return;
    }
    if (!ParseSliceHeader()) {
      if (EndAtCutData()) {
        AtStartCode();
      } else {
        Fail(kVideoDataError);
      }
      PollReader();
      return;
    }
  } else if ((code >> 8) == 1 && (reader_.BitPosition() & 7) == 0) {
    // Some other start code between pictures (reserved, sequence error, user data out of place):
    // passed over.
    reader_.Skip(32);
    reader_.NextStartCode();
    PollReader();
    return;
  } else if (!pictureInProgress_) {
    // Not inside a picture: resynchronise at the next start code.
    reader_.NextStartCode();
    PollReader();
    return;
  }
  DecodeMacroblocks();
  PollReader();
}

void VideoDecoder::DecodeMacroblocks() {
  for (int count = 0;; ++count) {
    if (reader_.Peek(23) == 0) {
      AtStartCode();
      return;
    }
    if (count == kMacroblocksPerStep || !control_.decodeRunning) return;
    if (!DecodeMacroblock()) {
      if (EndAtCutData()) {
        // The data ran out inside the picture: it ends at the appended sequence end code.
        AtStartCode();
      } else {
        Fail(kVideoDataError);
      }
      return;
    }
    PollReader();
  }
}

bool VideoDecoder::EndAtCutData() {
  if (!reader_.NearDataEnd()) return false;
  reader_.MoveToEndWords();
  pictureCut_ = pictureInProgress_;
  return true;
}

void VideoDecoder::AtStartCode() {
  reader_.NextStartCode();
  if (!IsSliceStartCode(reader_.Peek32())) {
    if (pictureInProgress_) {
      pictureInProgress_ = false;
      // A picture that runs into the end of the data is whole when its last macroblock came.
      if (!pictureCut_ && (!reader_.PastData() || lastMbAddress_ == mbWidth_ * mbHeight_ - 1)) {
        ++completePictures_;
      }
      FinishPicture(current_, temporalReference_, pictureCodingType_);
    }
    PollReader();
    const bool cancelled = control_.cancelled != nullptr && control_.cancelled->load();
    if (!control_.decodeRunning && !cancelled && future_ != nullptr &&
        future_->frameNumber >= control_.rangeFirst && future_->frameNumber <= control_.rangeLast) {
      DeliverPicture(future_);
    }
  }
  if (control_.decodeStatus > 3) {
    control_.decodeRunning = false;
    reader_.NextStartCode();
  }
}

void VideoDecoder::SkipExtensionsAndUserData() {
  reader_.NextStartCode();
  for (;;) {
    const std::uint32_t code = reader_.Peek32();
    if (code != kExtensionStartCode && code != kUserDataStartCode) return;
    reader_.Skip(32);
    if (reader_.NextStartCode() < 0) return;
  }
}

bool VideoDecoder::AllocatePictures(int mbWidth, int mbHeight) {
  lumaStride_ = static_cast<std::ptrdiff_t>(mbWidth) * 16;
  const std::size_t lumaSize = static_cast<std::size_t>(lumaStride_) * mbHeight * 16;
  try {
    for (auto& p : pictures_) {
      p.planes.assign(lumaSize + lumaSize / 2, 0);
      p.luma = p.planes.data();
      p.cb = p.luma + lumaSize;
      p.cr = p.cb + lumaSize / 4;
    }
  } catch (const std::bad_alloc&) {
    for (auto& p : pictures_) p = PictureBuffer{};
    return false;
  }
  allocatedMbWidth_ = mbWidth;
  allocatedMbHeight_ = mbHeight;
  return true;
}

bool VideoDecoder::ParseSequenceHeader() {
  SequenceInfo s;
  s.horizontalSize = reader_.Read(12);
  s.verticalSize = reader_.Read(12);
  s.aspectRatioCode = static_cast<int>(reader_.Read(4));
  s.pictureRateCode = static_cast<int>(reader_.Read(4));
  s.bitRate = reader_.Read(18);
  reader_.Skip(1);  // marker bit
  s.vbvBufferSize = reader_.Read(10);
  s.constrainedFlag = reader_.ReadBit();
  // A sequence header without a matrix brings back the default one (ISO/IEC 11172-2, 2.4.3.2).
  std::array<std::uint8_t, 64> intra = video_tables::kDefaultIntraMatrix;
  std::array<std::uint8_t, 64> nonIntra;
  nonIntra.fill(16);
  if (reader_.ReadBit()) {
    for (int i = 0; i < 64; ++i)
      intra[video_tables::kZigzag[i]] = static_cast<std::uint8_t>(reader_.Read(8));
  }
  if (reader_.ReadBit()) {
    for (int i = 0; i < 64; ++i)
      nonIntra[video_tables::kZigzag[i]] = static_cast<std::uint8_t>(reader_.Read(8));
  }

  if (s.pictureRateCode == 0 || s.pictureRateCode > 10) return false;
  // A picture of no width or height cannot be decoded.
  if (s.horizontalSize == 0 || s.verticalSize == 0) return false;
  const int mbWidth = static_cast<int>((s.horizontalSize + 15) >> 4);
  const int mbHeight = static_cast<int>((s.verticalSize + 15) >> 4);
  if (allocatedMbWidth_ == 0) {
    if (!AllocatePictures(mbWidth, mbHeight)) {
      control_.decodeStatus = kNoMemory;
      return false;
    }
    outputWidth_ = static_cast<int>(s.horizontalSize);
    outputHeight_ = static_cast<int>(s.verticalSize);
    control_.bitmapHeader = MakeBitmapHeader24(outputWidth_, outputHeight_);
  } else if (mbWidth > allocatedMbWidth_ || mbHeight > allocatedMbHeight_) {
    // The pictures keep the first sequence header's size; a larger one does not fit them.
    return false;
  }
  mbWidth_ = mbWidth;
  mbHeight_ = mbHeight;
  sequence_ = s;
  intraQuantMatrix_ = intra;
  nonIntraQuantMatrix_ = nonIntra;
  UpdateQuantizerScale(quantizerScale_);
  SkipExtensionsAndUserData();
  return true;
}

void VideoDecoder::ParseGroupHeader() {
  ++control_.gopCounter;
  group_.dropFrameFlag = reader_.ReadBit();
  group_.hours = static_cast<int>(reader_.Read(5));
  group_.minutes = static_cast<int>(reader_.Read(6));
  reader_.Skip(1);  // marker bit
  group_.seconds = static_cast<int>(reader_.Read(6));
  group_.pictures = static_cast<int>(reader_.Read(6));
  group_.closedGop = reader_.ReadBit();
  group_.brokenLink = reader_.ReadBit();
  SkipExtensionsAndUserData();
}

VideoDecoder::PictureResult VideoDecoder::ParsePictureHeader(std::uint32_t frameTag) {
  temporalReference_ = static_cast<std::int32_t>(reader_.Read(10));
  pictureCodingType_ = static_cast<int>(reader_.Read(3));
  if (pictureCodingType_ == 0 || pictureCodingType_ > 3 || allocatedMbWidth_ == 0) {
    return PictureResult::kRefused;
  }
  if (!AcceptPicture(pictureCodingType_)) return PictureResult::kSkipped;
  vbvDelay_ = reader_.Read(16);
  if (pictureCodingType_ == 2 || pictureCodingType_ == 3) {
    fullPelForward_ = reader_.ReadBit();
    const int code = static_cast<int>(reader_.Read(3));
    if (code == 0) return PictureResult::kRefused;  // forbidden f_code
    forwardRSize_ = code - 1;
    forwardF_ = 1 << forwardRSize_;
  }
  if (pictureCodingType_ == 3) {
    fullPelBackward_ = reader_.ReadBit();
    const int code = static_cast<int>(reader_.Read(3));
    if (code == 0) return PictureResult::kRefused;
    backwardRSize_ = code - 1;
    backwardF_ = 1 << backwardRSize_;
  }
  reader_.SkipExtraInformation();
  SkipExtensionsAndUserData();

  current_ = nullptr;
  for (auto& p : pictures_) {
    if (p.lockFlags == 0) {
      current_ = &p;
      break;
    }
  }
  if (current_ == nullptr) return PictureResult::kRefused;
  current_->frameTag = frameTag;
  current_->bitmapCurrent = false;
  lastMbAddress_ = -1;
  pictureInProgress_ = true;
  pictureCut_ = false;
  return PictureResult::kAccepted;
}

bool VideoDecoder::ParseSliceHeader() {
  sliceVerticalPosition_ = static_cast<int>(reader_.Read(32) & 0xFF);
  const int scale = static_cast<int>(reader_.Read(5));
  if (scale == 0) return false;
  UpdateQuantizerScale(scale);
  reader_.SkipExtraInformation();
  pastIntraAddress_ = -2;
  motionPredictor_[0][0] = motionPredictor_[0][1] = 0;
  motionPredictor_[1][0] = motionPredictor_[1][1] = 0;
  mbAddress_ = mbWidth_ * (sliceVerticalPosition_ - 1) - 1;
  dcPredictor_[0] = dcPredictor_[1] = dcPredictor_[2] = 1024;
  return true;
}

void VideoDecoder::SkipToNextPicture() {
  for (;;) {
    if (reader_.NextStartCode() < 0) return;
    const std::uint32_t code = reader_.Peek32();
    if (code == kPictureStartCode || code == kGroupStartCode || code == kSequenceEndCode ||
        code == kSequenceHeaderCode) {
      return;
    }
    reader_.Skip(24);
  }
}

void VideoDecoder::ForgetPictures() {
  for (auto& p : pictures_) p.lockFlags = 0;
  past_ = future_ = current_ = nullptr;
  pictureInProgress_ = false;
}

}  // namespace calvex::video_decoder
