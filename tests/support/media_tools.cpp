#include "support/media_tools.h"

#include <cmath>

#include "support/test_support.h"

namespace calvex::testing {

bool Ffmpeg(const std::string& args) {
  const CommandResult r = RunCommand("ffmpeg -nostdin -y -v error " + args);
  EXPECT_EQ(r.exitCode, 0) << "ffmpeg " << args << "\n" << r.output;
  return r.exitCode == 0;
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
