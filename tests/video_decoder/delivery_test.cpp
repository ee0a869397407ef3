// Display order and delivery: the order pictures come out in, frame numbers, the range rules,
// halveFrames, and the play and seek states driven by the frame callback's results.
#include <gtest/gtest.h>

#include <map>

#include "video_decoder/decoder_test_util.h"

namespace calvex::video_decoder::testing {
namespace {

// Every callback of a run: frame number, picture type, shown or not.
struct Call {
  std::int32_t frameNumber, type, counter;
  bool shown;
};

struct Delivered {
  DecodeResult result;
  std::vector<Call> calls;
  std::vector<std::pair<std::int32_t, std::int32_t>> written;  // (output index, frame number)
};

Delivered RunSample(std::function<void(DecodeControl&)> setup,
                    std::function<int(const DecodedFrameInfo&, int call)> answer = {}) {
  Delivered run;
  DecodeOptions o;
  DecodeControl* control = nullptr;
  o.setup = [&](DecodeControl& c) {
    control = &c;
    c.frameWriter = [&](const BitmapInfoHeader&, const std::uint8_t* bits, std::int32_t index) {
      EXPECT_NE(bits, nullptr);
      run.written.emplace_back(index, control->info.frameNumber);
      return kOk;
    };
    if (setup) setup(c);
  };
  o.callback = [&](const DecodedFrameInfo& info) {
    run.calls.push_back(
        {info.frameNumber, info.pictureType, control->frameCounter, info.bitmapBits != nullptr});
    return answer ? answer(info, static_cast<int>(run.calls.size()) - 1) : kFrameGoOn;
  };
  run.result = DecodeStream(Sample().bytes, o);
  return run;
}

TEST(Delivery, DisplayOrderAndFrameNumbers) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const Delivered run = RunSample({});
  EXPECT_EQ(run.result.status, kFinishedWithNote);
  ASSERT_EQ(run.calls.size(), 25u);
  // Closed groups: I B B P in display order, decoded as I P B B, and a last P picture.
  for (int i = 0; i < 25; ++i) {
    EXPECT_EQ(run.calls[i].frameNumber, i);
    EXPECT_EQ(run.calls[i].counter, i);
    EXPECT_TRUE(run.calls[i].shown);
    const int inGroup = i % 4;
    EXPECT_EQ(run.calls[i].type, inGroup == 0 && i != 24 ? 1 : (inGroup == 3 || i == 24 ? 2 : 3))
        << i;
  }
  for (std::size_t i = 0; i < run.result.pictures.size(); ++i) {
    EXPECT_GE(PicturePsnr(run.result.pictures[i], Sample().reference[i]), 50);
  }
}

TEST(Delivery, IntraOnlyGroupsAreNumberedInOrder) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  calvex::testing::TempDir dir;
  const auto bytes = EncodeWithFfmpeg(
      dir.File("i.m1v"), "-f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 6", "-g 1 -qscale:v 4");
  std::vector<std::int32_t> numbers;
  DecodeOptions o;
  o.callback = [&](const DecodedFrameInfo& info) {
    numbers.push_back(info.frameNumber);
    return kFrameGoOn;
  };
  DecodeStream(bytes, o);
  EXPECT_EQ(numbers, (std::vector<std::int32_t>{0, 1, 2, 3, 4, 5}));
}

TEST(Delivery, RangeShowsOnlyItsFramesAndStopsAtItsEnd) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const Delivered run = RunSample([](DecodeControl& c) {
    c.rangeFirst = 5;
    c.rangeLast = 9;
    c.aviOutput = true;
  });
  EXPECT_EQ(run.result.status, kOk);
  std::vector<std::int32_t> shown;
  for (const Call& call : run.calls) {
    if (call.shown) shown.push_back(call.frameNumber);
    EXPECT_LE(call.frameNumber, 9);
  }
  EXPECT_EQ(shown, (std::vector<std::int32_t>{5, 6, 7, 8, 9}));
  ASSERT_EQ(run.written.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(run.written[i], std::make_pair(i, 5 + i));
  for (int i = 0; i < 5; ++i)
    EXPECT_GE(PicturePsnr(run.result.pictures[i], Sample().reference[5 + i]), 50);
}

// The driver starts a range that lies ahead with seekMode 3: only reference pictures are decoded
// until the frame before the range, which may be a B picture.
TEST(Delivery, SeekToABPictureInTheMiddleOfAGroup) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  for (int first : {8, 13, 15}) {
    const Delivered run = RunSample([first](DecodeControl& c) {
      c.rangeFirst = first;
      c.seekMode = 3;
      c.aviOutput = true;
    });
    EXPECT_TRUE(IsSuccess(run.result.status));
    ASSERT_FALSE(run.written.empty());
    EXPECT_EQ(run.written.front(), std::make_pair(0, first));
    ASSERT_EQ(run.result.pictures.size(), static_cast<std::size_t>(25 - first));
    for (std::size_t i = 0; i < run.result.pictures.size(); ++i) {
      EXPECT_GE(PicturePsnr(run.result.pictures[i], Sample().reference[first + i]), 50)
          << first << " " << i;
    }
  }
}

TEST(Delivery, HalveFramesWritesEverySecondShownPicture) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const Delivered run = RunSample([](DecodeControl& c) {
    c.aviOutput = true;
    c.halveFrames = 2;
  });
  ASSERT_EQ(run.written.size(), 13u);
  for (int i = 0; i < 13; ++i) EXPECT_EQ(run.written[i].second, 2 * i);
}

TEST(Delivery, StopInNormalPlayKeepsTheFrameCounter) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const Delivered run = RunSample(
      {}, [](const DecodedFrameInfo&, int call) { return call == 4 ? kFrameStop : kFrameGoOn; });
  EXPECT_EQ(run.result.status, kCancelled);
  ASSERT_GE(run.calls.size(), 5u);
  EXPECT_EQ(run.calls[4].frameNumber, 4);
  // The stop came at the end of a picture: the held reference (frame 7) is still delivered with
  // the counter the stopped picture did not advance.
  ASSERT_EQ(run.calls.size(), 6u);
  EXPECT_EQ(run.calls[5].frameNumber, 7);
  EXPECT_EQ(run.calls[5].counter, 4);
}

// Fast play: 2 shows I pictures only, 3 decodes nothing; 0 returns to normal play through an I
// picture and the following P picture.
TEST(Delivery, FastPlayAndReturnToNormal) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  for (int mode : {kFrameIntraOnly, kFrameSkip}) {
    std::vector<int> answers;
    const Delivered run = RunSample({}, [&](const DecodedFrameInfo& info, int call) {
      const int answer = call >= 1 && info.frameNumber < 10 ? mode : kFrameGoOn;
      answers.push_back(answer);
      return answer;
    });
    EXPECT_EQ(run.result.status, kFinishedWithNote);
    std::vector<std::int32_t> shownAfter;
    for (std::size_t i = 2; i < run.calls.size(); ++i) {
      const Call& c = run.calls[i];
      if (answers[i - 1] == mode) {
        // Fast play: I pictures only, or nothing at all.
        EXPECT_EQ(c.shown, mode == kFrameIntraOnly && c.type == 1) << i;
      } else if (c.shown) {
        shownAfter.push_back(c.frameNumber);
      }
    }
    // Back in display order to the end.
    ASSERT_GE(shownAfter.size(), 8u) << mode;
    for (std::size_t i = shownAfter.size() - 8; i < shownAfter.size(); ++i) {
      EXPECT_EQ(shownAfter[i], static_cast<std::int32_t>(17 + i - (shownAfter.size() - 8))) << mode;
    }
  }
}

// A stop during fast play ends the run at once (status 1); the held reference picture is then
// handed over without being shown, since fast play shows nothing.
TEST(Delivery, StopDuringFastPlay) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const Delivered run = RunSample({}, [](const DecodedFrameInfo&, int call) {
    if (call == 1) return kFrameSkip;
    if (call == 3) return kFrameStop;
    return kFrameGoOn;
  });
  EXPECT_EQ(run.result.status, kCancelled);
  ASSERT_EQ(run.calls.size(), 5u);
  EXPECT_FALSE(run.calls[2].shown);
  EXPECT_FALSE(run.calls[4].shown);
  EXPECT_EQ(run.calls[4].counter, run.calls[3].counter);
}

// seekMode 1 counts pictures without decoding until near the wanted frame, then 2 waits for an I
// picture and 3 decodes references only; delivery ends with the wanted frames shown.
TEST(Delivery, SeekFromFarAway) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  std::vector<int> modes;
  DecodeControl* seen = nullptr;
  const Delivered run = RunSample(
      [&](DecodeControl& c) {
        c.seekMode = 1;
        c.rangeFirst = 20;
        seen = &c;
      },
      [&](const DecodedFrameInfo&, int) {
        modes.push_back(seen->seekMode);
        return kFrameGoOn;
      });
  EXPECT_TRUE(IsSuccess(run.result.status));
  ASSERT_FALSE(modes.empty());
  EXPECT_EQ(modes.front(), 1);
  EXPECT_NE(std::find(modes.begin(), modes.end(), 2), modes.end());
  EXPECT_NE(std::find(modes.begin(), modes.end(), 3), modes.end());
  EXPECT_EQ(modes.back(), 0);
  EXPECT_FALSE(run.result.pictures.empty());
}

TEST(Delivery, DecodeOrderOutputDeliversAtOnce) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  const Delivered run = RunSample([](DecodeControl& c) { c.decodeOrderOutput = true; });
  ASSERT_EQ(run.calls.size(), 25u);
  EXPECT_EQ(run.calls[0].type, 1);
  EXPECT_EQ(run.calls[1].type, 2);  // the P picture, before the B pictures it closes
  EXPECT_EQ(run.calls[2].type, 3);
}

TEST(Delivery, TimeCodeAndProgress) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  DecodeControl c;
  SetTimeCodeBase(c, 25, 1);
  DecodedFrameInfo info;
  FillTimeCode(c, 24, info);  // the 25th picture
  EXPECT_EQ(info.seconds, 1);
  EXPECT_EQ(info.fraction, 0);
  FillTimeCode(c, 25 * 3661 + 2, info);
  EXPECT_EQ(info.hours, 1);
  EXPECT_EQ(info.minutes, 1);
  EXPECT_EQ(info.seconds, 1);
  EXPECT_EQ(info.fraction, 3);
  SetTimeCodeBase(c, 30000, 1001);
  EXPECT_EQ(c.fpsWhole, 30);

  std::vector<int> progress;
  DecodeOptions o;
  o.setup = [&](DecodeControl& control) {
    control.aviOutput = true;
    control.wantedFrameCount = 25;
    control.frameCallback = [&, previous = control.frameCallback](const DecodedFrameInfo& i, int k,
                                                                  int p) {
      progress.push_back(p);
      return previous(i, k, p);
    };
  };
  DecodeStream(Sample().bytes, o);
  ASSERT_EQ(progress.size(), 25u);
  EXPECT_EQ(progress.front(), 0);
  EXPECT_EQ(progress.back(), 1000);
  EXPECT_EQ(progress[12], 500);
}

}  // namespace
}  // namespace calvex::video_decoder::testing
