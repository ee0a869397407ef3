// The MP2 to WAV driver end to end: WAV files in the entry's format through the media layer,
// checked with ffprobe; cancel and full disks; and the conversion of a list entry as the front
// ends run it ("calvex convert song.mp2" writes song.wav).
#include "audio_decoder/mp2_to_wav.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "audio_decoder/decoder_test_support.h"
#include "engine/default_drivers.h"
#include "engine/dispatcher.h"
#include "engine/source_files.h"
#include "media_library/media_library.h"

namespace calvex::audio_decoder {
namespace {

using calvex::testing::RunCommand;
using calvex::testing::ShellQuote;
using calvex::testing::TempDir;

bool WavWriterLanded() {
  TempDir dir;
  media::WavWriter writer;
  const Status s =
      writer.myWAVOutputBegin(dir.File("probe.wav"), MakePcmFormat(1, 44100, 16), 44100, 16, 1);
  if (s == kOk) writer.myWAVOutputEnd();
  return s != kNotSupported;
}

#define REQUIRE_WAV_WRITER()                                                            \
  do {                                                                                  \
    CALVEX_REQUIRE_TOOL("ffprobe");                                                     \
    if (!WavWriterLanded()) GTEST_SKIP() << "the media layer's WAV writer answers 142"; \
  } while (0)

// ffprobe's view of the first stream and the duration: key -> value.
std::map<std::string, std::string> Probe(const std::string& path) {
  const auto r = RunCommand(
      "ffprobe -v error -show_entries "
      "stream=codec_name,sample_rate,channels:format=duration "
      "-of default=nw=1 " +
      ShellQuote(path));
  std::map<std::string, std::string> values;
  std::istringstream lines(r.output);
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

class Mp2ToWav : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_WAV_WRITER();
    CALVEX_REQUIRE_TOOL("twolame");
    const std::string wav = dir_.File("src.wav");
    testing::MakeTestWav(wav, 44100, 2, 1.5);
    mp2_ = dir_.File("song.mp2");
    ASSERT_EQ(
        RunCommand("twolame --quiet -b 192 " + ShellQuote(wav) + " " + ShellQuote(mp2_)).exitCode,
        0);
    seconds_ = static_cast<double>(testing::DecodeToMemory(mp2_).samples.size() / 2) / 44100.0;
  }

  Status Convert(const WaveFormat& format, int divisor, const std::string& out,
                 ConversionContext& context) {
    Mp2ToWavJob job;
    job.source = mp2_;
    job.destination = out;
    job.format = format;
    job.rateDivisor = divisor;
    job.bitsPerSample = format.bitsPerSample;
    return ConvertMp2ToWav(job, context);
  }

  TempDir dir_;
  std::string mp2_;
  double seconds_ = 0;
};

TEST_F(Mp2ToWav, WritesTheEntrysFormat) {
  struct Case {
    const char* codec;
    WaveFormat format;
    int divisor;
  };
  WaveFormat adpcm = MakePcmFormat(2, 22050, 4);
  adpcm.formatTag = kWaveFormatMsAdpcm;
  adpcm.blockAlign = 1024;
  adpcm.avgBytesPerSec = 22311;
  for (const Case& c :
       {Case{"pcm_s16le", MakePcmFormat(2, 44100, 16), 1},
        Case{"pcm_u8", MakePcmFormat(1, 22050, 8), 2},
        Case{"pcm_s16le", MakePcmFormat(1, 11025, 16), 4}, Case{"adpcm_ms", adpcm, 2}}) {
    const std::string out = dir_.File("out.wav");
    StandaloneContext context;
    ASSERT_EQ(Convert(c.format, c.divisor, out, context.get()), kOk) << c.codec;
    auto p = Probe(out);
    EXPECT_EQ(p["codec_name"], c.codec);
    EXPECT_EQ(p["sample_rate"], std::to_string(c.format.samplesPerSec));
    EXPECT_EQ(p["channels"], std::to_string(c.format.channels));
    EXPECT_NEAR(std::atof(p["duration"].c_str()), seconds_, 0.05) << c.codec;
  }
}

TEST_F(Mp2ToWav, CancelAndFullDiskLeaveNoFile) {
  const std::string out = dir_.File("out.wav");
  testing::CancellingHost host(5);
  RunFlags flags;
  ConversionContext cancelling(host, flags);
  EXPECT_EQ(Convert(MakePcmFormat(2, 44100, 16), 1, out, cancelling), kCancelled);
  EXPECT_FALSE(std::filesystem::exists(out));

  std::filesystem::create_symlink("/dev/full", dir_.File("full.wav"));
  StandaloneContext context;
  EXPECT_EQ(Convert(MakePcmFormat(2, 44100, 16), 1, dir_.File("full.wav"), context.get()),
            kDiskFull);
  EXPECT_TRUE(context.get().DiskFull());
  EXPECT_TRUE(std::filesystem::exists("/dev/full"));
}

// The fixture's song, and one at a half sampling rate (ID bit 0, ISO/IEC 13818-3).
TEST_F(Mp2ToWav, ListEntryConvertsToAWavBesideIt) {
  const std::string halfWav = dir_.File("half_source.wav"), half = dir_.File("half.mp2");
  testing::MakeTestWav(halfWav, 22050, 2, 1.5);
  ASSERT_EQ(
      RunCommand("twolame --quiet -b 64 " + ShellQuote(halfWav) + " " + ShellQuote(half)).exitCode,
      0);
  struct Case {
    std::string mp2, wav;
    int rate;
    double seconds;
  };
  for (const Case& c : {Case{mp2_, dir_.File("song.wav"), 44100, seconds_},
                        Case{half, dir_.File("half.wav"), 22050, 1.5}}) {
    SourceEntry entry;
    ASSERT_EQ(MakeSourceEntry(c.mp2, DefaultInfoReaders(), entry), kOk);
    EXPECT_EQ(entry.mp2Info.sampleRate, c.rate);
    EXPECT_EQ(entry.mp2Info.layer, 2);
    StandaloneContext context;
    ASSERT_EQ(ConvertEntry(entry, dir_.path().string(), DefaultDrivers(), context.get()),
              kEntryConverted);
    ASSERT_TRUE(std::filesystem::exists(c.wav));
    auto p = Probe(c.wav);
    EXPECT_EQ(p["codec_name"], "pcm_s16le");
    EXPECT_EQ(p["sample_rate"], std::to_string(c.rate));
    EXPECT_NEAR(std::atof(p["duration"].c_str()), c.seconds, 0.1);
  }
}

}  // namespace
}  // namespace calvex::audio_decoder
