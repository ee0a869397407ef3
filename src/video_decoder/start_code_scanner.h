// The start-code search of the file scanner and the frame-count estimate, run over a video
// elementary stream that arrives in pieces (file blocks, or the data of successive video packets).
//
// It behaves as the byte-wise search: a count of prefix bytes matched (a zero byte advances it,
// further zeros keep it at two, 0x01 after two zeros completes the prefix, anything else resets
// it), the byte after the prefix is the start code's value, and the search starts afresh after
// that value byte. The state carries over from one piece to the next, so a start code may be
// split anywhere. Where each byte lies is told by the caller per piece (ByteLocation); the
// scanner reports where the prefix's first byte lay, even when that was in an earlier piece.
//
// The handler is any object with
//   int StartCode(std::uint8_t value, const ByteLocation& prefix);
//       // returns how many of the bytes that follow the value it wants (0..4)
//   void Following(std::uint8_t value, const std::uint8_t* bytes);
//       // those bytes, once they have all arrived (never when the data ends first)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace calvex::video_decoder {

// Where a byte of the elementary stream lies: in a video elementary stream, packetPosition is 0
// and offset the file offset; in a system stream, the file offset of the video packet's start code
// and the offset within that packet's data.
struct ByteLocation {
  std::int64_t packetPosition = 0;
  std::int64_t offset = 0;
};

class StartCodeScanner {
 public:
  static constexpr int kMaxFollowing = 4;

  // Searches `size` bytes whose first lies at `base` (the others follow it within the piece).
  template <typename Handler>
  void Feed(const std::uint8_t* data, std::size_t size, ByteLocation base, Handler& handler) {
    if (size == 0) return;
    Collect(data, size, handler);
    std::size_t eligible = 0;  // first byte that may count as a prefix zero
    std::size_t carried = zeros_;
    if (valuePending_) {
      valuePending_ = false;
      Found(data[0], pendingAt_, data, 1, size, handler);
      eligible = 1;
      carried = 0;
    }
    std::size_t i = eligible;
    while (i < size) {
      const void* hit = std::memchr(data + i, 1, size - i);
      if (hit == nullptr) break;
      const auto q = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
      if (ZerosBefore(data, q, eligible, carried) < 2) {
        i = q + 1;
        continue;
      }
      const ByteLocation prefix = At(base, static_cast<std::ptrdiff_t>(q) - 2);
      if (q + 1 < size) {
        Found(data[q + 1], prefix, data, q + 2, size, handler);
        eligible = q + 2;
        carried = 0;
        i = q + 2;
      } else {
        valuePending_ = true;
        pendingAt_ = prefix;
        eligible = size;
        carried = 0;
        i = size;
      }
    }
    zeros_ = valuePending_ ? 0 : ZerosBefore(data, size, eligible, carried);
    if (size >= 2) {
      tail_[0] = At(base, static_cast<std::ptrdiff_t>(size) - 2);
      tail_[1] = At(base, static_cast<std::ptrdiff_t>(size) - 1);
    } else {
      tail_[0] = tail_[1];
      tail_[1] = base;
    }
  }

  // Forgets everything carried over (a seek, or a new file).
  void Reset() { *this = StartCodeScanner(); }

 private:
  // Zero bytes (at most 2) right before `q` that may belong to a prefix: those at or after
  // `eligible`, plus the ones carried from earlier pieces when the run reaches the piece's start.
  static std::size_t ZerosBefore(const std::uint8_t* data, std::size_t q, std::size_t eligible,
                                 std::size_t carried) {
    std::size_t n = 0;
    while (n < 2 && q > eligible + n && data[q - 1 - n] == 0) ++n;
    if (n < 2 && q == eligible + n && eligible == 0) n += carried;
    return n < 2 ? n : 2;
  }

  ByteLocation At(ByteLocation base, std::ptrdiff_t index) const {
    if (index >= 0) return {base.packetPosition, base.offset + index};
    return tail_[static_cast<std::size_t>(2 + index)];
  }

  template <typename Handler>
  void Found(std::uint8_t value, const ByteLocation& prefix, const std::uint8_t* data,
             std::size_t from, std::size_t size, Handler& handler) {
    const int wanted = handler.StartCode(value, prefix);
    value_ = value;
    have_ = 0;
    wanted_ = wanted < 0 ? 0 : (wanted > kMaxFollowing ? kMaxFollowing : wanted);
    if (from < size) Collect(data + from, size - from, handler);
  }

  template <typename Handler>
  void Collect(const std::uint8_t* data, std::size_t size, Handler& handler) {
    std::size_t k = 0;
    while (have_ < wanted_ && k < size) following_[static_cast<std::size_t>(have_++)] = data[k++];
    if (wanted_ > 0 && have_ == wanted_) {
      wanted_ = 0;
      handler.Following(value_, following_.data());
    }
  }

  std::size_t zeros_ = 0;  // prefix zeros carried from earlier pieces (0..2)
  bool valuePending_ = false;
  ByteLocation pendingAt_;
  std::array<ByteLocation, 2> tail_{};  // where the last two bytes fed lay
  // Bytes that follow the last value, as its handler asked.
  std::uint8_t value_ = 0;
  int wanted_ = 0;
  int have_ = 0;
  std::array<std::uint8_t, kMaxFollowing> following_{};
};

}  // namespace calvex::video_decoder
