// Codes raw top-down bgr24 frames (as `ffmpeg -pix_fmt bgr24 -f rawvideo` writes them) with our
// MPEG-1 video encoder and nothing else, for profilers such as callgrind:
//
//   video_encoder_raw WIDTHxHEIGHT input.bgr output.m1v [--threads N] [--rate BITS]
//                     [--kernels reference|sse2|avx2]
//
// Prints the picture count and the CPU seconds spent coding.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "video_encoder/video_encoder.h"

namespace {

class RawSource : public calvex::video::PictureSource {
 public:
  RawSource(int w, int h, const std::vector<std::uint8_t>& raw) : w_(w), h_(h), raw_(raw) {}
  calvex::Status FetchPicture(int n, std::uint8_t* bitmap) override {
    const std::size_t frame = static_cast<std::size_t>(w_) * h_ * 3;
    if (static_cast<std::size_t>(n + 1) * frame > raw_.size()) return 1001;
    const int stride = calvex::BitmapStride(w_, 24);
    for (int y = 0; y < h_; ++y)
      std::memcpy(
          bitmap + static_cast<std::size_t>(h_ - 1 - y) * stride,
          raw_.data() + frame * static_cast<std::size_t>(n) + static_cast<std::size_t>(y) * w_ * 3,
          static_cast<std::size_t>(w_) * 3);
    return 0;
  }

 private:
  int w_, h_;
  const std::vector<std::uint8_t>& raw_;
};

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: %s WIDTHxHEIGHT input.bgr output.m1v [--threads N] [--rate BITS] "
                 "[--kernels reference|sse2|avx2]\n",
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
    }
  }
  const std::size_t frameSize = static_cast<std::size_t>(width) * height * 3;
  p.pictureCount = frameSize ? static_cast<int>(frames.size() / frameSize) : 0;
  RawSource source(width, height, frames);
  calvex::video::EncoderEvents events;
  const double cpu0 = CpuSeconds();
  const calvex::Status st = calvex::video::EncodeVideoFile(p, source, events, argv[3], nullptr);
  const double cpu = CpuSeconds() - cpu0;
  if (st != 0) {
    std::fprintf(stderr, "encoder failed with %u\n", st);
    return 1;
  }
  std::printf("%d pictures, %.2f CPU seconds, %.1f pictures per CPU second\n", p.pictureCount, cpu,
              p.pictureCount / cpu);
  return 0;
}
