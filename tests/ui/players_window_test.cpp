// The players from the main window: the simple preview of a double click and the Scratch Pad's
// sections stored in the entry.
#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include "support/media_tools.h"
#include "ui/player/install_players.h"
#include "ui/player/player_widgets.h"
#include "ui/player/scratch_pad.h"
#include "ui/player/simple_preview.h"
#include "window_fixture.h"

namespace calvex::testing {
namespace {

class PlayersWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    // Real pictures under names that the made-up readers describe.
    avi = QString::fromStdString(dir.File("clip_64x48_s.avi"));
    ASSERT_TRUE(
        Ffmpeg("-f lavfi -i testsrc=s=64x48:r=25:d=2 -c:v mjpeg " + ShellQuote(avi.toStdString())));
    ui::PlayerWiring wiring;
    wiring.dialogs = &dialogs;
    ui::InstallPlayers(window(), std::move(wiring));
  }
  void DoubleClick(int row) {
    QListWidgetItem* item = window().fileList->item(row);
    emit window().fileList->itemDoubleClicked(item);
  }

  QString avi;
};

TEST_F(PlayersWindowTest, DoubleClickPlaysAviAndWavInASimplePreviewAndBeepsForMpeg) {
  Add({avi, Source("film_352x240_s.mpg"), Source("song_s.mp2")});
  DoubleClick(0);
  auto* preview = qobject_cast<ui::SimplePreview*>(window().simplePreview());
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->windowTitle(), "clip_64x48_s.avi");
  EXPECT_TRUE(preview->isVisible());
  QTRY_VERIFY_WITH_TIMEOUT(preview->player().playing(), 3000);
  QTRY_VERIFY_WITH_TIMEOUT(preview->player().position() > 2, 3000);
  EXPECT_EQ(dialogs.beeps, 0);
  DoubleClick(1);
  DoubleClick(2);
  EXPECT_EQ(dialogs.beeps, 2);
  EXPECT_EQ(window().simplePreview(), preview);

  // It closes before a file dialog opens.
  window().LoadListCommand();
  EXPECT_EQ(window().simplePreview(), nullptr);
  EXPECT_EQ(dialogs.titles, QStringList{"Load List File"});
}

TEST_F(PlayersWindowTest, EjectStoresTheMarkedSectionsInTheEntryAndCancelKeepsThem) {
  Add({avi});
  const auto markAndPress = [](bool eject) {
    QTimer::singleShot(0, [eject] {
      auto* pad = qobject_cast<ui::ScratchPad*>(QApplication::activeModalWidget());
      ASSERT_NE(pad, nullptr);
      QTRY_VERIFY_WITH_TIMEOUT(pad->ready(), 3000);
      pad->MoveTo(10);
      pad->MarkIn();
      pad->MoveTo(20);
      pad->MarkOut();
      (eject ? static_cast<QAbstractButton*>(pad->ejectButton)
             : static_cast<QAbstractButton*>(pad->cancelButton))
          ->click();
    });
  };
  window().SetSelection({0});
  window().RefreshPages();
  ASSERT_TRUE(window().scratchButton->isEnabled());
  markAndPress(false);
  window().scratchButton->click();
  EXPECT_TRUE(window().entries()[0].sections.empty());
  markAndPress(true);
  window().scratchButton->click();
  ASSERT_EQ(window().entries()[0].sections.size(), 1u);
  EXPECT_EQ(window().entries()[0].sections[0].first, 10);
  EXPECT_EQ(window().entries()[0].sections[0].last, 20);
}

}  // namespace
}  // namespace calvex::testing
