// WAV files through the media layer: PCM as stored, other formats decoded, bad files refused.
#include <gtest/gtest.h>

#include <cstring>

#include "media_library/media_fixtures.h"
#include "media_library/media_library.h"

namespace calvex::media {
namespace {

using testing::Ffmpeg;
using testing::ShellQuote;

std::vector<std::uint8_t> ReadAll(WaveReader& reader) {
  std::vector<std::uint8_t> all;
  std::vector<std::uint8_t> buffer(4608);
  for (;;) {
    std::size_t n = 0;
    EXPECT_EQ(reader.ReadWave(buffer.data(), 4607, n), kOk);
    if (n == 0) break;
    all.insert(all.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
  }
  return all;
}

std::string MakeWav(const testing::TempDir& dir, const std::string& name, int rate,
                    const std::string& options, double seconds = 0.7) {
  const std::string wav = dir.File(name + ".wav");
  Ffmpeg("-f lavfi -i \"sine=f=330:r=" + std::to_string(rate) + ":d=" + std::to_string(seconds) +
         ",volume=5\" " + options + " " + ShellQuote(wav));
  return wav;
}

// A minimal RIFF WAVE file from its chunks.
std::vector<std::uint8_t> Riff(
    const std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& chunks,
    std::uint32_t declaredDataSize = 0) {
  std::vector<std::uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  for (const auto& [id, body] : chunks) {
    out.insert(out.end(), id.begin(), id.end());
    const std::uint32_t size = id == "data" && declaredDataSize != 0
                                   ? declaredDataSize
                                   : static_cast<std::uint32_t>(body.size());
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
    out.insert(out.end(), body.begin(), body.end());
  }
  const std::uint32_t riff = static_cast<std::uint32_t>(out.size() - 8);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
  return out;
}

std::vector<std::uint8_t> PcmFmt(int channels, int rate, int bits) {
  const WaveFormat f = MakePcmFormat(channels, rate, bits);
  std::vector<std::uint8_t> b(16);
  std::memcpy(b.data(), &f, 16);
  return b;
}

struct PcmWavCase {
  const char* name;
  int rate;
  int channels;
  int bits;
  int multiplier;  // the encoder's rate multiplication
};

class PcmWavTest : public ::testing::TestWithParam<PcmWavCase> {};

TEST_P(PcmWavTest, DeliversTheDataChunkAndItsCounts) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const PcmWavCase& c = GetParam();
  testing::TempDir dir;
  const std::string wav = MakeWav(dir, c.name, c.rate,
                                  std::string("-ac ") + std::to_string(c.channels) +
                                      (c.bits == 8 ? " -c:a pcm_u8" : " -c:a pcm_s16le"));
  WaveReader reader;
  WaveRecord record;
  ASSERT_EQ(reader.OpenWaveFile(wav, record), kOk);
  EXPECT_EQ(record.format.formatTag, kWaveFormatPcm);
  EXPECT_EQ(record.format.samplesPerSec, static_cast<std::uint32_t>(c.rate));
  EXPECT_EQ(record.format.channels, c.channels);
  EXPECT_EQ(record.format.bitsPerSample, c.bits);
  const auto expected = testing::FfmpegAudio(wav, c.bits == 8 ? "u8" : "s16le");
  const std::size_t block = static_cast<std::size_t>(c.channels * c.bits / 8);
  EXPECT_EQ(record.sampleFrames, expected.size() / block);
  EXPECT_EQ(record.totalValues, record.sampleFrames * c.channels * c.multiplier);
  EXPECT_EQ(ReadAll(reader), expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, PcmWavTest,
                         ::testing::Values(PcmWavCase{"u8_mono_8000", 8000, 1, 8, 4},
                                           PcmWavCase{"u8_stereo_11025", 11025, 2, 8, 4},
                                           PcmWavCase{"s16_mono_12000", 12000, 1, 16, 4},
                                           PcmWavCase{"s16_mono_22050", 22050, 1, 16, 2},
                                           PcmWavCase{"s16_stereo_24000", 24000, 2, 16, 2},
                                           PcmWavCase{"s16_stereo_32000", 32000, 2, 16, 1},
                                           PcmWavCase{"s16_stereo_44100", 44100, 2, 16, 1},
                                           PcmWavCase{"s16_mono_48000", 48000, 1, 16, 1},
                                           PcmWavCase{"s16_mono_37800", 37800, 1, 16, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// Compressed WAV formats come out as 16-bit PCM, as ffmpeg decodes them, as long as the file
// says its samples are.
TEST(WaveReader, CompressedFormatsDecodeTo16Bit) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  for (const auto& [name, rate, options] :
       {std::tuple{"adpcm_ms", 22050, "-c:a adpcm_ms -ac 2"},
        std::tuple{"adpcm_ima", 11025, "-c:a adpcm_ima_wav"},
        std::tuple{"mulaw", 8000, "-c:a pcm_mulaw"}, std::tuple{"alaw", 8000, "-c:a pcm_alaw"},
        std::tuple{"gsm", 8000, "-c:a libgsm_ms"},
        std::tuple{"mp3", 44100, "-c:a libmp3lame -b:a 64k"}}) {
    const std::string wav = MakeWav(dir, name, rate, options);
    WaveReader reader;
    WaveRecord record;
    ASSERT_EQ(reader.OpenWaveFile(wav, record), kOk) << name;
    EXPECT_EQ(record.format.formatTag, kWaveFormatPcm) << name;
    EXPECT_EQ(record.format.bitsPerSample, 16) << name;
    EXPECT_EQ(record.format.samplesPerSec, static_cast<std::uint32_t>(rate)) << name;
    const auto samples = ReadAll(reader);
    EXPECT_EQ(samples.size(), std::size_t{record.sampleFrames} * record.format.blockAlign) << name;
    // Within a block of the length the file holds (blocks are filled up at the end).
    EXPECT_NEAR(record.sampleFrames, rate * 0.7, 1200) << name;
    const auto expected = testing::FfmpegAudio(wav, "s16le");
    ASSERT_LE(samples.size(), expected.size()) << name;
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), expected.begin())) << name;
  }
}

// Sample sizes and channel counts the encoder cannot take, and floating-point samples, are passed
// on as they are, for it to refuse with its own codes.
TEST(WaveReader, UnusualPcmIsReportedAsItIs) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  WaveReader reader;
  WaveRecord record;
  for (const auto& [name, tag, bits] : {std::tuple{"s24le", kWaveFormatPcm, 24},
                                        std::tuple{"f32le", std::uint16_t{3}, 32}}) {
    const std::string wav = MakeWav(dir, name, 44100, std::string("-c:a pcm_") + name);
    ASSERT_EQ(reader.OpenWaveFile(wav, record), kOk) << name;
    EXPECT_EQ(record.format.formatTag, tag) << name;
    EXPECT_EQ(record.format.bitsPerSample, bits) << name;
    EXPECT_EQ(record.format.blockAlign, bits / 8) << name;
    EXPECT_EQ(ReadAll(reader), testing::FfmpegAudio(wav, name)) << name;
  }

  const std::string six = MakeWav(dir, "six", 48000, "-ac 6 -c:a pcm_s16le");
  ASSERT_EQ(reader.OpenWaveFile(six, record), kOk);
  EXPECT_EQ(record.format.channels, 6);
  EXPECT_EQ(record.format.bitsPerSample, 16);
}

TEST(WaveReader, BadFilesGetTheirCodes) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const auto write = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
    testing::WriteFileBytes(dir.File(name), bytes);
    return dir.File(name);
  };
  const std::string avi = dir.File("movie.wav");
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc=size=32x24:duration=0.1 -c:v ffv1 -f avi " + ShellQuote(avi)));
  const std::vector<std::uint8_t> someData(100, 0x80);
  const struct {
    std::string path;
    Status expected;
  } cases[] = {
      {dir.File("missing.wav"), kOpenFailed},
      {write("empty.wav", {}), kNotWav},
      {write("text.wav", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!'}),
       kNotWav},
      {avi, kNotWav},
      {write("nofmt.wav", Riff({{"data", someData}})), kWavCorrupted},
      {write("nodata.wav", Riff({{"fmt ", PcmFmt(1, 8000, 8)}})), kWavCorrupted},
      {write("shortfmt.wav", Riff({{"fmt ", {1, 0, 1, 0}}, {"data", someData}})), kWavCorrupted},
      {write("nochannels.wav", Riff({{"fmt ", PcmFmt(0, 8000, 8)}, {"data", someData}})),
       kWavCorrupted},
      {write("cutfmt.wav",
             std::vector<std::uint8_t>{'R', 'I', 'F', 'F', 99,  0,  0, 0, 'W', 'A', 'V',
                                       'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,   1,   0}),
       kWavCorrupted},
  };
  for (const auto& c : cases) {
    WaveReader reader;
    WaveRecord record;
    EXPECT_EQ(reader.OpenWaveFile(c.path, record), c.expected) << c.path;
    std::uint8_t buffer[8];
    std::size_t n = 5;
    EXPECT_NE(reader.ReadWave(buffer, sizeof buffer, n), kOk);
    EXPECT_EQ(n, 0u);
    WavInfo info;
    EXPECT_EQ(ReadWavInfo(c.path, info), c.expected) << c.path;
  }
  // A format no decoder knows.
  std::vector<std::uint8_t> odd = PcmFmt(1, 8000, 4);
  odd[0] = 0x34;
  odd[1] = 0x12;
  WaveReader reader;
  WaveRecord record;
  EXPECT_EQ(
      reader.OpenWaveFile(write("odd.wav", Riff({{"fmt ", odd}, {"data", someData}})), record),
      kWavNotPcm);
}

// A file without a sample to code (an empty data chunk) or whose ADPCM blocks are not where its
// block alignment says is refused, not read as silence or noise; its information still reads.
TEST(WaveReader, FilesWithoutUsableSamplesAreCorrupted) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::vector<std::uint8_t> ms =
      testing::ReadFileBytes(MakeWav(dir, "ms", 22050, "-ac 1 -c:a adpcm_ms"));
  const std::vector<std::uint8_t> ima =
      testing::ReadFileBytes(MakeWav(dir, "ima", 11025, "-ac 2 -c:a adpcm_ima_wav"));
  // `value` written over the `width` bytes at `at` from the start of the first `chunk`.
  const auto patched = [](std::vector<std::uint8_t> bytes, const char* chunk, std::size_t at,
                          std::uint32_t value, int width) {
    const std::size_t field = testing::FindTag(bytes, chunk) + at;
    for (int i = 0; i < width; ++i) bytes[field + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
  };
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {"empty PCM", Riff({{"fmt ", PcmFmt(2, 22050, 16)}, {"data", {}}})},
      {"empty ADPCM", patched(ms, "data", 4, 0, 4)},
      {"ADPCM aligned to 0", patched(ms, "fmt ", 20, 0, 2)},
      {"ADPCM aligned to 255", patched(ms, "fmt ", 20, 255, 2)},
      {"IMA aligned to 0", patched(ima, "fmt ", 20, 0, 2)},
      {"IMA aligned to 1023", patched(ima, "fmt ", 20, 1023, 2)},
  };
  for (const auto& c : cases) {
    const std::string path = dir.File("bad.wav");
    testing::WriteFileBytes(path, c.bytes);
    WaveReader reader;
    WaveRecord record;
    EXPECT_EQ(reader.OpenWaveFile(path, record), kWavCorrupted) << c.name;
    WavInfo info;
    EXPECT_EQ(ReadWavInfo(path, info), kOk) << c.name;
  }
}

// A data chunk that claims more than the file holds (a copy that broke off, or a header never
// filled in) is read as far as the file goes, without taking memory for what it claims.
TEST(WaveReader, OverstatedDataSizeIsCutToTheFile) {
  testing::TempDir dir;
  std::vector<std::uint8_t> samples(1001);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i * 7);
  for (const std::uint32_t declared : {0xFFFFFFFFu, 0x7FFFFFF0u, 5000u}) {
    const std::string path = dir.File("big.wav");
    testing::WriteFileBytes(
        path, Riff({{"fmt ", PcmFmt(1, 11025, 16)}, {"LIST", {1, 2, 3, 4}}, {"data", samples}},
                   declared));
    WaveReader reader;
    WaveRecord record;
    ASSERT_EQ(reader.OpenWaveFile(path, record), kOk);
    EXPECT_EQ(record.sampleFrames, 500u);
    EXPECT_EQ(record.totalValues, 2000u);
    const auto all = ReadAll(reader);
    EXPECT_EQ(all, std::vector<std::uint8_t>(samples.begin(), samples.begin() + 1000));
  }
}

TEST(WavInfo, FillsTheBlock) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::string wav = MakeWav(dir, "a", 22050, "-ac 2 -c:a pcm_s16le", 1.5);
  WavInfo info;
  ASSERT_EQ(ReadWavInfo(wav, info), kOk);
  EXPECT_STREQ(info.path, wav.c_str());
  EXPECT_EQ(info.fileSize, testing::ReadFileBytes(wav).size());
  EXPECT_EQ(info.formatTag, kWaveFormatPcm);
  EXPECT_EQ(info.sampleRate, 22050);
  EXPECT_EQ(info.bitsPerSample, 16);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.durationHundredths, 150);

  const std::string adpcm = MakeWav(dir, "b", 11025, "-c:a adpcm_ms", 1.0);
  ASSERT_EQ(ReadWavInfo(adpcm, info), kOk);
  EXPECT_EQ(info.formatTag, kWaveFormatMsAdpcm);
  EXPECT_EQ(info.bitsPerSample, 4);
  EXPECT_NEAR(info.durationHundredths, 100, 15);  // whole blocks

  // Longer than the 16-bit field can count: the largest value, not a wrapped one.
  std::vector<std::uint8_t> slow = PcmFmt(1, 8000, 8);
  slow[8] = 1;  // one byte per second
  slow[9] = slow[10] = slow[11] = 0;
  const std::string path = dir.File("long.wav");
  testing::WriteFileBytes(path, Riff({{"fmt ", slow}, {"data", std::vector<std::uint8_t>(700)}}));
  ASSERT_EQ(ReadWavInfo(path, info), kOk);
  EXPECT_EQ(info.durationHundredths, 65535);
}

}  // namespace
}  // namespace calvex::media
