// End-to-end runs of calvex (the real program) and calvex_fake (the same command line over test
// doubles of the drivers).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli_fixture.h"
#include "engine/list_file.h"
#include "support/media_tools.h"

namespace calvex {
namespace {

using testing::RunCommand;
using testing::ShellQuote;

TEST(Cli, HelpAndUsageErrors) {
  Cli c;
  const auto help = c.RunReal("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.output.find("convert"), std::string::npos);
  EXPECT_EQ(c.RunReal("convert --help").exitCode, 0);
  EXPECT_EQ(c.RunReal("--version").output, "calvex " CALVEX_VERSION "\n");
  c.Make("a.wav");
  c.Make("b.avi");
  for (const char* args :
       {"", "frobnicate a.wav", "convert", "convert --bogus a.wav", "convert --jobs 0 a.wav",
        "convert --layer 3 a.wav", "convert --section 5-2 b.avi", "convert --section 0-9 a.wav",
        "convert --frame-rate 31 b.avi", "convert notes.txt",
        "convert --stereo --joint-stereo a.wav", "convert --log x.log --no-log a.wav",
        "convert --shard 0/4 a.wav", "convert --shard 5/4 a.wav", "convert --progress xml a.wav",
        "info"}) {
    EXPECT_EQ(c.RunReal(args).exitCode, 2) << args;
  }
  EXPECT_EQ(c.Files(), (std::vector<std::string>{"a.wav", "b.avi"}));
}

TEST(Cli, InvalidParametersAreRefusedBeforeAnythingIsWritten) {
  Cli c;
  c.Make("a.wav");
  c.Make("b.avi");
  auto r = c.RunReal("convert --audio-bitrate 500 a.wav");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.output.find("Invalid parameters. The value must be between 32 and 448"),
            std::string::npos);
  r = c.RunReal("convert --size 321x240 b.avi");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.output.find("The width and height must be even numbers."), std::string::npos);
  c.Make("clip.mpg");
  r = c.Run("convert --pack-every 40 clip.mpg");
  EXPECT_EQ(r.exitCode, 2);  // the MPEG (29.97 frames/s, from its information) packs up to 29
  r = c.RunReal("convert -d missing a.wav");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.output.find("The destination directory does not exist."), std::string::npos);
  EXPECT_EQ(c.Files(), (std::vector<std::string>{"a.wav", "b.avi", "clip.mpg"}));
}

// Exit status 2 is for what the user typed. A source whose own values the conversion cannot take
// fails (1) with a message about the source; an option that does not suit it is still a usage
// error; an option that makes it convertible converts it.
TEST(Cli, SourcesTheConversionCannotTakeAreNotUsageErrors) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  Cli c;
  ASSERT_TRUE(
      testing::Ffmpeg("-f lavfi -i testsrc2=size=32x32:rate=25:duration=0.2 -c:v "
                      "mpeg1video -f mpeg1video " +
                      ShellQuote(c.dir.File("clip.mpg"))));
  const std::vector<std::uint8_t> clip = testing::ReadFileBytes(c.dir.File("clip.mpg"));
  std::vector<std::uint8_t> wide = clip;  // the sequence header says 4095 x 32
  wide[4] = 0xFF;
  wide[5] = 0xF0;
  testing::WriteFileBytes(c.dir.File("wide.mpg"), wide);
  std::vector<std::uint8_t> fast = clip;  // 60 pictures per second
  fast[7] = static_cast<std::uint8_t>((fast[7] & 0xF0) | 8);
  testing::WriteFileBytes(c.dir.File("fast.mpg"), fast);
  const struct {
    const char* args;
    int exitCode;
    const char* message;
  } cases[] = {
      {"wide.mpg", 1, "wide.mpg: the pictures are 4095 x 32 pixels"},
      {"fast.mpg", 1, "fast.mpg: the video runs at 60.000 frames per second"},
      {"--pack-every 28 clip.mpg", 2, "Invalid parameters. The value must be between 1 and 25"},
      {"-d out --frame-rate 25 fast.mpg", 0, "Write out/fast.avi"},
  };
  std::filesystem::create_directories(c.dir.path() / "out");
  for (const auto& t : cases) {
    const auto r = c.RunReal("convert " + std::string(t.args));
    EXPECT_EQ(r.exitCode, t.exitCode) << t.args << "\n" << r.output;
    EXPECT_NE(r.output.find(t.message), std::string::npos) << t.args << "\n" << r.output;
  }
  EXPECT_EQ(c.Files(), (std::vector<std::string>{"clip.mpg", "fast.mpg", "out", "wide.mpg"}));
}

TEST(Cli, UnsupportedConversionFails) {
  Cli c;
  c.Make("a.wav");
  const auto r = c.Run("convert a.wav", "CALVEX_FAKE=unsupported");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("Not supported."), std::string::npos);
  EXPECT_EQ(c.Files(), std::vector<std::string>{"a.wav"});
}

TEST(Cli, ConvertsEveryKindWithItsOptions) {
  Cli c;
  for (const char* name : {"a.avi", "b.wav", "c.mpg", "d.mp2"}) c.Make(name);
  std::filesystem::create_directories(c.dir.path() / "out");
  const auto r = c.Run("convert -q -d out --layer 1 --frame-rate 25 a.avi b.wav c.mpg d.mp2");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output, "");  // quiet
  EXPECT_EQ(c.Files("out"), (std::vector<std::string>{"a.mpg", "b.mp2", "c.avi", "d.wav"}));
  EXPECT_TRUE(c.Read("out/b.mp2").starts_with("fake b.mp2\n"));
  // No temporary audio is left beside the outputs.
  EXPECT_EQ(c.Files(), (std::vector<std::string>{"a.avi", "b.wav", "c.mpg", "d.mp2", "out"}));
}

TEST(Cli, SectionsGiveOneOutputEach) {
  Cli c;
  c.Make("Holiday.avi");
  const auto r = c.Run("convert --section 0-99 --section 200-299 Holiday.avi");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(c.Files(), (std::vector<std::string>{"Holid001.mpg", "Holid002.mpg", "Holiday.avi"}));
  EXPECT_NE(r.output.find("Write Holid002.mpg"), std::string::npos);
}

// Through the real drivers: a section past the last frame is refused with nothing written, one
// that runs past it ends at the last frame.
TEST(Cli, SectionsOutsideTheSource) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  CALVEX_REQUIRE_TOOL("ffprobe");
  Cli c;
  for (const char* make : {"4.8 -c:v mjpeg clip.avi", "6 -c:v mpeg1video -f mpeg film.mpg"}) {
    ASSERT_EQ(
        RunCommand("cd " + ShellQuote(c.dir.path().string()) +
                   " && ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=25:duration=" + make)
            .exitCode,
        0);
  }
  auto r = c.RunReal("convert --section 0-9 --section 100-150 clip.avi");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Section 2 (frames 100 - 150) ends after the last frame of the file and "
                          "is cut at frame 119."),
            std::string::npos)
      << r.output;
  const auto frames = [&](const std::string& file) {
    return RunCommand(
               "ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of "
               "csv=p=0 " +
               ShellQuote(c.dir.File(file)))
        .output;
  };
  EXPECT_EQ(frames("clip002.mpg"), "20\n");

  r = c.RunReal("convert --section 0-9 --section 160-170 film.mpg");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("The section starts after the last frame of the file. Section 2 "
                          "(frames 160 - 170): the file has 150 frames."),
            std::string::npos)
      << r.output;
  r = c.RunReal("convert --section 140-170 film.mpg");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(frames("film001.avi"), "10\n");
  EXPECT_EQ(c.Files(), (std::vector<std::string>{"clip.avi", "clip001.mpg", "clip002.mpg",
                                                 "film.mpg", "film001.avi"}));
}

TEST(Cli, OptionsThatDoNotApplyAreWarnedAboutPerFile) {
  Cli c;
  c.Make("c.mpg");
  c.Make("d.mpg");
  const auto r = c.Run("convert --quality 50 --layer 1 c.mpg d.mpg");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  for (const char* file : {"c.mpg", "d.mpg"}) {
    const std::string prefix = std::string("calvex: warning: ") + file + ": ";
    EXPECT_NE(r.output.find(prefix + "--quality does not apply to uncompressed pictures\n"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find(prefix + "--layer does not apply to MPEG to AVI conversions\n"),
              std::string::npos);
  }
  EXPECT_EQ(c.Files(), (std::vector<std::string>{"c.avi", "c.mpg", "d.avi", "d.mpg"}));
}

// Through the real drivers: the AVI's pictures and sound are what the options ask for, not the
// MPEG's rate and channels.
TEST(Cli, MpegToAviPicturesAndSoundFromTheOptions) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  CALVEX_REQUIRE_TOOL("ffprobe");
  Cli c;
  ASSERT_TRUE(testing::Ffmpeg(
      "-f lavfi -i testsrc=size=64x48:rate=25:duration=0.4 -f lavfi -i "
      "sine=sample_rate=44100:duration=0.4 -ac 2 -c:v mpeg1video -c:a mp2 -f mpeg " +
      ShellQuote(c.dir.File("film.mpg"))));
  const struct {
    const char* options;
    const char* streams;  // ffprobe's codec, pixel format, sampling rate and channels
  } cases[] = {
      {"", "rawvideo,bgr24\npcm_s16le,44100,2\n"},
      {"--data-type 8 --palette 3-3-2 --common-palette --audio-rate 22050 --audio-channels 1 "
       "--audio-bits 8",
       "rawvideo,pal8\npcm_u8,22050,1\n"},
      {"--audio-format adpcm --audio-rate 11025 --audio-channels 1",
       "rawvideo,bgr24\nadpcm_ms,11025,1\n"},
  };
  for (const auto& t : cases) {
    const auto r = c.RunReal(std::string("convert -q -y ") + t.options + " film.mpg");
    ASSERT_EQ(r.exitCode, 0) << t.options << "\n" << r.output;
    EXPECT_EQ(RunCommand("ffprobe -v error -show_entries "
                         "stream=codec_name,pix_fmt,sample_rate,channels -of csv=p=0 " +
                         ShellQuote(c.dir.File("film.avi")))
                  .output,
              t.streams)
        << t.options;
  }
}

TEST(Cli, ParallelJobsWriteTheSameOutputs) {
  std::vector<std::string> contents[2];
  const int jobs[2] = {1, 4};
  for (int run = 0; run < 2; ++run) {
    Cli c;
    for (int i = 0; i < 6; ++i)
      c.Make("f" + std::to_string(i) + ".wav", "data " + std::to_string(i));
    c.Make("g.avi", "movie");
    const auto r = c.Run("convert -j " + std::to_string(jobs[run]) +
                         " --threads 2 f0.wav f1.wav "
                         "f2.wav f3.wav f4.wav f5.wav g.avi");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    for (const std::string& name : c.Files()) contents[run].push_back(name + ":" + c.Read(name));
  }
  EXPECT_EQ(contents[0].size(), 14u);
  EXPECT_EQ(contents[0], contents[1]);
}

TEST(Cli, ExistingOutputsAreReplacedOnlyWithYes) {
  Cli c;
  c.Make("a.wav");
  c.Make("a.mp2", "keep me");
  auto r = c.Run("convert a.wav");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("-y"), std::string::npos);
  EXPECT_EQ(c.Read("a.mp2"), "keep me");
  r = c.Run("convert -y a.wav");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(c.Read("a.mp2"), "keep me");
}

TEST(Cli, OutputsThatCollideAreRefused) {
  Cli c;
  c.Make("x/a.wav");
  c.Make("y/a.wav");
  c.Make("a.avi");
  c.Make("a.mpg");
  std::filesystem::create_directories(c.dir.path() / "out");
  EXPECT_EQ(c.Run("convert -d out x/a.wav y/a.wav").exitCode, 2);
  EXPECT_EQ(c.Run("convert a.avi a.mpg").exitCode, 2);  // each would overwrite the other
  EXPECT_EQ(c.Run("convert a.wav a.wav").exitCode, 2);
  EXPECT_TRUE(c.Files("out").empty());
}

TEST(Cli, FailuresAndTheLog) {
  Cli c;
  c.Make("a.wav");
  c.Make("b.wav");
  auto r = c.Run("convert --log run.log a.wav missing.wav b.wav");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("Unable to open file. missing.wav"), std::string::npos);
  EXPECT_NE(r.output.find("see the log run.log"), std::string::npos);
  const std::string log = c.Read("run.log");
  EXPECT_TRUE(log.starts_with("The starting time is "));
  // A source that cannot be opened is reported without a "Read" line.
  EXPECT_NE(log.find("\r\nConverting...\r\nRead a.wav (1 of 3)\r\nWrite a.mp2\r\nError "
                     "occurred:\r\nUnable to open file. missing.wav\r\nRead b.wav (3 of "
                     "3)\r\nWrite b.mp2\r\n\r\nThe finishing time is "),
            std::string::npos);
  EXPECT_TRUE(log.ends_with("\r\n"));

  r = c.Run("convert -y --abort-on-error a.wav missing.wav b.wav");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output.find("Read b.wav"), std::string::npos);

  // A failed conversion leaves the output of an earlier one as it was.
  const std::string earlier = c.Read("a.mp2");
  r = c.Run("convert -q -y a.wav", "CALVEX_FAKE=fail");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("Unable to continue. An error has occurred decoding the AVI file."),
            std::string::npos);
  EXPECT_EQ(c.Read("a.mp2"), earlier);
}

TEST(Cli, ProgressLinesWhenNotOnATerminal) {
  Cli c;
  c.Make("a.wav");
  const auto r = c.Run("convert a.wav");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.output.find("[1/1] a.wav: Audio 10%\n"), std::string::npos);
  EXPECT_NE(r.output.find("[1/1] a.wav: Audio 100%\n"), std::string::npos);
  EXPECT_NE(r.output.find("Conversion complete."), std::string::npos);
}

TEST(Cli, ListFilesConvertTheirEntries) {
  Cli c;
  c.Make("a.wav");
  c.Make("b.mp2");
  SourceList list;
  for (const char* name : {"a.wav", "b.mp2"}) {
    SourceEntry e;
    e.path = c.dir.File(name);
    e.kind = KindByExtension(name);
    list.entries.push_back(e);
  }
  list.entries[0].wavToMp2.audioBitrateKbps = 224;
  std::filesystem::create_directories(c.dir.path() / "out");
  list.destinationMode = DestinationMode::kAnotherDirectory;
  list.destinationDirectory = c.dir.File("out");
  ASSERT_EQ(SaveListFile(c.dir.File("x.lst"), list), kOk);
  auto r = c.Run("convert --list x.lst");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(c.Files("out"), (std::vector<std::string>{"a.mp2", "b.wav"}));

  c.Make("bad.lst", "not a list");
  r = c.Run("convert --list bad.lst");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("The list file has been corrupted."), std::string::npos);
}

TEST(Cli, CtrlCCancelsAndCleansUp) {
  Cli c;
  c.Make("a.avi");
  c.Make("b.wav");
  const std::string command = "cd " + ShellQuote(c.dir.path().string()) +
                              " && { CALVEX_FAKE=slow " + ShellQuote(CALVEX_FAKE_BINARY) +
                              " convert a.avi b.wav </dev/null & pid=$!; sleep 1; kill -INT $pid; "
                              "wait $pid; }";
  const auto start = std::chrono::steady_clock::now();
  const auto r = RunCommand(command);
  EXPECT_EQ(r.exitCode, 130) << r.output;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_NE(r.output.find("Conversion ended by user."), std::string::npos);
  EXPECT_EQ(c.Files(), (std::vector<std::string>{"a.avi", "b.wav"}));
}

TEST(Cli, InfoReportsKindSizeAndInformation) {
  Cli c;
  c.Make("a.avi", "0123456789");
  auto r = c.Run("info --json a.avi missing.wav");
  EXPECT_EQ(r.exitCode, 1);
  const auto json = nlohmann::json::parse(r.output);
  ASSERT_EQ(json.size(), 2u);
  EXPECT_EQ(json[0]["kind"], "avi");
  EXPECT_EQ(json[0]["size"], 10);
  EXPECT_EQ(json[0]["info"]["width"], 320);
  EXPECT_EQ(json[0]["info"]["compression"], "Motion JPEG");
  EXPECT_EQ(json[1]["error"], "Unable to open file. missing.wav");

  // Text: the fields of the information dialogs, grouped, in their formats.
  c.Make("m.mpg");
  c.Make("s.wav");
  c.Make("s.mp2");
  r = c.Run("info a.avi m.mpg s.wav s.mp2");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  for (const char* line :
       {"a.avi\n  Kind:                avi\n  File Name:           a.avi\n"
        "  File Size:           0,010 Bytes\n  Video\n    Frame Rate:        30.000 Frames/Sec\n"
        "    Total Frames:      300 Frames\n    Video Duration:    10.0 Secs\n",
        "    Compression:       Motion JPEG\n", "  Audio\n    Format:            Microsoft ADPCM\n",
        "m.mpg\n  Kind:                mpg\n", "    Frame Rate:        29.970\n",
        "    Width:             352 Pixels\n", "    Sampling Rate:     44.1 kHz\n",
        "    Channels:          Stereo\n", "  Compression:         PCM\n",
        "  Sampling Rate:       44.10 kHz\n", "  Layer:               II\n"}) {
    EXPECT_NE(r.output.find(line), std::string::npos) << line << "\nin\n" << r.output;
  }
  // JSON: the MPEG block's sound fields, the channel count among them.
  r = c.Run("info --json m.mpg s.mp2");
  const auto mpeg = nlohmann::json::parse(r.output);
  EXPECT_EQ(mpeg[0]["info"]["audio_bits"], 16);
  EXPECT_EQ(mpeg[0]["info"]["audio_channels"], 2);
  EXPECT_EQ(mpeg[0]["info"]["audio_channel_mode"], 2);
  EXPECT_EQ(mpeg[0]["info"]["audio_bitrate_kbps"], 192);
  EXPECT_EQ(mpeg[1]["info"]["channels"], 2);

  // The real program reports at least the kind and size, whatever its readers can do yet.
  r = c.RunReal("info --json a.avi");
  const auto real = nlohmann::json::parse(r.output);
  EXPECT_EQ(real[0]["size"], 10);
}

// The AVI block keeps 16 bits of the sampling rate; the report has all of it.
TEST(Cli, InfoReportsTheTrueSamplingRateOfAnAvisSound) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  Cli c;
  ASSERT_EQ(RunCommand("cd " + ShellQuote(c.dir.path().string()) +
                       " && ffmpeg -v error -f lavfi -i testsrc=size=32x32:rate=25:duration=0.2 "
                       "-f lavfi -i sine=sample_rate=96000:duration=0.2 -c:v rawvideo "
                       "-c:a pcm_s16le hi.avi")
                .exitCode,
            0);
  const auto r = c.RunReal("info --json hi.avi");
  EXPECT_EQ(nlohmann::json::parse(r.output)[0]["info"]["audio"]["sample_rate"], 96000) << r.output;
}

}  // namespace
}  // namespace calvex
