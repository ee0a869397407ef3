// A source that is cut short while it converts (another program truncating it, a copy that is
// being overwritten): the conversion ends with an error code, leaves no output or temporary file,
// and the run goes on with the next entry. Never a crash or a hang.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/dispatcher.h"
#include "robustness/conversion_runs.h"

namespace calvex::testing {
namespace {

struct Cut {
  const char* name;
  std::string TestSources::*source;
  ProgressKind kind;  // the stage in which the source is cut
};

const Cut kCuts[] = {
    {"AviWhileVideo", &TestSources::aviWithSound, ProgressKind::kVideo},
    {"AviWhileAudio", &TestSources::aviWithSound, ProgressKind::kAudio},
    {"SilentAviWhileVideo", &TestSources::aviSilent, ProgressKind::kVideo},
    {"AdpcmAviWhileAudio", &TestSources::aviAdpcm, ProgressKind::kAudio},
    {"WavWhileEncoding", &TestSources::wav, ProgressKind::kAudio},
    {"Mp2WhileDecoding", &TestSources::mp2, ProgressKind::kAudio},
    {"MpegWhileSound", &TestSources::mpegSystem, ProgressKind::kAudio},
    {"MpegWhileVideo", &TestSources::mpegSystem, ProgressKind::kVideo},
    {"VideoStreamWhileDecoding", &TestSources::mpegVideo, ProgressKind::kVideo},
};

class ChangingSource : public ::testing::TestWithParam<Cut> {};

TEST_P(ChangingSource, EndsWithAnErrorCode) {
  CALVEX_REQUIRE_SOURCES();
  const Cut& cut = GetParam();
  namespace fs = std::filesystem;
  TempDir dir;
  const std::string original = LargeSources().*cut.source;
  const std::string source = dir.File(fs::path(original).filename().string());
  const auto size = static_cast<std::int64_t>(fs::file_size(original));

  for (std::int64_t keep : {size / 2, std::int64_t{64}, std::int64_t{0}}) {
    SCOPED_TRACE(keep);
    fs::copy_file(original, source, fs::copy_options::overwrite_existing);
    ScriptedHost host;
    host.onProgress = [&](ProgressKind kind, int call) {
      if (kind == cut.kind && call == 2) fs::resize_file(source, static_cast<std::uintmax_t>(keep));
    };
    const RunResult run = RunConversion(source, host);
    EXPECT_GE(run.outcome.results[0], 3u) << "a cut source converted as if whole";
    EXPECT_EQ(run.outcome.results[1], kEntryConverted);
    EXPECT_EQ(run.leftBehind, std::vector<std::string>{"bystander.mp2"});
    EXPECT_EQ(run.descriptorsLeaked, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, ChangingSource, ::testing::ValuesIn(kCuts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace calvex::testing
