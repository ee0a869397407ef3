// The system-stream packet reader: the audio or video packets' data of an ISO/IEC 11172-1 system
// stream, read in pieces of a size the input chooses, and the system-stream test.
//
// Input: one control byte (bit 0: video packets, bits 1-7: read size), then the stream.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "mpeg_audio/system_stream_reader.h"

using namespace calvex;

CALVEX_FUZZ_TARGET(system_stream_fuzz) {
  fuzz::InputBytes input(data, size);
  const std::uint8_t control = input.TakeByte();
  const std::vector<std::uint8_t> bytes(input.Rest().begin(), input.Rest().end());

  (void)audio::IsSystemStreamBytes(bytes);

  audio::SystemStreamReader reader;
  const auto kind = (control & 1) != 0 ? audio::PacketKind::kVideo : audio::PacketKind::kAudio;
  if (reader.OpenSystemStreamReaderBytes(bytes, kind) != kOk) return 0;
  const std::size_t step = 1 + (control >> 1) * 67u;
  std::vector<std::uint8_t> buffer(step);
  std::size_t total = 0;
  for (;;) {
    const std::size_t n = reader.ReadSystemStreamData(buffer.data(), step);
    total += n;
    // The data handed over is part of the stream: never more than the stream holds.
    CALVEX_FUZZ_CHECK(n <= step && total <= bytes.size());
    if (n < step) break;
  }
  // Once ended, the reader stays ended.
  CALVEX_FUZZ_CHECK(reader.ReadSystemStreamData(buffer.data(), step) == 0);
  return 0;
}
