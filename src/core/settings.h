// Per-file conversion parameters, their defaults and limits, and the values derived from them for
// one conversion.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/info_blocks.h"
#include "core/wave_format.h"

namespace calvex {

enum class ConversionKind : std::int32_t {
  kNone = -1,
  kAviToMpeg = 1,  // ".avi" to ".mpg"
  kWavToMp2 = 2,   // ".wav" to ".mp2"
  kMpegToAvi = 3,  // ".mpg" to ".avi"
  kMp2ToWav = 4,   // ".mp2" to ".wav"
};

// In the panel's copy of a record: the selected entries disagree, or the field was left blank.
inline constexpr std::int32_t kMixedValue = -1;
inline constexpr std::uint16_t kMixedValue16 = 65535;

struct AviToMpegParams {
  std::int32_t dataRateKBps = 150;
  std::int32_t audioLayer = 2;
  std::int32_t jointStereo = 1;
  std::int32_t audioBitrateKbps = 128;
  std::int32_t frameRateIndex = 0;
  std::int32_t width = 320;
  std::int32_t height = 240;
  // 1: a Video CD stream (ApplyVideoCdFormat fixes the other fields); the record's last word,
  // 0 in lists saved before it.
  std::int32_t videoCd = 0;
};
static_assert(sizeof(AviToMpegParams) == 32);

// What a Video CD 2.0 stream carries: 352 x 240 at 29.97 or 23.976, or 352 x 288 at 25 pictures
// per second, 1 150 000 bit/s of video, Layer II stereo sound at 44.1 kHz and 224 kbit/s.
inline constexpr std::uint32_t kVideoCdVideoBitRate = 1150000;
inline constexpr std::int32_t kVideoCdAudioKbps = 224;
inline constexpr std::int32_t kVideoCdSampleRateHz = 44100;

// Sets the record's picture size, frame rate, data rate and sound for a Video CD, the frame rate
// chosen from the AVI's packed rate: 25 (PAL) for sources near 25, 50 or 12.5 pictures per second,
// 23.976 for film near 24, else 29.97 (NTSC). The data rate shown is the video and sound together.
void ApplyVideoCdFormat(AviToMpegParams& p, std::uint32_t packedRate);

struct WavToMp2Params {
  std::int32_t audioLayer = 2;
  std::int32_t jointStereo = 1;
  std::int32_t audioBitrateKbps = 128;
};
static_assert(sizeof(WavToMp2Params) == 12);

struct MpegToAviParams {
  std::int32_t frameRatePacked = 0;  // frameRateMilli << 16 | frameRateScale
  std::int32_t frameRateScale = 1000;
  std::int32_t frameRateMilli = 30000;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t interleave = 1;
  std::int32_t packEveryFrames = 1;
  std::int32_t targetDrive = 0;  // 0..6, see TargetDriveDataRate
  std::int32_t dataRateKBps = 600;
  std::int32_t padFramesForCdRom = 0;
  std::int32_t compressor = 0;  // four-character code, 0 = none
  std::int32_t quality = 0;     // 0..10000
  std::int32_t keyFrameEvery = 1;
  std::int32_t dataType = 24;
  std::int32_t paletteChoice = 0;  // 0 "6-6-6", 1 "3-3-2", 2 "6-7-6"
  std::int32_t limitDataRate = 0;
  std::int32_t useCommonPalette = 0;
  // A WaveFormat followed by its format-specific bytes.
  std::array<std::uint8_t, 512> audioFormat{};

  WaveFormat AudioFormat() const;
  void SetAudioFormat(const WaveFormat& format);
};
static_assert(sizeof(MpegToAviParams) == 580);

struct Mp2ToWavParams {
  // A WaveFormat followed by its format-specific bytes.
  std::array<std::uint8_t, 148> format{};

  WaveFormat Format() const;
  void SetFormat(const WaveFormat& format);
};
static_assert(sizeof(Mp2ToWavParams) == 148);

// One row of the "&Frame Rate:" list.
struct FrameRateRow {
  std::int32_t targetRateNum;
  std::int32_t targetRateDen;
  std::int32_t targetMilliFps;
  std::int32_t pictureRateCode;
  int textMessage;  // 201..205
};
inline constexpr std::array<FrameRateRow, 5> FrameRateTable = {{
    {30, 1, 30000, 5, 201},
    {30000, 1001, 29970, 4, 202},
    {25, 1, 25000, 3, 203},
    {24, 1, 24000, 2, 204},
    {24000, 1001, 23976, 1, 205},
}};

// Choice of the "&Target Playback Drive:" list (0..5) to the data rate it sets; 6 "Custom" keeps
// the typed rate (0 becomes 150), clamped to 10..1000.
std::int32_t TargetDriveDataRate(std::int32_t choice, std::int32_t typedRate);

// One marked section of a source: first and last frame, and for an MPEG source the index entry at
// or before the first frame.
struct Section {
  std::int32_t first = 0;
  std::int32_t last = 0;
  GopIndexEntry seek{};
};

inline constexpr int kMaxSections = 16;

// One file of the source list with its information and parameters. Only the information block
// and the parameter record of the entry's kind are meaningful.
struct SourceEntry {
  std::string path;
  ConversionKind kind = ConversionKind::kNone;
  AviInfo aviInfo{};
  WavInfo wavInfo{};
  MpegInfo mpegInfo{};
  Mp2Info mp2Info{};
  AviToMpegParams aviToMpeg{};
  WavToMp2Params wavToMp2{};
  MpegToAviParams mpegToAvi{};
  Mp2ToWavParams mp2ToWav{};
  std::vector<Section> sections;  // empty: the whole file
};

// The audio settings handed to the audio encoder: requested on entry, coded values on return.
struct AudioEncodeParams {
  std::int32_t audioLayer = 2;
  std::int32_t jointStereo = 1;
  std::int32_t audioBitrateKbps = 128;  // on return: the bitrate actually coded
  std::int32_t sampleRateHz = 0;        // on return: 44100, 48000 or 32000
};
static_assert(sizeof(AudioEncodeParams) == 16);

// The working copy for one conversion: the entry's record and information, the current section
// and the derived values.
struct ConversionSettings {
  AviToMpegParams aviToMpeg{};
  WavToMp2Params wavToMp2{};
  MpegToAviParams mpegToAvi{};
  Mp2ToWavParams mp2ToWav{};
  AviInfo aviInfo{};
  MpegInfo mpegInfo{};
  Mp2Info mp2Info{};

  std::int32_t sectionFirst = -1;  // -1: the whole file
  std::int32_t sectionLast = -1;
  GopIndexEntry sectionSeek{};

  // Raw PCM temporary file that holds the AVI's audio when it had to be converted first; empty
  // when the encoder reads the AVI's audio directly.
  std::string pcmTempPath;

  // Derived by DeriveFrameParameters.
  std::int32_t targetRateNum = 30;
  std::int32_t targetRateDen = 1;
  std::int32_t targetMilliFps = 30000;
  std::int32_t pictureRateCode = 5;
  std::int32_t sourceMilliFps = 0;
  std::int32_t rateDelta = 0;
  std::int32_t outputFrameCount = 0;
  // The AVI's total frame count as the open AVI reports it (the information block keeps only 16
  // bits of it); 0 means: take aviInfo.frameCount.
  std::int32_t sourceFrameCount = 0;
  std::uint32_t videoBitRate = 0;

  bool HasSection() const { return sectionFirst >= 0; }
};

// The conversion kind of a path from its extension, compared lower-cased; kNone otherwise.
ConversionKind KindByExtension(const std::string& path);

// Destination extension of a kind: ".mpg", ".mp2", ".avi" or ".wav".
const char* ExtensionForKind(ConversionKind kind);

// Frame-rate choice for an AVI rate packed as numerator << 16 | denominator.
std::int32_t FrameRateIndexFor(std::uint32_t packedRate);

// n rounded down to even, then raised to 32 and lowered to 480.
std::int32_t EvenClampedSize(std::int32_t n);

// Default data rate (KB/s) for an AVI picture size.
std::int32_t DefaultDataRateFor(std::int32_t width, std::int32_t height);

// Video bits per second for rate control: the data rate less the audio share.
std::uint32_t VideoBitRateFor(const AviToMpegParams& params);

// Fills the derived values of `s` from the AVI's rate (aviInfo), its frame count
// (sourceFrameCount), aviToMpeg.frameRateIndex and the section.
void DeriveFrameParameters(ConversionSettings& s);

// The AVI frame to fetch for output picture n (0-based).
std::int32_t SourceFrameFor(const ConversionSettings& s, std::int32_t n);

// Defaults of the parameter records for a newly added file.
AviToMpegParams DefaultAviToMpegParams(const AviInfo& info);
WavToMp2Params DefaultWavToMp2Params();
MpegToAviParams DefaultMpegToAviParams(const MpegInfo& info);
Mp2ToWavParams DefaultMp2ToWavParams(const Mp2Info& info);

// Fills the records of an entry of `kind` with the defaults from its information block.
void ApplyDefaultParams(SourceEntry& entry);

// A failed field check of a parameter panel: the message (245 with its bounds, or 246) and the
// name of the offending field.
struct ValidationError {
  int message = 0;  // 245 or 246
  int low = 0;      // bounds shown by message 245
  int high = 0;
  std::string field;

  std::string Text() const;
};

// Checks of each panel, in the order the panel checks them. Fields holding kMixedValue (blank)
// pass.
std::optional<ValidationError> ValidateAviToMpeg(const AviToMpegParams& p);
std::optional<ValidationError> ValidateWavToMp2(const WavToMp2Params& p);
// frameRateMilli is in thousandths (10000..30000); packEvery is checked against its integer part.
std::optional<ValidationError> ValidateMpegToAvi(const MpegToAviParams& p);
// userRateHz: the "&User Defined:" sampling rate, or kMixedValue when not used.
std::optional<ValidationError> ValidateMp2ToWav(std::int32_t userRateHz);

// Applies the panel's copy of a record to an entry's record: every field that is not kMixedValue
// replaces the entry's.
void ApplyPanel(const AviToMpegParams& panel, AviToMpegParams& entry);
void ApplyPanel(const WavToMp2Params& panel, WavToMp2Params& entry);
void ApplyPanel(const MpegToAviParams& panel, MpegToAviParams& entry);
void ApplyPanel(const Mp2ToWavParams& panel, Mp2ToWavParams& entry);

// The panel's copy for a selection: each field the common value of the records, else
// kMixedValue (kMixedValue16 in the 16-bit fields of the wave format).
AviToMpegParams MergeForPanel(const std::vector<const AviToMpegParams*>& records);
WavToMp2Params MergeForPanel(const std::vector<const WavToMp2Params*>& records);
MpegToAviParams MergeForPanel(const std::vector<const MpegToAviParams*>& records);
Mp2ToWavParams MergeForPanel(const std::vector<const Mp2ToWavParams*>& records);

}  // namespace calvex
