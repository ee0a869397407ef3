// Encoding speed of our Layer II encoder against twolame (psychoacoustic model 2) and ffmpeg's
// mp2 encoder: the same generated 60 s stereo 44.1 kHz WAV at 192 kbit/s, best of three runs each,
// in CPU seconds (the machine may be shared) and wall seconds.
//
//   build/bench/audio_encoder_peers [seconds]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "audio_encoder/audio_encoder.h"

extern char** environ;

namespace {

using namespace calvex;
using namespace calvex::audio;

struct Timing {
  double cpu = 1e30;
  double wall = 1e30;
  bool ok = true;
};

// A mix with the character of music: a chord with vibrato, a bass line, drum-like noise bursts.
std::vector<std::int16_t> MakeMusic(int rate, int seconds) {
  std::vector<std::int16_t> out(static_cast<std::size_t>(rate) * seconds * 2);
  std::mt19937 rng(42);
  std::normal_distribution<double> noise(0, 1);
  const double notes[] = {261.63, 329.63, 392.0, 493.88};
  for (std::size_t i = 0; i < out.size() / 2; ++i) {
    const double t = static_cast<double>(i) / rate;
    double v = 0;
    for (int k = 0; k < 4; ++k)
      v += 0.08 * std::sin(2 * M_PI * notes[k] * (1 + 0.002 * std::sin(2 * M_PI * 5 * t)) * t);
    v += 0.15 * std::sin(2 * M_PI * (55 + 27.5 * std::floor(std::fmod(t, 4.0))) * t);
    const double beat = std::fmod(t, 0.5);
    v += 0.2 * std::exp(-beat * 30) * noise(rng);
    for (int c = 0; c < 2; ++c) {
      const double s = std::clamp(v * (c ? 0.9 : 1.0) + 0.01 * noise(rng), -1.0, 0.99997);
      out[2 * i + static_cast<std::size_t>(c)] = static_cast<std::int16_t>(std::lrint(s * 32767));
    }
  }
  return out;
}

void WriteWave(const std::string& path, const std::vector<std::int16_t>& pcm, int rate) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(pcm.size() * 2);
  auto u32 = [&](std::uint32_t v) { std::fwrite(&v, 4, 1, f); };
  auto u16 = [&](std::uint16_t v) { std::fwrite(&v, 2, 1, f); };
  std::fwrite("RIFF", 1, 4, f);
  u32(36 + dataBytes);
  std::fwrite("WAVEfmt ", 1, 8, f);
  u32(16);
  u16(1);
  u16(2);
  u32(static_cast<std::uint32_t>(rate));
  u32(static_cast<std::uint32_t>(rate * 4));
  u16(4);
  u16(16);
  std::fwrite("data", 1, 4, f);
  u32(dataBytes);
  std::fwrite(pcm.data(), 2, pcm.size(), f);
  std::fclose(f);
}

double CpuSeconds(const rusage& r) {
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

Timing RunPeer(std::vector<std::string> args) {
  Timing best;
  for (int run = 0; run < 3; ++run) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
      best.ok = false;
      return best;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) best.ok = false;
    best.cpu = std::min(best.cpu, CpuSeconds(usage));
    best.wall = std::min(best.wall, wall);
  }
  return best;
}

class FileSource final : public PcmSource {
 public:
  explicit FileSource(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {
    std::fseek(file_, 44, SEEK_SET);
  }
  ~FileSource() override { std::fclose(file_); }
  Status Read(std::uint8_t* buffer, std::size_t bytes, std::size_t& delivered) override {
    delivered = std::fread(buffer, 1, bytes, file_);
    return kOk;
  }

 private:
  std::FILE* file_;
};

class Quiet final : public EncodeObserver {
  bool Progress(const ProgressRecord&, int) override { return false; }
};

Timing RunOurs(const std::string& wav, const std::string& out, int rate, int seconds) {
  Timing best;
  for (int run = 0; run < 3; ++run) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    FileSource source(wav);
    EncodeSource src;
    src.pcm = &source;
    src.format = {2, rate, 16};
    src.sourceFrames = static_cast<std::uint32_t>(rate * seconds);
    src.totalValues = 2ull * rate * seconds;
    AudioEncodeParams params{2, 0, 192, 0};
    Quiet quiet;
    const EncodeResult r = EncodeAudioStream(src, params, out, quiet);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    getrusage(RUSAGE_SELF, &after);
    if (r.status != kOk) best.ok = false;
    best.cpu = std::min(best.cpu, CpuSeconds(after) - CpuSeconds(before));
    best.wall = std::min(best.wall, wall);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const int rate = 44100;
  const auto dir =
      std::filesystem::temp_directory_path() / ("calvex-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string wav = (dir / "music.wav").string();
  WriteWave(wav, MakeMusic(rate, seconds), rate);

  const Timing ours = RunOurs(wav, (dir / "ours.mp2").string(), rate, seconds);
  const Timing twolame = RunPeer({"twolame", "--psyc-mode", "2", "-b", "192", "-m", "s", "--quiet",
                                  wav, (dir / "twolame.mp2").string()});
  const Timing ffmpeg = RunPeer({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav, "-c:a",
                                 "mp2", "-b:a", "192k", (dir / "ffmpeg.mp2").string()});
  std::filesystem::remove_all(dir);

  std::printf("Layer II, 192 kbit/s stereo, %d s of 44.1 kHz stereo, best of 3 (CPU time)\n",
              seconds);
  auto line = [&](const char* name, const Timing& t) {
    if (!t.ok) {
      std::printf("  %-22s failed or missing\n", name);
      return;
    }
    std::printf("  %-22s %7.3f s CPU %7.1fx real time   (%6.3f s wall)   ours/peer speed %.2f\n",
                name, t.cpu, seconds / t.cpu, t.wall, t.cpu / ours.cpu);
  };
  line("calvex", ours);
  line("twolame --psyc-mode 2", twolame);
  line("ffmpeg -c:a mp2", ffmpeg);
  return ours.ok ? 0 : 1;
}
