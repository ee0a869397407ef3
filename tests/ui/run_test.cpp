// Conversion runs from the window: summaries, the log, the questions that stop a run, Esc, and
// what may not happen while a run is under way.
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <fstream>
#include <sstream>

#include "core/messages.h"
#include "ui/frame_view.h"
#include "ui/status_strip.h"
#include "window_fixture.h"

namespace calvex::testing {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class RunTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    clock = FixedLogTime;
  }
  void ThreeFilesOneFailing() {
    Add({Source("a_320x240_s.avi"), Source("fail.wav"), Source("c.mp2")});
  }
};

TEST_F(RunTest, AFailureWithLoggingOpensTheLog) {
  ThreeFilesOneFailing();
  ASSERT_TRUE(ConvertAndWait());
  const std::string log = DefaultLogPath();
  EXPECT_EQ(dialogs.viewed, QStringList({QString::fromStdString(log)}));
  EXPECT_TRUE(dialogs.messages.isEmpty());
  const std::string a = dir.File("a_320x240_s.avi"), b = dir.File("fail.wav"),
                    c = dir.File("c.mp2");
  EXPECT_EQ(ReadText(log),
            "The starting time is Sat Aug 05 18:44:51 1995\r\n"
            "Converting...\r\n"
            "Read " +
                a +
                " (1 of 3)\r\n"
                "Write " +
                dir.File("a_320x240_s.mpg") +
                "\r\n"
                "Read " +
                b +
                " (2 of 3)\r\n"
                "Error occurred:\r\n"
                "The specified WAV file is corrupted.\r\n"
                "Failure to write " +
                dir.File("fail.mp2") +
                "\r\n"
                "Read " +
                c +
                " (3 of 3)\r\n"
                "Write " +
                dir.File("c.wav") +
                "\r\n"
                "\r\n"
                "The finishing time is Sat Aug 05 18:44:51 1995\r\n");
  EXPECT_TRUE(std::filesystem::exists(dir.File("c.wav")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("fail.mp2")));
  EXPECT_EQ(window().lastRunLines().size(), 9);
  // After the run: the pages are back, entry 0 alone selected, the status list empty.
  EXPECT_EQ(window().SelectedRows(), std::vector<int>({0}));
  EXPECT_EQ(window().statusList->count(), 0);
  EXPECT_TRUE(window().fileList->isEnabled());
}

TEST_F(RunTest, AFailureWithoutLoggingShowsMessage247) {
  std::ofstream(IniPath()) << "[Calvex]\nLogFile=0\nBeepDone=1\n";
  ThreeFilesOneFailing();
  ASSERT_TRUE(ConvertAndWait());
  EXPECT_TRUE(dialogs.viewed.isEmpty());
  EXPECT_EQ(dialogs.messages,
            QStringList({"exclamation: Unable to complete the conversion. Errors occur!"}));
  EXPECT_EQ(dialogs.exclamations, 1);
  EXPECT_EQ(dialogs.beeps, 1);  // the error sound of the failed file
  EXPECT_FALSE(std::filesystem::exists(DefaultLogPath()));
}

TEST_F(RunTest, AbortWhenErrorStopsAtTheFailure) {
  std::ofstream(IniPath()) << "[Calvex]\nAbortWhenErr=1\nLogFile=0\n";
  ThreeFilesOneFailing();
  ASSERT_TRUE(ConvertAndWait());
  EXPECT_FALSE(std::filesystem::exists(dir.File("c.wav")));
  EXPECT_EQ(window().lastOutcome().results[2], kEntryNotReached);
}

TEST_F(RunTest, ACleanRunSaysComplete) {
  Add({Source("x.wav")});
  ASSERT_TRUE(ConvertAndWait());
  EXPECT_EQ(dialogs.messages, QStringList({"info: Conversion complete."}));
  EXPECT_TRUE(window().lastRunLines().contains("Conversion finished."));
}

TEST_F(RunTest, NoToTheOverwriteQuestionConvertsNothing) {
  Add({Source("x.wav"), Source("y.mp2")});
  std::ofstream(dir.File("y.wav")) << "existing";
  dialogs.answers = {false};
  ASSERT_TRUE(ConvertAndWait());
  EXPECT_EQ(dialogs.questions, QStringList({"Do you want to replace the existing file(s)?"}));
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.mp2")));
  EXPECT_EQ(ReadText(dir.File("y.wav")), "existing");
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_EQ(window().entries().size(), 2u);
}

TEST_F(RunTest, AMissingDestinationDirectoryConvertsNothing) {
  Add({Source("x.wav")});
  window().anotherDirectory->click();
  ASSERT_TRUE(ConvertAndWait());
  EXPECT_EQ(dialogs.messages,
            QStringList({"exclamation: The destination directory does not exist."}));
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.mp2")));
}

TEST_F(RunTest, AnEmptyListAsksForAFile) {
  window().ConvertCommand();
  EXPECT_FALSE(window().runInProgress());
  EXPECT_EQ(dialogs.messages, QStringList({"exclamation: Please select a file first."}));
}

TEST_F(RunTest, ADiskFullEndingSaysSoInsteadOfComplete) {
  drivers.wavToMp2 = [](WavToMp2Job& job, ConversionContext& context) -> Status {
    std::ofstream(job.destination) << "part";
    context.RaiseDiskFull();
    return kOk;
  };
  std::ofstream(IniPath()) << "[Calvex]\nLogFile=0\n";
  Add({Source("x.wav"), Source("y.wav")});
  ASSERT_TRUE(ConvertAndWait());
  EXPECT_EQ(dialogs.messages,
            QStringList({"exclamation: Free space in the destination disk is not enough."}));
  EXPECT_EQ(window().lastOutcome().results[1], kEntryNotReached);
}

TEST_F(RunTest, EscAsksAtOnceAndYesEndsTheRun) {
  // Each picture takes 400 ms: the question must still come at once.
  drivers = ReportingDrivers(50, 400, 64, 48);
  Add({Source("slow_320x240_s.avi"), Source("next.wav")});
  QSignalSpy ended(&window(), &ui::MainWindow::runEnded);
  window().ConvertCommand();
  QTRY_VERIFY(window().converting());
  QElapsedTimer timer;
  qint64 asked = -1;
  dialogs.onQuestion = [&](const QString&) { asked = timer.elapsed(); };
  dialogs.answers = {true};
  timer.start();
  QTest::keyClick(&window(), Qt::Key_Escape);
  EXPECT_GE(asked, 0);
  EXPECT_LT(asked, 100);
  EXPECT_EQ(dialogs.questions.back(), "Do you want to abort the current conversion.?");
  ASSERT_TRUE(ended.wait(5000));
  EXPECT_TRUE(window().lastOutcome().cancelled);
  EXPECT_TRUE(window().lastRunLines().contains(
      "Conversion ended by user. The conversion process was not completed."));
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_FALSE(std::filesystem::exists(dir.File("slow_320x240_s.mpg")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("next.mp2")));
  // The log still got its finishing lines.
  EXPECT_NE(ReadText(DefaultLogPath()).find("The finishing time is"), std::string::npos);
}

TEST_F(RunTest, EscAnsweredNoGoesOn) {
  drivers = ReportingDrivers(20, 10, 64, 48);
  Add({Source("a_320x240_s.avi")});
  QSignalSpy ended(&window(), &ui::MainWindow::runEnded);
  window().ConvertCommand();
  QTRY_VERIFY(window().converting());
  dialogs.answers = {false};
  QTest::keyClick(&window(), Qt::Key_Escape);
  ASSERT_TRUE(ended.wait(5000));
  EXPECT_FALSE(window().lastOutcome().cancelled);
  EXPECT_EQ(dialogs.messages, QStringList({"info: Conversion complete."}));
}

TEST_F(RunTest, NothingChangesTheListOrClosesTheWindowDuringARun) {
  drivers = ReportingDrivers(40, 10, 320, 240);
  Add({Source("a_320x240_s.avi")});
  QSignalSpy ended(&window(), &ui::MainWindow::runEnded);
  window().ConvertCommand();
  ASSERT_TRUE(window().runInProgress());
  window().ConvertCommand();  // no second run
  EXPECT_FALSE(window().close());
  window().AddCommandLine({Source("b.wav")}, "/");
  window().RemoveAllCommand();
  EXPECT_EQ(window().entries().size(), 1u);
  EXPECT_FALSE(window().fileList->isEnabled());
  // The picture being coded and the progress show while the run goes.
  QTRY_VERIFY(!window().frameView->frame().isNull());
  EXPECT_EQ(window().frameView->frame().size(), QSize(320, 240));
  QTRY_VERIFY(window().strip->bar->isBar());
  EXPECT_EQ(window().strip->stage->text(), "Video");
  ASSERT_TRUE(ended.wait(5000));
  EXPECT_EQ(ended.count(), 1);
  EXPECT_TRUE(window().close());
}

TEST_F(RunTest, AnUncreatableLogTurnsLoggingOffForLaterRuns) {
  std::ofstream(IniPath()) << "[Calvex]\nLogFileName=" << dir.File("no/such/dir.log") << "\n";
  Add({Source("x.wav")});
  ASSERT_TRUE(ConvertAndWait());
  EXPECT_EQ(dialogs.messages, QStringList({"info: Conversion complete."}));
  EXPECT_FALSE(window().preferences().logFile);
}

}  // namespace
}  // namespace calvex::testing
