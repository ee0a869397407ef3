// Helpers shared by the fuzz targets: readers that take a path get the input as a file in a
// scratch directory of the fuzzing process (in memory when /dev/shm exists), which is also the
// process's data directory.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

namespace calvex::fuzz {

// The scratch directory of this process, created on first use and removed at exit.
inline const std::string& ScratchDirectory() {
  static const std::string directory = [] {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path base =
        fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path(ec);
    const fs::path dir = base / ("calvex-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(dir, ec);
    // Whatever the readers keep in the data directory (index caches) stays in here too.
    ::setenv("XDG_DATA_HOME", dir.c_str(), 1);
    static const std::string removeAtExit = dir.string();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(removeAtExit, ignored);
    });
    return dir.string() + "/";
  }();
  return directory;
}

// Writes `bytes` to `name` in the scratch directory and returns its path.
inline std::string WriteScratchFile(const std::string& name, std::span<const std::uint8_t> bytes) {
  const std::string path = ScratchDirectory() + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  if (std::fclose(f) != 0) std::abort();
  return path;
}

// Takes leading control bytes off an input: options of the target that the fuzzer may vary.
class InputBytes {
 public:
  InputBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  // The next byte, or 0 once the input is used up.
  std::uint8_t TakeByte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }
  std::span<const std::uint8_t> Rest() const { return {data_, size_}; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace calvex::fuzz
