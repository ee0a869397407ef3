// The Video Compression dialog: its opening values and enabling per codec, the quality bar, the
// key frame check, the palette, "&About...", and the choice reaching the AVI of a real run.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>

#include "engine/default_drivers.h"
#include "media_library/media_library.h"
#include "support/media_tools.h"
#include "ui/compression/video_compression_dialog.h"
#include "ui/help.h"
#include "ui/pages/mpeg_to_avi_page.h"
#include "ui/pages/page_widgets.h"
#include "window_fixture.h"

namespace calvex::testing {
namespace {

std::int32_t Code(const char* fourcc) {
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(fourcc[0]) | static_cast<std::uint32_t>(fourcc[1]) << 8 |
      static_cast<std::uint32_t>(fourcc[2]) << 16 | static_cast<std::uint32_t>(fourcc[3]) << 24);
}

void ChooseCodec(ui::VideoCompressionDialog& d, std::int32_t handler) {
  const int index = d.codecList->findData(handler);
  ASSERT_GE(index, 0);
  d.codecList->setCurrentIndex(index);
}

TEST(VideoCompression, OpensWithTheRecordsValuesAndEnablesByCodec) {
  MpegToAviParams record;
  record.compressor = Code("mjpg");  // found whatever the letter case
  record.quality = 5000;
  record.keyFrameEvery = -1;
  ui::VideoCompressionDialog d(record, nullptr);
  EXPECT_EQ(d.codecList->currentData().toInt(), Code("MJPG"));
  EXPECT_EQ(d.quality->value(), 50);
  EXPECT_EQ(d.qualityNumber->text(), "50");
  EXPECT_EQ(d.keyFrame->text(), "1");

  const struct {
    std::int32_t handler;
    bool quality, keyFrame, about, palette;
    const char* shownQuality;
  } codecs[] = {{0, false, false, false, true, "100"},
                {Code("MJPG"), true, false, true, false, "85"},
                {Code("XVID"), true, true, true, false, "75"},
                {Code("HFYU"), false, false, true, false, "100"}};
  for (const auto& c : codecs) {
    SCOPED_TRACE(c.handler);
    ChooseCodec(d, c.handler);
    EXPECT_EQ(d.quality->isEnabled(), c.quality);
    EXPECT_EQ(d.qualityNumber->text(), c.shownQuality);  // the codec's default
    EXPECT_EQ(d.keyFrame->isEnabled(), c.keyFrame);
    EXPECT_EQ(d.aboutButton->isEnabled(), c.about);
    EXPECT_FALSE(d.configureButton->isEnabled());  // no codec has settings of its own
    EXPECT_EQ(d.dataTypeList->count(), c.palette ? 2 : 1);
  }
  // A codec without quality still writes the shown quality.
  d.okButton->click();
  EXPECT_EQ(d.chosen().compressor, Code("HFYU"));
  EXPECT_EQ(d.chosen().quality, 10000);
}

TEST(VideoCompression, QualityBarStepsAndCountsADraggedThumbOnRelease) {
  MpegToAviParams record;
  record.compressor = Code("MJPG");
  record.quality = 9500;
  ui::VideoCompressionDialog d(record, nullptr);
  const struct {
    int from;
    QAbstractSlider::SliderAction action;
    int to;
  } steps[] = {
      {95, QAbstractSlider::SliderPageStepAdd, 100}, {1, QAbstractSlider::SliderSingleStepSub, 1},
      {50, QAbstractSlider::SliderPageStepSub, 40},  {50, QAbstractSlider::SliderSingleStepAdd, 51},
      {50, QAbstractSlider::SliderToMinimum, 1},     {50, QAbstractSlider::SliderToMaximum, 100}};
  for (const auto& s : steps) {
    d.quality->setValue(s.from);
    d.quality->triggerAction(s.action);
    EXPECT_EQ(d.qualityNumber->text(), QString::number(s.to)) << s.from << " " << s.action;
  }
  d.quality->setSliderDown(true);
  d.quality->setSliderPosition(30);
  EXPECT_EQ(d.qualityNumber->text(), "100");
  d.quality->setSliderDown(false);
  EXPECT_EQ(d.qualityNumber->text(), "30");
  d.okButton->click();
  EXPECT_EQ(d.chosen().quality, 3000);
}

TEST(VideoCompression, KeyFrameOutsideOneTo999KeepsTheDialogOpen) {
  MpegToAviParams record;
  record.compressor = Code("XVID");
  record.keyFrameEvery = 12;
  ui::VideoCompressionDialog d(record, nullptr);
  d.show();
  EXPECT_EQ(d.keyFrame->text(), "12");
  for (const char* bad : {"0", "1000", "x"}) {
    d.keyFrame->setText(bad);
    d.okButton->click();
    EXPECT_EQ(d.QDialog::result(), QDialog::Rejected) << bad;
    EXPECT_EQ(d.chosen().keyFrameEvery, 12) << bad;
    EXPECT_EQ(d.keyFrame->edit()->selectedText(), bad);
  }
  d.keyFrame->setText("999");
  d.okButton->click();
  EXPECT_EQ(d.QDialog::result(), QDialog::Accepted);
  EXPECT_EQ(d.chosen().keyFrameEvery, 999);
}

TEST(VideoCompression, EightBitsWithTheCommonPaletteWriteTheChosenPalette) {
  MpegToAviParams record;
  ui::VideoCompressionDialog d(record, nullptr);
  EXPECT_FALSE(d.useCommonPalette->isEnabled());  // 24 bits
  d.dataTypeList->setCurrentIndex(d.dataTypeList->findData(8));
  EXPECT_TRUE(d.useCommonPalette->isEnabled());
  EXPECT_FALSE(d.paletteList->isEnabled());
  d.useCommonPalette->click();
  EXPECT_TRUE(d.paletteList->isEnabled());
  EXPECT_EQ(d.paletteList->itemText(1), "3-3-2");
  d.paletteList->setCurrentIndex(2);
  d.okButton->click();
  EXPECT_EQ(d.chosen().compressor, 0);
  EXPECT_EQ(d.chosen().dataType, 8);
  EXPECT_EQ(d.chosen().paletteChoice, 2);
  EXPECT_EQ(d.chosen().useCommonPalette, 1);
  // Opened again, the record shows as it was chosen.
  ui::VideoCompressionDialog again(d.chosen(), nullptr);
  EXPECT_EQ(again.dataTypeList->currentData().toInt(), 8);
  EXPECT_TRUE(again.paletteList->isEnabled());
  EXPECT_EQ(again.paletteList->currentIndex(), 2);
}

TEST(VideoCompression, AboutNamesTheCodecAndTheLibraryThatProvidesIt) {
  MpegToAviParams record;
  record.compressor = Code("MJPG");
  ui::VideoCompressionDialog d(record, nullptr);
  d.aboutButton->click();
  auto* box = d.findChild<QMessageBox*>();
  ASSERT_NE(box, nullptr);
  media::VideoCodecAbout about;
  ASSERT_EQ(media::aviCodecAbout(d.codecList->currentIndex(), about), kOk);
  EXPECT_EQ(about.library, "libavcodec");
  EXPECT_TRUE(box->text().contains("Motion JPEG")) << box->text().toStdString();
  EXPECT_TRUE(box->text().contains(QString::fromStdString(about.longName)));
  EXPECT_TRUE(box->text().contains("libavcodec " + QString::fromStdString(about.version)));
  box->close();
}

// From the page's "&Video..." through a real conversion: Motion JPEG at the default drive keeps
// under its 600 KB/s, so the run ends as complete.
TEST_F(WindowTest, MotionJpegChosenInTheDialogHoldsTheDrivesDataRate) {
  CALVEX_REQUIRE_TOOL("ffprobe");
  drivers = DefaultDrivers();
  readers = DefaultInfoReaders();
  const std::string source = dir.File("detailed.mpg");
  // Grainy enough that Motion JPEG at its own quality takes about 810 KB/s.
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc2=size=352x240:rate=30:duration=3 -f lavfi -i "
             "sine=f=440:sample_rate=44100:d=3 -vf noise=alls=16:allf=t -c:v mpeg1video "
             "-b:v 4000k -c:a mp2 -b:a 128k -ac 2 -f mpeg " +
             ShellQuote(source)));
  Add({QString::fromStdString(source)});
  ASSERT_TRUE(window().mpegPage->videoButton->isEnabled());
  int help = -1;
  OnNextModal([&](QWidget* modal) {
    auto* d = qobject_cast<ui::VideoCompressionDialog*>(modal);
    ASSERT_NE(d, nullptr);
    d->helpButton->click();
    help = window().help().lastContext();
    ChooseCodec(*d, Code("MJPG"));
    d->okButton->click();
  });
  window().mpegPage->videoButton->click();
  EXPECT_EQ(help, ui::kHelpVideoCompression);
  ASSERT_TRUE(ConvertAndWait(60000));
  EXPECT_EQ(window().entries()[0].mpegToAvi.compressor, Code("MJPG"));
  EXPECT_EQ(window().entries()[0].mpegToAvi.limitDataRate, 1);
  EXPECT_EQ(dialogs.messages, QStringList({"info: Conversion complete."}));

  const std::string avi = dir.File("detailed.avi");
  const auto probe = RunCommand(
      "ffprobe -v error -select_streams v:0 -show_entries "
      "stream=codec_tag_string,nb_frames -of csv=p=0 " +
      ShellQuote(avi));
  EXPECT_EQ(probe.output, "MJPG,90\n");
  const auto size = std::filesystem::file_size(avi);
  const std::uintmax_t uncompressed = 352u * 240u * 3u * 90u;
  EXPECT_LT(size, uncompressed / 8);
  EXPECT_LT(static_cast<double>(size) / 3.0, 600.0 * 1024);  // headers and index included
}

}  // namespace
}  // namespace calvex::testing
