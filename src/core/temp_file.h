// Temporary files of a conversion. Each gets a name of its own (a fixed prefix such as
// "~audio.tmp" and a unique suffix), so that conversions into one directory, in one process or
// in several, never share a file; the object deletes the file when it goes away.
#pragma once

#include <string>

namespace calvex {

class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() { Remove(); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&& other) noexcept;

  // Creates an empty file named `directory` + `prefix` + "." + six random characters ("" for
  // the current directory). False when it cannot be created.
  bool Create(const std::string& directory, const std::string& prefix);

  // The file's path; empty when there is none.
  const std::string& path() const { return path_; }
  bool exists() const { return !path_.empty(); }

  // Deletes the file now (nothing happens when there is none).
  void Remove();

 private:
  std::string path_;
};

// Whether a new file can be created in `directory` ("" for the current directory): creates and
// deletes a "~~--" test file.
bool CanCreateFilesIn(const std::string& directory);

}  // namespace calvex
