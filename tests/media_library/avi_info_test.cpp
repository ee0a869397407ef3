// The AVI information block, and what the readers do with files that are not good AVIs.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "core/bitmap.h"
#include "media_library/media_fixtures.h"
#include "media_library/media_library.h"

namespace calvex::media {
namespace {

using testing::Ffmpeg;
using testing::ProbeValue;
using testing::ShellQuote;

// Sum of the packet sizes ffprobe finds in one stream.
std::uint32_t PacketBytes(const std::string& path, const std::string& stream) {
  const std::string sizes = ProbeValue(path, "packet=size", stream);
  std::uint32_t total = 0;
  std::size_t at = 0;
  while (at < sizes.size()) {
    total += static_cast<std::uint32_t>(std::stoul(sizes.substr(at)));
    at = sizes.find('\n', at);
    if (at == std::string::npos) break;
    ++at;
  }
  return total;
}

TEST(AviInfo, RatesAndFrameCounts) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const struct {
    const char* rate;
    std::uint32_t packed;
    int frames;
  } cases[] = {{"15", 15u << 16 | 1, 6},
               {"24000/1001", 24000u << 16 | 1001, 10},
               {"25", 25u << 16 | 1, 10},
               {"30000/1001", 30000u << 16 | 1001, 12},
               {"30", 30u << 16 | 1, 12}};
  for (const auto& c : cases) {
    const std::string avi = dir.File("r.avi");
    ASSERT_TRUE(Ffmpeg(std::string("-f lavfi -i testsrc=size=32x24:rate=") + c.rate +
                       ":duration=0.4 -c:v ffv1 " + ShellQuote(avi)));
    AviInfo info;
    EXPECT_EQ(RAVIGetInfo(avi, info), kAviNoAudio) << c.rate;
    EXPECT_EQ(info.frameRatePacked, c.packed) << c.rate;
    EXPECT_EQ(info.frameCount, c.frames) << c.rate;
    EXPECT_NEAR(info.videoDurationHundredths, 40, 1) << c.rate;
  }
}

TEST(AviInfo, FillsEveryFieldFromTheFile) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::string avi = dir.File("movie.avi");
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -f lavfi -i "
             "sine=r=44100:d=1 -c:v mjpeg -c:a pcm_s16le -ac 2 " +
             ShellQuote(avi)));
  AviInfo info;
  ASSERT_EQ(RAVIGetInfo(avi, info), kOk);
  EXPECT_STREQ(info.path, avi.c_str());
  EXPECT_STREQ(info.compressionName, "Motion JPEG");
  EXPECT_EQ(info.fileSize, std::filesystem::file_size(avi));
  EXPECT_EQ(info.frameRatePacked, 25u << 16 | 1);
  EXPECT_EQ(info.frameCount, 25);
  EXPECT_EQ(info.width, 160);
  EXPECT_EQ(info.height, 120);
  EXPECT_EQ(info.bitsPerPixel, 24);
  EXPECT_EQ(info.videoDataSize, PacketBytes(avi, "v:0"));
  EXPECT_EQ(info.audioDataSize, 44100u * 4);
  EXPECT_EQ(info.compressionRatioTenths, info.videoDataSize * 1000u / (25u * 480 * 120));
  EXPECT_EQ(info.audioFormatTag, 1);
  EXPECT_EQ(info.audioSampleRate, 44100);
  EXPECT_EQ(info.audioChannels, 2);
  EXPECT_EQ(info.audioBitsPerSample, 16);
}

TEST(AviInfo, UncompressedAndCompressedAudioDescriptions) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::string raw = dir.File("raw.avi");
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc=size=33x21:rate=10:duration=0.5 -f lavfi -i "
             "sine=r=11025:d=0.5 -c:v rawvideo -pix_fmt bgr24 -c:a adpcm_ms " +
             ShellQuote(raw)));
  AviInfo info;
  ASSERT_EQ(RAVIGetInfo(raw, info), kOk);
  EXPECT_STREQ(info.compressionName, "");
  EXPECT_EQ(info.compressionRatioTenths, 1000);
  EXPECT_EQ(info.audioFormatTag, kWaveFormatMsAdpcm);
  EXPECT_EQ(info.audioSampleRate, 11025);
  EXPECT_EQ(info.audioChannels, 1);
  EXPECT_EQ(info.audioBitsPerSample, 4);

  const std::string mp3 = dir.File("mp3.avi");
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc=size=32x24:rate=10:duration=0.5 -f lavfi -i "
             "sine=r=22050:d=0.5 -c:v mpeg4 -c:a libmp3lame " +
             ShellQuote(mp3)));
  ASSERT_EQ(RAVIGetInfo(mp3, info), kOk);
  EXPECT_STREQ(info.compressionName, "MPEG-4 part 2");
  EXPECT_EQ(info.audioFormatTag, 0x55);
  EXPECT_EQ(info.audioSampleRate, 22050);
}

TEST(AviBadInput, MissingEmptyAndForeignFilesCannotBeOpened) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::string empty = dir.File("empty.avi");
  testing::WriteFileBytes(empty, {});
  const std::string text = dir.File("text.avi");
  const std::string words = "This is not a movie at all, just some words in a file.\n";
  testing::WriteFileBytes(text, std::vector<std::uint8_t>(words.begin(), words.end()));
  const std::string wav = dir.File("sound.avi");
  ASSERT_TRUE(Ffmpeg("-f lavfi -i sine=r=8000:d=0.2 -f wav " + ShellQuote(wav)));

  for (const std::string& path : {dir.File("missing.avi"), empty, text, wav}) {
    AviInfo info;
    EXPECT_EQ(RAVIGetInfo(path, info), kMediaAviOpen1) << path;
    AviReader reader;
    BitmapInfoHeader request = MakeBitmapHeader24(32, 32);
    AviOpenInfo open;
    EXPECT_EQ(reader.RAVIOpen(path, request, open), kMediaAviOpen1) << path;
    std::vector<std::uint8_t> dib(request.sizeImage);
    EXPECT_NE(reader.RAVIGetFrame(0, dib.data()), kOk);
    AviAudioReader audio;
    WaveFormat format;
    AudioSectionRequest whole;
    EXPECT_EQ(audio.RAVIAudioOpen(path, format, whole), kMediaAviOpen1) << path;
  }
}

TEST(AviBadInput, AudioOnlyAviHasNoVideo) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::string avi = dir.File("audio.avi");
  ASSERT_TRUE(Ffmpeg("-f lavfi -i sine=r=8000:d=0.5 -c:a pcm_u8 " + ShellQuote(avi)));
  AviInfo info;
  EXPECT_EQ(RAVIGetInfo(avi, info), kAviNoVideo);
  AviReader reader;
  BitmapInfoHeader request = MakeBitmapHeader24(32, 32);
  AviOpenInfo open;
  EXPECT_EQ(reader.RAVIOpen(avi, request, open), kAviNoVideo);
  // Its sound is still there for whoever asks for it.
  AviAudioReader audio;
  WaveFormat format;
  AudioSectionRequest whole;
  EXPECT_EQ(audio.RAVIAudioOpen(avi, format, whole), kOk);
  EXPECT_EQ(whole.frameCount, 4000);
}

// A copy that broke off: the frames that made it are read, and the count says how many.
TEST(AviBadInput, TruncatedFileGivesTheFramesItHolds) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::string whole = dir.File("whole.avi");
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc=size=96x64:rate=25:duration=2 -f lavfi -i "
             "sine=r=8000:d=2 -c:v mjpeg -c:a pcm_s16le " +
             ShellQuote(whole)));
  std::vector<std::uint8_t> bytes = testing::ReadFileBytes(whole);
  bytes.resize(bytes.size() * 45 / 100);
  const std::string cut = dir.File("cut.avi");
  testing::WriteFileBytes(cut, bytes);
  const int present = std::stoi(ProbeValue(cut, "stream=nb_read_packets -count_packets", "v:0"));
  ASSERT_GT(present, 5);
  ASSERT_LT(present, 50);

  AviInfo info;
  EXPECT_EQ(RAVIGetInfo(cut, info), kOk);
  EXPECT_EQ(info.frameCount, present);
  AviReader reader;
  BitmapInfoHeader request = MakeBitmapHeader24(96, 64);
  AviOpenInfo open;
  ASSERT_EQ(reader.RAVIOpen(cut, request, open), kOk);
  EXPECT_EQ(open.frameCount, present);
  const auto expected = testing::FfmpegFrames(cut, 96, 64);
  std::vector<std::uint8_t> dib(request.sizeImage);
  for (int n : {present - 1, 0, present / 2}) {
    ASSERT_EQ(reader.RAVIGetFrame(n, dib.data()), kOk) << n;
    // The last chunk may itself be cut short: the part of the picture it lacks keeps whatever
    // the decoder's buffer held, which depends on the pictures still in use.
    if (n == present - 1)
      EXPECT_GT(testing::Psnr(dib, expected.at(static_cast<std::size_t>(n))), 30) << n;
    else
      EXPECT_EQ(dib, expected.at(static_cast<std::size_t>(n))) << n;
  }
  EXPECT_EQ(reader.RAVIGetFrame(present, dib.data()), kAviDecodeFailed);

  // The sound is as long as what is left of it.
  AviAudioReader audio;
  WaveFormat format;
  AudioSectionRequest section;
  ASSERT_EQ(audio.RAVIAudioOpen(cut, format, section), kOk);
  EXPECT_EQ(static_cast<std::size_t>(section.frameCount) * 2,
            testing::FfmpegAudio(cut, "s16le").size());
}

// Replaces every occurrence of a four-character code in a file.
void PatchFourcc(const std::string& path, const std::string& from, const std::string& to) {
  std::vector<std::uint8_t> bytes = testing::ReadFileBytes(path);
  for (std::size_t at = 0; (at = testing::FindTag(bytes, from, at)) != std::string::npos;)
    std::memcpy(&bytes[at], to.data(), 4);
  testing::WriteFileBytes(path, bytes);
}

TEST(AviBadInput, UnknownCodecIsNamedButNotDecoded) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::string avi = dir.File("odd.avi");
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc=size=32x24:rate=10:duration=0.3 -c:v ffv1 " + ShellQuote(avi)));
  PatchFourcc(avi, "FFV1", "QZX7");
  AviInfo info;
  EXPECT_EQ(RAVIGetInfo(avi, info), kAviNoAudio);
  EXPECT_STREQ(info.compressionName, "QZX7");
  AviReader reader;
  BitmapInfoHeader request = MakeBitmapHeader24(32, 24);
  AviOpenInfo open;
  EXPECT_EQ(reader.RAVIOpen(avi, request, open), kVideoFormatUnreadable);
}

// Damaged picture data never crashes the reader; every frame comes back with 0 or 106.
TEST(AviBadInput, CorruptedPicturesAreSurvived) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const std::string avi = dir.File("bad.avi");
  ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc=size=96x64:rate=25:duration=1 -c:v mpeg4 -bf 2 -g 8 " +
                     ShellQuote(avi)));
  std::vector<std::uint8_t> bytes = testing::ReadFileBytes(avi);
  const std::size_t movi = testing::FindTag(bytes, "movi");
  ASSERT_NE(movi, std::string::npos);
  std::uint32_t seed = 12345;
  for (std::size_t i = movi + 200; i + 16 < bytes.size() * 9 / 10; i += 97) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<std::uint8_t>(seed >> 16);
  }
  testing::WriteFileBytes(avi, bytes);
  AviReader reader;
  BitmapInfoHeader request = MakeBitmapHeader24(96, 64);
  AviOpenInfo open;
  if (reader.RAVIOpen(avi, request, open) != kOk) return;
  std::vector<std::uint8_t> dib(request.sizeImage);
  for (int n = 0; n < open.frameCount; ++n) {
    const Status s = reader.RAVIGetFrame(n, dib.data());
    EXPECT_TRUE(s == kOk || s == kAviDecodeFailed) << s;
  }
  for (int n = open.frameCount - 1; n >= 0; n -= 3) reader.RAVIGetFrame(n, dib.data());
}

}  // namespace
}  // namespace calvex::media
