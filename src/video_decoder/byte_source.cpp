#include "video_decoder/byte_source.h"

#include <algorithm>
#include <cstring>

namespace calvex::video_decoder {

std::int64_t MemoryByteSource::Read(std::uint8_t* buffer, std::size_t size) {
  const std::size_t n = std::min(size, bytes_.size() - position_);
  if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += n;
  return static_cast<std::int64_t>(n);
}

FileByteSource::~FileByteSource() {
  Close();
}

Status FileByteSource::Open(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) return kOpenFailed;
  bytesRead_ = 0;
  return kOk;
}

void FileByteSource::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

std::int64_t FileByteSource::Read(std::uint8_t* buffer, std::size_t size) {
  if (file_ == nullptr) return -1;
  const std::size_t n = std::fread(buffer, 1, size, file_);
  if (n < size && std::ferror(file_)) return -1;
  bytesRead_ += static_cast<std::int64_t>(n);
  return static_cast<std::int64_t>(n);
}

bool FileByteSource::Seek(std::int64_t offset) {
  if (file_ == nullptr || offset < 0) return false;
  if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
  bytesRead_ = offset;
  return true;
}

}  // namespace calvex::video_decoder
