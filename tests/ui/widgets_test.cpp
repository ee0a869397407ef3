// The smaller pieces: the status strip's bar, frames, help topics, tool tips, single instance.
#include <QCursor>
#include <QSignalSpy>
#include <QTest>

#include "ui/frame_view.h"
#include "ui/help.h"
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
  EXPECT_EQ(image.pixelColor(0, 0), QColor(255, 0, 0));    // top row
  EXPECT_EQ(image.pixelColor(1, 0), QColor(30, 20, 10));
  EXPECT_EQ(image.pixelColor(0, 1), QColor(0, 0, 255));    // bottom row
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

TEST(Help, EveryContextHasATopic) {
  std::vector<int> contexts;
  for (int c = 600; c <= 612; ++c) contexts.push_back(c);
  for (int c = 651; c <= 655; ++c) contexts.push_back(c);
  for (int c = 660; c <= 662; ++c) contexts.push_back(c);
  contexts.push_back(ui::kHelpProducts);
  for (int c : contexts) EXPECT_FALSE(ui::HelpSystem::TopicHtml(c).isEmpty()) << c;
  EXPECT_TRUE(ui::HelpSystem::TopicHtml(599).isEmpty());
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

  QTest::keyClick(window().fileList, Qt::Key_F1);
  EXPECT_TRUE(window().help().used());
  EXPECT_EQ(window().help().lastContext(), window().HelpContextAt(QCursor::pos(), &popup));
  EXPECT_EQ(window().help().lastWasPopup(), popup);
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

}  // namespace
}  // namespace calvex::testing
