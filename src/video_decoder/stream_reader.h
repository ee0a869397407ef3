// The video decoder's bit reader: a buffer of stream bytes refilled from a ByteSource, read most
// significant bit first through a 32-bit window.
//
// Refill rule: when fewer than two 32-bit words are left before a read, the unread words move to
// the front of the buffer and the source is asked for the rest of the buffer. At the end of the
// data the last bytes are padded with zeros to a whole word, and the words 0x00000000 and
// 0x000001B7 (a sequence end code) are appended without being counted as data, so that a picture
// in progress and the start-code search end at that appended end code. Reads past it see zeros and
// never leave the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "video_decoder/byte_source.h"

namespace calvex::video_decoder {

class StreamReader {
 public:
  // `bufferBytes` is the stream buffer size (the driver uses 20000); the reader keeps
  // ((bufferBytes + 3) / 4 - 1) words of data at most (at least 255). Throws std::bad_alloc.
  explicit StreamReader(std::size_t bufferBytes);

  void SetSource(ByteSource* source) { source_ = source; }
  // While set, the first refill that meets the end of the data still reports data (the preview
  // keeps the decoder open at the end of the stream).
  void SetReportDataAtEnd(bool on) { reportDataAtEnd_ = on; }

  // The next 32 bits, not consumed.
  std::uint32_t Peek32() {
    if (WordsLeftTimes4() < 8) Refill();
    return PeekUnchecked();
  }
  // The next n bits (1..32), not consumed.
  std::uint32_t Peek(int n) { return Peek32() >> (32 - n); }
  bool ShowBitsEqual(int n, std::uint32_t value) { return Peek(n) == value; }
  std::uint32_t Read(int n) {
    const std::uint32_t v = Peek(n);
    position_ += static_cast<std::uint32_t>(n);
    return v;
  }
  bool ReadBit() { return Read(1) != 0; }
  void Skip(int n) {
    if (WordsLeftTimes4() < 8) Refill();
    position_ += static_cast<std::uint32_t>(n);
  }

  // Fast path for the block decoder: Ensure once, then read up to `words` words with the
  // unchecked operations.
  void Ensure(int words) {
    if (WordsLeftTimes4() < 4 * words) Refill();
  }
  std::uint32_t PeekUnchecked() const {
    std::uint64_t w;
    std::memcpy(&w, buffer_.data() + (position_ >> 3), 8);
    w = __builtin_bswap64(w);
    return static_cast<std::uint32_t>((w << (position_ & 7)) >> 32);
  }
  void SkipUnchecked(int n) { position_ += static_cast<std::uint32_t>(n); }

  // Moves to the next 0x000001 prefix at a byte boundary: 1 when positioned on it, -2 when the
  // data ran out.
  int NextStartCode();
  // Consumes bytes until the next 24 bits are 0x000001 (extension and user data).
  void SkipToStartCode() { NextStartCode(); }
  // While the next bit is 1, consumes it and 8 more bits; then consumes the final 0 bit.
  void SkipExtraInformation();
  void AlignToByte() { position_ = (position_ + 7) & ~7u; }

  // Empties the buffer, so that the next read refills from the source's current position.
  void Discard();
  // Sets the reader on `count` bytes of stream (the file index's seek in a system stream loads
  // them itself); later reads continue from the source.
  void Load(const std::uint8_t* bytes, std::size_t count);

  // The end of the source was met (the end words are appended).
  bool EndOfData() const { return endOfData_; }
  // The reader stands beyond the last byte of data (inside the appended words or after them).
  bool PastData() const { return endOfData_ && (position_ >> 3) >= dataBytes_; }
  // The next 32 bits reach past the last byte of data: a code that fails to decode here may
  // simply have been cut by the end of the file.
  bool NearDataEnd() const { return endOfData_ && std::size_t{position_} + 32 > dataEnd_ * 8; }
  // A refill that delivered no data found less than one word left: the run should stop. Reading
  // the event clears it.
  bool TakeRanDry() {
    const bool dry = ranDry_;
    ranDry_ = false;
    return dry;
  }
  // After the end of the data: moves the reader to the appended words, so that the next start
  // code found is the appended sequence end code.
  void MoveToEndWords() {
    if (endOfData_) position_ = static_cast<std::uint32_t>(dataBytes_ * 8);
  }
  std::uint32_t BitPosition() const { return position_; }
  // The source reported a read error.
  bool ReadError() const { return readError_; }
  // Capacity in bytes (whole words) that one refill may fill.
  std::size_t CapacityBytes() const { return capacity_; }

 private:
  // Bytes of data from the start of the current word to the end of the buffered data, times 1
  // (negative once the reader has passed the end).
  std::ptrdiff_t WordsLeftTimes4() const {
    return static_cast<std::ptrdiff_t>(dataBytes_) -
           static_cast<std::ptrdiff_t>((position_ >> 5) << 2);
  }
  void Refill();
  void AppendEndWords();

  std::vector<std::uint8_t> buffer_;
  std::size_t capacity_ = 0;    // bytes of data the buffer holds at most
  std::size_t dataBytes_ = 0;   // bytes of data in the buffer
  std::size_t dataEnd_ = 0;     // after the end of the data: its last byte + 1, before padding
  std::uint32_t position_ = 0;  // bit position of the next bit
  ByteSource* source_ = nullptr;
  bool endOfData_ = false;
  bool reportDataAtEnd_ = false;
  bool ranDry_ = false;
  bool readError_ = false;
};

}  // namespace calvex::video_decoder
