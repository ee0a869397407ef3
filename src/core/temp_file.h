// Temporary files of a conversion. Each gets a name of its own (a fixed prefix such as
// "~audio.tmp" and a unique suffix), so that conversions into one directory, in one process or
// in several, never share a file; the object deletes the file when it goes away unless it was
// moved into place as an output.
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

  // Creates the file an output is written under until it is complete: "~" + the output's file
  // name (its first 200 bytes) + "." + six random characters, beside it, readable as a newly
  // created file is (0666 less the umask). False when it cannot be created.
  bool CreateFor(const std::string& output);

  // Renames the file over `output` (an existing file there is replaced, keeping its permissions)
  // and lets go of it. False, with errno set, when the rename fails; the file is then kept.
  bool MoveTo(const std::string& output);

  // The file's path; empty when there is none.
  const std::string& path() const { return path_; }
  bool exists() const { return !path_.empty(); }

  // Deletes the file now (nothing happens when there is none).
  void Remove();

 private:
  bool CreateUnique(const std::string& prefix, unsigned mode);

  std::string path_;
};

// Whether a new file can be created in `directory` ("" for the current directory): creates and
// deletes a "~~--" test file.
bool CanCreateFilesIn(const std::string& directory);

}  // namespace calvex
