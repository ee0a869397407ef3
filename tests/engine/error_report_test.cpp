#include "core/error_report.h"

#include <gtest/gtest.h>

#include "engine/recording_host.h"
#include "engine/run_log.h"

namespace calvex {
namespace {

using testing::RecordingHost;

TEST(ErrorText, BuildsTheTextByCode) {
  EXPECT_EQ(ErrorText(101, "/v/a.avi"), "Unable to open file. /v/a.avi");
  EXPECT_EQ(ErrorText(102, "/o/a.mpg"), "Unable to create file. /o/a.mpg");
  EXPECT_EQ(ErrorText(132, "/v/a.avi"), "/v/a.avi does not exist.");
  EXPECT_EQ(ErrorText(138, "vbrowse.dll"), "Unable to load library vbrowse.dll.");
  // A name with a percent sign is text, not a format.
  EXPECT_EQ(ErrorText(132, "/v/100%s.avi"), "/v/100%s.avi does not exist.");
  EXPECT_EQ(ErrorText(142, "ignored"), "Not supported.");
  EXPECT_EQ(ErrorText(607),
            "The actual data transfer rate exceeds the data transfer rate specified.");
  EXPECT_EQ(ErrorText(1003), "Unable to open the AVI file.");
  // Codes without a message of their own, or not shown by it, are internal errors.
  EXPECT_EQ(ErrorText(103), "Internal error code = 103.");
  EXPECT_EQ(ErrorText(129), "Internal error code = 129.");
  EXPECT_EQ(ErrorText(137), "Internal error code = 137.");
  EXPECT_EQ(ErrorText(240), "Internal error code = 240.");
  EXPECT_EQ(ErrorText(99999), "Internal error code = 99999.");
  for (Status quiet : {kOk, kCancelled, kFinishedWithNote}) EXPECT_EQ(ErrorText(quiet), "");
}

TEST(ReportError, OutsideARunShowsABox) {
  RecordingHost host;
  RunFlags flags;
  ConversionContext context(host, flags);
  ReportError(context, 101, "/v/a.avi");
  ReportError(host, 139);
  EXPECT_EQ(host.errorBoxes, (std::vector<std::string>{"Unable to open file. /v/a.avi",
                                                       "The list file has been corrupted."}));
  EXPECT_TRUE(host.lines.empty());
  EXPECT_FALSE(flags.errorOccurred);
}

TEST(ReportError, DuringARunLogsTwoLinesAndRaisesTheErrorFlag) {
  RecordingHost host;
  RunFlags flags;
  flags.batchRunInProgress = true;
  ConversionContext context(host, flags);
  ReportError(context, 103);
  EXPECT_EQ(host.lines,
            (std::vector<std::string>{"Error occurred:", "Internal error code = 103."}));
  EXPECT_TRUE(host.errorBoxes.empty());
  EXPECT_EQ(host.sounds, std::vector<std::string>{"error"});
  EXPECT_TRUE(flags.errorOccurred);
}

TEST(ReportError, CancelAndNotesShowNothing) {
  RecordingHost host;
  RunFlags flags;
  ConversionContext context(host, flags);
  for (Status quiet : {kOk, kCancelled, kFinishedWithNote}) {
    ReportError(context, quiet);
    flags.batchRunInProgress = true;
    ReportError(context, quiet);
    flags.batchRunInProgress = false;
  }
  EXPECT_TRUE(host.errorBoxes.empty());
  EXPECT_TRUE(host.lines.empty());
  EXPECT_TRUE(host.sounds.empty());
  EXPECT_FALSE(flags.errorOccurred);
}

// A host whose user pressed Esc: the progress call asks the abort question.
class EscHost : public RecordingHost {
 public:
  bool ConversionProgress(const ProgressRecord&, ProgressKind, int) override {
    return ConfirmAbort();
  }
};

TEST(ConfirmAbort, OnlyAConfirmedCancelStopsTheConversion) {
  EscHost host;
  RunFlags flags;
  ConversionContext context(host, flags);
  host.answerYes = false;
  EXPECT_FALSE(context.Progress({}, ProgressKind::kVideo, 500));
  EXPECT_FALSE(flags.cancelled);
  host.answerYes = true;
  EXPECT_TRUE(context.Progress({}, ProgressKind::kVideo, 600));
  EXPECT_TRUE(flags.cancelled);
  EXPECT_EQ(host.questions,
            std::vector<std::string>(2, "Do you want to abort the current conversion.?"));
  // A host that cannot ask never cancels.
  NullHost quiet;
  EXPECT_FALSE(quiet.ConfirmAbort());
}

TEST(LogText, LinesAndTimes) {
  EXPECT_EQ(LogLineText(0, "plain"), "plain");
  EXPECT_EQ(LogLineText(223, "/o/a.mpg"), "Write /o/a.mpg");
  EXPECT_EQ(LogLineText(220), "Converting...");
  EXPECT_EQ(LogTimeText(testing::FixedLogTime()), "Sat Aug 05 18:44:51 1995");
  EXPECT_EQ(LogTimeText(LocalTimeNow()).size(), 24u);
}

}  // namespace
}  // namespace calvex
