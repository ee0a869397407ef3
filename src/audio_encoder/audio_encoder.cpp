#include "audio_encoder/audio_encoder.h"

#include <memory>
#include <new>

#include "audio_encoder/frame_writer.h"

namespace calvex::audio {

Status ConfigureEncoding(const PcmFormat& format, AudioEncodeParams& params, EncodingSetup& setup) {
  if (format.bitsPerSample != 8 && format.bitsPerSample != 16) return kSampleSizeUnsupported;
  setup.multiplier = RateMultiplierFor(format.sampleRateHz);
  if (setup.multiplier == 0) return kSampleRateUnsupported;
  setup.sampleRateHz = format.sampleRateHz * setup.multiplier;
  params.sampleRateHz = setup.sampleRateHz;
  if (format.channels != 1 && format.channels != 2) return kChannelCountUnsupported;

  FrameHeader& h = setup.frame.header;
  h = FrameHeader{};
  h.layer = params.audioLayer == 1 ? 1 : 2;
  h.sampling_frequency = SamplingFrequencyCode(setup.sampleRateHz);
  if (format.channels == 1)
    h.mode = kModeSingleChannel;
  else
    h.mode = params.jointStereo == 1 ? kModeJointStereo : kModeStereo;
  h.mode_ext = 0;
  h.bitrate_index = BitrateIndexFor(h.layer, h.mode, params.audioBitrateKbps);
  params.audioBitrateKbps = BitrateKbps(h.layer, h.bitrate_index);
  setup.frame.tableNumber = -1;
  setup.frame.alloc = nullptr;
  DeriveFrameParams(setup.frame);
  return kOk;
}

FramePadding::FramePadding(int layer, int bitrateKbps, int sampleRateHz) {
  const double khz =
      kSamplingFrequencyKhz[static_cast<std::size_t>(SamplingFrequencyCode(sampleRateHz))];
  const double average = (static_cast<double>(SamplesPerFrame(layer)) / khz) *
                         (static_cast<double>(bitrateKbps) / BitsPerSlot(layer));
  wholeSlots_ = static_cast<int>(average);
  fraction_ = average - wholeSlots_;
  slotLag_ = -fraction_;
}

int FramePadding::Next() {
  if (fraction_ == 0) return 0;
  if (slotLag_ > fraction_ - 1.0) {
    slotLag_ -= fraction_;
    return 0;
  }
  slotLag_ += 1 - fraction_;
  return 1;
}

FrameEncoder::FrameEncoder(const EncodingSetup& setup, bool fast)
    : fp_(setup.frame), filter_(fast), model_(setup.frame.header.layer, setup.sampleRateHz, fast) {}

void FrameEncoder::EncodeFrame(const std::array<std::array<std::int16_t, 1152>, 2>& samples,
                               int padding, int availableBits, BitStream& out) {
  fp_.header.padding = padding;
  const bool layer1 = fp_.header.layer == 1;
  const int parts = layer1 ? 1 : 3;
  const bool joint = fp_.actualMode == kModeJointStereo;

  for (int t = 0; t < parts; ++t)
    for (int j = 0; j < 12; ++j)
      for (int ch = 0; ch < fp_.stereo; ++ch) {
        const auto c = static_cast<std::size_t>(ch);
        filter_.Analyse(
            samples[c].data() + t * 384 + j * 32, ch,
            subbands_[c][static_cast<std::size_t>(t)][static_cast<std::size_t>(j)].data());
      }

  for (int ch = 0; ch < fp_.stereo; ++ch)
    ScaleFactors(subbands_[static_cast<std::size_t>(ch)], scale_[static_cast<std::size_t>(ch)],
                 parts, fp_.sblimit, !layer1);
  if (joint) {
    CombineJointStereo(subbands_, joint_, parts, fp_.sblimit);
    ScaleFactors(joint_, jointScale_, parts, fp_.sblimit, !layer1);
  }

  for (int ch = 0; ch < fp_.stereo; ++ch)
    model_.Analyse(samples[static_cast<std::size_t>(ch)].data(), ch,
                   smr_[static_cast<std::size_t>(ch)].data());

  int bits = availableBits;
  if (layer1) {
    if (joint) ChooseJointStereoBound(smr_, selection_, bits, fp_);
    AllocateBitsLayer1(smr_, allocation_, bits, fp_);
    QuantiseLayer1(scale_, subbands_, jointScale_, joint_, allocation_, quantised_, fp_);
    WriteFrameHeader(out, fp_.header);
    WriteLayer1Body(out, allocation_, scale_, quantised_, fp_);
  } else {
    TransmissionPattern(scale_, selection_, fp_);
    if (joint) ChooseJointStereoBound(smr_, selection_, bits, fp_);
    AllocateBitsLayer2(smr_, selection_, allocation_, bits, fp_);
    QuantiseLayer2(scale_, subbands_, jointScale_, joint_, allocation_, quantised_, fp_);
    WriteFrameHeader(out, fp_.header);
    WriteLayer2Body(out, allocation_, selection_, scale_, quantised_, fp_);
  }
  // Fill the frame to its length.
  for (; bits >= 32; bits -= 32) out.PutBits(0, 32);
  out.PutBits(0, bits);
}

namespace {

void FillProgressRecord(ProgressRecord& record, std::uint32_t frame, double frameTenths) {
  const auto tenths = static_cast<std::int32_t>(frame * frameTenths + 0.5);
  record.fraction = tenths % 10;
  record.seconds = (tenths / 10) % 60;
  record.minutes = (tenths / 600) % 60;
  record.hours = tenths / 36000;
  record.frameNumber = static_cast<std::int32_t>(frame);
  record.pictureType = 0;
}

}  // namespace

EncodeResult EncodeAudioStream(const EncodeSource& source, AudioEncodeParams& params,
                               const std::string& destination, EncodeObserver& observer,
                               bool fast) {
  EncodeResult result;
  EncodingSetup setup;
  if (Status s = ConfigureEncoding(source.format, params, setup); s != kOk) {
    result.status = s;
    return result;
  }
  const int layer = setup.frame.header.layer;

  ProgressRecord record;
  record.Word(11) = static_cast<std::int32_t>(source.sourceFrames);
  record.Word(12) = source.format.sampleRateHz;
  record.Word(13) = source.format.bitsPerSample;
  record.Word(14) = source.format.channels;

  BitStream out;
  if (Status s = out.OpenBitStreamWrite(destination, BitStream::kBufferSize); s != kOk) {
    result.status = s;
    return result;
  }
  result.created = true;
  std::unique_ptr<FrameEncoder> encoder;
  try {
    encoder = std::make_unique<FrameEncoder>(setup, fast);
  } catch (const std::bad_alloc&) {
    out.CloseBitStreamWrite();
    result.status = kNoMemory;
    return result;
  }
  PcmFrameReader reader(*source.pcm, source.format, setup.multiplier, source.totalValues);
  FramePadding padding(layer, params.audioBitrateKbps, setup.sampleRateHz);
  const int samplesPerFrame = SamplesPerFrame(layer);
  const std::uint64_t totalFrames =
      (source.totalValues / static_cast<std::uint64_t>(source.format.channels) +
       static_cast<std::uint64_t>(samplesPerFrame) - 1) /
      static_cast<std::uint64_t>(samplesPerFrame);
  const double khz =
      kSamplingFrequencyKhz[static_cast<std::size_t>(setup.frame.header.sampling_frequency)];
  const double frameTenths = samplesPerFrame / (khz * 100);

  auto buffer = std::make_unique<std::array<std::array<std::int16_t, 1152>, 2>>();
  std::uint32_t frame = 0;
  for (;;) {
    std::size_t produced = 0;
    if (Status s = reader.ReadAudioFrame(*buffer, layer, produced); s != kOk) {
      result.status = s;
      break;
    }
    if (produced == 0) break;
    FillProgressRecord(record, frame, frameTenths);
    const std::uint64_t thousandths =
        totalFrames <= 1 ? 1000
                         : std::min<std::uint64_t>(1000, frame * 1000ull / (totalFrames - 1));
    if (observer.Progress(record, static_cast<int>(thousandths))) {
      result.status = kCancelled;
      break;
    }
    if (out.WriteFailed()) {
      result.status = kDiskFull;
      break;
    }
    const int pad = padding.Next();
    const int availableBits = (padding.wholeSlots() + pad) * BitsPerSlot(layer);
    encoder->EncodeFrame(*buffer, pad, availableBits, out);
    ++frame;
  }
  if (!out.CloseBitStreamWrite()) {
    result.writeFailed = true;
    if (result.status == kOk) result.status = kDiskFull;
  }
  result.frames = frame;
  return result;
}

}  // namespace calvex::audio
