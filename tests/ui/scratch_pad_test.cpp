// The Scratch Pad on made-up media: its buttons and their enabling, marking, the section bar's
// clicks and drags, and what it stores.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <atomic>

#include "made_up_media.h"
#include "ui/help.h"
#include "ui/player/scratch_pad.h"
#include "ui/status_strip.h"
#include "ui_doubles.h"

namespace calvex::testing {
namespace {

using ui::FrameSection;

class ScratchPadTest : public ::testing::Test {
 protected:
  void Open(ConversionKind kind, int frames, std::vector<Section> stored = {}) {
    info.hasPictures = true;
    info.rate = 25;
    info.scale = 1;
    info.frameCount = frames;
    info.width = 8;
    info.height = 8;
    if (kind == ConversionKind::kMpegToAvi) {
      info.kind = ui::playback::MediaKind::kMpeg;
      for (int f = 0; f < frames; f += 12) info.groups.push_back({f, f, f * 100, 0});
    }
    SourceEntry entry;
    entry.path = "made-up";
    entry.kind = kind;
    entry.sections = std::move(stored);
    pad = std::make_unique<ui::ScratchPad>(entry, MadeUpServices(log, info), dialogs, &help, false);
    QSignalSpy loaded(pad.get(), &ui::ScratchPad::loaded);
    pad->show();
    pad->activateWindow();
    ASSERT_TRUE(loaded.wait(3000));
    ASSERT_TRUE(QTest::qWaitForWindowActive(pad.get()));
  }
  void Click(QAbstractButton* button, Qt::KeyboardModifiers modifiers = {}) {
    QTest::mouseClick(button, Qt::LeftButton, modifiers);
  }
  // The x of a frame on the section bar, as the bar's own mapping gives it.
  int BarXOf(int frame) { return 1 + ui::BarX(frame, pad->bar->width() - 2, pad->frameCount()); }

  ScriptedDialogs dialogs;
  ui::HelpSystem help;
  SourceLog log;
  ui::playback::MediaInfo info;
  std::unique_ptr<ui::ScratchPad> pad;
};

TEST_F(ScratchPadTest, TransportButtonsMoveThePositionAndAreEnabledByIt) {
  Open(ConversionKind::kAviToMpeg, 95);
  const struct {
    ui::TransportButton* button;
    int expected;
  } steps[] = {{pad->forwardButton, 9},   {pad->forwardButton, 18}, {pad->nextButton, 19},
               {pad->previousButton, 18}, {pad->rewindButton, 9},   {pad->endButton, 94},
               {pad->forwardButton, 94},  {pad->beginButton, 0},    {pad->previousButton, 0}};
  for (const auto& step : steps) {
    Click(step.button);
    ASSERT_EQ(pad->position(), step.expected) << step.button->text().toStdString();
    const bool atStart = step.expected == 0, atEnd = step.expected == 94;
    EXPECT_EQ(pad->previousButton->isEnabled(), !atStart);
    EXPECT_EQ(pad->rewindButton->isEnabled(), !atStart);
    EXPECT_EQ(pad->beginButton->isEnabled(), !atStart);
    EXPECT_EQ(pad->nextButton->isEnabled(), !atEnd);
    EXPECT_EQ(pad->forwardButton->isEnabled(), !atEnd);
    EXPECT_EQ(pad->endButton->isEnabled(), !atEnd);
    EXPECT_TRUE(pad->playButton->isEnabled());
    EXPECT_TRUE(pad->stopButton->isEnabled());
  }
  pad->MoveTo(90);
  Click(pad->forwardButton);
  EXPECT_EQ(pad->position(), 94);
  EXPECT_EQ(pad->timeCode->text(), "00:00:03:19");
  EXPECT_EQ(pad->frameCaption->text(), "Current Frame:  94");
  EXPECT_EQ(pad->sizeField->text(), "  8 x   8");
  EXPECT_EQ(pad->rateField->text(), "25.00");
  // The picture of the position is the one shown (its grey level is its frame number).
  const auto shownFrame = [&] {
    const QImage& p = pad->pictureView->picture();
    return p.isNull() ? -1 : p.pixelColor(0, 0).red();
  };
  QTRY_COMPARE(shownFrame(), 94);
}

TEST_F(ScratchPadTest, MpegMovesByGroupsAndShiftPlaysKeyPicturesFromTheNextGroup) {
  Open(ConversionKind::kMpegToAvi, 40);
  pad->MoveTo(13);
  Click(pad->rewindButton);
  EXPECT_EQ(pad->position(), 12);  // the nearest earlier group start
  Click(pad->forwardButton);
  EXPECT_EQ(pad->position(), 24);
  pad->MoveTo(37);
  Click(pad->forwardButton);
  EXPECT_EQ(pad->position(), 39);  // after the last group: the last frame

  pad->MoveTo(5);
  Click(pad->playButton, Qt::ShiftModifier);
  EXPECT_TRUE(pad->player().playing());
  EXPECT_TRUE(pad->player().fast());
  EXPECT_EQ(pad->position(), 12);
  EXPECT_EQ(pad->playButton->text(), "Pause");
  Click(pad->playButton);
  EXPECT_FALSE(pad->player().playing());
  EXPECT_EQ(pad->playButton->text(), "Play");
  Click(pad->stopButton);
  EXPECT_EQ(pad->position(), 0);
}

TEST_F(ScratchPadTest, PlayingToTheEndStopsAtTheFirstFrame) {
  Open(ConversionKind::kAviToMpeg, 10);
  Click(pad->playButton);
  EXPECT_EQ(pad->playButton->text(), "Pause");
  QTRY_VERIFY_WITH_TIMEOUT(!pad->player().playing(), 3000);
  EXPECT_EQ(pad->position(), 0);
  EXPECT_EQ(pad->playButton->text(), "Play");
  EXPECT_FALSE(pad->previousButton->isEnabled());
}

TEST_F(ScratchPadTest, MarksMakeSectionsAndRefusedMarksSound) {
  Open(ConversionKind::kAviToMpeg, 200);
  pad->MoveTo(50);
  Click(pad->markInButton);
  pad->MoveTo(20);
  Click(pad->markOutButton);
  EXPECT_EQ(pad->marks().sections(), (std::vector<FrameSection>{{20, 50}}));
  Click(pad->markOutButton);  // no Mark In
  EXPECT_EQ(dialogs.beeps, 1);
  for (int i = 0; i < 15; ++i) {
    pad->MoveTo(60 + i * 8);
    Click(pad->markInButton);
    pad->MoveTo(60 + i * 8 + 4);
    Click(pad->markOutButton);
  }
  ASSERT_EQ(pad->marks().sections().size(), 16u);
  Click(pad->markInButton);  // a 17th
  EXPECT_EQ(dialogs.beeps, 2);
  EXPECT_EQ(pad->marks().sections().size(), 16u);
}

TEST_F(ScratchPadTest, TheSectionBarHighlightsOnClickAndMovesEdgesByDragging) {
  Open(ConversionKind::kAviToMpeg, 100, {{70, 80, {}}, {20, 50, {}}});
  ASSERT_EQ(pad->marks().sections(), (std::vector<FrameSection>{{20, 50}, {70, 80}}));
  const int y = pad->bar->height() / 2;
  QTest::mouseClick(pad->bar, Qt::LeftButton, {}, QPoint(BarXOf(35), y));
  EXPECT_EQ(pad->highlighted(), 0);
  EXPECT_EQ(pad->frameCaption->text(), "Section  0: (20 - 50)");
  QTest::mouseClick(pad->bar, Qt::LeftButton, {}, QPoint(BarXOf(60), y));
  EXPECT_EQ(pad->highlighted(), -1);  // between the sections
  EXPECT_EQ(pad->frameCaption->text(), "Current Frame:   0");

  // Alt+S walks the sections and then none.
  for (int expected : {0, 1, -1}) {
    QTest::keyClick(pad.get(), Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(pad->highlighted(), expected);
  }

  // Dragging the first edge of the highlighted section to frame 10.
  QTest::mouseClick(pad->bar, Qt::LeftButton, {}, QPoint(BarXOf(35), y));
  QTest::mousePress(pad->bar, Qt::LeftButton, {}, QPoint(BarXOf(20) - 2, y));
  EXPECT_TRUE(pad->bar->dragging());
  QMouseEvent move(QEvent::MouseMove, QPointF(BarXOf(15), y),
                   pad->bar->mapToGlobal(QPointF(BarXOf(15), y)), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(pad->bar, &move);
  EXPECT_EQ(pad->position(), ui::BarFrameAt(BarXOf(15) - 1, pad->bar->width() - 2, 100));
  QTest::mouseRelease(pad->bar, Qt::LeftButton, {}, QPoint(BarXOf(10), y));
  const int dropped = ui::BarFrameAt(BarXOf(10) - 1, pad->bar->width() - 2, 100);
  EXPECT_EQ(pad->marks().sections(), (std::vector<FrameSection>{{dropped, 50}, {70, 80}}));
  EXPECT_EQ(pad->highlighted(), -1);
  EXPECT_EQ(pad->position(), dropped);

  // Delete takes the highlighted section away.
  QTest::mouseClick(pad->bar, Qt::LeftButton, {}, QPoint(BarXOf(75), y));
  ASSERT_EQ(pad->highlighted(), 1);
  QTest::keyClick(pad.get(), Qt::Key_Delete);
  EXPECT_EQ(pad->marks().sections(), (std::vector<FrameSection>{{dropped, 50}}));
  EXPECT_EQ(pad->highlighted(), -1);
  // A transport command clears a highlight.
  QTest::mouseClick(pad->bar, Qt::LeftButton, {}, QPoint(BarXOf(35), y));
  Click(pad->nextButton);
  EXPECT_EQ(pad->highlighted(), -1);
}

TEST_F(ScratchPadTest, EjectStoresTheSectionsWithTheirGroupsAndCancelStoresNothing) {
  Open(ConversionKind::kMpegToAvi, 60, {{30, 40, {}}});
  pad->MoveTo(5);
  Click(pad->markInButton);
  pad->MoveTo(15);
  Click(pad->markOutButton);
  const std::vector<Section> stored = pad->StoredSections();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].first, 5);
  EXPECT_EQ(stored[0].seek.firstFrame, 0);
  EXPECT_EQ(stored[1].first, 30);
  EXPECT_EQ(stored[1].seek.firstFrame, 24);
  EXPECT_EQ(stored[1].seek.offset, 2400);
  Click(pad->ejectButton);
  EXPECT_EQ(pad->result(), QDialog::Accepted);

  Open(ConversionKind::kAviToMpeg, 60);
  Click(pad->cancelButton);
  EXPECT_EQ(pad->result(), QDialog::Rejected);
}

// An MPEG file is scanned for its index before it can be shown: the scan's progress is on the
// bar and the frame caption, and a file that cannot be read closes the pad.
TEST_F(ScratchPadTest, TheScanShowsItsProgressAndAFailedOneClosesThePad) {
  for (const Status result : {kOk, kMpegCorrupted}) {
    SCOPED_TRACE(static_cast<int>(result));
    std::atomic<bool> release{false};
    info = {};
    info.hasPictures = true;
    info.frameCount = 30;
    info.kind = ui::playback::MediaKind::kMpeg;
    info.groups = {{0, 0, 0, 0}};
    ui::playback::PlayerServices services = MadeUpServices(log, info);
    services.open = [&, made = services.open](const std::string& path,
                                              const video_decoder::ScanCallbacks& scan,
                                              ui::playback::OpenedMedia& media) {
      scan.progress(500);
      while (!release) QThread::msleep(1);
      return result == kOk ? made(path, scan, media) : result;
    };
    SourceEntry entry;
    entry.path = "made-up.mpg";
    entry.kind = ConversionKind::kMpegToAvi;
    dialogs.messages.clear();
    ui::ScratchPad pad(entry, std::move(services), dialogs, &help, false);
    QSignalSpy loaded(&pad, &ui::ScratchPad::loaded);
    QSignalSpy closed(&pad, &QDialog::finished);
    pad.show();
    QTRY_COMPARE(pad.bar->scanText(), "50%");
    EXPECT_TRUE(pad.frameCaption->isBar());
    EXPECT_EQ(pad.frameCaption->barValue(), 500);
    EXPECT_FALSE(pad.playButton->isEnabled());
    release = true;
    ASSERT_TRUE(loaded.wait(3000));
    EXPECT_EQ(pad.bar->scanText(), "");
    EXPECT_FALSE(pad.frameCaption->isBar());
    if (result == kOk) {
      EXPECT_EQ(pad.frameCaption->text(), "Current Frame:   0");
      EXPECT_TRUE(pad.playButton->isEnabled());
      EXPECT_TRUE(dialogs.messages.isEmpty());
    } else {
      EXPECT_EQ(dialogs.messages.size(), 1);
      QTRY_COMPARE(closed.count(), 1);
      EXPECT_EQ(pad.result(), QDialog::Rejected);
    }
  }
}

}  // namespace
}  // namespace calvex::testing
