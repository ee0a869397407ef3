#include "engine/info_text.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/messages.h"
#include "mpeg_audio/audio_tables.h"

namespace calvex {
namespace {

std::string Text(int message) {
  return std::string(MessageText(message));
}

// A message used as a printf format.
template <typename... Args>
std::string Format(int message, Args... args) {
  return FormatText(Text(message).c_str(), args...);
}

// Kilobytes per second of a video bit rate in units of 400 bit/s.
std::string DataRateText(std::int32_t bitRate) {
  if (bitRate == 0x3FFFF) return Text(230);  // "Variable"
  return Format(231, static_cast<int>(static_cast<std::int64_t>(bitRate) * 50 / 1024));
}

std::string LayerText(std::int32_t layer) {
  static constexpr std::array<const char*, 3> kNames = {"I", "II", "III"};
  return layer >= 1 && layer <= 3 ? kNames[static_cast<std::size_t>(layer - 1)] : "";
}

std::string ChannelsText(int channels) {
  if (channels == 1) return Text(57);
  if (channels == 2) return Text(50);
  return FormatText("%d", channels);
}

}  // namespace

std::string ChannelModeText(std::int32_t mode) {
  switch (mode) {
    case 1:
      return Text(57);
    case 2:
      return Text(50);
    case 3:
      return Text(51);
    case 4:
      return Text(233);
    default:
      return {};
  }
}

std::string FileSizeText(std::uint32_t bytes) {
  if (bytes <= 100000)
    return Format(45, static_cast<int>(bytes / 1000), static_cast<int>(bytes % 1000));
  return Format(46, static_cast<int>(bytes / 1024));
}

std::string FileNameText(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string AudioFormatText(std::uint16_t formatTag, const CodecNameLookup& codecName) {
  if (formatTag == 1) return Text(3006);  // "PCM"
  if (formatTag == 2) return Text(3004);  // "Microsoft ADPCM"
  std::string name = codecName ? codecName(formatTag) : std::string();
  return name.empty() ? Text(3005) : name;
}

std::int32_t AudioBitrateKbps(std::int32_t layer, std::int32_t bitrateIndex,
                              std::int32_t sampleRateHz) {
  static constexpr std::int16_t kKbps[3][15] = {
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
  };
  if (layer < 1 || layer > 3 || bitrateIndex < 0 || bitrateIndex > 14) return 0;
  // The half sampling rates have a table of their own, Layer III sharing Layer II's.
  if (sampleRateHz > 0 && sampleRateHz < 32000)
    return audio::HalfRateBitrateKbps(layer == 1 ? 1 : 2, bitrateIndex);
  return kKbps[layer - 1][bitrateIndex];
}

std::int32_t AviVideoDurationHundredths(const AviInfo& info) {
  // The rate cut to hundredths, in whole numbers so that 29.97 stays 29.97.
  const std::uint32_t den = info.RateDenominator();
  const std::int64_t hundredths = den != 0 ? std::int64_t{info.RateNumerator()} * 100 / den : 0;
  if (hundredths <= 0) return 0;
  return static_cast<std::int32_t>(std::int64_t{info.frameCount} * 10000 / hundredths);
}

void CompleteAviInfo(AviInfo& info) {
  // The field has 16 bits: a longer movie keeps the largest duration it can hold.
  info.videoDurationHundredths =
      static_cast<std::uint16_t>(std::min(AviVideoDurationHundredths(info), 0xFFFF));
  if (info.compressionName[0] == '\0') {
    const std::string none = Text(3000);
    std::memcpy(info.compressionName, none.c_str(),
                std::min(none.size() + 1, sizeof info.compressionName));
  }
}

std::vector<InfoLine> AviInfoLines(const std::string& path, const AviInfo& i,
                                   const CodecNameLookup& codecName) {
  const std::uint32_t den = i.RateDenominator();
  const std::int64_t rateHundredths = den != 0 ? std::int64_t{i.RateNumerator()} * 100 / den : 0;
  const std::int32_t d = AviVideoDurationHundredths(i);
  const std::string compression(i.compressionName,
                                strnlen(i.compressionName, sizeof i.compressionName));
  std::vector<InfoLine> lines = {
      {"", "File Name:", FileNameText(path)},
      {"", "File Size:", FileSizeText(i.fileSize)},
      {"Video", "Frame Rate:", Format(52, static_cast<double>(rateHundredths) / 100.0)},
      {"Video", "Total Frames:", Format(53, static_cast<int>(i.frameCount))},
      // Seconds and tenths: message 55 has no room for a leading zero of the hundredths.
      {"Video", "Video Duration:", Format(55, d / 100, d % 100 / 10)},
      {"Video", "Format:",
       Format(54, static_cast<int>(i.bitsPerPixel), static_cast<int>(i.width),
              static_cast<int>(i.height))},
      {"Video", "Size:", FileSizeText(i.videoDataSize)},
      {"Video", "Compression:", compression.empty() ? Text(3000) : compression},
      {"Video", "Comp. Ratio:",
       FormatText("%2d.%d%%", i.compressionRatioTenths / 10, i.compressionRatioTenths % 10)},
      {"Audio",
       "Format:", i.audioFormatTag == 0 ? Text(281) : AudioFormatText(i.audioFormatTag, codecName)},
      {"Audio", "Attributes:", ""},
      {"Audio", "Size:", ""},
  };
  if (i.audioFormatTag != 0) {
    lines[10].text = Format(56, i.audioSampleRate * 0.001, static_cast<int>(i.audioBitsPerSample),
                            ChannelsText(i.audioChannels == 1 ? 1 : 2).c_str());
    lines[11].text = FileSizeText(i.audioDataSize);
  }
  return lines;
}

std::vector<InfoLine> WavInfoLines(const std::string& path, const WavInfo& i,
                                   const CodecNameLookup& codecName) {
  const int d = i.durationHundredths, s = d / 100;
  return {
      {"", "File Name:", FileNameText(path)},
      {"", "Format:", Text(58)},
      {"", "Compression:", AudioFormatText(i.formatTag, codecName)},
      {"", "File Size:", FileSizeText(i.fileSize)},
      {"", "Sampling Rate:", Format(59, i.sampleRate * 0.001)},
      {"", "Bits per Sample:", Format(49, static_cast<int>(i.bitsPerSample))},
      {"", "Channels:", ChannelsText(i.channels)},
      {"", "Duration:",
       FormatText("%02d:%02d:%02d.%01d", s / 60 / 60, s / 60 % 60, s % 60, d % 100 / 10)},
  };
}

std::vector<InfoLine> MpegInfoLines(const std::string& path, const MpegInfo& i) {
  std::vector<InfoLine> lines = {
      {"", "File Name:", FileNameText(path)},
      {"", "File Size:", FileSizeText(i.fileSize)},
      {"Video", "Frame Rate:",
       i.frameRateDen == 1 ? FormatText("%d", i.frameRateNum)
       : i.frameRateDen != 0
           ? FormatText("%2.3f", static_cast<double>(i.frameRateNum) / i.frameRateDen)
           : std::string()},
      {"Video", "Width:", FormatText("%d Pixels", i.width)},
      {"Video", "Height:", FormatText("%d Pixels", i.height)},
      {"Video", "Data Rate:", DataRateText(i.videoBitRate)},
      {"Audio", "Sampling Rate:", Text(281)},
      {"Audio", "Bits per Sample:", ""},
      {"Audio", "Channels:", ""},
      {"Audio", "Layer:", ""},
      {"Audio", "Bitrate:", ""},
  };
  if (i.audioSampleRate != 0) {
    lines[6].text = Format(48, i.audioSampleRate / 1000, i.audioSampleRate % 1000 / 100);
    lines[7].text = Format(49, i.audioBitsPerSample);
    lines[8].text = ChannelModeText(i.audioChannelMode);
    lines[9].text = LayerText(i.audioLayer);
    lines[10].text =
        Format(232, AudioBitrateKbps(i.audioLayer, i.audioBitrateIndex, i.audioSampleRate));
  }
  return lines;
}

std::vector<InfoLine> Mp2InfoLines(const std::string& path, const Mp2Info& i) {
  return {
      {"", "File Name:", FileNameText(path)},
      {"", "File Size:", FileSizeText(i.fileSize)},
      {"", "Sampling Rate:", Format(59, i.sampleRate * 0.001)},
      {"", "Bits per Sample:", Format(49, i.bitsPerSample)},
      {"", "Channels:", ChannelModeText(i.channelMode)},
      {"", "Layer:", LayerText(i.layer)},
      {"", "Bitrate:", Format(232, AudioBitrateKbps(i.layer, i.bitrateIndex, i.sampleRate))},
  };
}

}  // namespace calvex
