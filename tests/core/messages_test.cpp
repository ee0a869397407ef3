#include "core/messages.h"

#include <gtest/gtest.h>

#include <string>

#include "core/progress.h"

namespace calvex {
namespace {

TEST(Messages, TextsFitTheirBuffers) {
  for (int id = 0; id < 4000; ++id) EXPECT_LE(MessageText(id).size(), 127u) << id;
  EXPECT_EQ(MessageText(147), "Free space in the destination disk is not enough.");
  EXPECT_TRUE(MessageText(103).empty());
}

TEST(Messages, FormatsNeverCutLongArguments) {
  const std::string path(300, 'x');
  const std::string line = FormatMessage(223, path);
  EXPECT_EQ(line, "Write " + path);
  EXPECT_EQ(FormatMessage(130, 103), "Internal error code = 103.");
}

TEST(Progress, TimeCodes) {
  ProgressRecord r;
  r.hours = 1;
  r.minutes = 2;
  r.seconds = 3;
  r.fraction = 4;
  EXPECT_EQ(TimeCodeText(r, ProgressKind::kVideo), "01:02:03:04");
  EXPECT_EQ(TimeCodeText(r, ProgressKind::kAudio), "01:02:03.4");
  EXPECT_EQ(StageCaption(ProgressKind::kInterleaving), "Interleaving");
}

}  // namespace
}  // namespace calvex
