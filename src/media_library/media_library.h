// The media-access layer: AVI and WAV files, non-PCM audio and the AVI output codecs, reached
// through FFmpeg's libraries. This folder is the only one that links them; everything else sees
// only the operations below.
//
// Every operation returns 0 or a status code (core/status.h); the layer's own failures are the
// codes 1000..1008, passed on unchanged by the callers. Each reader or writer is an object that
// owns its open file: several may be open at once, in different conversions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/conversion_context.h"
#include "core/info_blocks.h"
#include "core/settings.h"
#include "core/status.h"
#include "core/wave_format.h"

namespace calvex::media {

// ---------------------------------------------------------------------------------------------
// Reading AVI files

// Fills the AVI information block (path, compression name, sizes, rate, frame count, picture size
// and the audio description). Returns 0, 107 when the AVI has no audio (the block is still
// filled), 105 when it has no video, 1001 when it cannot be opened or is not an AVI. The frame
// count keeps 16 bits (AviOpenInfo has all of it); it is the header's, but no more than the
// frames the file holds (an AVI cut short counts those); an audio track whose tag is 0 reports
// 0xFFFF so that it still counts as sound.
Status RAVIGetInfo(const std::string& path, AviInfo& info);

// The sampling rate of the AVI's sound in Hz, in full (the information block keeps 16 bits of it);
// 0 when it has none or cannot be read.
std::uint32_t AviAudioSampleRate(const std::string& path);

// What RAVIOpen reports about the open AVI.
struct AviOpenInfo {
  std::uint32_t frameRatePacked = 0;  // numerator << 16 | denominator
  std::int32_t frameCount = 0;        // total frames (full 32 bits)
  std::int32_t width = 0;             // the AVI's own picture size
  std::int32_t height = 0;
  std::uint16_t audioFormatTag = 0;  // 0 = no audio
  std::uint16_t audioSampleRate = 0;
  std::uint16_t audioChannels = 0;
  std::uint16_t audioBitsPerSample = 0;
};

// The AVI's number of video frames as RAVIOpen reports it (all 32 bits). 1001 when it cannot be
// opened, 105 when it has no video.
Status AviFrameCount(const std::string& path, std::int32_t& frames);

// The video frames of one AVI, decoded and scaled to a requested size.
class AviReader {
 public:
  AviReader();
  ~AviReader();  // closes the AVI
  AviReader(const AviReader&) = delete;
  AviReader& operator=(const AviReader&) = delete;

  // Opens the AVI for frame reading. `request` carries the output width and height (0: the
  // AVI's own); on return it describes the frames RAVIGetFrame delivers: 24 bits per pixel,
  // bottom-up rows padded to 4 bytes, sizeImage set. 1001 cannot open, 105 no video, 140 no
  // decoder for its video.
  Status RAVIOpen(const std::string& path, BitmapInfoHeader& request, AviOpenInfo& info);

  // Fills `buffer` (request.sizeImage bytes) with AVI frame `frame` (0-based index of the AVI's
  // frames). Sequential reads decode forward; random access seeks to the nearest key frame first.
  // The last few pictures passed are kept: frames asked a little out of order (as an encoder
  // codes them) are neither decoded twice nor sought.
  // A frame the AVI stores as an empty chunk (a repeated frame) shows the picture before it.
  // 106 for a frame number outside the file or a picture that cannot be decoded.
  Status RAVIGetFrame(std::int32_t frame, std::uint8_t* buffer);

  void RAVIClose();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Section request of RAVIAudioOpen, in video frames.
struct AudioSectionRequest {
  std::int32_t totalVideoFrames = 0;  // the AVI's frame count for a section; 0 = whole file
  std::int32_t unused = 0;
  std::int32_t firstFrame = 0;  // first video frame of the section
  std::int32_t frameCount = 0;  // in: video frames of the section; out: sample frames to read
};

// The audio track of one AVI as interleaved PCM in its own rate, channels and sample size (8 or
// 16 bits; compressed audio decodes to 16 bits).
class AviAudioReader {
 public:
  AviAudioReader();
  ~AviAudioReader();
  AviAudioReader(const AviAudioReader&) = delete;
  AviAudioReader& operator=(const AviAudioReader&) = delete;

  // `format` receives the PCM format delivered. `section.frameCount` returns the number of sample
  // frames per channel that the file or section holds: for a section, the sample at which its end
  // frame starts less the sample at which its first frame starts, each rounded to the nearest
  // sample; for the whole file, the length its header gives, but no more than its data holds.
  // Exactly that many are delivered (a stream that ends early is made up with silence). 107 when
  // the AVI has no audio, 108 when its audio cannot be decoded.
  Status RAVIAudioOpen(const std::string& path, WaveFormat& format, AudioSectionRequest& section);

  // Reads up to `sampleFrames` sample frames into `buffer`; `sampleFrames` returns the number
  // delivered (0 at the end).
  Status RAVIAudioRead(std::uint8_t* buffer, std::int32_t& sampleFrames);

  void RAVIAudioClose();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The sample frames at `sampleRate` Hz that video frames firstFrame .. firstFrame + frameCount - 1
// span, as RAVIAudioOpen reads a section: `start` is the sample at which the first frame starts and
// `count` runs to the one at which the frame after the section starts, each rounded to the
// nearest sample, and neither beyond the `held` sample frames the sound has. 1001 when the AVI
// cannot be opened, 105 when it has no video.
Status AviSectionSamples(const std::string& path, std::int32_t sampleRate, std::int32_t firstFrame,
                         std::int32_t frameCount, std::int64_t held, std::int64_t& start,
                         std::int64_t& count);

// Decodes the AVI's audio into a raw PCM file (no header) and returns its format (8-bit PCM stays
// 8-bit, everything else becomes 16-bit; rate and channels as the source's). Reports progress
// through the context (kind 1); returns 1 when cancelled, 107 without audio, 108 when the audio
// cannot be decoded, 123 when the file cannot be created, 147 (with the disk-full flag raised)
// when writing fails. On any failure the PCM file is deleted. With `sampleRateHz` or `channels`
// (not 0) the sound is resampled to that rate or mixed to that many channels (1 or 2) as 16-bit
// PCM.
Status ConvertToPCM(const std::string& aviPath, const std::string& pcmPath, WaveFormat& format,
                    ConversionContext& context, int sampleRateHz = 0, int channels = 0);

// ---------------------------------------------------------------------------------------------
// Reading WAV files

// What OpenWaveFile reports.
struct WaveRecord {
  WaveFormat format;               // as delivered by ReadWave (compressed formats: 16-bit PCM)
  std::uint32_t sampleFrames = 0;  // sample frames per channel in the file
  // The number of 16-bit values the audio encoder will code, over all channels, after it has
  // multiplied the rate by 1, 2 or 4 to reach 32, 44.1 or 48 kHz.
  std::uint32_t totalValues = 0;
};

class WaveReader {
 public:
  WaveReader();
  ~WaveReader();
  WaveReader(const WaveReader&) = delete;
  WaveReader& operator=(const WaveReader&) = delete;

  // 115 not a WAV file, 116 corrupted or without a sample frame to deliver; WAV files with sample
  // sizes or channel counts the encoder cannot take, and floating-point ones (format tag 3), are
  // reported as they are, so that it can refuse them with its own codes.
  Status OpenWaveFile(const std::string& path, WaveRecord& record);

  // Reads up to `bytes` bytes of PCM; `delivered` returns the count (0 at the end).
  Status ReadWave(std::uint8_t* buffer, std::size_t bytes, std::size_t& delivered);

  void CloseWaveFile();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Fills the WAV information block from the file's "fmt " and "data" chunks: path, file size,
// format tag, rate, bits, channels and the duration in hundredths of a second (the largest value
// the 16-bit field holds for longer files). Returns 0, 101 when the file cannot be opened, 115
// when it is not a WAV file or 116 when a chunk is missing; the block holds what could be read.
Status ReadWavInfo(const std::string& path, WavInfo& info);

// ---------------------------------------------------------------------------------------------
// Writing AVI files

// The stream information the MPEG to AVI driver fills for writing.
struct AviStreamInfo {
  std::uint32_t scale = 1;  // frame-rate denominator
  std::uint32_t rate = 30;  // frame-rate numerator
  std::int32_t decodingOption1 = 1;
  std::int32_t decodingOption2 = 6500;
  std::uint32_t audioByteTotal = 0;  // bytes of PCM in the temporary audio file, 0 = no audio
};

// One AVI being written: pictures as 24-bit bitmaps, compressed with the codec of the
// MpegToAviParams record, and the PCM of a temporary file converted to the record's audio format.
class AviWriter {
 public:
  AviWriter();
  ~AviWriter();  // an unfinished file is closed and deleted
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // `frameFormat`: the pictures that will come (24-bit). The AVI's pictures take the record's
  // width and height (0: the pictures' own; Cinepak and Microsoft Video 1 cut them to multiples
  // of 4), its codec (`compressor`, 0 = uncompressed; `dataType` 8 = 8-bit through the common
  // palette `paletteChoice`), `quality` and `keyFrameEvery`. The stream header gets info.rate /
  // info.scale. `audioFormat` and `audioTempPath` (null/empty without sound) describe the raw PCM
  // file whose first info.audioByteTotal bytes are the sound; it is written in the record's
  // `audioFormat` (a zero tag, rate or channel count keeps the PCM's), interleaved every
  // `packEveryFrames` frames when `interleave` is set. With `limitDataRate`, a codec that can
  // hold a data rate (kCodecSupportsDataRate) codes the pictures to what `dataRateKBps` leaves
  // beside the sound, never finer than `quality`. `frameCount` is not needed.
  // Returns 1004 when the file cannot be created, 141 for a codec this machine does not have, 608
  // for a sound format it cannot write, 109 when the codec refuses the picture size.
  Status aviSaveBegin(const BitmapInfoHeader& frameFormat, const WaveFormat* audioFormat,
                      const AviStreamInfo& info, const std::string& destination,
                      const MpegToAviParams& params, std::int32_t frameCount,
                      const std::string& audioTempPath);

  // Appends the next picture, scaled to the AVI's size when it differs; pictures are stored in
  // the order of the calls (`frameIndex` is not used: with halved rates the caller's numbers have
  // gaps). 111 when writing fails, 110 for a bitmap that is not 24-bit.
  Status aviSaveFrames(const BitmapInfoHeader& header, const std::uint8_t* bits,
                       std::int32_t frameIndex);

  // Writes the rest of the sound, the index and the headers and closes the file; with
  // `padFramesForCdRom` the records are then moved to 2048-byte boundaries. 607 when
  // limitDataRate is set and the stored pictures and sound take more than dataRateKBps (1024
  // bytes) per second: the file is complete and kept. 111 when writing fails (the file is
  // deleted).
  Status aviSaveEnd();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------------------------------------
// Writing WAV files

class WavWriter {
 public:
  WavWriter();
  ~WavWriter();  // an unfinished file is closed and deleted
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  // Starts a WAV file in `outputFormat` (PCM 8/16-bit, Microsoft or IMA ADPCM, A-law, mu-law, or
  // GSM 6.10 at 8 kHz mono; 5125..48000 Hz, mono or stereo; a zero rate or channel count keeps the
  // source's) from 16-bit interleaved PCM of `sourceRate` Hz and `sourceChannels` (1 or 2). 608
  // for a format or source it cannot take, 102 when the file cannot be created.
  Status myWAVOutputBegin(const std::string& path, const WaveFormat& outputFormat,
                          std::int32_t sourceRate, std::int32_t sourceBits,
                          std::int32_t sourceChannels);

  // Converts and writes `count` 16-bit values (interleaved over the source channels). 124 when
  // writing fails.
  Status myWAVOutput(const std::int16_t* samples, std::int32_t count);

  // Flushes, completes the header and closes. 124 when that fails (the file is then deleted).
  Status myWAVOutputEnd();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------------------------------------
// Video codecs for AVI output (the "Video Compression" dialog)

// Capability flags of aviGetQKFCA.
inline constexpr std::uint32_t kCodecSupportsQuality = 0x01;
inline constexpr std::uint32_t kCodecSupportsDataRate = 0x02;  // holds a limited data rate
inline constexpr std::uint32_t kCodecSupportsTemporal = 0x04;

// Output data types: 24-bit colour, or 8 bits through a common palette (uncompressed only).
inline constexpr std::int32_t kOutputDataType24 = 24;
inline constexpr std::int32_t kOutputDataType8 = 8;

struct VideoCodecEntry {
  std::int32_t handler = 0;  // four-character code as MpegToAviParams::compressor holds it
  std::string name;
};

// The codecs the AVI writer can use on this machine, "Full Frames (Uncompressed)" first (index
// 0, handler 0). Returns the index of `currentHandler` (letter case ignored), 0 when absent.
int aviListCodec(std::int32_t currentHandler, std::vector<VideoCodecEntry>& codecs);

// The handler of list index `index`; 0 for index 0 or an index out of range.
std::int32_t aviCodecGetID(int index);

// Defaults and capabilities of list index `index`: quality 1..10000, key frame interval, flags
// (kCodecSupportsQuality, kCodecSupportsDataRate, kCodecSupportsTemporal); no codec has settings
// of its own to configure; every real codec (index above 0) has about information
// (aviCodecAbout). 142 for an index out of range.
Status aviGetQKFCA(int index, std::int32_t& defaultQuality, std::int32_t& defaultKeyFrameEvery,
                   std::uint32_t& flags, bool& canConfigure, bool& hasAbout);

// What the "&About..." box of a codec says.
struct VideoCodecAbout {
  std::string name;      // as the list shows it
  std::string longName;  // the coder's own description
  std::string library;   // the library that provides the coder
  std::string version;   // that library's version, "major.minor.micro"
};

// About information of list index `index`; 142 for uncompressed frames or an index out of range.
Status aviCodecAbout(int index, VideoCodecAbout& about);

struct DataTypeEntry {
  std::int32_t dataType = kOutputDataType24;
  std::string name;
};

// The data types a codec writes. Returns the data type to select: `currentDataType` when the
// codec offers it, else its first.
std::int32_t aviListOutputFormat(std::int32_t handler, std::int32_t currentDataType,
                                 std::vector<DataTypeEntry>& types);

// The data type at `dataTypeIndex` of the list for codec list index `codecIndex` (24 when out
// of range).
std::int32_t aviTranslateOutputFormat(int codecIndex, int dataTypeIndex);

// ---------------------------------------------------------------------------------------------
// Audio formats (the format choosers and the information dialogs)

struct AudioFormatEntry {
  std::uint16_t formatTag = 0;
  std::string name;
};

// The wave formats the writers can produce on this machine, PCM first.
std::vector<AudioFormatEntry> myGetAcmFormat1();

// The sample size to suggest for a format tag: 16 for PCM, 4 for the ADPCM formats, 8 for A-law
// and mu-law, 0 for GSM 6.10 (no sample size of its own), 16 for anything else.
std::int32_t CheckAudioDataType(std::uint16_t formatTag);

// The name of a format tag read from a file: "PCM", "Microsoft ADPCM", the common names of the
// other well-known formats, else the decoder's name; "" when nothing knows the tag.
std::string myGetCodecName(std::uint16_t formatTag);

// A complete wave format as the writers produce it for a tag, channel count, rate and (for PCM)
// sample size: block alignment and bytes per second filled in. The format-specific bytes are
// the writers' business and are not part of it.
WaveFormat WaveFormatFor(std::uint16_t formatTag, int channels, int samplesPerSec,
                         int bitsPerSample);

}  // namespace calvex::media
