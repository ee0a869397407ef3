// The Select Files dialog: the names of its field, its enabling rules, an AVI's text chunks, the
// preview and play in place of real files, and the thumbnail browser.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "made_up_media.h"
#include "riff_chunks.h"
#include "support/media_tools.h"
#include "support/test_support.h"
#include "ui/player/player_widgets.h"
#include "ui/select_files/avi_texts.h"
#include "ui/select_files/select_files_dialog.h"
#include "ui/select_files/thumbnail_browser.h"
#include "ui/user_dialogs.h"
#include "ui_doubles.h"
#include "window_fixture.h"

namespace calvex::testing {
namespace {

TEST(AviTextsTest, SubjectFromTheInfoListAndDescriptionFromTheFirstTextDisplayChunk) {
  const std::string hdrl = List("hdrl", Chunk("avih", std::string(56, '\0')));
  const std::string info = List("INFO", Chunk("ISFT", "Lavf") + Chunk("ISBJ", "Holiday"));
  const struct {
    const char* name;
    std::string bytes;
    std::optional<std::string> subject, description;
  } cases[] = {
      {"both", AviForm(hdrl + Disp(8, "bitmap") + Disp(1, "Beach, 1995") + info), "Holiday",
       "Beach, 1995"},
      {"neither", AviForm(hdrl + List("movi", "")), std::nullopt, std::nullopt},
      {"after an odd chunk", AviForm(Chunk("JUNK", "abc") + Disp(1, "Pad")), std::nullopt, "Pad"},
      {"subject cut", AviForm(List("INFO", Chunk("ISBJ", std::string(2000, 'x')))),
       std::string(1024, 'x'), std::nullopt},
      {"subject outside the INFO list", AviForm(List("hdrl", Chunk("ISBJ", "no"))), std::nullopt,
       std::nullopt},
      {"cut short", AviForm(Chunk("DISP", Le32(1) + "Shor", 100)), std::nullopt, "Shor"},
      {"not an AVI", "RIFF" + Le32(20) + "WAVE" + Disp(1, "wave"), std::nullopt, std::nullopt},
  };
  TempDir dir;
  for (const auto& c : cases) {
    const std::string path = dir.File("texts.avi");
    WriteFileBytes(path, std::vector<std::uint8_t>(c.bytes.begin(), c.bytes.end()));
    const ui::AviTexts texts = ui::ReadAviTexts(path);
    EXPECT_EQ(texts.subject, c.subject) << c.name;
    EXPECT_EQ(texts.description, c.description) << c.name;
  }
}

TEST(SelectFilesRulesTest, NamesOfTheField) {
  EXPECT_EQ(ui::FileNamesIn(QStringLiteral(" clip.avi ")), QStringList{"clip.avi"});
  EXPECT_EQ(ui::FileNamesIn(QStringLiteral("my clip.avi")), QStringList{"my clip.avi"});
  EXPECT_EQ(ui::FileNamesIn(QStringLiteral("\"a.avi\" \"b c.wav\"")),
            (QStringList{"a.avi", "b c.wav"}));
  EXPECT_TRUE(ui::FileNamesIn(QStringLiteral("  ")).isEmpty());
}

TEST(SelectFilesRulesTest, OkPlayAndInfoEnabling) {
  using K = ConversionKind;
  const struct {
    int names;
    K kind;
    bool valid, ok, play, info;
  } cases[] = {
      {1, K::kAviToMpeg, true, true, true, true},  {1, K::kAviToMpeg, false, false, false, false},
      {1, K::kMpegToAvi, true, true, false, true}, {1, K::kMpegToAvi, false, false, false, false},
      {1, K::kWavToMp2, true, true, true, true},   {1, K::kWavToMp2, false, true, false, true},
      {1, K::kMp2ToWav, true, true, false, true},  {1, K::kNone, false, false, false, false},
      {2, K::kNone, false, true, false, false},    {0, K::kNone, false, false, false, false},
  };
  for (const auto& c : cases) {
    const ui::SelectFilesEnabling e = ui::SelectFilesEnablingFor(c.names, c.kind, c.valid);
    const std::string what = std::to_string(c.names) + " names, kind " +
                             std::to_string(static_cast<int>(c.kind)) + (c.valid ? ", valid" : "");
    EXPECT_EQ(e.ok, c.ok) << what;
    EXPECT_EQ(e.play, c.play) << what;
    EXPECT_EQ(e.info, c.info) << what;
  }
}

// A folder of real files: an AVI with texts, an MPEG file, an MP2 file and a broken AVI.
class SelectFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
    ASSERT_TRUE(
        Ffmpeg("-f lavfi -i testsrc=s=64x48:r=25:d=0.4 -f lavfi -i "
               "sine=d=0.4 -c:v mjpeg -c:a pcm_s16le " +
               ShellQuote(dir.File("plain.avi"))));
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc=s=64x48:r=25:d=0.4 -c:v mpeg1video -f mpeg1video " +
                       ShellQuote(dir.File("movie.mpg"))));
    ASSERT_TRUE(Ffmpeg("-f lavfi -i sine=d=0.4 -c:a mp2 " + ShellQuote(dir.File("song.mp2"))));
    ASSERT_TRUE(Ffmpeg("-f lavfi -i sine=d=0.4 " + ShellQuote(dir.File("tone.wav"))));
    WriteFileBytes(dir.File("broken.avi"), std::vector<std::uint8_t>(300, 7));
    // The AVI again with a description and an INFO list after its index.
    std::filesystem::copy_file(dir.File("plain.avi"), dir.File("clip.avi"));
    AddAviTexts(dir.File("clip.avi"), "Holiday", "Beach, 1995");
  }

  std::unique_ptr<ui::SelectFilesDialog> Make() {
    ui::SelectFilesServices s;
    s.player = ui::playback::DefaultPlayerServices({});
    s.dialogs = &dialogs;
    s.showInformation = [this](QWidget*, const QString& path) { informed << path; };
    s.memory = &memory;
    memory.folder = QString::fromStdString(dir.path().string());
    auto dialog = std::make_unique<ui::SelectFilesDialog>(std::move(s));
    dialog->show();
    return dialog;
  }
  // Types a name into the field and waits for its preview.
  void Name(ui::SelectFilesDialog& dialog, const QString& text) {
    QSignalSpy read(&dialog, &ui::SelectFilesDialog::previewRead);
    dialog.nameEdit->setText(text);
    if (ui::FileNamesIn(text).size() == 1) {
      ASSERT_TRUE(read.wait(5000)) << text.toStdString();
    }
  }

  TempDir dir;
  ScriptedDialogs dialogs;
  ui::SelectFilesMemory memory;
  QStringList informed;
};

TEST_F(SelectFilesTest, PreviewAndEnablingFollowTheNameInTheField) {
  auto dialog = Make();
  EXPECT_EQ(dialog->windowTitle(), "Select Files");
  EXPECT_FALSE(dialog->okButton->isEnabled());
  const struct {
    QString field;
    bool valid, ok, play, info, picture;
    QString subject, description;
    int messages;
  } cases[] = {
      {"clip.avi", true, true, true, true, true, "Holiday", "Beach, 1995", 0},
      {"plain.avi", true, true, true, true, true, " ", " ", 0},
      {"movie.mpg", true, true, false, true, true, " ", " ", 0},
      {"song.mp2", true, true, false, true, false, " ", " ", 0},
      {"broken.avi", false, false, false, false, false, " ", " ", 1},
      {"missing.avi", false, false, false, false, false, " ", " ", 0},
      {"\"clip.avi\" \"song.mp2\"", false, true, false, false, false, " ", " ", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field.toStdString());
    dialogs.messages.clear();
    Name(*dialog, c.field);
    EXPECT_EQ(dialog->previewValid(), c.valid);
    EXPECT_EQ(dialog->okButton->isEnabled(), c.ok);
    EXPECT_EQ(dialog->playButton->isEnabled(), c.play);
    EXPECT_EQ(dialog->infoButton->isEnabled(), c.info);
    EXPECT_EQ(!dialog->previewView->picture().isNull(), c.picture);
    EXPECT_EQ(dialog->subjectField->text(), c.subject);
    EXPECT_EQ(dialog->descriptionField->text(), c.description);
    EXPECT_EQ(dialogs.messages.size(), c.messages);
  }
  Name(*dialog, QStringLiteral("song.mp2"));
  dialog->infoButton->click();
  EXPECT_EQ(informed, QStringList{QString::fromStdString(dir.File("song.mp2"))});
  dialog->okButton->click();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(dialog->SelectedPaths(), QStringList{QString::fromStdString(dir.File("song.mp2"))});
}

TEST_F(SelectFilesTest, FilesPlayInPlaceAndAutoPlayAndMuteAreRemembered) {
  auto dialog = Make();
  Name(*dialog, QStringLiteral("clip.avi"));
  dialog->playButton->click();
  EXPECT_EQ(dialog->playState(), ui::SelectFilesDialog::PlayState::kPlaying);
  ASSERT_NE(dialog->player(), nullptr);
  QTRY_VERIFY_WITH_TIMEOUT(dialog->player()->position() > 0, 3000);
  dialog->playButton->click();
  EXPECT_EQ(dialog->playState(), ui::SelectFilesDialog::PlayState::kPaused);
  // Played to its end, it stops back at the start.
  dialog->playButton->click();
  QTRY_COMPARE_WITH_TIMEOUT(dialog->playState(), ui::SelectFilesDialog::PlayState::kStopped, 3000);

  dialog->autoPlayBox->setChecked(true);
  dialog->muteBox->setChecked(true);
  Name(*dialog, QStringLiteral("plain.avi"));
  EXPECT_EQ(dialog->playState(), ui::SelectFilesDialog::PlayState::kPlaying);
  EXPECT_TRUE(dialog->player()->muted());
  Name(*dialog, QStringLiteral("tone.wav"));  // another file stops the first; sound plays alone
  EXPECT_EQ(dialog->playState(), ui::SelectFilesDialog::PlayState::kPlaying);
  QTRY_COMPARE_WITH_TIMEOUT(dialog->playState(), ui::SelectFilesDialog::PlayState::kStopped, 3000);
  EXPECT_TRUE(dialog->previewView->picture().isNull());
  dialog.reset();

  dialog = Make();
  EXPECT_TRUE(dialog->autoPlayBox->isChecked());
  EXPECT_TRUE(dialog->muteBox->isChecked());
}

TEST_F(SelectFilesTest, FilesChosenInTheListOrAFolderTypedFillTheField) {
  auto dialog = Make();
  auto* model = qobject_cast<QFileSystemModel*>(dialog->fileView->model());
  ASSERT_NE(model, nullptr);
  const QModelIndex root = dialog->fileView->rootIndex();
  QTRY_VERIFY_WITH_TIMEOUT(model->rowCount(root) >= 4, 3000);
  QItemSelection both;
  for (const char* name : {"clip.avi", "movie.mpg"}) {
    const QModelIndex index = model->index(QString::fromStdString(dir.File(name)));
    both.select(index, index);
  }
  dialog->fileView->selectionModel()->select(both, QItemSelectionModel::ClearAndSelect);
  EXPECT_EQ(ui::FileNamesIn(dialog->nameEdit->text()), (QStringList{"clip.avi", "movie.mpg"}));
  EXPECT_TRUE(dialog->okButton->isEnabled());

  // A folder's name and Enter open the folder.
  std::filesystem::create_directory(dir.File("sub"));
  dialog->nameEdit->setText(QStringLiteral("sub"));
  QTest::keyClick(dialog->nameEdit, Qt::Key_Return);
  EXPECT_EQ(dialog->folder(), QString::fromStdString(dir.File("sub")));
  EXPECT_TRUE(dialog->nameEdit->text().isEmpty());
  EXPECT_TRUE(dialog->isVisible());
}

// Chooses the entry `row` of the thumbnail browser that opens next.
void ChooseInBrowser(int row) {
  QTimer::singleShot(0, [row] {
    auto* browser = qobject_cast<ui::ThumbnailBrowser*>(QApplication::activeModalWidget());
    ASSERT_NE(browser, nullptr);
    emit browser->grid->itemActivated(browser->grid->item(row));
  });
}

TEST_F(SelectFilesTest, TheBrowserShowsThePicturesOfTheFolderAndGivesTheOneChosen) {
  ui::ThumbnailBrowser browser(QString::fromStdString(dir.path().string()));
  QStringList names;
  for (int i = 0; i < browser.grid->count(); ++i) names << browser.grid->item(i)->text();
  EXPECT_EQ(names, (QStringList{"broken.avi", "clip.avi", "movie.mpg", "plain.avi"}));
  QTRY_COMPARE_WITH_TIMEOUT(browser.thumbnailsReady(), 3, 5000);  // not the broken one
  emit browser.grid->itemActivated(browser.grid->item(2));
  EXPECT_EQ(browser.chosen(), QString::fromStdString(dir.File("movie.mpg")));
  EXPECT_EQ(browser.result(), QDialog::Accepted);

  // "&Browse..." of the dialog puts the file chosen into the name field, which shows its preview.
  auto dialog = Make();
  ChooseInBrowser(1);
  QSignalSpy read(dialog.get(), &ui::SelectFilesDialog::previewRead);
  dialog->browseButton->click();
  EXPECT_EQ(dialog->nameEdit->text(), "clip.avi");
  ASSERT_TRUE(read.wait(5000));
  EXPECT_TRUE(dialog->previewValid());

  // The same browser behind "&Browse..." of the choosers of list files.
  ui::DesktopDialogs desktop;
  const QString folder = QString::fromStdString(dir.path().string());
  const std::function<QString()> choosers[] = {
      [&] { return desktop.OpenFile(nullptr, "Load List File", "List file (*.lst)"); },
      [&] { return desktop.SaveFile(nullptr, "Save List File", "List file (*.lst)", "lst"); }};
  for (const auto& choose : choosers) {
    OnNextModal([&](QWidget* modal) {
      auto* chooser = qobject_cast<QFileDialog*>(modal);
      QPushButton* browse = nullptr;
      for (QPushButton* b : modal->findChildren<QPushButton*>())
        if (b->text() == "&Browse...") browse = b;
      if (chooser == nullptr || browse == nullptr) {
        ADD_FAILURE() << "no chooser with \"&Browse...\"";
        static_cast<QDialog*>(modal)->reject();
        return;
      }
      chooser->setDirectory(folder);
      ChooseInBrowser(2);
      browse->click();
      static_cast<QDialog*>(chooser)->accept();  // as OK does
    });
    EXPECT_EQ(choose(), QString::fromStdString(dir.File("movie.mpg")));
  }
}

}  // namespace
}  // namespace calvex::testing
