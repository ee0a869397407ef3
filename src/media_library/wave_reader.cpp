// WaveReader and ReadWavInfo: WAV files as PCM, and their information block.
//
// PCM and floating-point files are read straight from their "data" chunk, whatever their sample
// size and channel count, so that the encoder can refuse what it cannot code. Other formats
// (ADPCM, mu-law, A-law, GSM, MPEG audio, ...) are decoded to 16-bit PCM through libavcodec.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "media_library/audio_encode_pipe.h"
#include "media_library/media_library.h"
#include "media_library/pcm_decoder.h"
#include "media_library/wave_header.h"

namespace calvex::media {

using namespace detail;

namespace {

// The factor the audio encoder multiplies the rate by to reach 32, 44.1 or 48 kHz; 1 when none
// fits (the encoder then refuses the rate).
std::uint32_t RateMultiplier(std::uint32_t rate) {
  for (std::uint32_t m = 1; m <= 4; m *= 2)
    if (rate * m == 32000 || rate * m == 44100 || rate * m == 48000) return m;
  return 1;
}

// Whether an ADPCM format's blocks are where its block alignment puts them: a decoder that
// looks for each block's header in the wrong place makes noise of the data. The samples per
// block of the format's extension, when it has one, must match the alignment.
bool AdpcmBlocksAgree(const WaveHeader& h) {
  const WaveFormat& f = h.format;
  const int channels = f.channels;
  const int header = h.effectiveTag == kWaveFormatMsAdpcm ? 7 : 4;  // bytes per channel
  if (h.effectiveTag != kWaveFormatMsAdpcm &&
      !(h.effectiveTag == kWaveFormatImaAdpcm && f.bitsPerSample == 4))
    return true;
  if (f.blockAlign < header * channels) return false;
  if (h.extra.size() < 2) return true;
  const int samplesPerBlock = h.extra[0] | h.extra[1] << 8;
  const int sampleBytes = f.blockAlign - header * channels;
  // Microsoft ADPCM's block header holds two samples per channel, IMA's one.
  return samplesPerBlock == sampleBytes * 2 / channels + (header == 7 ? 2 : 1);
}

}  // namespace

struct WaveReader::Impl {
  WaveHeader header;
  WaveFormat delivered{};
  std::int64_t remaining = 0;  // sample frames still to deliver
  std::FILE* file = nullptr;   // PCM: the data chunk, read directly
  FormatInputPtr format;       // anything else: through the decoder
  PcmDecoder decoder;

  ~Impl() {
    if (file != nullptr) std::fclose(file);
  }

  Status Open(const std::string& path, WaveRecord& record);
  std::size_t Read(std::uint8_t* buffer, std::size_t bytes);
};

Status WaveReader::Impl::Open(const std::string& path, WaveRecord& record) {
  if (const Status s = ReadWaveHeader(path, header); s != kOk) return s;
  // Nothing to code (an empty data chunk, or data the decoder cannot make a sample of) is a
  // broken file, not an empty sound.
  if (header.dataSize == 0) return kWavCorrupted;
  std::int64_t frames = 0;
  if (header.IsPcm() || header.effectiveTag == kWaveFormatIeeeFloat) {
    const WaveFormat& f = header.format;
    // A sample frame of more than 65535 bytes (8192 channels of 64 bits, say) has no block
    // alignment a WAV file can state.
    const std::uint32_t block = std::uint32_t{f.channels} * ((f.bitsPerSample + 7u) / 8u);
    if (block == 0 || block > 0xFFFF) return kWavCorrupted;
    delivered = f;
    delivered.formatTag = header.effectiveTag;
    delivered.extraSize = 0;
    delivered.blockAlign = static_cast<std::uint16_t>(block);
    delivered.avgBytesPerSec = delivered.blockAlign * f.samplesPerSec;
    frames = static_cast<std::int64_t>(header.dataSize / delivered.blockAlign);
    file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return kOpenFailed;
    if (fseeko(file, static_cast<off_t>(header.dataOffset), SEEK_SET) != 0) return kWavCorrupted;
  } else {
    if (!AdpcmBlocksAgree(header)) return kWavCorrupted;
    format = OpenInput(path, "wav");
    if (!format) return kWavCorrupted;
    if (decoder.Open(format.get(), FindStream(format.get(), AVMEDIA_TYPE_AUDIO)) != kOk)
      return kWavNotPcm;
    delivered = decoder.Format();
    // The "fact" chunk's length leaves out a codec's padding, but is no more trusted than the
    // data: a header may claim any length.
    frames = CountDecodedSamples(path, "wav");
    if (header.factSamples > 0) frames = std::min(frames, header.factSamples);
  }
  if (frames <= 0) return kWavCorrupted;
  remaining = frames;
  record.format = delivered;
  record.sampleFrames = static_cast<std::uint32_t>(std::min<std::int64_t>(frames, UINT32_MAX));
  const std::uint64_t values = static_cast<std::uint64_t>(frames) * delivered.channels *
                               RateMultiplier(delivered.samplesPerSec);
  record.totalValues = static_cast<std::uint32_t>(std::min<std::uint64_t>(values, UINT32_MAX));
  return kOk;
}

std::size_t WaveReader::Impl::Read(std::uint8_t* buffer, std::size_t bytes) {
  const std::size_t block = delivered.blockAlign;
  const std::int64_t wanted =
      std::min<std::int64_t>(static_cast<std::int64_t>(bytes / block), remaining);
  if (wanted <= 0) return 0;
  std::int64_t got = 0;
  if (file != nullptr) {
    got = static_cast<std::int64_t>(
        std::fread(buffer, block, static_cast<std::size_t>(wanted), file));
  } else {
    got = decoder.Read(buffer, wanted);
  }
  remaining = got < wanted ? 0 : remaining - got;
  return static_cast<std::size_t>(got) * block;
}

WaveReader::WaveReader() = default;
WaveReader::~WaveReader() = default;

Status WaveReader::OpenWaveFile(const std::string& path, WaveRecord& record) {
  record = WaveRecord{};
  impl_ = std::make_unique<Impl>();
  const Status s = impl_->Open(path, record);
  if (s != kOk) impl_.reset();
  return s;
}

Status WaveReader::ReadWave(std::uint8_t* buffer, std::size_t bytes, std::size_t& delivered) {
  delivered = 0;
  if (!impl_) return kReadFailed;
  delivered = impl_->Read(buffer, bytes);
  return kOk;
}

void WaveReader::CloseWaveFile() {
  impl_.reset();
}

Status ReadWavInfo(const std::string& path, WavInfo& info) {
  info = WavInfo{};
  std::memcpy(info.path, path.data(), std::min(path.size(), sizeof info.path - 1));
  WaveHeader header;
  const Status s = ReadWaveHeader(path, header);
  info.fileSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(header.fileSize, UINT32_MAX));
  if (s != kOk) return s;
  const WaveFormat& f = header.format;
  info.formatTag = f.formatTag;
  info.sampleRate = static_cast<std::uint16_t>(std::min<std::uint32_t>(f.samplesPerSec, 65535));
  info.bitsPerSample = f.bitsPerSample;
  info.channels = f.channels;
  // Hundredths of a second; the field holds 16 bits, so files over 655.35 seconds show the
  // largest value it can hold rather than wrapping round to a short time.
  // Compressed files carry their length in samples, which is exact; their byte rate is often a
  // rough figure.
  const std::uint64_t hundredths =
      !header.IsPcm() && header.factSamples > 0
          ? static_cast<std::uint64_t>(header.factSamples) * 100 / f.samplesPerSec
      : f.avgBytesPerSec > 0 ? header.dataSize * 100 / f.avgBytesPerSec
                             : 0;
  info.durationHundredths = static_cast<std::uint16_t>(std::min<std::uint64_t>(hundredths, 65535));
  return kOk;
}

}  // namespace calvex::media
