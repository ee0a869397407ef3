// The media layer's AVI reading against the ffmpeg command line doing the same work, in CPU
// seconds: every frame decoded and scaled to a 24-bit bitmap, and the sound decoded to PCM.
//
//   media_library_vs_ffmpeg [--size WxH] [--out WxH] [--seconds S] [--codec NAME] [movie.avi]
//
// Without a movie it makes one with ffmpeg (a moving test pattern, 30 frames per second, MP3
// sound). Also reports what a random frame costs (a seek to the key frame before it and decoding
// forward) against a frame read in order.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "media_library/media_library.h"

namespace {

using calvex::bench::CpuSeconds;
using calvex::bench::Quote;
using calvex::bench::RunStatus;

}  // namespace

int main(int argc, char** argv) {
  int width = 640, height = 480, outWidth = 352, outHeight = 240, seconds = 10;
  std::string codec = "mpeg4 -q:v 3 -g 12 -bf 2";
  std::string movie;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--size" && i + 1 < argc)
      std::sscanf(argv[++i], "%dx%d", &width, &height);
    else if (a == "--out" && i + 1 < argc)
      std::sscanf(argv[++i], "%dx%d", &outWidth, &outHeight);
    else if (a == "--seconds" && i + 1 < argc)
      seconds = std::atoi(argv[++i]);
    else if (a == "--codec" && i + 1 < argc)
      codec = argv[++i];
    else
      movie = a;
  }
  const auto dir =
      std::filesystem::temp_directory_path() / ("calvex-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  if (movie.empty()) {
    movie = (dir / "source.avi").string();
    RunStatus("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=" + std::to_string(width) + "x" +
              std::to_string(height) + ":rate=30:duration=" + std::to_string(seconds) +
              " -f lavfi -i sine=r=44100:d=" + std::to_string(seconds) + " -c:v " + codec +
              " -c:a libmp3lame -ac 2 -y " + Quote(movie));
  }

  // Frames through the layer.
  calvex::media::AviReader reader;
  calvex::BitmapInfoHeader request;
  request.width = outWidth;
  request.height = outHeight;
  calvex::media::AviOpenInfo info;
  if (reader.RAVIOpen(movie, request, info) != 0) {
    std::fprintf(stderr, "cannot open %s\n", movie.c_str());
    return 1;
  }
  std::vector<std::uint8_t> frame(request.sizeImage);
  double start = CpuSeconds(RUSAGE_SELF);
  for (int n = 0; n < info.frameCount; ++n) reader.RAVIGetFrame(n, frame.data());
  const double ours = CpuSeconds(RUSAGE_SELF) - start;

  // The same through ffmpeg.
  start = CpuSeconds(RUSAGE_CHILDREN);
  RunStatus("ffmpeg -nostdin -v error -threads 1 -i " + Quote(movie) +
            " -map 0:v -vf scale=" + std::to_string(outWidth) + ":" + std::to_string(outHeight) +
            ":flags=bicubic+accurate_rnd+bitexact+full_chroma_int+full_chroma_inp -pix_fmt bgr24 "
            "-f rawvideo -y /dev/null");
  const double theirs = CpuSeconds(RUSAGE_CHILDREN) - start;

  // Random frames.
  std::mt19937 random(1);
  const int picks = 50;
  start = CpuSeconds(RUSAGE_SELF);
  for (int i = 0; i < picks; ++i)
    reader.RAVIGetFrame(static_cast<int>(random() % static_cast<unsigned>(info.frameCount)),
                        frame.data());
  const double randomCost = (CpuSeconds(RUSAGE_SELF) - start) / picks;
  reader.RAVIClose();

  // Sound.
  calvex::StandaloneContext context;
  calvex::WaveFormat format;
  start = CpuSeconds(RUSAGE_SELF);
  const calvex::Status pcm =
      calvex::media::ConvertToPCM(movie, (dir / "audio.pcm").string(), format, context.get());
  const double ourAudio = CpuSeconds(RUSAGE_SELF) - start;
  start = CpuSeconds(RUSAGE_CHILDREN);
  RunStatus("ffmpeg -nostdin -v error -threads 1 -i " + Quote(movie) +
            " -map 0:a -f s16le -y /dev/null");
  const double theirAudio = CpuSeconds(RUSAGE_CHILDREN) - start;

  std::printf("frames: %d of %dx%d to %dx%d\n", info.frameCount, info.width, info.height, outWidth,
              outHeight);
  std::printf("video  ours %.3f s  ffmpeg %.3f s  ratio ours/ffmpeg %.2f\n", ours, theirs,
              ours / theirs);
  std::printf("random frame %.2f ms, in order %.2f ms\n", randomCost * 1000,
              ours / info.frameCount * 1000);
  if (pcm == 0)
    std::printf("audio  ours %.3f s  ffmpeg %.3f s  ratio ours/ffmpeg %.2f\n", ourAudio, theirAudio,
                ourAudio / theirAudio);
  std::filesystem::remove_all(dir);
  return 0;
}
