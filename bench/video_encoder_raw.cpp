// Codes raw top-down bgr24 frames (as `ffmpeg -pix_fmt bgr24 -f rawvideo` writes them) with our
// MPEG-1 video encoder and nothing else, for profilers such as callgrind:
//
//   video_encoder_raw WIDTHxHEIGHT input.bgr output.m1v [--threads N] [--rate BITS]
//                     [--kernels reference|sse2|avx2|avx512]
//
// Prints the picture count and the CPU seconds spent coding.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "raw_picture_source.h"
#include "video_encoder/video_encoder.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: %s WIDTHxHEIGHT input.bgr output.m1v [--threads N] [--rate BITS] "
                 "[--kernels reference|sse2|avx2|avx512]\n",
                 argv[0]);
    return 2;
  }
  int width = 0, height = 0;
  std::sscanf(argv[1], "%dx%d", &width, &height);
  std::ifstream in(argv[2], std::ios::binary);
  const std::vector<std::uint8_t> frames{std::istreambuf_iterator<char>(in), {}};
  calvex::video::VideoEncoderParams p;
  p.width = width;
  p.height = height;
  p.bitRate = 134 * 8192;
  p.threads = 1;
  for (int i = 4; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--threads") p.threads = std::atoi(argv[i + 1]);
    if (a == "--rate") p.bitRate = static_cast<std::uint32_t>(std::atol(argv[i + 1]));
    if (a == "--kernels") {
      const std::string k = argv[i + 1];
      if (k == "reference") p.kernels = &calvex::video::ReferenceKernels();
      if (k == "sse2") p.kernels = &calvex::video::Sse2Kernels();
      if (k == "avx2") p.kernels = calvex::video::Avx2Kernels();
      if (k == "avx512") p.kernels = calvex::video::Avx512Kernels();
    }
  }
  const std::size_t frameSize = static_cast<std::size_t>(width) * height * 3;
  p.pictureCount = frameSize ? static_cast<int>(frames.size() / frameSize) : 0;
  calvex::bench::RawPictureSource source(width, height, frames);
  calvex::video::EncoderEvents events;
  const double cpu0 = calvex::bench::CpuSeconds(RUSAGE_SELF);
  const calvex::Status st = calvex::video::EncodeVideoFile(p, source, events, argv[3], nullptr);
  const double cpu = calvex::bench::CpuSeconds(RUSAGE_SELF) - cpu0;
  if (st != 0) {
    std::fprintf(stderr, "encoder failed with %u\n", st);
    return 1;
  }
  std::printf("%d pictures, %.3f CPU seconds, %.1f pictures per CPU second\n", p.pictureCount, cpu,
              p.pictureCount / cpu);
  return 0;
}
