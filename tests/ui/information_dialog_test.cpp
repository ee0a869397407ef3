// The information dialogs: every kind's fields with their formats, the AVI block's write-back,
// and opening them from "&Info..." with their help.
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <cstring>

#include "ui/help.h"
#include "ui/info/information_dialog.h"
#include "window_fixture.h"

namespace calvex::testing {
namespace {

SourceEntry Avi(std::uint32_t fileSize, std::uint16_t audioTag) {
  SourceEntry e;
  e.kind = ConversionKind::kAviToMpeg;
  e.path = "/clips/holiday.avi";
  AviInfo& i = e.aviInfo;
  i.fileSize = fileSize;
  i.frameRatePacked = 15u << 16 | 1u;
  i.frameCount = 300;
  i.width = 352;
  i.height = 240;
  i.bitsPerPixel = 24;
  i.videoDataSize = 150000;
  i.compressionRatioTenths = 125;
  i.audioFormatTag = audioTag;
  i.audioSampleRate = 22050;
  i.audioChannels = 1;
  i.audioBitsPerSample = 16;
  i.audioDataSize = 95000;
  return e;
}

SourceEntry Mpeg(std::int32_t audioRate) {
  SourceEntry e;
  e.kind = ConversionKind::kMpegToAvi;
  e.path = "/clips/trailer.mpg";
  MpegInfo& i = e.mpegInfo;
  i.fileSize = 2000000;
  i.frameRateNum = 30000;
  i.frameRateDen = 1001;
  i.width = 352;
  i.height = 240;
  i.videoBitRate = 3750;
  i.audioSampleRate = audioRate;
  i.audioBitsPerSample = 16;
  i.audioLayer = 2;
  i.audioBitrateIndex = 4;
  i.audioChannelMode = 3;
  return e;
}

SourceEntry Wav() {
  SourceEntry e;
  e.kind = ConversionKind::kWavToMp2;
  e.path = "/clips/voice.wav";
  e.wavInfo.fileSize = 1088640;
  e.wavInfo.formatTag = 1;
  e.wavInfo.sampleRate = 22050;
  e.wavInfo.bitsPerSample = 16;
  e.wavInfo.channels = 2;
  e.wavInfo.durationHundredths = 1234;
  return e;
}

SourceEntry Mp2() {
  SourceEntry e;
  e.kind = ConversionKind::kMp2ToWav;
  e.path = "/clips/song.mp2";
  e.mp2Info.fileSize = 48000;
  e.mp2Info.sampleRate = 48000;
  e.mp2Info.bitsPerSample = 16;
  e.mp2Info.layer = 1;
  e.mp2Info.bitrateIndex = 14;
  e.mp2Info.channelMode = 4;
  return e;
}

TEST(InformationDialog, EveryKindShowsItsFieldsInTheirFormats) {
  const struct {
    SourceEntry entry;
    const char* title;
    int help;
    std::vector<std::array<const char*, 3>> fields;  // group, label, text
  } cases[] = {
      {Avi(95000, 0),
       "AVI File Information",
       ui::kHelpAviInfo,
       {{"", "File Name:", "holiday.avi"},
        {"", "File Size:", "95,000 Bytes"},
        {"Video", "Frame Rate:", "15.000 Frames/Sec"},
        {"Video", "Total Frames:", "300 Frames"},
        {"Video", "Video Duration:", "20.0 Secs"},
        {"Video", "Format:", "24 Bits [ 352 x 240 ]"},
        {"Video", "Size:", "146 KB"},
        {"Video", "Compression:", "No Compression"},
        {"Video", "Comp. Ratio:", "12.5%"},
        {"Audio", "Format:", "No Audio"},
        {"Audio", "Attributes:", ""},
        {"Audio", "Size:", ""}}},
      {Avi(150000, 1),
       "AVI File Information",
       ui::kHelpAviInfo,
       {{"", "File Size:", "146 KB"},
        {"Audio", "Format:", "PCM"},
        {"Audio", "Attributes:", "22.05 kHz ,16 Bits, Mono"},
        {"Audio", "Size:", "95,000 Bytes"}}},
      {Mpeg(0),
       "MPEG File Information",
       ui::kHelpMpegInfo,
       {{"Video", "Frame Rate:", "29.970"},
        {"Video", "Width:", "352 Pixels"},
        {"Video", "Data Rate:", "183 KB/Sec"},
        {"Audio", "Sampling Rate:", "No Audio"},
        {"Audio", "Bits per Sample:", ""},
        {"Audio", "Channels:", ""},
        {"Audio", "Layer:", ""},
        {"Audio", "Bitrate:", ""}}},
      {Mpeg(44100),
       "MPEG File Information",
       ui::kHelpMpegInfo,
       {{"Audio", "Sampling Rate:", "44.1 kHz"},
        {"Audio", "Channels:", "Joint Stereo"},
        {"Audio", "Layer:", "II"},
        {"Audio", "Bitrate:", "64 KBits/Sec"}}},
      {Wav(),
       "WAV File Information",
       ui::kHelpWavInfo,
       {{"", "Format:", "Microsoft wave format"},
        {"", "Compression:", "PCM"},
        {"", "File Size:", "1063 KB"},
        {"", "Sampling Rate:", "22.05 kHz "},
        {"", "Channels:", "Stereo"},
        {"", "Duration:", "00:00:12.3"}}},
      {Mp2(),
       "MP2 File Information",
       ui::kHelpMp2Info,
       {{"", "File Size:", "48,000 Bytes"},
        {"", "Sampling Rate:", "48.00 kHz "},
        {"", "Channels:", "Dual Channel"},
        {"", "Layer:", "I"},
        {"", "Bitrate:", "448 KBits/Sec"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    SourceEntry entry = c.entry;
    ui::InformationDialog dialog(entry, nullptr);
    EXPECT_EQ(dialog.windowTitle(), c.title);
    EXPECT_EQ(dialog.helpContext(), c.help);
    for (const auto& [group, label, text] : c.fields)
      EXPECT_EQ(dialog.FieldText(group, label), text) << group << " " << label;
  }
}

TEST(InformationDialog, AviBlockGetsTheDurationAndNoCompressionWrittenBack) {
  SourceEntry plain = Avi(95000, 0);
  ui::InformationDialog first(plain, nullptr);
  EXPECT_EQ(plain.aviInfo.videoDurationHundredths, 2000);
  EXPECT_STREQ(plain.aviInfo.compressionName, "No Compression");
  SourceEntry named = Avi(95000, 0);
  std::strcpy(named.aviInfo.compressionName, "Cinepak");
  named.aviInfo.frameRatePacked = 2997u << 16 | 100u;  // 29.97: 300 frames take 10.01 s
  ui::InformationDialog second(named, nullptr);
  EXPECT_STREQ(named.aviInfo.compressionName, "Cinepak");
  EXPECT_EQ(named.aviInfo.videoDurationHundredths, 1001);
  EXPECT_EQ(second.FieldText("Video", "Video Duration:"), "10.0 Secs");
}

TEST_F(WindowTest, InfoOpensTheSelectedFilesDialogWithItsHelp) {
  Add({Source("a_352x240_s.mpg"), Source("b_320x240_n.avi"), Source("c.wav"), Source("d.mp2")});
  EXPECT_FALSE(window().infoButton->isEnabled());  // four selected
  const struct {
    int row;
    const char* title;
    int help;
  } cases[] = {{0, "MPEG File Information", ui::kHelpMpegInfo},
               {1, "AVI File Information", ui::kHelpAviInfo},
               {2, "WAV File Information", ui::kHelpWavInfo},
               {3, "MP2 File Information", ui::kHelpMp2Info}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    window().SetSelection({c.row});
    window().RefreshPages();
    ASSERT_TRUE(window().infoButton->isEnabled());
    QString title;
    int helpButton = -1, f1 = -1;
    OnNextModal([&](QWidget* modal) {
      title = modal->windowTitle();
      auto* info = qobject_cast<ui::InformationDialog*>(modal);
      ASSERT_NE(info, nullptr);
      info->helpButton->click();
      helpButton = window().help().lastContext();
      QTest::keyClick(modal, Qt::Key_F1);
      f1 = window().help().lastContext();
      EXPECT_TRUE(window().help().window()->isVisible());
      QTest::keyClick(modal, Qt::Key_Escape);
    });
    window().infoButton->click();
    EXPECT_EQ(title, c.title);
    EXPECT_EQ(helpButton, c.help);
    EXPECT_EQ(f1, c.help);
  }
  // The entry keeps what the AVI dialog wrote back.
  EXPECT_STREQ(window().entries()[1].aviInfo.compressionName, "No Compression");
  EXPECT_EQ(window().entries()[1].aviInfo.videoDurationHundredths, 500);  // 75 frames at 15

  // A file that went away since it was added is said so, and no dialog comes.
  std::filesystem::remove(window().entries()[2].path);
  window().SetSelection({2});
  window().RefreshPages();
  window().infoButton->click();
  EXPECT_EQ(dialogs.messages.size(), 1);
  EXPECT_TRUE(dialogs.messages.front().startsWith("exclamation: Unable to open file."))
      << dialogs.messages.front().toStdString();
}

}  // namespace
}  // namespace calvex::testing
