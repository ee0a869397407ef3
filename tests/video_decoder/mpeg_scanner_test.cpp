// The file scan and the frame-count estimate on streams of several makers: ffmpeg (elementary,
// "-f mpeg", "-f vcd"), mpeg2enc with mplex, our own encoder and multiplexer, and hand-made
// system streams whose packet boundaries fall where we choose.
#include "video_decoder/mpeg_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "mpeg_audio/system_stream_reader.h"
#include "support/test_support.h"
#include "video_decoder/mpeg_test_media.h"
#include "video_decoder/video_packets.h"

namespace calvex::video_decoder {
namespace {

using calvex::testing::ReadFileBytes;
using calvex::testing::TempDir;
using calvex::testing::WriteFileBytes;
using namespace calvex::video_decoder::testing;

std::vector<GopIndexEntry> Used(const GopIndex& index) {
  return {index.UsedEntries().begin(), index.UsedEntries().end()};
}

void ExpectSameEntries(const std::vector<GopIndexEntry>& got,
                       const std::vector<GopIndexEntry>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].firstFrame, want[i].firstFrame) << "group " << i;
    EXPECT_EQ(got[i].picturesBefore, want[i].picturesBefore) << "group " << i;
    EXPECT_EQ(got[i].offset, want[i].offset) << "group " << i;
    EXPECT_EQ(got[i].packetPosition, want[i].packetPosition) << "group " << i;
  }
}

// Display positions of the I pictures, as ffprobe decodes the file.
std::vector<int> IntraDisplayPositions(const std::string& path, int* frames) {
  const std::string types = FfprobePictureTypes(path);
  *frames = static_cast<int>(types.size());
  std::vector<int> positions;
  for (std::size_t i = 0; i < types.size(); ++i) {
    if (types[i] == 'I') positions.push_back(static_cast<int>(i));
  }
  return positions;
}

// The payload start of the video packet at `position`, read from its header independently of the
// walker (ISO/IEC 11172-1 packet header: stuffing, buffer field, time stamps).
std::int64_t PayloadStart(const std::vector<std::uint8_t>& file, std::int64_t position) {
  auto p = static_cast<std::size_t>(position) + 6;
  while (file[p] == 0xFF) ++p;
  if ((file[p] & 0xC0) == 0x40) p += 2;
  if ((file[p] & 0xF0) == 0x20) return static_cast<std::int64_t>(p + 5);
  if ((file[p] & 0xF0) == 0x30) return static_cast<std::int64_t>(p + 10);
  return static_cast<std::int64_t>(p + 1);
}

// Scans a system stream and checks its index against the scan of its video elementary stream
// (as ffmpeg extracts it): the same groups, frames and picture counts, every entry pointing at a
// video packet whose data holds the group start code at the recorded offset (or begins it there
// when the code runs on into the next packet).
void CheckSystemStreamIndex(const std::string& path, const std::string& esPath) {
  const std::vector<std::uint8_t> es = FfmpegVideoOf(path);
  ASSERT_FALSE(es.empty());
  WriteFileBytes(esPath, es);
  GopIndex esIndex, index;
  ASSERT_EQ(ScanMpegFile(esPath, esIndex), kOk);
  ASSERT_EQ(ScanMpegFile(path, index), kOk);
  ASSERT_GT(index.UsedCount(), 1);
  ASSERT_EQ(index.UsedCount(), esIndex.UsedCount());
  EXPECT_EQ(index.frameCount(), esIndex.frameCount());
  const std::vector<std::uint8_t> file = ReadFileBytes(path);
  for (std::int32_t i = 0; i < index.UsedCount(); ++i) {
    const GopIndexEntry& e = index[i];
    EXPECT_EQ(e.firstFrame, esIndex[i].firstFrame);
    EXPECT_EQ(e.picturesBefore, esIndex[i].picturesBefore);
    const auto at = static_cast<std::size_t>(e.packetPosition);
    ASSERT_LT(at + 4, file.size());
    EXPECT_TRUE(file[at] == 0 && file[at + 1] == 0 && file[at + 2] == 1 &&
                (file[at + 3] & 0xF0) == 0xE0)
        << "entry " << i << " does not point at a video packet";
    const auto length = static_cast<std::int64_t>(file[at + 4] << 8 | file[at + 5]);
    const std::int64_t data = PayloadStart(file, e.packetPosition);
    const std::int64_t dataBytes = at + 6 + length - data;
    ASSERT_LT(e.offset, dataBytes);
    const auto code = static_cast<std::size_t>(data + e.offset);
    if (e.offset + 4 <= dataBytes) {
      EXPECT_EQ(file[code + 3], 0xB8) << "entry " << i;
      EXPECT_EQ(file[code + 2], 0x01);
    }
  }
}

TEST(ScanMpegFile, FfmpegElementaryStreamGivesOneEntryPerGroup) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string path = dir.File("movie.m1v");
  ASSERT_TRUE(MakeFfmpegStream(path, "mpeg1video", 75, false));
  const auto bytes = ReadFileBytes(path);
  const ElementaryLayout layout = ReadElementaryLayout(bytes);
  GopIndex index;
  ASSERT_EQ(ScanMpegFile(path, index), kOk);
  ExpectSameEntries(Used(index), ExpectedEntries(layout));

  // Against the decoder of ffmpeg: the frame count, and each group's first frame is where its
  // I picture is shown.
  int frames = 0;
  const std::vector<int> intra = IntraDisplayPositions(path, &frames);
  EXPECT_EQ(index.frameCount(), frames);
  EXPECT_EQ(frames, 75);
  ASSERT_EQ(static_cast<int>(intra.size()), index.UsedCount());
  for (std::size_t i = 0; i < intra.size(); ++i) {
    EXPECT_EQ(index[static_cast<std::int32_t>(i)].firstFrame, intra[i]);
  }
  // ffmpeg's groups are open: after the first, each I picture is shown after two B pictures
  // (temporal_reference 2 after 10 pictures gives first frame 12).
  EXPECT_EQ(index[1].picturesBefore, 10);
  EXPECT_EQ(index[1].firstFrame, 12);
}

TEST(ScanMpegFile, SystemStreamsOfFfmpegAndMplex) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  for (const char* container : {"mpeg", "vcd"}) {
    SCOPED_TRACE(container);
    const std::string path = dir.File(std::string("movie_") + container + ".mpg");
    ASSERT_TRUE(MakeFfmpegStream(path, container, 60));
    CheckSystemStreamIndex(path, dir.File("video.m1v"));
    int frames = 0;
    IntraDisplayPositions(path, &frames);
    GopIndex index;
    ScanMpegFile(path, index);
    EXPECT_EQ(index.frameCount(), frames);
  }
  if (calvex::testing::HaveTool("mplex") && calvex::testing::HaveTool("mpeg2enc")) {
    SCOPED_TRACE("mplex");
    const std::string path = dir.File("mplex.mpg");
    ASSERT_TRUE(MakeMplexStream(dir.path().string(), path, 50));
    CheckSystemStreamIndex(path, dir.File("video.m1v"));
    int frames = 0;
    IntraDisplayPositions(path, &frames);
    GopIndex index;
    ScanMpegFile(path, index);
    EXPECT_EQ(index.frameCount(), frames);
  }
}

TEST(ScanMpegFile, OurOwnEncoderAndMultiplexer) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string esPath = dir.File("own.m1v");
  ASSERT_TRUE(MakeOwnElementaryStream(esPath, 40));
  GopIndex index;
  ASSERT_EQ(ScanMpegFile(esPath, index), kOk);
  ExpectSameEntries(Used(index), ExpectedEntries(ReadElementaryLayout(ReadFileBytes(esPath))));
  EXPECT_EQ(index.frameCount(), 40);
  EXPECT_EQ(index.UsedCount(), 4);  // groups of 12

  const std::string sysPath = dir.File("own.mpg");
  ASSERT_TRUE(MakeOwnSystemStream(dir.path().string(), sysPath, 40));
  CheckSystemStreamIndex(sysPath, dir.File("video.m1v"));
}

TEST(ScanMpegFile, GroupStartCodeSplitAcrossVideoPackets) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string esPath = dir.File("movie.m1v");
  ASSERT_TRUE(MakeFfmpegStream(esPath, "mpeg1video", 30, false));
  const auto es = ReadFileBytes(esPath);
  const ElementaryLayout layout = ReadElementaryLayout(es);
  ASSERT_GE(layout.groups.size(), 3u);
  const std::vector<GopIndexEntry> expected = ExpectedEntries(layout);

  // Cut the stream 1, 2 and 3 bytes into the second group's start code (so the code begins in
  // one packet and ends in the next), and once right before it.
  for (int into : {0, 1, 2, 3}) {
    SCOPED_TRACE(into);
    const auto g = static_cast<int>(layout.groups[1]);
    const int first = g + into;
    std::vector<std::int64_t> positions, esStarts;
    const auto sys = HandMadeSystemStream(es, {first, 700}, &positions, &esStarts);
    const std::string path = dir.File("split.mpg");
    WriteFileBytes(path, sys);
    ASSERT_EQ(audio::IsSystemStreamFile(path), kOk);

    GopIndex index;
    ASSERT_EQ(ScanMpegFile(path, index), kOk);
    ASSERT_EQ(index.UsedCount(), static_cast<std::int32_t>(expected.size()));
    EXPECT_EQ(index.frameCount(), static_cast<std::int32_t>(layout.pictures.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const GopIndexEntry& e = index[static_cast<std::int32_t>(i)];
      EXPECT_EQ(e.firstFrame, expected[i].firstFrame);
      EXPECT_EQ(e.picturesBefore, expected[i].picturesBefore);
      // The packet whose data holds the code's first byte, and that byte's place in it.
      const auto esOffset = static_cast<std::int64_t>(layout.groups[i]);
      std::size_t k = 0;
      while (k + 1 < esStarts.size() && esStarts[k + 1] <= esOffset) ++k;
      EXPECT_EQ(e.packetPosition, positions[k]) << "group " << i;
      EXPECT_EQ(e.offset, esOffset - esStarts[k]) << "group " << i;
    }
    if (into > 0) {
      EXPECT_EQ(index[1].packetPosition, positions[0]);
      EXPECT_EQ(index[1].offset, g);
    }
  }
}

TEST(ScanMpegFile, WalkerDeliversTheSameVideoBytesAsThePacketReader) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string path = dir.File("movie.mpg");
  ASSERT_TRUE(MakeFfmpegStream(path, "vcd", 30));
  std::vector<std::uint8_t> walked;
  MpegFileReader file;
  ASSERT_EQ(file.Open(path), kOk);
  VideoPacketWalker walker(file);
  VideoPacket packet;
  while (walker.Next(packet)) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(packet.payloadLength));
    ASSERT_EQ(file.Read(data.data(), data.size()), data.size());
    walked.insert(walked.end(), data.begin(), data.end());
  }
  audio::SystemStreamReader reader;
  ASSERT_EQ(reader.OpenSystemStreamReader(path, audio::PacketKind::kVideo), kOk);
  std::vector<std::uint8_t> read(walked.size() + 4096);
  read.resize(reader.ReadSystemStreamData(read.data(), read.size()));
  EXPECT_EQ(walked, read);
  EXPECT_EQ(walked, FfmpegVideoOf(path));
}

TEST(ScanMpegFile, ShortMissingAndCancelledScans) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  GopIndex index;
  EXPECT_EQ(ScanMpegFile(dir.File("none.mpg"), index), kOk);
  EXPECT_EQ(index.UsedCount(), 0);

  const std::string path = dir.File("movie.m1v");
  ASSERT_TRUE(MakeFfmpegStream(path, "mpeg1video", 40, false));
  auto bytes = ReadFileBytes(path);
  bytes.resize(127);
  WriteFileBytes(dir.File("short.m1v"), bytes);
  EXPECT_EQ(ScanMpegFile(dir.File("short.m1v"), index), kOk);
  EXPECT_EQ(index.UsedCount(), 0);
  EXPECT_EQ(index.frameCount(), 0);

  // The cancel question comes at every picture; progress after every group, rising to the end.
  int asked = 0;
  std::vector<int> progress;
  ScanCallbacks callbacks;
  callbacks.cancelled = [&] { return ++asked == 20; };
  callbacks.progress = [&](int p) { progress.push_back(p); };
  EXPECT_EQ(ScanMpegFile(path, index, callbacks), kCancelled);
  EXPECT_EQ(asked, 20);

  callbacks.cancelled = [&] { return false; };
  progress.clear();
  asked = 0;
  EXPECT_EQ(ScanMpegFile(path, index, callbacks), kOk);
  EXPECT_EQ(progress.size(), 4u);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_GT(progress.back(), 700);
  EXPECT_LE(progress.back(), 1000);
}

TEST(ScanMpegFile, DamagedFilesNeverCrashTheScanOrTheEstimate) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string path = dir.File("movie.mpg");
  ASSERT_TRUE(MakeFfmpegStream(path, "mpeg", 30));
  const auto good = ReadFileBytes(path);
  std::mt19937 random(5);
  const std::string damaged = dir.File("damaged.mpg");
  for (int round = 0; round < 40; ++round) {
    auto bytes = good;
    // Truncated anywhere, and bytes overwritten with start-code material or noise.
    bytes.resize(128 + random() % (bytes.size() - 128));
    for (int k = 0; k < 30; ++k) {
      const std::size_t at = 4 + random() % (bytes.size() - 4);
      const unsigned kind = random() % 3;
      bytes[at] = kind == 0 ? 0x00 : (kind == 1 ? 0x01 : static_cast<std::uint8_t>(random()));
    }
    WriteFileBytes(damaged, bytes);
    GopIndex index;
    EXPECT_EQ(ScanMpegFile(damaged, index), kOk);
    EXPECT_GE(EstimateMpegFrameCount(damaged), 0);
    for (std::int32_t i = 0; i < index.UsedCount(); ++i) {
      EXPECT_LT(index[i].packetPosition + index[i].offset, static_cast<std::int64_t>(bytes.size()));
    }
  }
}

// ------------------------------------------------------------------------------------------------
// EstimateMpegFrameCount

TEST(EstimateMpegFrameCount, WithinOneGroupOnShortAndLongFilesOfBothKinds) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  struct Case {
    const char* container;
    int frames;
    int rate;
    const char* size;
  };
  // The long files run well past the 200000 bytes the estimate reads from the end.
  for (const Case& c : {Case{"mpeg1video", 40, 25, "96x64"}, Case{"mpeg1video", 700, 30, "176x144"},
                        Case{"mpeg", 45, 25, "96x64"}, Case{"mpeg", 650, 25, "176x144"},
                        Case{"vcd", 300, 25, "176x144"}}) {
    SCOPED_TRACE(std::string(c.container) + " " + std::to_string(c.frames));
    const std::string path = dir.File("movie.mpg");
    ASSERT_TRUE(MakeFfmpegStream(path, c.container, c.frames, true, c.size, c.rate));
    const auto size = ReadFileBytes(path).size();
    if (c.frames > 100) {
      EXPECT_GT(size, 200000u);
    }
    const std::int32_t estimate = EstimateMpegFrameCount(path);
    EXPECT_LE(std::abs(estimate - c.frames), 12) << "estimate " << estimate;
  }
  // NTSC rates and a 29.97 stream whose time codes count 30 per second.
  const std::string ntsc = dir.File("ntsc.m1v");
  ASSERT_TRUE(MakeFfmpegStream(ntsc, "mpeg1video", 300, false, "96x64", 30, "-r 30000/1001"));
  EXPECT_LE(std::abs(EstimateMpegFrameCount(ntsc) - 300), 12);
}

TEST(EstimateMpegFrameCount, SystemStreamTimeCodesNeedNotStartAtZero) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string path = dir.File("late.mpg");
  ASSERT_TRUE(MakeFfmpegStream(path, "mpeg", 60, true, "96x64", 25, "-timecode 00:10:00:00"));
  EXPECT_LE(std::abs(EstimateMpegFrameCount(path) - 60), 12);
}

TEST(EstimateMpegFrameCount, NothingToCount) {
  TempDir dir;
  EXPECT_EQ(EstimateMpegFrameCount(dir.File("none.mpg")), 0);
  WriteFileBytes(dir.File("short.mpg"), std::vector<std::uint8_t>(100, 0));
  EXPECT_EQ(EstimateMpegFrameCount(dir.File("short.mpg")), 0);
  // A system stream whose video holds no group of pictures.
  std::vector<std::uint8_t> es(3000, 0x55);
  const auto sys = HandMadeSystemStream(es, {1000});
  WriteFileBytes(dir.File("nogroup.mpg"), sys);
  EXPECT_EQ(EstimateMpegFrameCount(dir.File("nogroup.mpg")), 0);
}

TEST(GroupTimeCodeFrames, ReadsTheTimeCodeFields) {
  // 01:02:03, picture 4, closed: drop 0, hours 1, minutes 2, marker, seconds 3, pictures 4.
  // Bits: 0 00001 000010 1 000011 000100 1 0 + padding.
  const std::uint8_t bytes[4] = {0b00000100, 0b00101000, 0b01100010, 0b01000000};
  EXPECT_EQ(GroupTimeCodeFrames(bytes, 3), 25 * 3723 + 4);
  EXPECT_EQ(GroupTimeCodeFrames(bytes, 9), 15 * 3723 + 4);
  EXPECT_EQ(GroupTimeCodeFrames(bytes, 4), static_cast<int>(30000.0 / 1001.0 * 3723) + 4);
  EXPECT_EQ(GroupTimeCodeFrames(bytes, 0), 30 * 3723 + 4);  // unknown rate: 30
}

}  // namespace
}  // namespace calvex::video_decoder
