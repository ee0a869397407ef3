// The control state that the video decoder shares with its driver (the MPEG to AVI conversion and
// the preview): whether the run goes on, its status, the frame counters, the play and seek states,
// the range of frames wanted, and the frame callback with the record it receives.
//
// One DecodeControl belongs to one open MPEG file (one conversion or one preview). It outlives the
// VideoDecoder objects that work on it, so that the driver can close and reopen the decoder while
// keeping the file's frame count and play state.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "core/bitmap.h"
#include "core/progress.h"
#include "core/status.h"

namespace calvex::video_decoder {

// The record passed to the frame callback: the progress record's words 0..7 (time, frame number,
// picture type, bitmap header and bits when the picture is shown) followed by the words of
// DecodedFrameInfoWord.
using DecodedFrameInfo = ProgressRecord;

// Results of the frame callback.
enum FrameCallbackResult : int {
  kFrameGoOn = 0,
  kFrameStop = 1,
  kFrameIntraOnly = 2,  // play I pictures only
  kFrameSkip = 3,       // skip pictures without decoding them
};

// (record, stage kind (always 0, video), progress in thousandths) -> a FrameCallbackResult.
using FrameCallback = std::function<int(const DecodedFrameInfo&, int, int)>;
// Appends one shown picture to the output (the AVI writer's aviSaveFrames): (header, bits,
// output frame index) -> 0 or a status code.
using FrameWriter =
    std::function<Status(const BitmapInfoHeader&, const std::uint8_t*, std::int32_t)>;

// playMode values.
enum PlayMode : int {
  kPlayClosed = 0,
  kPlayNormal = 1,
  kPlayFinished = 10,  // the sequence end was met outside the preview
};

inline constexpr std::int32_t kRangeToEnd = 2147483647;

struct DecodeControl {
  // The run.
  bool decodeRunning = false;
  Status decodeStatus = kOk;
  bool firstStartCodePending = true;
  std::int32_t frameCounter = 0;  // pictures delivered so far
  std::int32_t gopFrameBase = 0;  // frame number of the current group's first picture
  std::int32_t gopCounter = -1;   // group headers met since the index was reset
  bool seekPending = false;       // the next group header resets frameCounter
  bool previewOpenFlag = false;   // the preview keeps the decoder open at the stream's end

  // Play and seek state.
  int playMode = kPlayClosed;
  int seekMode = 0;
  std::int32_t rangeFirst = 0;
  std::int32_t rangeLast = kRangeToEnd;
  std::int32_t streamFrameCount = 0;  // total frames, once the end has been met
  std::int32_t lastIntraCount = 0;
  std::int32_t seekLimit = 0;
  std::int32_t halveFrames = 1;  // 2: every second shown picture is left out of the output
  bool halveToggle = false;
  bool suppressCallback = false;
  bool decodeOrderOutput = false;  // deliver every picture at once, in decoding order

  // Output.
  bool aviOutput = false;              // the run writes pictures through frameWriter
  std::int32_t wantedFrameCount = -1;  // frames of the conversion when known, else -1
  std::int64_t sourceFileSize = 0;     // for the progress of a plain video file
  BitmapInfoHeader bitmapHeader{};     // the output bitmap, filled when the stream is opened
  DecodedFrameInfo info{};             // totals (rate, scale, audio) are filled by the driver
  FrameCallback frameCallback;
  FrameWriter frameWriter;
  // The run's cancelled flag: a cancelled run does not deliver the held reference picture.
  const std::atomic<bool>* cancelled = nullptr;

  // Time-code base of the callback's time record (SetTimeCodeBase).
  float fps = 30.0f;
  std::int32_t fpsWhole = 30;
};

// Frame rate (numerator, denominator) of a picture_rate code; any other code gives 30/1.
struct FrameRate {
  std::int32_t rate;
  std::int32_t scale;
};
FrameRate FrameRateForCode(int pictureRateCode);

// Sets the time-code base from the frame rate: fps = rate / scale, cut to two decimals unless the
// scale is 1001; fpsWhole = fps rounded.
void SetTimeCodeBase(DecodeControl& control, std::int32_t rate, std::int32_t scale);

// Fills the time words (hours, minutes, seconds, frame within the second) for a frame count.
void FillTimeCode(const DecodeControl& control, std::int32_t frameCount, DecodedFrameInfo& info);

}  // namespace calvex::video_decoder
