// Quality per bit on natural content: photographs panned and zoomed with ffmpeg's zoompan, coded
// by our encoder at its two presets and by ffmpeg's mpeg1video with its defaults and with its
// rate-distortion settings, all from the same 24-bit pictures at the same bit rate and group
// structure (-g 12 -bf 2), and each measured against the same 4:2:0 pictures (ffmpeg's
// conversion of the source, which its encoder codes as they are):
//
//   natural_content_vs_ffmpeg [--threads N] [--frames N] [--rates 1150000,1800000]
//
// The photographs come from Debian's mate-backgrounds package (apt-get install
// mate-backgrounds); the clips are made here, 352 x 288 at 25 pictures per second: "zoom"
// (dense grass, slow zoom with drift), "pan" (dune grass swept back and forth, about 9 pels per
// picture) and "cut" (a leaf's stripes zooming out, then a scene cut to a ladybird on a stem
// panning diagonally). For each clip and rate it prints the bits, Y-PSNR and SSIM (Y) of every
// coder and its CPU seconds, and at the end the averages and the speed ratios.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
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

constexpr int kWidth = 352, kHeight = 288;
const std::string kPhotos = "/usr/share/backgrounds/mate/nature/";

struct Clip {
  const char* name;
  std::string graph;  // filter graph from the photographs (inputs in order) to the pictures
  std::vector<std::string> photos;
};

std::vector<Clip> Clips(int frames) {
  const std::string n = std::to_string(frames), half = std::to_string(frames / 2);
  const std::string out = ":d=1:s=352x288:fps=25";
  return {
      {"zoom",
       "[0:v]scale=1760:-2,zoompan=z='1.0+0.004*on':x='iw/2-iw/zoom/2+on*1.5':y='ih/2-ih/"
       "zoom/2-on*0.7'" +
           out,
       {"GreenMeadow.jpg"}},
      {"pan",
       "[0:v]scale=3360:-2,zoompan=z='2.4':x='1960-abs(1960-mod(on*36,3920))':y='ih*0.35'" + out,
       {"Dune.jpg"}},
      {"cut",
       "[0:v]scale=1920:-2,zoompan=z='1.8-0.006*on':x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2'" + out +
           ",setsar=1,trim=end_frame=" + half +
           "[a];[1:v]scale=2560:-2,zoompan=z='2.0':x='300+on*6':y='200+on*3'" + out +
           ",setsar=1,trim=end_frame=" + half + ",setpts=PTS-STARTPTS[b];[a][b]concat=n=2:v=1",
       {"Blinds.jpg", "LadyBird.jpg"}},
  };
}

struct Measure {
  double bits = 0, psnr = 0, ssim = 0, cpu = 0;
};

// Y-PSNR and SSIM (Y) of a coded stream against the raw yuv420p source, picture by picture in
// display order (decoded to raw pictures first, see DecodeToYuv).
void Score(const std::string& coded, const std::string& yuv, Measure& m) {
  const std::string decoded = coded + ".yuv";
  DecodeToYuv(coded, decoded);
  const std::string raw = " -f rawvideo -pix_fmt yuv420p -s 352x288 -r 25 -i ";
  const std::string out =
      Run("ffmpeg -nostdin -hide_banner" + raw + Quote(decoded) + raw + Quote(yuv) +
          " -lavfi '[0:v]split[a0][a1];[1:v]split[b0][b1];[a0][b0]psnr;[a1][b1]ssim' -f null -");
  std::filesystem::remove(decoded);
  const auto y = out.find(" y:", out.find("PSNR"));
  const auto s = out.find(" Y:", out.find("SSIM"));
  m.psnr = y == std::string::npos ? 0 : std::atof(out.c_str() + y + 3);
  m.ssim = s == std::string::npos ? 0 : std::atof(out.c_str() + s + 3);
  m.bits = 8.0 * static_cast<double>(std::filesystem::file_size(coded));
}

}  // namespace

int main(int argc, char** argv) {
  int threads = 1, frames = 200;
  std::vector<std::uint32_t> rates = {1150000, 1800000};
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--threads") threads = std::atoi(argv[i + 1]);
    if (a == "--frames") frames = std::atoi(argv[i + 1]);
    if (a == "--rates") {
      rates.clear();
      std::stringstream list(argv[i + 1]);
      for (std::string r; std::getline(list, r, ',');) rates.push_back(std::stoul(r));
    }
  }
  if (!std::filesystem::exists(kPhotos + "Dune.jpg")) {
    std::fprintf(stderr, "needs the photographs of mate-backgrounds (apt-get install %s)\n",
                 "mate-backgrounds");
    return 2;
  }
  const auto dir =
      std::filesystem::temp_directory_path() / ("calvex-natural-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);

  const char* coders[] = {"standard", "high", "ffmpeg", "ffmpeg rd"};
  std::map<std::string, Measure> totals;
  std::printf("%d pictures 352x288 at 25/s, %d thread(s); bits, Y-PSNR dB, SSIM, CPU s\n", frames,
              threads);
  for (const Clip& clip : Clips(frames)) {
    const std::string yuv = (dir / (std::string(clip.name) + ".yuv")).string();
    const std::string bgr = (dir / (std::string(clip.name) + ".bgr")).string();
    std::string inputs;
    for (const std::string& photo : clip.photos)
      inputs += " -loop 1 -framerate 25 -i " + Quote(kPhotos + photo);
    int rc = 0;
    // The source pictures are 24-bit BGR, as both encoders take them (each converts them to
    // 4:2:0 its own way); the pictures scored against are ffmpeg's 4:2:0 of them.
    Run("ffmpeg -nostdin -v error -y" + inputs + " -filter_complex " +
            Quote(clip.graph + ",format=bgr24") + " -frames:v " + std::to_string(frames) +
            " -f rawvideo " + Quote(bgr),
        &rc);
    Run("ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgr24 -s 352x288 -i " + Quote(bgr) +
            " -f rawvideo -pix_fmt yuv420p " + Quote(yuv),
        &rc);
    std::ifstream in(bgr, std::ios::binary);
    const std::vector<std::uint8_t> pictures{std::istreambuf_iterator<char>(in), {}};
    if (rc != 0 || pictures.size() != static_cast<std::size_t>(frames) * kWidth * kHeight * 3) {
      std::fprintf(stderr, "cannot make clip %s\n", clip.name);
      return 1;
    }
    for (const std::uint32_t rate : rates) {
      std::map<std::string, Measure> m;
      for (const bool high : {false, true}) {
        calvex::video::VideoEncoderParams p;
        p.width = kWidth;
        p.height = kHeight;
        p.pictureRateCode = 3;
        p.rateNum = 25;
        p.rateDen = 1;
        p.milliFps = 25000;
        p.bitRate = rate;
        p.pictureCount = frames;
        p.threads = threads;
        p.preset =
            high ? calvex::video::EncoderPreset::kHigh : calvex::video::EncoderPreset::kStandard;
        calvex::bench::RawPictureSource source(kWidth, kHeight, pictures);
        calvex::video::EncoderEvents events;
        const std::string out = (dir / "ours.m1v").string();
        const double cpu0 = CpuSeconds(RUSAGE_SELF);
        if (calvex::video::EncodeVideoFile(p, source, events, out, nullptr) != 0) {
          std::fprintf(stderr, "our encoder failed\n");
          return 1;
        }
        Measure& r = m[high ? "high" : "standard"];
        r.cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
        Score(out, yuv, r);
      }
      for (const bool rd : {false, true}) {
        const std::string out = (dir / "ffmpeg.m1v").string();
        const double cpu0 = CpuSeconds(RUSAGE_CHILDREN);
        Run("ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgr24 -s 352x288 -r 25 -i " +
                Quote(bgr) + " -threads " + std::to_string(threads) + " -c:v mpeg1video -b:v " +
                std::to_string(rate) + " -g 12 -bf 2" +
                (rd ? " -mbd rd -trellis 2 -cmp 2 -subcmp 2" : "") + " -f mpeg1video " + Quote(out),
            &rc);
        Measure& r = m[rd ? "ffmpeg rd" : "ffmpeg"];
        r.cpu = CpuSeconds(RUSAGE_CHILDREN) - cpu0;
        if (rc != 0) {
          std::fprintf(stderr, "ffmpeg failed\n");
          return 1;
        }
        Score(out, yuv, r);
      }
      std::printf("%-4s %7u bit/s:", clip.name, rate);
      for (const char* c : coders) {
        const Measure& r = m[c];
        std::printf("  %s %.0f %.2f %.4f %.2f", c, r.bits, r.psnr, r.ssim, r.cpu);
        Measure& t = totals[c];
        t.bits += r.bits;
        t.psnr += r.psnr;
        t.ssim += r.ssim;
        t.cpu += r.cpu;
      }
      std::printf("\n");
    }
  }
  const double runs = static_cast<double>(rates.size()) * 3;
  std::printf("average:");
  for (const char* c : coders) {
    const Measure& t = totals[c];
    std::printf("  %s %.0f %.2f %.4f %.2f", c, t.bits / runs, t.psnr / runs, t.ssim / runs, t.cpu);
  }
  std::printf("\nspeed of high / ffmpeg defaults (CPU time): %.2f; standard / ffmpeg: %.2f\n",
              totals["ffmpeg"].cpu / totals["high"].cpu,
              totals["ffmpeg"].cpu / totals["standard"].cpu);
  std::filesystem::remove_all(dir);
  return 0;
}
