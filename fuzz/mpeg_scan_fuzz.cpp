// The MPEG file scanner and the frame-count estimate over a file of any content (a video
// elementary stream, or a system stream when it starts with a pack start code).

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "video_decoder/mpeg_scanner.h"

using namespace calvex;
using namespace calvex::video_decoder;

CALVEX_FUZZ_TARGET(mpeg_scan_fuzz) {
  const std::string path = fuzz::WriteScratchFile("input.mpg", {data, size});
  GopIndex index;
  int progressCalls = 0;
  ScanCallbacks callbacks;
  callbacks.progress = [&](int thousandths) {
    CALVEX_FUZZ_CHECK(thousandths >= 0 && thousandths <= 1000);
    ++progressCalls;
  };
  CALVEX_FUZZ_CHECK(ScanMpegFile(path, index, callbacks) == kOk);
  // Every recorded group lies inside the file.
  for (const GopIndexEntry& e : index.UsedEntries()) {
    CALVEX_FUZZ_CHECK(e.offset >= 0 && e.packetPosition >= 0 &&
                      std::size_t(e.packetPosition) + std::size_t(e.offset) < size);
  }
  (void)EstimateMpegFrameCount(path);

  // A scan that is cancelled at its first picture ends with 1.
  GopIndex cancelled;
  ScanCallbacks stop;
  stop.cancelled = [] { return true; };
  (void)ScanMpegFile(path, cancelled, stop);
  return 0;
}
