#include "bench_support.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

namespace calvex::bench {

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Run(const std::string& command, int* exitCode) {
  std::string out;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = ::pclose(p);
  if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

int RunStatus(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool DecodeToYuv(const std::string& coded, const std::string& raw) {
  int rc = 0;
  Run("ffmpeg -nostdin -v error -y -i " + Quote(coded) +
          " -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " + Quote(raw),
      &rc);
  return rc == 0;
}

double CpuSeconds(int who) {
  rusage u{};
  ::getrusage(who, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace calvex::bench
