// Making a list entry for a file: its kind, its information block and the default parameters of
// its kind.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/bitmap.h"
#include "core/info_blocks.h"
#include "core/settings.h"
#include "core/status.h"

namespace calvex {

// The information readers of the four kinds of source. Each fills its block (the path and file
// size are filled before it is called) and returns 0 or a status code.
struct InfoReaders {
  std::function<Status(const std::string&, AviInfo&)> avi;
  std::function<Status(const std::string&, WavInfo&)> wav;
  std::function<Status(const std::string&, MpegInfo&)> mpeg;
  std::function<Status(const std::string&, Mp2Info&)> mp2;
  // The MPEG reader that also hands the file's first picture on, for previews.
  std::function<Status(const std::string&, MpegInfo&, const BitmapSink&)> mpegAndPicture;
  // The sampling rate of an AVI's sound in Hz in full: the block's field keeps 16 bits of it (0:
  // none). Optional.
  std::function<std::uint32_t(const std::string&)> aviAudioSampleRate;
};

// Readers that all answer 142 "Not supported.".
InfoReaders UnsupportedInfoReaders();

// Makes the entry for `path`: 142 for a name that is not ".avi", ".wav", ".mpg" or ".mp2"
// (compared lower-cased), 101 when the file cannot be opened, the reader's failure code for AVI
// and MPEG files (whose defaults come from their information). WAV and MP2 files are taken with
// what their reader could fill. The path keeps its case.
Status MakeSourceEntry(const std::string& path, const InfoReaders& readers, SourceEntry& entry);

}  // namespace calvex
