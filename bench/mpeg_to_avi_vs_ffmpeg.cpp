// The MPEG file index and the MPEG to AVI conversion against the ffmpeg command line doing the
// same work, in CPU seconds:
//   - the index scan (every group of pictures of a system stream) against ffprobe counting the
//     file's video packets;
//   - a whole system stream into an AVI of uncompressed 24-bit pictures and 16-bit PCM, against
//     ffmpeg writing the same;
//   - a section of 30 frames at the end of the file, started from its index entry, against
//     ffmpeg seeking there (-ss before -i) and writing the same.
//
//   mpeg_to_avi_vs_ffmpeg [--size WxH] [--seconds S] [movie.mpg]
//
// Without a movie it makes one with ffmpeg (a moving test pattern at 25 frames per second,
// mpeg1video with two B pictures, 44.1 kHz mp2 sound, "-f mpeg").
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "core/conversion_context.h"
#include "video_decoder/gop_index.h"
#include "video_decoder/mpeg_scanner.h"
#include "video_decoder/mpeg_to_avi_driver.h"

namespace {

using calvex::bench::CpuSeconds;
using calvex::bench::Quote;
using calvex::bench::RunStatus;

template <typename F>
double OwnSeconds(F&& f) {
  const double before = CpuSeconds(RUSAGE_SELF);
  f();
  return CpuSeconds(RUSAGE_SELF) - before;
}

double PeerSeconds(const std::string& command) {
  const double before = CpuSeconds(RUSAGE_CHILDREN);
  if (RunStatus(command) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  return CpuSeconds(RUSAGE_CHILDREN) - before;
}

void Report(const char* what, double own, double peer) {
  std::printf("%-34s calvex %7.3f s   ffmpeg %7.3f s   ratio %.2f\n", what, own, peer,
              peer > 0 ? own / peer : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  int width = 352, height = 240, seconds = 30;
  std::string movie;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--size" && i + 1 < argc) {
      std::sscanf(argv[++i], "%dx%d", &width, &height);
    } else if (a == "--seconds" && i + 1 < argc) {
      seconds = std::atoi(argv[++i]);
    } else {
      movie = a;
    }
  }
  const auto dir =
      std::filesystem::temp_directory_path() / ("calvex-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  if (movie.empty()) {
    movie = (dir / "source.mpg").string();
    RunStatus("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=" + std::to_string(width) + "x" +
              std::to_string(height) + ":rate=25:duration=" + std::to_string(seconds) +
              " -f lavfi -i sine=r=44100:d=" + std::to_string(seconds) +
              " -c:v mpeg1video -b:v 1150k -g 12 -bf 2 -c:a mp2 -b:a 224k -ac 2 -f mpeg -y " +
              Quote(movie));
  }
  const std::string avi = (dir / "out.avi").string();
  calvex::StandaloneContext context;

  // The index.
  calvex::video_decoder::GopIndex index;
  const double scan = OwnSeconds([&] { calvex::video_decoder::ScanMpegFile(movie, index); });
  const double probe = PeerSeconds(
      "ffprobe -v error -select_streams v:0 -count_packets "
      "-show_entries stream=nb_read_packets -of csv=p=0 " +
      Quote(movie) + " > /dev/null");
  const int frames = index.frameCount();
  std::printf("%s: %d frames, %d groups\n", movie.c_str(), frames, index.UsedCount());
  Report("index scan / packet count", scan, probe);
  std::int32_t estimate = 0;
  const double estimating =
      OwnSeconds([&] { estimate = calvex::video_decoder::EstimateMpegFrameCount(movie); });
  std::printf("%-34s calvex %7.3f s   (estimate %d of %d frames)\n", "frame-count estimate",
              estimating, estimate, frames);

  // The whole file.
  calvex::MpegToAviJob job;
  job.source = movie;
  job.destination = avi;
  calvex::Status status = 0;
  const double own =
      OwnSeconds([&] { status = calvex::video_decoder::ConvertMpegToAvi(job, context.get()); });
  if (status != 0) std::fprintf(stderr, "conversion failed: %u\n", status);
  const double peer = PeerSeconds("ffmpeg -nostdin -v error -y -i " + Quote(movie) +
                                  " -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le " + Quote(avi));
  Report("whole file to AVI", own, peer);

  // A section at the end, from its index entry.
  const int first = frames - 30, last = frames - 1;
  calvex::ConversionSettings settings;
  settings.sectionFirst = first;
  settings.sectionLast = last;
  settings.sectionSeek = index[index.EntryFor(first)];
  job.firstFrame = first;
  job.lastFrame = last;
  job.settings = &settings;
  const double ownSection =
      OwnSeconds([&] { status = calvex::video_decoder::ConvertMpegToAvi(job, context.get()); });
  if (status != 0) std::fprintf(stderr, "section failed: %u\n", status);
  char start[32];
  std::snprintf(start, sizeof start, "%.4f", first / 25.0);
  const double peerSection =
      PeerSeconds("ffmpeg -nostdin -v fatal -y -ss " + std::string(start) + " -i " + Quote(movie) +
                  " -frames:v 30 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le " + Quote(avi));
  Report("last 30 frames to AVI", ownSection, peerSection);

  std::filesystem::remove_all(dir);
  return 0;
}
