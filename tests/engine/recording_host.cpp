#include "engine/recording_host.h"

#include <filesystem>
#include <fstream>

namespace calvex::testing {

Status FakeDrivers::Convert(const std::string& source, const std::string& destination,
                            const ConversionSettings* settings, ConversionContext& context) {
  if (during) during(context);
  std::lock_guard lock(mutex_);
  DriverCall call;
  call.source = source;
  call.destination = destination;
  if (settings != nullptr) {
    call.settings = *settings;
    call.pcmTempExisted =
        !settings->pcmTempPath.empty() && std::filesystem::exists(settings->pcmTempPath);
  }
  calls.push_back(call);
  std::ofstream(destination, std::ios::binary) << source << " -> " << destination;
  return next_ < results_.size() ? results_[next_++] : kOk;
}

DriverSet FakeDrivers::Set() {
  DriverSet d;
  d.aviToMpeg = [this](AviToMpegJob& j, ConversionContext& c) {
    return Convert(j.source, j.destination, j.settings, c);
  };
  d.wavToMp2 = [this](WavToMp2Job& j, ConversionContext& c) {
    return Convert(j.source, j.destination, nullptr, c);
  };
  d.mpegToAvi = [this](MpegToAviJob& j, ConversionContext& c) {
    return Convert(j.source, j.destination, j.settings, c);
  };
  d.mp2ToWav = [this](Mp2ToWavJob& j, ConversionContext& c) {
    return Convert(j.source, j.destination, j.settings, c);
  };
  d.convertToPcm = [this](PcmConversionJob& j, ConversionContext&) {
    std::lock_guard lock(mutex_);
    std::ofstream(j.pcmPath, std::ios::binary) << "pcm";
    j.format = pcmFormat;
    pcmCalls.push_back(j);
    return pcmResult;
  };
  if (sourceFrames > 0) {
    d.countFrames = [this](FrameCountJob& j, ConversionContext&) {
      j.frames = sourceFrames;
      return kOk;
    };
  }
  return d;
}

}  // namespace calvex::testing
