// The MPEG-1 video decoder over a video elementary stream held in memory, stepped as its drivers
// step it, with the frame callback choosing among the play modes.
//
// Input: one control byte, then the stream.
//   bits 0-1  frame callback result: go on, go on, I pictures only, skip
//   bit 2     deliver in decoding order
//   bit 3     a stream buffer of 1024 bytes instead of 20000
//   bit 4     the preview's open flag (the end of the data does not close the decoder)
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "video_decoder/video_decoder.h"

using namespace calvex;
using namespace calvex::video_decoder;

CALVEX_FUZZ_TARGET(video_decoder_fuzz) {
  fuzz::InputBytes input(data, size);
  const std::uint8_t control = input.TakeByte();
  MemoryByteSource source({input.Rest().begin(), input.Rest().end()});

  DecodeControl c;
  c.playMode = kPlayNormal;
  c.decodeRunning = true;
  c.decodeOrderOutput = (control & 4) != 0;
  c.previewOpenFlag = (control & 16) != 0;
  c.sourceFileSize = static_cast<std::int64_t>(input.Rest().size());
  int delivered = 0;
  const int result = (control & 3) == 2 ? kFrameIntraOnly : (control & 3) == 3 ? kFrameSkip : 0;
  c.frameCallback = [&](const DecodedFrameInfo& info, int, int thousandths) {
    CALVEX_FUZZ_CHECK(thousandths >= 0 && thousandths <= 1000);
    if (info.bitmapHeader != nullptr && info.bitmapBits != nullptr) {
      // The picture handed over is whole: its last byte can be read.
      const std::uint32_t bytes = info.bitmapHeader->sizeImage;
      CALVEX_FUZZ_CHECK(bytes > 0);
      volatile std::uint8_t last = info.bitmapBits[bytes - 1];
      (void)last;
    }
    return ++delivered > 64 ? kFrameStop : result;
  };
  auto decoder = VideoDecoder::Create((control & 8) != 0 ? 1024 : 20000, source, c);
  if (!decoder) return 0;
  // Every step consumes input or ends the run: a bounded number of steps covers any stream.
  const std::size_t limit = 64 + input.Rest().size() * 16;
  std::size_t steps = 0;
  while (c.decodeRunning && steps < limit) {
    decoder->DecodeStep(static_cast<std::uint32_t>(steps));
    ++steps;
  }
  CALVEX_FUZZ_CHECK(!c.decodeRunning || c.previewOpenFlag);
  return 0;
}
