#include "core/settings.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "core/messages.h"

namespace calvex {

WaveFormat MpegToAviParams::AudioFormat() const {
  WaveFormat f;
  std::memcpy(&f, audioFormat.data(), sizeof f);
  return f;
}

void MpegToAviParams::SetAudioFormat(const WaveFormat& f) {
  audioFormat.fill(0);
  std::memcpy(audioFormat.data(), &f, sizeof f);
}

WaveFormat Mp2ToWavParams::Format() const {
  WaveFormat f;
  std::memcpy(&f, format.data(), sizeof f);
  return f;
}

void Mp2ToWavParams::SetFormat(const WaveFormat& f) {
  format.fill(0);
  std::memcpy(format.data(), &f, sizeof f);
}

std::int32_t TargetDriveDataRate(std::int32_t choice, std::int32_t typedRate) {
  static constexpr std::int32_t kRates[] = {600, 300, 150, 450, 300, 150};
  if (choice >= 0 && choice < 6) return kRates[choice];
  if (typedRate == 0) typedRate = 150;
  return std::clamp(typedRate, 10, 1000);
}

ConversionKind KindByExtension(const std::string& path) {
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos) return ConversionKind::kNone;
  // A dot inside a directory name is not an extension.
  const auto slash = path.find_last_of("/\\");
  if (slash != std::string::npos && slash > dot) return ConversionKind::kNone;
  std::string ext = path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".avi") return ConversionKind::kAviToMpeg;
  if (ext == ".wav") return ConversionKind::kWavToMp2;
  if (ext == ".mpg") return ConversionKind::kMpegToAvi;
  if (ext == ".mp2") return ConversionKind::kMp2ToWav;
  return ConversionKind::kNone;
}

const char* ExtensionForKind(ConversionKind kind) {
  switch (kind) {
    case ConversionKind::kAviToMpeg:
      return ".mpg";
    case ConversionKind::kWavToMp2:
      return ".mp2";
    case ConversionKind::kMpegToAvi:
      return ".avi";
    case ConversionKind::kMp2ToWav:
      return ".wav";
    case ConversionKind::kNone:
      break;
  }
  return "";
}

std::int32_t FrameRateIndexFor(std::uint32_t packedRate) {
  const std::uint32_t num = packedRate >> 16;
  const std::uint32_t den = packedRate & 0xFFFF;
  if (den == 0) return 0;
  const double rate = static_cast<double>(num) / den;
  if (rate >= 30.0) return 0;
  // Compared in single precision on both sides, so that a rate stored as 2997/100 counts as 29.97.
  const float r = static_cast<float>(rate);
  if (r >= 29.97f) return 1;
  if (r >= 25.0f) return 2;
  if (r >= 24.0f) return 3;
  if (r >= 23.97f) return 4;
  return 3;
}

std::int32_t EvenClampedSize(std::int32_t n) {
  n -= n % 2;
  return std::clamp(n, 32, 480);
}

std::int32_t DefaultDataRateFor(std::int32_t width, std::int32_t height) {
  const std::int64_t area = static_cast<std::int64_t>(width) * height;
  if (area >= 76800) return 150;
  if (area <= 0) return 70;
  const std::int64_t q = 1536000 / area;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(150 - (q - q % 10), 70, 150));
}

void ApplyVideoCdFormat(AviToMpegParams& p, std::uint32_t packedRate) {
  const std::uint32_t num = packedRate >> 16, den = packedRate & 0xFFFF;
  const double rate = den == 0 ? 0.0 : static_cast<double>(num) / den;
  const auto near = [rate](double r, double within) { return std::abs(rate - r) < within; };
  if (near(25.0, 1.0) || near(50.0, 2.0) || near(12.5, 0.5)) {
    p.frameRateIndex = 2;
    p.height = 288;
  } else {
    p.frameRateIndex = near(24.0, 0.6) ? 4 : 1;
    p.height = 240;
  }
  p.width = 352;
  p.audioLayer = 2;
  p.jointStereo = 0;
  p.audioBitrateKbps = kVideoCdAudioKbps;
  p.dataRateKBps =
      static_cast<std::int32_t>((kVideoCdVideoBitRate + 1000u * kVideoCdAudioKbps + 8191u) / 8192u);
  p.videoCd = 1;
}

std::uint32_t VideoBitRateFor(const AviToMpegParams& p) {
  if (p.videoCd == 1) return kVideoCdVideoBitRate;
  const std::int32_t audioShare = std::clamp(p.audioBitrateKbps / 8, 0, 56);
  const std::int32_t kbps = std::max(p.dataRateKBps - audioShare, 0);
  return static_cast<std::uint32_t>(kbps) * 8192u;
}

void DeriveFrameParameters(ConversionSettings& s) {
  const std::int32_t index = std::clamp(s.aviToMpeg.frameRateIndex, 0, 4);
  const FrameRateRow& row = FrameRateTable[static_cast<std::size_t>(index)];
  s.targetRateNum = row.targetRateNum;
  s.targetRateDen = row.targetRateDen;
  s.targetMilliFps = row.targetMilliFps;
  s.pictureRateCode = row.pictureRateCode;

  const std::uint32_t num = s.aviInfo.RateNumerator();
  const std::uint32_t den = s.aviInfo.RateDenominator();
  s.sourceMilliFps =
      den == 0 ? 0 : static_cast<std::int32_t>(std::trunc(static_cast<double>(num) / den * 1000.0));

  const std::int32_t d = s.targetMilliFps - s.sourceMilliFps;
  // An unknown source rate cannot be mapped: take one picture per frame.
  s.rateDelta = (s.sourceMilliFps > 0 && (d >= 3 || d <= -3)) ? d : 0;

  const std::int32_t total = s.sourceFrameCount > 0 ? s.sourceFrameCount : s.aviInfo.frameCount;
  const std::int32_t count = s.HasSection() ? s.sectionLast - s.sectionFirst + 1 : total;
  if (s.rateDelta != 0) {
    // Exact integer arithmetic: the ratio of two rates in double precision lands just below whole
    // numbers (118 / 30000 x 15000 = 58.999...), which would show some frames three times.
    // A slow source (a header claiming minutes per frame) may map to more pictures than 32 bits
    // count: the count then stays at the most it can hold.
    s.outputFrameCount = static_cast<std::int32_t>(std::min<std::int64_t>(
        static_cast<std::int64_t>(s.targetMilliFps) * count / s.sourceMilliFps, INT32_MAX));
  } else {
    s.outputFrameCount = count;
  }
}

std::int32_t SourceFrameFor(const ConversionSettings& s, std::int32_t n) {
  if (s.rateDelta == 0) return s.HasSection() ? n + s.sectionFirst : n;
  const auto mapped =
      static_cast<std::int32_t>(static_cast<std::int64_t>(n) * s.sourceMilliFps / s.targetMilliFps);
  if (!s.HasSection()) {
    const std::int32_t total = s.sourceFrameCount > 0 ? s.sourceFrameCount : s.aviInfo.frameCount;
    return std::min(mapped, std::max(total - 1, 0));
  }
  if (n == 0) return s.sectionFirst;
  if (n == s.outputFrameCount - 1) return s.sectionLast;
  return std::min(mapped + s.sectionFirst, s.sectionLast);
}

AviToMpegParams DefaultAviToMpegParams(const AviInfo& info) {
  AviToMpegParams p;
  p.dataRateKBps = DefaultDataRateFor(info.width, info.height);
  p.audioLayer = 2;
  p.jointStereo = 1;
  p.audioBitrateKbps = info.HasAudio() && info.audioChannels == 1 ? 64 : 128;
  p.frameRateIndex = FrameRateIndexFor(info.frameRatePacked);
  p.width = EvenClampedSize(info.width);
  p.height = EvenClampedSize(info.height);
  return p;
}

WavToMp2Params DefaultWavToMp2Params() {
  return WavToMp2Params{};
}

MpegToAviParams DefaultMpegToAviParams(const MpegInfo& info) {
  MpegToAviParams p;
  p.frameRateScale = 1000;
  p.frameRateMilli = info.frameRateDen > 0
                         ? static_cast<std::int32_t>(static_cast<std::int64_t>(info.frameRateNum) *
                                                     1000 / info.frameRateDen)
                         : 30000;
  p.frameRatePacked =
      static_cast<std::int32_t>((static_cast<std::uint32_t>(p.frameRateMilli) << 16) |
                                static_cast<std::uint32_t>(p.frameRateScale));
  p.width = info.width;
  p.height = info.height;
  const int channels = info.audioChannelMode == 1 ? 1 : 2;
  const int bits = info.audioBitsPerSample >= 16 ? 16 : 8;
  p.SetAudioFormat(MakePcmFormat(channels, info.audioSampleRate, bits));
  return p;
}

Mp2ToWavParams DefaultMp2ToWavParams(const Mp2Info& info) {
  WaveFormat f;
  f.formatTag = kWaveFormatPcm;
  f.channels = 1;
  f.samplesPerSec = static_cast<std::uint32_t>(info.sampleRate);
  f.avgBytesPerSec = 11025;
  f.blockAlign = 2;
  f.bitsPerSample = 16;
  Mp2ToWavParams p;
  p.SetFormat(f);
  return p;
}

void ApplyDefaultParams(SourceEntry& e) {
  switch (e.kind) {
    case ConversionKind::kAviToMpeg:
      e.aviToMpeg = DefaultAviToMpegParams(e.aviInfo);
      break;
    case ConversionKind::kWavToMp2:
      e.wavToMp2 = DefaultWavToMp2Params();
      break;
    case ConversionKind::kMpegToAvi:
      e.mpegToAvi = DefaultMpegToAviParams(e.mpegInfo);
      break;
    case ConversionKind::kMp2ToWav:
      e.mp2ToWav = DefaultMp2ToWavParams(e.mp2Info);
      break;
    case ConversionKind::kNone:
      break;
  }
}

std::string ValidationError::Text() const {
  if (message == 246) return std::string(MessageText(246));
  const std::string format(MessageText(245));
  return FormatText(format.c_str(), low, high);
}

namespace {

std::optional<ValidationError> CheckRange(std::int32_t value, int low, int high,
                                          const char* field) {
  if (value == kMixedValue) return std::nullopt;
  if (value < low || value > high) return ValidationError{245, low, high, field};
  return std::nullopt;
}

std::optional<ValidationError> CheckEven(std::int32_t value, const char* field) {
  if (value == kMixedValue || value % 2 == 0) return std::nullopt;
  return ValidationError{246, 0, 0, field};
}

}  // namespace

std::optional<ValidationError> ValidateAviToMpeg(const AviToMpegParams& p) {
  if (auto e = CheckRange(p.width, 32, 480, "width")) return e;
  if (auto e = CheckRange(p.height, 32, 480, "height")) return e;
  if (auto e = CheckEven(p.width, "width")) return e;
  if (auto e = CheckEven(p.height, "height")) return e;
  if (auto e = CheckRange(p.dataRateKBps, 60, 200, "dataRateKBps")) return e;
  return CheckRange(p.audioBitrateKbps, 32, 448, "audioBitrateKbps");
}

std::optional<ValidationError> ValidateWavToMp2(const WavToMp2Params& p) {
  return CheckRange(p.audioBitrateKbps, 32, 448, "audioBitrateKbps");
}

std::optional<ValidationError> ValidateMpegToAvi(const MpegToAviParams& p) {
  bool rateValid = true;
  if (p.frameRateMilli != kMixedValue && (p.frameRateMilli < 10000 || p.frameRateMilli > 30000)) {
    return ValidationError{245, 10, 30, "frameRateMilli"};
  }
  if (p.frameRateMilli == kMixedValue) rateValid = false;
  if (auto e = CheckRange(p.width, 1, 999, "width")) return e;
  if (auto e = CheckRange(p.height, 1, 999, "height")) return e;
  const int packHigh = rateValid ? p.frameRateMilli / 1000 : 30;
  if (auto e = CheckRange(p.packEveryFrames, 1, packHigh, "packEveryFrames")) return e;
  if (p.targetDrive == 6) return CheckRange(p.dataRateKBps, 10, 1000, "dataRateKBps");
  return std::nullopt;
}

std::optional<ValidationError> ValidateMp2ToWav(std::int32_t userRateHz) {
  if (userRateHz == kMixedValue) return std::nullopt;
  if (userRateHz < 5125 || userRateHz > 48000) return ValidationError{245, 6, 48, "userRateHz"};
  return std::nullopt;
}

namespace {

template <typename T>
void Take(const T& panel, T& entry, T mixed) {
  if (panel != mixed) entry = panel;
}

}  // namespace

void ApplyPanel(const AviToMpegParams& panel, AviToMpegParams& e) {
  Take(panel.dataRateKBps, e.dataRateKBps, kMixedValue);
  Take(panel.audioLayer, e.audioLayer, kMixedValue);
  Take(panel.jointStereo, e.jointStereo, kMixedValue);
  Take(panel.audioBitrateKbps, e.audioBitrateKbps, kMixedValue);
  Take(panel.frameRateIndex, e.frameRateIndex, kMixedValue);
  Take(panel.width, e.width, kMixedValue);
  Take(panel.height, e.height, kMixedValue);
  Take(panel.videoCd, e.videoCd, kMixedValue);
}

void ApplyPanel(const WavToMp2Params& panel, WavToMp2Params& e) {
  Take(panel.audioLayer, e.audioLayer, kMixedValue);
  Take(panel.jointStereo, e.jointStereo, kMixedValue);
  Take(panel.audioBitrateKbps, e.audioBitrateKbps, kMixedValue);
}

namespace {

// Field by field by name: the packed fields cannot be bound to references.
void ApplyWaveFormat(const WaveFormat& panel, WaveFormat& e) {
  const auto mixed32 = static_cast<std::uint32_t>(kMixedValue);
  if (panel.formatTag != kMixedValue16) e.formatTag = panel.formatTag;
  if (panel.channels != kMixedValue16) e.channels = panel.channels;
  if (panel.samplesPerSec != mixed32) e.samplesPerSec = panel.samplesPerSec;
  if (panel.avgBytesPerSec != mixed32) e.avgBytesPerSec = panel.avgBytesPerSec;
  if (panel.blockAlign != kMixedValue16) e.blockAlign = panel.blockAlign;
  if (panel.bitsPerSample != kMixedValue16) e.bitsPerSample = panel.bitsPerSample;
}

}  // namespace

void ApplyPanel(const MpegToAviParams& panel, MpegToAviParams& e) {
  Take(panel.frameRatePacked, e.frameRatePacked, kMixedValue);
  Take(panel.frameRateScale, e.frameRateScale, kMixedValue);
  Take(panel.frameRateMilli, e.frameRateMilli, kMixedValue);
  Take(panel.width, e.width, kMixedValue);
  Take(panel.height, e.height, kMixedValue);
  Take(panel.interleave, e.interleave, kMixedValue);
  Take(panel.packEveryFrames, e.packEveryFrames, kMixedValue);
  Take(panel.targetDrive, e.targetDrive, kMixedValue);
  Take(panel.dataRateKBps, e.dataRateKBps, kMixedValue);
  Take(panel.padFramesForCdRom, e.padFramesForCdRom, kMixedValue);
  Take(panel.compressor, e.compressor, kMixedValue);
  Take(panel.quality, e.quality, kMixedValue);
  Take(panel.keyFrameEvery, e.keyFrameEvery, kMixedValue);
  Take(panel.dataType, e.dataType, kMixedValue);
  Take(panel.paletteChoice, e.paletteChoice, kMixedValue);
  Take(panel.limitDataRate, e.limitDataRate, kMixedValue);
  Take(panel.useCommonPalette, e.useCommonPalette, kMixedValue);
  // The audio format is chosen whole in the format chooser: taken whole unless mixed.
  if (panel.AudioFormat().formatTag != kMixedValue16) e.audioFormat = panel.audioFormat;
}

void ApplyPanel(const Mp2ToWavParams& panel, Mp2ToWavParams& e) {
  WaveFormat ef = e.Format();
  const WaveFormat pf = panel.Format();
  const bool tagChanged = pf.formatTag != kMixedValue16 && pf.formatTag != ef.formatTag;
  ApplyWaveFormat(pf, ef);
  if (tagChanged) {
    // A new compression scheme brings its own format-specific bytes.
    e.format = panel.format;
  }
  std::memcpy(e.format.data(), &ef, sizeof ef);
}

namespace {

template <typename V>
V Merge(const std::vector<V>& values, V mixed) {
  if (values.empty()) return mixed;
  for (const V& v : values)
    if (v != values.front()) return mixed;
  return values.front();
}

template <typename T, typename M>
auto Field(const std::vector<const T*>& records, M T::*member) {
  std::vector<std::remove_cvref_t<decltype(records.front()->*member)>> values;
  for (const T* r : records) values.push_back(r->*member);
  return values;
}

// The fields of a packed record are read by name: a pointer to a packed member would be read
// as if it were aligned.
template <typename Get>
auto WaveField(const std::vector<WaveFormat>& formats, Get get) {
  std::vector<decltype(get(formats.front()))> values;
  for (const WaveFormat& f : formats) values.push_back(get(f));
  return values;
}

WaveFormat MergeWaveFormats(const std::vector<WaveFormat>& formats) {
  WaveFormat out;
  const auto mixed32 = static_cast<std::uint32_t>(kMixedValue);
  out.formatTag =
      Merge(WaveField(formats, [](const WaveFormat& f) { return f.formatTag; }), kMixedValue16);
  out.channels =
      Merge(WaveField(formats, [](const WaveFormat& f) { return f.channels; }), kMixedValue16);
  out.samplesPerSec =
      Merge(WaveField(formats, [](const WaveFormat& f) { return f.samplesPerSec; }), mixed32);
  out.avgBytesPerSec =
      Merge(WaveField(formats, [](const WaveFormat& f) { return f.avgBytesPerSec; }), mixed32);
  out.blockAlign =
      Merge(WaveField(formats, [](const WaveFormat& f) { return f.blockAlign; }), kMixedValue16);
  out.bitsPerSample =
      Merge(WaveField(formats, [](const WaveFormat& f) { return f.bitsPerSample; }), kMixedValue16);
  out.extraSize =
      Merge(WaveField(formats, [](const WaveFormat& f) { return f.extraSize; }), kMixedValue16);
  return out;
}

}  // namespace

AviToMpegParams MergeForPanel(const std::vector<const AviToMpegParams*>& r) {
  AviToMpegParams p;
  p.dataRateKBps = Merge(Field(r, &AviToMpegParams::dataRateKBps), kMixedValue);
  p.audioLayer = Merge(Field(r, &AviToMpegParams::audioLayer), kMixedValue);
  p.jointStereo = Merge(Field(r, &AviToMpegParams::jointStereo), kMixedValue);
  p.audioBitrateKbps = Merge(Field(r, &AviToMpegParams::audioBitrateKbps), kMixedValue);
  p.frameRateIndex = Merge(Field(r, &AviToMpegParams::frameRateIndex), kMixedValue);
  p.width = Merge(Field(r, &AviToMpegParams::width), kMixedValue);
  p.height = Merge(Field(r, &AviToMpegParams::height), kMixedValue);
  p.videoCd = Merge(Field(r, &AviToMpegParams::videoCd), kMixedValue);
  return p;
}

WavToMp2Params MergeForPanel(const std::vector<const WavToMp2Params*>& r) {
  WavToMp2Params p;
  p.audioLayer = Merge(Field(r, &WavToMp2Params::audioLayer), kMixedValue);
  p.jointStereo = Merge(Field(r, &WavToMp2Params::jointStereo), kMixedValue);
  p.audioBitrateKbps = Merge(Field(r, &WavToMp2Params::audioBitrateKbps), kMixedValue);
  return p;
}

MpegToAviParams MergeForPanel(const std::vector<const MpegToAviParams*>& r) {
  MpegToAviParams p;
  p.frameRatePacked = Merge(Field(r, &MpegToAviParams::frameRatePacked), kMixedValue);
  p.frameRateScale = Merge(Field(r, &MpegToAviParams::frameRateScale), kMixedValue);
  p.frameRateMilli = Merge(Field(r, &MpegToAviParams::frameRateMilli), kMixedValue);
  p.width = Merge(Field(r, &MpegToAviParams::width), kMixedValue);
  p.height = Merge(Field(r, &MpegToAviParams::height), kMixedValue);
  p.interleave = Merge(Field(r, &MpegToAviParams::interleave), kMixedValue);
  p.packEveryFrames = Merge(Field(r, &MpegToAviParams::packEveryFrames), kMixedValue);
  p.targetDrive = Merge(Field(r, &MpegToAviParams::targetDrive), kMixedValue);
  p.dataRateKBps = Merge(Field(r, &MpegToAviParams::dataRateKBps), kMixedValue);
  p.padFramesForCdRom = Merge(Field(r, &MpegToAviParams::padFramesForCdRom), kMixedValue);
  p.compressor = Merge(Field(r, &MpegToAviParams::compressor), kMixedValue);
  p.quality = Merge(Field(r, &MpegToAviParams::quality), kMixedValue);
  p.keyFrameEvery = Merge(Field(r, &MpegToAviParams::keyFrameEvery), kMixedValue);
  p.dataType = Merge(Field(r, &MpegToAviParams::dataType), kMixedValue);
  p.paletteChoice = Merge(Field(r, &MpegToAviParams::paletteChoice), kMixedValue);
  p.limitDataRate = Merge(Field(r, &MpegToAviParams::limitDataRate), kMixedValue);
  p.useCommonPalette = Merge(Field(r, &MpegToAviParams::useCommonPalette), kMixedValue);
  const auto formats = Field(r, &MpegToAviParams::audioFormat);
  if (!formats.empty() && std::all_of(formats.begin(), formats.end(),
                                      [&](const auto& f) { return f == formats.front(); })) {
    p.audioFormat = formats.front();
  } else {
    WaveFormat mixed;
    mixed.formatTag = kMixedValue16;
    p.SetAudioFormat(mixed);
  }
  return p;
}

Mp2ToWavParams MergeForPanel(const std::vector<const Mp2ToWavParams*>& r) {
  std::vector<WaveFormat> formats;
  for (const Mp2ToWavParams* p : r) formats.push_back(p->Format());
  Mp2ToWavParams out;
  if (!r.empty()) out.format = r.front()->format;
  out.SetFormat(MergeWaveFormats(formats));
  if (!r.empty()) {
    // Keep the first record's format-specific bytes behind the merged header.
    std::memcpy(out.format.data() + sizeof(WaveFormat),
                r.front()->format.data() + sizeof(WaveFormat),
                out.format.size() - sizeof(WaveFormat));
  }
  return out;
}

}  // namespace calvex
