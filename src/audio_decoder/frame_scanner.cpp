#include "audio_decoder/frame_scanner.h"

#include <algorithm>
#include <cstring>

#include "audio_decoder/frame_decoder.h"

namespace calvex::audio_decoder {
namespace {

constexpr std::size_t kChunk = 16384;
constexpr std::size_t kCapacity = kChunk + kMaxFrameBytes;

}  // namespace

FrameScanner::FrameScanner(audio::BitStream& in) : in_(in), buffer_(kCapacity, 0) {}

void FrameScanner::Fill(std::size_t want) {
  if (end_ - pos_ >= want || ended_) return;
  if (pos_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  while (end_ < want && !ended_) {
    const std::size_t room = kCapacity - end_;
    const std::size_t got = in_.GetBytes(buffer_.data() + end_, room);
    end_ += got;
    if (got < room) ended_ = true;
  }
}

const std::uint8_t* FrameScanner::Peek(std::size_t n, std::size_t* real) {
  n = std::min<std::size_t>(n, kMaxFrameBytes);
  Fill(n);
  const std::size_t have = std::min(n, end_ - pos_);
  // GetBytes zero-fills what the data did not deliver, but earlier contents may linger past end_.
  if (have < n) std::memset(buffer_.data() + pos_ + have, 0, n - have);
  if (real != nullptr) *real = have;
  return buffer_.data() + pos_;
}

void FrameScanner::Skip(std::size_t n) {
  while (n > 0) {
    if (end_ == pos_) {
      Fill(1);
      if (end_ == pos_) return;
    }
    const std::size_t step = std::min(n, end_ - pos_);
    pos_ += step;
    n -= step;
  }
}

// ID3v2: "ID3", version (2 bytes), flags, then the tag size in four 7-bit bytes; a footer flag
// (0x10) adds 10 more bytes.
void FrameScanner::SkipId3Tag() {
  std::size_t real = 0;
  const std::uint8_t* h = Peek(10, &real);
  if (real < 10 || std::memcmp(h, "ID3", 3) != 0 || h[3] == 0xFF || h[4] == 0xFF) return;
  if (((h[6] | h[7] | h[8] | h[9]) & 0x80) != 0) return;
  const std::size_t size =
      (std::size_t{h[6]} << 21) | (std::size_t{h[7]} << 14) | (std::size_t{h[8]} << 7) | h[9];
  Skip(10 + size + ((h[5] & 0x10) != 0 ? 10 : 0));
}

bool FrameScanner::FindSync() {
  if (!started_) {
    started_ = true;
    SkipId3Tag();
  }
  for (;;) {
    Fill(2);
    if (end_ - pos_ < 2) {
      pos_ = end_;
      return false;
    }
    const std::uint8_t* base = buffer_.data();
    std::size_t p = pos_;
    while (p + 1 < end_) {
      const void* hit = std::memchr(base + p, 0xFF, end_ - 1 - p);
      if (hit == nullptr) {
        p = end_ - 1;
        break;
      }
      p = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - base);
      if ((base[p + 1] & 0xF0) == 0xF0) {
        pos_ = p;
        return true;
      }
      ++p;
    }
    // Keep the last byte: it may be the first half of a syncword.
    pos_ = p;
    if (ended_) {
      pos_ = end_;
      return false;
    }
    Fill(end_ - pos_ + 1);
  }
}

}  // namespace calvex::audio_decoder
