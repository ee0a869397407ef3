// The smaller pieces: the status strip's bar, frames, help topics, tool tips, single instance.
#include <QCursor>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include "ui/compression/video_compression_dialog.h"
#include "ui/frame_view.h"
#include "ui/help.h"
#include "ui/pages/mpeg_to_avi_page.h"
#include "ui/preferences_dialog.h"
#include "ui/program_icon.h"
#include "ui/single_instance.h"
#include "ui/status_strip.h"
#include "ui/toolbar.h"
#include "window_fixture.h"

namespace calvex::testing {
namespace {

TEST(StatusCell, BarShowsWholePercentsAndRepaintsOncePerPercent) {
  ui::StatusCell main(QStringLiteral("int"));
  main.setMainBar(true);
  main.setBarValue(455);
  EXPECT_EQ(main.barText(), "45%  Converting file... press Esc to abort");
  ui::StatusCell other(QStringLiteral("int"));
  other.setBarValue(50);
  EXPECT_EQ(other.barText(), " 5%  Press Esc to abort");

  const int before = main.barRepaints();
  for (int v = 450; v <= 459; ++v) main.setBarValue(v);
  EXPECT_EQ(main.barRepaints(), before);  // 45 % was drawn already
  main.setBarValue(460);
  EXPECT_EQ(main.barRepaints(), before + 1);
  main.setBarValue(0);
  main.setBarValue(0);
  EXPECT_EQ(main.barRepaints(), before + 3);

  ui::StatusCell text(QStringLiteral("Time"));
  text.setBarValue(500);
  EXPECT_FALSE(text.isBar());
  EXPECT_EQ(text.barRepaints(), 0);
}

TEST(FrameViewTest, BitmapsBecomeTopDownImagesScaledToTheViewHeight) {
  const BitmapInfoHeader h = MakeBitmapHeader24(2, 2);
  // Bottom-up BGR rows padded to 8 bytes: the bottom row first.
  const std::uint8_t bits[16] = {255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 10, 20, 30, 0, 0};
  const QImage image = ui::ImageFromBitmap(h, bits);
  ASSERT_EQ(image.size(), QSize(2, 2));
  EXPECT_EQ(image.pixelColor(0, 0), QColor(255, 0, 0));  // top row
  EXPECT_EQ(image.pixelColor(1, 0), QColor(30, 20, 10));
  EXPECT_EQ(image.pixelColor(0, 1), QColor(0, 0, 255));  // bottom row
  BitmapInfoHeader odd = h;
  odd.bitCount = 8;
  EXPECT_TRUE(ui::ImageFromBitmap(odd, bits).isNull());

  ui::FrameView view;
  view.resize(240, 180);
  view.ShowFrame(QImage(352, 240, QImage::Format_RGB888));
  EXPECT_EQ(view.FrameRect(), QRect(0, 0, 240, 163));
  view.ShowFrame(QImage(160, 120, QImage::Format_RGB888));
  EXPECT_EQ(view.FrameRect(), QRect(0, 0, 240, 180));
  view.ShowFrame(QImage(120, 180, QImage::Format_RGB888));
  EXPECT_EQ(view.FrameRect(), QRect(60, 0, 120, 180));
}

// Each context number opens the topic of its place, and the contents has no number of these.
TEST(Help, EveryContextOpensTheTopicOfItsPlace) {
  const std::pair<int, const char*> topics[] = {
      {ui::kHelpContents, "Vorla Calvex"},
      {600, "MPEG File Information"},
      {601, "AVI File Information"},
      {602, "WAV File Information"},
      {603, "MP2 File Information"},
      {604, "Select Files"},
      {605, "Load List File"},
      {606, "Save List File"},
      {607, "Select Directory"},
      {608, "Preferences"},
      {609, "Scratch Pad"},
      {611, "Video Compression"},
      {612, "Audio Format"},
      {651, "AVI to MPEG"},
      {652, "MPEG to AVI"},
      {653, "MP2 to WAV"},
      {654, "WAV to MP2"},
      {655, "The main window"},
      {660, "Convert"},
      {661, "Help"},
      {662, "Exit"},
      {ui::kHelpProducts, "Vorla products"},
  };
  for (const auto& [context, heading] : topics) {
    const QString html = ui::HelpSystem::TopicHtml(context);
    const QString first = html.section('>', 1).section('<', 0, 0);  // the heading's text
    EXPECT_EQ(first, heading) << context;
  }
  for (int unused : {599, 610, 613, 650, 656, 663})
    EXPECT_TRUE(ui::HelpSystem::TopicHtml(unused).isEmpty()) << unused;
  EXPECT_TRUE(ui::HelpSystem::TopicHtml(ui::kHelpContents).contains("Settings"));
}

// A context popup holds the pointer and the keyboard; whatever the user does next closes it,
// and the window answers again.
TEST_F(WindowTest, F1PopupsCloseOnAKeyAClickOrLeavingThem) {
  Add({Source("a.wav"), Source("b.wav")});
  window().activateWindow();
  QTRY_VERIFY(window().isActiveWindow());
  const struct {
    const char* how;
    std::function<void(QWidget*)> act;
  } ways[] = {
      {"Esc", [](QWidget* p) { QTest::keyClick(p, Qt::Key_Escape); }},
      {"another key", [](QWidget* p) { QTest::keyClick(p, Qt::Key_A); }},
      {"F1 again", [](QWidget* p) { QTest::keyClick(p, Qt::Key_F1); }},
      {"a click on it",
       [](QWidget* p) {
         QTest::mouseClick(p, Qt::LeftButton, {}, {5, 5});
       }},
      {"a click beside it",
       [](QWidget* p) {
         QTest::mouseClick(p, Qt::LeftButton, {}, {-40, p->height() + 40});
       }},
      {"leaving it",
       [](QWidget* p) {
         QEvent leave(QEvent::Leave);
         QApplication::sendEvent(p, &leave);
       }},
  };
  int row = 0;
  for (const auto& way : ways) {
    SCOPED_TRACE(way.how);
    for (ui::ToolBarButton* button : {window().convertButton, window().exitButton}) {
      QCursor::setPos(button->mapToGlobal(button->rect().center()));
      QTest::keyClick(window().fileList, Qt::Key_F1);
      QWidget* popup = QApplication::activePopupWidget();
      ASSERT_NE(popup, nullptr);
      EXPECT_TRUE(window().help().lastWasPopup());
      way.act(popup);
      QTRY_COMPARE(QApplication::activePopupWidget(), nullptr);
      row = 1 - row;
      QListWidget* list = window().fileList;
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                        list->visualItemRect(list->item(row)).center());
      EXPECT_EQ(window().SelectedRows(), std::vector<int>({row}));
    }
  }
  EXPECT_TRUE(window().isVisible());
}

// The icon comes out of the resources through Qt's SVG engine at the small and large sizes.
TEST(ProgramIcon, RendersFromItsSvgAtEverySize) {
  const QIcon icon = ui::ProgramIcon();
  for (int size : {16, 256}) {
    const QImage image = icon.pixmap(size, size).toImage();
    ASSERT_EQ(image.size(), QSize(size, size));
    EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << size;
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << size;  // the tile's rounded corner
  }
}

TEST_F(WindowTest, F1OpensTheHelpOfTheButtonOrPage) {
  window().activateWindow();
  bool popup = false;
  const auto at = [&](QWidget* w) { return w->mapToGlobal(w->rect().center()); };
  EXPECT_EQ(window().HelpContextAt(at(window().exitButton), &popup), ui::kHelpExitButton);
  EXPECT_TRUE(popup);
  EXPECT_EQ(window().HelpContextAt(at(window().convertButton), &popup), ui::kHelpConvertButton);
  EXPECT_TRUE(popup);
  EXPECT_EQ(window().HelpContextAt(at(window().helpButton), &popup), ui::kHelpHelpButton);
  EXPECT_FALSE(popup);
  EXPECT_EQ(window().HelpContextAt(at(window().fileList), &popup), ui::kHelpMainWindow);
  Add({Source("x.wav")});
  EXPECT_EQ(window().HelpContextAt(at(window().fileList), &popup), ui::kHelpWavToMp2Page);

  const int expected = window().HelpContextAt(QCursor::pos(), &popup);
  QTest::keyClick(window().fileList, Qt::Key_F1);
  EXPECT_TRUE(window().help().used());
  EXPECT_EQ(window().help().lastContext(), expected);
  EXPECT_EQ(window().help().lastWasPopup(), popup);
  if (QWidget* shown = QApplication::activePopupWidget()) shown->close();
  window().helpButton->click();
  EXPECT_EQ(window().help().lastContext(), ui::kHelpContents);
}

TEST_F(WindowTest, ToolTipsNameTheButtonsAfterAPauseWhenAllowed) {
  window().activateWindow();
  QTRY_VERIFY(window().isActiveWindow());
  ui::ToolBarButton* exit = window().exitButton;
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), exit->mapToGlobal(QPointF(5, 5)));
  QApplication::sendEvent(exit, &enter);
  QTest::qWait(3 * ui::ToolBarButton::kTipTickMs);
  EXPECT_FALSE(exit->tipVisible());
  QTRY_VERIFY_WITH_TIMEOUT(exit->tipVisible(), 2000);
  EXPECT_EQ(exit->tipText(), "Exit");
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(exit, &leave);
  EXPECT_FALSE(exit->tipVisible());

  // With the preference off no tip comes.
  std::ofstream(IniPath()) << "[Calvex]\nToolTip=0\n";
  DestroyWindow();
  window().activateWindow();
  QTRY_VERIFY(window().isActiveWindow());
  QApplication::sendEvent(window().exitButton, &enter);
  QTest::qWait(12 * ui::ToolBarButton::kTipTickMs);
  EXPECT_FALSE(window().exitButton->tipVisible());
}

TEST_F(WindowTest, ASecondStartHandsItsFilesToTheFirst) {
  const QString key = QStringLiteral("calvex-test-%1").arg(QCoreApplication::applicationPid());
  ui::SingleInstance first(key);
  ASSERT_TRUE(first.Listen());
  QObject::connect(&first, &ui::SingleInstance::commandLineReceived, &window(),
                   [this](const QStringList& args, const QString& directory) {
                     window().AddCommandLine(args, directory);
                   });
  const QString file = Source("handed_320x240_s.avi");
  ui::SingleInstance second(key);
  EXPECT_TRUE(second.HandOver({"handed_320x240_s.avi"}, QString::fromStdString(dir.path()), 200));
  QTRY_COMPARE(ListLines(), QStringList({file}));
  ui::SingleInstance nobody(key + "-none");
  EXPECT_FALSE(nobody.HandOver({"x"}, "/", 200));
}

// Each dialog's "&Help" and F1 inside it open the dialog's own topic, and the help window stays
// usable (Esc closes it) while the dialog is up.
TEST_F(WindowTest, EachDialogsHelpAndF1OpenItsTopic) {
  Add({Source("a_352x240_s.mpg")});
  ui::DesktopDialogs desktop;
  desktop.help = &window().help();
  const struct {
    int context;
    std::function<void()> open;
  } dialogs[] = {
      {ui::kHelpPreferences, [&] { window().PreferencesCommand(); }},
      {ui::kHelpAudioFormat, [&] { window().mpegPage->audioButton->click(); }},
      {ui::kHelpVideoCompression, [&] { window().mpegPage->videoButton->click(); }},
      {ui::kHelpMpegInfo, [&] { window().infoButton->click(); }},
      {ui::kHelpSelectFiles, [&] { desktop.OpenFiles(&window(), "Select Files", "*"); }},
      {ui::kHelpLoadList, [&] { desktop.OpenFile(&window(), "Load List File", "*.lst"); }},
      {ui::kHelpSaveList, [&] { desktop.SaveFile(&window(), "Save List File", "*.lst", "lst"); }},
      {ui::kHelpSelectDirectory,
       [&] { desktop.ChooseDirectory(&window(), "Select Directory", "/"); }},
  };
  for (const auto& d : dialogs) {
    SCOPED_TRACE(d.context);
    int button = -1, f1 = -1;
    bool helpUsable = false;
    OnNextModal([&](QWidget* modal) {
      QPushButton* help = nullptr;
      for (QPushButton* b : modal->findChildren<QPushButton*>())
        if (b->text() == "&Help") help = b;
      ASSERT_NE(help, nullptr);
      help->click();
      button = window().help().lastContext();
      QDialog* helpWindow = window().help().window();
      QTest::keyClick(helpWindow->windowHandle(), Qt::Key_Escape);
      helpUsable = !helpWindow->isVisible();
      QTest::keyClick(modal, Qt::Key_F1);
      f1 = window().help().lastContext();
      static_cast<QDialog*>(modal)->reject();
    });
    d.open();
    EXPECT_EQ(button, d.context);
    EXPECT_EQ(f1, d.context);
    EXPECT_TRUE(helpUsable);
  }
}

TEST_F(WindowTest, TheSystemMenusItemsAreInTheMenuBarToo) {
  QStringList items;
  for (QAction* menu : window().menuBar->actions()) {
    items << menu->text();
    for (QAction* item : menu->menu()->actions())
      if (!item->isSeparator()) items << item->text();
  }
  EXPECT_EQ(items, QStringList({"Settings", "Preferences...", "Help", "Help Contents",
                                "About &Vorla Products", "&About Vorla Calvex"}));
  bool preferences = false;
  OnNextModal([&](QWidget* modal) {
    preferences = qobject_cast<ui::PreferencesDialog*>(modal) != nullptr;
    static_cast<QDialog*>(modal)->reject();
  });
  window().menuBar->actions()[0]->menu()->actions()[0]->trigger();
  EXPECT_TRUE(preferences);
}

// The window grows with the list, shortens long paths in their middle, carries the program's
// icon and starts in the middle of the screen.
TEST_F(WindowTest, TheWindowIsResizableWithReadableNames) {
  EXPECT_FALSE(window().windowIcon().isNull());
  const QRect screen = window().screen()->availableGeometry();
  EXPECT_LE((window().frameGeometry().center() - screen.center()).manhattanLength(), 4);

  const std::string deep = "a-rather-long-folder-name-for-the-clips-of-a-summer-holiday";
  std::filesystem::create_directories(dir.path() / deep);
  const QString path = Source(deep + "/beach_320x240_s.avi");
  Add({path});
  QListWidget* list = window().fileList;
  const QSize before = list->size();
  const int tabsBefore = window().tabs->height();
  window().resize(window().size() + QSize(200, 150));
  QTRY_COMPARE(list->size(), before + QSize(200, 150));
  EXPECT_EQ(window().tabs->height(), tabsBefore);

  EXPECT_EQ(list->item(0)->toolTip(), path);
  EXPECT_EQ(list->textElideMode(), Qt::ElideMiddle);
  window().resize(window().minimumSize());
  ASSERT_GT(list->fontMetrics().horizontalAdvance(path), list->viewport()->width());
  QTRY_VERIFY(list->visualItemRect(list->item(0)).width() <= list->viewport()->width());
}

// The toolbar's captions are all drawn alike (the Help face's bold "?" must not reach its
// caption), and a disabled button's face is grey.
TEST_F(WindowTest, ToolbarCaptionsAreAlikeAndADisabledFaceIsGrey) {
  const auto render = [](QWidget* w) {
    QImage image(w->size(), QImage::Format_RGB32);
    w->render(&image);
    return image;
  };
  ui::ToolBarButton help(ui::ToolBarButton::Face::kHelp, "Help");
  ui::ToolBarButton door(ui::ToolBarButton::Face::kExit, "Help");
  const QRect caption(0, 30, help.width(), help.height() - 32);
  EXPECT_EQ(render(&help).copy(caption), render(&door).copy(caption));

  ui::ToolBarButton convert(ui::ToolBarButton::Face::kConvert, "Convert");
  const auto colourful = [&](const QImage& image) {
    int count = 0;
    for (int y = 4; y < 27; ++y)
      for (int x = 17; x < 41; ++x) {
        const QColor c = image.pixelColor(x, y);
        if (std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) >
            24)
          ++count;
      }
    return count;
  };
  EXPECT_GT(colourful(render(&convert)), 20);
  convert.setEnabled(false);
  EXPECT_EQ(colourful(render(&convert)), 0);
}

}  // namespace
}  // namespace calvex::testing
