#include "engine/dispatcher.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "core/error_report.h"
#include "core/file_names.h"
#include "core/messages.h"
#include "core/temp_file.h"

namespace calvex {
namespace {

template <typename Job>
Status RunDriver(const std::function<Status(Job&, ConversionContext&)>& driver, Job& job,
                 ConversionContext& context) {
  return driver ? driver(job, context) : kNotSupported;
}

void LoadSettings(const SourceEntry& entry, ConversionSettings& s) {
  s.aviToMpeg = entry.aviToMpeg;
  s.wavToMp2 = entry.wavToMp2;
  s.mpegToAvi = entry.mpegToAvi;
  s.mp2ToWav = entry.mp2ToWav;
  s.aviInfo = entry.aviInfo;
  s.mpegInfo = entry.mpegInfo;
  s.mp2Info = entry.mp2Info;
}

AudioEncodeParams AudioParamsFor(std::int32_t layer, std::int32_t jointStereo,
                                 std::int32_t bitrate) {
  AudioEncodeParams p;
  p.audioLayer = layer;
  p.jointStereo = jointStereo != 0 ? 1 : 0;
  p.audioBitrateKbps = bitrate;
  return p;
}

// The file name a failure text names: the source for "Unable to open file." and "does not
// exist", the destination for "Unable to create file.".
std::string ArgumentFor(Status code, const std::string& source, const std::string& destination) {
  return code == kCreateFailed ? destination : source;
}

// The source's size in bytes; -1 when it is gone.
std::int64_t SourceSize(const std::string& path) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  return ec ? -1 : static_cast<std::int64_t>(size);
}

// Whether `destination` may be written: absent, or a file the user may change. A conversion is
// not started for an output it could not put in place.
bool CanReplace(const std::string& destination) {
  std::error_code ec;
  const auto status = std::filesystem::status(destination, ec);
  if (!std::filesystem::exists(status)) return true;
  return std::filesystem::is_regular_file(status) && ::access(destination.c_str(), W_OK) == 0;
}

// One entry's conversion: the working settings and the temporary audio file live as long as
// the entry.
class EntryConversion {
 public:
  EntryConversion(const SourceEntry& entry, const std::string& directory, const DriverSet& drivers,
                  ConversionContext& context)
      : entry_(entry),
        directory_(directory),
        drivers_(drivers),
        context_(context),
        kind_(KindByExtension(entry.path)),
        sections_(entry.sections) {
    LoadSettings(entry, settings_);
    if (settings_.aviToMpeg.videoCd == 1)
      ApplyVideoCdFormat(settings_.aviToMpeg, settings_.aviInfo.frameRatePacked);
  }

  Status Run();

 private:
  Status FitSectionsToSource();
  Status ConvertOutput(int section, const std::string& destination);
  Status ConvertPass(int section, const std::string& destination);
  Status PrepareAviAudio();
  Status ConvertAviToMpeg(const std::string& destination);
  Status ConvertWavToMp2(const std::string& destination);
  Status ConvertMpegToAvi(const std::string& destination);
  Status ConvertMp2ToWav(const std::string& destination);
  void SetTitle(int section, const std::string& destination);

  const SourceEntry& entry_;
  const std::string& directory_;
  const DriverSet& drivers_;
  ConversionContext& context_;
  const ConversionKind kind_;
  std::vector<Section> sections_;  // the entry's, each ending at the source's last frame at most
  ConversionSettings settings_;
  TemporaryFile audioTemp_;
  bool aborted_ = false;
};

Status EntryConversion::Run() {
  ConversionHost& host = context_.host();
  host.ConversionKindChanged(kind_);
  if (kind_ == ConversionKind::kNone) {
    ReportError(context_, kNotSupported);
    return kNotSupported;
  }

  Status last = FitSectionsToSource();
  const int passes = sections_.empty() ? 1 : static_cast<int>(sections_.size());
  for (int n = 0; n < passes && IsSuccess(last); ++n) {
    const int section = sections_.empty() ? -1 : n;
    const std::string destination = DestinationPath(entry_.path, directory_, kind_, section);
    SetTitle(section, destination);
    last = ConvertOutput(section, destination);
    host.ResetStatusFields();
    if (!IsSuccess(last)) {
      ReportError(context_, last, ArgumentFor(last, entry_.path, destination));
      audioTemp_.Remove();
      context_.LogMessage(224, destination);
      break;
    }
    // The log keeps the destination's case: on this system names differ by case.
    context_.LogMessage(223, destination);
  }

  audioTemp_.Remove();
  host.SetWindowTitle(std::string(MessageText(31)));
  if (last == kCancelled || aborted_) return kEntryAborted;
  if (IsSuccess(last)) return kEntryConverted;
  return last;
}

// A section that starts after the source's last frame is refused before anything is written; one
// that runs past it ends at the last frame, and the log says so.
Status EntryConversion::FitSectionsToSource() {
  if (sections_.empty() || !drivers_.countFrames) return kOk;
  FrameCountJob job;
  job.source = entry_.path;
  job.kind = kind_;
  const Status counted = drivers_.countFrames(job, context_);
  if (counted == kCancelled) {
    aborted_ = true;
    return kCancelled;
  }
  if (!IsSuccess(counted) || job.frames <= 0) return kOk;
  const std::int32_t frames = job.frames;
  for (std::size_t n = 0; n < sections_.size(); ++n) {
    const Section& s = sections_[n];
    if (s.first < frames) continue;
    const int number = static_cast<int>(n) + 1;
    ReportError(context_, kSectionPastEnd,
                FormatText(std::string(MessageText(150)).c_str(), number, s.first, s.last, frames));
    context_.LogMessage(224, DestinationPath(entry_.path, directory_, kind_, static_cast<int>(n)));
    return kSectionPastEnd;
  }
  for (std::size_t n = 0; n < sections_.size(); ++n) {
    Section& s = sections_[n];
    if (s.last < frames) continue;
    context_.LogLine(FormatText(std::string(MessageText(151)).c_str(), static_cast<int>(n) + 1,
                                s.first, s.last, frames - 1));
    s.last = frames - 1;
  }
  return kOk;
}

void EntryConversion::SetTitle(int section, const std::string& destination) {
  const std::string title = section < 0
                                ? FormatText(std::string(MessageText(24)).c_str(),
                                             entry_.path.c_str(), destination.c_str())
                                : FormatText(std::string(MessageText(89)).c_str(),
                                             entry_.path.c_str(), section, destination.c_str());
  context_.host().SetWindowTitle(title);
}

// The driver writes under a temporary name beside the destination, which replaces the destination
// only once the conversion succeeded: a failed or cancelled conversion leaves an earlier output
// as it was.
Status EntryConversion::ConvertOutput(int section, const std::string& destination) {
  const std::int64_t sourceSize = SourceSize(entry_.path);
  if (kind_ == ConversionKind::kAviToMpeg && section <= 0) {
    const Status prepared = PrepareAviAudio();
    if (!IsSuccess(prepared)) return prepared;
  }
  TemporaryFile output;
  if (!CanReplace(destination) || !output.CreateFor(destination)) return kCreateFailed;
  Status result = ConvertPass(section, output.path());
  // A source cut short while it was read gives an output that only looks complete: the readers
  // meet an early end of the data, not an error.
  if (IsSuccess(result) && SourceSize(entry_.path) < sourceSize) result = kReadFailed;
  if (IsSuccess(result) && !output.MoveTo(destination)) {
    if (errno != ENOSPC && errno != EDQUOT) return kCreateFailed;
    context_.RaiseDiskFull();
    return kDiskFull;
  }
  return result;
}

Status EntryConversion::ConvertPass(int section, const std::string& destination) {
  if (section >= 0) {
    const Section& s = sections_[static_cast<std::size_t>(section)];
    settings_.sectionFirst = s.first;
    settings_.sectionLast = s.last;
    settings_.sectionSeek = s.seek;
  } else {
    settings_.sectionFirst = -1;
    settings_.sectionLast = -1;
    settings_.sectionSeek = {};
  }

  switch (kind_) {
    case ConversionKind::kAviToMpeg:
      return ConvertAviToMpeg(destination);
    case ConversionKind::kWavToMp2:
      return ConvertWavToMp2(destination);
    case ConversionKind::kMpegToAvi:
      return ConvertMpegToAvi(destination);
    case ConversionKind::kMp2ToWav:
      return ConvertMp2ToWav(destination);
    case ConversionKind::kNone:
      break;
  }
  return kNotSupported;
}

Status EntryConversion::PrepareAviAudio() {
  const AviInfo& source = settings_.aviInfo;
  // A Video CD's sound is stereo at 44.1 kHz: other rates are resampled, mono is doubled.
  const bool videoCd = settings_.aviToMpeg.videoCd == 1;
  const bool cdRate = kVideoCdSampleRateHz % std::max<int>(source.audioSampleRate, 1) == 0;
  const bool cdReady = cdRate && source.audioChannels == 2;
  if (!source.HasAudio() || (EncoderTakesAviAudio(source) && (!videoCd || cdReady))) return kOk;
  if (!audioTemp_.Create(directory_, std::string(MessageText(276)))) return kTempCreateFailed;

  PcmConversionJob job;
  job.source = entry_.path;
  job.pcmPath = audioTemp_.path();
  if (videoCd) {
    job.sampleRateHz = cdRate ? 0 : kVideoCdSampleRateHz;
    job.channels = 2;
  }
  const Status result = RunDriver(drivers_.convertToPcm, job, context_);
  if (result == kCancelled) aborted_ = true;
  if (!IsSuccess(result)) {
    audioTemp_.Remove();
    return result;
  }
  // From here on the encoder reads the PCM file: its format replaces the AVI's audio description.
  AviInfo& info = settings_.aviInfo;
  info.audioFormatTag = kWaveFormatPcm;
  info.audioSampleRate = static_cast<std::uint16_t>(job.format.samplesPerSec);
  info.audioBitsPerSample = job.format.bitsPerSample;
  info.audioChannels = job.format.channels;
  settings_.pcmTempPath = audioTemp_.path();
  return kOk;
}

Status EntryConversion::ConvertAviToMpeg(const std::string& destination) {
  AudioEncodeParams audio =
      AudioParamsFor(settings_.aviToMpeg.audioLayer, settings_.aviToMpeg.jointStereo,
                     settings_.aviToMpeg.audioBitrateKbps);
  settings_.videoBitRate = VideoBitRateFor(settings_.aviToMpeg);
  AviToMpegJob job;
  job.source = entry_.path;
  job.destination = destination;
  job.settings = &settings_;
  job.audio = &audio;
  return RunDriver(drivers_.aviToMpeg, job, context_);
}

Status EntryConversion::ConvertWavToMp2(const std::string& destination) {
  AudioEncodeParams audio =
      AudioParamsFor(settings_.wavToMp2.audioLayer, settings_.wavToMp2.jointStereo,
                     settings_.wavToMp2.audioBitrateKbps);
  WavToMp2Job job;
  job.source = entry_.path;
  job.destination = destination;
  job.audio = &audio;
  return RunDriver(drivers_.wavToMp2, job, context_);
}

Status EntryConversion::ConvertMpegToAvi(const std::string& destination) {
  const MpegToAviParams& p = settings_.mpegToAvi;
  context_.SetStatusField(StatusField::kOutputSize, FormatText("%3d x %3d", p.width, p.height));
  const double rate = p.frameRateScale != 0 ? static_cast<double>(p.frameRateMilli) /
                                                  static_cast<double>(p.frameRateScale)
                                            : 0.0;
  context_.SetStatusField(StatusField::kOutputRate, FormatText("%3.2f", rate));

  MpegToAviJob job;
  job.source = entry_.path;
  job.destination = destination;
  job.outputOptions = {1, settings_.mpegInfo.audioBitsPerSample};
  job.firstFrame = settings_.HasSection() ? settings_.sectionFirst : 0;
  job.lastFrame = settings_.HasSection() ? settings_.sectionLast : -1;
  job.settings = &settings_;
  const Status result = RunDriver(drivers_.mpegToAvi, job, context_);
  if (result != kDataRateExceeded) return result;
  // The AVI is complete; it only runs above the requested rate.
  if (p.limitDataRate != 0) {
    context_.LogMessage(248);
    context_.flags().warning = true;
  }
  return kFinishedWithNote;
}

Status EntryConversion::ConvertMp2ToWav(const std::string& destination) {
  Mp2ToWavJob job;
  job.source = entry_.path;
  job.destination = destination;
  job.format = settings_.mp2ToWav.Format();
  const auto outputRate = static_cast<std::int32_t>(job.format.samplesPerSec);
  job.rateDivisor = outputRate > 0 ? settings_.mp2Info.sampleRate / outputRate : 1;
  job.bitsPerSample = job.format.bitsPerSample;
  job.settings = &settings_;
  return RunDriver(drivers_.mp2ToWav, job, context_);
}

}  // namespace

bool EncoderTakesAviAudio(const AviInfo& info) {
  if (info.audioFormatTag != kWaveFormatPcm) return false;
  if (info.audioBitsPerSample != 8 && info.audioBitsPerSample != 16) return false;
  switch (info.audioSampleRate) {
    case 8000:
    case 11025:
    case 12000:
    case 16000:
    case 22050:
    case 24000:
    case 32000:
    case 44100:
    case 48000:
      return true;
    default:
      return false;
  }
}

Status ConvertEntry(const SourceEntry& entry, const std::string& directory,
                    const DriverSet& drivers, ConversionContext& context) {
  EntryConversion conversion(entry, directory, drivers, context);
  return conversion.Run();
}

}  // namespace calvex
