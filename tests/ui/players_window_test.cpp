// The players from the main window: the simple preview of a double click, the Scratch Pad's
// sections stored in the entry, and the help and information the player windows open.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "support/media_tools.h"
#include "ui/help.h"
#include "ui/info/information_dialog.h"
#include "ui/player/install_players.h"
#include "ui/player/player_widgets.h"
#include "ui/player/scratch_pad.h"
#include "ui/player/simple_preview.h"
#include "ui/select_files/select_files_dialog.h"
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
    wiring.showInformation = [this](QWidget* parent, const QString& path) {
      ui::ShowFileInformation(parent, path.toStdString(), readers, &window().help(), dialogs);
    };
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

// F1 and "&Help" in the Select Files dialog and the Scratch Pad open their own topics; the Select
// Files dialog's "&Info..." opens the information dialog over itself, whose F1 opens its topic.
TEST_F(PlayersWindowTest, PlayerWindowsOpenTheirTopicsAndTheInformationDialogs) {
  Add({avi});
  int selectHelp = -1, selectF1 = -1, infoF1 = -1;
  bool overSelectFiles = false;
  OnNextModal([&](QWidget* modal) {
    auto* select = qobject_cast<ui::SelectFilesDialog*>(modal);
    ASSERT_NE(select, nullptr);
    select->helpButton->click();
    selectHelp = window().help().lastContext();
    QTest::keyClick(select, Qt::Key_F1);
    selectF1 = window().help().lastContext();
    QSignalSpy read(select, &ui::SelectFilesDialog::previewRead);
    select->nameEdit->setText(avi);
    ASSERT_TRUE(read.wait(5000));
    OnNextModal([&](QWidget* info) {
      overSelectFiles = info->parentWidget() == modal;
      QTest::keyClick(info, Qt::Key_F1);
      infoF1 = window().help().lastContext();
      static_cast<QDialog*>(info)->reject();
    });
    select->infoButton->click();
    select->reject();
  });
  window().selectButton->click();
  EXPECT_EQ(selectHelp, ui::kHelpSelectFiles);
  EXPECT_EQ(selectF1, ui::kHelpSelectFiles);
  EXPECT_EQ(infoF1, ui::kHelpAviInfo);
  EXPECT_TRUE(overSelectFiles);

  int padF1 = -1;
  OnNextModal([&](QWidget* modal) {
    QTest::keyClick(modal, Qt::Key_F1);
    padF1 = window().help().lastContext();
    static_cast<QDialog*>(modal)->reject();
  });
  window().SetSelection({0});
  window().RefreshPages();
  window().scratchButton->click();
  EXPECT_EQ(padF1, ui::kHelpScratchPad);
}

}  // namespace
}  // namespace calvex::testing
