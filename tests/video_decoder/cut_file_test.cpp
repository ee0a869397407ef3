// MPEG files cut short (a download or a copy that stopped): the conversion gives every picture that
// came whole before the cut, and the one the cut ran through, as ffmpeg decodes them from the
// same cut file, with the sound the file still holds. Only a file cut before its first whole
// picture is refused (126), and then nothing is written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>

#include "core/host.h"
#include "media_library/media_library.h"
#include "support/media_tools.h"
#include "support/test_support.h"
#include "video_decoder/mpeg_test_media.h"
#include "video_decoder/mpeg_to_avi_driver.h"

namespace calvex::video_decoder {
namespace {

namespace fs = std::filesystem;
using calvex::testing::Psnr;
using calvex::testing::ReadFileBytes;
using calvex::testing::RunCommand;
using calvex::testing::ShellQuote;
using calvex::testing::TempDir;
using calvex::testing::WriteFileBytes;
using namespace calvex::video_decoder::testing;

constexpr int kWidth = 96, kHeight = 64;
using Bytes = std::vector<std::uint8_t>;

// Where to cut: lengths spread over the file, and 6, 40 and 2 bytes into a share of its start
// codes in turn (inside a sequence, picture, slice or packet header, inside slice or packet data,
// inside a start code).
std::vector<std::size_t> CutLengths(const Bytes& file) {
  std::set<std::size_t> lengths{file.size() - 1};
  for (std::size_t k = 1; k < 32; ++k) lengths.insert(file.size() * k / 32);
  std::vector<std::size_t> codes;
  for (std::size_t i = 0; i + 3 < file.size(); ++i)
    if (file[i] == 0 && file[i + 1] == 0 && file[i + 2] == 1) codes.push_back(i);
  static constexpr std::size_t kInto[] = {6, 40, 2};
  const std::size_t step = std::max<std::size_t>(codes.size() / 24, 1);
  for (std::size_t k = 0; k * step < codes.size(); ++k)
    lengths.insert(std::min(codes[k * step] + kInto[k % 3], file.size() - 1));
  return {lengths.begin(), lengths.end()};
}

// Collects the pictures a conversion writes (top-down, as ffmpeg's are turned into RGB).
class PictureHost : public NullHost {
 public:
  bool ConversionProgress(const ProgressRecord& record, ProgressKind kind, int) override {
    if (kind != ProgressKind::kVideo || record.bitmapBits == nullptr) return false;
    const std::size_t row = kWidth * 3;
    std::vector<std::uint8_t> picture;
    for (int r = kHeight - 1; r >= 0; --r) {
      const std::uint8_t* p = record.bitmapBits + static_cast<std::size_t>(r) * row;
      picture.insert(picture.end(), p, p + row);
    }
    pictures.push_back(std::move(picture));
    return false;
  }
  Frames pictures;
};

struct Conversion {
  Status status = kOk;
  Frames pictures;
  bool written = false;
  std::int64_t soundSamples = 0;  // of the AVI's sound (16-bit mono)
};

Conversion Convert(const std::string& source, const std::string& avi) {
  PictureHost host;
  RunFlags flags;
  ConversionContext context(host, flags);
  MpegToAviJob job;
  job.source = source;
  job.destination = avi;
  Conversion c;
  c.status = ConvertMpegToAvi(job, context);
  c.pictures = std::move(host.pictures);
  c.written = fs::exists(avi);
  AviInfo info;
  if (c.written && media::RAVIGetInfo(avi, info) == kOk) c.soundSamples = info.audioDataSize / 2;
  fs::remove(avi);
  return c;
}

// ffmpeg's decode of cut files, all in one run: the pictures in display order and, of the files
// that have it, the sound's samples.
struct Decoded {
  bool opened = false;  // false: ffmpeg failed on the file (`failure` says why)
  std::string failure;
  Frames pictures;
  std::int64_t soundSamples = 0;
};

struct CutFile {
  std::string path;
  bool sound = false;
};

std::vector<Decoded> FfmpegDecode(const std::vector<CutFile>& files) {
  std::string inputs, outputs;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string n = std::to_string(i), path = files[i].path;
    inputs += " -i " + ShellQuote(path);
    outputs += " -map " + n + ":v -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " +
               ShellQuote(path + ".yuv");
    if (files[i].sound) outputs += " -map " + n + ":a -f s16le -ac 1 " + ShellQuote(path + ".pcm");
  }
  std::vector<Decoded> decoded(files.size());
  if (files.empty()) return decoded;
  const auto run = RunCommand("ffmpeg -nostdin -v error -y" + inputs + outputs);
  if (run.exitCode != 0) {
    // A file ffmpeg cannot open fails the whole run: each on its own then.
    if (files.size() == 1) {
      decoded[0].failure = run.output;
      return decoded;
    }
    for (std::size_t i = 0; i < files.size(); ++i) decoded[i] = FfmpegDecode({files[i]})[0];
    return decoded;
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    decoded[i].opened = true;
    decoded[i].pictures = RgbFromYuv(ReadFileBytes(files[i].path + ".yuv"), kWidth, kHeight);
    if (files[i].sound)
      decoded[i].soundSamples =
          static_cast<std::int64_t>(fs::file_size(files[i].path + ".pcm") / 2);
  }
  return decoded;
}

// Our pictures are ffmpeg's, but for the one the cut ran through: either side may leave it out,
// and where both show it they may fill its missing part differently.
void ExpectSamePictures(const Frames& ours, const Frames& theirs) {
  constexpr double kSame = 50.0;
  int partial = 0;
  std::size_t i = 0, j = 0;
  while (i < ours.size() && j < theirs.size()) {
    if (Psnr(ours[i], theirs[j]) >= kSame) {
      ++i, ++j;
      continue;
    }
    ++partial;
    if (i + 1 < ours.size() && Psnr(ours[i + 1], theirs[j]) >= kSame) {
      ++i;
    } else if (j + 1 < theirs.size() && Psnr(ours[i], theirs[j + 1]) >= kSame) {
      ++j;
    } else {
      ++i, ++j;
    }
  }
  partial += static_cast<int>(ours.size() - i + theirs.size() - j);
  EXPECT_LE(partial, 1) << ours.size() << " pictures against ffmpeg's " << theirs.size();
}

TEST(CutFiles, ConvertWhatCameBeforeTheCut) {
  CALVEX_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  struct Stream {
    const char* name;
    bool sound;
    std::function<bool(const std::string&)> make;
  };
  const std::string where = dir.path().string();
  const Stream streams[] = {
      {"video stream", false,
       [](const std::string& p) { return MakeFfmpegStream(p, "mpeg1video", 30, false); }},
      {"system stream", true, [](const std::string& p) { return MakeFfmpegStream(p, "mpeg", 30); }},
      {"silent system stream", false,
       [](const std::string& p) { return MakeFfmpegStream(p, "mpeg", 30, false); }},
      {"our system stream", true,
       [&](const std::string& p) { return MakeOwnSystemStream(where, p, 30); }},
  };
  for (const Stream& stream : streams) {
    SCOPED_TRACE(stream.name);
    const std::string whole = dir.File("whole.mpg");
    ASSERT_TRUE(stream.make(whole));
    const Bytes bytes = ReadFileBytes(whole);
    const std::vector<std::size_t> lengths = CutLengths(bytes);
    ASSERT_GE(lengths.size(), 50u);

    std::vector<std::string> cuts;
    std::vector<Conversion> ours;
    for (std::size_t length : lengths) {
      cuts.push_back(dir.File("cut" + std::to_string(length) + ".mpg"));
      WriteFileBytes(cuts.back(), Bytes(bytes.begin(), bytes.begin() + static_cast<long>(length)));
      ours.push_back(Convert(cuts.back(), dir.File("cut.avi")));
    }
    // ffmpeg once for the files we converted, asking for the sound where ours found some; then
    // for the refused ones, each on its own (ffmpeg cannot open most of them).
    std::vector<CutFile> converted;
    for (std::size_t k = 0; k < cuts.size(); ++k)
      if (IsSuccess(ours[k].status)) converted.push_back({cuts[k], ours[k].soundSamples > 0});
    const auto theirsConverted = FfmpegDecode(converted);
    std::size_t nextConverted = 0, refusals = 0;
    for (std::size_t k = 0; k < cuts.size(); ++k) {
      SCOPED_TRACE("cut at " + std::to_string(lengths[k]) + " of " + std::to_string(bytes.size()));
      const Conversion& c = ours[k];
      if (!IsSuccess(c.status)) {
        ++refusals;
        const Decoded theirs = FfmpegDecode({{cuts[k], false}})[0];
        EXPECT_EQ(c.status, kVideoDataError);
        EXPECT_FALSE(c.written);
        EXPECT_LE(theirs.pictures.size(), 1u) << "refused, yet ffmpeg finds pictures";
        continue;
      }
      const Decoded& theirs = theirsConverted[nextConverted++];
      ASSERT_TRUE(theirs.opened) << theirs.failure;
      EXPECT_EQ(c.status, kOk);
      EXPECT_TRUE(c.written);
      EXPECT_NEAR(static_cast<double>(c.pictures.size()),
                  static_cast<double>(theirs.pictures.size()), 1.0);
      ExpectSamePictures(c.pictures, theirs.pictures);
      if (stream.sound) {
        EXPECT_NEAR(c.soundSamples, theirs.soundSamples, 1152);
        if (lengths[k] > bytes.size() / 2) {
          EXPECT_GT(c.soundSamples, 0);
        }
      }
    }
    std::printf("%s of %zu bytes: %zu cuts, %zu converted, %zu refused\n", stream.name,
                bytes.size(), cuts.size(), cuts.size() - refusals, refusals);
    for (const std::string& cut : cuts) {
      for (const char* extension : {"", ".yuv", ".pcm"}) fs::remove(cut + extension);
    }
  }
}

}  // namespace
}  // namespace calvex::video_decoder
