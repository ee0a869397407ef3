// Codes the same movie with our MPEG-1 video encoder and with ffmpeg's mpeg1video encoder
// (-b:v <same bit rate> -g 12 -bf 2, same thread count) and prints the frames per second of
// both, their ratio, the PSNR of each output against the source and the bit rate of each.
//
//   video_encoder_vs_ffmpeg [--threads N] [--size WxH] [--seconds S] [--rate BITS] [movie.avi]
//
// Without a movie it generates one (a moving test pattern with noise, 30 frames per second, MJPEG,
// no sound). Two comparisons:
//  - encoders: both start from the same decoded frames (raw BGR in memory for ours, the same raw
//    file for ffmpeg), so the figures compare the encoders, not the AVI decoding;
//  - conversions: `calvex convert --threads N` against `ffmpeg -threads N -i movie.avi ...`, from
//    the AVI to the MPEG file (the movie must be 30 frames per second without sound).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "raw_picture_source.h"
#include "video_encoder/video_encoder.h"

namespace {

using calvex::bench::CpuSeconds;
using calvex::bench::DecodeToYuv;
using calvex::bench::Quote;
using calvex::bench::Run;
using calvex::bench::Seconds;

// Average PSNR ("average:" of ffmpeg's psnr filter) of an MPEG file against the raw source, from
// the stream's pictures decoded once each (see DecodeToYuv).
std::string Psnr(const std::string& mpeg, const std::string& raw, int w, int h) {
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  const std::string decoded = mpeg + ".yuv";
  DecodeToYuv(mpeg, decoded);
  const std::string out =
      Run("ffmpeg -nostdin -hide_banner -f rawvideo -pix_fmt yuv420p -s " + size + " -r 30 -i " +
          Quote(decoded) + " -f rawvideo -pix_fmt bgr24 -s " + size + " -r 30 -i " + Quote(raw) +
          " -lavfi '[0:v]format=yuv420p[a];[1:v]format=yuv420p[b];[a][b]psnr' -f null -");
  std::filesystem::remove(decoded);
  const auto at = out.find("average:");
  if (at == std::string::npos) return "?";
  return out.substr(at + 8, out.find(' ', at) - at - 8);
}

}  // namespace

int main(int argc, char** argv) {
  int threads = 2, width = 352, height = 240, seconds = 10;
  std::uint32_t bitRate = 134 * 8192;  // 150 KB/s less 128 kbit/s of audio
  std::string movie;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--threads" && i + 1 < argc)
      threads = std::atoi(argv[++i]);
    else if (a == "--size" && i + 1 < argc)
      std::sscanf(argv[++i], "%dx%d", &width, &height);
    else if (a == "--seconds" && i + 1 < argc)
      seconds = std::atoi(argv[++i]);
    else if (a == "--rate" && i + 1 < argc)
      bitRate = static_cast<std::uint32_t>(std::atol(argv[++i]));
    else
      movie = a;
  }
  const auto dir =
      std::filesystem::temp_directory_path() / ("calvex-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (movie.empty()) {
    movie = (dir / "source.avi").string();
    Run("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=" + size + ":rate=30:duration=" +
        std::to_string(seconds) + ",noise=alls=10:allf=t -c:v mjpeg -q:v 2 -y " + Quote(movie));
  }
  const std::string raw = (dir / "source.bgr").string();
  int rc = 0;
  Run("ffmpeg -nostdin -v error -i " + Quote(movie) + " -s " + size +
          " -f rawvideo -pix_fmt bgr24 -y " + Quote(raw),
      &rc);
  std::ifstream in(raw, std::ios::binary);
  const std::vector<std::uint8_t> frames{std::istreambuf_iterator<char>(in), {}};
  const int count =
      static_cast<int>(frames.size() / (static_cast<std::size_t>(width) * height * 3));
  if (rc != 0 || count == 0) {
    std::fprintf(stderr, "cannot decode %s\n", movie.c_str());
    return 1;
  }

  // Ours.
  calvex::video::VideoEncoderParams p;
  p.width = width;
  p.height = height;
  p.pictureRateCode = 5;
  p.rateNum = 30;
  p.rateDen = 1;
  p.milliFps = 30000;
  p.bitRate = bitRate;
  p.pictureCount = count;
  p.threads = threads;
  calvex::bench::RawPictureSource source(width, height, frames);
  calvex::video::EncoderEvents events;
  const std::string ours = (dir / "calvex.m1v").string();
  const double cpu0 = CpuSeconds(RUSAGE_SELF);
  auto t0 = std::chrono::steady_clock::now();
  const calvex::Status st = calvex::video::EncodeVideoFile(p, source, events, ours, nullptr);
  const double oursSeconds = Seconds(t0);
  const double oursCpu = CpuSeconds(RUSAGE_SELF) - cpu0;
  if (st != 0) {
    std::fprintf(stderr, "encoder failed with %u\n", st);
    return 1;
  }

  // ffmpeg, from the same raw frames.
  const std::string theirs = (dir / "ffmpeg.m1v").string();
  const double childCpu0 = CpuSeconds(RUSAGE_CHILDREN);
  t0 = std::chrono::steady_clock::now();
  Run("ffmpeg -nostdin -v error -f rawvideo -pix_fmt bgr24 -s " + size + " -r 30 -i " + Quote(raw) +
          " -threads " + std::to_string(threads) + " -c:v mpeg1video -b:v " +
          std::to_string(bitRate) + " -g 12 -bf 2 -f mpeg1video -y " + Quote(theirs),
      &rc);
  const double theirSeconds = Seconds(t0);
  const double theirCpu = CpuSeconds(RUSAGE_CHILDREN) - childCpu0;
  if (rc != 0) {
    std::fprintf(stderr, "ffmpeg failed\n");
    return 1;
  }

  const double duration = count / 30.0;
  const double oursRate = std::filesystem::file_size(ours) * 8.0 / duration;
  const double theirRate = std::filesystem::file_size(theirs) * 8.0 / duration;
  std::printf("%d frames %s, %u bit/s requested, %d thread(s)\n", count, size.c_str(), bitRate,
              threads);
  std::printf("calvex: %7.1f fps (%6.1f per CPU second)  PSNR %s dB  %9.0f bit/s\n",
              count / oursSeconds, count / oursCpu, Psnr(ours, raw, width, height).c_str(),
              oursRate);
  std::printf("ffmpeg: %7.1f fps (%6.1f per CPU second)  PSNR %s dB  %9.0f bit/s\n",
              count / theirSeconds, count / theirCpu, Psnr(theirs, raw, width, height).c_str(),
              theirRate);
  std::printf("encoder speed ratio calvex/ffmpeg: %.2f (CPU time: %.2f)\n",
              theirSeconds / oursSeconds, theirCpu / oursCpu);

#ifdef CALVEX_CLI
  // Whole conversions from the AVI.
  const auto outDir = dir / "out";
  std::filesystem::create_directories(outDir);
  const std::string dataRate =
      std::to_string(bitRate / 8192 + 16);  // the CLI subtracts 16 KB/s of audio
  double cpu = CpuSeconds(RUSAGE_CHILDREN);
  t0 = std::chrono::steady_clock::now();
  const std::string cli =
      Run(std::string(Quote(CALVEX_CLI)) + " convert -y -q --threads " + std::to_string(threads) +
              " --data-rate " + dataRate + " --size " + std::to_string(width) + "x" +
              std::to_string(height) + " --frame-rate 30 -d " + Quote(outDir.string()) + " " +
              Quote(movie),
          &rc);
  const double cliSeconds = Seconds(t0), cliCpu = CpuSeconds(RUSAGE_CHILDREN) - cpu;
  cpu = CpuSeconds(RUSAGE_CHILDREN);
  t0 = std::chrono::steady_clock::now();
  Run("ffmpeg -nostdin -v error -threads " + std::to_string(threads) + " -i " + Quote(movie) +
      " -threads " + std::to_string(threads) + " -s " + size + " -an -c:v mpeg1video -b:v " +
      std::to_string(bitRate) + " -g 12 -bf 2 -f mpeg1video -y " +
      Quote((dir / "ffmpeg2.mpg").string()));
  const double ffSeconds = Seconds(t0), ffCpu = CpuSeconds(RUSAGE_CHILDREN) - cpu;
  const auto stem = std::filesystem::path(movie).stem().string();
  if (rc == 0 && std::filesystem::exists(outDir / (stem + ".mpg"))) {
    std::printf(
        "conversion AVI to MPEG: calvex %.1f fps (%.1f per CPU second), ffmpeg %.1f fps "
        "(%.1f per CPU second), ratio %.2f (CPU time: %.2f)\n",
        count / cliSeconds, count / cliCpu, count / ffSeconds, count / ffCpu,
        ffSeconds / cliSeconds, ffCpu / cliCpu);
  } else {
    std::printf("conversion AVI to MPEG: calvex convert failed: %s\n", cli.c_str());
  }
#endif
  std::filesystem::remove_all(dir);
  return 0;
}
