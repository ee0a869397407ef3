// The video decoder against ffmpeg's mpeg1video decoder and libmpeg2's mpeg2dec on the same
// streams: pictures per second of each (one thread) and our speed as a ratio of theirs.
//
//   video_decoder_vs_peers [seconds of video, default 10]
//
// Streams are made with ffmpeg (CIF at 1.5 Mbit/s with B pictures, CIF intra-only, and PAL SD at
// 5 Mbit/s). Our decoder runs from memory to 24-bit RGB bitmaps, as the MPEG to AVI conversion
// uses it; ffmpeg is timed decoding only and decoding to bgr24; mpeg2dec decoding only and to
// 32-bit RGB. Peer times are their own CPU time (ffmpeg -benchmark's utime, or the child's user
// plus system time), ours the CPU time of this thread; each the best of three runs.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "video_decoder/byte_source.h"
#include "video_decoder/video_decoder.h"

namespace {

using calvex::bench::Quote;
using calvex::video_decoder::DecodeControl;
using calvex::video_decoder::DecodedFrameInfo;
using calvex::video_decoder::DspLevel;
using calvex::video_decoder::MemoryByteSource;
using calvex::video_decoder::VideoDecoder;

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// CPU seconds (user + system) of the children that finished since the last call.
double ChildCpuSeconds() {
  static double last = 0;
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  const double now = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                     static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
  const double d = now - last;
  last = now;
  return d;
}

// Runs a peer three times and returns its best CPU time (start-up included).
double TimePeer(const std::string& command) {
  double best = 1e30;
  for (int i = 0; i < 3; ++i) {
    ChildCpuSeconds();
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return -1;
    best = std::min(best, ChildCpuSeconds());
  }
  return best;
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct OurRun {
  double seconds = 1e30;
  int pictures = 0;
};

OurRun TimeOurs(const std::vector<std::uint8_t>& stream, DspLevel level) {
  OurRun run;
  for (int i = 0; i < 3; ++i) {
    MemoryByteSource source(stream);
    DecodeControl control;
    control.playMode = calvex::video_decoder::kPlayNormal;
    control.decodeRunning = true;
    int pictures = 0;
    std::uint32_t sink = 0;
    control.frameCallback = [&](const DecodedFrameInfo& info, int, int) {
      ++pictures;
      if (info.bitmapBits != nullptr) sink += info.bitmapBits[pictures % 64];
      return 0;
    };
    const double start = ThreadCpuSeconds();
    auto decoder = VideoDecoder::Create(20000, source, control, level);
    while (control.decodeRunning) decoder->DecodeStep(0);
    const double s = ThreadCpuSeconds() - start;
    if (sink == 0xFFFFFFFF) std::printf(" ");
    run.seconds = std::min(run.seconds, s);
    run.pictures = pictures;
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const auto dir =
      std::filesystem::temp_directory_path() / ("calvex_vdec_bench_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  struct Case {
    const char* name;
    const char* input;
    const char* options;
  };
  const Case cases[] = {
      {"CIF 1.5 Mbit/s IBBP", "testsrc2=size=352x288:rate=25", "-g 12 -bf 2 -b:v 1500k"},
      {"CIF intra-only q4", "testsrc2=size=352x288:rate=25", "-g 1 -qscale:v 4"},
      {"SD 5 Mbit/s IBBP", "testsrc2=size=720x576:rate=25",
       "-g 15 -bf 2 -b:v 5000k -maxrate 5000k -bufsize 1835k"},
  };
  std::printf("%-22s %7s %10s %10s %10s %10s %10s %9s %9s\n", "stream", "pics", "ours/s",
              "ffmpeg/s", "ffm+rgb/s", "m2dec/s", "m2d+rgb/s", "vs ffm+rgb", "vs ffmpeg");
  for (const Case& c : cases) {
    const std::string path = (dir / "stream.m1v").string();
    const std::string make = "ffmpeg -nostdin -loglevel error -y -f lavfi -i " +
                             std::string(c.input) + " -t " + std::to_string(seconds) +
                             " -an -c:v mpeg1video " + c.options + " -f mpeg1video " + Quote(path);
    if (std::system(make.c_str()) != 0) {
      std::fprintf(stderr, "ffmpeg could not make the stream\n");
      return 1;
    }
    const auto stream = ReadAll(path);
    const OurRun ours = TimeOurs(stream, DspLevel::kBest);
    const std::string ff = "ffmpeg -nostdin -threads 1 -filter_threads 1 -i " + Quote(path);
    const double ffmpeg = TimePeer(ff + " -f null -");
    const double ffmpegRgb = TimePeer(ff + " -pix_fmt bgr24 -f null -");
    const double m2 = TimePeer("mpeg2dec -o null " + Quote(path));
    const double m2Rgb = TimePeer("mpeg2dec -o nullrgb32 " + Quote(path));
    const double n = ours.pictures;
    auto rate = [n](double s) { return s > 0 ? n / s : 0.0; };
    std::printf("%-22s %7d %10.0f %10.0f %10.0f %10.0f %10.0f %9.2fx %8.2fx\n", c.name,
                ours.pictures, rate(ours.seconds), rate(ffmpeg), rate(ffmpegRgb), rate(m2),
                rate(m2Rgb), ffmpegRgb > 0 ? ffmpegRgb / ours.seconds : 0,
                ffmpeg > 0 ? ffmpeg / ours.seconds : 0);
    // Our kernels at each level, for the record.
    for (DspLevel level : {DspLevel::kReference, DspLevel::kSse2}) {
      const OurRun r = TimeOurs(stream, level);
      std::printf("  %-20s %7d %10.0f\n",
                  level == DspLevel::kReference ? "ours, plain kernels" : "ours, SSE2 only",
                  r.pictures, rate(r.seconds));
    }
  }
  std::filesystem::remove_all(dir);
  return 0;
}
