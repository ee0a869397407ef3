#include "video_decoder/mpeg_decoder_session.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "core/file_names.h"
#include "mpeg_audio/system_stream_reader.h"
#include "video_decoder/mpeg_scanner.h"
#include "video_decoder/output_frame_rate.h"

namespace calvex::video_decoder {
namespace {

constexpr std::size_t kStreamBufferBytes = 20000;

bool IsPictureGroupOrSequenceCode(const std::uint8_t* p) {
  return p[0] == 0 && p[1] == 0 && p[2] == 1 && (p[3] == 0x00 || p[3] == 0xB8 || p[3] == 0xB3);
}

}  // namespace

MpegDecoderSession::MpegDecoderSession(ConversionContext& context) : context_(context) {}

MpegDecoderSession::~MpegDecoderSession() {
  Close();
}

Status MpegDecoderSession::ConvertMpegToAvi(const MpegDecodeRequest& request,
                                            FrameCallback callback) {
  request_ = request;
  section_ =
      request.section != nullptr ? std::optional<GopIndexEntry>(*request.section) : std::nullopt;
  request_.section = nullptr;
  outputCreated_ = false;
  const std::int32_t first = std::max(request.firstFrame, 0);

  if (IsOpen()) {
    SeekToFrame(first);
    control_.playMode = kPlayNormal;
    control_.seekMode = 0;
  }
  control_.rangeFirst = first;
  if (request.lastFrame >= 0) {
    control_.rangeLast = request.lastFrame;
    control_.wantedFrameCount = request.lastFrame - first + 1;
  } else {
    control_.rangeLast = kRangeToEnd;
    control_.wantedFrameCount =
        control_.streamFrameCount >= 1 ? control_.streamFrameCount - first : -1;
  }
  control_.frameCallback = std::move(callback);
  control_.cancelled = &context_.flags().cancelled;

  if (!request.destination.empty() && IsOpen()) Close();
  if (IsOpen()) {
    if (first >= control_.frameCounter) return OpenAndRun(Mode::kRun);
    Close();
  }

  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(request.source, error);
  if (error) return kOpenFailed;
  if (size == 0) return kEmptySource;
  sourceSize_ = static_cast<std::int64_t>(size);
  control_.sourceFileSize = sourceSize_;

  const Status system = audio::IsSystemStreamFile(request.source);
  if (system == kVideoDataError || system == kOpenFailed) return system;
  systemStream_ = system == kOk;

  // The sound's share of a range of frames follows from the picture rate, known before the
  // pictures are decoded.
  const FrameRate rate = FrameRateForCode(FirstPictureRateCode(request.source));
  control_.info.Word(kInfoRate) = rate.rate;
  control_.info.Word(kInfoScale) = rate.scale;

  audio_ = {};
  if (systemStream_ && !control_.decodeOrderOutput) {
    if (const Status s = DecodeSound(); s != kOk) return s;
  }
  audio_decoder::PublishAudioDescription(audio_, control_.info);
  return OpenAndRun(Mode::kRun);
}

Status MpegDecoderSession::DecodeSound() {
  if (request_.destination.empty()) {
    // Without an output only the description is wanted; a stream without sound has none.
    audio_decoder::AudioDescription description;
    if (audio_decoder::ReadMpegAudioDescription(request_.source, true, description) == kOk) {
      audio_ = description;
    }
    return kOk;
  }
  if (!soundFile_.Create(DirectoryOf(request_.destination), "~audio.tmp")) {
    return kTempCreateFailed;
  }
  audio_decoder::AudioDecodeRequest sound;
  sound.source = request_.source;
  sound.systemStream = true;
  sound.sink = audio_decoder::AudioSinkKind::kTemporaryFile;
  sound.destination = soundFile_.path();
  sound.output = {request_.outputOptions[0], request_.outputOptions[1]};
  sound.firstVideoFrame = control_.rangeFirst;
  sound.lastVideoFrame = request_.lastFrame;
  sound.record = control_.info;
  sound.sourceSize = sourceSize_;
  audio_decoder::AudioDecodeResult result;
  const Status s = audio_decoder::DecodeMpegAudio(sound, context_, result);
  if (s == kNotMpeg) {
    // A system stream without audio packets: a movie without sound.
    soundFile_.Remove();
    return kOk;
  }
  if (s != kOk) {
    soundFile_.Remove();
    return s;
  }
  audio_ = result.description;
  soundFormat_ = result.pcmFormat;
  soundBytes_ = result.audioBytes;
  return kOk;
}

Status MpegDecoderSession::OpenAndRun(Mode mode) {
  if (mode == Mode::kClose) {
    Close();
    return kOk;
  }
  if (!IsOpen()) {
    if (const Status s = Open(); s != kOk) return s;
  }
  return Run();
}

Status MpegDecoderSession::Open() {
  control_.aviOutput = !request_.destination.empty();
  ByteSource* source = &fileSource_;
  Status opened = kNotMpeg;
  if (systemStream_) {
    opened = systemSource_.Open(request_.source);
    if (opened == kOk) source = &systemSource_;
  }
  if (opened == kNotMpeg) {
    systemStream_ = false;
    opened = fileSource_.Open(request_.source);
  }
  if (opened != kOk) {
    soundFile_.Remove();
    return opened;
  }

  control_.decodeRunning = true;
  control_.firstStartCodePending = true;
  control_.decodeStatus = kOk;
  control_.frameCounter = 0;
  control_.gopFrameBase = 0;
  control_.gopCounter = -1;
  control_.seekPending = false;
  decoder_ = VideoDecoder::Create(kStreamBufferBytes, *source, control_);
  if (!decoder_) {
    Close();
    return kNoMemory;
  }
  decoder_->DecodeStep(0);  // the sequence header
  if (control_.decodeStatus != kOk) {
    const Status s = control_.decodeStatus;
    Close();
    return s;
  }

  const SequenceInfo& sequence = decoder_->sequence();
  const FrameRate rate = FrameRateForCode(sequence.pictureRateCode);
  control_.halveFrames = request_.decodingOptions[3];
  control_.halveToggle = false;
  stream_.rate = rate.rate;
  stream_.scale = rate.scale;
  stream_.width = static_cast<std::int32_t>(sequence.horizontalSize);
  stream_.height = static_cast<std::int32_t>(sequence.verticalSize);
  stream_.bitRate = static_cast<std::int32_t>(sequence.bitRate);
  stream_.totalFrames = control_.streamFrameCount > 0 ? control_.streamFrameCount : 1;
  control_.info.Word(kInfoRate) = rate.rate;
  control_.info.Word(kInfoScale) = rate.scale;
  control_.info.Word(kInfoTotalFrames) = stream_.totalFrames;
  SetTimeCodeBase(control_, rate.rate, rate.scale);

  if (control_.aviOutput) {
    // The pictures written come at the stream's rate, halved when every second one is left out;
    // the AVI plays them at the record's rate when the user chose another.
    const int halve = std::max(control_.halveFrames, 1);
    const AviFrameRate written{rate.rate, rate.scale * halve};
    const OutputFrameRateChoice output = ChooseOutputFrameRate(request_.params, written);
    rateChange_.reset();
    if (output.changed) rateChange_.emplace(written, output.rate);
    outputPictures_ = 0;
    media::AviStreamInfo info;
    info.rate = static_cast<std::uint32_t>(output.rate.rate);
    info.scale = static_cast<std::uint32_t>(output.rate.scale);
    info.decodingOption1 = request_.decodingOptions[0];
    info.decodingOption2 = request_.decodingOptions[1];
    const bool sound = soundFile_.exists() && soundBytes_ > 0 && soundFormat_.blockAlign > 0;
    if (sound) {
      const std::int64_t align = soundFormat_.blockAlign;
      info.audioByteTotal = static_cast<std::uint32_t>(
          std::min<std::int64_t>(align * (soundBytes_ / align), UINT32_MAX - align));
    }
    std::int32_t frameCount = control_.wantedFrameCount;
    if (frameCount < 0) {
      frameCount = request_.estimatedFrameCount > 0 ? request_.estimatedFrameCount
                                                    : EstimateMpegFrameCount(request_.source);
    }
    // The pictures the AVI will hold: the first of every `halve`, then dropped or repeated.
    std::int64_t pictures = (std::int64_t{std::max(frameCount, 0)} + halve - 1) / halve;
    if (rateChange_) pictures = rateChange_->OutputPicturesFor(pictures);
    frameCount = static_cast<std::int32_t>(std::min<std::int64_t>(pictures, INT32_MAX));
    static const MpegToAviParams kDefaultParams;
    writer_ = std::make_unique<media::AviWriter>();
    const Status s = writer_->aviSaveBegin(
        control_.bitmapHeader, sound ? &soundFormat_ : nullptr, info, request_.destination,
        request_.params != nullptr ? *request_.params : kDefaultParams, frameCount,
        sound ? soundFile_.path() : std::string());
    if (s != kOk) {
      writer_.reset();
      Close();
      return s;
    }
    outputCreated_ = true;
    control_.frameWriter = [this](const BitmapInfoHeader& header, const std::uint8_t* bits,
                                  std::int32_t frame) -> Status {
      if (!writer_) return kAviWriteFailed;
      if (!rateChange_) return writer_->aviSaveFrames(header, bits, frame);
      for (std::int32_t copies = rateChange_->CopiesOfNext(); copies > 0; --copies) {
        if (const Status s = writer_->aviSaveFrames(header, bits, outputPictures_++); s != kOk)
          return s;
      }
      return kOk;
    };
  }
  control_.playMode = kPlayNormal;
  return kOk;
}

Status MpegDecoderSession::Run() {
  if (section_) {
    SeekToSection(*section_);
    section_.reset();
  }
  control_.decodeRunning = true;
  control_.decodeStatus = kOk;
  if (control_.rangeFirst > control_.frameCounter) control_.seekMode = control_.seekPending ? 0 : 3;
  while (control_.decodeRunning) decoder_->DecodeStep(0);

  Status status = control_.decodeStatus;
  // A file cut before its first whole picture has nothing to convert.
  if (IsSuccess(status) && control_.aviOutput && decoder_->completePictures() == 0 &&
      decoder_->RanOutOfData()) {
    status = kVideoDataError;
  }
  if (control_.aviOutput && writer_) {
    const Status end = writer_->aviSaveEnd();
    writer_.reset();
    if (status == kOk || status == kFinishedWithNote) status = end;
  }
  control_.frameWriter = nullptr;
  if (control_.streamFrameCount > 0) stream_.totalFrames = control_.streamFrameCount;
  if (control_.playMode != kPlayFinished) {
    // Left open for the preview to go on from here.
    soundFile_.Remove();
    soundBytes_ = 0;
    return status;
  }
  Close();
  return status;
}

void MpegDecoderSession::Close() {
  decoder_.reset();
  writer_.reset();  // an unfinished AVI goes with it
  fileSource_.Close();
  systemSource_.Close();
  soundFile_.Remove();
  soundBytes_ = 0;
  control_.frameWriter = nullptr;
  rateChange_.reset();
  control_.decodeRunning = false;
  control_.frameCounter = 0;
  control_.playMode = kPlayClosed;
}

void MpegDecoderSession::CloseMpegDecoder() {
  Close();
  control_.streamFrameCount = 0;
  control_.lastIntraCount = 0;
  control_.seekLimit = 0;
  control_.seekMode = 0;
}

bool MpegDecoderSession::SeekToFrame(std::int32_t frame) {
  if (!decoder_) return false;
  const std::int32_t target = index_.EntryFor(frame);
  if (target < 0) return false;
  if (target == control_.gopCounter && control_.frameCounter <= frame &&
      !control_.suppressCallback) {
    control_.seekPending = true;
    return true;  // decoding on reaches the frame
  }
  control_.gopCounter = target - 1;  // the group header counts it again
  if (!Reposition(index_[target])) return false;
  decoder_->ForgetPictures();
  control_.seekPending = true;
  return true;
}

void MpegDecoderSession::SeekToSection(const GopIndexEntry& entry) {
  if (!decoder_) return;
  control_.gopCounter = -1;
  index_.SetEntry0(entry);
  if (!Reposition(index_[0])) {
    // An entry that does not fit this file: decode from the start and seek by decoding.
    RestartFromTheBeginning();
    return;
  }
  decoder_->ForgetPictures();
  control_.seekPending = true;
}

bool MpegDecoderSession::Reposition(const GopIndexEntry& entry) {
  if (entry.picturesBefore < 0 || entry.offset < 0 || entry.packetPosition < 0 ||
      std::int64_t{entry.packetPosition} + entry.offset >= sourceSize_) {
    return false;
  }
  if (systemStream_) {
    if (!systemSource_.SeekToPacket(entry.packetPosition)) return false;
    const auto offset = static_cast<std::size_t>(entry.offset);
    std::vector<std::uint8_t> bytes(decoder_->StreamCapacityBytes() + offset);
    const std::int64_t n = systemSource_.Read(bytes.data(), bytes.size());
    if (n <= static_cast<std::int64_t>(offset)) return false;
    const auto end = static_cast<std::size_t>(n);
    // From the recorded offset on to the first picture, group or sequence start code.
    std::size_t start = offset;
    for (std::size_t i = offset; i + 4 <= end; ++i) {
      if (IsPictureGroupOrSequenceCode(&bytes[i])) {
        start = i;
        break;
      }
    }
    decoder_->LoadStreamBytes(bytes.data() + start, end - start);
  } else {
    if (!fileSource_.Seek(entry.offset)) return false;
    decoder_->DiscardStreamBuffer();
  }
  control_.frameCounter = std::max(0, entry.picturesBefore - 1);
  return true;
}

void MpegDecoderSession::RestartFromTheBeginning() {
  if (systemStream_) {
    systemSource_.SeekToPacket(0);
  } else {
    fileSource_.Seek(0);
  }
  decoder_->DiscardStreamBuffer();
  decoder_->ForgetPictures();
  control_.frameCounter = 0;
  control_.gopCounter = -1;
  control_.seekPending = false;
}

}  // namespace calvex::video_decoder
