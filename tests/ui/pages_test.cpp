// The parameter pages as a user works them: common values and blanks, linked sizes, spins,
// enabling, and the checks made when the pages are committed.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>

#include "media_library/media_library.h"
#include "ui/pages/audio_format_dialog.h"
#include "ui/pages/avi_to_mpeg_page.h"
#include "ui/pages/mp2_to_wav_page.h"
#include "ui/pages/mpeg_to_avi_page.h"
#include "ui/pages/wav_to_mp2_page.h"
#include "ui/status_strip.h"
#include "window_fixture.h"

namespace calvex::testing {
namespace {

class PagesTest : public WindowTest {
 protected:
  void Select(const std::vector<int>& rows) {
    window().SetSelection(rows);
    window().RefreshPages();
  }
  // Changes the selection as a click in the list does (the pages are committed first).
  void ClickSelect(int row) {
    window().fileList->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
  }
  ui::AviToMpegPage& avi() { return *window().aviPage; }
};

TEST_F(PagesTest, MixedSelectionsShowCommonValuesAndBlanks) {
  Add({Source("a_320x240_s.avi"), Source("b_640x480_s.avi"), Source("c_320x200_s.avi")});
  Select({0, 1});
  EXPECT_EQ(avi().width->text(), "");  // 320 and 480 (the default is clamped)
  EXPECT_EQ(avi().height->text(), "");
  EXPECT_EQ(avi().bitrate->text(), "128");
  EXPECT_TRUE(avi().layer2->isChecked());
  EXPECT_TRUE(avi().keepAspect->isEnabled());  // 4:3 both
  Select({0, 2});
  EXPECT_FALSE(avi().keepAspect->isEnabled());
  EXPECT_FALSE(avi().keepAspect->isChecked());

  // A blank keeps each entry's own value; a typed value goes to all.
  Select({0, 1});
  avi().dataRate->setText("100");
  ASSERT_TRUE(window().CommitPages());
  EXPECT_EQ(window().entries()[0].aviToMpeg.height, 240);
  EXPECT_EQ(window().entries()[1].aviToMpeg.height, 480);
  EXPECT_EQ(window().entries()[0].aviToMpeg.dataRateKBps, 100);
  EXPECT_EQ(window().entries()[1].aviToMpeg.dataRateKBps, 100);
}

TEST_F(PagesTest, VideoCdFillsAndLocksTheFieldsItFixes) {
  Add({Source("a_320x240_s.avi")});  // 15 frames per second: NTSC
  avi().videoCd->click();
  EXPECT_EQ(avi().frameRate->currentIndex(), 1);
  EXPECT_EQ(avi().width->text(), "352");
  EXPECT_EQ(avi().height->text(), "240");
  EXPECT_EQ(avi().bitrate->text(), "224");
  for (QWidget* w : std::initializer_list<QWidget*>{avi().frameRate, avi().width, avi().dataRate,
                                                    avi().layer1, avi().bitrate, avi().keepAspect})
    EXPECT_FALSE(w->isEnabled());
  ASSERT_TRUE(window().CommitPages());
  EXPECT_EQ(window().entries()[0].aviToMpeg.videoCd, 1);
  EXPECT_EQ(window().entries()[0].aviToMpeg.audioBitrateKbps, 224);
  avi().videoCd->click();
  EXPECT_TRUE(avi().width->isEnabled());
  ASSERT_TRUE(window().CommitPages());
  EXPECT_EQ(window().entries()[0].aviToMpeg.videoCd, 0);
}

TEST_F(PagesTest, MixedLayersClearBothRadiosAndShowTheLayerOneLabel) {
  Add({Source("a.wav"), Source("b.wav")});
  Select({0});
  window().wavPage->layer1->click();
  EXPECT_EQ(window().wavPage->bitrateLabel->text(), "&Bitrate (32-448):");
  ASSERT_TRUE(window().CommitPages());
  Select({0, 1});
  EXPECT_FALSE(window().wavPage->layer1->isChecked());
  EXPECT_FALSE(window().wavPage->layer2->isChecked());
  EXPECT_EQ(window().wavPage->bitrateLabel->text(), "&Bitrate (32-448):");
  window().wavPage->layer2->click();
  EXPECT_EQ(window().wavPage->bitrateLabel->text(), "&Bitrate (32-384):");
}

TEST_F(PagesTest, KeepAspectRatioLinksWidthAndHeight) {
  Add({Source("a_320x240_s.avi")});
  avi().keepAspect->click();
  avi().width->edit()->clear();
  QTest::keyClicks(avi().width->edit(), "352");
  EXPECT_EQ(avi().height->text(), "264");
  avi().height->edit()->clear();
  QTest::keyClicks(avi().height->edit(), "120");
  EXPECT_EQ(avi().width->text(), "160");
  ASSERT_TRUE(window().CommitPages());
  EXPECT_EQ(window().entries()[0].aviToMpeg.width, 160);
  // Without the box the other side stays.
  avi().keepAspect->click();
  QTest::keyClicks(avi().width->edit(), "0");
  EXPECT_EQ(avi().height->text(), "120");
}

TEST_F(PagesTest, SpinsStepByTheirRules) {
  Add({Source("a_320x240_s.avi")});
  avi().width->setText("");
  avi().width->upButton()->click();
  EXPECT_EQ(avi().width->text(), "160");
  avi().bitrate->setText("256");
  avi().bitrate->upButton()->click();
  EXPECT_EQ(avi().bitrate->text(), "320");
  avi().bitrate->upButton()->click();
  avi().bitrate->upButton()->click();
  EXPECT_EQ(avi().bitrate->text(), "384");
  QTest::keyClick(avi().dataRate->edit(), Qt::Key_Down);
  EXPECT_EQ(avi().dataRate->text(), "140");
}

TEST_F(PagesTest, AudioControlsFollowTheSound) {
  Add({Source("mono_320x240_m.avi"), Source("silent_320x240_n.avi")});
  Select({0});
  EXPECT_TRUE(avi().layer1->isEnabled());
  EXPECT_TRUE(avi().bitrate->isEnabled());
  EXPECT_FALSE(avi().stereo->isEnabled());
  EXPECT_FALSE(avi().jointStereo->isEnabled());
  EXPECT_EQ(window().entries()[0].aviToMpeg.audioBitrateKbps, 64);
  Select({1});
  EXPECT_FALSE(avi().layer1->isEnabled());
  EXPECT_FALSE(avi().bitrate->isEnabled());
  EXPECT_EQ(window().strip->stage->text(), "No Audio");
}

TEST_F(PagesTest, CommittingChecksTheFieldsInOrder) {
  Add({Source("a_320x240_s.avi")});
  avi().width->setText("353");
  EXPECT_FALSE(window().CommitPages());
  EXPECT_EQ(dialogs.messages,
            QStringList({"exclamation: The width and height must be even numbers."}));
  EXPECT_EQ(dialogs.beeps, 1);
  avi().width->setText("500");
  avi().height->setText("abc");
  EXPECT_FALSE(window().CommitPages());
  EXPECT_EQ(dialogs.messages.back(),
            "exclamation: Invalid parameters. The value must be between 32 and 480");
  EXPECT_TRUE(avi().width->edit()->hasFocus() || !window().isActiveWindow());
  avi().width->setText("352");
  avi().height->setText("");
  avi().dataRate->setText("250");
  EXPECT_FALSE(window().CommitPages());
  EXPECT_EQ(dialogs.messages.back(),
            "exclamation: Invalid parameters. The value must be between 60 and 200");
  EXPECT_EQ(window().entries()[0].aviToMpeg.width, 320);  // nothing written
}

TEST_F(PagesTest, AFailedCommitRestoresTheSelection) {
  Add({Source("a_320x240_s.avi"), Source("b.wav")});
  Select({0});
  avi().dataRate->setText("5");
  ClickSelect(1);
  EXPECT_EQ(window().SelectedRows(), std::vector<int>({0}));
  EXPECT_EQ(window().tabs->currentWidget(), window().aviPage);
  EXPECT_EQ(dialogs.messages.size(), 1);
  avi().dataRate->setText("80");
  ClickSelect(1);
  EXPECT_EQ(window().SelectedRows(), std::vector<int>({1}));
  EXPECT_EQ(window().entries()[0].aviToMpeg.dataRateKBps, 80);
}

TEST_F(PagesTest, MpegPageKeepsItsRateAndFollowsTheDrive) {
  Add({Source("m_352x240_s.mpg")});
  ui::MpegToAviPage& page = *window().mpegPage;
  EXPECT_EQ(page.frameRate->text(), "29.97");
  ASSERT_TRUE(window().CommitPages());
  EXPECT_EQ(window().entries()[0].mpegToAvi.frameRateMilli, 29970);  // not rounded by the text
  EXPECT_FALSE(page.dataRate->isEnabled());
  EXPECT_FALSE(page.padFrames->isEnabled());
  page.targetDrive->setCurrentIndex(3);
  emit page.targetDrive->activated(3);
  EXPECT_EQ(page.dataRate->text(), "450");
  EXPECT_TRUE(page.padFrames->isEnabled());
  page.targetDrive->setCurrentIndex(6);
  emit page.targetDrive->activated(6);
  EXPECT_TRUE(page.limitDataRate->isEnabled());
  EXPECT_TRUE(page.dataRate->isEnabled());
  page.dataRate->setText("5000");
  EXPECT_FALSE(window().CommitPages());
  EXPECT_EQ(dialogs.messages.back(),
            "exclamation: Invalid parameters. The value must be between 10 and 1000");
  page.dataRate->setText("700");
  page.packEvery->setText("30");
  EXPECT_FALSE(window().CommitPages());
  EXPECT_EQ(dialogs.messages.back(),
            "exclamation: Invalid parameters. The value must be between 1 and 29");
  page.packEvery->setText("2");
  page.frameRate->upButton()->click();
  EXPECT_EQ(page.frameRate->text(), "30");
  ASSERT_TRUE(window().CommitPages());
  const MpegToAviParams& p = window().entries()[0].mpegToAvi;
  EXPECT_EQ(p.targetDrive, 6);
  EXPECT_EQ(p.dataRateKBps, 700);
  EXPECT_EQ(p.frameRatePacked, (30000 << 16) | 1000);
}

TEST_F(PagesTest, MpegAudioFormatIsWrittenOnlyWhenChosen) {
  Add({Source("m_352x240_s.mpg")});
  const auto before = window().entries()[0].mpegToAvi.audioFormat;
  ASSERT_TRUE(window().CommitPages());
  EXPECT_EQ(window().entries()[0].mpegToAvi.audioFormat, before);
  window().mpegPage->chooseAudioFormat = [](WaveFormat& f) {
    f = MakePcmFormat(1, 22050, 8);
    return true;
  };
  window().mpegPage->audioButton->click();
  ASSERT_TRUE(window().CommitPages());
  EXPECT_EQ(window().entries()[0].mpegToAvi.AudioFormat().samplesPerSec, 22050u);
  EXPECT_EQ(window().entries()[0].mpegToAvi.AudioFormat().channels, 1);
}

TEST_F(PagesTest, Mp2PageSetsTheWavFormat) {
  Add({Source("s.mp2")});
  ui::Mp2ToWavPage& page = *window().mp2Page;
  EXPECT_TRUE(page.rateUser->isChecked());
  EXPECT_EQ(page.userRate->text(), "48.000");
  page.rateUser->click();
  page.userRate->setText("4");
  EXPECT_FALSE(window().CommitPages());
  EXPECT_EQ(dialogs.messages.back(),
            "exclamation: Invalid parameters. The value must be between 6 and 48");
  page.rate22->click();
  page.stereo->click();
  page.bits8->click();
  ASSERT_TRUE(window().CommitPages());
  const WaveFormat f = window().entries()[0].mp2ToWav.Format();
  EXPECT_EQ(f.samplesPerSec, 22050u);
  EXPECT_EQ(f.channels, 2);
  EXPECT_EQ(f.bitsPerSample, 8);
  EXPECT_EQ(f.blockAlign, 2);
  EXPECT_EQ(f.avgBytesPerSec, 44100u);
}

// Wave format tags beyond PCM and Microsoft ADPCM.
constexpr std::uint16_t kALaw = 6, kGsm610 = 0x31;

// The index of a format tag in a list filled from the media layer's formats; -1 when absent.
int IndexOfTag(const QComboBox* box, std::uint16_t tag) {
  return box->findData(tag);
}

TEST_F(PagesTest, Mp2PageOffersTheWritersFormatsWithTheirSampleSizes) {
  Add({Source("s.mp2")});
  ui::Mp2ToWavPage& page = *window().mp2Page;
  const auto formats = media::myGetAcmFormat1();
  ASSERT_EQ(page.scheme->count(), static_cast<int>(formats.size()));
  ASSERT_GE(formats.size(), 2u);
  for (std::size_t i = 0; i < formats.size(); ++i) {
    EXPECT_EQ(page.scheme->itemText(static_cast<int>(i)).toStdString(), formats[i].name);
    EXPECT_EQ(page.scheme->itemData(static_cast<int>(i)).toUInt(), formats[i].formatTag);
  }
  EXPECT_EQ(page.scheme->currentText(), "PCM");

  // Choosing a scheme takes the sample size it suggests.
  const auto choose = [&](std::uint16_t tag) {
    const int index = IndexOfTag(page.scheme, tag);
    page.scheme->setCurrentIndex(index);
    page.scheme->activated(index);
    return index >= 0;
  };
  ASSERT_TRUE(choose(kWaveFormatMsAdpcm));
  EXPECT_TRUE(page.bitsOther->isChecked());
  EXPECT_EQ(page.otherBits->currentData().toInt(), 4);
  page.rate22->click();
  page.stereo->click();
  ASSERT_TRUE(window().CommitPages());
  WaveFormat f = window().entries()[0].mp2ToWav.Format();
  EXPECT_EQ(f.formatTag, kWaveFormatMsAdpcm);
  EXPECT_EQ(f.bitsPerSample, 4);
  const WaveFormat adpcm = media::WaveFormatFor(kWaveFormatMsAdpcm, 2, 22050, 4);
  EXPECT_EQ(f.blockAlign, adpcm.blockAlign);  // the writer's own figures
  EXPECT_EQ(f.avgBytesPerSec, adpcm.avgBytesPerSec);

  if (choose(kALaw)) {
    EXPECT_TRUE(page.bits8->isChecked());
  }
  if (choose(kGsm610)) {
    // No sample size of its own: no button checked, and the record says 0.
    EXPECT_FALSE(page.bits8->isChecked() || page.bits16->isChecked() ||
                 page.bitsOther->isChecked());
    ASSERT_TRUE(window().CommitPages());
    EXPECT_EQ(window().entries()[0].mp2ToWav.Format().bitsPerSample, 0);
    window().RefreshPages();
    EXPECT_EQ(page.scheme->currentData().toUInt(), kGsm610);
  }
  ASSERT_TRUE(choose(kWaveFormatPcm));
  EXPECT_TRUE(page.bits16->isChecked());
  ASSERT_TRUE(window().CommitPages());
  f = window().entries()[0].mp2ToWav.Format();
  EXPECT_EQ(f.formatTag, kWaveFormatPcm);
  EXPECT_EQ(f.blockAlign, 4);
}

TEST(AudioFormatDialogTest, OffersEachFormatWithTheRatesAndChannelsItTakes) {
  ui::AudioFormatDialog dialog(MakePcmFormat(2, 22050, 16), nullptr);
  const auto formats = media::myGetAcmFormat1();
  ASSERT_EQ(dialog.format->count(), static_cast<int>(formats.size()));
  EXPECT_EQ(dialog.format->currentData().toUInt(), kWaveFormatPcm);
  const WaveFormat pcm = dialog.Chosen();
  EXPECT_EQ(pcm.samplesPerSec, 22050u);
  EXPECT_EQ(pcm.channels, 2);
  EXPECT_EQ(pcm.bitsPerSample, 16);
  EXPECT_EQ(pcm.blockAlign, 4);
  EXPECT_EQ(dialog.bits->count(), 2);

  // Microsoft ADPCM keeps the rate and channels chosen, in 4 bits, with the writer's figures.
  dialog.format->setCurrentIndex(IndexOfTag(dialog.format, kWaveFormatMsAdpcm));
  const WaveFormat adpcm = dialog.Chosen();
  EXPECT_EQ(adpcm.formatTag, kWaveFormatMsAdpcm);
  EXPECT_EQ(adpcm.samplesPerSec, 22050u);
  EXPECT_EQ(adpcm.channels, 2);
  EXPECT_EQ(adpcm.bitsPerSample, 4);
  EXPECT_EQ(adpcm.blockAlign, media::WaveFormatFor(kWaveFormatMsAdpcm, 2, 22050, 4).blockAlign);
  EXPECT_FALSE(dialog.bits->isEnabled());

  // GSM 6.10 is 8 kHz mono only.
  const int gsm = IndexOfTag(dialog.format, kGsm610);
  if (gsm >= 0) {
    dialog.format->setCurrentIndex(gsm);
    EXPECT_EQ(dialog.rate->count(), 1);
    EXPECT_EQ(dialog.channels->count(), 1);
    const WaveFormat g = dialog.Chosen();
    EXPECT_EQ(g.samplesPerSec, 8000u);
    EXPECT_EQ(g.channels, 1);
    EXPECT_NE(g.blockAlign, 0);
  }
  // Back to PCM: every rate again.
  dialog.format->setCurrentIndex(IndexOfTag(dialog.format, kWaveFormatPcm));
  EXPECT_EQ(dialog.rate->count(), 7);
  EXPECT_EQ(dialog.channels->count(), 2);
}

TEST_F(PagesTest, OneSelectedFileShowsItsInformationInTheStrip) {
  Add({Source("a_320x240_s.avi")});
  EXPECT_EQ(window().strip->frameRate->text(), "15.00");
  EXPECT_EQ(window().strip->frameSize->text(), "320 x 240");
  EXPECT_EQ(window().strip->time->text(), "22.050");
  EXPECT_EQ(window().strip->stage->text(), "Stereo");
  Add({Source("m_352x240_s.mpg")});
  EXPECT_EQ(window().strip->frameRate->text(), "29.970");
  EXPECT_EQ(window().strip->stage->text(), "Joint Stereo");
}

}  // namespace
}  // namespace calvex::testing
