// calvex over test doubles of the drivers and readers, for the command line's end-to-end tests.
// CALVEX_FAKE chooses the drivers' behaviour:
//   (unset)      each output holds the source's bytes and the entry's parameter record;
//   slow         the same, taking about ten seconds per file (for Ctrl-C);
//   fail         every conversion fails with 106;
//   unsupported  every conversion answers 142 "Not supported.".
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "core/file_names.h"

namespace calvex {
namespace {

std::string Mode() {
  const char* mode = std::getenv("CALVEX_FAKE");
  return mode != nullptr ? mode : "";
}

template <typename T>
void Append(std::string& out, const T& record) {
  out.append(reinterpret_cast<const char*>(&record), sizeof record);
}

Status Convert(const std::string& source, const std::string& destination,
               const std::string& parameters, ProgressKind kind, ConversionContext& context) {
  const std::string mode = Mode();
  if (mode == "fail") return kAviDecodeFailed;
  std::ifstream in(source, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::ofstream out(destination, std::ios::binary);
  // Outputs are written as "~" + their name + "." + six random characters until they are done.
  const std::string name = FileNameOf(destination);
  out << "fake " << name.substr(1, name.size() - 8) << '\n' << parameters;
  out.flush();  // a partial output exists while the conversion runs
  const int steps = mode == "slow" ? 100 : 10;
  ProgressRecord record;
  for (int i = 1; i <= steps; ++i) {
    if (mode == "slow") std::this_thread::sleep_for(std::chrono::milliseconds(100));
    record.frameNumber = i;
    if (context.Progress(record, kind, i * 1000 / steps)) return kCancelled;
  }
  out << bytes;
  return out ? kOk : kCreateFailed;
}

DriverSet FakeDrivers() {
  DriverSet d;
  d.aviToMpeg = [](AviToMpegJob& j, ConversionContext& c) {
    std::string p;
    Append(p, j.settings->aviToMpeg);
    Append(p, j.settings->sectionFirst);
    Append(p, j.settings->sectionLast);
    return Convert(j.source, j.destination, p, ProgressKind::kVideo, c);
  };
  d.wavToMp2 = [](WavToMp2Job& j, ConversionContext& c) {
    std::string p;
    Append(p, *j.audio);
    return Convert(j.source, j.destination, p, ProgressKind::kAudio, c);
  };
  d.mpegToAvi = [](MpegToAviJob& j, ConversionContext& c) {
    std::string p;
    Append(p, j.settings->mpegToAvi);
    Append(p, j.firstFrame);
    Append(p, j.lastFrame);
    return Convert(j.source, j.destination, p, ProgressKind::kVideo, c);
  };
  d.mp2ToWav = [](Mp2ToWavJob& j, ConversionContext& c) {
    std::string p;
    Append(p, j.settings->mp2ToWav);
    return Convert(j.source, j.destination, p, ProgressKind::kAudio, c);
  };
  d.convertToPcm = [](PcmConversionJob& j, ConversionContext& c) {
    std::ofstream(j.pcmPath, std::ios::binary) << "pcm";
    j.format = MakePcmFormat(2, 44100, 16);
    ProgressRecord r;
    return c.Progress(r, ProgressKind::kAudio, 1000) ? kCancelled : kOk;
  };
  return d;
}

InfoReaders FakeReaders() {
  InfoReaders r;
  r.avi = [](const std::string&, AviInfo& i) {
    i.width = 320;
    i.height = 240;
    i.frameRatePacked = 30u << 16 | 1u;
    i.frameCount = 300;
    i.audioFormatTag = kWaveFormatMsAdpcm;  // goes through the temporary PCM file
    i.audioSampleRate = 11025;
    i.audioChannels = 1;
    i.audioBitsPerSample = 4;
    std::strcpy(i.compressionName, "Motion JPEG");
    return kOk;
  };
  r.wav = [](const std::string&, WavInfo& i) {
    i.formatTag = kWaveFormatPcm;
    i.sampleRate = 44100;
    i.channels = 2;
    i.bitsPerSample = 16;
    return kOk;
  };
  r.mpeg = [](const std::string&, MpegInfo& i) {
    i.frameRateNum = 30000;
    i.frameRateDen = 1001;
    i.width = 352;
    i.height = 240;
    i.audioSampleRate = 44100;
    i.audioBitsPerSample = 16;
    i.unused = 2;  // channels
    i.audioLayer = 2;
    i.audioBitrateIndex = 10;
    i.audioChannelMode = 2;
    return kOk;
  };
  r.mp2 = [](const std::string&, Mp2Info& i) {
    i.sampleRate = 44100;
    i.bitsPerSample = 16;
    i.unused = 2;  // channels
    i.layer = 2;
    i.channelMode = 2;
    return kOk;
  };
  return r;
}

}  // namespace
}  // namespace calvex

int main(int argc, char** argv) {
  calvex::cli::Backends backends;
  const bool unsupported = calvex::Mode() == "unsupported";
  backends.drivers = unsupported ? calvex::UnsupportedDrivers() : calvex::FakeDrivers();
  backends.readers = calvex::FakeReaders();
  return calvex::cli::RunCalvex(argc, argv, backends);
}
