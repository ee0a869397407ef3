#include "cli/convert_options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "core/messages.h"

namespace calvex::cli {
namespace {

std::optional<OptionError> Refuse(const std::string& text) {
  return OptionError{text};
}

std::optional<std::string> Typed(const std::optional<int>& value) {
  if (!value) return std::nullopt;
  return std::to_string(*value);
}

std::optional<std::string> Typed(const std::optional<std::string>& value) {
  return value;
}

// The option, with its value as typed, that set a record's field; "" when none did (the value
// came from the file).
std::string OptionFor(const std::string& field, const ConvertOptions& o) {
  const std::pair<const char*, std::optional<std::string>> options[] = {
      {"--size", field == "width" || field == "height" ? Typed(o.size) : std::nullopt},
      {"--data-rate", field == "dataRateKBps" ? Typed(o.dataRate) : std::nullopt},
      {"--audio-bitrate", field == "audioBitrateKbps" ? Typed(o.audioBitrate) : std::nullopt},
      {"--frame-rate", field == "frameRateMilli" ? Typed(o.frameRate) : std::nullopt},
      {"--pack-every", field == "packEveryFrames" ? Typed(o.packEvery) : std::nullopt},
      {"--wav-rate", field == "userRateHz" ? Typed(o.wavRate) : std::nullopt},
  };
  for (const auto& [name, value] : options)
    if (value) return std::string(name) + " " + *value;
  return {};
}

// A failed check of the record, naming the option that set the field when one did.
std::optional<OptionError> FromValidation(const std::optional<ValidationError>& e,
                                          const ConvertOptions& o) {
  if (!e) return std::nullopt;
  const std::string option = OptionFor(e->field, o);
  return OptionError{option.empty() ? e->Text() : option + ": " + e->Text()};
}

std::optional<OptionError> CheckBounds(const char* name, std::optional<int> value, int low,
                                       int high) {
  if (value && (*value < low || *value > high))
    return OptionError{std::string(name) + " " + std::to_string(*value) + ": " +
                       ValidationError{245, low, high, {}}.Text()};
  return std::nullopt;
}

bool ParseInt(std::string_view text, int& value) {
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, value);
  return r.ec == std::errc() && r.ptr == end;
}

// "WxH" into two numbers.
bool ParseSize(const std::string& text, int& width, int& height) {
  const auto x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  return ParseInt(std::string_view(text).substr(0, x), width) &&
         ParseInt(std::string_view(text).substr(x + 1), height);
}

// The MPEG frame-rate choice of --frame-rate for AVI to MPEG.
std::optional<std::int32_t> FrameRateChoice(const std::string& text) {
  static constexpr const char* kChoices[] = {"30", "29.97", "25", "24", "23.976"};
  for (std::int32_t i = 0; i < 5; ++i)
    if (text == kChoices[i]) return i;
  return std::nullopt;
}

std::optional<OptionError> ApplyAviToMpeg(const ConvertOptions& o, AviToMpegParams& p,
                                          std::uint32_t packedRate) {
  if (o.vcd) {
    if (o.frameRate || o.size || o.dataRate || o.layer || o.audioBitrate || o.stereo ||
        o.jointStereo)
      return Refuse(
          "--vcd sets the picture size, frame rate, data rate and sound itself: leave out "
          "--frame-rate, --size, --data-rate, --layer, --audio-bitrate and --stereo");
    ApplyVideoCdFormat(p, packedRate);
    return FromValidation(ValidateAviToMpeg(p), o);
  }
  if (o.frameRate) {
    const auto choice = FrameRateChoice(*o.frameRate);
    if (!choice) return Refuse("--frame-rate for AVI sources is one of 30, 29.97, 25, 24, 23.976");
    p.frameRateIndex = *choice;
  }
  if (o.size && !ParseSize(*o.size, p.width, p.height))
    return Refuse("--size takes WIDTHxHEIGHT, for example 352x240");
  if (o.dataRate) p.dataRateKBps = *o.dataRate;
  if (o.layer) p.audioLayer = *o.layer;
  if (o.audioBitrate) p.audioBitrateKbps = *o.audioBitrate;
  if (o.stereo) p.jointStereo = 0;
  if (o.jointStereo) p.jointStereo = 1;
  return FromValidation(ValidateAviToMpeg(p), o);
}

std::optional<OptionError> ApplyWavToMp2(const ConvertOptions& o, WavToMp2Params& p) {
  if (o.layer) p.audioLayer = *o.layer;
  if (o.audioBitrate) p.audioBitrateKbps = *o.audioBitrate;
  if (o.stereo) p.jointStereo = 0;
  if (o.jointStereo) p.jointStereo = 1;
  return FromValidation(ValidateWavToMp2(p), o);
}

// Four-character code of --video-codec: "none" is uncompressed 24-bit, else four characters.
std::optional<std::int32_t> CompressorCode(const std::string& name) {
  if (name == "none") return 0;
  if (name.size() != 4) return std::nullopt;
  std::uint32_t code = 0;
  for (int i = 3; i >= 0; --i) code = code << 8 | static_cast<unsigned char>(name[i]);
  return static_cast<std::int32_t>(code);
}

// The palette of --palette: its index in the "6-6-6", "3-3-2", "6-7-6" list.
std::optional<std::int32_t> PaletteChoice(const std::string& name) {
  static constexpr const char* kPalettes[] = {"6-6-6", "3-3-2", "6-7-6"};
  for (std::int32_t i = 0; i < 3; ++i)
    if (name == kPalettes[i]) return i;
  return std::nullopt;
}

// The AVI's sound: --audio-format, --audio-rate, --audio-channels and --audio-bits over the
// record's format (by default the MPEG's own rate and channels as 8- or 16-bit PCM).
std::optional<OptionError> SetAviSound(const ConvertOptions& o, MpegToAviParams& p) {
  if (o.audioFormat && *o.audioFormat != "pcm" && *o.audioFormat != "adpcm")
    return Refuse("--audio-format is pcm or adpcm");
  if (auto e = CheckBounds("--audio-rate", o.audioRate, 5125, 48000)) return e;
  if (!o.audioFormat && !o.audioRate && !o.audioChannels && !o.audioBits) return std::nullopt;
  const WaveFormat f = p.AudioFormat();
  if (f.formatTag == kMixedValue16) return std::nullopt;  // checking the options alone
  const int channels = o.audioChannels.value_or(f.channels == 2 ? 2 : 1);
  const int rate = o.audioRate.value_or(static_cast<int>(f.samplesPerSec));
  const bool adpcm = o.audioFormat ? *o.audioFormat == "adpcm" : f.formatTag == kWaveFormatMsAdpcm;
  if (adpcm) {
    SetMsAdpcmFormat(p.audioFormat.data(), p.audioFormat.size(), channels, rate);
  } else {
    const int bits = o.audioBits.value_or(f.bitsPerSample == 8 ? 8 : 16);
    p.SetAudioFormat(MakePcmFormat(channels, rate, bits));
  }
  return std::nullopt;
}

std::optional<OptionError> ApplyMpegToAvi(const ConvertOptions& o, MpegToAviParams& p) {
  if (o.frameRate) {
    char* end = nullptr;
    const double fps = std::strtod(o.frameRate->c_str(), &end);
    if (end == o.frameRate->c_str() || *end != '\0' || !std::isfinite(fps))
      return Refuse("--frame-rate takes frames per second, for example 29.97");
    const double milli = std::round(fps * 1000.0);
    p.frameRateMilli = milli < 0 || milli > 1e9 ? 0 : static_cast<std::int32_t>(milli);
    p.frameRateScale = 1000;
    p.frameRatePacked =
        static_cast<std::int32_t>((static_cast<std::uint32_t>(p.frameRateMilli) << 16) | 1000u);
  }
  if (o.size && !ParseSize(*o.size, p.width, p.height))
    return Refuse("--size takes WIDTHxHEIGHT, for example 352x240");
  if (o.videoCodec) {
    const auto code = CompressorCode(*o.videoCodec);
    if (!code) return Refuse("--video-codec takes a four-character code or none");
    p.compressor = *code;
  }
  if (auto e = CheckBounds("--quality", o.quality, 1, 100)) return e;
  if (o.quality) p.quality = *o.quality * 100;
  if (auto e = CheckBounds("--key-frame-every", o.keyFrameEvery, 1, 999)) return e;
  if (o.keyFrameEvery) p.keyFrameEvery = *o.keyFrameEvery;
  if (o.dataType) p.dataType = *o.dataType;
  if (o.palette) {
    const auto choice = PaletteChoice(*o.palette);
    if (!choice) return Refuse("--palette is 6-6-6, 3-3-2 or 6-7-6");
    p.paletteChoice = *choice;
  }
  if (o.commonPalette) p.useCommonPalette = 1;
  if (o.noInterleave) p.interleave = 0;
  if (o.packEvery) p.packEveryFrames = *o.packEvery;
  if (o.targetDrive) {
    p.targetDrive = *o.targetDrive;
    if (p.targetDrive < 6) {
      // The listed drives fix the rate and always limit it.
      p.dataRateKBps = TargetDriveDataRate(p.targetDrive, 0);
      p.limitDataRate = 1;
    }
  }
  if (o.dataRate) {
    if (o.targetDrive && *o.targetDrive < 6)
      return Refuse("--data-rate for MPEG sources goes with --target-drive 6 (custom)");
    p.targetDrive = 6;
    p.dataRateKBps = *o.dataRate;
    p.limitDataRate = 1;
  }
  if (o.limitDataRate) p.limitDataRate = 1;
  if (o.padForCdRom) {
    if (p.targetDrive != kMixedValue && (p.targetDrive < 3 || p.targetDrive > 6))
      return Refuse("--pad-for-cdrom goes with --target-drive 3, 4, 5 or 6");
    p.padFramesForCdRom = 1;
  }
  if (auto e = SetAviSound(o, p)) return e;
  return FromValidation(ValidateMpegToAvi(p), o);
}

std::optional<OptionError> ApplyMp2ToWav(const ConvertOptions& o, Mp2ToWavParams& p) {
  if (auto e = FromValidation(ValidateMp2ToWav(o.wavRate ? *o.wavRate : kMixedValue), o)) return e;
  if (o.wavFormat && *o.wavFormat != "pcm" && *o.wavFormat != "adpcm")
    return Refuse("--wav-format is pcm or adpcm");
  if (!o.wavRate && !o.wavChannels && !o.wavBits && !o.wavFormat) return std::nullopt;
  WaveFormat f = p.Format();
  if (o.wavRate) f.samplesPerSec = static_cast<std::uint32_t>(*o.wavRate);
  if (o.wavChannels) f.channels = static_cast<std::uint16_t>(*o.wavChannels);
  if (o.wavBits) f.bitsPerSample = static_cast<std::uint16_t>(*o.wavBits);
  const bool adpcm = o.wavFormat ? *o.wavFormat == "adpcm" : f.formatTag == kWaveFormatMsAdpcm;
  const bool blank = f.channels == kMixedValue16 || f.samplesPerSec == 0xFFFFFFFFu ||
                     f.bitsPerSample == kMixedValue16;
  if (blank) {
    p.SetFormat(f);  // checking the options alone
    return std::nullopt;
  }
  if (adpcm) {
    SetMsAdpcmFormat(p.format.data(), p.format.size(), f.channels,
                     static_cast<int>(f.samplesPerSec));
  } else {
    p.SetFormat(MakePcmFormat(f.channels, static_cast<int>(f.samplesPerSec), f.bitsPerSample));
  }
  return std::nullopt;
}

}  // namespace

std::optional<OptionError> ApplyOptions(const ConvertOptions& options, SourceEntry& entry) {
  switch (entry.kind) {
    case ConversionKind::kAviToMpeg:
      return ApplyAviToMpeg(options, entry.aviToMpeg, entry.aviInfo.frameRatePacked);
    case ConversionKind::kWavToMp2:
      return ApplyWavToMp2(options, entry.wavToMp2);
    case ConversionKind::kMpegToAvi:
      return ApplyMpegToAvi(options, entry.mpegToAvi);
    case ConversionKind::kMp2ToWav:
      return ApplyMp2ToWav(options, entry.mp2ToWav);
    case ConversionKind::kNone:
      break;
  }
  return Refuse("not a source file");
}

int ThreadsPerConversion(const ConvertOptions& options, int files, int processors) {
  if (options.threads) return *options.threads;
  const int atOnce = std::clamp(std::min(options.jobs, files), 1, std::max(processors, 1));
  return std::max(processors / atOnce, 1);
}

SourceEntry BlankEntry(ConversionKind kind) {
  SourceEntry e;
  e.kind = kind;
  e.aviToMpeg = MergeForPanel(std::vector<const AviToMpegParams*>{});
  e.wavToMp2 = MergeForPanel(std::vector<const WavToMp2Params*>{});
  e.mpegToAvi = MergeForPanel(std::vector<const MpegToAviParams*>{});
  e.mp2ToWav = MergeForPanel(std::vector<const Mp2ToWavParams*>{});
  return e;
}

std::optional<OptionError> ParseSections(const std::vector<std::string>& texts,
                                         std::vector<Section>& sections) {
  if (texts.size() > static_cast<std::size_t>(kMaxSections))
    return Refuse("at most 16 sections (--section)");
  sections.clear();
  for (const std::string& text : texts) {
    const auto dash = text.find('-');
    Section s;
    if (dash == std::string::npos || !ParseInt(std::string_view(text).substr(0, dash), s.first) ||
        !ParseInt(std::string_view(text).substr(dash + 1), s.last) || s.first < 0 ||
        s.last < s.first)
      return Refuse("--section takes FIRST-LAST frame numbers with FIRST <= LAST: " + text);
    sections.push_back(s);
  }
  return std::nullopt;
}

void SetMsAdpcmFormat(std::uint8_t* record, std::size_t recordSize, int channels, int rate) {
  // Block sizes by rate as the Windows ADPCM codec chooses them.
  const int block = (rate <= 11025 ? 256 : rate <= 22050 ? 512 : 1024) * channels;
  const int samplesPerBlock = (block - 7 * channels) * 8 / (4 * channels) + 2;
  WaveFormat f;
  f.formatTag = kWaveFormatMsAdpcm;
  f.channels = static_cast<std::uint16_t>(channels);
  f.samplesPerSec = static_cast<std::uint32_t>(rate);
  f.avgBytesPerSec =
      static_cast<std::uint32_t>(static_cast<std::int64_t>(rate) * block / samplesPerBlock);
  f.blockAlign = static_cast<std::uint16_t>(block);
  f.bitsPerSample = 4;
  f.extraSize = 32;
  static constexpr std::int16_t kCoefficients[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                                       {240, 0}, {460, -208}, {392, -232}};
  std::uint8_t bytes[sizeof(WaveFormat) + 32] = {};
  std::memcpy(bytes, &f, sizeof f);
  const std::uint16_t extra[2] = {static_cast<std::uint16_t>(samplesPerBlock), 7};
  std::memcpy(bytes + sizeof f, extra, sizeof extra);
  std::memcpy(bytes + sizeof f + sizeof extra, kCoefficients, sizeof kCoefficients);
  std::memset(record, 0, recordSize);
  std::memcpy(record, bytes, std::min(recordSize, sizeof bytes));
}

}  // namespace calvex::cli
