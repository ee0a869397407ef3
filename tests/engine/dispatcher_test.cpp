#include "engine/dispatcher.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/file_names.h"
#include "core/temp_file.h"
#include "engine/recording_host.h"
#include "support/test_support.h"

namespace calvex {
namespace {

using testing::DriverCall;
using testing::FakeDrivers;
using testing::RecordingHost;
using testing::TempDir;

TEST(DestinationNames, WholeFileAndSections) {
  EXPECT_EQ(DestinationPath("/v/Holiday.avi", "/out", ConversionKind::kAviToMpeg, -1),
            "/out/Holiday.mpg");
  EXPECT_EQ(DestinationPath("/v/Holiday.avi", "/out/", ConversionKind::kAviToMpeg, 0),
            "/out/Holid001.mpg");
  EXPECT_EQ(DestinationPath("/v/Holiday.avi", "/out", ConversionKind::kAviToMpeg, 1),
            "/out/Holid002.mpg");
  EXPECT_EQ(DestinationPath("C:\\V\\Holiday.avi", "D:\\OUT\\", ConversionKind::kAviToMpeg, 0),
            "D:\\OUT\\Holid001.mpg");
  // Four characters are kept whole; five are kept as they are.
  EXPECT_EQ(DestinationBaseName("/v/clip.mpg", 0), "clip001");
  EXPECT_EQ(DestinationBaseName("/v/clip1.mpg", 0), "clip1001");
  EXPECT_EQ(DestinationBaseName("/v/clip1.mpg", 15), "clip1016");
  // Only the last dot ends the name; a name without one is kept whole.
  EXPECT_EQ(DestinationPath("/a.b/x.y.wav", "/a.b", ConversionKind::kWavToMp2, -1), "/a.b/x.y.mp2");
  EXPECT_EQ(DestinationBaseName("/v/README", -1), "README");
  // The cut never splits a character.
  EXPECT_EQ(DestinationBaseName("/v/\xC3\xA9t\xC3\xA9s-2020.avi", 0), "\xC3\xA9t\xC3\xA9s-001");
  // A bare name stays in the current directory.
  EXPECT_EQ(DestinationPath("song.MP2", "", ConversionKind::kMp2ToWav, -1), "song.wav");
  EXPECT_EQ(DirectoryOf("song.mp2"), "");
  EXPECT_EQ(DirectoryOf("/song.mp2"), "/");
  EXPECT_EQ(DirectoryOf("/a/b/song.mp2"), "/a/b/");
}

TEST(TemporaryFiles, EachConversionGetsItsOwnName) {
  TempDir dir;
  std::string first;
  {
    TemporaryFile a, b;
    ASSERT_TRUE(a.Create(dir.path().string(), "~audio.tmp"));
    ASSERT_TRUE(b.Create(dir.path().string(), "~audio.tmp"));
    EXPECT_NE(a.path(), b.path());
    EXPECT_EQ(FileNameOf(a.path()).rfind("~audio.tmp", 0), 0u);
    first = a.path();
    EXPECT_TRUE(std::filesystem::exists(first));
  }
  EXPECT_FALSE(std::filesystem::exists(first));
  EXPECT_TRUE(testing::ListDirectory(dir.path()).empty());
  EXPECT_FALSE(TemporaryFile().Create("/proc", "~audio.tmp"));
  EXPECT_FALSE(CanCreateFilesIn("/proc"));
  EXPECT_TRUE(CanCreateFilesIn(dir.path().string()));
}

// A batch-run context over a recording host, as the run sets it up.
struct Fixture {
  Fixture() { flags.batchRunInProgress = true; }
  RecordingHost host;
  RunFlags flags;
  ConversionContext context{host, flags};
  TempDir dir;

  SourceEntry Entry(const std::string& name) {
    SourceEntry e;
    e.path = dir.File(name);
    e.kind = KindByExtension(name);
    testing::WriteFileBytes(e.path, {1, 2, 3});
    return e;
  }
  std::string Out(const std::string& name) const { return dir.File("out/" + name); }
  std::string OutDir() const {
    std::filesystem::create_directories(dir.path() / "out");
    return dir.File("out");
  }
};

SourceEntry WithAudio(SourceEntry e, std::uint16_t tag, std::uint16_t rate, std::uint16_t bits) {
  e.aviInfo.audioFormatTag = tag;
  e.aviInfo.audioSampleRate = rate;
  e.aviInfo.audioBitsPerSample = bits;
  e.aviInfo.audioChannels = 1;
  return e;
}

TEST(ConvertEntry, WholeFileWritesOneOutputAndLogsIt) {
  Fixture f;
  FakeDrivers drivers;
  const SourceEntry e = f.Entry("Holiday.avi");
  EXPECT_EQ(ConvertEntry(e, f.OutDir(), drivers.Set(), f.context), kEntryConverted);
  ASSERT_EQ(drivers.calls.size(), 1u);
  EXPECT_EQ(drivers.calls[0].source, e.path);
  // The driver writes under a name of its own beside the output, which then takes its place.
  EXPECT_EQ(DirectoryOf(drivers.calls[0].destination), f.OutDir() + "/");
  EXPECT_EQ(FileNameOf(drivers.calls[0].destination).rfind("~Holiday.mpg.", 0), 0u);
  EXPECT_EQ(testing::ListDirectory(f.OutDir()), std::vector<std::string>{"Holiday.mpg"});
  EXPECT_EQ(drivers.calls[0].settings.sectionFirst, -1);
  EXPECT_EQ(f.host.lines, std::vector<std::string>{"Write " + f.Out("Holiday.mpg")});
  EXPECT_EQ(f.host.titles,
            (std::vector<std::string>{"Converting " + e.path + " to " + f.Out("Holiday.mpg") + ".",
                                      "Vorla Calvex"}));
  EXPECT_TRUE(drivers.pcmCalls.empty());  // no audio
}

TEST(ConvertEntry, FailureInTheSecondSectionKeepsTheFirstOutput) {
  Fixture f;
  FakeDrivers drivers({kOk, kAviDecodeFailed, kOk});
  SourceEntry e = f.Entry("Holiday.avi");
  e.sections = {{0, 9, {}}, {20, 29, {}}, {40, 49, {}}};
  EXPECT_EQ(ConvertEntry(e, f.OutDir(), drivers.Set(), f.context), kAviDecodeFailed);

  ASSERT_EQ(drivers.calls.size(), 2u);  // the third section is not attempted
  EXPECT_EQ(drivers.calls[1].settings.sectionFirst, 20);
  EXPECT_EQ(drivers.calls[1].settings.sectionLast, 29);
  EXPECT_TRUE(std::filesystem::exists(f.Out("Holid001.mpg")));
  EXPECT_FALSE(std::filesystem::exists(f.Out("Holid002.mpg")));
  EXPECT_EQ(f.host.lines, (std::vector<std::string>{
                              "Write " + f.Out("Holid001.mpg"), "Error occurred:",
                              "Unable to continue. An error has occurred decoding the AVI file.",
                              "Failure to write " + f.Out("Holid002.mpg")}));
  EXPECT_TRUE(f.flags.errorOccurred);
  EXPECT_TRUE(f.host.errorBoxes.empty());
  // The title counts sections from 0, the names from 1.
  EXPECT_EQ(f.host.titles[1],
            "Converting " + e.path + " [Section 1] to " + f.Out("Holid002.mpg") + ".");
}

TEST(ConvertEntry, SectionsAreFittedToTheSourceBeforeAnythingIsWritten) {
  struct Case {
    std::vector<Section> sections;
    Status result;
    std::vector<std::int32_t> lasts;  // the sections' last frames as converted
    std::vector<std::string> lines;   // what the log says besides "Write"
  };
  const std::vector<Case> cases = {
      {{{0, 9}, {90, 99}}, kEntryConverted, {9, 99}, {}},
      {{{0, 9}, {90, 150}},
       kEntryConverted,
       {9, 99},
       {"Section 2 (frames 90 - 150) ends after the last frame of the file and is cut at frame "
        "99."}},
      {{{0, 9}, {100, 110}},
       kSectionPastEnd,
       {},
       {"Error occurred:",
        "The section starts after the last frame of the file. Section 2 (frames 100 - 110): the "
        "file has 100 frames."}},
  };
  for (const ConversionKind kind : {ConversionKind::kAviToMpeg, ConversionKind::kMpegToAvi}) {
    for (const Case& c : cases) {
      Fixture f;
      FakeDrivers drivers;
      drivers.sourceFrames = 100;
      SourceEntry e = WithAudio(f.Entry(kind == ConversionKind::kAviToMpeg ? "m.avi" : "m.mpg"),
                                kWaveFormatMsAdpcm, 11025, 4);
      e.sections = c.sections;
      EXPECT_EQ(ConvertEntry(e, f.OutDir(), drivers.Set(), f.context), c.result);
      std::vector<std::int32_t> lasts;
      for (const DriverCall& call : drivers.calls) lasts.push_back(call.settings.sectionLast);
      EXPECT_EQ(lasts, c.lasts);
      std::vector<std::string> lines;
      for (const std::string& line : f.host.lines)
        if (!line.starts_with("Write ") && !line.starts_with("Failure to write "))
          lines.push_back(line);
      EXPECT_EQ(lines, c.lines);
      if (c.result == kSectionPastEnd) {
        // Refused before anything is written, the temporary sound included.
        EXPECT_TRUE(drivers.pcmCalls.empty());
        EXPECT_TRUE(testing::ListDirectory(f.OutDir()).empty());
      }
    }
  }
}

TEST(ConvertEntry, CancelDeletesTheOutputAndShowsNothing) {
  Fixture f;
  FakeDrivers drivers({kCancelled});
  const SourceEntry e = f.Entry("song.wav");
  EXPECT_EQ(ConvertEntry(e, f.OutDir(), drivers.Set(), f.context), kEntryAborted);
  EXPECT_FALSE(std::filesystem::exists(f.Out("song.mp2")));
  EXPECT_EQ(f.host.lines, std::vector<std::string>{"Failure to write " + f.Out("song.mp2")});
  EXPECT_FALSE(f.flags.errorOccurred);
}

// An output that exists already is replaced only by a conversion that succeeds; a failed or
// cancelled one (in any section) leaves it as it was, and an output that cannot be replaced is
// refused before the driver runs.
TEST(ConvertEntry, EarlierOutputsAreReplacedOnlyOnSuccess) {
  const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
  struct Case {
    std::vector<Status> results;
    Status entryResult;
    std::vector<bool> replaced;  // per section
  };
  const Case cases[] = {
      {{kOk, kOk}, kEntryConverted, {true, true}},
      {{kAviDecodeFailed}, kAviDecodeFailed, {false, false}},
      {{kOk, kCancelled}, kEntryAborted, {true, false}},
      {{kOk, kDiskFull}, kDiskFull, {true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entryResult);
    Fixture f;
    FakeDrivers drivers(c.results);
    SourceEntry e = f.Entry("Holiday.avi");
    e.sections = {{0, 9, {}}, {20, 29, {}}};
    const std::string outputs[] = {f.Out("Holid001.mpg"), f.Out("Holid002.mpg")};
    f.OutDir();
    for (const std::string& out : outputs) testing::WriteFileBytes(out, old);
    EXPECT_EQ(ConvertEntry(e, f.OutDir(), drivers.Set(), f.context), c.entryResult);
    for (int n = 0; n < 2; ++n)
      EXPECT_EQ(testing::ReadFileBytes(outputs[n]) != old, c.replaced[n]) << outputs[n];
    EXPECT_EQ(testing::ListDirectory(f.OutDir()),
              (std::vector<std::string>{"Holid001.mpg", "Holid002.mpg"}));
  }

  // A name as long as a folder takes still has room for the temporary name.
  Fixture f;
  FakeDrivers drivers;
  const std::string longName(251, 'n');
  EXPECT_EQ(ConvertEntry(f.Entry(longName + ".wav"), f.OutDir(), FakeDrivers().Set(), f.context),
            kEntryConverted);
  EXPECT_EQ(testing::ListDirectory(f.OutDir()), std::vector<std::string>{longName + ".mp2"});
  std::filesystem::remove(f.Out(longName + ".mp2"));

  std::filesystem::create_directories(f.Out("song.mp2"));
  EXPECT_EQ(ConvertEntry(f.Entry("song.wav"), f.OutDir(), drivers.Set(), f.context), kCreateFailed);
  EXPECT_TRUE(drivers.calls.empty());
  EXPECT_EQ(testing::ListDirectory(f.OutDir()), std::vector<std::string>{"song.mp2"});
}

TEST(ConvertEntry, OutsideARunAFailureIsShownInABox) {
  Fixture f;
  f.flags.batchRunInProgress = false;
  FakeDrivers drivers({kCreateFailed});
  const SourceEntry e = f.Entry("song.wav");
  EXPECT_EQ(ConvertEntry(e, f.OutDir(), drivers.Set(), f.context), kCreateFailed);
  EXPECT_EQ(f.host.errorBoxes,
            std::vector<std::string>{"Unable to create file. " + f.Out("song.mp2")});
}

TEST(ConvertEntry, FinishedWithANoteCountsAsConverted) {
  Fixture f;
  FakeDrivers drivers({kFinishedWithNote});
  EXPECT_EQ(ConvertEntry(f.Entry("a.mp2"), f.OutDir(), drivers.Set(), f.context), kEntryConverted);
  EXPECT_TRUE(std::filesystem::exists(f.Out("a.wav")));
}

TEST(ConvertEntry, UnknownKindsAndMissingDriversAreNotSupported) {
  Fixture f;
  FakeDrivers drivers;
  EXPECT_EQ(ConvertEntry(f.Entry("movie.avi2"), f.OutDir(), drivers.Set(), f.context),
            kNotSupported);
  DriverSet none;
  EXPECT_EQ(ConvertEntry(f.Entry("movie.mpg"), f.OutDir(), none, f.context), kNotSupported);
  EXPECT_EQ(f.host.lines.back(), "Failure to write " + f.Out("movie.avi"));
  EXPECT_TRUE(drivers.calls.empty());
}

TEST(ConvertEntry, AudioTheEncoderCannotReadGoesThroughATemporaryPcmFile) {
  Fixture f;
  FakeDrivers drivers;
  drivers.pcmFormat = MakePcmFormat(1, 22050, 16);
  SourceEntry e = WithAudio(f.Entry("movie.avi"), kWaveFormatMsAdpcm, 11025, 4);
  e.sections = {{0, 9, {}}, {10, 19, {}}};
  EXPECT_EQ(ConvertEntry(e, f.OutDir(), drivers.Set(), f.context), kEntryConverted);

  ASSERT_EQ(drivers.pcmCalls.size(), 1u);  // once for all sections
  EXPECT_EQ(DirectoryOf(drivers.pcmCalls[0].pcmPath), f.OutDir() + "/");
  EXPECT_EQ(FileNameOf(drivers.pcmCalls[0].pcmPath).rfind("~audio.tmp", 0), 0u);
  ASSERT_EQ(drivers.calls.size(), 2u);
  for (const DriverCall& call : drivers.calls) {
    EXPECT_TRUE(call.pcmTempExisted);
    EXPECT_EQ(call.settings.pcmTempPath, drivers.pcmCalls[0].pcmPath);
    EXPECT_EQ(call.settings.aviInfo.audioFormatTag, kWaveFormatPcm);
    EXPECT_EQ(call.settings.aviInfo.audioSampleRate, 22050);
    EXPECT_EQ(call.settings.aviInfo.audioBitsPerSample, 16);
  }
  // Only the two outputs remain.
  EXPECT_EQ(testing::ListDirectory(f.OutDir()),
            (std::vector<std::string>{"movie001.mpg", "movie002.mpg"}));
}

TEST(ConvertEntry, PcmAudioAtAnMpegRateGoesToTheEncoderDirectly) {
  Fixture f;
  FakeDrivers drivers;
  const SourceEntry e = WithAudio(f.Entry("movie.avi"), kWaveFormatPcm, 22050, 8);
  EXPECT_TRUE(EncoderTakesAviAudio(e.aviInfo));
  EXPECT_FALSE(EncoderTakesAviAudio(WithAudio(e, kWaveFormatPcm, 22000, 8).aviInfo));
  EXPECT_FALSE(EncoderTakesAviAudio(WithAudio(e, kWaveFormatPcm, 44100, 24).aviInfo));
  EXPECT_EQ(ConvertEntry(e, f.OutDir(), drivers.Set(), f.context), kEntryConverted);
  EXPECT_TRUE(drivers.pcmCalls.empty());
  EXPECT_TRUE(drivers.calls[0].settings.pcmTempPath.empty());
}

TEST(ConvertEntry, PcmConversionFailureEndsTheEntryWithoutLeftovers) {
  Fixture f;
  FakeDrivers drivers;
  drivers.pcmResult = kPcmConversionFailed;
  const SourceEntry e = WithAudio(f.Entry("movie.avi"), kWaveFormatMsAdpcm, 11025, 4);
  EXPECT_EQ(ConvertEntry(e, f.OutDir(), drivers.Set(), f.context), kPcmConversionFailed);
  EXPECT_TRUE(drivers.calls.empty());
  EXPECT_TRUE(testing::ListDirectory(f.OutDir()).empty());
  EXPECT_EQ(f.host.lines,
            (std::vector<std::string>{"Error occurred:", "Unable to convert to a PCM file.",
                                      "Failure to write " + f.Out("movie.mpg")}));

  drivers.pcmResult = kCancelled;
  EXPECT_EQ(ConvertEntry(e, f.OutDir(), drivers.Set(), f.context), kEntryAborted);
  EXPECT_TRUE(testing::ListDirectory(f.OutDir()).empty());
}

TEST(ConvertEntry, UnwritableDirectoryCannotHoldTheTemporaryAudio) {
  Fixture f;
  FakeDrivers drivers;
  const SourceEntry e = WithAudio(f.Entry("movie.avi"), kWaveFormatMsAdpcm, 11025, 4);
  EXPECT_EQ(ConvertEntry(e, "/proc", drivers.Set(), f.context), kTempCreateFailed);
  EXPECT_TRUE(drivers.pcmCalls.empty());
}

TEST(ConvertEntry, DataRateWarningCountsAsSuccess) {
  Fixture f;
  FakeDrivers drivers({kDataRateExceeded, kDataRateExceeded});
  SourceEntry e = f.Entry("clip.mpg");
  e.mpegToAvi.width = 352;
  e.mpegToAvi.height = 240;
  e.mpegToAvi.frameRateMilli = 29970;
  e.mpegToAvi.frameRateScale = 1000;
  e.mpegToAvi.limitDataRate = 1;
  EXPECT_EQ(ConvertEntry(e, f.OutDir(), drivers.Set(), f.context), kEntryConverted);
  EXPECT_EQ(f.host.lines, (std::vector<std::string>{"Warning: exceed the data transfer rate.",
                                                    "Write " + f.Out("clip.avi")}));
  EXPECT_TRUE(f.flags.warning);
  EXPECT_EQ(f.host.fields, (std::vector<std::string>{"352 x 240", "29.97"}));

  // Without the limit the warning is not logged.
  f.flags.warning = false;
  e.mpegToAvi.limitDataRate = 0;
  EXPECT_EQ(ConvertEntry(e, f.OutDir(), drivers.Set(), f.context), kEntryConverted);
  EXPECT_FALSE(f.flags.warning);
  EXPECT_TRUE(std::filesystem::exists(f.Out("clip.avi")));

  // For the other kinds 607 is a failure.
  FakeDrivers audio({kDataRateExceeded});
  EXPECT_EQ(ConvertEntry(f.Entry("a.wav"), f.OutDir(), audio.Set(), f.context), kDataRateExceeded);
}

TEST(ConvertEntry, JobsCarryTheEntrysOptions) {
  Fixture f;
  Mp2ToWavJob seen;
  MpegToAviJob seenMpeg;
  DriverSet d;
  d.mp2ToWav = [&](Mp2ToWavJob& j, ConversionContext&) {
    seen = j;
    return kOk;
  };
  d.mpegToAvi = [&](MpegToAviJob& j, ConversionContext&) {
    seenMpeg = j;
    return kOk;
  };
  SourceEntry mp2 = f.Entry("a.mp2");
  mp2.mp2Info.sampleRate = 44100;
  mp2.mp2ToWav.SetFormat(MakePcmFormat(2, 22050, 8));
  EXPECT_EQ(ConvertEntry(mp2, f.OutDir(), d, f.context), kEntryConverted);
  EXPECT_EQ(seen.rateDivisor, 2);
  EXPECT_EQ(seen.bitsPerSample, 8);
  EXPECT_EQ(seen.format.channels, 2);

  SourceEntry mpg = f.Entry("b.mpg");
  mpg.mpegInfo.audioBitsPerSample = 16;
  mpg.sections = {{30, 59, {}}};
  EXPECT_EQ(ConvertEntry(mpg, f.OutDir(), d, f.context), kEntryConverted);
  EXPECT_EQ(seenMpeg.decodingOptions, (std::array<std::int32_t, 4>{1, 6500, 1, 1}));
  EXPECT_EQ(seenMpeg.outputOptions, (std::array<std::int32_t, 2>{1, 16}));
  EXPECT_EQ(seenMpeg.firstFrame, 30);
  EXPECT_EQ(seenMpeg.lastFrame, 59);
  EXPECT_EQ(FileNameOf(seenMpeg.destination).rfind("~b001.avi.", 0), 0u);
}

}  // namespace
}  // namespace calvex
