// Converts one AVI movie with sound into an MPEG-1 system stream with the whole engine (the AVI to
// MPEG driver: video encoder, audio encoder, multiplexer) and with ffmpeg (-c:v mpeg1video -g 12
// -bf 2 -c:a mp2 -f mpeg at the same video and audio bit rates, picture size, frame rate and
// thread count), and prints the time of each, their ratio, and the PSNR of each output's pictures
// against the source's.
//
//   avi_with_sound_vs_ffmpeg [--threads N] [--size WxH] [--seconds S] [movie.avi]
//
// Without a movie it generates one: a moving test pattern with noise at 30 frames per second and
// 44.1 kHz stereo sound (tones and noise), as Motion JPEG and 16-bit PCM. Both sides decode the
// AVI themselves, so the times compare whole conversions.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "engine/default_drivers.h"
#include "engine/dispatcher.h"
#include "engine/source_files.h"

namespace {

using calvex::bench::CpuSeconds;
using calvex::bench::Quote;
using calvex::bench::Run;
using calvex::bench::Seconds;

// Average PSNR of the pictures of a system stream against the source movie's, both scaled to
// the output size and counted from their first picture.
std::string Psnr(const std::string& mpeg, const std::string& movie, const std::string& size) {
  const std::string out = Run(
      "ffmpeg -nostdin -hide_banner -i " + Quote(mpeg) + " -i " + Quote(movie) +
      " -lavfi '[0:v]setpts=PTS-STARTPTS,format=yuv420p[a];[1:v]setpts=PTS-STARTPTS,scale=" + size +
      ",format=yuv420p[b];[a][b]psnr' -f null -");
  const auto at = out.find("average:");
  if (at == std::string::npos) return "?";
  return out.substr(at + 8, out.find(' ', at) - at - 8);
}

// Notes when each stage reports first, for the split of our time.
class StageClock : public calvex::NullHost {
 public:
  bool ConversionProgress(const calvex::ProgressRecord&, calvex::ProgressKind kind, int) override {
    const auto k = static_cast<std::size_t>(kind);
    if (!seen[k]) {
      seen[k] = true;
      first[k] = std::chrono::steady_clock::now();
    }
    return false;
  }
  bool seen[3] = {false, false, false};
  std::chrono::steady_clock::time_point first[3];
};

}  // namespace

int main(int argc, char** argv) {
  int threads = 2, width = 352, height = 240, seconds = 10;
  std::string movie;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--threads" && i + 1 < argc)
      threads = std::atoi(argv[++i]);
    else if (a == "--size" && i + 1 < argc)
      std::sscanf(argv[++i], "%dx%d", &width, &height);
    else if (a == "--seconds" && i + 1 < argc)
      seconds = std::atoi(argv[++i]);
    else
      movie = a;
  }
  const auto dir =
      std::filesystem::temp_directory_path() / ("calvex-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  int rc = 0;
  if (movie.empty()) {
    movie = (dir / "source.avi").string();
    const std::string d = std::to_string(seconds);
    Run("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=" + size + ":rate=30:duration=" + d +
            ",noise=alls=10:allf=t -f lavfi -i " +
            Quote("aevalsrc=exprs='0.3*sin(2*PI*440*t)+0.2*sin(2*PI*1320*t)*sin(2*PI*0.5*t)+0.05*"
                  "(random(0)-0.5)|0.3*sin(2*PI*660*t)+0.05*(random(1)-0.5)':s=44100:d=" +
                  d) +
            " -c:v mjpeg -q:v 2 -c:a pcm_s16le -y " + Quote(movie),
        &rc);
    if (rc != 0) {
      std::fprintf(stderr, "cannot make the movie\n");
      return 1;
    }
  }

  // Ours: the list entry with its default parameters at the chosen size, through the dispatcher.
  calvex::SourceEntry entry;
  if (calvex::MakeSourceEntry(movie, calvex::DefaultInfoReaders(), entry) != 0) {
    std::fprintf(stderr, "cannot read %s\n", movie.c_str());
    return 1;
  }
  entry.aviToMpeg.width = width;
  entry.aviToMpeg.height = height;
  const std::uint32_t videoBitRate = calvex::VideoBitRateFor(entry.aviToMpeg);
  const int audioKbps = entry.aviToMpeg.audioBitrateKbps;
  const std::string oursDir = (dir / "calvex").string();
  std::filesystem::create_directories(oursDir);
  StageClock host;
  calvex::RunFlags flags;
  calvex::ConversionContext context(host, flags, threads);
  const double cpu0 = CpuSeconds(RUSAGE_SELF);
  const auto oursStart = std::chrono::steady_clock::now();
  const calvex::Status st = calvex::ConvertEntry(entry, oursDir, calvex::DefaultDrivers(), context);
  const auto oursEnd = std::chrono::steady_clock::now();
  const double oursSeconds = Seconds(oursStart);
  const double oursCpu = CpuSeconds(RUSAGE_SELF) - cpu0;
  const std::string ours =
      (std::filesystem::path(oursDir) / std::filesystem::path(movie).stem()).string() + ".mpg";
  if (st != calvex::kEntryConverted || !std::filesystem::exists(ours)) {
    std::fprintf(stderr, "conversion failed with %u\n", st);
    return 1;
  }

  // ffmpeg from the same AVI at the same rates.
  const std::string theirs = (dir / "ffmpeg.mpg").string();
  const double childCpu0 = CpuSeconds(RUSAGE_CHILDREN);
  const auto t0 = std::chrono::steady_clock::now();
  Run("ffmpeg -nostdin -v error -i " + Quote(movie) + " -threads " + std::to_string(threads) +
          " -s " + size + " -c:v mpeg1video -b:v " + std::to_string(videoBitRate) +
          " -g 12 -bf 2 -c:a mp2 -b:a " + std::to_string(audioKbps) + "k -f mpeg -y " +
          Quote(theirs),
      &rc);
  const double theirSeconds = Seconds(t0);
  const double theirCpu = CpuSeconds(RUSAGE_CHILDREN) - childCpu0;
  if (rc != 0) {
    std::fprintf(stderr, "ffmpeg failed\n");
    return 1;
  }

  std::printf("%s, %s, %u bit/s video + %d kbit/s Layer II audio, %d thread(s)\n",
              std::filesystem::path(movie).filename().c_str(), size.c_str(), videoBitRate,
              audioKbps, threads);
  std::printf("calvex: %6.2f s (%6.2f CPU s)  PSNR %s dB  %8ju bytes\n", oursSeconds, oursCpu,
              Psnr(ours, movie, size).c_str(), std::filesystem::file_size(ours));
  std::printf("ffmpeg: %6.2f s (%6.2f CPU s)  PSNR %s dB  %8ju bytes\n", theirSeconds, theirCpu,
              Psnr(theirs, movie, size).c_str(), std::filesystem::file_size(theirs));
  std::printf("speed ratio calvex/ffmpeg: %.2f (CPU time: %.2f)\n", theirSeconds / oursSeconds,
              theirCpu / oursCpu);
  if (host.seen[0] && host.seen[1] && host.seen[2]) {
    const auto span = [](auto a, auto b) { return std::chrono::duration<double>(b - a).count(); };
    std::printf("calvex stages: video %.2f s, audio %.2f s, interleaving %.2f s\n",
                span(oursStart, host.first[1]), span(host.first[1], host.first[2]),
                span(host.first[2], oursEnd));
  }
  std::filesystem::remove_all(dir);
  return 0;
}
