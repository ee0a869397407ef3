// calvex info: what the information readers report about each file: as the information dialogs
// show it, or as JSON.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "core/error_report.h"
#include "core/messages.h"
#include "engine/info_text.h"

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

// What is known of one file: its JSON report and the fields of its information dialog.
struct Report {
  Json json;
  std::vector<InfoLine> lines;
};

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
              {"compression_ratio_percent", i.compressionRatioTenths / 10.0},
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
              {"audio_bits", i.audioBitsPerSample},
              {"audio_channels", i.unused},  // the reader keeps the channel count there
              {"audio_layer", i.audioLayer},
              {"audio_bitrate_index", i.audioBitrateIndex},
              {"audio_bitrate_kbps",
               AudioBitrateKbps(i.audioLayer, i.audioBitrateIndex, i.audioSampleRate)},
              {"audio_channel_mode", i.audioChannelMode}};
}

Json InfoJson(const Mp2Info& i) {
  return Json{{"sample_rate", i.sampleRate},
              {"bits", i.bitsPerSample},
              {"channels", i.unused},  // the reader keeps the channel count there
              {"layer", i.layer},
              {"bitrate_index", i.bitrateIndex},
              {"bitrate_kbps", AudioBitrateKbps(i.layer, i.bitrateIndex, i.sampleRate)},
              {"channel_mode", i.channelMode}};
}

template <std::size_t N>
void CopyPath(char (&field)[N], const std::string& path) {
  std::memset(field, 0, N);
  std::memcpy(field, path.data(), std::min(path.size(), N - 1));
}

// Runs the reader on a block holding the path and size, as the source list does; the block goes
// into the report as JSON and as the lines of its dialog.
template <typename Info, typename LinesOf>
Status Read(const std::function<Status(const std::string&, Info&)>& reader, const std::string& path,
            std::uint64_t size, const LinesOf& linesOf, Report& report) {
  Info info{};
  CopyPath(info.path, path);
  info.fileSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, UINT32_MAX));
  const Status s = reader ? reader(path, info) : kNotSupported;
  if (IsSuccess(s) || s == kAviNoAudio) {
    report.json["info"] = InfoJson(info);
    report.lines = linesOf(path, info);
  }
  return s == kAviNoAudio ? kOk : s;
}

// The AVI block's 16-bit field cannot hold a sampling rate above 65535 Hz: the reader's full
// figure takes its place.
void FullAviAudioRate(const InfoReaders& readers, const std::string& path, Json& report) {
  if (!readers.aviAudioSampleRate || !report.contains("info")) return;
  Json& audio = report["info"]["audio"];
  if (!audio.is_object()) return;
  if (const std::uint32_t rate = readers.aviAudioSampleRate(path); rate != 0)
    audio["sample_rate"] = rate;
}

// One file's report. Returns false when the file could not be read.
bool Describe(const std::string& path, const Backends& backends, Report& report) {
  Json& out = report.json;
  const InfoReaders& readers = backends.readers;
  const ConversionKind kind = KindByExtension(path);
  out["path"] = path;
  out["kind"] = KindName(kind);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    out["error"] = ErrorText(kOpenFailed, path);
    return false;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  out["size"] = size;
  const CodecNameLookup& names = backends.codecName;
  Status s = kNotSupported;
  switch (kind) {
    case ConversionKind::kAviToMpeg:
      s = Read(
          readers.avi, path, size,
          [&names](const std::string& p, const AviInfo& i) { return AviInfoLines(p, i, names); },
          report);
      FullAviAudioRate(readers, path, out);
      break;
    case ConversionKind::kWavToMp2:
      s = Read(
          readers.wav, path, size,
          [&names](const std::string& p, const WavInfo& i) { return WavInfoLines(p, i, names); },
          report);
      break;
    case ConversionKind::kMpegToAvi:
      s = Read(readers.mpeg, path, size, MpegInfoLines, report);
      break;
    case ConversionKind::kMp2ToWav:
      s = Read(readers.mp2, path, size, Mp2InfoLines, report);
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

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The fields as the information dialog shows them, grouped under "Video" and "Audio"; fields
// without a text are left out.
void PrintText(const Report& report) {
  const Json& j = report.json;
  std::printf("%s\n", j["path"].get<std::string>().c_str());
  std::printf("  %-20s %s\n", "Kind:", j["kind"].get<std::string>().c_str());
  std::string group;
  for (const InfoLine& line : report.lines) {
    const std::string text = Trimmed(line.text);
    if (text.empty()) continue;
    if (line.group != group) {
      group = line.group;
      std::printf("  %s\n", group.c_str());
    }
    const bool inGroup = !group.empty();
    std::printf("  %s%-*s %s\n", inGroup ? "  " : "", inGroup ? 18 : 20, line.label.c_str(),
                text.c_str());
  }
  for (const char* key : {"information", "error"}) {
    if (j.contains(key)) {
      const std::string label = std::string(key == std::string("error") ? "Error" : "Note") + ":";
      std::printf("  %-20s %s\n", label.c_str(), j[key].get<std::string>().c_str());
    }
  }
}

}  // namespace

int RunInfo(const std::vector<std::string>& files, bool json, const Backends& backends) {
  Json all = Json::array();
  int status = kExitOk;
  for (const std::string& file : files) {
    Report report;
    if (!Describe(file, backends, report)) status = kExitFailed;
    if (!json) PrintText(report);
    all.push_back(std::move(report.json));
  }
  if (json) std::printf("%s\n", all.dump(2).c_str());
  return status;
}

}  // namespace calvex::cli
