#include "support/media_tools.h"

#include <cmath>
#include <cstdio>

#include "support/test_support.h"

namespace calvex::testing {

bool Ffmpeg(const std::string& args) {
  const CommandResult r = RunCommand("ffmpeg -nostdin -y -v error " + args);
  EXPECT_EQ(r.exitCode, 0) << "ffmpeg " << args << "\n" << r.output;
  return r.exitCode == 0;
}

namespace {

// Seconds of frame n, as a decimal ffmpeg expressions take.
std::string TimeOf(int n, int num, int den) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9f", static_cast<double>(n) * den / num);
  return text;
}

}  // namespace

bool MakeFlashAvi(const std::string& path, int num, int den, int frames, int first, int every,
                  int hz, int channels, const std::string& codecs) {
  const std::string period = TimeOf(every, num, den), start = TimeOf(first, num, den);
  const std::string seconds = TimeOf(frames, num, den);
  const std::string rate = std::to_string(num) + "/" + std::to_string(den);
  const std::string video = "color=black:s=160x120:r=" + rate + ":d=" + seconds +
                            ",drawbox=c=white:t=fill:enable='eq(mod(n-" + std::to_string(first) +
                            "," + std::to_string(every) + "),0)*gte(n," + std::to_string(first) +
                            ")'";
  const std::string beep = "if(gte(t," + start + ")*lt(mod(t-" + start + "," + period +
                           "),0.02),0.5*sin(2*PI*1000*t),0)";
  std::string layout;
  for (int c = 0; c < channels; ++c) layout += (c ? "|" : "") + beep;
  return Ffmpeg(
      "-f lavfi -i " + ShellQuote(video) + " -f lavfi -i " +
      ShellQuote("aevalsrc=exprs='" + layout + "':s=" + std::to_string(hz) + ":d=" + seconds) +
      " " + codecs + " " + ShellQuote(path));
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  if (sum == 0) return 1000;
  return 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
}

}  // namespace calvex::testing
