// AVI files written by the media layer, checked with ffprobe, ffmpeg and the layer's own reader.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/bitmap.h"
#include "media_library/media_fixtures.h"
#include "media_library/media_library.h"

namespace calvex::media {
namespace {

using testing::ProbeValue;

MpegToAviParams Record(std::int32_t compressor = 0) {
  MpegToAviParams p;
  p.compressor = compressor;
  p.interleave = 1;
  p.packEveryFrames = 1;
  p.keyFrameEvery = 1;
  p.dataType = 24;
  return p;
}

std::int32_t Code(const char* fourcc) {
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(fourcc[0]) | static_cast<std::uint32_t>(fourcc[1]) << 8 |
      static_cast<std::uint32_t>(fourcc[2]) << 16 | static_cast<std::uint32_t>(fourcc[3]) << 24);
}

struct Movie {
  int width = 160;
  int height = 120;
  int frames = 10;
  std::uint32_t rate = 30;
  std::uint32_t scale = 1;
  std::string pcmPath;  // empty: no sound
  WaveFormat pcmFormat{};
  std::uint32_t pcmBytes = 0;
  // Pictures to write instead of the smooth test pictures (bottom-up DIBs of the movie's size).
  std::vector<std::vector<std::uint8_t>> pictures;
};

// ffmpeg's detailed test pattern as bottom-up DIBs (width x 3 a multiple of 4).
std::vector<std::vector<std::uint8_t>> DetailedPictures(const testing::TempDir& dir, int width,
                                                        int height, int frames) {
  const std::string raw = dir.File("detailed.bgr");
  EXPECT_TRUE(testing::Ffmpeg("-f lavfi -i testsrc2=size=" + std::to_string(width) + "x" +
                              std::to_string(height) + ":rate=30 -frames:v " +
                              std::to_string(frames) + " -vf vflip -pix_fmt bgr24 -f rawvideo " +
                              testing::ShellQuote(raw)));
  const auto bytes = testing::ReadFileBytes(raw);
  const std::size_t size = static_cast<std::size_t>(width) * height * 3;
  std::vector<std::vector<std::uint8_t>> pictures;
  for (std::size_t at = 0; at + size <= bytes.size(); at += size)
    pictures.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                          bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
  return pictures;
}

// Writes the test pictures of `movie` through an AviWriter; returns the status of aviSaveEnd.
Status WriteMovie(const std::string& path, const Movie& movie, const MpegToAviParams& record) {
  AviWriter writer;
  const BitmapInfoHeader header = MakeBitmapHeader24(movie.width, movie.height);
  AviStreamInfo info;
  info.rate = movie.rate;
  info.scale = movie.scale;
  info.audioByteTotal = movie.pcmBytes;
  const Status begun =
      writer.aviSaveBegin(header, movie.pcmPath.empty() ? nullptr : &movie.pcmFormat, info, path,
                          record, movie.frames, movie.pcmPath);
  if (begun != kOk) return begun;
  for (int i = 0; i < movie.frames; ++i) {
    const auto picture = movie.pictures.empty() ? testing::TestPicture(movie.width, movie.height, i)
                                                : movie.pictures.at(static_cast<std::size_t>(i));
    if (const Status s = writer.aviSaveFrames(header, picture.data(), i); s != kOk) return s;
  }
  return writer.aviSaveEnd();
}

// The frames of an AVI through the layer's reader, at the file's own size.
std::vector<std::vector<std::uint8_t>> ReadBack(const std::string& path, int& width, int& height) {
  AviReader reader;
  BitmapInfoHeader request;
  request.width = 0;
  request.height = 0;
  AviOpenInfo info;
  std::vector<std::vector<std::uint8_t>> frames;
  EXPECT_EQ(reader.RAVIOpen(path, request, info), kOk);
  width = request.width;
  height = request.height;
  for (int i = 0; i < info.frameCount; ++i) {
    std::vector<std::uint8_t> dib(request.sizeImage);
    EXPECT_EQ(reader.RAVIGetFrame(i, dib.data()), kOk);
    frames.push_back(std::move(dib));
  }
  return frames;
}

// 16-bit PCM of a sine written to a raw temporary file.
Movie WithSound(const testing::TempDir& dir, Movie movie, int rate, int channels) {
  const auto samples = testing::SineSamples(
      rate, channels, static_cast<double>(movie.frames) * movie.scale / movie.rate, 440);
  std::vector<std::uint8_t> bytes(samples.size() * 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(samples[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>((samples[i] >> 8) & 0xFF);
  }
  movie.pcmPath = dir.File("~audio.tmp");
  testing::WriteFileBytes(movie.pcmPath, bytes);
  movie.pcmFormat = MakePcmFormat(channels, rate, 16);
  movie.pcmBytes = static_cast<std::uint32_t>(bytes.size());
  return movie;
}

TEST(AviWriter, UncompressedFramesRoundTripExactly) {
  CALVEX_REQUIRE_TOOL("ffprobe");
  testing::TempDir dir;
  const std::string avi = dir.File("raw.avi");
  Movie movie;
  movie.width = 161;
  movie.height = 121;
  movie.frames = 12;
  movie.rate = 30000;
  movie.scale = 1001;
  ASSERT_EQ(WriteMovie(avi, movie, Record()), kOk);
  EXPECT_EQ(ProbeValue(avi, "stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_frames", "v"),
            "rawvideo\n161\n121\nbgr24\n30000/1001\n12");
  int w = 0, h = 0;
  const auto frames = ReadBack(avi, w, h);
  ASSERT_EQ(frames.size(), 12u);
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ(frames[static_cast<std::size_t>(i)], testing::TestPicture(161, 121, i)) << i;
  // ffmpeg sees the same pictures (bottom-up storage is understood).
  const auto viaFfmpeg = testing::FfmpegFrames(avi, 161, 121);
  ASSERT_EQ(viaFfmpeg.size(), 12u);
  EXPECT_EQ(viaFfmpeg[5], testing::TestPicture(161, 121, 5));
}

TEST(AviWriter, EveryCodecWritesFilesFfmpegDecodes) {
  CALVEX_REQUIRE_TOOL("ffprobe");
  std::vector<VideoCodecEntry> codecs;
  aviListCodec(0, codecs);
  ASSERT_GE(codecs.size(), 2u);
  testing::TempDir dir;
  for (std::size_t i = 1; i < codecs.size(); ++i) {
    const VideoCodecEntry& codec = codecs[i];
    const std::string avi = dir.File("c" + std::to_string(i) + ".avi");
    MpegToAviParams record = Record(codec.handler);
    record.quality = 7500;
    record.keyFrameEvery = 5;
    Movie movie;
    movie.frames = 10;
    ASSERT_EQ(WriteMovie(avi, movie, record), kOk) << codec.name;
    const std::string tag(reinterpret_cast<const char*>(&codec.handler), 4);
    EXPECT_EQ(ProbeValue(avi, "stream=codec_tag_string,nb_frames", "v"), tag + "\n10")
        << codec.name;
    int w = 0, h = 0;
    const auto frames = ReadBack(avi, w, h);
    ASSERT_EQ(frames.size(), 10u) << codec.name;
    EXPECT_EQ(w, 160);
    const bool lossless = codec.name.find("lossless") != std::string::npos;
    for (int f = 0; f < 10; ++f) {
      const double psnr =
          testing::Psnr(frames[static_cast<std::size_t>(f)], testing::TestPicture(160, 120, f));
      EXPECT_GE(psnr, lossless ? 1000 : 24) << codec.name << " frame " << f;
    }
    std::uint32_t flags = 0;
    std::int32_t quality = 0, keys = 0;
    bool configure = true, about = true;
    ASSERT_EQ(aviGetQKFCA(static_cast<int>(i), quality, keys, flags, configure, about), kOk);
    if (flags & kCodecSupportsTemporal) {
      // Key frames at 0 and 5 at least (a coder may make more when a picture changes a lot).
      const std::string keyFlags = ProbeValue(avi, "packet=flags", "v");
      EXPECT_EQ(keyFlags.substr(0, 1), "K") << codec.name;
      EXPECT_EQ(keyFlags.substr(5 * 3, 1), "K") << codec.name << " " << keyFlags;
      EXPECT_NE(keyFlags.find("__"), std::string::npos) << codec.name << " has no delta frames";
    }
  }
}

TEST(AviWriter, QualityTradesSizeForFidelity) {
  testing::TempDir dir;
  const std::string good = dir.File("good.avi");
  const std::string poor = dir.File("poor.avi");
  MpegToAviParams record = Record(Code("MJPG"));
  record.quality = 9500;
  ASSERT_EQ(WriteMovie(good, Movie{}, record), kOk);
  record.quality = 1500;
  ASSERT_EQ(WriteMovie(poor, Movie{}, record), kOk);
  EXPECT_GT(std::filesystem::file_size(good), std::filesystem::file_size(poor) * 3 / 2);
  int w = 0, h = 0;
  const auto fine = ReadBack(good, w, h);
  const auto coarse = ReadBack(poor, w, h);
  const auto original = testing::TestPicture(160, 120, 3);
  EXPECT_GT(testing::Psnr(fine.at(3), original), testing::Psnr(coarse.at(3), original) + 3);
}

// The record's size wins over the pictures'; block codecs take it cut to whole blocks.
TEST(AviWriter, PicturesAreScaledToTheRecordSize) {
  CALVEX_REQUIRE_TOOL("ffprobe");
  testing::TempDir dir;
  const std::string raw = dir.File("raw.avi");
  MpegToAviParams record = Record();
  record.width = 96;
  record.height = 72;
  ASSERT_EQ(WriteMovie(raw, Movie{}, record), kOk);
  EXPECT_EQ(ProbeValue(raw, "stream=width,height", "v"), "96\n72");
  const std::string cinepak = dir.File("cvid.avi");
  record = Record(Code("cvid"));
  record.width = 161;
  record.height = 123;
  ASSERT_EQ(WriteMovie(cinepak, Movie{}, record), kOk);
  EXPECT_EQ(ProbeValue(cinepak, "stream=width,height", "v"), "160\n120");
}

// 8-bit output puts every pixel on the grid of the chosen palette, at the nearest level.
TEST(AviWriter, EightBitOutputUsesTheCommonPalette) {
  CALVEX_REQUIRE_TOOL("ffprobe");
  testing::TempDir dir;
  const int levels[3][3] = {{6, 6, 6}, {8, 8, 4}, {6, 7, 6}};  // red, green, blue
  for (int choice = 0; choice < 3; ++choice) {
    const std::string avi = dir.File("pal" + std::to_string(choice) + ".avi");
    MpegToAviParams record = Record();
    record.dataType = 8;
    record.paletteChoice = choice;
    Movie movie;
    movie.width = 33;
    movie.height = 17;
    movie.frames = 3;
    ASSERT_EQ(WriteMovie(avi, movie, record), kOk);
    EXPECT_EQ(ProbeValue(avi, "stream=pix_fmt", "v"), "pal8");
    int w = 0, h = 0;
    const auto frames = ReadBack(avi, w, h);
    ASSERT_EQ(frames.size(), 3u);
    const auto original = testing::TestPicture(33, 17, 2);
    const int stride = BitmapStride(33, 24);
    for (int y = 0; y < 17; ++y)
      for (int x = 0; x < 33; ++x)
        for (int c = 0; c < 3; ++c) {  // blue, green, red in memory
          const std::size_t at = static_cast<std::size_t>(y * stride + 3 * x + c);
          const int n = levels[choice][2 - c];
          const int level = (original[at] * (n - 1) + 127) / 255;
          const int expected = (level * 255 + (n - 1) / 2) / (n - 1);
          ASSERT_EQ(frames[2][at], expected) << "palette " << choice << " at " << x << "," << y;
        }
  }
}

// Sound converted to the record's format, one chunk ahead of every group of frames.
TEST(AviWriter, SoundIsConvertedAndInterleaved) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  Movie movie;
  movie.frames = 30;
  movie = WithSound(dir, movie, 44100, 2);
  MpegToAviParams record = Record();
  record.packEveryFrames = 5;
  record.SetAudioFormat(MakePcmFormat(1, 22050, 8));
  const std::string avi = dir.File("sound.avi");
  ASSERT_EQ(WriteMovie(avi, movie, record), kOk);
  EXPECT_EQ(ProbeValue(avi, "stream=codec_name,sample_rate,channels", "a"), "pcm_u8\n22050\n1");

  const auto chunks = testing::MoviChunks(testing::ReadFileBytes(avi));
  std::string pattern;
  for (const auto& c : chunks) pattern += c.id == "01wb" ? 'a' : c.id[2] == 'd' ? 'v' : '?';
  EXPECT_EQ(pattern, "avvvvvavvvvvavvvvvavvvvvavvvvvavvvvv");

  // One second of 440 Hz, resampled and cut to 8 bits, and as long as the pictures.
  const auto pcm = testing::FfmpegAudio(avi, "s16le");
  EXPECT_NEAR(static_cast<double>(pcm.size()) / 2, 22050, 4);
  EXPECT_GT(testing::SineSnr(testing::AsSamples(pcm), 1, 0, 22050, 440), 35);
}

TEST(AviWriter, WithoutInterleavingTheSoundFollowsThePictures) {
  testing::TempDir dir;
  Movie movie;
  movie.frames = 20;
  movie.rate = 10;
  movie = WithSound(dir, movie, 11025, 1);
  MpegToAviParams record = Record();
  record.interleave = 0;
  record.SetAudioFormat(MakePcmFormat(1, 11025, 16));
  const std::string avi = dir.File("loose.avi");
  ASSERT_EQ(WriteMovie(avi, movie, record), kOk);
  std::string pattern;
  for (const auto& c : testing::MoviChunks(testing::ReadFileBytes(avi)))
    pattern += c.id == "01wb" ? 'a' : 'v';
  EXPECT_EQ(pattern, std::string(20, 'v') + "aa");  // two seconds, a chunk each
  AviAudioReader reader;
  WaveFormat format;
  AudioSectionRequest whole;
  ASSERT_EQ(reader.RAVIAudioOpen(avi, format, whole), kOk);
  EXPECT_EQ(whole.frameCount, 22050);
}

TEST(AviWriter, CompressedSoundFormats) {
  CALVEX_REQUIRE_TOOL("ffprobe");
  testing::TempDir dir;
  const struct {
    std::uint16_t tag;
    int rate;
    int channels;
    const char* codec;
    double minSnr;
  } cases[] = {{2, 22050, 2, "adpcm_ms", 20},
               {0x11, 22050, 1, "adpcm_ima_wav", 20},
               {7, 11025, 1, "pcm_mulaw", 30},
               {6, 11025, 2, "pcm_alaw", 30},
               {0x31, 8000, 1, "gsm_ms", 3}};
  for (const auto& c : cases) {
    Movie movie;
    movie.frames = 15;
    movie.rate = 15;
    movie = WithSound(dir, movie, 44100, 2);
    MpegToAviParams record = Record();
    record.packEveryFrames = 3;
    record.SetAudioFormat(WaveFormatFor(c.tag, c.channels, c.rate, 16));
    const std::string avi = dir.File(std::string(c.codec) + ".avi");
    ASSERT_EQ(WriteMovie(avi, movie, record), kOk) << c.codec;
    EXPECT_EQ(
        ProbeValue(avi, "stream=codec_name,sample_rate,channels", "a"),
        std::string(c.codec) + "\n" + std::to_string(c.rate) + "\n" + std::to_string(c.channels));
    AviAudioReader reader;
    WaveFormat format;
    AudioSectionRequest whole;
    ASSERT_EQ(reader.RAVIAudioOpen(avi, format, whole), kOk) << c.codec;
    // A second of sound, give or take the coder's last block.
    EXPECT_NEAR(whole.frameCount, c.rate, 2100) << c.codec;
    std::vector<std::uint8_t> pcm(static_cast<std::size_t>(whole.frameCount) * format.blockAlign);
    std::int32_t n = whole.frameCount;
    ASSERT_EQ(reader.RAVIAudioRead(pcm.data(), n), kOk);
    EXPECT_GT(testing::SineSnr(testing::AsSamples(pcm), c.channels, 0, c.rate, 440), c.minSnr)
        << c.codec;
  }
}

// Padding for CD-ROM puts every record on a 2048-byte boundary and changes nothing else.
TEST(AviWriter, CdRomPaddingAlignsRecords) {
  CALVEX_REQUIRE_TOOL("ffprobe");
  testing::TempDir dir;
  Movie movie;
  movie.frames = 12;
  movie.width = 80;
  movie.height = 60;
  movie = WithSound(dir, movie, 22050, 1);
  MpegToAviParams record = Record(Code("MJPG"));
  record.packEveryFrames = 4;
  record.SetAudioFormat(MakePcmFormat(1, 22050, 16));
  const std::string plain = dir.File("plain.avi");
  ASSERT_EQ(WriteMovie(plain, movie, record), kOk);
  record.padFramesForCdRom = 1;
  const std::string padded = dir.File("padded.avi");
  ASSERT_EQ(WriteMovie(padded, movie, record), kOk);

  const auto bytes = testing::ReadFileBytes(padded);
  const auto chunks = testing::MoviChunks(bytes);
  std::string previous;
  int aligned = 0;
  for (const auto& c : chunks) {
    if (c.id == "JUNK") continue;
    if (c.id == "01wb" || previous != "01wb") {
      EXPECT_EQ(c.offset % 2048, 0u) << c.id << " at " << c.offset;
      ++aligned;
    }
    previous = c.id;
  }
  EXPECT_EQ(aligned, 3 + 12 - 3);
  const std::size_t avih = testing::FindTag(bytes, "avih");
  EXPECT_EQ(testing::Le32At(bytes, avih + 8 + 8), 2048u);
  EXPECT_EQ(ProbeValue(padded, "stream=nb_frames", "v"), "12");

  int w = 0, h = 0;
  const auto a = ReadBack(plain, w, h);
  const auto b = ReadBack(padded, w, h);
  EXPECT_EQ(a, b);
  EXPECT_EQ(testing::FfmpegAudio(plain, "s16le"), testing::FfmpegAudio(padded, "s16le"));
  // Seeking goes through the rewritten index.
  AviReader reader;
  BitmapInfoHeader request = MakeBitmapHeader24(80, 60);
  AviOpenInfo info;
  ASSERT_EQ(reader.RAVIOpen(padded, request, info), kOk);
  std::vector<std::uint8_t> dib(request.sizeImage);
  for (int n : {11, 2, 7}) {
    ASSERT_EQ(reader.RAVIGetFrame(n, dib.data()), kOk);
    EXPECT_EQ(dib, a[static_cast<std::size_t>(n)]) << n;
  }
}

TEST(AviWriter, DataRateLimitIsReportedWithTheFileKept) {
  testing::TempDir dir;
  const std::string avi = dir.File("fast.avi");
  MpegToAviParams record = Record();  // 160 x 120 x 3 x 30 = about 1688 KB/s
  record.limitDataRate = 1;
  record.dataRateKBps = 600;
  EXPECT_EQ(WriteMovie(avi, Movie{}, record), kDataRateExceeded);
  int w = 0, h = 0;
  EXPECT_EQ(ReadBack(avi, w, h).size(), 10u);
  record.dataRateKBps = 1700;
  EXPECT_EQ(WriteMovie(avi, Movie{}, record), kOk);
  record.limitDataRate = 0;
  record.dataRateKBps = 10;
  EXPECT_EQ(WriteMovie(avi, Movie{}, record), kOk);
}

// Under a limit, a codec that can hold a data rate codes to what the sound leaves of it, at the
// chosen quality at best; one that cannot keeps its quality and the limit is reported.
TEST(AviWriter, CodecsThatHoldADataRateKeepUnderTheLimit) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  testing::TempDir dir;
  const auto pictures = DetailedPictures(dir, 352, 240, 30);
  const struct {
    const char* codec;
    bool sound;
    std::int32_t limitKBps;
    Status expected;
  } cases[] = {{"MJPG", false, 250, kOk},
               {"MJPG", true, 300, kOk},
               {"XVID", false, 150, kOk},
               {"MSVC", false, 250, kDataRateExceeded}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.codec) + (c.sound ? " with sound" : ""));
    Movie movie;
    movie.frames = 30;
    movie.width = 352;
    movie.height = 240;
    movie.pictures = pictures;
    if (c.sound) movie = WithSound(dir, movie, 22050, 1);  // 43 KB/s of PCM
    MpegToAviParams record = Record(Code(c.codec));
    record.quality = 10000;
    const std::string free = dir.File("free.avi");
    ASSERT_EQ(WriteMovie(free, movie, record), kOk);
    record.limitDataRate = 1;
    record.dataRateKBps = c.limitKBps;
    const std::string held = dir.File("held.avi");
    EXPECT_EQ(WriteMovie(held, movie, record), c.expected);
    const double seconds = movie.frames / 30.0;
    EXPECT_GT(std::filesystem::file_size(free) / seconds, c.limitKBps * 1024.0);
    if (c.expected == kOk) {
      EXPECT_LT(std::filesystem::file_size(held) / seconds, c.limitKBps * 1024.0);
    }
  }
  // A limit the chosen quality stays under leaves the pictures at that quality.
  MpegToAviParams record = Record(Code("MJPG"));
  record.quality = 2000;
  ASSERT_EQ(WriteMovie(dir.File("coarse.avi"), Movie{}, record), kOk);
  record.limitDataRate = 1;
  record.dataRateKBps = 1000;
  ASSERT_EQ(WriteMovie(dir.File("limited.avi"), Movie{}, record), kOk);
  int w = 0, h = 0;
  const auto coarse = ReadBack(dir.File("coarse.avi"), w, h);
  const auto limited = ReadBack(dir.File("limited.avi"), w, h);
  const auto original = testing::TestPicture(160, 120, 5);
  EXPECT_NEAR(testing::Psnr(limited.at(5), original), testing::Psnr(coarse.at(5), original), 0.5);
}

// A halved rate (every second picture dropped) reaches the stream header.
TEST(AviWriter, RateAndScaleReachTheHeader) {
  CALVEX_REQUIRE_TOOL("ffprobe");
  testing::TempDir dir;
  const std::string avi = dir.File("half.avi");
  Movie movie;
  movie.rate = 30;
  movie.scale = 2;
  ASSERT_EQ(WriteMovie(avi, movie, Record()), kOk);
  EXPECT_EQ(ProbeValue(avi, "stream=r_frame_rate,nb_frames", "v"), "15/1\n10");
  AviInfo info;
  EXPECT_EQ(RAVIGetInfo(avi, info), kAviNoAudio);
  EXPECT_EQ(info.frameRatePacked, 15u << 16 | 1u);
}

TEST(AviWriter, FailuresLeaveNoFile) {
  testing::TempDir dir;
  const BitmapInfoHeader header = MakeBitmapHeader24(64, 48);
  const auto picture = testing::TestPicture(64, 48, 0);
  AviStreamInfo info;
  {
    AviWriter writer;
    EXPECT_EQ(
        writer.aviSaveBegin(header, nullptr, info, dir.File("no/such/dir/a.avi"), Record(), 1, ""),
        kMediaAviCreate);
    EXPECT_EQ(writer.aviSaveFrames(header, picture.data(), 0), kAviWriteFailed);
    EXPECT_EQ(writer.aviSaveEnd(), kAviWriteFailed);
  }
  {
    AviWriter writer;
    EXPECT_EQ(
        writer.aviSaveBegin(header, nullptr, info, dir.File("b.avi"), Record(Code("ZZZZ")), 1, ""),
        kNoCompressionScheme);
    EXPECT_FALSE(std::filesystem::exists(dir.File("b.avi")));
  }
  {
    // A sound format no coder writes.
    Movie movie = WithSound(dir, Movie{}, 8000, 1);
    MpegToAviParams record = Record();
    WaveFormat odd = MakePcmFormat(1, 8000, 16);
    odd.formatTag = 0x1234;
    record.SetAudioFormat(odd);
    EXPECT_EQ(WriteMovie(dir.File("c.avi"), movie, record), kAudioDataTypeUnsupported);
    EXPECT_FALSE(std::filesystem::exists(dir.File("c.avi")));
  }
  {
    // Dropped before its end: the half-written file goes.
    AviWriter writer;
    ASSERT_EQ(writer.aviSaveBegin(header, nullptr, info, dir.File("d.avi"), Record(), 5, ""), kOk);
    ASSERT_EQ(writer.aviSaveFrames(header, picture.data(), 0), kOk);
    EXPECT_TRUE(std::filesystem::exists(dir.File("d.avi")));
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("d.avi")));
  if (std::filesystem::exists("/dev/full")) {
    Movie movie;
    movie.frames = 40;
    EXPECT_EQ(WriteMovie("/dev/full", movie, Record()), kAviWriteFailed);
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
  }
}

}  // namespace
}  // namespace calvex::media
