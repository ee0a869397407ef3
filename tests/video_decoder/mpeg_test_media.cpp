#include "video_decoder/mpeg_test_media.h"

#include <cstdio>
#include <sstream>

#include "core/conversion_context.h"
#include "mux/multiplexer.h"
#include "support/test_support.h"
#include "video_decoder/colour_conversion.h"
#include "video_encoder/encoder_test_support.h"
#include "video_encoder/video_encoder.h"

namespace calvex::video_decoder::testing {
namespace {

using calvex::testing::ReadFileBytes;
using calvex::testing::RunCommand;
using calvex::testing::ShellQuote;

bool Run(const std::string& command) {
  const auto r = RunCommand(command);
  if (r.exitCode != 0) ADD_FAILURE() << command << "\n" << r.output;
  return r.exitCode == 0;
}

std::string Seconds(int frames, int rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", static_cast<double>(frames) / rate);
  return text;
}

void Put16(std::vector<std::uint8_t>& out, int v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void PutStartCode(std::vector<std::uint8_t>& out, std::uint8_t code) {
  out.insert(out.end(), {0x00, 0x00, 0x01, code});
}

}  // namespace

bool MakeFfmpegStream(const std::string& path, const std::string& container, int frames,
                      bool withAudio, const std::string& size, int rate, const std::string& extra) {
  std::string command =
      "ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size + ":rate=" + std::to_string(rate);
  if (withAudio) command += " -f lavfi -i sine=frequency=440:sample_rate=44100";
  command += " -t " + Seconds(frames, rate) + " -frames:v " + std::to_string(frames) +
             " -c:v mpeg1video -g 12 -bf 2 -q:v 4";
  if (withAudio) command += " -c:a mp2 -b:a 64k";
  command += " " + extra + " -f " + container + " " + ShellQuote(path);
  return Run(command);
}

bool MakeMplexStream(const std::string& dir, const std::string& path, int frames, int format) {
  const std::string video = dir + "/mplex_video.m1v";
  const std::string audio = dir + "/mplex_audio.mp2";
  return Run("ffmpeg -v error -y -f lavfi -i testsrc2=size=96x64:rate=25 -frames:v " +
             std::to_string(frames) + " -pix_fmt yuv420p -f yuv4mpegpipe - | mpeg2enc -v 0 -f 0 " +
             "-b 300 -o " + ShellQuote(video)) &&
         Run("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100 -t " +
             Seconds(frames, 25) + " -c:a mp2 -b:a 64k " + ShellQuote(audio)) &&
         Run("mplex -v 0 -f " + std::to_string(format) + " -o " + ShellQuote(path) + " " +
             ShellQuote(video) + " " + ShellQuote(audio));
}

bool MakeOwnElementaryStream(const std::string& path, int frames, int width, int height,
                             int pictureRateCode) {
  static constexpr int kRates[][2] = {{0, 1},        {24000, 1001}, {24, 1}, {25, 1},
                                      {30000, 1001}, {30, 1},       {50, 1}, {60000, 1001},
                                      {60, 1},       {15, 1},       {10, 1}};
  video::VideoEncoderParams params;
  params.width = width;
  params.height = height;
  params.pictureRateCode = pictureRateCode;
  params.rateNum = kRates[pictureRateCode][0];
  params.rateDen = kRates[pictureRateCode][1];
  params.milliFps = static_cast<int>(1000LL * params.rateNum / params.rateDen);
  params.bitRate = 400000;
  params.pictureCount = frames;
  video::testing::SyntheticSource source(width, height);
  video::EncoderEvents events;
  const Status s = video::EncodeVideoFile(params, source, events, path, nullptr);
  EXPECT_EQ(s, kOk);
  return s == kOk;
}

bool MakeOwnSystemStream(const std::string& dir, const std::string& path, int frames,
                         bool videoCd) {
  const std::string videoPath = dir + "/own_video.m1v";
  const std::string audioPath = dir + "/own_audio.mp2";
  video::VideoEncoderParams params;
  params.width = 96;
  params.height = 64;
  params.pictureRateCode = 3;
  params.rateNum = 25;
  params.rateDen = 1;
  params.milliFps = 25000;
  params.bitRate = 400000;
  params.pictureCount = frames;
  video::testing::SyntheticSource source(96, 64);
  video::EncoderEvents events;
  std::vector<std::uint32_t> index;
  if (video::EncodeVideoFile(params, source, events, videoPath, &index) != kOk) return false;
  if (!Run("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100 -t " +
           Seconds(frames, 25) + (videoCd ? " -ac 2 -c:a mp2 -b:a 224k " : " -c:a mp2 -b:a 128k ") +
           ShellQuote(audioPath))) {
    return false;
  }
  mux::MuxParams mp;
  mp.targetRateNum = 25;
  mp.targetRateDen = 1;
  mp.outputFrameCount = frames;
  mp.audioLayer = 2;
  mp.audioBitrateKbps = videoCd ? 224 : 128;
  mp.audioSampleRateHz = 44100;
  StandaloneContext context;
  mux::Multiplexer mux;
  const Status s =
      mux.MultiplexSystemStream(path, videoPath, audioPath, index, mp, context.get(),
                                videoCd ? mux::MuxFormat::kVideoCd : mux::MuxFormat::kStandard);
  EXPECT_EQ(s, kOk);
  return s == kOk;
}

ElementaryLayout ReadElementaryLayout(const std::vector<std::uint8_t>& es) {
  ElementaryLayout layout;
  for (std::size_t i = 0; i + 3 < es.size(); ++i) {
    if (es[i] != 0 || es[i + 1] != 0 || es[i + 2] != 1) continue;
    const std::uint8_t code = es[i + 3];
    if (code == 0x00 && i + 5 < es.size()) {
      layout.pictures.push_back({i, (es[i + 4] << 2) | (es[i + 5] >> 6), (es[i + 5] >> 3) & 7});
    } else if (code == 0xB8) {
      layout.groups.push_back(i);
    }
    i += 3;
  }
  return layout;
}

std::vector<GopIndexEntry> ExpectedEntries(const ElementaryLayout& layout) {
  std::vector<GopIndexEntry> entries;
  for (std::size_t group : layout.groups) {
    int before = 0;
    while (before < static_cast<int>(layout.pictures.size()) &&
           layout.pictures[static_cast<std::size_t>(before)].offset < group) {
      ++before;
    }
    if (before == static_cast<int>(layout.pictures.size())) break;  // no picture follows
    const int tr = layout.pictures[static_cast<std::size_t>(before)].temporalReference;
    entries.push_back({tr + before, before, static_cast<std::int32_t>(group), 0});
  }
  return entries;
}

Frames RgbFromYuv(const std::vector<std::uint8_t>& yuv, int width, int height) {
  const auto w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  const std::size_t lumaBytes = w * h, frameBytes = lumaBytes * 3 / 2;
  Frames frames;
  for (std::size_t at = 0; at + frameBytes <= yuv.size(); at += frameBytes) {
    std::vector<std::uint8_t> rgb(lumaBytes * 3);
    const std::uint8_t* y = &yuv[at];
    const std::uint8_t* cb = y + lumaBytes;
    const std::uint8_t* cr = cb + lumaBytes / 4;
    for (std::size_t row = 0; row < h; ++row) {
      for (std::size_t col = 0; col < w; ++col) {
        const std::size_t c = (row / 2) * (w / 2) + col / 2;
        ConvertPixel(y[row * w + col], cb[c], cr[c], &rgb[(row * w + col) * 3]);
      }
    }
    frames.push_back(std::move(rgb));
  }
  return frames;
}

std::vector<std::uint8_t> FfmpegVideoOf(const std::string& path) {
  const std::string out = path + ".video.m1v";
  if (!Run("ffmpeg -v error -y -i " + ShellQuote(path) + " -map 0:v -c copy -f mpeg1video " +
           ShellQuote(out))) {
    return {};
  }
  auto bytes = ReadFileBytes(out);
  std::remove(out.c_str());
  return bytes;
}

std::string FfprobePictureTypes(const std::string& path) {
  const auto r = RunCommand(
      "ffprobe -v error -select_streams v:0 -show_entries frame=pict_type "
      "-of csv=p=0 " +
      ShellQuote(path));
  std::string types;
  std::istringstream lines(r.output);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && (line[0] == 'I' || line[0] == 'P' || line[0] == 'B')) types += line[0];
  }
  return types;
}

std::vector<std::uint8_t> HandMadeSystemStream(const std::vector<std::uint8_t>& es,
                                               const std::vector<int>& packetBytes,
                                               std::vector<std::int64_t>* positions,
                                               std::vector<std::int64_t>* esStarts) {
  std::vector<std::uint8_t> out;
  auto pack = [&](bool systemHeader) {
    PutStartCode(out, 0xBA);
    out.insert(out.end(), {0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x00, 0x01});
    if (!systemHeader) return;
    PutStartCode(out, 0xBB);
    Put16(out, 12);
    out.insert(out.end(), {0x80, 0x00, 0x01, 0x04, 0xE1, 0xFF, 0xE0, 0xE0, 0xE6, 0xC0, 0xC0, 0x20});
  };
  pack(true);
  std::size_t done = 0;
  for (std::size_t k = 0; done < es.size(); ++k) {
    if (k > 0 && k % 3 == 0) pack(k % 6 == 0);
    const int wanted = packetBytes[std::min(k, packetBytes.size() - 1)];
    const std::size_t n = std::min(es.size() - done, static_cast<std::size_t>(wanted));
    std::vector<std::uint8_t> header;
    switch (k % 4) {
      case 0:
        header = {0x0F};
        break;
      case 1:
        header = {0xFF, 0xFF, 0x0F};
        break;
      case 2:
        header = {0x60, 0x2E, 0x21, 0x00, 0x01, 0x00, 0x01};
        break;
      default:
        header = {0x31, 0x00, 0x01, 0x00, 0x01, 0x11, 0x00, 0x01, 0x00, 0x01};
        break;
    }
    if (positions != nullptr) positions->push_back(static_cast<std::int64_t>(out.size()));
    if (esStarts != nullptr) esStarts->push_back(static_cast<std::int64_t>(done));
    PutStartCode(out, 0xE0);
    Put16(out, static_cast<int>(header.size() + n));
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), es.begin() + static_cast<std::ptrdiff_t>(done),
               es.begin() + static_cast<std::ptrdiff_t>(done + n));
    done += n;
    // A padding packet, and an audio packet whose junk looks like video start codes.
    PutStartCode(out, 0xBE);
    Put16(out, 4);
    out.insert(out.end(), {0xFF, 0xFF, 0xFF, 0xFF});
    PutStartCode(out, 0xC0);
    Put16(out, 9);
    out.insert(out.end(), {0x0F, 0x00, 0x00, 0x01, 0xB8, 0x00, 0x00, 0x01, 0x00});
  }
  PutStartCode(out, 0xB9);
  return out;
}

}  // namespace calvex::video_decoder::testing
