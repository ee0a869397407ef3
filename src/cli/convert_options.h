// The options of "calvex convert" and how they become each entry's parameter record: the same
// records, defaults and checks as the desktop program's parameter pages.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/settings.h"

namespace calvex::cli {

struct ConvertOptions {
  std::vector<std::string> files;
  std::optional<std::string> destination;
  bool yes = false;
  std::vector<std::string> sections;  // "FIRST-LAST"
  std::optional<std::string> listFile;
  std::optional<std::string> logFile;
  bool noLog = false;
  bool abortOnError = false;
  int jobs = 1;
  std::optional<int> threads;  // none: the processors, shared among the conversions at once
  bool quiet = false;

  // AVI to MPEG and MPEG to AVI.
  std::optional<std::string> frameRate;
  std::optional<std::string> size;  // "WxH"
  std::optional<int> dataRate;
  // AVI to MPEG.
  bool vcd = false;
  std::optional<std::string> preset;  // the video encoder's: standard (default) or high
  // AVI to MPEG and WAV to MP2.
  std::optional<int> layer;
  std::optional<int> audioBitrate;
  bool stereo = false;
  bool jointStereo = false;
  // MPEG to AVI.
  std::optional<std::string> videoCodec;
  std::optional<int> quality;
  std::optional<int> keyFrameEvery;
  std::optional<int> dataType;         // 24, or 8 through a common palette
  std::optional<std::string> palette;  // "6-6-6", "3-3-2" or "6-7-6"
  bool commonPalette = false;
  std::optional<std::string> audioFormat;
  std::optional<int> audioRate;
  std::optional<int> audioChannels;
  std::optional<int> audioBits;
  bool noInterleave = false;
  std::optional<int> packEvery;
  std::optional<int> targetDrive;
  bool limitDataRate = false;
  bool padForCdRom = false;
  // MP2 to WAV.
  std::optional<int> wavRate;
  std::optional<int> wavChannels;
  std::optional<int> wavBits;
  std::optional<std::string> wavFormat;

  // The batch: directories' subdirectories too (-r), one machine's slice ("K/N"), and the
  // progress as JSON lines on stdout (--progress json) instead of text.
  bool recursive = false;
  std::optional<std::string> shard;
  bool jsonProgress = false;
};

// A refused option: `text` is what the user sees (the option and its value, then the message
// text 245/246 for values out of their bounds). It ends the command with status 2 before
// anything is written.
struct OptionError {
  std::string text;
};

// Applies the options that concern `entry`'s kind to its parameter record and checks the record
// as the parameter page would. Fields of the record that no option names keep their values, so
// applied to a blank record (every field kMixedValue) it checks the options alone.
std::optional<OptionError> ApplyOptions(const ConvertOptions& options, SourceEntry& entry);

// Worker threads of each conversion: --threads when given; otherwise the processors shared among
// the conversions that run at once (-j, and no more of them than there are files), at least one.
int ThreadsPerConversion(const ConvertOptions& options, int files, int processors);

// A blank entry of `kind` for checking the options before any file is read.
SourceEntry BlankEntry(ConversionKind kind);

// The sections of --section, in order: at most 16, each FIRST-LAST with 0 <= FIRST <= LAST.
std::optional<OptionError> ParseSections(const std::vector<std::string>& texts,
                                         std::vector<Section>& sections);

// A Microsoft ADPCM wave format (with its coefficient table) for `channels` and `rate`, as the
// format chooser offers it.
void SetMsAdpcmFormat(std::uint8_t* record, std::size_t recordSize, int channels, int rate);

}  // namespace calvex::cli
