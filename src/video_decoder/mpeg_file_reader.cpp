#include "video_decoder/mpeg_file_reader.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>

namespace calvex::video_decoder {

Status MpegFileReader::Open(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) return kOpenFailed;
  if (fseeko(file_, 0, SEEK_END) != 0 || (size_ = ftello(file_)) < 0 ||
      fseeko(file_, 0, SEEK_SET) != 0) {
    Close();
    return kOpenFailed;
  }
  buffer_.resize(kBufferBytes);
  return kOk;
}

void MpegFileReader::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  size_ = 0;
  bufferStart_ = 0;
  bufferLen_ = 0;
  bufferPos_ = 0;
  readError_ = false;
}

bool MpegFileReader::Seek(std::int64_t position) {
  if (file_ == nullptr || position < 0 || position > size_) return false;
  if (position >= bufferStart_ &&
      position <= bufferStart_ + static_cast<std::int64_t>(bufferLen_)) {
    bufferPos_ = static_cast<std::size_t>(position - bufferStart_);
    return true;
  }
  if (fseeko(file_, static_cast<off_t>(position), SEEK_SET) != 0) return false;
  bufferStart_ = position;
  bufferLen_ = 0;
  bufferPos_ = 0;
  return true;
}

bool MpegFileReader::Fill() {
  if (file_ == nullptr) return false;
  const std::int64_t next = Position();
  // The file is positioned at the end of the buffered bytes.
  bufferStart_ = next;
  bufferPos_ = 0;
  bufferLen_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  if (bufferLen_ < buffer_.size() && std::ferror(file_) != 0) readError_ = true;
  return bufferLen_ > 0;
}

std::size_t MpegFileReader::Read(std::uint8_t* out, std::size_t count) {
  std::size_t copied = 0;
  while (copied < count) {
    if (bufferPos_ == bufferLen_ && !Fill()) break;
    const std::size_t take = std::min(count - copied, bufferLen_ - bufferPos_);
    std::memcpy(out + copied, buffer_.data() + bufferPos_, take);
    bufferPos_ += take;
    copied += take;
  }
  return copied;
}

std::vector<std::uint8_t> ReadFileStart(const std::string& path, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return {};
  bytes.resize(std::fread(bytes.data(), 1, count, f));
  std::fclose(f);
  return bytes;
}

}  // namespace calvex::video_decoder
