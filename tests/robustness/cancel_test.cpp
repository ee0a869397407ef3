// Cancelling at every stage of every conversion, at its first and at its last chance: the entry
// ends as aborted, the run stops there, an earlier output is left as it was, and no new output or
// temporary file is left.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/dispatcher.h"
#include "robustness/conversion_runs.h"
#include "robustness/io_faults.h"
#include "video_decoder/index_cache.h"

namespace calvex::testing {
namespace {

struct Stage {
  const char* name;
  std::string TestSources::*source;
  // The stage's progress kind, and whether its calls come after those of an earlier stage of
  // the same kind (the PCM conversion of the AVI's sound precedes the audio encoder).
  ProgressKind kind;
  bool polls = false;  // the video encoder's cancel check between pictures
};

const Stage kStages[] = {
    {"VideoEncoderPoll", &TestSources::aviWithSound, ProgressKind::kVideo, true},
    {"VideoFrames", &TestSources::aviWithSound, ProgressKind::kVideo},
    {"SilentVideoFrames", &TestSources::aviSilent, ProgressKind::kVideo},
    {"AviAudioEncoder", &TestSources::aviWithSound, ProgressKind::kAudio},
    {"AdpcmToPcmAndEncoder", &TestSources::aviAdpcm, ProgressKind::kAudio},
    {"Interleaving", &TestSources::aviWithSound, ProgressKind::kInterleaving},
    {"WavEncoder", &TestSources::wav, ProgressKind::kAudio},
    {"Mp2Decoding", &TestSources::mp2, ProgressKind::kAudio},
    {"MpegSoundDecoding", &TestSources::mpegSystem, ProgressKind::kAudio},
    {"MpegVideoDecoding", &TestSources::mpegSystem, ProgressKind::kVideo},
    {"VideoStreamDecoding", &TestSources::mpegVideo, ProgressKind::kVideo},
};

class Cancel : public ::testing::TestWithParam<Stage> {};

TEST_P(Cancel, AtFirstAndLastCallLeavesNothingAndStopsTheRun) {
  CALVEX_REQUIRE_SOURCES();
  const Stage& stage = GetParam();
  const std::string source = Sources().*stage.source;

  ScriptedHost counting;
  int polls = 0;
  counting.cancelAtPoll = [&](int n) {
    polls = n;
    return false;
  };
  ASSERT_EQ(RunConversion(source, counting).outcome.results[0], kEntryConverted);
  const int calls = stage.polls ? polls : counting.ProgressCalls(stage.kind);
  ASSERT_GT(calls, 0);

  for (int at : {1, calls / 2 + 1, calls}) {
    SCOPED_TRACE(at);
    ScriptedHost host;
    bool asked = false;
    if (stage.polls) {
      host.cancelAtPoll = [&](int n) { return n == at && (asked = true); };
    } else {
      host.cancelAtProgress = [&](ProgressKind kind, int n) {
        return kind == stage.kind && n == at && (asked = true);
      };
    }
    const RunResult run = RunConversion(source, host, {}, /*replacing=*/at != 1);
    EXPECT_TRUE(asked);
    EXPECT_EQ(run.outcome.results[0], kEntryAborted);
    EXPECT_TRUE(run.outcome.cancelled);
    EXPECT_EQ(run.outcome.results[1], kEntryNotReached);
    EXPECT_EQ(run.leftBehind, std::vector<std::string>{});
    EXPECT_EQ(run.descriptorsLeaked, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Stages, Cancel, ::testing::ValuesIn(kStages),
                         [](const auto& info) { return std::string(info.param.name); });

// The scan that builds an MPEG file's index when no cache holds it: cancelled, it leaves no index
// and writes no cache file.
TEST(Cancel, ScanOfAnMpegFileLeavesNoIndexAndNoCache) {
  CALVEX_REQUIRE_SOURCES();
  ScriptedHost host;
  ASSERT_EQ(RunConversion(Sources().aviWithSound, host).outcome.results[0], kEntryConverted);
  const std::string mpeg = OutputDirectory() + "movie.mpg";
  TempDir cache;
  for (int at : {1, 4}) {
    int asked = 0;
    video_decoder::ScanCallbacks callbacks;
    callbacks.cancelled = [&] { return ++asked == at; };
    video_decoder::GopIndex index;
    EXPECT_EQ(video_decoder::OpenMpegIndex(mpeg, index, callbacks, cache.path().string() + "/"),
              kCancelled);
    EXPECT_EQ(asked, at);
    EXPECT_EQ(index.UsedCount(), 0);
    EXPECT_EQ(ListDirectory(cache.path()), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace calvex::testing
