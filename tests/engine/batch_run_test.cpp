#include "engine/batch_run.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/dispatcher.h"
#include "engine/recording_host.h"
#include "support/test_support.h"

namespace calvex {
namespace {

using testing::FakeDrivers;
using testing::RecordingHost;
using testing::TempDir;

struct TestRun {
  TempDir dir;
  RecordingHost host;
  RunFlags flags;
  BatchSettings settings;
  std::vector<SourceEntry> entries;

  TestRun() { settings.clock = testing::FixedLogTime; }

  void Add(const std::string& name, bool create = true) {
    SourceEntry e;
    e.path = dir.File(name);
    e.kind = KindByExtension(name);
    if (create) testing::WriteFileBytes(e.path, {1});
    entries.push_back(e);
  }
  void LogTo(const std::string& name) {
    settings.logging = true;
    settings.logPath = dir.File(name);
  }
  std::string Log() const {
    const auto bytes = testing::ReadFileBytes(settings.logPath);
    return {bytes.begin(), bytes.end()};
  }
  BatchOutcome Go(FakeDrivers& drivers) {
    return RunBatch(entries, settings, drivers.Set(), host, flags);
  }
};

const std::string kStart = "The starting time is Sat Aug 05 18:44:51 1995\r\n";
const std::string kFinish = "\r\nThe finishing time is Sat Aug 05 18:44:51 1995\r\n";

TEST(BatchRun, CleanRunLogsEveryFileAndEndsWithConversionComplete) {
  TestRun r;
  r.Add("a.wav");
  r.Add("b.mp2");
  r.LogTo("run.log");
  r.settings.beepDone = true;
  FakeDrivers drivers;
  const BatchOutcome out = r.Go(drivers);

  EXPECT_TRUE(out.converted);
  EXPECT_EQ(out.results, (std::vector<Status>{kEntryConverted, kEntryConverted}));
  const std::string a = r.dir.File("a.wav"), b = r.dir.File("b.mp2");
  EXPECT_EQ(r.Log(), kStart + "Converting...\r\nRead " + a + " (1 of 2)\r\nWrite " +
                         r.dir.File("a.mp2") + "\r\nRead " + b + " (2 of 2)\r\nWrite " +
                         r.dir.File("b.wav") + "\r\nConversion finished.\r\n" + kFinish);
  EXPECT_EQ(r.host.lines.size(), 6u);  // the time lines go to the file only
  EXPECT_EQ(r.host.sounds, std::vector<std::string>{"done"});
  EXPECT_EQ(r.host.messages, std::vector<std::string>{"info: Conversion complete."});
  EXPECT_TRUE(r.host.viewers.empty());
  EXPECT_FALSE(r.flags.batchRunInProgress);
}

TEST(BatchRun, FailuresAreLoggedAndTheLogIsOpenedAtTheEnd) {
  TestRun r;
  r.Add("a.wav");
  r.Add("missing.wav", false);
  r.Add("c.wav");
  r.LogTo("run.log");
  FakeDrivers drivers({kWavCorrupted});
  const BatchOutcome out = r.Go(drivers);

  EXPECT_EQ(out.results, (std::vector<Status>{kWavCorrupted, kOpenFailed, kEntryConverted}));
  EXPECT_TRUE(out.errorOccurred);
  const std::string log = r.Log();
  EXPECT_NE(log.find("Error occurred:\r\nThe specified WAV file is corrupted.\r\nFailure to "
                     "write " +
                     r.dir.File("a.mp2") + "\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("Error occurred:\r\nUnable to open file. " + r.dir.File("missing.wav") +
                     "\r\nRead " + r.dir.File("c.wav") + " (3 of 3)\r\n"),
            std::string::npos);
  EXPECT_EQ(log.find("Conversion finished."), std::string::npos);
  EXPECT_TRUE(log.ends_with(kFinish));
  EXPECT_EQ(r.host.viewers, std::vector<std::string>{r.dir.File("run.log")});
  EXPECT_TRUE(r.host.messages.empty());
  EXPECT_TRUE(r.host.errorBoxes.empty());
  EXPECT_FALSE(r.flags.errorOccurred);  // cleared by the run end
}

TEST(BatchRun, WithoutALogErrorsEndWithTheErrorsOccurBox) {
  TestRun r;
  r.Add("a.wav");
  FakeDrivers drivers({kWavCorrupted});
  r.Go(drivers);
  EXPECT_EQ(r.host.messages, std::vector<std::string>{
                                 "exclamation: Unable to complete the conversion. Errors occur!"});
  EXPECT_TRUE(r.host.viewers.empty());
}

TEST(BatchRun, AbortWhenErrorStopsAtTheFirstFailure) {
  TestRun r;
  r.Add("a.wav");
  r.Add("missing.wav", false);
  r.Add("c.wav");
  r.settings.abortWhenError = true;
  FakeDrivers drivers;
  const BatchOutcome out = r.Go(drivers);
  EXPECT_EQ(out.results, (std::vector<Status>{kEntryConverted, kOpenFailed, kEntryNotReached}));
  EXPECT_EQ(drivers.calls.size(), 1u);
}

TEST(BatchRun, ConfirmedCancelStopsTheRunWithoutABox) {
  TestRun r;
  r.Add("a.wav");
  r.Add("b.wav");
  r.Add("c.wav");
  r.LogTo("run.log");
  FakeDrivers drivers({kOk, kCancelled});
  // A driver returns 1 after its context reported the confirmed cancel.
  int call = 0;
  drivers.during = [&](ConversionContext& c) {
    if (++call == 2) c.flags().cancelled = true;
  };
  const BatchOutcome out = r.Go(drivers);
  EXPECT_TRUE(out.cancelled);
  EXPECT_EQ(out.results, (std::vector<Status>{kEntryConverted, kEntryAborted, kEntryNotReached}));
  EXPECT_FALSE(std::filesystem::exists(r.dir.File("b.mp2")));
  EXPECT_TRUE(std::filesystem::exists(r.dir.File("a.mp2")));
  EXPECT_TRUE(r.Log().ends_with("Failure to write " + r.dir.File("b.mp2") +
                                "\r\nConversion ended by user. The conversion process was not "
                                "completed.\r\n" +
                                kFinish));
  EXPECT_TRUE(r.host.messages.empty());
  EXPECT_TRUE(r.host.viewers.empty());
  EXPECT_FALSE(r.flags.cancelled);
}

TEST(BatchRun, FullDiskStopsTheRun) {
  TestRun r;
  r.Add("a.wav");
  r.Add("b.wav");
  FakeDrivers drivers({kWavWriteFailed});
  drivers.during = [](ConversionContext& c) { c.RaiseDiskFull(); };
  const BatchOutcome out = r.Go(drivers);
  EXPECT_TRUE(out.diskFull);
  EXPECT_EQ(out.results[1], kEntryNotReached);
  EXPECT_EQ(r.host.messages, (std::vector<std::string>{
                                 "exclamation: Free space in the destination disk is not enough.",
                                 "exclamation: Unable to complete the conversion. Errors occur!"}));
}

TEST(BatchRun, DataRateWarningAloneOpensTheLog) {
  TestRun r;
  r.Add("a.mpg");
  r.entries[0].mpegToAvi.limitDataRate = 1;
  r.LogTo("run.log");
  FakeDrivers drivers({kDataRateExceeded});
  const BatchOutcome out = r.Go(drivers);
  EXPECT_EQ(out.results[0], kEntryConverted);
  EXPECT_TRUE(out.warning);
  EXPECT_EQ(r.host.viewers.size(), 1u);
  EXPECT_NE(r.Log().find("Warning: exceed the data transfer rate.\r\nWrite "), std::string::npos);
}

TEST(BatchRun, ChecksBeforeTheRun) {
  {
    TestRun r;  // an empty list
    r.LogTo("run.log");
    FakeDrivers drivers;
    EXPECT_FALSE(r.Go(drivers).converted);
    EXPECT_EQ(r.host.errorBoxes, std::vector<std::string>{"Please select a file first."});
    EXPECT_EQ(r.Log(), kStart + kFinish);
  }
  {
    TestRun r;  // a destination that is not a directory
    r.Add("a.wav");
    r.settings.destinationDirectory = r.dir.File("nowhere");
    FakeDrivers drivers;
    EXPECT_FALSE(r.Go(drivers).converted);
    EXPECT_EQ(r.host.errorBoxes,
              std::vector<std::string>{"The destination directory does not exist."});
    EXPECT_TRUE(drivers.calls.empty());
  }
  {
    TestRun r;  // a destination where nothing can be created
    r.Add("a.wav");
    r.settings.destinationDirectory = "/proc";
    FakeDrivers drivers;
    EXPECT_FALSE(r.Go(drivers).converted);
    EXPECT_EQ(r.host.messages,
              std::vector<std::string>{"exclamation: The drive /proc/ is read only."});
    EXPECT_TRUE(drivers.calls.empty());
  }
}

TEST(BatchRun, ExistingOutputsAreReplacedOnlyAfterYes) {
  TestRun r;
  r.Add("a.wav");
  r.Add("clip.mpg");
  r.entries[1].sections = {{0, 1, {}}, {2, 3, {}}};
  std::filesystem::create_directories(r.dir.path() / "out");
  r.settings.destinationDirectory = r.dir.File("out");
  const std::string existing = r.dir.File("out/clip002.avi");
  testing::WriteFileBytes(existing, {42});
  EXPECT_EQ(FirstExistingOutput(r.entries, r.settings), existing);

  r.host.answerYes = false;
  FakeDrivers drivers;
  EXPECT_FALSE(r.Go(drivers).converted);
  EXPECT_EQ(r.host.questions,
            std::vector<std::string>{"Do you want to replace the existing file(s)?"});
  EXPECT_EQ(testing::ReadFileBytes(existing), std::vector<std::uint8_t>{42});
  EXPECT_TRUE(drivers.calls.empty());
  // Nothing of the run is left in the destination.
  EXPECT_EQ(testing::ListDirectory(r.dir.path() / "out"), std::vector<std::string>{"clip002.avi"});

  r.host.answerYes = true;
  EXPECT_TRUE(r.Go(drivers).converted);
  EXPECT_EQ(drivers.calls.size(), 3u);
  EXPECT_NE(testing::ReadFileBytes(existing), std::vector<std::uint8_t>{42});
}

TEST(BatchRun, LogThatCannotBeCreatedLeavesTheRunWithoutLog) {
  TestRun r;
  r.Add("a.wav");
  r.settings.logging = true;
  r.settings.logPath = "/proc/calvex.log";
  FakeDrivers drivers({kWavCorrupted});
  const BatchOutcome out = r.Go(drivers);
  EXPECT_TRUE(out.logCreateFailed);
  EXPECT_TRUE(out.converted);
  EXPECT_EQ(r.host.messages.size(), 1u);  // 247, as without a log
}

TEST(BatchRun, ParallelEntriesConvertEveryEntry) {
  auto convert = [](int jobs) {
    TestRun r;
    for (int i = 0; i < 7; ++i) r.Add("f" + std::to_string(i) + (i % 2 ? ".wav" : ".mp2"));
    r.settings.jobs = jobs;
    FakeDrivers drivers;
    const BatchOutcome out = r.Go(drivers);
    EXPECT_EQ(out.results, std::vector<Status>(7, kEntryConverted));
    EXPECT_EQ(r.host.lines.size(), 1u + 7u * 2u + 1u);
    return testing::ListDirectory(r.dir.path());
  };
  const auto sequential = convert(1);
  EXPECT_EQ(sequential.size(), 14u);
  EXPECT_EQ(sequential, convert(3));
}

}  // namespace
}  // namespace calvex
