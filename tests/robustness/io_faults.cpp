// The calls defined here take the place of the C library's in the whole test program (the
// program's own objects and the shared libraries it loads, FFmpeg's among them, bind to these
// definitions first); each forwards to the next definition (the sanitizer's or the C library's)
// unless an armed fault says otherwise.
#include "robustness/io_faults.h"

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

namespace calvex::testing {
namespace {

struct FaultState {
  std::mutex mutex;
  std::atomic<bool> armed{false};
  std::string pathPart;
  IoFault::Point point = IoFault::kFirstWrite;
  std::int64_t limit = 0;
  std::int64_t written = 0;
  bool triggered = false;
};

FaultState& State() {
  static FaultState* state = new FaultState;  // never destroyed: calls may come at exit
  return *state;
}

template <typename Function>
Function Next(const char* name) {
  void* f = dlsym(RTLD_NEXT, name);
  if (f == nullptr) std::abort();
  return reinterpret_cast<Function>(f);
}

// Whether descriptor `fd` is a file whose path holds the armed text (the caller holds the lock).
bool Matches(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char path[4096];
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  return std::string(path).find(State().pathPart) != std::string::npos;
}

// How many of `size` bytes to `fd` may be written: size, fewer, or 0 with errno ENOSPC.
std::size_t WriteAllowance(int fd, std::size_t size) {
  FaultState& s = State();
  if (!s.armed.load() || fd < 0) return size;
  std::lock_guard lock(s.mutex);
  if (!s.armed.load() || !Matches(fd)) return size;
  const std::int64_t room = s.point == IoFault::kFirstWrite ? 0
                            : s.point == IoFault::kClose    ? INT64_MAX
                                                            : s.limit - s.written;
  if (room >= static_cast<std::int64_t>(size)) {
    s.written += static_cast<std::int64_t>(size);
    return size;
  }
  s.triggered = true;
  const std::size_t allowed = room > 0 ? static_cast<std::size_t>(room) : 0;
  s.written += static_cast<std::int64_t>(allowed);
  return allowed;
}

// Whether closing `fd` must report failure.
bool FailClose(int fd) {
  FaultState& s = State();
  if (!s.armed.load() || fd < 0) return false;
  std::lock_guard lock(s.mutex);
  if (!s.armed.load() || s.point != IoFault::kClose || !Matches(fd)) return false;
  s.triggered = true;
  return true;
}

// Whether renaming `from` must fail.
bool FailRename(const char* from) {
  FaultState& s = State();
  if (!s.armed.load() || from == nullptr) return false;
  std::lock_guard lock(s.mutex);
  if (!s.armed.load() || s.point != IoFault::kRename) return false;
  if (std::string(from).find(s.pathPart) == std::string::npos) return false;
  s.triggered = true;
  return true;
}

}  // namespace

IoFault::IoFault(std::string pathPart, Point point, std::int64_t bytes) {
  FaultState& s = State();
  std::lock_guard lock(s.mutex);
  s.pathPart = std::move(pathPart);
  s.point = point;
  s.limit = bytes;
  s.written = 0;
  s.triggered = false;
  s.armed = true;
}

IoFault::~IoFault() {
  FaultState& s = State();
  std::lock_guard lock(s.mutex);
  s.armed = false;
}

bool IoFault::Triggered() const {
  FaultState& s = State();
  std::lock_guard lock(s.mutex);
  return s.triggered;
}

std::int64_t IoFault::BytesWritten() const {
  FaultState& s = State();
  std::lock_guard lock(s.mutex);
  return s.written;
}

int OpenDescriptorCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count - 3;  // ".", ".." and the descriptor of the listing itself
}

}  // namespace calvex::testing

using calvex::testing::FailClose;
using calvex::testing::FailRename;
using calvex::testing::Next;
using calvex::testing::WriteAllowance;

extern "C" {

std::size_t fwrite(const void* data, std::size_t size, std::size_t count, std::FILE* f) {
  static const auto next =
      Next<std::size_t (*)(const void*, std::size_t, std::size_t, std::FILE*)>("fwrite");
  if (size == 0 || count == 0) return next(data, size, count, f);
  const std::size_t bytes = size * count;
  const std::size_t allowed = WriteAllowance(fileno(f), bytes);
  if (allowed == bytes) return next(data, size, count, f);
  const std::size_t whole = allowed / size;
  const std::size_t done = whole > 0 ? next(data, size, whole, f) : 0;
  errno = ENOSPC;
  return done;
}

int fclose(std::FILE* f) {
  static const auto next = Next<int (*)(std::FILE*)>("fclose");
  const bool fail = f != nullptr && FailClose(fileno(f));
  const int result = next(f);
  if (!fail) return result;
  errno = ENOSPC;
  return EOF;
}

ssize_t write(int fd, const void* data, std::size_t size) {
  static const auto next = Next<ssize_t (*)(int, const void*, std::size_t)>("write");
  const std::size_t allowed = WriteAllowance(fd, size);
  if (allowed == size) return next(fd, data, size);
  if (allowed > 0) return next(fd, data, allowed);
  errno = ENOSPC;
  return -1;
}

int close(int fd) {
  static const auto next = Next<int (*)(int)>("close");
  const bool fail = FailClose(fd);
  const int result = next(fd);
  if (!fail) return result;
  errno = ENOSPC;
  return -1;
}

int rename(const char* from, const char* to) noexcept {
  static const auto next = Next<int (*)(const char*, const char*)>("rename");
  if (!FailRename(from)) return next(from, to);
  errno = ENOSPC;
  return -1;
}

}  // extern "C"
