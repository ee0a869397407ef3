// Status codes shared by every conversion stage.
//
// A stage reports its outcome as one 32-bit code: 0 success, 1 cancelled by the user, 2 finished
// with a note (counts as success), 3 and above a failure whose code is also the identifier of its
// message in the message table (messages.h).
#pragma once

#include <cstdint>

namespace calvex {

using Status = std::uint32_t;

enum : Status {
  kOk = 0,
  kCancelled = 1,
  kFinishedWithNote = 2,

  kNoMemory = 100,
  kOpenFailed = 101,
  kCreateFailed = 102,
  kMuxInternal = 103,  // no message of its own; shown as an internal error
  kVideoSystemTooOld = 104,
  kAviNoVideo = 105,
  kAviDecodeFailed = 106,
  kAviNoAudio = 107,
  kAudioFormatUnreadable = 108,
  kVideoCreateFailed = 109,
  kVideoCompressFailed = 110,
  kAviWriteFailed = 111,
  kAudioCreateFailed = 112,
  kFrameRateUnsupported = 113,
  kNotMpeg = 114,
  kNotWav = 115,
  kWavCorrupted = 116,
  kWavNotPcm = 117,
  kSampleSizeUnsupported = 118,
  kSampleRateUnsupported = 119,
  kChannelCountUnsupported = 120,
  kAudioDataError = 121,
  kLayer3Unsupported = 122,
  kTempCreateFailed = 123,
  kWavWriteFailed = 124,
  kNotMpegVideo = 125,
  kVideoDataError = 126,
  kReadFailed = 127,
  kEmptySource = 128,
  kInternalError = 130,
  kMciPlayFailed = 131,
  kDoesNotExist = 132,
  kMpegCorrupted = 133,
  kSelectFileFirst = 134,
  kMciCreateFailed = 135,
  kMciPlayStartFailed = 136,
  kLibraryLoadFailed = 138,
  kListFileCorrupted = 139,
  kVideoFormatUnreadable = 140,
  kNoCompressionScheme = 141,
  kNotSupported = 142,
  kDestinationMissing = 145,
  kPlatformTooOld = 146,
  kDiskFull = 147,
  kSelectionTooLarge = 148,
  kSectionPastEnd = 149,
  kPcmConversionFailed = 500,
  kNonPcmConversionFailed = 501,
  kDataRateExceeded = 607,
  kAudioDataTypeUnsupported = 608,

  // Codes of the media-access layer, passed on unchanged.
  kMediaRestart0 = 1000,
  kMediaAviOpen1 = 1001,
  kMediaRestart2 = 1002,
  kMediaAviOpen3 = 1003,
  kMediaAviCreate = 1004,
  kMediaRestart5 = 1005,
  kMediaNoAudio = 1006,
  kMediaNoFunction = 1007,
  kMediaBufferFull = 1008,
};

// True for the codes that end a stage successfully (0 and 2).
constexpr bool IsSuccess(Status s) {
  return s == kOk || s == kFinishedWithNote;
}

// True for failure codes (3 and above).
constexpr bool IsFailure(Status s) {
  return s >= 3;
}

}  // namespace calvex
