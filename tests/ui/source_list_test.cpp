// The source list as a user fills it: command line, file chooser, drops; removing; list files.
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QUrl>
#include <filesystem>

#include "engine/list_file.h"
#include "ui/pages/avi_to_mpeg_page.h"
#include "window_fixture.h"

namespace calvex::testing {
namespace {

void Drop(QWidget& target, const QStringList& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&target, &enter);
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&target, &drop);
}

TEST_F(WindowTest, CommandLineTakesNamesOrADirectoryFollowedByNames) {
  const QString a = Source("Clip_320x240_s.avi");
  const QString b = Source("Voice_m.wav");
  const QString base = QString::fromStdString(dir.path().string());
  EXPECT_EQ(ui::MainWindow::CommandLinePaths({base, "Clip_320x240_s.avi", "Voice_m.wav"}, "/"),
            QStringList({a, b}));
  EXPECT_EQ(ui::MainWindow::CommandLinePaths({"Voice_m.wav"}, base), QStringList({b}));
  EXPECT_EQ(ui::MainWindow::CommandLinePaths({a, b}, "/elsewhere"), QStringList({a, b}));

  window().StartUp({base, "Clip_320x240_s.avi", "Voice_m.wav"}, "/");
  EXPECT_TRUE(window().initialising());
  QTRY_VERIFY(!window().initialising());
  EXPECT_EQ(ListLines(), QStringList({a, b}));
  EXPECT_EQ(window().SelectedRows(), std::vector<int>({0, 1}));
}

TEST_F(WindowTest, DuplicatesUnknownAndMissingFilesAreRefusedWithTheSound) {
  std::filesystem::create_directories(dir.path() / "Mixed");
  const QString upper = Source("Mixed/Case_320x240_s.AVI");
  const QString text = Source("notes.txt");
  EXPECT_TRUE(window().AddFiles({upper}, true));
  EXPECT_EQ(dialogs.beeps, 0);
  EXPECT_FALSE(window().AddFiles({upper, text, upper + ".gone.avi"}, true));
  EXPECT_EQ(dialogs.beeps, 3);
  EXPECT_TRUE(dialogs.messages.isEmpty());
  // Paths keep their case: a name differing in case is another file.
  EXPECT_EQ(ListLines(), QStringList({upper}));
  EXPECT_EQ(window().SelectedRows(), std::vector<int>({0}));
  EXPECT_EQ(window().entries()[0].kind, ConversionKind::kAviToMpeg);
  EXPECT_EQ(window().entries()[0].aviToMpeg.audioBitrateKbps, 128);
}

TEST_F(WindowTest, AReaderFailureOfAnAviIsShown) {
  readers.avi = [](const std::string&, AviInfo&) -> Status { return kAviNoVideo; };
  EXPECT_FALSE(window().AddFiles({Source("x.avi")}, true));
  EXPECT_EQ(dialogs.messages, QStringList({"exclamation: The AVI file contains no video data."}));
}

TEST_F(WindowTest, ChooserAnswerAddsInOrderAndSelectsOnlyTheNewFiles) {
  Add({Source("first.wav")});
  dialogs.openFiles = {Source("b.mp2"), Source("a_320x240_s.mpg"), Source("c.wav")};
  window().selectButton->click();
  EXPECT_EQ(dialogs.titles, QStringList({"Select Files"}));
  EXPECT_EQ(ListLines().size(), 4);
  EXPECT_EQ(ListLines()[1], dialogs.openFiles[0]);
  EXPECT_EQ(ListLines()[2], dialogs.openFiles[1]);
  EXPECT_EQ(window().SelectedRows(), std::vector<int>({1, 2, 3}));
  // The pages of the kinds selected are the tabs.
  ASSERT_EQ(window().tabs->count(), 3);
  EXPECT_EQ(window().tabs->tabText(0), "WAV --> MP&2");
  EXPECT_EQ(window().tabs->tabText(1), "MPEG --> A&VI");
  EXPECT_EQ(window().tabs->tabText(2), "MP2 --> &WAV");
}

TEST_F(WindowTest, DroppedFilesAreAdded) {
  const QString a = Source("drop_320x240_s.avi");
  const QString b = Source("drop.wav");
  Drop(window(), {a, b});
  EXPECT_EQ(ListLines(), QStringList({a, b}));
  EXPECT_EQ(window().SelectedRows(), std::vector<int>({0, 1}));

  // On the destination field a file is added too, not pasted; a directory becomes the
  // destination once the field is open for one.
  window().anotherDirectory->click();
  const QString c = Source("field.mp2");
  Drop(*window().directoryEdit, {c});
  EXPECT_EQ(ListLines(), QStringList({a, b, c}));
  EXPECT_EQ(window().directoryEdit->text(), "");
  Drop(*window().directoryEdit, {QString::fromStdString(dir.path().string())});
  EXPECT_EQ(window().directoryEdit->text(), QString::fromStdString(dir.path().string()) + "/");
  EXPECT_EQ(ListLines().size(), 3);
}

TEST_F(WindowTest, RemovingEntriesOneAndThreeOfFiveKeepsTheOrder) {
  QStringList files;
  for (int i = 0; i < 5; ++i) files << Source("f" + std::to_string(i) + ".wav");
  Add(files);
  window().SetSelection({1, 3});
  window().RefreshPages();
  window().removeButton->click();
  EXPECT_EQ(ListLines(), QStringList({files[0], files[2], files[4]}));
  EXPECT_EQ(window().SelectedRows(), std::vector<int>({0}));
  ASSERT_EQ(window().entries().size(), 3u);
  EXPECT_EQ(window().entries()[1].path, files[2].toStdString());

  window().removeAllButton->click();
  EXPECT_TRUE(ListLines().isEmpty());
  EXPECT_TRUE(window().entries().empty());
  EXPECT_EQ(window().tabs->tabText(0), "Nothing Selected");
}

// Remove commits nothing: an invalid field of the removed entries is dropped with them, without a
// message, and no name shows twice afterwards.
TEST_F(WindowTest, RemoveTakesEntriesWhoseFieldsAreInvalid) {
  const QStringList files = {Source("a_320x240_s.avi"), Source("b_320x240_s.avi"),
                             Source("c_320x240_s.avi")};
  Add(files);
  window().SetSelection({0, 1});
  window().RefreshPages();
  window().aviPage->width->setText("7");
  window().removeButton->click();
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_EQ(dialogs.beeps, 0);
  EXPECT_EQ(ListLines(), QStringList({files[2]}));
  ASSERT_EQ(window().entries().size(), 1u);
  EXPECT_EQ(window().entries()[0].path, files[2].toStdString());
  EXPECT_EQ(window().SelectedRows(), std::vector<int>({0}));
  EXPECT_EQ(window().aviPage->width->text(), "320");
  EXPECT_TRUE(window().CommitPages());
}

TEST_F(WindowTest, ButtonsFollowTheSelection) {
  EXPECT_FALSE(window().saveButton->isEnabled());
  EXPECT_FALSE(window().removeButton->isEnabled());
  Add({Source("a.wav"), Source("b_320x240_s.avi")});
  EXPECT_TRUE(window().saveButton->isEnabled());
  EXPECT_TRUE(window().removeButton->isEnabled());
  EXPECT_TRUE(window().removeAllButton->isEnabled());
  window().SetSelection({});
  window().RefreshPages();
  EXPECT_FALSE(window().removeButton->isEnabled());
  EXPECT_FALSE(window().removeAllButton->isEnabled());
}

TEST_F(WindowTest, MoreThanAHundredSelectedFallsBackToTheFirst) {
  QStringList files;
  for (int i = 0; i < 101; ++i) files << Source("m" + std::to_string(i) + ".wav");
  Add(files);
  window().RefreshPages();
  QTRY_COMPARE(window().SelectedRows(), std::vector<int>({0}));
  EXPECT_EQ(dialogs.messages,
            QStringList({"exclamation: The selection number in the selected files exceeds 100."}));
}

TEST_F(WindowTest, ListFilesRoundTripWithAnotherDirectory) {
  Add({Source("One_320x240_s.avi"), Source("two.wav")});
  window().anotherDirectory->click();
  window().directoryEdit->setText("/Out/Put");
  window().SetSelection({0});
  window().RefreshPages();
  window().aviPage->width->setText("160");
  dialogs.saveFile = QString::fromStdString(dir.File("Saved"));
  window().saveButton->click();
  ASSERT_TRUE(std::filesystem::exists(dir.File("Saved.lst")));

  window().removeAllButton->click();
  window().sameDirectory->click();
  dialogs.openFile = QString::fromStdString(dir.File("Saved.lst"));
  window().loadButton->click();
  EXPECT_EQ(dialogs.titles, QStringList({"Save List File", "Load List File"}));
  ASSERT_EQ(window().entries().size(), 2u);
  EXPECT_EQ(window().entries()[0].aviToMpeg.width, 160);
  EXPECT_TRUE(window().anotherDirectory->isChecked());
  EXPECT_EQ(window().directoryEdit->text(), "/Out/Put");
  EXPECT_TRUE(window().directoryEdit->isEnabled());
  EXPECT_TRUE(window().browseButton->isEnabled());
  EXPECT_EQ(window().SelectedRows(), std::vector<int>({0}));
  EXPECT_EQ(window().aviPage->width->text(), "160");
}

TEST_F(WindowTest, SavingOverAFileAsksFirst) {
  Add({Source("a.wav")});
  const std::string target = dir.File("keep.lst");
  std::ofstream(target) << "old";
  dialogs.saveFile = QString::fromStdString(target);
  dialogs.answers = {false};
  window().saveButton->click();
  EXPECT_EQ(dialogs.questions, QStringList({QString::fromStdString(
                                   "Do you want to replace the existing file " + target + "?")}));
  EXPECT_EQ(ReadFileBytes(target).size(), 3u);
}

TEST_F(WindowTest, DamagedListFilesAreRefusedAndTheListStays) {
  const QString kept = Source("kept.wav");
  Add({kept});
  SourceList good;
  SourceEntry e;
  e.path = "/x/a.wav";
  e.kind = ConversionKind::kWavToMp2;
  good.entries.push_back(e);
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(EncodeList(good, bytes), kOk);

  std::vector<std::vector<std::uint8_t>> damaged;
  auto signature = bytes;
  signature[0] = 0;
  damaged.push_back(signature);
  auto kind = bytes;
  kind[8 + 128] = 5;  // the first entry's kind
  damaged.push_back(kind);
  auto sections = bytes;
  sections[8 + 132] = 17;
  damaged.push_back(sections);
  damaged.emplace_back(bytes.begin(), bytes.end() - 2);  // ends early
  auto longer = bytes;
  longer.push_back(0);
  damaged.push_back(longer);
  auto count = bytes;
  count[4] = 2;
  damaged.push_back(count);

  for (std::size_t i = 0; i < damaged.size(); ++i) {
    const std::string path = dir.File("bad" + std::to_string(i) + ".lst");
    WriteFileBytes(path, damaged[i]);
    dialogs.openFile = QString::fromStdString(path);
    dialogs.messages.clear();
    window().loadButton->click();
    EXPECT_EQ(dialogs.messages, QStringList({"exclamation: The list file has been corrupted."}))
        << i;
    EXPECT_EQ(ListLines(), QStringList({kept})) << i;
  }
}

// Paths of 128 bytes and more too, both in the list kept between starts and in list files.
TEST_F(WindowTest, TheListIsKeptFromOneStartToTheNext) {
  const std::string deep(140, 'd');
  std::filesystem::create_directories(dir.path() / deep);
  const QString a = Source("keep_320x240_s.avi");
  const QString b = Source(deep + "/long.wav");
  ASSERT_GE(b.toUtf8().size(), 128);
  Add({a, b});
  window().SetSelection({0});
  window().RefreshPages();
  window().aviPage->dataRate->setText("120");
  window().close();
  DestroyWindow();

  window().StartUp({}, "/");
  QTRY_VERIFY(!window().initialising());
  EXPECT_EQ(ListLines(), QStringList({a, b}));
  EXPECT_EQ(window().entries()[0].aviToMpeg.dataRateKBps, 120);

  dialogs.saveFile = QString::fromStdString(dir.File("long.lst"));
  window().saveButton->click();
  EXPECT_TRUE(dialogs.messages.isEmpty());
  window().removeAllButton->click();
  dialogs.openFile = dialogs.saveFile;
  window().loadButton->click();
  EXPECT_EQ(ListLines(), QStringList({a, b}));
}

TEST_F(WindowTest, BrowsePutsTheChosenDirectoryInTheEdit) {
  window().anotherDirectory->click();
  dialogs.directory = "/Media/Out";
  window().browseButton->click();
  EXPECT_EQ(dialogs.titles, QStringList({"Select Directory"}));
  EXPECT_EQ(window().directoryEdit->text(), "/Media/Out/");
}

}  // namespace
}  // namespace calvex::testing
