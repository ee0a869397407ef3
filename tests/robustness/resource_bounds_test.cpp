// Inputs that declare absurd sizes and counts: a picture of 4095 x 4095 or 65535 x 65535 pixels,
// list and index cache files with counts in the billions, WAV files whose chunks claim gigabytes.
// Each is refused or read within a bounded amount of memory, never with an allocation of
// gigabytes taken on the file's word.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "core/file_names.h"
#include "engine/dispatcher.h"
#include "engine/list_file.h"
#include "media_library/media_library.h"
#include "robustness/allocation_meter.h"
#include "robustness/conversion_runs.h"
#include "support/media_tools.h"
#include "video_decoder/index_cache.h"
#include "video_decoder/mpeg_scanner.h"
#include "video_decoder/video_decoder.h"

namespace calvex::testing {
namespace {

constexpr std::int64_t kMiB = 1 << 20;

void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t v) {
  if (bytes.size() < at + 4) bytes.resize(at + 4);
  for (int i = 0; i < 4; ++i)
    bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
void AppendLe32(std::vector<std::uint8_t>& bytes, std::uint32_t v) {
  PutLe32(bytes, bytes.size(), v);
}
// The offset of the first chunk called `name` (its four-letter code) from `from` on, or 0.
std::size_t FindChunk(const std::vector<std::uint8_t>& bytes, const char* name,
                      std::size_t from = 0) {
  for (std::size_t i = from; i + 4 <= bytes.size(); ++i)
    if (std::memcmp(&bytes[i], name, 4) == 0) return i;
  return 0;
}

TEST(ResourceBounds, ListFileCountsInTheBillionsAreRefusedWithoutAllocating) {
  std::vector<std::uint8_t> huge;
  AppendLe32(huge, 0xFFFFFFFF);
  AppendLe32(huge, 0x7FFFFFFF);  // entries, and none follows
  std::vector<std::uint8_t> sections = huge;
  PutLe32(sections, 4, 1);
  sections.resize(8 + 128, 'a');
  sections[8 + 127] = 0;
  AppendLe32(sections, 1);           // kind
  AppendLe32(sections, 0x7FFFFFFF);  // sections
  for (const auto* bytes : {&huge, &sections}) {
    AllocationMeter meter;
    SourceList list;
    EXPECT_EQ(DecodeList(*bytes, list), kListFileCorrupted);
    EXPECT_LT(meter.PeakBytes(), kMiB);
  }
  // A list file of a gigabyte (a stray file, a device) is not read whole.
  TempDir dir;
  const std::string path = dir.File("huge.lst");
  WriteFileBytes(path, huge);
  std::filesystem::resize_file(path, std::uintmax_t{1} << 30);
  AllocationMeter meter;
  SourceList list;
  EXPECT_EQ(LoadListFile(path, list), kListFileCorrupted);
  EXPECT_LT(meter.PeakBytes(), 256 * kMiB);
}

TEST(ResourceBounds, IndexCacheCountsInTheBillionsAreRefusedWithoutAllocating) {
  TempDir dir;
  const std::string source = dir.File("clip.mpg");
  WriteFileBytes(source, std::vector<std::uint8_t>(4096, 0x47));
  std::uint32_t checksum = 0;
  ASSERT_TRUE(video_decoder::SourceChecksum(source, checksum));
  for (std::uint32_t count : {0x7FFFFFFFu, 0x10000000u, 0x80000000u}) {
    std::vector<std::uint8_t> cache(80, 0);
    std::memcpy(cache.data(), "VX QRT INDEX 1", 14);
    std::memcpy(cache.data() + 16, "CLIP.MPG", 8);
    PutLe32(cache, 64, 4096);
    PutLe32(cache, 68, checksum);
    PutLe32(cache, 72, 100);
    PutLe32(cache, 76, count);
    for (int i = 0; i < 4; ++i) AppendLe32(cache, 0);  // one entry of the billions
    WriteFileBytes(video_decoder::IndexCachePath(dir.path().string() + "/", 1), cache);
    AllocationMeter meter;
    video_decoder::GopIndex index;
    EXPECT_FALSE(video_decoder::LoadIndexCache(source, index, dir.path().string() + "/"));
    EXPECT_LT(meter.PeakBytes(), kMiB);
  }
}

// A sequence header of the largest picture MPEG-1 can declare, a group, a picture and a slice.
std::vector<std::uint8_t> LargestPictureStream(std::uint32_t size) {
  std::vector<std::uint8_t> s = {0x00,
                                 0x00,
                                 0x01,
                                 0xB3,
                                 static_cast<std::uint8_t>(size >> 4),
                                 static_cast<std::uint8_t>((size & 15) << 4 | size >> 8),
                                 static_cast<std::uint8_t>(size & 0xFF),
                                 0x13,
                                 0xFF,
                                 0xFF,
                                 0xE0,
                                 0x18};
  const std::uint8_t rest[] = {0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x00,  // group
                               0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0xFF, 0xF8,  // I picture
                               0x00, 0x00, 0x01, 0x01, 0x12, 0x00, 0x00, 0x00,  // slice
                               0x00, 0x00, 0x01, 0xB7};
  s.insert(s.end(), std::begin(rest), std::end(rest));
  return s;
}

TEST(ResourceBounds, LargestDeclaredPictureIsScannedWithoutAllocatingForIt) {
  TempDir dir;
  for (std::uint32_t size : {4095u, 4094u}) {
    std::vector<std::uint8_t> bytes = LargestPictureStream(size);
    bytes.resize(256, 0);  // the scanners want 128 bytes at least
    const std::string path = dir.File("large.mpg");
    WriteFileBytes(path, bytes);
    AllocationMeter meter;
    video_decoder::GopIndex index;
    EXPECT_EQ(video_decoder::ScanMpegFile(path, index), kOk);
    EXPECT_EQ(index.UsedCount(), 1);
    EXPECT_EQ(video_decoder::EstimateMpegFrameCount(path), 1);
    EXPECT_LT(meter.PeakBytes(), 4 * kMiB);
  }
}

// Decoded, the same stream takes what pictures of that size need (a few of 24 MiB and the 48 MiB
// bitmap of the output), and its decoding ends.
TEST(ResourceBounds, LargestDeclaredPictureIsDecodedWithinBounds) {
  AllocationMeter meter;
  video_decoder::MemoryByteSource source(LargestPictureStream(4095));
  video_decoder::DecodeControl control;
  control.playMode = video_decoder::kPlayNormal;
  control.decodeRunning = true;
  control.frameCallback = [](const video_decoder::DecodedFrameInfo&, int, int) { return 0; };
  auto decoder = video_decoder::VideoDecoder::Create(20000, source, control);
  ASSERT_NE(decoder, nullptr);
  for (std::uint32_t step = 0; control.decodeRunning && step < 1000; ++step)
    decoder->DecodeStep(step);
  EXPECT_FALSE(control.decodeRunning) << "the decoding of a short stream did not end";
  EXPECT_EQ(control.bitmapHeader.width, 4095);
  decoder.reset();
  EXPECT_LT(meter.PeakBytes(), 256 * kMiB);
}

// A WAV file made by ffmpeg, then with its chunk sizes changed.
class HugeWav : public ::testing::Test {
 protected:
  void SetUp() override {
    CALVEX_REQUIRE_SOURCES();
    wav_ = ReadFileBytes(Sources().wav);
    data_ = FindChunk(wav_, "data");
    format_ = FindChunk(wav_, "fmt ");
    ASSERT_GT(data_, 0u);
    ASSERT_GT(format_, 0u);
  }
  // Reads the information and converts the file to MP2: converted or refused, within bounds.
  void ExpectBounded(const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir_.File("huge.wav");
    WriteFileBytes(path, bytes);
    AllocationMeter meter;
    WavInfo info;
    media::ReadWavInfo(path, info);
    ScriptedHost host;
    const RunResult run = RunConversion(path, host);
    EXPECT_NE(run.outcome.results[0], kEntryAborted);
    EXPECT_LT(meter.PeakBytes(), 64 * kMiB);
    EXPECT_LT(meter.LargestBlock(), 16 * kMiB);
  }

  TempDir dir_;
  std::vector<std::uint8_t> wav_;
  std::size_t data_ = 0;
  std::size_t format_ = 0;
};

TEST_F(HugeWav, DataChunkOfFourGigabytes) {
  std::vector<std::uint8_t> bytes = wav_;
  PutLe32(bytes, data_ + 4, 0xFFFFFFFF);
  PutLe32(bytes, 4, 0xFFFFFFFF);  // the RIFF size too
  ExpectBounded(bytes);
}

TEST_F(HugeWav, FormatChunkOfFourGigabytes) {
  std::vector<std::uint8_t> bytes = wav_;
  PutLe32(bytes, format_ + 4, 0xFFFFFFF0);
  ExpectBounded(bytes);
}

TEST_F(HugeWav, FormatExtensionOfSixtyFourKilobytes) {
  std::vector<std::uint8_t> bytes = wav_;
  PutLe32(bytes, format_ + 4, 18);
  bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(format_ + 8 + 16), {0xFF, 0xFF});
  ExpectBounded(bytes);
}

TEST_F(HugeWav, TensOfThousandsOfChannelsAndBits) {
  // 8192 channels of 64 bits make sample frames of 65536 bytes, which a 16-bit block alignment
  // cannot hold.
  const std::pair<std::uint16_t, std::uint16_t> formats[] = {
      {8192, 64}, {65535, 65535}, {2, 65535}, {65535, 16}};
  for (const auto& [channels, bits] : formats) {
    SCOPED_TRACE(channels);
    std::vector<std::uint8_t> bytes = wav_;
    bytes[format_ + 8 + 2] = static_cast<std::uint8_t>(channels);
    bytes[format_ + 8 + 3] = static_cast<std::uint8_t>(channels >> 8);
    bytes[format_ + 8 + 14] = static_cast<std::uint8_t>(bits);
    bytes[format_ + 8 + 15] = static_cast<std::uint8_t>(bits >> 8);
    ExpectBounded(bytes);
  }
}

// AVIs whose stream headers claim billions of frames or samples (with or without an index) are
// converted as the data they hold: the same output as with their true lengths, in bounded memory.
TEST(ResourceBounds, AviLengthsBeyondTheDataAreCutToIt) {
  CALVEX_REQUIRE_SOURCES();
  const struct {
    std::string TestSources::*source;
    int stream;  // 0 video, 1 sound
    std::uint32_t length;
    bool index = true;
  } cases[] = {
      {&TestSources::aviSilent, 0, 0x7FFFFFFF},      {&TestSources::aviWithSound, 0, 0xFFFFFFFF},
      {&TestSources::aviSilent, 0, 0x100000, false}, {&TestSources::aviAdpcm, 1, 65536},
      {&TestSources::aviWithSound, 1, 0x7FFFFFFF},   {&TestSources::aviAdpcm, 1, 0xFFFFFFFF, false},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(Sources().*c.source + " stream " + std::to_string(c.stream) + " length " +
                 std::to_string(c.length));
    ScriptedHost host;
    ASSERT_EQ(RunConversion(Sources().*c.source, host).outcome.results[0], kEntryConverted);
    const std::string name = FileNameOf(Sources().*c.source);
    const std::string output = name.substr(0, name.size() - 4) + ".mpg";
    const std::vector<std::uint8_t> expected = ReadFileBytes(OutputDirectory() + output);

    std::vector<std::uint8_t> bytes = ReadFileBytes(Sources().*c.source);
    std::size_t strh = FindChunk(bytes, "strh");  // the video's, then the sound's
    if (c.stream == 1) strh = FindChunk(bytes, "strh", strh + 4);
    PutLe32(bytes, strh + 8 + 32, c.length);
    if (c.stream == 0) PutLe32(bytes, FindChunk(bytes, "avih") + 8 + 16, c.length);
    if (!c.index) std::memcpy(&bytes[FindChunk(bytes, "idx1")], "JUNK", 4);
    const std::string path = dir.File(name);
    WriteFileBytes(path, bytes);
    AllocationMeter meter;
    ScriptedHost patched;
    const RunResult run = RunConversion(path, patched);
    EXPECT_EQ(run.outcome.results[0], kEntryConverted);
    EXPECT_LT(meter.PeakBytes(), 64 * kMiB);
    EXPECT_TRUE(ReadFileBytes(OutputDirectory() + output) == expected);
  }
}

// AVIs whose stream headers claim a frame every 1000 seconds or every few months, or a sound
// sample every few hours. 102 frames of the first would make more than a day of pictures, more
// than a group's time code counts: it is refused before anything is taken for them. The others are
// converted in sections (the second seeks in the sound) as the data they hold, not as months of
// silence, in bounded memory.
TEST(ResourceBounds, AviStreamRatesOfMinutesOrMonthsAreBounded) {
  CALVEX_REQUIRE_SOURCES();
  TempDir dir;
  const std::string longMovie = dir.File("long.avi");
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc=size=16x16:rate=30:duration=3.4 -c:v rawvideo "
             "-pix_fmt bgr24 " +
             ShellQuote(longMovie)));
  const struct {
    const std::string& source;
    int stream;  // 0 video, 1 sound
    std::uint32_t scale, rate;
    Status result;
  } cases[] = {
      {longMovie, 0, 1000, 1, kFrameRateUnsupported},
      {Sources().aviWithSound, 0, 0x18000001, 25, kEntryConverted},
      {Sources().aviAdpcm, 0, 0x18000001, 25, kEntryConverted},  // through the temporary PCM file
      {Sources().aviWithSound, 1, 0x08000001, 44100, kEntryConverted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.scale) + "/" + std::to_string(c.rate));
    std::vector<std::uint8_t> bytes = ReadFileBytes(c.source);
    std::size_t strh = FindChunk(bytes, "strh");
    if (c.stream == 1) strh = FindChunk(bytes, "strh", strh + 4);
    PutLe32(bytes, strh + 8 + 20, c.scale);
    PutLe32(bytes, strh + 8 + 24, c.rate);
    const std::string path = dir.File("slow.avi");
    WriteFileBytes(path, bytes);
    AllocationMeter meter;
    ScriptedHost host;
    const bool sections = c.result == kEntryConverted;
    const RunResult run = RunConversion(path, host, [&](SourceEntry& e) {
      if (sections) e.sections = {Section{0, 2, {}}, Section{3, 5, {}}};
    });
    EXPECT_EQ(run.outcome.results[0], c.result);
    EXPECT_LT(meter.PeakBytes(), 64 * kMiB);
    if (!sections) continue;
    for (const char* output : {"slow001.mpg", "slow002.mpg"})
      EXPECT_LT(std::filesystem::file_size(OutputDirectory() + output), 64 * 1024u) << output;
  }
}

// An AVI whose headers claim an enormous picture while its frames hold a few hundred bytes.
TEST(ResourceBounds, AviClaimingEnormousPicturesIsRefusedOrReadWithinBounds) {
  CALVEX_REQUIRE_SOURCES();
  const std::vector<std::uint8_t> avi = ReadFileBytes(Sources().aviSilent);
  const std::size_t avih = FindChunk(avi, "avih");
  const std::size_t strf = FindChunk(avi, "strf");
  ASSERT_GT(avih, 0u);
  ASSERT_GT(strf, 0u);
  TempDir dir;
  for (std::uint32_t size : {4095u, 65535u, 0x7FFFFFFFu}) {
    SCOPED_TRACE(size);
    std::vector<std::uint8_t> bytes = avi;
    PutLe32(bytes, avih + 8 + 32, size);
    PutLe32(bytes, avih + 8 + 36, size);
    PutLe32(bytes, strf + 8 + 4, size);
    PutLe32(bytes, strf + 8 + 8, size);
    const std::string path = dir.File("large.avi");
    WriteFileBytes(path, bytes);
    AllocationMeter meter;
    AviInfo info;
    media::RAVIGetInfo(path, info);
    media::AviReader reader;
    BitmapInfoHeader request{};
    request.width = 32;
    request.height = 32;
    media::AviOpenInfo open;
    if (reader.RAVIOpen(path, request, open) == kOk) {
      std::vector<std::uint8_t> picture(request.sizeImage);
      reader.RAVIGetFrame(0, picture.data());
    }
    reader.RAVIClose();
    EXPECT_LT(meter.LargestBlock(), 256 * kMiB);
  }
}

}  // namespace
}  // namespace calvex::testing
