#include "video_decoder/stream_reader.h"

#include <algorithm>

namespace calvex::video_decoder {

namespace {
// Room after the data for the two appended words and for reads that run past them: a block
// consumes at most 64 x 28 bits between two refill checks, and a peek loads 8 bytes.
constexpr std::size_t kTailBytes = 8 + 512;
}  // namespace

StreamReader::StreamReader(std::size_t bufferBytes) {
  // The block decoder reads up to 64 words between two refill checks: smaller buffers are
  // raised to 1024 bytes.
  const std::size_t words = std::max<std::size_t>((bufferBytes + 3) / 4, 256) - 1;
  capacity_ = words * 4;
  buffer_.assign(capacity_ + kTailBytes, 0);
}

void StreamReader::AppendEndWords() {
  // Zero bytes up to a whole word, then 0x00000000 0x000001B7, then zeros.
  const std::size_t padded = (dataBytes_ + 3) & ~std::size_t{3};
  dataEnd_ = dataBytes_;
  std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(dataBytes_), buffer_.end(), 0);
  dataBytes_ = padded;
  buffer_[padded + 6] = 0x01;
  buffer_[padded + 7] = 0xB7;
  endOfData_ = true;
}

void StreamReader::Refill() {
  bool reportsData = false;
  if (endOfData_) {
    // Nothing more to read. Keep the reader inside the buffer: past the appended end code it
    // stays on the zeros that follow it.
    const std::uint32_t limit = static_cast<std::uint32_t>((dataBytes_ + 8) * 8);
    if (position_ > limit) position_ = limit;
  } else {
    const std::size_t wordStart = (position_ >> 5) << 2;
    const std::size_t left = dataBytes_ > wordStart ? dataBytes_ - wordStart : 0;
    if (left > 0) std::memmove(buffer_.data(), buffer_.data() + wordStart, left);
    position_ &= 31;
    dataBytes_ = left;
    std::int64_t got = 0;
    while (dataBytes_ < capacity_) {
      got = source_ != nullptr ? source_->Read(buffer_.data() + dataBytes_, capacity_ - dataBytes_)
                               : 0;
      if (got <= 0) break;
      dataBytes_ += static_cast<std::size_t>(got);
      reportsData = true;
    }
    if (got < 0) readError_ = true;
    if (got <= 0 && dataBytes_ < capacity_) {
      AppendEndWords();
      if (reportDataAtEnd_) reportsData = true;
    }
  }
  if (!reportsData && WordsLeftTimes4() < 4) ranDry_ = true;
}

int StreamReader::NextStartCode() {
  AlignToByte();
  for (;;) {
    if (endOfData_ && (position_ >> 3) >= dataBytes_ + 8) return -2;
    const std::uint32_t v = Peek32();
    if ((v >> 8) == 0x000001) return 1;
    // A prefix cannot start at a byte that is followed (within the prefix) by a byte above 1.
    if ((v >> 8 & 0xFF) > 1) {
      position_ += 24;
    } else if ((v >> 16 & 0xFF) > 1) {
      position_ += 16;
    } else {
      position_ += 8;
    }
  }
}

void StreamReader::SkipExtraInformation() {
  while (ReadBit()) {
    Skip(8);
    if (PastData()) return;
  }
}

void StreamReader::Discard() {
  dataBytes_ = 0;
  position_ = 0;
  endOfData_ = false;
  ranDry_ = false;
  std::fill(buffer_.begin(), buffer_.end(), 0);
}

void StreamReader::Load(const std::uint8_t* bytes, std::size_t count) {
  Discard();
  count = std::min(count, capacity_);
  if (count > 0) std::memcpy(buffer_.data(), bytes, count);
  dataBytes_ = count;
}

}  // namespace calvex::video_decoder
