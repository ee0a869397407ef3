#include "core/temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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
  Remove();
  std::string pattern = WithTrailingSeparator(directory) + prefix + ".XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  path_ = std::move(pattern);
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
