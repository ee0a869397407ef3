#include "mpeg_audio/bit_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "mpeg_audio/system_stream_reader.h"

namespace calvex::audio {

struct BitStream::Source {
  virtual ~Source() = default;
  // Up to `count` bytes into `out`; 0 at the end of the data.
  virtual std::size_t Read(std::uint8_t* out, std::size_t count) = 0;
  // Bytes taken from the underlying file so far.
  virtual std::int64_t Position() const = 0;
};

namespace {

struct FileSource final : BitStream::Source {
  explicit FileSource(std::FILE* f) : file(f) {}
  ~FileSource() override { std::fclose(file); }
  std::size_t Read(std::uint8_t* out, std::size_t count) override {
    const std::size_t n = std::fread(out, 1, count, file);
    position += static_cast<std::int64_t>(n);
    return n;
  }
  std::int64_t Position() const override { return position; }
  std::FILE* file;
  std::int64_t position = 0;
};

struct MemorySource final : BitStream::Source {
  explicit MemorySource(std::vector<std::uint8_t> b) : bytes(std::move(b)) {}
  std::size_t Read(std::uint8_t* out, std::size_t count) override {
    const std::size_t n = std::min(count, bytes.size() - pos);
    if (n > 0) std::memcpy(out, bytes.data() + pos, n);
    pos += n;
    return n;
  }
  std::int64_t Position() const override { return static_cast<std::int64_t>(pos); }
  std::vector<std::uint8_t> bytes;
  std::size_t pos = 0;
};

struct PacketSource final : BitStream::Source {
  std::size_t Read(std::uint8_t* out, std::size_t count) override {
    return reader.ReadSystemStreamData(out, count);
  }
  std::int64_t Position() const override { return reader.FileBytesRead(); }
  SystemStreamReader reader;
};

}  // namespace

BitStream::BitStream() = default;

BitStream::~BitStream() {
  if (mode_ == Mode::kWriting) CloseBitStreamWrite();
  if (mode_ == Mode::kReading) CloseBitStreamRead();
}

Status BitStream::AllocateBuffer(int bufferSize) {
  const std::size_t size = static_cast<std::size_t>(bufferSize < 16 ? 16 : bufferSize);
  try {
    buffer_.assign(size, 0);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  bufferPos_ = 0;
  bufferEnd_ = 0;
  cache_ = 0;
  cacheBits_ = 0;
  bitCount_ = 0;
  writeFailed_ = false;
  sourceEnded_ = false;
  endOfStream_ = false;
  return kOk;
}

// ---------------------------------------------------------------------------------------------
// Writing

Status BitStream::OpenBitStreamWrite(const std::string& path, int bufferSize) {
  if (mode_ == Mode::kWriting) CloseBitStreamWrite();
  if (mode_ == Mode::kReading) CloseBitStreamRead();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return kCreateFailed;
  if (AllocateBuffer(bufferSize) != kOk) {
    std::fclose(f);
    return kNoMemory;
  }
  // The buffer here is the only one: every write reaches the system at once, so a full disk shows
  // at the write that hit it.
  std::setvbuf(f, nullptr, _IONBF, 0);
  file_ = f;
  mode_ = Mode::kWriting;
  return kOk;
}

void BitStream::FlushBuffer() {
  if (bufferPos_ == 0) return;
  if (!writeFailed_ && std::fwrite(buffer_.data(), 1, bufferPos_, file_) != bufferPos_)
    writeFailed_ = true;
  bufferPos_ = 0;
}

void BitStream::EmitByte(std::uint8_t byte) {
  buffer_[bufferPos_++] = byte;
  if (bufferPos_ == buffer_.size()) FlushBuffer();
}

void BitStream::PutBits(std::uint32_t value, int n) {
  if (mode_ != Mode::kWriting || n < 1) return;
  if (n > 32) n = 32;
  const std::uint64_t bits = n == 32 ? value : (value & ((1u << n) - 1u));
  cache_ = (cache_ << n) | bits;
  cacheBits_ += n;
  bitCount_ += n;
  while (cacheBits_ >= 8) {
    cacheBits_ -= 8;
    EmitByte(static_cast<std::uint8_t>(cache_ >> cacheBits_));
  }
  cache_ &= (std::uint64_t{1} << cacheBits_) - 1;
}

void BitStream::PutBytes(const std::uint8_t* data, std::size_t count) {
  if (mode_ != Mode::kWriting) return;
  if (cacheBits_ != 0) {
    for (std::size_t i = 0; i < count; ++i) PutBits(data[i], 8);
    return;
  }
  bitCount_ += static_cast<std::int64_t>(count) * 8;
  while (count > 0) {
    const std::size_t n = std::min(count, buffer_.size() - bufferPos_);
    std::memcpy(buffer_.data() + bufferPos_, data, n);
    bufferPos_ += n;
    data += n;
    count -= n;
    if (bufferPos_ == buffer_.size()) FlushBuffer();
  }
}

bool BitStream::CloseBitStreamWrite() {
  if (mode_ != Mode::kWriting) return !writeFailed_;
  // The byte in progress goes out with its unused low bits 0. A stream that ends on a byte
  // boundary gets no extra byte: a stray 0x00 after the last audio frame or pack is data that
  // decoders report as invalid.
  if (cacheBits_ > 0) EmitByte(static_cast<std::uint8_t>(cache_ << (8 - cacheBits_)));
  FlushBuffer();
  if (std::fclose(file_) != 0) writeFailed_ = true;
  file_ = nullptr;
  buffer_.clear();
  buffer_.shrink_to_fit();
  cache_ = 0;
  cacheBits_ = 0;
  mode_ = Mode::kClosed;
  return !writeFailed_;
}

// ---------------------------------------------------------------------------------------------
// Reading

Status BitStream::OpenBitStreamRead(const std::string& path, int bufferSize) {
  if (mode_ == Mode::kWriting) CloseBitStreamWrite();
  if (mode_ == Mode::kReading) CloseBitStreamRead();
  if (bufferSize < 0) {
    auto packets = std::make_unique<PacketSource>();
    if (Status s = packets->reader.OpenSystemStreamReader(path, PacketKind::kAudio); s != kOk)
      return s;
    if (AllocateBuffer(-bufferSize) != kOk) return kNoMemory;
    source_ = std::move(packets);
  } else {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return kOpenFailed;
    if (AllocateBuffer(bufferSize) != kOk) {
      std::fclose(f);
      return kNoMemory;
    }
    source_ = std::make_unique<FileSource>(f);
  }
  mode_ = Mode::kReading;
  return kOk;
}

Status BitStream::OpenBitStreamReadBytes(std::vector<std::uint8_t> bytes, int bufferSize) {
  if (mode_ == Mode::kWriting) CloseBitStreamWrite();
  if (mode_ == Mode::kReading) CloseBitStreamRead();
  if (AllocateBuffer(bufferSize < 0 ? -bufferSize : bufferSize) != kOk) return kNoMemory;
  source_ = std::make_unique<MemorySource>(std::move(bytes));
  mode_ = Mode::kReading;
  return kOk;
}

std::int64_t BitStream::SourceBytesRead() const {
  return source_ ? source_->Position() : 0;
}

void BitStream::CloseBitStreamRead() {
  if (mode_ != Mode::kReading) return;
  source_.reset();
  buffer_.clear();
  buffer_.shrink_to_fit();
  cache_ = 0;
  cacheBits_ = 0;
  mode_ = Mode::kClosed;
}

bool BitStream::FillBuffer() {
  if (sourceEnded_ || !source_) return false;
  bufferPos_ = 0;
  bufferEnd_ = source_->Read(buffer_.data(), buffer_.size());
  if (bufferEnd_ == 0) sourceEnded_ = true;
  return bufferEnd_ > 0;
}

// Tops the cache up to at least 57 bits while data remains.
void BitStream::Refill() {
  while (cacheBits_ <= 56) {
    if (bufferPos_ == bufferEnd_ && !FillBuffer()) return;
    cache_ |= std::uint64_t{buffer_[bufferPos_++]} << (56 - cacheBits_);
    cacheBits_ += 8;
  }
}

std::uint32_t BitStream::LookBits(int n) {
  if (mode_ != Mode::kReading || n < 1) return 0;
  if (n > 32) n = 32;
  if (cacheBits_ < n) Refill();
  return static_cast<std::uint32_t>(cache_ >> (64 - n));
}

std::uint32_t BitStream::GetBits(int n) {
  if (mode_ != Mode::kReading || n < 1) return 0;
  if (n > 32) n = 32;
  if (cacheBits_ < n) Refill();
  const auto value = static_cast<std::uint32_t>(cache_ >> (64 - n));
  bitCount_ += n;
  if (cacheBits_ < n) {
    // The data ended inside this read: the missing bits were zeros.
    endOfStream_ = true;
    cache_ = 0;
    cacheBits_ = 0;
  } else {
    cache_ <<= n;
    cacheBits_ -= n;
  }
  return value;
}

void BitStream::SkipBits(std::int64_t n) {
  if (mode_ != Mode::kReading || n < 1) return;
  // Whole bytes beyond the cache are skipped in the buffer without going through the cache.
  if (n > cacheBits_ + 64) {
    const int fromCache = cacheBits_;
    GetBits(fromCache >= 32 ? 32 : fromCache);
    if (fromCache > 32) GetBits(fromCache - 32);
    n -= fromCache;
    std::int64_t bytes = n / 8;
    bitCount_ += bytes * 8;
    n -= bytes * 8;
    while (bytes > 0) {
      if (bufferPos_ == bufferEnd_ && !FillBuffer()) {
        endOfStream_ = true;
        return;
      }
      const auto take = static_cast<std::size_t>(
          std::min<std::int64_t>(bytes, static_cast<std::int64_t>(bufferEnd_ - bufferPos_)));
      bufferPos_ += take;
      bytes -= static_cast<std::int64_t>(take);
    }
  }
  while (n > 0) {
    const int step = n > 32 ? 32 : static_cast<int>(n);
    GetBits(step);
    n -= step;
  }
}

void BitStream::ByteAlign() {
  const int misalign = static_cast<int>(bitCount_ & 7);
  if (misalign != 0) GetBits(8 - misalign);
}

std::size_t BitStream::GetBytes(std::uint8_t* out, std::size_t count) {
  if (mode_ != Mode::kReading) {
    if (count > 0) std::memset(out, 0, count);
    return 0;
  }
  std::size_t delivered = 0;
  // Drain the cache first, then copy straight from the buffer when byte-aligned.
  while (delivered < count && (cacheBits_ > 0 || (bitCount_ & 7) != 0)) {
    const bool wasEnded = endOfStream_;
    out[delivered] = static_cast<std::uint8_t>(GetBits(8));
    if (endOfStream_ && !wasEnded) {
      ++delivered;  // partly real data
      std::memset(out + delivered, 0, count - delivered);
      return delivered;
    }
    if (endOfStream_) {
      std::memset(out + delivered, 0, count - delivered);
      return delivered;
    }
    ++delivered;
  }
  std::size_t real = delivered;
  while (delivered < count) {
    if (bufferPos_ == bufferEnd_ && !FillBuffer()) {
      std::memset(out + delivered, 0, count - delivered);
      bitCount_ += static_cast<std::int64_t>(count - delivered) * 8;
      endOfStream_ = true;
      return real;
    }
    const std::size_t n = std::min(count - delivered, bufferEnd_ - bufferPos_);
    std::memcpy(out + delivered, buffer_.data() + bufferPos_, n);
    bufferPos_ += n;
    delivered += n;
    real += n;
    bitCount_ += static_cast<std::int64_t>(n) * 8;
  }
  return real;
}

bool BitStream::SeekSync(std::uint32_t pattern, int n) {
  if (mode_ != Mode::kReading || n < 1) return false;
  if (n > 32) n = 32;
  const std::uint64_t mask = n == 32 ? 0xFFFFFFFFu : ((std::uint64_t{1} << n) - 1);
  pattern &= static_cast<std::uint32_t>(mask);
  ByteAlign();
  std::uint64_t window = GetBits(n);
  while (!endOfStream_) {
    if ((window & mask) == pattern) return true;
    window = (window << 8) | GetBits(8);
  }
  return false;
}

}  // namespace calvex::audio
