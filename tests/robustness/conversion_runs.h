// Whole conversions for the robustness tests: small sources of every kind made with ffmpeg once
// per build tree (shared by the test processes, read only), and batch runs through the default
// drivers whose host can cancel at a chosen stage or meddle with the source while it converts.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/host.h"
#include "core/settings.h"
#include "engine/batch_run.h"
#include "support/test_support.h"

namespace calvex::testing {

// The sources, in a directory of their own that the tests never write to. Movies are 32 x 32
// pixels, 8 frames at 30 frames per second; sounds about a quarter of a second.
struct TestSources {
  std::string aviWithSound;  // PCM sound the audio encoder reads directly
  std::string aviSilent;
  std::string aviAdpcm;  // sound that is converted into a temporary PCM file first
  std::string wav;
  std::string mp2;
  std::string mpegSystem;  // MPEG-1 video and Layer II sound
  std::string mpegVideo;   // a video elementary stream
  std::string bystander;   // a WAV that a run stopped by a failure must not reach
};
// Made on first use; empty paths when ffmpeg is missing (the tests then skip).
const TestSources& Sources();
// Larger sources (movies of 160 x 120 pixels and a second, sounds of three seconds), larger than
// any reader's buffer: for the tests that change a source while it converts.
const TestSources& LargeSources();

#define CALVEX_REQUIRE_SOURCES()                                                     \
  do {                                                                               \
    if (::calvex::testing::Sources().wav.empty()) GTEST_SKIP() << "no test sources"; \
  } while (0)

// A host that shows nothing and cancels (confirmed) when told: at the n-th progress call of a
// stage (1-based, counted per stage) or the n-th poll of the video encoder. Calls are counted, and
// the functions asked, during the run's first entry only.
class ScriptedHost : public NullHost {
 public:
  std::function<bool(ProgressKind kind, int call)> cancelAtProgress;
  std::function<bool(int poll)> cancelAtPoll;
  // Called at every progress call before the cancel decision (to change the source, say).
  std::function<void(ProgressKind kind, int call)> onProgress;

  bool ConversionProgress(const ProgressRecord&, ProgressKind kind, int thousandths) override;
  bool PollCancel() override;
  bool AskYesNo(const std::string&) override { return true; }  // replace earlier outputs
  void EntryStarted(int index, int) override { entry_ = index; }

  int ProgressCalls(ProgressKind kind) const { return calls_[static_cast<int>(kind)]; }
  bool SawBadThousandths() const { return badThousandths_; }

 private:
  int calls_[3] = {};
  int polls_ = 0;
  int entry_ = 0;
  bool badThousandths_ = false;
};

// One batch run: the source under test, then the bystander; outputs into an empty directory.
struct RunResult {
  BatchOutcome outcome;
  // What the output directory holds afterwards, less the earlier outputs (of a run that replaces
  // them) that still hold what they held; an earlier output that was lost or changed is listed
  // as its name and " (lost)".
  std::vector<std::string> leftBehind;
  int descriptorsLeaked = 0;
};
// `adjust` may change the entry (its parameters, its sections) before the run. With `replacing`
// every output of the source's entry exists before the run.
RunResult RunConversion(const std::string& source, ScriptedHost& host,
                        const std::function<void(SourceEntry&)>& adjust = {},
                        bool replacing = false);
// The output directory of RunConversion (emptied at the start of each run).
const std::string& OutputDirectory();

}  // namespace calvex::testing
