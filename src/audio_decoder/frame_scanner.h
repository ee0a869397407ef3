// Finds audio frames in a byte stream: a plain audio file, or the data of a system stream's audio
// packets, both read through a BitStream. Frames start at byte-aligned syncwords 0xFFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mpeg_audio/bit_stream.h"

namespace calvex::audio_decoder {

class FrameScanner {
 public:
  explicit FrameScanner(audio::BitStream& in);

  // Moves to the next syncword (at the current position or after it). False at the end of the
  // data. An ID3v2 tag at the very start of the data is passed over whole.
  bool FindSync();

  // The `n` bytes (n <= kMaxFrameBytes) from the current position; bytes past the end of the data
  // read as 0. `real` receives how many came from the data.
  const std::uint8_t* Peek(std::size_t n, std::size_t* real = nullptr);

  // Moves on by `n` bytes (past the end of the data: to its end).
  void Skip(std::size_t n);

 private:
  // Reads until `want` bytes are buffered from the current position or the data ends.
  void Fill(std::size_t want);
  void SkipId3Tag();

  audio::BitStream& in_;
  std::vector<std::uint8_t> buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool ended_ = false;
  bool started_ = false;
};

}  // namespace calvex::audio_decoder
