// The lists of video codecs, data types and audio formats, and the names of format tags.
#include <algorithm>
#include <array>
#include <string>

#include "media_library/audio_encode_pipe.h"
#include "media_library/media_library.h"
#include "media_library/video_codecs.h"
#include "media_library/wave_header.h"

namespace calvex::media {

using namespace detail;

namespace {

std::vector<DataTypeEntry> DataTypesOf(const VideoCodecSpec& codec) {
  std::vector<DataTypeEntry> types = {{kOutputDataType24, "24 Bits (True Color)"}};
  if (codec.palettised) types.push_back({kOutputDataType8, "8 Bits (256 Colors)"});
  return types;
}

struct TagName {
  std::uint16_t tag;
  const char* name;
};

// Names of the formats met most often in WAV and AVI files.
constexpr std::array<TagName, 12> kTagNames = {{
    {kWaveFormatPcm, "PCM"},
    {kWaveFormatMsAdpcm, "Microsoft ADPCM"},
    {kWaveFormatIeeeFloat, "IEEE Float"},
    {kWaveFormatALaw, "CCITT A-Law"},
    {kWaveFormatMuLaw, "CCITT u-Law"},
    {kWaveFormatImaAdpcm, "IMA ADPCM"},
    {0x22, "DSP Group TrueSpeech"},
    {kWaveFormatGsm610, "GSM 6.10"},
    {0x50, "MPEG Layer-1/2"},
    {0x55, "MPEG Layer-3"},
    {0x2000, "Dolby AC-3"},
    {kWaveFormatExtensible, "Extensible"},
}};

// The formats the writers offer, in the order the choosers list them.
constexpr std::array<std::uint16_t, 6> kWritableTags = {kWaveFormatPcm,      kWaveFormatMsAdpcm,
                                                        kWaveFormatImaAdpcm, kWaveFormatALaw,
                                                        kWaveFormatMuLaw,    kWaveFormatGsm610};

}  // namespace

int aviListCodec(std::int32_t currentHandler, std::vector<VideoCodecEntry>& codecs) {
  codecs.clear();
  const auto& available = AvailableVideoCodecs();
  const VideoCodecSpec* current = FindVideoCodec(static_cast<std::uint32_t>(currentHandler));
  int selected = 0;
  for (std::size_t i = 0; i < available.size(); ++i) {
    codecs.push_back({static_cast<std::int32_t>(available[i]->fourcc), available[i]->name});
    if (available[i] == current) selected = static_cast<int>(i);
  }
  return selected;
}

std::int32_t aviCodecGetID(int index) {
  const auto& available = AvailableVideoCodecs();
  if (index <= 0 || index >= static_cast<int>(available.size())) return 0;
  return static_cast<std::int32_t>(available[static_cast<std::size_t>(index)]->fourcc);
}

Status aviGetQKFCA(int index, std::int32_t& defaultQuality, std::int32_t& defaultKeyFrameEvery,
                   std::uint32_t& flags, bool& canConfigure, bool& hasAbout) {
  const auto& available = AvailableVideoCodecs();
  canConfigure = hasAbout = false;
  if (index < 0 || index >= static_cast<int>(available.size())) return kNotSupported;
  const VideoCodecSpec& c = *available[static_cast<std::size_t>(index)];
  defaultQuality = c.defaultQuality;
  defaultKeyFrameEvery = c.defaultKeyFrameEvery;
  flags = c.flags;
  hasAbout = c.encoder != nullptr;
  return kOk;
}

Status aviCodecAbout(int index, VideoCodecAbout& about) {
  const auto& available = AvailableVideoCodecs();
  if (index <= 0 || index >= static_cast<int>(available.size())) return kNotSupported;
  const VideoCodecSpec& c = *available[static_cast<std::size_t>(index)];
  const AVCodec* coder = avcodec_find_encoder_by_name(c.encoder);
  if (coder == nullptr) return kNotSupported;
  const unsigned version = avcodec_version();
  about.name = c.name;
  about.longName = coder->long_name != nullptr ? coder->long_name : coder->name;
  about.library = "libavcodec";
  about.version = std::to_string(AV_VERSION_MAJOR(version)) + "." +
                  std::to_string(AV_VERSION_MINOR(version)) + "." +
                  std::to_string(AV_VERSION_MICRO(version));
  return kOk;
}

std::int32_t aviListOutputFormat(std::int32_t handler, std::int32_t currentDataType,
                                 std::vector<DataTypeEntry>& types) {
  types.clear();
  const VideoCodecSpec* codec = FindVideoCodec(static_cast<std::uint32_t>(handler));
  if (codec == nullptr) codec = AvailableVideoCodecs().front();
  types = DataTypesOf(*codec);
  for (const DataTypeEntry& t : types)
    if (t.dataType == currentDataType) return currentDataType;
  return types.front().dataType;
}

std::int32_t aviTranslateOutputFormat(int codecIndex, int dataTypeIndex) {
  const auto& available = AvailableVideoCodecs();
  if (codecIndex < 0 || codecIndex >= static_cast<int>(available.size())) return kOutputDataType24;
  const auto types = DataTypesOf(*available[static_cast<std::size_t>(codecIndex)]);
  if (dataTypeIndex < 0 || dataTypeIndex >= static_cast<int>(types.size()))
    return kOutputDataType24;
  return types[static_cast<std::size_t>(dataTypeIndex)].dataType;
}

std::vector<AudioFormatEntry> myGetAcmFormat1() {
  std::vector<AudioFormatEntry> formats;
  for (const std::uint16_t tag : kWritableTags) {
    WaveFormat probe;
    probe.formatTag = tag;
    probe.bitsPerSample = 16;
    if (EncoderForWaveFormat(probe) != nullptr) formats.push_back({tag, myGetCodecName(tag)});
  }
  return formats;
}

std::int32_t CheckAudioDataType(std::uint16_t formatTag) {
  switch (formatTag) {
    case kWaveFormatMsAdpcm:
    case kWaveFormatImaAdpcm:
      return 4;
    case kWaveFormatALaw:
    case kWaveFormatMuLaw:
      return 8;
    case kWaveFormatGsm610:
      return 0;
    default:
      return 16;
  }
}

std::string myGetCodecName(std::uint16_t formatTag) {
  for (const TagName& t : kTagNames)
    if (t.tag == formatTag) return t.name;
  return CodecLongName(CodecIdForWaveTag(formatTag));
}

WaveFormat WaveFormatFor(std::uint16_t formatTag, int channels, int samplesPerSec,
                         int bitsPerSample) {
  if (formatTag == kWaveFormatPcm) return MakePcmFormat(channels, samplesPerSec, bitsPerSample);
  WaveFormat wanted;
  wanted.formatTag = formatTag;
  wanted.channels = static_cast<std::uint16_t>(channels);
  wanted.samplesPerSec = static_cast<std::uint32_t>(samplesPerSec);
  // Asking the coder itself keeps the figures those of the files the writers make.
  AudioEncodePipe pipe;
  if (pipe.Open(MakePcmFormat(channels, samplesPerSec, 16), wanted) != kOk) return wanted;
  const AVCodecContext& e = pipe.encoder();
  wanted.blockAlign = static_cast<std::uint16_t>(e.block_align);
  wanted.bitsPerSample = static_cast<std::uint16_t>(CheckAudioDataType(formatTag));
  const std::int64_t perBlock = e.frame_size > 0 ? e.frame_size : 1;
  wanted.avgBytesPerSec = static_cast<std::uint32_t>(static_cast<std::int64_t>(samplesPerSec) *
                                                     e.block_align / perBlock);
  return wanted;
}

}  // namespace calvex::media
