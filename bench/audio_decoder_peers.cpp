// Decoding speed of our MPEG audio decoder against mpg123 and ffmpeg on one 60 s stereo Layer II
// file (44.1 kHz, 192 kbit/s, made by twolame from a sweep with noise), as multiples of real
// time and as ratios. One run on one machine; each figure is the best of several.
//
//   audio_decoder_peers [runs]
//
// Peers run as programs: their time includes starting the process, which is measured on a
// 0.1 s file and also shown subtracted ("net").
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "audio_decoder/decode_mpeg_audio.h"
#include "audio_decoder/mp2_to_wav.h"
#include "audio_decoder/synthesis_filter.h"
#include "core/conversion_context.h"

namespace {

using calvex::Status;
using namespace calvex::audio_decoder;

constexpr double kSeconds = 60.0;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool Run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Best wall time of `runs` runs of a shell command.
double TimeCommand(const std::string& command, int runs) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    const double t0 = Now();
    if (!Run(command)) return -1;
    best = std::min(best, Now() - t0);
  }
  return best;
}

// A sink that only counts.
class CountingSink final : public PcmSink {
 public:
  Status Begin(const AudioDescription&, const calvex::WaveFormat&) override { return 0; }
  Status Write(const std::int16_t* s, std::int32_t n) override {
    samples += n;
    checksum += s[0];
    return 0;
  }
  Status End() override { return 0; }
  long long samples = 0;
  long long checksum = 0;
};

double TimeOurs(const std::string& path, int runs, long long& samples) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    AudioDecodeRequest request;
    request.source = path;
    CountingSink sink;
    calvex::StandaloneContext context;
    AudioDecodeResult result;
    const double t0 = Now();
    if (DecodeMpegAudioInto(request, &sink, context.get(), result) != 0) return -1;
    best = std::min(best, Now() - t0);
    samples = sink.samples;
  }
  return best;
}

double TimeOursToWav(const std::string& path, const std::string& wav, int runs) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    calvex::Mp2ToWavJob job;
    job.source = path;
    job.destination = wav;
    job.format = calvex::MakePcmFormat(2, 44100, 16);
    calvex::StandaloneContext context;
    const double t0 = Now();
    if (ConvertMp2ToWav(job, context.get()) != 0) return -1;
    best = std::min(best, Now() - t0);
  }
  return best;
}

void Row(const char* name, double seconds, double ours) {
  if (seconds <= 0) {
    std::printf("%-34s %9s\n", name, "n/a");
    return;
  }
  std::printf("%-34s %9.4f s %9.0f x real time   ours/peer speed %5.2f\n", name, seconds,
              kSeconds / seconds, seconds / ours);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const auto dir = std::filesystem::temp_directory_path() / "calvex-adec-bench";
  std::filesystem::create_directories(dir);
  const std::string wav = (dir / "in.wav").string(), mp2 = (dir / "in.mp2").string();
  const std::string shortWav = (dir / "short.wav").string(),
                    shortMp2 = (dir / "short.mp2").string();
  const std::string src =
      "aevalsrc=exprs=0.5*sin(2*PI*(100+150*t)*t)|0.3*sin(2*PI*440*t)+0.25*(random(0)-0.5):s=44100";
  if (!Run("ffmpeg -y -f lavfi -i '" + src + ":d=60' -c:a pcm_s16le " + wav) ||
      !Run("twolame --quiet -b 192 " + wav + " " + mp2) ||
      !Run("ffmpeg -y -f lavfi -i '" + src + ":d=0.1' -c:a pcm_s16le " + shortWav) ||
      !Run("twolame --quiet -b 192 " + shortWav + " " + shortMp2)) {
    std::fprintf(stderr, "needs ffmpeg and twolame\n");
    return 1;
  }

  long long samples = 0;
  const double ours = TimeOurs(mp2, runs, samples);
  const double oursWav = TimeOursToWav(mp2, (dir / "out.wav").string(), runs);
  const std::string mpg123 = "mpg123 -q -s ";
  const std::string ffmpeg = "ffmpeg -v error -i ";
  const double m = TimeCommand(mpg123 + mp2, runs), m0 = TimeCommand(mpg123 + shortMp2, runs);
  const double f = TimeCommand(ffmpeg + mp2 + " -f null -", runs),
               f0 = TimeCommand(ffmpeg + shortMp2 + " -f null -", runs);

  std::printf("60 s stereo Layer II, 44.1 kHz, 192 kbit/s; best of %d runs; %lld samples\n", runs,
              samples);
  std::printf("%-34s %9.4f s %9.0f x real time   (synthesis path %d)\n", "calvex (in process)",
              ours, kSeconds / ours, static_cast<int>(BestSynthesisPath()));
  if (oursWav > 0)
    std::printf("%-34s %9.4f s %9.0f x real time\n", "calvex MP2 to WAV (file to file)", oursWav,
                kSeconds / oursWav);
  Row("mpg123 -s (process)", m, ours);
  Row("mpg123 -s (net of start-up)", m - m0, ours);
  Row("ffmpeg -f null (process)", f, ours);
  Row("ffmpeg -f null (net of start-up)", f - f0, ours);
  std::filesystem::remove_all(dir);
  return 0;
}
