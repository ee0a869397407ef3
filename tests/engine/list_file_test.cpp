#include "engine/list_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/test_support.h"

namespace calvex {
namespace {

template <typename T>
bool SameBytes(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

SourceList SampleList() {
  SourceList list;
  SourceEntry avi;
  avi.path = "/clips/Holiday.avi";
  avi.kind = ConversionKind::kAviToMpeg;
  avi.aviInfo.width = 320;
  avi.aviInfo.frameCount = 300;
  std::strcpy(avi.aviInfo.compressionName, "Motion JPEG");
  avi.aviToMpeg.dataRateKBps = 120;
  avi.sections = {{0, 99, {}}, {150, 299, {}}};
  list.entries.push_back(avi);

  SourceEntry wav;
  wav.path = "/audio/song.wav";
  wav.kind = ConversionKind::kWavToMp2;
  wav.wavInfo.sampleRate = 44100;
  wav.wavToMp2.audioBitrateKbps = 192;
  list.entries.push_back(wav);

  SourceEntry mpg;
  mpg.path = "/clips/news.mpg";
  mpg.kind = ConversionKind::kMpegToAvi;
  mpg.mpegInfo.width = 352;
  mpg.mpegToAvi.SetAudioFormat(MakePcmFormat(2, 44100, 16));
  mpg.sections = {{30, 60, {24, 23, 4096, 2}}};
  list.entries.push_back(mpg);

  SourceEntry mp2;
  mp2.path = "/audio/talk.mp2";
  mp2.kind = ConversionKind::kMp2ToWav;
  mp2.mp2Info.sampleRate = 32000;
  mp2.mp2ToWav.SetFormat(MakePcmFormat(1, 22050, 8));
  list.entries.push_back(mp2);

  list.destinationMode = DestinationMode::kAnotherDirectory;
  list.destinationDirectory = "/out";
  return list;
}

TEST(ListFile, RoundTripKeepsEveryRecordByteForByte) {
  testing::TempDir dir;
  const SourceList saved = SampleList();
  ASSERT_EQ(SaveListFile(dir.File("a.lst"), saved), kOk);
  SourceList loaded;
  ASSERT_EQ(LoadListFile(dir.File("a.lst"), loaded), kOk);

  ASSERT_EQ(loaded.entries.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    const SourceEntry& a = saved.entries[i];
    const SourceEntry& b = loaded.entries[i];
    EXPECT_EQ(a.path, b.path);
    EXPECT_EQ(a.kind, b.kind);
    ASSERT_EQ(a.sections.size(), b.sections.size());
    for (std::size_t s = 0; s < a.sections.size(); ++s) {
      EXPECT_EQ(a.sections[s].first, b.sections[s].first);
      EXPECT_EQ(a.sections[s].last, b.sections[s].last);
      EXPECT_TRUE(SameBytes(a.sections[s].seek, b.sections[s].seek));
    }
  }
  EXPECT_TRUE(SameBytes(saved.entries[0].aviInfo, loaded.entries[0].aviInfo));
  EXPECT_TRUE(SameBytes(saved.entries[0].aviToMpeg, loaded.entries[0].aviToMpeg));
  EXPECT_TRUE(SameBytes(saved.entries[1].wavToMp2, loaded.entries[1].wavToMp2));
  EXPECT_TRUE(SameBytes(saved.entries[2].mpegToAvi, loaded.entries[2].mpegToAvi));
  EXPECT_TRUE(SameBytes(saved.entries[3].mp2ToWav, loaded.entries[3].mp2ToWav));
  EXPECT_EQ(loaded.destinationMode, DestinationMode::kAnotherDirectory);
  EXPECT_EQ(loaded.destinationDirectory, "/out");
}

TEST(ListFile, LayoutOfTheFile) {
  SourceList list;
  SourceEntry wav;
  wav.path = "/a.wav";
  wav.kind = ConversionKind::kWavToMp2;
  list.entries.push_back(wav);
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(EncodeList(list, bytes), kOk);
  // Header, one entry without sections (128 + 4 + 4 + 4 plus its two blocks), the mode.
  EXPECT_EQ(bytes.size(), 8u + 128u + 4u + 4u + 4u + 144u + 12u + 4u);
  EXPECT_EQ((std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 8)),
            (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0}));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[8])), "/a.wav");
  EXPECT_EQ(bytes[8 + 128], 2);           // kind
  EXPECT_EQ(bytes[bytes.size() - 4], 1);  // same directory, no directory field

  ASSERT_EQ(EncodeList(SampleList(), bytes), kOk);
  const std::size_t sizes = (164 + 32 + 2 * 24) + (144 + 12) + (176 + 580 + 24) + (156 + 148);
  EXPECT_EQ(bytes.size(), 8u + 4u * 140u + sizes + 4u + 256u);
}

TEST(ListFile, DamagedFilesAreRefusedAndTheListIsKept) {
  std::vector<std::uint8_t> good;
  ASSERT_EQ(EncodeList(SampleList(), good), kOk);
  SourceList list;
  list.entries.resize(1);
  list.entries[0].path = "/keep.wav";

  auto refused = [&](const std::vector<std::uint8_t>& bytes) {
    const Status s = DecodeList(bytes, list);
    return s == kListFileCorrupted && list.entries.size() == 1 &&
           list.entries[0].path == "/keep.wav";
  };
  // Every cut of a good file is damaged, and so is anything after its end.
  for (std::size_t n = 0; n < good.size(); ++n)
    ASSERT_TRUE(refused({good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)})) << n;
  auto longer = good;
  longer.push_back(0);
  EXPECT_TRUE(refused(longer));

  auto patched = [&](std::size_t offset, std::int32_t value) {
    auto bytes = good;
    std::memcpy(&bytes[offset], &value, 4);
    return bytes;
  };
  EXPECT_TRUE(refused(patched(0, 0)));           // signature
  EXPECT_TRUE(refused(patched(4, -1)));          // count
  EXPECT_TRUE(refused(patched(4, 0x7FFFFFFF)));  // count far beyond the data
  EXPECT_TRUE(refused(patched(8 + 128, 5)));     // kind
  EXPECT_TRUE(refused(patched(8 + 128, 0)));
  EXPECT_TRUE(refused(patched(8 + 132, 17)));  // sections
  EXPECT_TRUE(refused(patched(8 + 132, -1)));

  testing::TempDir dir;
  EXPECT_EQ(LoadListFile(dir.File("missing.lst"), list), kListFileCorrupted);
  EXPECT_EQ(LoadListFile(dir.path().string(), list), kListFileCorrupted);
  EXPECT_EQ(list.entries.size(), 1u);
}

TEST(ListFile, AnyModeButSameDirectoryCarriesTheDirectory) {
  SourceList list;
  list.destinationMode = DestinationMode::kAnotherDirectory;
  list.destinationDirectory = "/out";
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(EncodeList(list, bytes), kOk);
  bytes[8] = 7;
  SourceList loaded;
  ASSERT_EQ(DecodeList(bytes, loaded), kOk);
  EXPECT_EQ(loaded.destinationMode, DestinationMode::kAnotherDirectory);
  EXPECT_EQ(loaded.destinationDirectory, "/out");
}

TEST(ListFile, ListsTheFormatCannotHoldAreNotSavedOverAGoodFile) {
  testing::TempDir dir;
  const std::string path = dir.File("a.lst");
  ASSERT_EQ(SaveListFile(path, SampleList()), kOk);
  const auto before = testing::ReadFileBytes(path);

  SourceList tooLong = SampleList();
  tooLong.entries[0].path = "/" + std::string(kListLongPathMax, 'x') + ".avi";
  EXPECT_EQ(SaveListFile(path, tooLong), kNotSupported);
  SourceList tooMany = SampleList();
  tooMany.entries[0].sections.resize(17);
  EXPECT_EQ(SaveListFile(path, tooMany), kNotSupported);
  SourceList noKind = SampleList();
  noKind.entries[1].kind = ConversionKind::kNone;
  EXPECT_EQ(SaveListFile(path, noKind), kNotSupported);
  EXPECT_EQ(testing::ReadFileBytes(path), before);

  EXPECT_EQ(SaveListFile("/proc/a.lst", SampleList()), kCreateFailed);
  EXPECT_EQ(SaveListFile("/dev/full", SampleList()), kCreateFailed);
}

// Paths longer than their field go whole into the record after the destination; a list without
// them keeps the plain layout, and readers of the plain layout find the cut paths.
TEST(ListFile, LongPathsAreKeptWholeAfterTheDestination) {
  const std::string fits = "/" + std::string(122, 'x') + ".avi";  // 127 bytes
  const std::string longer = "/" + std::string(123, 'y') + ".wav";
  const std::string longest = "/" + std::string(300, 'z') + ".mp2";
  SourceList list = SampleList();
  list.entries[0].path = fits;
  std::vector<std::uint8_t> plain;
  ASSERT_EQ(EncodeList(list, plain), kOk);
  list.entries[1].path = longer;
  list.entries[3].path = longest;
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(EncodeList(list, bytes), kOk);
  const std::size_t record = 4 + 4 + (8 + longer.size()) + (8 + longest.size());
  ASSERT_EQ(bytes.size(), plain.size() + record);
  EXPECT_EQ(std::memcmp(&bytes[plain.size() - 260], &plain[plain.size() - 260], 260), 0);

  SourceList loaded;
  ASSERT_EQ(DecodeList(bytes, loaded), kOk);
  EXPECT_EQ(loaded.entries[0].path, fits);
  EXPECT_EQ(loaded.entries[1].path, longer);
  EXPECT_EQ(loaded.entries[2].path, "/clips/news.mpg");
  EXPECT_EQ(loaded.entries[3].path, longest);
  // Without the record (as a plain reader stops), the fields hold the paths cut to 127 bytes.
  ASSERT_EQ(DecodeList({bytes.data(), bytes.size() - record}, loaded), kOk);
  EXPECT_EQ(loaded.entries[1].path, longer.substr(0, 127));

  // A record that does not match its entries is damage.
  const std::size_t at = bytes.size() - record;
  auto patched = [&](std::size_t offset, std::int32_t value) {
    auto damaged = bytes;
    std::memcpy(&damaged[at + offset], &value, 4);
    return DecodeList(damaged, loaded);
  };
  EXPECT_EQ(patched(0, 0x12345678), kListFileCorrupted);  // tag
  EXPECT_EQ(patched(4, 3), kListFileCorrupted);           // count
  EXPECT_EQ(patched(8, 0), kListFileCorrupted);           // an entry whose path fits
  EXPECT_EQ(patched(8, 9), kListFileCorrupted);           // no such entry
  EXPECT_EQ(patched(12, 100), kListFileCorrupted);        // a length that would fit the field
  auto otherPath = bytes;
  otherPath[at + 16] = 'q';
  EXPECT_EQ(DecodeList(otherPath, loaded), kListFileCorrupted);
}

}  // namespace
}  // namespace calvex
