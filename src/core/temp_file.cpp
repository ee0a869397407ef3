#include "core/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <utility>

#include "core/file_names.h"

namespace calvex {

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : path_(std::exchange(other.path_, {})) {}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    Remove();
    path_ = std::exchange(other.path_, {});
  }
  return *this;
}

bool TemporaryFile::Create(const std::string& directory, const std::string& prefix) {
  return CreateUnique(WithTrailingSeparator(directory) + prefix, 0600);
}

bool TemporaryFile::CreateFor(const std::string& output) {
  // A name near the longest a folder takes (255 bytes) has no room for the additions.
  return CreateUnique(DirectoryOf(output) + "~" + FileNameOf(output).substr(0, 200), 0666);
}

// Like mkostemp, but with the given permissions (less the umask), which mkostemp does not take.
bool TemporaryFile::CreateUnique(const std::string& prefix, unsigned mode) {
  Remove();
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::uniform_int_distribution<int> pick(0, sizeof kLetters - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = prefix + ".";
    for (int i = 0; i < 6; ++i) path += kLetters[pick(random)];
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) {
      ::close(fd);
      path_ = std::move(path);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool TemporaryFile::MoveTo(const std::string& output) {
  struct stat old {};
  if (::stat(output.c_str(), &old) == 0 && S_ISREG(old.st_mode))
    ::chmod(path_.c_str(), old.st_mode & 07777);
  if (::rename(path_.c_str(), output.c_str()) != 0) return false;
  path_.clear();
  return true;
}

void TemporaryFile::Remove() {
  if (path_.empty()) return;
  std::remove(path_.c_str());
  path_.clear();
}

bool CanCreateFilesIn(const std::string& directory) {
  TemporaryFile test;
  return test.Create(directory, "~~--");
}

}  // namespace calvex
