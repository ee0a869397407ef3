// A full disk at every writer of every conversion: at the first write, in the middle of the file
// and at the final close, and when the finished output is renamed into place. The entry fails
// with 147 (the AVI writer with its own 111, "Unable to write to an AVI file. Free space in the
// destination disk is not enough."), the run stops after it (the next entry is not reached), the
// outputs of an earlier run are left as they were, no temporary file is left, and no file stays
// open.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/data_directory.h"
#include "engine/dispatcher.h"
#include "robustness/conversion_runs.h"
#include "robustness/io_faults.h"

namespace calvex::testing {
namespace {

struct Writer {
  const char* name;
  std::string TestSources::*source;
  // The start of the written file's name in the output directory: outputs are written as "~"
  // and their name until they are complete.
  const char* file;
  Status code = kDiskFull;
  void (*adjust)(SourceEntry&) = nullptr;
};

void PadForCdRom(SourceEntry& e) {
  e.mpegToAvi.padFramesForCdRom = 1;
  e.mpegToAvi.targetDrive = 3;
}

const Writer kWriters[] = {
    {"WavToMp2", &TestSources::wav, "~tone.mp2"},
    {"Mp2ToWav", &TestSources::mp2, "~tone.wav"},
    {"SilentAviToMpeg", &TestSources::aviSilent, "~silent.mpg"},
    {"AviToMpegVideoStream", &TestSources::aviWithSound, "~~temp.mpg"},
    {"AviToMpegAudioStream", &TestSources::aviWithSound, "~~temp.mp2"},
    {"AviToMpegSystemStream", &TestSources::aviWithSound, "~movie.mpg"},
    {"AviToMpegPcmOfAdpcm", &TestSources::aviAdpcm, "~audio.tmp"},
    {"AviToMpegAdpcmSystemStream", &TestSources::aviAdpcm, "~adpcm.mpg"},
    {"MpegToAviSound", &TestSources::mpegSystem, "~audio.tmp"},
    {"MpegToAvi", &TestSources::mpegSystem, "~system.avi", kAviWriteFailed},
    {"VideoStreamToAvi", &TestSources::mpegVideo, "~video.avi", kAviWriteFailed},
    {"MpegToAviCdRomPadding", &TestSources::mpegSystem, ".pad", kAviWriteFailed, PadForCdRom},
};

const char* PointName(IoFault::Point point) {
  switch (point) {
    case IoFault::kFirstWrite:
      return "FirstWrite";
    case IoFault::kMidFile:
      return "MidFile";
    case IoFault::kClose:
      return "Close";
    case IoFault::kRename:
      return "Rename";
  }
  return "";
}

class DiskFull : public ::testing::TestWithParam<std::tuple<Writer, IoFault::Point>> {};

TEST_P(DiskFull, FailsThe147WayAndLeavesNothing) {
  CALVEX_REQUIRE_SOURCES();
  const auto& [writer, point] = GetParam();
  const std::string source = Sources().*writer.source;
  // The CD-ROM padding's file is the AVI's temporary name with ".pad" after it.
  const std::string file = writer.file[0] == '.' ? writer.file : OutputDirectory() + writer.file;

  std::int64_t size = 0;
  {
    // The writer's whole output, measured on a disk with room.
    IoFault probe(file, IoFault::kMidFile, INT64_MAX);
    ScriptedHost host;
    const RunResult clean = RunConversion(source, host, writer.adjust);
    ASSERT_EQ(clean.outcome.results[0], kEntryConverted);
    size = probe.BytesWritten();
    ASSERT_GT(size, 0) << writer.file << " was not written";
  }

  IoFault fault(file, point, size / 2);
  ScriptedHost host;
  const RunResult run = RunConversion(source, host, writer.adjust, /*replacing=*/true);
  EXPECT_TRUE(fault.Triggered());
  EXPECT_EQ(run.outcome.results[0], writer.code);
  EXPECT_TRUE(run.outcome.diskFull);
  EXPECT_EQ(run.outcome.results[1], kEntryNotReached) << "the run went on after a full disk";
  EXPECT_EQ(run.leftBehind, std::vector<std::string>{});
  EXPECT_EQ(run.descriptorsLeaked, 0);
}

INSTANTIATE_TEST_SUITE_P(Writers, DiskFull,
                         ::testing::Combine(::testing::ValuesIn(kWriters),
                                            ::testing::Values(IoFault::kFirstWrite,
                                                              IoFault::kMidFile, IoFault::kClose)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  PointName(std::get<1>(info.param));
                         });

// A finished output that cannot be renamed into place (the disk refuses the new name) fails the
// same way and leaves the earlier output (of every section).
TEST(DiskFull, WhenTheOutputIsPutInPlaceKeepsTheEarlierOutput) {
  CALVEX_REQUIRE_SOURCES();
  const std::pair<std::string TestSources::*, bool> sources[] = {
      {&TestSources::wav, false},
      {&TestSources::aviWithSound, false},
      {&TestSources::mpegSystem, false},
      {&TestSources::mpegSystem, true}};
  for (const auto& [source, sections] : sources) {
    SCOPED_TRACE(Sources().*source);
    IoFault fault(OutputDirectory() + "~", IoFault::kRename);
    ScriptedHost host;
    const RunResult run = RunConversion(
        Sources().*source, host,
        [&](SourceEntry& e) {
          if (sections) e.sections = {Section{0, 3, {}}, Section{4, 7, {}}};
        },
        /*replacing=*/true);
    EXPECT_TRUE(fault.Triggered());
    EXPECT_EQ(run.outcome.results[0], kDiskFull);
    EXPECT_TRUE(run.outcome.diskFull);
    EXPECT_EQ(run.outcome.results[1], kEntryNotReached);
    EXPECT_EQ(run.leftBehind, std::vector<std::string>{});
    EXPECT_EQ(run.descriptorsLeaked, 0);
  }
}

// The index cache that the MPEG to AVI conversion writes into the data directory is a help, not
// an output: a full disk there leaves no cache file, half or whole, and the conversion goes on.
TEST(DiskFull, AtTheIndexCacheLeavesNoCacheAndConverts) {
  CALVEX_REQUIRE_SOURCES();
  namespace fs = std::filesystem;
  const fs::path data = DataDirectory();
  for (IoFault::Point point : {IoFault::kFirstWrite, IoFault::kMidFile, IoFault::kClose}) {
    SCOPED_TRACE(PointName(point));
    std::error_code ec;
    fs::remove_all(data, ec);
    IoFault fault(data.string(), point, 40);
    ScriptedHost host;
    // A section that starts inside the file: the conversion seeks through the file's index.
    const RunResult run = RunConversion(Sources().mpegSystem, host, [](SourceEntry& e) {
      e.sections = {Section{3, 6, {}}};
    });
    EXPECT_TRUE(fault.Triggered());
    EXPECT_EQ(run.outcome.results[0], kEntryConverted);
    EXPECT_EQ(run.outcome.results[1], kEntryConverted);
    EXPECT_FALSE(fs::exists(data) && !fs::is_empty(data)) << "a cache file was left";
    EXPECT_EQ(run.descriptorsLeaked, 0);
  }
}

}  // namespace
}  // namespace calvex::testing
