// The MPEG-1 video decoder (ISO/IEC 11172-2): bit reader, sequence, group, picture and slice
// headers, macroblock decoding and reconstruction, display ordering and delivery of finished
// pictures through the frame callback of its DecodeControl.
//
//   DecodeControl control;             // the driver's state for one open file
//   control.frameCallback = ...;
//   control.playMode = kPlayNormal;
//   control.decodeRunning = true;
//   auto decoder = VideoDecoder::Create(20000, source, control);   // null: no memory (100)
//   while (control.decodeRunning) decoder->DecodeStep(0);
//   // control.decodeStatus: 0 or 2 success, 1 stopped by the callback, else a failure code
//
// Each step decodes at most one header and 107 macroblocks, so that the caller regains control
// often. The decoder keeps all its state in the object and the DecodeControl; any number may run
// side by side.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "video_decoder/byte_source.h"
#include "video_decoder/decode_control.h"
#include "video_decoder/dsp.h"
#include "video_decoder/picture_buffer.h"
#include "video_decoder/stream_reader.h"
#include "video_decoder/vlc_tables.h"

namespace calvex::video_decoder {

// The sequence header in force.
struct SequenceInfo {
  std::uint32_t horizontalSize = 0;
  std::uint32_t verticalSize = 0;
  int aspectRatioCode = 0;
  int pictureRateCode = 0;
  std::uint32_t bitRate = 0;  // units of 400 bit/s
  std::uint32_t vbvBufferSize = 0;
  bool constrainedFlag = false;
};

// The group of pictures header last read.
struct GroupInfo {
  bool dropFrameFlag = false;
  int hours = 0, minutes = 0, seconds = 0, pictures = 0;
  bool closedGop = false;
  bool brokenLink = false;
};

class VideoDecoder {
 public:
  // A decoder reading from `source` and reporting through `control`, with a stream buffer of
  // `streamBufferBytes`. Null when memory cannot be had.
  static std::unique_ptr<VideoDecoder> Create(std::size_t streamBufferBytes, ByteSource& source,
                                              DecodeControl& control,
                                              DspLevel dsp = DspLevel::kBest);
  ~VideoDecoder();
  VideoDecoder(const VideoDecoder&) = delete;
  VideoDecoder& operator=(const VideoDecoder&) = delete;

  // Decodes up to one header and then up to 107 macroblocks; `frameTag` is stored with a picture
  // whose header this step reads. Results go to the DecodeControl.
  void DecodeStep(std::uint32_t frameTag);

  // Seeking: empties the stream buffer so that the next read refills from the source's current
  // position; or sets the reader on bytes the caller has read itself (taken as they are, no
  // padding); and forgets the reference pictures (all five buffers unlocked).
  void DiscardStreamBuffer() { reader_.Discard(); }
  void LoadStreamBytes(const std::uint8_t* bytes, std::size_t count) { reader_.Load(bytes, count); }
  void ForgetPictures();
  // Bytes a refill of the empty stream buffer asks for.
  std::size_t StreamCapacityBytes() const { return reader_.CapacityBytes(); }

  // Pictures decoded whole so far (a cut file's last one is not), and whether the stream ended
  // because the data ran out rather than at a sequence end code.
  int completePictures() const { return completePictures_; }
  bool RanOutOfData() const { return reader_.PastData(); }

  const SequenceInfo& sequence() const { return sequence_; }
  const GroupInfo& group() const { return group_; }
  int mbWidth() const { return mbWidth_; }
  int mbHeight() const { return mbHeight_; }
  const DecoderDsp& dsp() const { return *dsp_; }

  // The picture being delivered, while the frame callback runs (its planes are lumaStride() and
  // chromaStride() bytes per row); null otherwise.
  const PictureBuffer* DeliveredPicture() const { return delivered_; }
  std::ptrdiff_t lumaStride() const { return lumaStride_; }
  std::ptrdiff_t chromaStride() const { return lumaStride_ / 2; }

 private:
  VideoDecoder(std::size_t streamBufferBytes, ByteSource& source, DecodeControl& control,
               const DecoderDsp& dsp);

  // Headers.
  bool ParseSequenceHeader();
  void ParseGroupHeader();
  enum class PictureResult { kAccepted, kSkipped, kRefused };
  PictureResult ParsePictureHeader(std::uint32_t frameTag);
  bool ParseSliceHeader();
  void SkipExtensionsAndUserData();
  bool AllocatePictures(int mbWidth, int mbHeight);
  bool AcceptPicture(int type);
  void SkipToNextPicture();

  // The step's parts.
  void Fail(Status status);
  // When the failed read ran past the end of the data (a cut file): moves to the appended
  // sequence end code, which ends the stream, and returns true.
  bool EndAtCutData();
  void DecodeMacroblocks();
  void AtStartCode();
  void PollReader();

  // Macroblocks (macroblock.cpp).
  bool DecodeMacroblock();
  bool DecodeMotionVector(int f, int rSize, bool fullPel, std::int32_t* predictor,
                          std::int32_t* vector);
  bool DecodeIntraBlock(int block);
  bool DecodeNonIntraBlock(int& count, int& lastPosition);
  void ReconstructSkipped(int from, int to);
  void Predict(int mbAddress, bool forward, bool backward, const std::int32_t* forwardVector,
               const std::int32_t* backwardVector);
  void PredictPlane(const std::uint8_t* refPlane, std::uint8_t* dstPlane, std::ptrdiff_t stride,
                    int planeWidth, int planeHeight, int x, int y, int vx, int vy, int size,
                    bool average);
  void UpdateQuantizerScale(int scale);

  // Display order and delivery (picture_output.cpp).
  void FinishPicture(PictureBuffer* picture, std::int32_t temporalReference, int type);
  void DeliverPicture(PictureBuffer* picture);
  void ConvertBitmap(PictureBuffer& picture);
  int ProgressThousandths() const;

  DecodeControl& control_;
  ByteSource& source_;
  StreamReader reader_;
  const DecoderDsp* dsp_;
  const VlcTables& vlc_;

  SequenceInfo sequence_;
  GroupInfo group_;
  int mbWidth_ = 0, mbHeight_ = 0;
  int allocatedMbWidth_ = 0, allocatedMbHeight_ = 0;
  int outputWidth_ = 0, outputHeight_ = 0;  // the bitmap: the first sequence header's size
  std::ptrdiff_t lumaStride_ = 0;
  std::array<std::uint8_t, 64> intraQuantMatrix_{};  // row-major
  std::array<std::uint8_t, 64> nonIntraQuantMatrix_{};

  // Picture header.
  std::int32_t temporalReference_ = 0;
  int pictureCodingType_ = 0;
  std::uint32_t vbvDelay_ = 0;
  bool fullPelForward_ = false, fullPelBackward_ = false;
  int forwardRSize_ = 0, forwardF_ = 1, backwardRSize_ = 0, backwardF_ = 1;
  bool pictureInProgress_ = false;
  bool pictureCut_ = false;   // the picture in progress ran into the end of a cut file
  int completePictures_ = 0;  // pictures decoded whole

  // Slice and macroblock state.
  int sliceVerticalPosition_ = 0;
  int quantizerScale_ = 1;
  std::int32_t mbAddress_ = -1;
  std::int32_t pastIntraAddress_ = -2;
  std::int32_t lastMbAddress_ = -1;
  std::int32_t motionPredictor_[2][2] = {};  // [forward, backward][right, down]
  std::int32_t dcPredictor_[3] = {1024, 1024, 1024};
  // The previous macroblock of a B picture, for skipped macroblocks.
  bool lastForward_ = false, lastBackward_ = false;
  std::int32_t lastVector_[2][2] = {};  // half-sample units
  // Quantiser matrices times the quantiser scale, in scan order.
  std::array<std::int32_t, 64> intraScale_{};
  std::array<std::int32_t, 64> nonIntraScale_{};
  alignas(16) std::int16_t block_[64] = {};

  std::array<PictureBuffer, 5> pictures_;
  PictureBuffer* past_ = nullptr;
  PictureBuffer* future_ = nullptr;
  PictureBuffer* current_ = nullptr;
  const PictureBuffer* delivered_ = nullptr;
};

}  // namespace calvex::video_decoder
