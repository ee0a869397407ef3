// calvex info: what the information readers report about each file, as text or JSON.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "engine/error_report.h"
#include "engine/messages.h"

namespace calvex::cli {
namespace {

using Json = nlohmann::ordered_json;

const char* KindName(ConversionKind kind) {
  switch (kind) {
    case ConversionKind::kAviToMpeg:
      return "avi";
    case ConversionKind::kWavToMp2:
      return "wav";
    case ConversionKind::kMpegToAvi:
      return "mpg";
    case ConversionKind::kMp2ToWav:
      return "mp2";
    case ConversionKind::kNone:
      break;
  }
  return "unknown";
}

template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

Json AudioJson(int tag, int rate, int channels, int bits) {
  if (tag == 0) return nullptr;
  return Json{{"format_tag", tag}, {"sample_rate", rate}, {"channels", channels}, {"bits", bits}};
}

Json InfoJson(const AviInfo& i) {
  const double fps =
      i.RateDenominator() != 0 ? static_cast<double>(i.RateNumerator()) / i.RateDenominator() : 0;
  return Json{{"compression", FieldText(i.compressionName)},
              {"frame_rate", FormatText("%u/%u", i.RateNumerator(), i.RateDenominator())},
              {"frames_per_second", fps},
              {"frames", i.frameCount},
              {"duration_seconds", i.videoDurationHundredths / 100.0},
              {"width", i.width},
              {"height", i.height},
              {"bits_per_pixel", i.bitsPerPixel},
              {"video_bytes", i.videoDataSize},
              {"audio_bytes", i.audioDataSize},
              {"audio", AudioJson(i.audioFormatTag, i.audioSampleRate, i.audioChannels,
                                  i.audioBitsPerSample)}};
}

Json InfoJson(const WavInfo& i) {
  return Json{{"duration_seconds", i.durationHundredths / 100.0},
              {"audio", AudioJson(i.formatTag, i.sampleRate, i.channels, i.bitsPerSample)}};
}

Json InfoJson(const MpegInfo& i) {
  return Json{{"frame_rate", FormatText("%d/%d", i.frameRateNum, i.frameRateDen)},
              {"width", i.width},
              {"height", i.height},
              {"video_bit_rate", i.videoBitRate == 0x3FFFF ? -1 : i.videoBitRate * 400},
              {"audio_sample_rate", i.audioSampleRate},
              {"audio_layer", i.audioLayer},
              {"audio_bitrate_index", i.audioBitrateIndex},
              {"audio_channel_mode", i.audioChannelMode}};
}

Json InfoJson(const Mp2Info& i) {
  return Json{{"sample_rate", i.sampleRate},
              {"bits", i.bitsPerSample},
              {"layer", i.layer},
              {"bitrate_index", i.bitrateIndex},
              {"channel_mode", i.channelMode}};
}

template <typename Info>
Status Read(const std::function<Status(const std::string&, Info&)>& reader, const std::string& path,
            Json& out) {
  Info info{};
  const Status s = reader ? reader(path, info) : kNotSupported;
  if (IsSuccess(s) || s == kAviNoAudio) out["info"] = InfoJson(info);
  return s == kAviNoAudio ? kOk : s;
}

// One file's report. Returns false when the file could not be read.
bool Describe(const std::string& path, const InfoReaders& readers, Json& out) {
  const ConversionKind kind = KindByExtension(path);
  out["path"] = path;
  out["kind"] = KindName(kind);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    out["error"] = ErrorText(kOpenFailed, path);
    return false;
  }
  out["size"] = static_cast<std::uint64_t>(st.st_size);
  Status s = kNotSupported;
  switch (kind) {
    case ConversionKind::kAviToMpeg:
      s = Read(readers.avi, path, out);
      break;
    case ConversionKind::kWavToMp2:
      s = Read(readers.wav, path, out);
      break;
    case ConversionKind::kMpegToAvi:
      s = Read(readers.mpeg, path, out);
      break;
    case ConversionKind::kMp2ToWav:
      s = Read(readers.mp2, path, out);
      break;
    case ConversionKind::kNone:
      out["error"] = "not a source file (.avi, .wav, .mpg or .mp2)";
      return false;
  }
  if (IsSuccess(s)) return true;
  // A reader that has not landed yet is no failure of the file.
  out[s == kNotSupported ? "information" : "error"] = ErrorText(s, path);
  return s == kNotSupported;
}

void PrintText(const Json& value, const std::string& prefix) {
  for (const auto& [key, v] : value.items()) {
    if (v.is_object()) {
      PrintText(v, prefix + key + ".");
      continue;
    }
    const std::string text = v.is_string() ? v.get<std::string>() : v.is_null() ? "none" : v.dump();
    std::printf("  %-24s %s\n", (prefix + key).c_str(), text.c_str());
  }
}

}  // namespace

int RunInfo(const std::vector<std::string>& files, bool json, const Backends& backends) {
  Json all = Json::array();
  int status = kExitOk;
  for (const std::string& file : files) {
    Json report;
    if (!Describe(file, backends.readers, report)) status = kExitFailed;
    if (!json) {
      std::printf("%s\n", file.c_str());
      report.erase("path");
      PrintText(report, "");
    }
    all.push_back(std::move(report));
  }
  if (json) std::printf("%s\n", all.dump(2).c_str());
  return status;
}

}  // namespace calvex::cli
