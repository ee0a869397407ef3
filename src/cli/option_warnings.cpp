#include "cli/option_warnings.h"

namespace calvex::cli {
namespace {

constexpr unsigned Bit(ConversionKind kind) {
  return kind == ConversionKind::kNone ? 0u : 1u << static_cast<int>(kind);
}

constexpr unsigned kAvi = Bit(ConversionKind::kAviToMpeg);
constexpr unsigned kWav = Bit(ConversionKind::kWavToMp2);
constexpr unsigned kMpg = Bit(ConversionKind::kMpegToAvi);
constexpr unsigned kMp2 = Bit(ConversionKind::kMp2ToWav);

struct Option {
  const char* name;
  bool given;
  unsigned kinds;  // the kinds of conversion it sets a parameter of
};

std::vector<Option> GivenOptions(const ConvertOptions& o) {
  const std::vector<Option> all = {
      {"--frame-rate", o.frameRate.has_value(), kAvi | kMpg},
      {"--size", o.size.has_value(), kAvi | kMpg},
      {"--data-rate", o.dataRate.has_value(), kAvi | kMpg},
      {"--vcd", o.vcd, kAvi},
      {"--preset", o.preset.has_value(), kAvi},
      {"--layer", o.layer.has_value(), kAvi | kWav},
      {"--audio-bitrate", o.audioBitrate.has_value(), kAvi | kWav},
      {"--stereo", o.stereo, kAvi | kWav},
      {"--joint-stereo", o.jointStereo, kAvi | kWav},
      {"--video-codec", o.videoCodec.has_value(), kMpg},
      {"--quality", o.quality.has_value(), kMpg},
      {"--key-frame-every", o.keyFrameEvery.has_value(), kMpg},
      {"--data-type", o.dataType.has_value(), kMpg},
      {"--palette", o.palette.has_value(), kMpg},
      {"--common-palette", o.commonPalette, kMpg},
      {"--audio-format", o.audioFormat.has_value(), kMpg},
      {"--audio-rate", o.audioRate.has_value(), kMpg},
      {"--audio-channels", o.audioChannels.has_value(), kMpg},
      {"--audio-bits", o.audioBits.has_value(), kMpg},
      {"--no-interleave", o.noInterleave, kMpg},
      {"--pack-every", o.packEvery.has_value(), kMpg},
      {"--target-drive", o.targetDrive.has_value(), kMpg},
      {"--limit-data-rate", o.limitDataRate, kMpg},
      {"--pad-for-cdrom", o.padForCdRom, kMpg},
      {"--wav-rate", o.wavRate.has_value(), kMp2},
      {"--wav-channels", o.wavChannels.has_value(), kMp2},
      {"--wav-bits", o.wavBits.has_value(), kMp2},
      {"--wav-format", o.wavFormat.has_value(), kMp2},
  };
  std::vector<Option> given;
  for (const Option& option : all)
    if (option.given) given.push_back(option);
  return given;
}

const char* KindText(ConversionKind kind) {
  switch (kind) {
    case ConversionKind::kAviToMpeg:
      return "AVI to MPEG conversions";
    case ConversionKind::kWavToMp2:
      return "WAV to MP2 conversions";
    case ConversionKind::kMpegToAvi:
      return "MPEG to AVI conversions";
    case ConversionKind::kMp2ToWav:
      return "MP2 to WAV conversions";
    case ConversionKind::kNone:
      break;
  }
  return "this file";
}

// What the file holds or the output is, for an option of its kind that has no effect on it; null
// when the option applies.
const char* Unused(const std::string& name, const SourceEntry& e,
                   const VideoCodecTraitsLookup& codecTraits) {
  const bool stereoMode = name == "--stereo" || name == "--joint-stereo";
  switch (e.kind) {
    case ConversionKind::kAviToMpeg:
      if (name != "--layer" && name != "--audio-bitrate" && !stereoMode) return nullptr;
      if (!e.aviInfo.HasAudio()) return "a file without sound";
      if (stereoMode && e.aviInfo.audioChannels == 1) return "mono sound";
      return nullptr;
    case ConversionKind::kWavToMp2:
      if (stereoMode && e.wavInfo.channels == 1) return "mono sound";
      return nullptr;
    case ConversionKind::kMpegToAvi: {
      const MpegToAviParams& p = e.mpegToAvi;
      const bool uncompressed = p.compressor == 0;
      const bool eightBit = p.dataType == 8 && uncompressed;
      if (name.starts_with("--audio-") || name == "--no-interleave" || name == "--pack-every") {
        if (e.mpegInfo.audioSampleRate == 0) return "a file without sound";
        if (name == "--audio-bits" && p.AudioFormat().formatTag == kWaveFormatMsAdpcm)
          return "ADPCM sound";
        if (name == "--pack-every" && p.interleave == 0) return "sound that is not interleaved";
        return nullptr;
      }
      if (name == "--quality" || name == "--key-frame-every") {
        if (uncompressed) return "uncompressed pictures";
        const std::optional<VideoCodecTraits> traits =
            codecTraits ? codecTraits(p.compressor) : std::nullopt;
        if (traits && !(name == "--quality" ? traits->quality : traits->keyFrames))
          return "this video codec";
        return nullptr;
      }
      if (name == "--data-type" && p.dataType == 8 && !uncompressed) return "compressed pictures";
      if ((name == "--palette" || name == "--common-palette") && !eightBit)
        return uncompressed ? "24-bit pictures" : "compressed pictures";
      return nullptr;
    }
    case ConversionKind::kMp2ToWav:
      if (name == "--wav-bits" && e.mp2ToWav.Format().formatTag == kWaveFormatMsAdpcm)
        return "ADPCM sound";
      return nullptr;
    case ConversionKind::kNone:
      break;
  }
  return nullptr;
}

}  // namespace

std::vector<std::string> InapplicableOptions(const ConvertOptions& options,
                                             const SourceEntry& entry,
                                             const VideoCodecTraitsLookup& codecTraits) {
  std::vector<std::string> warnings;
  for (const Option& option : GivenOptions(options)) {
    const char* what = (option.kinds & Bit(entry.kind)) == 0
                           ? KindText(entry.kind)
                           : Unused(option.name, entry, codecTraits);
    if (what != nullptr)
      warnings.push_back(std::string(option.name) + " does not apply to " + what);
  }
  return warnings;
}

}  // namespace calvex::cli
