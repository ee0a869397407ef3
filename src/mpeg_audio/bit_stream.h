// The buffered, most-significant-bit-first bit-stream file that every MPEG writer and reader of the
// program uses: the audio encoder writes .mp2 frames through it, the multiplexer writes system
// streams through it, and the audio decoder reads frames through it, from a plain audio file or
// from the audio packets of a system stream (system_stream_reader.h).
//
// A BitStream is one object per open file; it holds no process-wide state, so several conversions
// may write and read at once. It never throws.
//
// Writing:
//   BitStream out;
//   if (Status s = out.OpenBitStreamWrite(path); s != kOk) return s;   // 102 or 100
//   out.PutBits(0xFFF, 12); ...
//   if (out.WriteFailed()) context.RaiseDiskFull();   // test after each frame or packet
//   if (!out.CloseBitStreamWrite()) context.RaiseDiskFull();
// A failed write does not stop the writer; it raises WriteFailed(), which the owner turns into the
// run's disk-full flag (error 147). Closing writes a byte in progress with its unused low bits 0;
// a stream that ends on a byte boundary ends there (no stray byte after the last frame or pack).
//
// Reading:
//   BitStream in;
//   in.OpenBitStreamRead(path);              // 101 or 100; a negative size reads the audio
//                                            // packets of a system stream (114 when it is not one)
//   while (in.SeekSync(0xFFF, 12)) { ... in.GetBits(4) ... }
// Reads past the end of the data deliver 0 bits and raise EndOfStream(); SeekSync then returns
// false. Nothing in the input can make the reader allocate more than its buffer or read outside it.
//
// Link target: calvex_mpeg_audio.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/status.h"

namespace calvex::audio {

class SystemStreamReader;

class BitStream {
 public:
  // The buffer size every user of the program takes.
  static constexpr int kBufferSize = 4096;

  BitStream();
  // Closes an open stream (a writer is flushed first; its failures are then only visible through
  // WriteFailed() before destruction, so owners should close explicitly).
  ~BitStream();
  BitStream(const BitStream&) = delete;
  BitStream& operator=(const BitStream&) = delete;

  // ------------------------------------------------------------------------------------------
  // Writing

  // Creates `path` (mode "wb"). Returns 0, 102 when the file cannot be created, or 100 when the
  // buffer cannot be had (the file is then closed again).
  Status OpenBitStreamWrite(const std::string& path, int bufferSize = kBufferSize);

  // Appends the `n` low bits of `value`, most significant first; n < 1 writes nothing, n above 32
  // is taken as 32.
  void PutBits(std::uint32_t value, int n);
  // Appends the lowest bit of `bit`.
  void PutBit(std::uint32_t bit) { PutBits(bit, 1); }
  // Appends whole bytes (at any bit position).
  void PutBytes(const std::uint8_t* data, std::size_t count);

  // Writes what is buffered, including a partly filled last byte, and closes the file. Returns
  // false when any write or the close failed (then also WriteFailed()).
  bool CloseBitStreamWrite();

  // Raised by the first failed write or close; stays raised until the next open.
  bool WriteFailed() const { return writeFailed_; }

  // ------------------------------------------------------------------------------------------
  // Reading

  // Opens `path` (mode "rb"). Returns 0, 101 when it cannot be opened, or 100 without buffer. A
  // negative `bufferSize` opens the path through the system-stream packet reader for audio
  // packets and uses a buffer of the absolute size; the packet reader's codes (114) come back.
  Status OpenBitStreamRead(const std::string& path, int bufferSize = kBufferSize);
  // Reads from bytes held in memory (tests, fuzzing, data already loaded).
  Status OpenBitStreamReadBytes(std::vector<std::uint8_t> bytes, int bufferSize = kBufferSize);

  // The next `n` bits (0..32), most significant first, consumed.
  std::uint32_t GetBits(int n);
  // The next `n` bits (0..32) without consuming them.
  std::uint32_t LookBits(int n);
  // Consumes `n` bits (any n >= 0).
  void SkipBits(std::int64_t n);
  std::uint32_t GetBit() { return GetBits(1); }
  // Consumes up to the next byte boundary.
  void ByteAlign();
  // Copies `count` bytes (at any bit position); bytes past the end of the data are 0 and raise
  // EndOfStream(). Returns the number of bytes that came from the data.
  std::size_t GetBytes(std::uint8_t* out, std::size_t count);

  // Skips to the next byte boundary, reads `n` bits (1..32) and then shifts in one byte at a time
  // until the low `n` bits equal `pattern`. Returns true when found (the pattern consumed), false
  // at the end of the data.
  bool SeekSync(std::uint32_t pattern, int n);

  // Raised once a read went past the end of the data.
  bool EndOfStream() const { return endOfStream_; }

  // Bytes taken so far from the underlying file (for the packet reader: of the whole system
  // stream, not only the packets' data), for progress against the file size.
  std::int64_t SourceBytesRead() const;

  // Closes the file (or the packet reader) and releases the buffer.
  void CloseBitStreamRead();

  // ------------------------------------------------------------------------------------------
  // Both

  bool IsOpen() const { return mode_ != Mode::kClosed; }
  // Bits written, or consumed, since opening.
  std::int64_t BitCount() const { return bitCount_; }

  // Where a reading stream takes its bytes from: a file, memory or the packet reader (defined in
  // bit_stream.cpp).
  struct Source;

 private:
  enum class Mode { kClosed, kWriting, kReading };

  Status AllocateBuffer(int bufferSize);
  void EmitByte(std::uint8_t byte);
  void FlushBuffer();
  void Refill();
  bool FillBuffer();

  Mode mode_ = Mode::kClosed;
  std::vector<std::uint8_t> buffer_;
  std::size_t bufferPos_ = 0;  // writing: bytes pending; reading: next byte to take
  std::size_t bufferEnd_ = 0;  // reading: bytes in the buffer
  std::uint64_t cache_ = 0;    // writing: pending bits, right-aligned; reading: left-aligned
  int cacheBits_ = 0;
  std::int64_t bitCount_ = 0;
  bool writeFailed_ = false;
  bool sourceEnded_ = false;
  bool endOfStream_ = false;
  std::FILE* file_ = nullptr;
  std::unique_ptr<Source> source_;
};

}  // namespace calvex::audio
