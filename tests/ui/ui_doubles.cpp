#include "ui_doubles.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <regex>
#include <thread>
#include <vector>

#include "core/bitmap.h"
#include "core/progress.h"

namespace calvex::testing {
namespace {

void SizeAndSound(const std::string& fullPath, int& w, int& h, int& channels) {
  const std::string path = fullPath.substr(fullPath.find_last_of('/') + 1);
  std::smatch m;
  w = 320;
  h = 240;
  if (std::regex_search(path, m, std::regex(R"((\d+)x(\d+))"))) {
    w = std::stoi(m[1]);
    h = std::stoi(m[2]);
  }
  channels = 2;
  if (path.find("_m.") != std::string::npos || path.find("_m_") != std::string::npos) channels = 1;
  if (path.find("_n.") != std::string::npos || path.find("_n_") != std::string::npos) channels = 0;
}

// Colour bars with a white square that moves from picture to picture (bottom-up BGR rows).
void PaintTestPicture(std::vector<std::uint8_t>& bits, int width, int height, int n) {
  static constexpr std::uint8_t kBars[7][3] = {{192, 192, 192}, {0, 192, 192}, {192, 192, 0},
                                               {0, 192, 0},     {192, 0, 192}, {0, 0, 192},
                                               {192, 0, 0}};
  const int stride = BitmapStride(width, 24);
  const int box = height / 4;
  const int bx = (n * 4) % std::max(width - box, 1);
  for (int y = 0; y < height; ++y) {
    const int top = height - 1 - y;  // row from the top
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = &bits[static_cast<std::size_t>(y) * stride + 3 * x];
      const bool inBox = top >= height / 2 && top < height / 2 + box && x >= bx && x < bx + box;
      const auto* bar = kBars[x * 7 / width];
      for (int c = 0; c < 3; ++c) px[c] = inBox ? 255 : (top < height * 2 / 3 ? bar[c] : 40);
    }
  }
}

Status Convert(const std::string& destination, const std::string& source, ProgressKind kind,
               ConversionContext& context, int steps, int pauseMs, int width, int height) {
  const BitmapInfoHeader header = MakeBitmapHeader24(width, height);
  std::vector<std::uint8_t> bits(header.sizeImage);
  for (int i = 0; i < steps; ++i) {
    PaintTestPicture(bits, width, height, i);
    ProgressRecord record;
    record.seconds = i / 30;
    record.fraction = i % 30;
    record.frameNumber = i;
    record.pictureType = 1;
    record.bitmapHeader = &header;
    record.bitmapBits = bits.data();
    if (context.Progress(record, kind, (i + 1) * 1000 / steps)) return kCancelled;
    if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
  }
  if (source.find("fail") != std::string::npos) return kWavCorrupted;
  std::ofstream(destination, std::ios::binary) << "converted " << source;
  return kOk;
}

}  // namespace

InfoReaders NamedInfoReaders() {
  InfoReaders r;
  r.avi = [](const std::string& path, AviInfo& info) -> Status {
    int w, h, ch;
    SizeAndSound(path, w, h, ch);
    info.width = static_cast<std::uint16_t>(w);
    info.height = static_cast<std::uint16_t>(h);
    info.frameRatePacked = (15u << 16) | 1u;
    info.frameCount = 75;
    info.bitsPerPixel = 24;
    if (ch > 0) {
      info.audioFormatTag = 1;
      info.audioSampleRate = 22050;
      info.audioChannels = static_cast<std::uint16_t>(ch);
      info.audioBitsPerSample = 16;
    }
    return kOk;
  };
  r.wav = [](const std::string& path, WavInfo& info) -> Status {
    int w, h, ch;
    SizeAndSound(path, w, h, ch);
    info.formatTag = 1;
    info.sampleRate = 44100;
    info.channels = static_cast<std::uint16_t>(ch == 0 ? 2 : ch);
    info.bitsPerSample = 16;
    return kOk;
  };
  r.mpeg = [](const std::string& path, MpegInfo& info) -> Status {
    int w, h, ch;
    SizeAndSound(path, w, h, ch);
    info.width = w;
    info.height = h;
    info.frameRateNum = 30000;
    info.frameRateDen = 1001;
    if (ch > 0) {
      info.audioSampleRate = 44100;
      info.audioBitsPerSample = 16;
      info.audioLayer = 2;
      info.audioChannelMode = ch == 1 ? 1 : 3;
    }
    return kOk;
  };
  r.mpegAndPicture = [mpeg = r.mpeg](const std::string& path, MpegInfo& info,
                                     const BitmapSink& picture) -> Status {
    const Status s = mpeg(path, info);
    if (s == kOk && picture) {
      const BitmapInfoHeader header = MakeBitmapHeader24(info.width, info.height);
      std::vector<std::uint8_t> bits(header.sizeImage);
      PaintTestPicture(bits, info.width, info.height, 0);
      picture(header, bits.data());
    }
    return s;
  };
  r.mp2 = [](const std::string& path, Mp2Info& info) -> Status {
    int w, h, ch;
    SizeAndSound(path, w, h, ch);
    info.sampleRate = 48000;
    info.bitsPerSample = 16;
    info.layer = 2;
    info.channelMode = ch == 1 ? 1 : 2;
    return kOk;
  };
  return r;
}

DriverSet ReportingDrivers(int steps, int pauseMs, int width, int height) {
  DriverSet d;
  d.aviToMpeg = [=](AviToMpegJob& j, ConversionContext& c) {
    return Convert(j.destination, j.source, ProgressKind::kVideo, c, steps, pauseMs, width, height);
  };
  d.wavToMp2 = [=](WavToMp2Job& j, ConversionContext& c) {
    return Convert(j.destination, j.source, ProgressKind::kAudio, c, steps, pauseMs, width, height);
  };
  d.mpegToAvi = [=](MpegToAviJob& j, ConversionContext& c) {
    return Convert(j.destination, j.source, ProgressKind::kVideo, c, steps, pauseMs, width, height);
  };
  d.mp2ToWav = [=](Mp2ToWavJob& j, ConversionContext& c) {
    return Convert(j.destination, j.source, ProgressKind::kAudio, c, steps, pauseMs, width, height);
  };
  d.convertToPcm = [](PcmConversionJob& j, ConversionContext&) -> Status {
    std::ofstream(j.pcmPath, std::ios::binary) << "pcm";
    j.format = MakePcmFormat(2, 22050, 16);
    return kOk;
  };
  return d;
}

}  // namespace calvex::testing
