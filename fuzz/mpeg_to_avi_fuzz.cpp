// The MPEG to AVI conversion over a video elementary stream or a system stream: the information
// reader, and the conversion of a few frames (from the start, or a section found through the
// file's index) into a small uncompressed AVI with the stream's sound.
//
// Input: one control byte, then the file.
//   bit 0  the information reader only
//   bit 1  a section from frame 3 (the index is scanned and cached)
//   bit 2  8-bit sound at half the rate
#include <filesystem>

#include "core/settings.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "video_decoder/mpeg_to_avi_driver.h"

using namespace calvex;

CALVEX_FUZZ_TARGET(mpeg_to_avi_fuzz) {
  fuzz::InputBytes input(data, size);
  const std::uint8_t control = input.TakeByte();
  const std::string source = fuzz::WriteScratchFile("input.mpg", input.Rest());

  MpegInfo info;
  const Status read = video_decoder::ReadMpegInfo(source, info);
  if ((control & 1) != 0 || read != kOk) return 0;

  ConversionSettings settings;
  settings.mpegInfo = info;
  settings.mpegToAvi = DefaultMpegToAviParams(info);
  settings.mpegToAvi.width = 32;
  settings.mpegToAvi.height = 24;
  MpegToAviJob job;
  job.source = source;
  job.destination = fuzz::ScratchDirectory() + "output.avi";
  job.settings = &settings;
  job.outputOptions = {(control & 4) != 0 ? 2 : 1, (control & 4) != 0 ? 8 : 16};
  job.firstFrame = 0;
  job.lastFrame = 6;
  if ((control & 2) != 0) {
    settings.sectionFirst = job.firstFrame = 3;
    settings.sectionLast = job.lastFrame = 9;
  }
  StandaloneContext context;
  const Status s = video_decoder::ConvertMpegToAvi(job, context.get());
  // A conversion that failed leaves no AVI behind.
  std::error_code ec;
  CALVEX_FUZZ_CHECK(IsSuccess(s) || s == kDataRateExceeded ||
                    !std::filesystem::exists(job.destination, ec));
  std::filesystem::remove(job.destination, ec);
  return 0;
}
